#!/usr/bin/env bash
# Set-up, a Release build of the modules, then the release zip: dist/Vexel-<version>.zip with
# x86/Vexel.8bf, x64/Vexel64.8bf, arm64/VexelArm64.8bf, the install guide README.txt, LICENSE and SHA256SUMS.
# Running it again on the same sources writes the same zip bytes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
zip=$(/usr/bin/python3 "$root/scripts/package.py" "$build" "$root/dist")
echo "$zip"
/usr/bin/python3 -c 'import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(f"{i.file_size:>10}  {i.filename}")' "$zip"
