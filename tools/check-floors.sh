#!/usr/bin/env bash
# Fails, naming the include, when a product folder includes a folder on its own floor or on a higher one. The
# floors, lowest first; the folders of one floor know nothing of each other:
floors=(
    "net usb"                  # sockets' options, the HID link
    "console emulator"         # the console's reports and events; the emulated console behind the HID API
    "protocol panel"           # the protocol core; the browser panel's files and their HTTP answers
    "websocket udp mqtt"       # the transports
    "app"                      # the window and the services that own everything
)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
declare -A floor_of
for i in "${!floors[@]}"; do
    for folder in ${floors[$i]}; do floor_of[$folder]=$i; done
done
bad=0
for folder in "${!floor_of[@]}"; do
    [ -d "$folder" ] || continue
    while IFS=: read -r file line included; do
        target=${included%%/*}
        [ "$target" = "$folder" ] && continue
        [ -n "${floor_of[$target]+set}" ] || continue
        if ((floor_of[$target] >= floor_of[$folder])); then
            echo "$file:$line: $folder/ includes $included (floor $((floor_of[$target] + 1)), not below $folder/'s)"
            bad=1
        fi
    done < <(grep -rnoE '^#include "[a-z]+/[^"]+"' "$folder" --include='*.h' --include='*.cpp' |
        sed -E 's/#include "([^"]+)"/\1/')
done
((bad == 0)) || exit 1
echo "floors in order: ${floors[*]}"
