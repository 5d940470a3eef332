#!/usr/bin/env bash
# Installs what is needed, builds Korvel Control and starts it on the emulated console.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_BUILD_TESTS=OFF
cmake --build "$root/build" --target korvel-control-emulated -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running offscreen. Panel on http://127.0.0.1:19552/, WebSocket on ws://127.0.0.1:19552, UDP listen port 19551."
    export QT_QPA_PLATFORM=offscreen
fi
exec "$root/build/app/emulated/korvel-control-emulated"
