#!/usr/bin/env bash
# Builds the modules, the test host and the test host's stand-in filter, then times whole
# filtering runs in the test host under Wine: RGB at 1000x750 to 8000x6000, maxSpace 100,000,000
# and 2,100,000,000, beside the stand-in that only copies the rectangle. Prints one table.
#
#   tools/bench_host_runs.sh [--arch x86|x64|both] [--before BUILD_DIR] [--profile NAME]
#                            [--sizes WxH,...] [--alpha] [--repeat N]
#
# --before takes the build folder of another version: its module runs in this build's test host
# beside this build's module. --alpha runs every module also on the image with an alpha plane;
# --repeat N prints the medians of N runs of each.
# The default is the 64-bit build.
set -euo pipefail
arches=(x64)
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

bash "$root/scripts/build.sh" >/dev/null
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8
bash "$root/scripts/wine-prefix.sh"

fixtures="$root/tests/wine/fixtures"
for arch in "${arches[@]}"; do
    dir="$build/$(folder_of "$arch")"
    prefix=$(compiler_of "$arch")
    "$prefix-windres" "$fixtures/standin_filter.rc" -O coff -o "$dir/standin.o"
    "$prefix-g++" -std=c++20 -O2 -shared -static -I"$root" "$fixtures/standin_filter.cpp" \
        "$dir/standin.o" -o "$dir/standin.8bf" -luser32 -lgdi32
    modules=()
    if [[ -n "$before" ]]; then
        modules+=(--module "before=$before/$(folder_of "$arch")/$(module_of "$arch")")
    fi
    modules+=(--module "$arch=$dir/$(module_of "$arch")")
    echo "== $arch"
    # Start measures the dialog, so the module needs a display.
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
        /usr/bin/python3 "$@"; status=$?
        timeout 10 wineserver -w || true
        exit $status' bench_host_runs "$root/tools/bench_host_runs.py" \
        --testhost "$dir/vexel_testhost.exe" --standin "$dir/standin.8bf" \
        --images "$build/bench-images" "${modules[@]}" "${args[@]}"
done
