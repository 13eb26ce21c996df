#!/usr/bin/env bash
# Set-up, full build and every test (unit tests under sanitizers, module-image tests, Wine tests).
# Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
# Said first, since it decides what the 32-bit Wine tests mean: native, emulated or skipped.
source "$root/scripts/i386-mode.sh"
vexel_i386_detect
case "$VEXEL_I386_MODE" in
native) echo "32-bit module: run natively ($VEXEL_I386_REASON)" ;;
emulated) echo "32-bit module: run emulated ($VEXEL_I386_REASON)" ;;
none) echo "32-bit module: not run, its Wine tests are skipped ($VEXEL_I386_REASON)" ;;
esac
ctest --test-dir "$build" --output-on-failure -j "${VEXEL_JOBS:-2}"
