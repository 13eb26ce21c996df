#!/usr/bin/env bash
# How this machine runs the 32-bit module's Wine processes, without changing anything. Sourced, it
# defines vexel_i386_detect, which exports
#   VEXEL_I386_MODE    native | emulated | none
#   VEXEL_I386_HOW     for emulated: machine (an i386 binfmt_misc handler of the machine) or
#                      private (a binfmt_misc instance of a user namespace, for the project's runs)
#   VEXEL_I386_REASON  one line saying why
#   VEXEL_I386_PRELOAD for emulated: the LD_PRELOAD value of the mmap mend (tools/i386_mapfix.c)
# Run, it prints those as KEY=VALUE lines. VEXEL_I386=native|emulated|auto (default auto) picks
# the path; VEXEL_I386_SIMULATE=noexec|nothing (for testing these scripts only) makes auto believe
# that the kernel cannot run i386 code, or that nothing can. Exits non-zero on a path that was
# asked for and cannot be had.

vexel_i386_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vexel_i386_emulation_dir="${VEXEL_BUILD_DIR:-${VEXEL_BUILD:-$vexel_i386_root/build}}/i386-emulation"
vexel_i386_qemu=/usr/bin/qemu-i386-static

# An i386 ELF handler as binfmt_misc takes it (see wine-notes: magic, mask, flags).
vexel_i386_handler_line() {
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':%s:M::%s:%s:%s:FOCP' "${1:-vexel-i386}" "$magic" "$mask" "$vexel_i386_qemu"
}

# The name of an enabled qemu handler that takes i386 ELF programs, if the binfmt_misc in view has
# one: it comes before the kernel's own loader, so every i386 program then runs through it.
vexel_i386_machine_handler() {
    local entry
    for entry in /proc/sys/fs/binfmt_misc/*; do
        case "${entry##*/}" in register | status) continue ;; esac
        [ -r "$entry" ] || continue
        if grep -qx enabled "$entry" && grep -q '^interpreter .*qemu-i386' "$entry" &&
            grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry"; then
            echo "${entry##*/}"
            return 0
        fi
    done
    return 1
}

# Whether the kernel itself runs i386 programs (no handler in between).
vexel_i386_kernel_runs_it() {
    [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Whether a user namespace can hold a binfmt_misc instance of its own with the i386 handler
# (Linux 6.7 and later): the project's runs are then emulated without touching the machine's.
vexel_i386_private_works() {
    [ -x "$vexel_i386_qemu" ] && command -v unshare >/dev/null &&
        unshare -Urm sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
            printf "%s" "$1" >/proc/sys/fs/binfmt_misc/register &&
            /lib/ld-linux.so.2 --version' sh "$(vexel_i386_handler_line)" >/dev/null 2>&1
}

vexel_i386_preload_built() {
    [ -f "$vexel_i386_emulation_dir/lib/i386-linux-gnu/libvexel_mapfix.so" ] &&
        [ -f "$vexel_i386_emulation_dir/lib/x86_64-linux-gnu/libvexel_mapfix.so" ]
}

vexel_i386_detect() {
    local wanted="${VEXEL_I386:-auto}" simulate="${VEXEL_I386_SIMULATE:-}" handler="" kernel=0
    case "$wanted" in native | emulated | auto) ;; *)
        echo "VEXEL_I386 must be native, emulated or auto, not '$wanted'" >&2
        return 2
        ;;
    esac
    handler=$(vexel_i386_machine_handler) || handler=""
    [ -z "$handler" ] && [ -z "$simulate" ] && vexel_i386_kernel_runs_it && kernel=1
    export VEXEL_I386_MODE VEXEL_I386_HOW="" VEXEL_I386_REASON VEXEL_I386_PRELOAD=""
    if [ "$wanted" != emulated ] && [ $kernel -eq 1 ]; then
        VEXEL_I386_MODE=native
        VEXEL_I386_REASON="the kernel runs i386 code (VEXEL_I386=$wanted)"
        return 0
    fi
    if [ "$wanted" = native ]; then
        VEXEL_I386_MODE=none
        VEXEL_I386_REASON="VEXEL_I386=native, but ${handler:+the binfmt_misc handler $handler takes i386 programs}${handler:-the kernel does not run i386 code}"
        echo "$VEXEL_I386_REASON" >&2
        return 1
    fi
    local why="the kernel does not run i386 code"
    [ "$wanted" = emulated ] && why="VEXEL_I386=emulated"
    [ "$simulate" = noexec ] && why="VEXEL_I386_SIMULATE=noexec"
    if [ "$simulate" != nothing ] && vexel_i386_preload_built; then
        VEXEL_I386_PRELOAD="$vexel_i386_emulation_dir/\$LIB/libvexel_mapfix.so"
        VEXEL_I386_MODE=emulated
        if [ -n "$handler" ]; then
            VEXEL_I386_HOW=machine
            VEXEL_I386_REASON="$why; qemu-user through the machine's binfmt_misc handler $handler"
            return 0
        fi
        if vexel_i386_private_works; then
            VEXEL_I386_HOW=private
            VEXEL_I386_REASON="$why; qemu-user through a binfmt_misc instance of the runs' own user namespace"
            return 0
        fi
    fi
    VEXEL_I386_MODE=none VEXEL_I386_PRELOAD=""
    if [ "$simulate" = nothing ]; then
        VEXEL_I386_REASON="VEXEL_I386_SIMULATE=nothing"
    elif ! vexel_i386_preload_built; then
        VEXEL_I386_REASON="$why, and the emulation is not set up (run scripts/setup.sh as root)"
    else
        VEXEL_I386_REASON="$why, and no i386 binfmt_misc handler can be used here"
    fi
    [ "$wanted" = auto ] || {
        echo "VEXEL_I386=emulated, but: $VEXEL_I386_REASON" >&2
        return 1
    }
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    vexel_i386_detect || exit
    printf '%s\n' "VEXEL_I386_MODE=$VEXEL_I386_MODE" "VEXEL_I386_HOW=$VEXEL_I386_HOW" \
        "VEXEL_I386_REASON=$VEXEL_I386_REASON" "VEXEL_I386_PRELOAD=$VEXEL_I386_PRELOAD"
fi
