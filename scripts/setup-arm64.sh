#!/usr/bin/env bash
# Set-up for the ARM64 module: the clang/lld toolchain that builds it and a copy of Wine's ARM64
# build that runs it under qemu-aarch64 (no x86 machine runs ARM64 code natively).
#   setup-arm64.sh ROOT   installs the toolchain and qemu, registers the aarch64 binfmt handler
#                         and unpacks Wine's arm64 packages into ROOT (a folder of the build).
# Wine's arm64 packages are downloaded and unpacked, never installed: installing wine64:arm64
# would remove the machine's amd64 wine64. Safe to run again; quick when everything is there.
set -euo pipefail
root=${1:?usage: setup-arm64.sh ROOT}

# What Wine's ARM64 loader, server and X11 driver link against, besides wine64 and libwine.
wine_packages=(
    wine64 libwine libc6 libgcc-s1 libunwind8 liblzma5 libfreetype6 libpng16-16 zlib1g libbrotli1
    libfontconfig1 libexpat1 libx11-6 libxext6 libxcb1 libxau6 libxdmcp6 libbsd0 libmd0
)
tools=(clang-14 lld-14 llvm-14 qemu-user-static)
apt_get() { apt-get -o DPkg::Lock::Timeout=600 -q "$@" </dev/null; }

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup-arm64: $1; run this script as root" >&2
        exit 1
    fi
}

missing=()
for package in "${tools[@]}"; do
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null)" = "ii " ] ||
        missing+=("$package")
done
need_arm64=0
dpkg --print-foreign-architectures | grep -qx arm64 || need_arm64=1
if [ ${#missing[@]} -gt 0 ] || [ $need_arm64 -eq 1 ]; then
    need_root "missing ${missing[*]} or the arm64 package lists"
    export DEBIAN_FRONTEND=noninteractive
    [ $need_arm64 -eq 1 ] && dpkg --add-architecture arm64
    apt_get update
    [ ${#missing[@]} -gt 0 ] && apt_get install -y --no-install-recommends "${missing[@]}"
fi

# Wine's loader execs further aarch64 programs itself, so qemu must be a binfmt handler, not only
# a command prefix. Flag F opens the interpreter now, so the handler works in any mount namespace.
# What cannot be had (no binfmt_misc in a container, no arm64 packages) is said here and leaves
# the ARM64 Wine tests to report themselves skipped; the module still builds.
binfmt=/proc/sys/fs/binfmt_misc
register_handler() {
    [ -e "$binfmt/qemu-aarch64" ] && return 0
    [ "$(id -u)" -eq 0 ] || return 1
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    [ -e "$binfmt/qemu-aarch64" ] ||
        printf '%s' ':qemu-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-aarch64-static:F' \
            >"$binfmt/register" || return 1
}
register_handler ||
    echo "setup-arm64: no binfmt_misc handler for aarch64 (needs root and binfmt_misc);" \
        "the ARM64 Wine tests will be skipped" >&2

# ROOT/bin: wine, wineboot and wineserver commands that run the ARM64 build. qemu looks up every
# absolute path inside QEMU_LD_PREFIX first, so the ARM64 libraries are found there. The server is
# the ARM64 one: the amd64 server refuses ARM64 clients.
write_commands() {
    mkdir -p "$root/bin"
    local name target
    for name in wine wineboot wineserver; do
        case $name in
        wine) target='"$root/usr/lib/wine/wine64"' ;;
        wineboot) target='"$root/usr/lib/wine/wine64" wineboot' ;;
        wineserver) target='"$root/usr/lib/wine/wineserver64"' ;;
        esac
        cat >"$root/bin/$name" <<EOF
#!/bin/sh
root='$root'
export QEMU_LD_PREFIX="\$root" WINESERVER="\$root/usr/lib/wine/wineserver64"
export WINELOADER="\$root/usr/lib/wine/wine64"
exec $target "\$@"
EOF
        chmod +x "$root/bin/$name"
    done
}

marker="$root/.vexel-arm64"
wanted="${wine_packages[*]}"
if [ -f "$marker" ] && [ "$(cat "$marker")" = "$wanted" ]; then
    write_commands
    exit 0
fi

debs="$root.debs"
rm -rf "$root"
mkdir -p "$root" "$debs"
started=$(date +%s)
if ! (cd "$debs" && apt_get download "${wine_packages[@]/%/:arm64}"); then
    echo "setup-arm64: Wine's arm64 packages cannot be downloaded; the ARM64 Wine tests will" \
        "be skipped" >&2
    rm -rf "$root" "$debs"
    exit 0
fi
for deb in "$debs"/*.deb; do dpkg -x "$deb" "$root"; done
# The loader starts the server named wineserver beside it, which is a script that starts the
# amd64 server: this copy names the ARM64 one instead.
ln -sf wineserver64 "$root/usr/lib/wine/wineserver"
# qemu looks up absolute paths inside QEMU_LD_PREFIX first: an empty ld.so.preload there keeps
# the machine's preloaded libraries (built for x86) out of the ARM64 processes.
mkdir -p "$root/etc"
: >"$root/etc/ld.so.preload"
echo "setup-arm64: $(du -cb "$debs"/*.deb | tail -1 | cut -f1) bytes downloaded," \
    "$(du -sb "$root" | cut -f1) unpacked, in $(($(date +%s) - started)) s"
rm -rf "$debs"
write_commands
echo "$wanted" >"$marker"
