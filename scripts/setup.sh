#!/usr/bin/env bash
# Installs what building and testing the module needs on a Debian machine (run as root).
# Safe to run again: when everything is present it only checks and returns quickly.
set -euo pipefail

packages=(
    cmake g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine32:i386 wine64 xvfb xauth
    libgtest-dev libbenchmark-dev libstb-dev
    fonts-wqy-microhei locales imagemagick
    python3 python3-numpy python3-pil python3-pytest python3-pefile
    clang-format clang-tidy
)

is_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

missing=()
for package in "${packages[@]}"; do
    is_installed "$package" || missing+=("$package")
done

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

# Wine runs the module under a Chinese locale, so that the ANSI code page is 936 as on the
# module's users' systems and the dialog's and about box's Chinese texts survive the ANSI calls;
# the tests of the English dialog run under an English one.
add_locales() {
    local locale
    for locale in zh_CN en_US; do
        if ! locale -a 2>/dev/null | grep -qix "$locale.utf8"; then
            if [ "$(id -u)" -ne 0 ]; then
                echo "setup: locale $locale.UTF-8 missing; run this script as root" >&2
                exit 1
            fi
            localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
        fi
    done
}

# Where i386 code cannot run natively (or VEXEL_I386=emulated asks), qemu's user-mode emulation.
i386_emulation="$(dirname "${BASH_SOURCE[0]}")/setup-i386-emulation.sh"

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ]; then
    add_locales
    exec bash "$i386_emulation"
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ $need_i386 -eq 1 ]; then
    dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
apt-get update -q </dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
add_locales
exec bash "$i386_emulation"
