#!/usr/bin/env bash
# The test command's stage summary: a stage that could not run (status 77) is
# counted apart from the passed ones; on a user's machine the run still
# passes, under CI it fails.  A failed stage fails the run either way.
#   test_stages.sh path/to/scripts/stages.sh
set -u
runner="$1"

# CI value, then each stage's status -> "summary line | exit status"
summary() {
    local ci="$1" out rc
    shift
    out=$(
        export CI="$ci" VOLTANIS_STAGES="1 2 3 4 5 6"
        . "$runner"
        ends() { return "$1"; }
        n=0
        for s in "$@"; do n=$((n + 1)); stage "$n" "stage $n" ends "$s" >/dev/null; done
        stage_summary
    )
    rc=$?
    echo "$(grep '^stages:' <<<"$out") | $rc"
}

bad=0
while IFS=';' read -r ci statuses want; do
    got=$(summary "$ci" $statuses)
    [ "$got" = "$want" ] || { echo "CI='$ci' stages $statuses: got '$got', want '$want'"; bad=1; }
done <<'TABLE'
;0 77 0;stages: 2 passed, 1 skipped, 0 failed | 0
true;0 77 0;stages: 2 passed, 1 skipped, 0 failed | 1
true;0 0;stages: 2 passed, 0 skipped, 0 failed | 0
;0 1 77;stages: 1 passed, 1 skipped, 1 failed | 1
TABLE
exit $bad
