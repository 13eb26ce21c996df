#!/usr/bin/env bash
# Starts (or stops) what the Wine-driven tests share: a virtual X display, the build's own Wine
# prefix and a persistent wineserver, so each test process starts quickly.
set -eu
: "${WINEPREFIX:?}" "${DISPLAY:?}"
display_number=${DISPLAY#:}
pidfile="$WINEPREFIX.xvfb.pid"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"

case "${1:-}" in
start)
    if ! [ -e "/tmp/.X11-unix/X$display_number" ]; then
        Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        echo $! >"$pidfile"
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done
    fi
    bash "$scripts/wine-prefix.sh"
    wineserver -p >/dev/null 2>&1 || true
    # Start the prefix's background services now, detached from any test's output pipes: started
    # by the first test instead, they would inherit its pipes and keep its reader waiting.
    bash "$scripts/wine-run.sh" wineboot </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    wineserver -k >/dev/null 2>&1 || true
    if [ -f "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; rm -f "$pidfile"; fi
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
