#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs every fuzzer for a bounded time, two at a time. Fails when a fuzzer finds a crash,
# a sanitizer report, a broken invariant, a hang or a memory blow-up, and prints the path of
# the input that reproduces it.
# Usage: .ci/fuzz.sh [seconds per fuzzer, default 60] [fuzzer names, default all]
# Each fuzzer's corpus grows in build/fuzz/corpus/<name> from run to run, seeded from
# fuzz/corpus/<name>; findings land in build/fuzz/findings/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
    targets=(regfile smtp_reply log_line filter_line mime_address)
fi

scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

build=build/fuzz
mkdir -p "$build/logs"
run() {
    local name=$1 corpus=$build/corpus/$1 findings=$build/findings/$1
    rm -rf "$findings" "$build/logs/$name.failed"
    mkdir -p "$corpus" "$findings"
    # -timeout: an input taking this long is a hang (any input here takes milliseconds);
    # -rss_limit_mb: a run growing past this is a memory blow-up.
    if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$name" \
        >"$build/logs/$name.log" 2>&1; then
        echo "$name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' \
            "$build/logs/$name.log" | grep -o '[0-9]*$') inputs in $seconds s, no finding"
    else
        touch "$build/logs/$name.failed"
        echo "$name: FINDING (log: $build/logs/$name.log)"
        grep -E 'ERROR|invariant broken|SUMMARY' "$build/logs/$name.log" | head -5 | sed 's/^/    /' || true
        for unit in $(grep -o "Test unit written to .*" "$build/logs/$name.log" |
            sed 's/Test unit written to //'); do
            echo "    reproducer: $unit"
            echo "    replay: $build/fuzz/fuzz_$name $unit"
        done
    fi
}

# Two at a time: the machine has two cores.
for name in "${targets[@]}"; do
    while (($(jobs -pr | wc -l) >= 2)); do
        wait -n
    done
    run "$name" &
done
wait
for name in "${targets[@]}"; do
    [[ ! -e $build/logs/$name.failed ]] || exit 1
done
