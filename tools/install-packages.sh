#!/usr/bin/env bash
# Installs the Debian packages listed in tools/packages.txt (as root, or through sudo).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mapfile -t packages < <(grep -vE '^\s*(#|$)' "$here/packages.txt")
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Node.js from another source may bring its own npm, which Debian's npm package would conflict with.
command -v npm >/dev/null || packages+=(npm)
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
