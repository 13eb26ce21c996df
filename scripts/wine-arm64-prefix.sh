#!/usr/bin/env bash
# Prepares the ARM64 Wine prefix named by WINEPREFIX, with the ARM64 Wine unpacked in ROOT by
# setup-arm64.sh:
#   wine-arm64-prefix.sh ROOT FOLDER...
# Made once, with the same fonts as the x86-64 prefix, under a hard time limit: a prefix made on
# a loaded machine under emulation once started hundreds of desktop processes. Each FOLDER gets a
# drive letter of its own, since Z: cannot reach the host's files here (inside the emulator every
# path that also exists in ROOT, "/" among them, is ROOT's). Safe to run again.
set -euo pipefail
root=${1:?usage: wine-arm64-prefix.sh ROOT FOLDER...}
shift
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export PATH="$root/bin:$PATH" WINEDEBUG="${WINEDEBUG:--all}"
# The prefix is made by the ARM64 Wine itself (wine-prefix.sh runs Wine through wine-run.sh).
export VEXEL_WINE="$root/bin/wine"
limit=${VEXEL_ARM64_PREFIX_SECONDS:-600}

# Exit status 77: skipped, the reason said (the ARM64 tests then skip too).
if ! [ -x "$root/bin/wine" ]; then
    echo "skipped: no ARM64 Wine in $root (scripts/setup-arm64.sh makes it)"
    exit 77
fi
if ! [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
    echo "skipped: no binfmt_misc handler for aarch64 (scripts/setup-arm64.sh registers it)"
    exit 77
fi

if ! [ -f "$WINEPREFIX/.vexel-fonts" ]; then
    if ! timeout -k 10 "$limit" bash "$here/wine-prefix.sh"; then
        echo "wine-arm64-prefix: no prefix within $limit s" >&2
        timeout 30 wineserver -k || true
        rm -rf "$WINEPREFIX"
        exit 1
    fi
fi

letters=(y x w v u t s r q p)
for folder in "$@"; do
    folder=$(cd "$folder" && pwd -P)
    taken=0
    for link in "$WINEPREFIX"/dosdevices/?:; do
        [ "$(readlink "$link")" = "$folder" ] && taken=1
    done
    [ $taken -eq 1 ] && continue
    for letter in "${letters[@]}"; do
        if ! [ -e "$WINEPREFIX/dosdevices/$letter:" ]; then
            ln -s "$folder" "$WINEPREFIX/dosdevices/$letter:"
            break
        fi
    done
done
