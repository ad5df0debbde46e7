#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 60), starting from its seed corpus in fuzz/corpus/<target>.
# Fails when any target reports a finding (a crash, a sanitizer report, a
# broken invariant, a leak or a timeout); the input that caused it is kept
# in build-fuzz/findings/<target>/.  New inputs the fuzzer finds go to
# build-fuzz/corpus/<target>, never into the seeds under version control.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-60}"
build=build-fuzz
targets=(interpreter typing preset inparser keydecode)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOLTANIS_FUZZ=ON -DVOLTANIS_TESTS=OFF -DVOLTANIS_BENCH=OFF -DVOLTANIS_WERROR=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target fuzz_all || exit 1

failed=0
summary=()
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    log="$build/fuzz_$t.log"
    echo "--- fuzz_$t for ${seconds} s"
    t0=$SECONDS
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
    if [ $rc -eq 0 ]; then
        line="fuzz_$t: $((SECONDS - t0)) s, ${runs:-?} runs, coverage ${cov:-?}, no finding"
    else
        failed=1
        line="fuzz_$t: FINDING after $((SECONDS - t0)) s (exit $rc), input in $findings/"
        grep -m3 -E 'invariant broken|ERROR: (Address|Undefined|LeakSanitizer|libFuzzer)|runtime error' "$log"
        tail -n 40 "$log"
    fi
    echo "$line"
    summary+=("$line")
done
echo
printf '%s\n' "${summary[@]}"
exit $failed
