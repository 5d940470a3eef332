#!/usr/bin/env bash
# Installs what is needed, builds Korvel Control and runs the whole test suite:
#   1. the normal build and every test (Xvfb tray test and headless-browser test included);
#   2. the same tests twice more with every core kept busy (stress-ng), for tests that pass only on an idle machine;
#   3. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the libFuzzer targets for a bounded time with a fixed seed;
#   5. a short soak of the emulated application;
#   6. the UDP bridge under a flood of forged senders and the WebSocket server under hostile peers
#      (tools/hostile-network.sh);
#   7. the Debian packages, built, installed, run and purged as a user would (tools/test-package.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)
"$root/tools/install-packages.sh"
# The Node.js client example's one dependency, as locked; its tests are skipped without it.
(cd "$root/examples/node" && npm ci --no-audit --no-fund)

echo "== build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$jobs"
# ajv, from the npm registry, for websocket_examples_valid; the lock file pins its version.
(cd "$root/build/tests/schema" && npm ci --no-audit --no-fund)
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== the tests again on a busy machine"
# A test that waits on a fixed time or an internal state instead of what a peer observes fails here. Each run is
# bounded; the load ends with the stage, however it ends.
stress-ng --cpu "$jobs" --timeout 50m --quiet &
load=$!
trap 'kill "$load" 2>/dev/null || true' EXIT
for run in 1 2; do
    echo "-- busy run $run"
    (cd "$root/build" && timeout --kill-after=30s 25m ctest --output-on-failure -j "$jobs")
done
kill "$load" 2>/dev/null || true
wait "$load" 2>/dev/null || true
trap - EXIT

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DKORVEL_SANITIZE=ON -DKORVEL_BUILD_HARDWARE=OFF
cmake --build "$root/build-sanitize" -j "$jobs"
# The browser and tray tests drive external programs, and the examples' schema check runs no product code; what
# they exercise is already covered here by the others.
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$jobs" -E '^(tst_browser|tst_tray|screenshot_settings_window|websocket_examples_valid)$')

echo "== fuzzers"
"$root/tools/run-fuzzers.sh" "${KORVEL_FUZZ_SECONDS:-45}"

echo "== short soak"
"$root/tools/soak.sh" --short

# The UDP bridge under a flood of forged senders.
echo "== hostile network"
"$root/tools/hostile-network.sh"

echo "== Debian packages"
"$root/tools/test-package.sh"

# Every stage above stops the script on failure, so reaching this line means all of them passed.
echo "stages: 7 passed, 0 failed"
