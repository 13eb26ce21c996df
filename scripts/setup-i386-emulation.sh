#!/usr/bin/env bash
# Part of the set-up (called by setup.sh): where the 32-bit module's Wine processes cannot run
# natively (a kernel without IA-32 emulation), or VEXEL_I386=emulated asks for it, sets up
# qemu's user-mode emulation of i386: installs qemu-user-static and gcc-multilib, builds the mmap
# mend that Wine needs under qemu (tools/i386_mapfix.c, preloaded into the project's Wine runs
# only) and, on a machine whose kernel cannot run i386 code, mounts binfmt_misc and registers an
# i386 handler for it (an existing one is left as it is). A machine that runs i386 code natively
# keeps its binfmt_misc untouched: forced emulation there runs in a binfmt_misc instance of the
# runs' own user namespace (scripts/wine-run.sh). Where none of it can be had (no root, no
# binfmt_misc), says so and leaves the 32-bit Wine tests to be skipped. Quick when done.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/i386-mode.sh"

wanted="${VEXEL_I386:-auto}"
[ "$wanted" = native ] && exit 0
handler=$(vexel_i386_machine_handler) || handler=""
kernel=0
[ -z "$handler" ] && vexel_i386_kernel_runs_it && kernel=1
[ "$wanted" = auto ] && [ $kernel -eq 1 ] && [ -z "${VEXEL_I386_SIMULATE:-}" ] && exit 0

cannot() {
    echo "setup: 32-bit code cannot be run here: $1; the 32-bit Wine tests will be skipped" >&2
    exit 0
}

missing=()
for package in qemu-user-static gcc-multilib; do
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null)" = "ii " ] ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || cannot "${missing[*]} missing and not root"
    echo "setup: installing ${missing[*]} (i386 user-mode emulation)"
    install() {
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
            --no-install-recommends "${missing[@]}" </dev/null
    }
    install || { apt-get -o DPkg::Lock::Timeout=600 update -q </dev/null && install; }
fi

# The mend, built for i386 and x86-64 under $LIB's two names, so one LD_PRELOAD value serves
# the 32-bit processes and the 64-bit ones that start them.
source_file="$here/../tools/i386_mapfix.c"
for target in i386-linux-gnu:-m32 x86_64-linux-gnu:-m64; do
    library="$vexel_i386_emulation_dir/lib/${target%%:*}/libvexel_mapfix.so"
    [ "$library" -nt "$source_file" ] && continue
    mkdir -p "${library%/*}"
    gcc "${target#*:}" -std=c11 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$library" \
        "$source_file" -ldl
done

# A kernel that runs i386 code itself keeps the machine's binfmt_misc as it is.
[ $kernel -eq 1 ] || [ -n "$handler" ] && exit 0
[ "$(id -u)" -eq 0 ] || cannot "not root, so no i386 binfmt_misc handler can be registered"
if ! [ -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
        cannot "binfmt_misc cannot be mounted"
fi
vexel_i386_handler_line vexel-i386 >/proc/sys/fs/binfmt_misc/register ||
    cannot "the i386 binfmt_misc handler was refused"
echo "setup: i386 programs now run under qemu-user (binfmt_misc handler vexel-i386)"
