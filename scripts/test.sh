#!/usr/bin/env bash
# Set-up, full build and every test (unit tests under sanitizers, module-image tests, Wine tests).
# Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j "${VEXEL_JOBS:-2}"
