#!/bin/bash
# Runs inside the test machine (started by run.sh): the backend checks, then
# the program's own tests with alsa-utils as the other side.  The last line
# adds up both.
cd "$VT_RUN"
echo "inside: kernel $(uname -r), up $(cut -d' ' -f1 /proc/uptime)s"
"$VT_RUN/seqcheck" 2>&1 | tee "$VT_RUN/seqcheck.log"
/usr/bin/python3 "$VT_SRC/tests/alsa/vm_e2e.py" "$VT_BUILD/voltanis" "$VT_RUN/seqcheck" | tee "$VT_RUN/vm_e2e.log"
echo "inside: done, up $(cut -d' ' -f1 /proc/uptime)s"
p=0 f=0
for log in seqcheck vm_e2e; do
    line=$(grep -E '^[a-z_0-9]+: [0-9]+ passed, [0-9]+ failed$' "$VT_RUN/$log.log" | tail -1)
    if [ -z "$line" ]; then f=$((f + 1)); echo "$log: no result line"; continue; fi
    set -- $line
    p=$((p + $2)) f=$((f + $4))
done
echo "alsa-vm: $p passed, $f failed"
[ "$f" = 0 ]
