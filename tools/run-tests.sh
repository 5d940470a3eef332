#!/usr/bin/env bash
# Installs what is needed, builds Korvel Control and runs the whole test suite: the normal build, then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)
"$root/tools/install-packages.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$jobs"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DKORVEL_SANITIZE=ON -DKORVEL_BUILD_HARDWARE=OFF
cmake --build "$root/build-sanitize" -j "$jobs"
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$jobs")
