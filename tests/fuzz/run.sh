#!/usr/bin/env bash
# Runs the fuzzers side by side for SECONDS each, on a corpus kept in the build
# folder (grown run after run, never committed) plus fresh seeds, and prints what
# they did: executions, coverage, and any crash with the input that reproduces it.
set -u
build=$(realpath "$1")
seconds=${2:-300}
seeds=$build/seeds
rm -rf "$seeds" && mkdir -p "$seeds" && "$build/tests/fuzz/make_seeds" "$seeds" || exit 1
# Extractions go to memory where there is some, to keep the disk out of the timing.
base=/tmp
[ -d /dev/shm ] && base=/dev/shm
QUODREL_FUZZ_DIR=$(mktemp -d "$base/quodrel-fuzzing-XXXXXX")
export QUODREL_FUZZ_DIR
trap 'rm -rf "$QUODREL_FUZZ_DIR"' EXIT
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
targets=(table extract library)
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target" "$build/crashes/$target"
    "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/crashes/$target/" \
        "$build/corpus/$target" "$seeds" > "$build/fuzz-$target.log" 2>&1 &
done
wait
failed=0
for target in "${targets[@]}"; do
    log=$build/fuzz-$target.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[^ ]+')
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s; $coverage"
    if grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)|runtime error:|broken:' "$log" ||
        [ -z "$runs" ]; then
        failed=1
        echo "FAIL: fuzz $target found a problem; the log is $log"
        grep -E 'broken:|runtime error:|ERROR:|SUMMARY|Test unit written to' "$log" | head -20 | sed 's/^/  | /'
        echo "  reproduce with: $build/tests/fuzz/${target}_fuzzer <the unit written above>"
    fi
done
exit $failed
