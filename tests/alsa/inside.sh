#!/bin/bash
# Runs inside the test machine (started by run.sh): the backend checks, then
# the program's own tests with alsa-utils as the other side.
cd "$VT_RUN"
echo "inside: kernel $(uname -r), up $(cut -d' ' -f1 /proc/uptime)s"
rc=0
"$VT_RUN/seqcheck" || rc=1
exit $rc
