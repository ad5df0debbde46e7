#!/usr/bin/env bash
# Builds the benchmarks in a release build (build-bench), runs them all and
# writes one markdown table to stdout and to bench/results.md.  Each
# program's own report is kept beside it in build-bench/bench/*.txt.
# Figures depend on the machine and on what else runs on it: the table
# names the machine and its load at the start.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build=build-bench
out="$build/bench"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOLTANIS_TESTS=OFF -DVOLTANIS_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

load="$(cut -d' ' -f1-3 /proc/loadavg)"
rows="$out/rows.tsv"
: >"$rows"

# Google Benchmark programs: items per second of each case, as JSON
for prog in bench_interpret bench_decode; do
    if [ ! -x "$out/$prog" ]; then
        echo "$prog not built (Google Benchmark missing)" >&2
        continue
    fi
    "$out/$prog" --benchmark_min_time=0.5 --benchmark_out="$out/$prog.json" \
        --benchmark_out_format=json | tee "$out/$prog.txt" >&2
    python3 - "$out/$prog.json" "$prog" >>"$rows" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
unit = "lines/s" if sys.argv[2] == "bench_interpret" else "msg/s"
what = "interpretation" if sys.argv[2] == "bench_interpret" else "decoding and formatting"
for b in data["benchmarks"]:
    ips = b.get("items_per_second")
    if ips is None:
        continue
    name = b["name"].split("/")[1] if "/" in b["name"] else b["name"]
    print("RESULT\t%s: %s\t%s %s\t\t" % (what, name.replace("_", " "), format(round(ips), ","), unit))
PY
done

# the drivers print their own RESULT lines
"$out/bench_receive" | tee "$out/bench_receive.txt" >&2
grep '^RESULT' "$out/bench_receive.txt" >>"$rows"
"$out/bench_process" | tee "$out/bench_process.txt" >&2
grep '^RESULT' "$out/bench_process.txt" >>"$rows"
"$out/bench_sendfile" | tee "$out/bench_sendfile.txt" >&2
grep '^RESULT' "$out/bench_sendfile.txt" >>"$rows"
# on a real sequencer: in the ALSA test machine when this one has none
if bash bench/syscalls.sh aseqdump "$build/voltanis" 2>&1 | tee "$out/syscalls.txt" >&2; then
    grep '^RESULT' "$out/syscalls.txt" >>"$rows"
else
    echo "bench/syscalls.sh did not run (no perf, or no test machine): its rows are left out" >&2
fi

{
    echo "# Voltanis benchmarks"
    echo
    echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"
    echo "$(uname -sr), $(c++ --version | head -1); load average at the start: $load."
    echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), \`scripts/bench.sh\` (release build)."
    echo
    echo "| Measure | Result | Target | Met |"
    echo "|---|---|---|---|"
    cut -f2- "$rows" | awk -F'\t' '{ printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4 }'
    echo
    echo "What is measured:"
    echo
    echo "- interpretation: \`executeCmdStr\` on a finished line, messages built and handed as one long"
    echo "  message to a null port that takes it at once; typed: the keys of the line through line entry,"
    echo "  echo included, then ENTER."
    echo "- decoding and formatting: \`decodeChannelMessage\` on a mix of channel and system messages,"
    echo "  printing as the program does (buffered, to /dev/null); ring to console: callback store plus"
    echo "  \`showOneEntry\`; recording: the same with one write per byte to a real file; explained: the same"
    echo "  with -x, each line ending with what the message means (the hidden clock's tempo kept too)."
    echo "- receive path: messages written to the loopback port's cable end by a producer thread, parsed"
    echo "  by the port layer, stored by the program's callback, shown by the real main loop (the real"
    echo "  console, standard output a pipe read by the driver).  Delay: from the callback's call to the"
    echo "  moment the message's whole line was read from the pipe.  Paced phases 5 s at 1,000/s and 3 s"
    echo "  at 10,000/s; flood: 50,000 messages written as fast as the port takes them, throughput being"
    echo "  the messages shown per second while it lasts (what exceeds the display rate overflows the"
    echo "  8191-entry ring and is counted lost and reported, by design: the callback never waits);"
    echo "  burst: 8,000 messages in one write, drained from the first callback to the last line."
    echo "- start-up: the real binary on a pseudo-terminal with a preset naming the loopback port, from"
    echo "  fork to the last line of the status report read from the terminal."
    echo "- idle CPU: all threads' CPU time (/proc/<pid>/task/*/schedstat) over 10 s with nothing typed"
    echo "  or received; memory: VmHWM of the real binary."
    echo "- send file: a 10 MB file read by \`ReadSendLine\` with one-byte \`ReadFile\` calls through the"
    echo "  platform's real files (which read ahead in 64 KiB blocks) and handed in 64-byte blocks to a null"
    echo "  port; best of three."
    echo "- the idle main loop sleeps until a key or a MIDI notification arrives (or a wake a feature"
    echo "  asked for): it does not wake on its own."
    echo "- system calls per received message: \`bench/syscalls.sh\`, the real program (and aseqdump) on a"
    echo "  pseudo-terminal watching Midi Through of a real sequencer while 2,000 notes come at 1,000/s,"
    echo "  every system call of every thread counted by perf from kernel tracepoints."
} >"$out/table.md"
cp "$out/table.md" bench/results.md
cat bench/results.md
