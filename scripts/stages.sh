# The stage runner of scripts/test.sh, sourced by it (and by its own test).
#
# A stage is a command.  Status 0 is a pass; status 77 ($stage_skip) says the
# stage could not run on this machine (a tool, a package or a download it
# needs is not to be had) and has already said why; any other status is a
# failure.  A skipped stage proves nothing, so it is counted apart from the
# passed ones, and under CI (the CI variable set, as CI services do:
# CI=true) it fails the run, since there everything a stage needs is
# expected.  On a user's machine a skip lets the run pass, and says so.
#
# VOLTANIS_STAGES (e.g. "1 2") names the stages to run; default all six.

stage_skip=77
stages="${VOLTANIS_STAGES:-1 2 3 4 5 6}"
passed=0
skipped=0
failed=0
failures=()
skips=()

# stage N NAME COMMAND...: runs COMMAND when stage N is wanted, and counts it.
stage() {
    local n="$1" name="$2" rc t0=$SECONDS
    shift 2
    case " $stages " in *" $n "*) ;; *) return 0 ;; esac
    echo
    echo "=== stage $n: $name ==="
    "$@"
    rc=$?
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
        echo "=== stage $n passed ($((SECONDS - t0)) s) ==="
    elif [ "$rc" -eq "$stage_skip" ]; then
        skipped=$((skipped + 1))
        skips+=("$n: $name")
        echo "=== stage $n SKIPPED: it did not run ($((SECONDS - t0)) s) ==="
    else
        failed=$((failed + 1))
        failures+=("$n: $name")
        echo "=== stage $n FAILED ($((SECONDS - t0)) s) ==="
    fi
}

under_ci() {
    case "${CI:-}" in "" | false | 0) return 1 ;; *) return 0 ;; esac
}

# Prints what was skipped or failed and the count; fails when a stage failed,
# or, under CI, when one was skipped.
stage_summary() {
    local f
    echo
    for f in "${skips[@]}"; do echo "skipped stage $f"; done
    for f in "${failures[@]}"; do echo "failed stage $f"; done
    echo "stages: $passed passed, $skipped skipped, $failed failed"
    [ "$failed" -eq 0 ] || return 1
    [ "$skipped" -eq 0 ] && return 0
    if under_ci; then
        echo "under CI (CI=$CI) a skipped stage fails the run"
        return 1
    fi
    echo "The run passes on this machine, but it tested less than CI does: a"
    echo "skipped stage could not run here, for the reason given in its output."
    echo "Under CI (CI=true) a skipped stage fails the run."
    return 0
}
