#!/usr/bin/env bash
# Installs what is missing, builds Voltanis and runs every test:
#   1. the unit and end-to-end tests (GCC build, benchmarks built too), then
#      the installed tree, the man page and the Debian package
#   2. the same under AddressSanitizer + UndefinedBehaviorSanitizer (Clang)
#   3. the concurrency tests under ThreadSanitizer (Clang)
#   4. the fuzz targets, each for a bounded time (libFuzzer)
#   5. the Windows build under wine (MinGW-w64 cross build)
#   6. the ALSA sequencer tests in a small virtual machine with a real kernel
# Any failing stage fails the whole run.  A stage that cannot run here (no
# kernel package for the virtual machine, no wine) is skipped and counted
# apart; under CI (CI=true) a skip fails the run too (scripts/stages.sh).
# VOLTANIS_STAGES (e.g. "1 2") runs only some stages, VOLTANIS_FUZZ_SECONDS
# sets the time of each fuzz target (default 60).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc)"
. scripts/stages.sh

bash scripts/deps.sh test || { echo "dependency installation failed"; exit 1; }

linux_tests() {
    cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLTANIS_WERROR=ON >/dev/null &&
    cmake --build build-test -j"$jobs" &&
    ctest --test-dir build-test --output-on-failure -j"$jobs" &&
    bash scripts/package-check.sh build-test
}

asan_tests() {
    # Every test, unit and end-to-end, with both sanitizers; any report ends
    # the test that caused it (-fno-sanitize-recover, abort_on_error).  No
    # suppressions.
    cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
        -DVOLTANIS_SANITIZE=address,undefined -DVOLTANIS_BENCH=OFF -DVOLTANIS_WERROR=ON >/dev/null &&
    cmake --build build-asan -j"$jobs" &&
    ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

tsan_tests() {
    # The tests where threads meet: the port service's callback thread
    # against the main loop (the capture, display, record and fault tests
    # drive the test double, whose notifications come on threads of their
    # own, and the stress tests), the loopback port's delivery thread, the
    # port host's input path, the ALSA backend's routing, the console's
    # wake-up from another thread, and the whole program end to end over
    # the loopback.  No suppressions.
    local concurrency='InputStress|InputCapture|InputDecode|InputRecord|Faults|LoopbackPort|PortHost|Alsa|TestDouble|PosixConsole|e2e_'
    cmake -S . -B build-tsan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVOLTANIS_SANITIZE=thread -DVOLTANIS_BENCH=OFF -DVOLTANIS_WERROR=ON >/dev/null &&
    cmake --build build-tsan -j"$jobs" --target voltanis_tests voltanis &&
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=1 \
        ctest --test-dir build-tsan --output-on-failure -R "$concurrency"
}

fuzz_runs() {
    bash scripts/fuzz.sh "${VOLTANIS_FUZZ_SECONDS:-60}"
}

windows_tests() {
    bash scripts/windows-tests.sh
}

alsa_tests() {
    bash tests/alsa/run.sh
}

stage 1 "unit and end-to-end tests" linux_tests
stage 2 "AddressSanitizer + UndefinedBehaviorSanitizer" asan_tests
stage 3 "ThreadSanitizer" tsan_tests
stage 4 "fuzzing" fuzz_runs
stage 5 "Windows build under wine" windows_tests
stage 6 "ALSA sequencer in a virtual machine" alsa_tests

stage_summary
