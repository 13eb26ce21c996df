#!/usr/bin/env bash
# clang-tidy (the checks of .clang-tidy) over the platform-free module sources and their headers,
# with the native build's compile commands. Usage: check-lint.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: check-lint.sh BUILD_DIR}
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json" >&2; exit 1; }
mapfile -t sources < <(git ls-files 'host/*.cpp' 'pipeline/*.cpp' 'effect/*.cpp' 'ui/*.cpp' |
    grep -v '_win32\.cpp$')
clang-tidy -p "$build" --quiet "${sources[@]}" 2>/dev/null
echo "${#sources[@]} sources lint-free"
