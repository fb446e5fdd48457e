#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ and runs each for FUZZ_SECONDS (default 60)
# from its seed corpus in fuzz/corpus/<target>/. New inputs go to build-fuzz/work/<target>/
# (the tree's corpus stays as it is); a crash or sanitizer report leaves its input in
# build-fuzz/work/<target>/crashes/ and makes the script fail. Not part of scripts/test.sh.
#   scripts/fuzz.sh [target ...]   targets: picture profile popup owner list_format query
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
    apt-get install -y clang >/dev/null
fi
secs=${FUZZ_SECONDS:-60}
dir=${FUZZ_BUILD:-build-fuzz}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(picture profile popup owner list_format query)
# The same checks as DT_SANITIZE (alignment left out for the packed records).
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=alignment -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDT_FUZZ=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$dir" -j 2 --target "${targets[@]/#/fuzz_}"
status=0
for t in "${targets[@]}"; do
    work="$dir/work/$t"
    mkdir -p "$work/corpus" "$work/crashes"
    log="$work/fuzz.log"
    if ! "$dir/fuzz/fuzz_$t" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$work/crashes/" \
        "$work/corpus" "fuzz/corpus/$t" >"$log" 2>&1; then
        status=1
        echo "$t: FAILED (see $log; input in $work/crashes/)"
        grep -E "^(==|SUMMARY|fuzz check failed)" "$log" | head -5 || true
        continue
    fi
    runs=$(grep -oE "stat::number_of_executed_units: *[0-9]+" "$log" | grep -oE "[0-9]+$" || echo "?")
    last=$(grep -E "^#[0-9]+" "$log" | tail -1)
    cov=$(echo "$last" | grep -oE "cov: [0-9]+" || true)
    ft=$(echo "$last" | grep -oE "ft: [0-9]+" || true)
    echo "$t: $runs runs in ${secs}s, $cov, $ft, corpus $(find "$work/corpus" -maxdepth 1 -type f | wc -l) inputs"
done
exit $status
