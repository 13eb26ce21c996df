#!/usr/bin/env bash
# Builds the module and the final-pass benchmark, then runs the benchmark under Wine on its own
# virtual display. Extra arguments go to the benchmark (--width, --height, --repeat).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" --target vexel_win32 >/dev/null
cmake --build "$build/win32" --target bench_final_pass >/dev/null

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh"
cd "$build/win32"
# Start measures the dialog, so the module needs a display; Wine's helper processes are waited
# for inside the X session, so none outlives it.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    wine bench_final_pass.exe --plugin Vexel.8bf "$@"; status=$?
    timeout 10 wineserver -w || true
    exit $status' bench_final_pass "$@"
