#!/usr/bin/env bash
# Prepares the Wine prefix named by WINEPREFIX for running the module: creates it when missing and
# maps the dialog font 宋体 (SimSun), which Linux systems lack, to an installed CJK font, so the
# dialog's Chinese texts are drawn instead of empty boxes. Safe to run again.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# A 64-bit prefix runs the 64-bit module and test host and, through its WoW64 part, the 32-bit ones.
export WINEARCH=win64
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

cjk_font="WenQuanYi Micro Hei" # from fonts-wqy-microhei
marker="$WINEPREFIX/.vexel-fonts"
[ -f "$marker" ] && exit 0

wine_run="$(dirname "${BASH_SOURCE[0]}")/wine-run.sh"

if ! [ -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    log="$WINEPREFIX.wineboot.log"
    # A 64-bit prefix made where i386 code cannot run says that syswow64's rundll32.exe failed to
    # start; that is harmless, so the prefix's files decide, not wineboot's status.
    status=0
    bash "$wine_run" wineboot -i >"$log" 2>&1 || status=$?
    timeout 120 wineserver -w || true
    if ! [ -f "$WINEPREFIX/system.reg" ] || ! [ -d "$WINEPREFIX/drive_c/windows" ]; then
        echo "wine-prefix: wineboot -i (exit $status) made no Wine prefix in $WINEPREFIX:" >&2
        tail -n 20 "$log" >&2
        exit 1
    fi
fi

# A version-5 .reg file is UTF-16 and so carries the Chinese face name whatever the locale.
reg_file="$WINEPREFIX/drive_c/vexel-fonts.reg"
reg_text="Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
\"SimSun\"=\"$cjk_font\"
\"宋体\"=\"$cjk_font\"
"
{
    printf '\xff\xfe'
    printf '%s' "$reg_text" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
} >"$reg_file"
bash "$wine_run" reg import 'C:\vexel-fonts.reg' >/dev/null 2>&1 ||
    { echo "wine-prefix: reg import of the font mapping failed in $WINEPREFIX" >&2; exit 1; }
rm -f "$reg_file"
# Let the server write the registry to disk before anything else uses the prefix.
timeout 30 wineserver -w || true
touch "$marker"
