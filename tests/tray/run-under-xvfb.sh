#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display with the trayer system tray, then tears both down.
#   run-under-xvfb.sh [--no-tray] command...   (--no-tray: a desktop without a tray; the command may start one)
# KORVEL_TRAY_HOST tells the command which: "trayer" or "none".
set -euo pipefail
tray_host=trayer
if [[ "${1:-}" == --no-tray ]]; then
    tray_host=none
    shift
fi
export KORVEL_TRAY_HOST=$tray_host
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb=$!
read -r display <"$fifo"
rm -f "$fifo"
export DISPLAY=":$display"
tray=
if [[ $tray_host == trayer ]]; then
    trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x202020 \
        --SetDockType true --SetPartialStrut true >/dev/null 2>&1 &
    tray=$!
fi
cleanup() { kill $tray "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true; }
trap cleanup EXIT
sleep 1
export QT_QPA_PLATFORM=xcb
"$@"
