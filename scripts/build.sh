#!/usr/bin/env bash
# Set-up, then the native configure in build/ (it cross-builds the module and the test host into
# build/win32) and the build. Extra arguments go to `cmake --build` (e.g. --target vexel_win32).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/setup.sh"
bash "$root/scripts/setup-arm64.sh" "$build/arm64-wine"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "${VEXEL_JOBS:-2}" "$@"
