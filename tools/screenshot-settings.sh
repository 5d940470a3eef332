#!/usr/bin/env bash
# Takes docs/images/settings-window.png: the settings window of the application on the emulated console, drawn by
# the xcb platform on a virtual X display (Xvfb). Needs a build with the tests (the default) in build/ or $BUILD_DIR.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
output=${1:-$root/docs/images/settings-window.png}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target korvel-screenshot -j 2
mkdir -p "$(dirname "$output")"

# A settings store of its own: the picture shows the first-start state, and the user's settings stay untouched.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -m 700 "$config/runtime"
XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config/runtime QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
    "$build/tests/e2e/screenshot/korvel-screenshot" "$output"
