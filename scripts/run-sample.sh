#!/usr/bin/env bash
# Set-up and build, then runs the real module through the test host under Wine on
# samples/sample.png and writes out/sample-vexel.png. The test host prints one line per selector
# call with its result.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" --target vexel_win32

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936, as the module expects (see setup.sh).
export LC_ALL=zh_CN.UTF-8
bash "$root/scripts/wine-prefix.sh"

# Paths relative to the repository: Wine maps the working directory to a drive path.
cd "$root"
mkdir -p out
read -r width height < <(identify -format '%w %h\n' samples/sample.png)
# Saved settings with showDialog 0, so the run goes through without asking; centre of the image.
settings="angle=30,stretch=12,strength=100,height=70,width=70"
settings+=",centerX=$((width / 2)),centerY=$((height / 2)),showDialog=0"

# Runs of identical lines (one per Continue call) are shown once with their count.
collapse_repeats() {
    awk 'function flush() { if (n) print last (n > 1 ? "   (x" n ")" : "") }
         { if (n && $0 == last) n++; else { flush(); last = $0; n = 1 } }
         END { flush() }'
}

echo "Running ${build#"$root"/}/win32/Vexel.8bf on samples/sample.png (${width}x${height}), $settings"
# Wine's helper processes are waited for inside the X session, so none outlives the display.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
    wine "$@"; status=$?
    timeout 10 wineserver -w || true
    exit $status' run-sample \
    "${build#"$root"/}/win32/vexel_testhost.exe" "${build#"$root"/}/win32/Vexel.8bf" \
    --input samples/sample.png --output out/sample-vexel.png --auto-answer --settings "$settings" \
    </dev/null | collapse_repeats
echo "Wrote out/sample-vexel.png"
