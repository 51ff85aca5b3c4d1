#!/bin/sh
# Runs each fuzz target for FUZZ_SECONDS seconds (default 60), one after the
# other, from the seed corpora in tests/fuzz/seeds; fails on the first finding.
#   scripts/fuzz.sh [BUILD_DIR] [TARGET...]    (default build-fuzz; api load options)
# Corpora grow in BUILD_DIR/fuzz-corpus/<target>; a crashing input is left in
# BUILD_DIR/fuzz-findings/ and becomes a regression test.
set -eu
build=${1:-build-fuzz}
[ $# -gt 0 ] && shift
targets=${*:-api load options}
seconds=${FUZZ_SECONDS:-60}
seeds="$(dirname "$0")/../tests/fuzz/seeds"
symbolizer=/usr/lib/llvm-19/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
mkdir -p "$build/fuzz-findings"
for target in $targets; do
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    echo "fuzz_$target: $seconds s"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$target-" "$corpus" "$seeds/$target" \
        2>"$build/fuzz-$target.log" || { tail -n 60 "$build/fuzz-$target.log"; exit 1; }
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)|cov: .* ft: " "$build/fuzz-$target.log" | tail -n 3
done
