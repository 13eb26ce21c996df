#!/usr/bin/env bash
# Every C++ source of the repository is formatted as .clang-format says (clang-format 14).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
[ ${#sources[@]} -gt 0 ] || { echo "no sources found" >&2; exit 1; }
clang-format --dry-run --Werror "${sources[@]}"
echo "${#sources[@]} files formatted"
