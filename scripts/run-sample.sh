#!/usr/bin/env bash
# Set-up and build, then runs both real modules through their test hosts under Wine on
# samples/sample.png: the 32-bit Vexel.8bf writes out/sample-vexel.png and the 64-bit Vexel64.8bf
# out/sample-vexel64.png, which must be the same image. Then both filter the same photograph held
# at 16 bits per channel (RGB48, each byte v as v x 32768 / 255 rounded, as the original host
# holds 16-bit samples) into the 16-bit PNGs out/sample-vexel-16.png and out/sample-vexel64-16.png,
# again the same image. The test host prints one line per selector call with its result.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" --target vexel_win32 vexel_win64

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936, as the module expects (see setup.sh).
export LC_ALL=zh_CN.UTF-8
source "$root/scripts/i386-mode.sh"
vexel_i386_detect
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

run_module() { # build folder, module, output, further test-host options
    echo "Running ${build#"$root"/}/$1/$2 on samples/sample.png (${width}x${height}${4:+, $4 $5})," \
        "$settings"
    # Wine's helper processes are waited for inside the X session, so none outlives the display.
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c '
        bash "$0" "$@"; status=$?
        timeout 10 wineserver -w || true
        exit $status' "$root/scripts/wine-run.sh" \
        "${build#"$root"/}/$1/vexel_testhost.exe" "${build#"$root"/}/$1/$2" \
        --input samples/sample.png --output "$3" --auto-answer --settings "$settings" "${@:4}" \
        </dev/null | collapse_repeats
    echo "Wrote $3"
}

same_pixels() { # the two outputs, what they are
    if [ "$(identify -format '%#' "$1")" = "$(identify -format '%#' "$2")" ]; then
        echo "Vexel.8bf (32-bit) and Vexel64.8bf (64-bit) wrote the same pixels ($3)"
    else
        echo "Vexel.8bf and Vexel64.8bf wrote different pixels ($3)" >&2
        exit 1
    fi
}

if [ "$VEXEL_I386_MODE" = none ]; then
    echo "Vexel.8bf (32-bit) was built but could not be run here ($VEXEL_I386_REASON)"
    run_module win64 Vexel64.8bf out/sample-vexel64.png
    run_module win64 Vexel64.8bf out/sample-vexel64-16.png --depth 16
    exit 0
fi
[ "$VEXEL_I386_MODE" = native ] || echo "Vexel.8bf (32-bit) runs emulated ($VEXEL_I386_REASON)"
run_module win32 Vexel.8bf out/sample-vexel.png
run_module win64 Vexel64.8bf out/sample-vexel64.png
same_pixels out/sample-vexel.png out/sample-vexel64.png "8 bits per channel"
run_module win32 Vexel.8bf out/sample-vexel-16.png --depth 16
run_module win64 Vexel64.8bf out/sample-vexel64-16.png --depth 16
same_pixels out/sample-vexel-16.png out/sample-vexel64-16.png "16 bits per channel"
