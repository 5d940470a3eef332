#!/usr/bin/env bash
# Takes the first-hour pictures of docs/images/ (tools/screenshot/scenes.cpp) under Xvfb: with the trayer tray
# host at 100 % and 200 % scale (QT_SCALE_FACTOR=2, names ending in "@2x"), and on a desktop without a tray at
# 100 % ("-no-tray"); then the browser panel at 1920×1080 and 390×844 in headless Chromium
# (tests/e2e/panel_screenshots.cpp). Needs a build with the tests (the default) in build/ or $BUILD_DIR.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
output=${1:-$root/docs/images}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target korvel-scenes panel_screenshots -j 2
mkdir -p "$output"

# A settings store of its own: the user's settings stay untouched.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -m 700 "$config/runtime"
run() {
    XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config/runtime "$root/tests/tray/run-under-xvfb.sh" "$@"
}
run "$build/tests/e2e/screenshot/korvel-scenes" "$output" ""
QT_SCALE_FACTOR=2 run "$build/tests/e2e/screenshot/korvel-scenes" "$output" "@2x"
run --no-tray "$build/tests/e2e/screenshot/korvel-scenes" "$output" "-no-tray"
# The page as the application serves it; %1 is the port the tool's application listens on.
XDG_RUNTIME_DIR=$config/runtime QT_QPA_PLATFORM=offscreen "$build/tests/e2e/panel_screenshots" "$output" \
    "http://127.0.0.1:%1/"
