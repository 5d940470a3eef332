#!/usr/bin/env bash
# Fails, naming the files, when any C++ source differs from the committed .clang-format style.
# Fix with: clang-format -i <files>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mapfile -t files < <(find app net usb console protocol panel websocket udp mqtt emulator tests bench tools \
    \( -name '*.cpp' -o -name '*.h' \) -type f | sort)
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
    printf 'not formatted: %s\n' "${bad[@]}"
    exit 1
fi
echo "${#files[@]} files formatted"
