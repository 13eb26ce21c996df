#!/usr/bin/env bash
# Runs a Windows program of the project under Wine: wine-run.sh PROGRAM [ARGUMENTS...], where
# PROGRAM is an .exe or a Wine tool (wineboot, reg, winepath). Always through Wine's 64-bit loader,
# which hands a 32-bit program on to the 32-bit one: Debian's `wine` starts the 32-bit loader first
# whenever wine32 is installed, and so fails for 64-bit programs too where i386 code cannot run.
# When the 32-bit side runs emulated (scripts/i386-mode.sh), the mmap mend is preloaded, and with a
# private handler the run gets a user namespace whose own binfmt_misc sends i386 programs to qemu.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
loader=/usr/lib/wine/wine64

# Another Wine named by VEXEL_WINE (the ARM64 one, which runs under its own emulator) is used as it
# is: neither the i386 mend nor a namespace of ours belongs in its processes.
if [ -n "${VEXEL_WINE:-}" ]; then
    exec "$VEXEL_WINE" "$@"
fi

if [ "${1:-}" = --in-namespace ]; then
    shift
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    source "$here/i386-mode.sh"
    vexel_i386_handler_line vexel-i386 >/proc/sys/fs/binfmt_misc/register
    exec "$loader" "$@"
fi

if [ -z "${VEXEL_I386_MODE:-}" ]; then
    source "$here/i386-mode.sh"
    vexel_i386_detect
fi
export WINELOADER=$loader
if [ "$VEXEL_I386_MODE" = emulated ]; then
    export LD_PRELOAD="$VEXEL_I386_PRELOAD${LD_PRELOAD:+ $LD_PRELOAD}"
    if [ "$VEXEL_I386_HOW" = private ]; then
        exec unshare -Urm -- bash "$here/wine-run.sh" --in-namespace "$@"
    fi
fi
exec "$loader" "$@"
