#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer (in build-fuzz)
# and runs each for a bounded time with a fixed seed, on a scratch copy of its seed corpus so the committed
# corpus never changes. Fails on the first crash, leak, sanitizer report or timeout; the input that did it is
# kept in build-fuzz/artifacts/<target>/. Add it to tests/fuzz/regressions/<name>/ to keep it as a test: this
# script replays those first, and the normal build replays them (and the seed corpora) as ctest fuzz_replay_*.
#
#   tools/run-fuzzers.sh [SECONDS]        SECONDS per target, 60 when not given
#   tools/run-fuzzers.sh --replay         only replays the corpora and the regression inputs, no fuzzing
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"
targets=(fuzz_decoder fuzz_dispatcher fuzz_udp fuzz_http)

seconds=60
replay_only=0
case "${1:-}" in
--replay) replay_only=1 ;;
'') ;;
*[!0-9]* | 0)
    echo "usage: $0 [SECONDS|--replay]" >&2
    exit 2
    ;;
*) seconds=$1 ;;
esac

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVEL_BUILD_FUZZERS=ON -DKORVEL_BUILD_TESTS=OFF -DKORVEL_BUILD_HARDWARE=OFF >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
for target in "${targets[@]}"; do
    name=${target#fuzz_}
    binary=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
    corpus="$scratch/$name"
    mkdir -p "$corpus" "$build/artifacts/$target"
    cp "$root/tests/fuzz/corpus/$name"/* "$corpus"/
    regressions="$root/tests/fuzz/regressions/$name"

    # Every input that once crashed must keep passing.
    if [ -d "$regressions" ]; then
        if ! "$binary" -runs=0 "$regressions" >"$scratch/$name.replay.log" 2>&1; then
            echo "run-fuzzers: $target FAILED on a regression input"
            tail -n 40 "$scratch/$name.replay.log"
            status=1
            continue
        fi
    fi
    if [ "$replay_only" = 1 ]; then
        "$binary" -runs=0 "$corpus" >"$scratch/$name.log" 2>&1 || {
            echo "run-fuzzers: $target FAILED on its seed corpus"
            tail -n 40 "$scratch/$name.log"
            status=1
            continue
        }
        echo "run-fuzzers: $target corpus and regressions replayed"
        continue
    fi
    if "$binary" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" "$corpus" >"$scratch/$name.log" 2>&1; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$' || true)
        echo "run-fuzzers: $target ok, ${runs:-?} runs in ${seconds}s"
    else
        echo "run-fuzzers: $target FAILED; input kept in $build/artifacts/$target/"
        tail -n 60 "$scratch/$name.log"
        status=1
    fi
done
exit $status
