#!/usr/bin/env bash
# Builds the module and the final-pass benchmark, then runs the benchmark under Wine on its own
# virtual display and prints one table: for each build (32- and 64-bit, whichever exist) the module
# with each of its blends (VEXEL_BLEND=plain, sse2, avx2; one the processor lacks falls back to
# the widest it has), and optionally the modules of another build tree to compare with, each
# against a plain copy of the same image.
#
#   tools/bench_final_pass.sh [--arch x86|x64|both] [--before BUILD_DIR] [benchmark options]
#
# --before takes the build folder of another version (its win32/Vexel.8bf and win64/Vexel64.8bf
# are used as found). Further options go to the benchmark (--width, --height, --repeat, --planes).
set -euo pipefail
arches=(x86 x64)
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

bash "$root/scripts/build.sh" >/dev/null
runs=()
for arch in "${arches[@]}"; do
    dir="$build/$(folder_of "$arch")"
    [[ -f "$dir/$(module_of "$arch")" ]] || continue
    cmake --build "$dir" --target bench_final_pass >/dev/null
    runs+=("$arch")
done
if ((${#runs[@]} == 0)); then
    echo "no module built for ${arches[*]}" >&2
    exit 1
fi

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh"

# One line per module: label, bench program, module, blend.
plan=()
for arch in "${runs[@]}"; do
    dir="$build/$(folder_of "$arch")"
    module="$(module_of "$arch")"
    if [[ -n "$before" && -f "$before/$(folder_of "$arch")/$module" ]]; then
        plan+=("$arch before|$dir/bench_final_pass.exe|$before/$(folder_of "$arch")/$module|")
    fi
    for blend in plain sse2 avx2; do
        plan+=("$arch $blend|$dir/bench_final_pass.exe|$dir/$module|$blend")
    done
done

# Start measures the dialog, so the module needs a display; Wine's helper processes are waited
# for inside the X session, so none outlives it.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    header=""
    status=0
    for entry in "${@:2:$1}"; do
        IFS="|" read -r label program module blend <<<"$entry"
        VEXEL_BLEND="$blend" bash "$0" "$program" --plugin "$(bash "$0" winepath -w "$module")" \
            --label "$label" $header "${@:$(($1 + 2))}" || status=$?
        header="--no-header"
    done
    timeout 10 wineserver -w || true
    exit $status' "$root/scripts/wine-run.sh" "${#plan[@]}" "${plan[@]}" "${args[@]}"
