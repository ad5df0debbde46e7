#!/usr/bin/env bash
# System calls per received message: the real program watches "Midi
# Through" on a pseudo-terminal (display mode 0, a preset naming the port
# both ways) while bench_send sends it 2,000 notes, one per millisecond; perf
# counts every system call and context switch of each of its threads from
# kernel tracepoints (no ptrace, so the program keeps its own timing).
#
#   bash bench/syscalls.sh [BINARY|aseqdump ...]   (default: build-bench/voltanis)
#
# Several binaries (the program before and after a change, say) are measured
# one after the other in the same machine, so their figures compare;
# "aseqdump" measures alsa-utils' aseqdump -p 14:0 the same way.  Needs a
# sequencer with "Midi Through" at 14:0: on a machine without one (no
# /dev/snd/seq) it runs itself in the ALSA test machine (tests/alsa/run.sh),
# where the host's files are seen read-only.  Needs perf (Debian:
# linux-perf) and a release build with the benchmarks (scripts/bench.sh
# makes build-bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
notes=${VOLTANIS_BENCH_NOTES:-2000}

send="${VT_BUILD:-$root/build-bench}/bench/bench_send"
if [ -n "${VT_BUILD:-}" ] && [ -f "$VT_BUILD/bench-syscalls/list" ]; then
    # inside the test machine: the binaries were left in the build folder
    mapfile -t bins < "$VT_BUILD/bench-syscalls/list"
    mountpoint -q /sys/kernel/tracing || mount -t tracefs nodev /sys/kernel/tracing
elif [ -c /dev/snd/seq ]; then
    bins=("$@")
    [ ${#bins[@]} -gt 0 ] || bins=("$root/build-bench/voltanis")
else
    command -v perf >/dev/null || { echo "syscalls.sh: perf missing (apt-get install linux-perf)" >&2; exit 77; }
    [ $# -gt 0 ] || set -- "$root/build-bench/voltanis"
    build="$root/build-bench"
    [ -x "$build/voltanis" ] && [ -x "$send" ] ||
        { echo "syscalls.sh: build $build first (scripts/bench.sh)" >&2; exit 2; }
    # the machine sees the host's /tmp not at all: copies go in the build folder
    rm -rf "$build/bench-syscalls" && mkdir -p "$build/bench-syscalls"
    i=0
    for b in "$@"; do
        if [ "$b" = aseqdump ]; then echo aseqdump; continue; fi
        i=$((i + 1))
        cp "$b" "$build/bench-syscalls/$i-$(basename "$b")"
        echo "$build/bench-syscalls/$i-$(basename "$b")"
    done > "$build/bench-syscalls/list"
    printf '%s\n' "$@" > "$build/bench-syscalls/names"
    VOLTANIS_VM_INSIDE="$root/bench/syscalls.sh" VOLTANIS_BENCH_NOTES=$notes bash "$root/tests/alsa/run.sh" "$build"
    exit
fi

names=("${bins[@]}")
[ -z "${VT_BUILD:-}" ] || mapfile -t names < "$VT_BUILD/bench-syscalls/names"
/usr/bin/python3 - "$send" "$notes" "${#bins[@]}" "${bins[@]}" "${names[@]}" <<'PY'
import os, pty, re, signal, subprocess, sys, tempfile, threading, time

send, notes, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
bins, names = sys.argv[4:4 + count], sys.argv[4 + count:4 + 2 * count]
calls = ["epoll_wait", "poll", "read", "write", "timerfd_settime", "futex"]
events = ["raw_syscalls:sys_enter"] + ["syscalls:sys_enter_" + c for c in calls] + ["context-switches"]
work = tempfile.mkdtemp(prefix="vt-syscalls.")


def measure(binary, name):
    home = tempfile.mkdtemp(dir=work)
    rec = bytearray(168)
    rec[0:8] = bytes([6, 0, 0, 0x10, 0x7D, 0xFF, 0xFF, 0xFF])
    port = b"Midi Through Port-0"
    rec[8:8 + len(port)] = port
    rec[72:72 + len(port)] = port
    with open(os.path.join(home, "VOLTANIS.SET"), "wb") as f:
        f.write(rec)
    argv = ["aseqdump", "-p", "14:0"] if binary == "aseqdump" else [binary]
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(home)
        os.execvp(argv[0], argv)
    shown = bytearray()

    def read():
        while True:
            try:
                b = os.read(fd, 65536)
            except OSError:
                return
            if not b:
                return
            shown.extend(b)

    t = threading.Thread(target=read, daemon=True)
    t.start()
    time.sleep(3)
    out = os.path.join(home, "perf.csv")
    perf = subprocess.Popen(["perf", "stat", "-x,", "--per-thread", "-e", ",".join(events),
                             "-p", str(pid), "-o", out])
    time.sleep(3)
    subprocess.run([send, "14:0", str(notes), "1000"], check=True)
    time.sleep(1)
    perf.send_signal(signal.SIGINT)
    perf.wait()
    os.kill(pid, signal.SIGTERM)
    os.waitpid(pid, 0)
    if os.environ.get("VT_SYSCALLS_DEBUG"):
        sys.stderr.write(bytes(shown[-2000:]).decode(errors="replace"))
    lines = len(re.findall(rb"Note (?:on|ON) ", bytes(shown)))
    per = {}  # event -> {thread: count}
    for row in open(out):
        f = row.strip().split(",")
        if len(f) < 4 or not f[1].strip().isdigit():
            continue
        per.setdefault(f[3], {})[f[0].strip()] = int(f[1])
    got = max(lines, 1)
    total = lambda e: sum(per.get(e, {}).values())
    print(f"== {name}: {lines} of {notes} notes shown")
    print("   per message: %.2f system calls, %.2f context switches" %
          (total(events[0]) / got, total("context-switches") / got))
    print("   by call: " + ", ".join("%s %.2f" % (c, total("syscalls:sys_enter_" + c) / got)
                                     for c in calls if total("syscalls:sys_enter_" + c)))
    for th, n in sorted(per.get(events[0], {}).items()):
        cs = per.get("context-switches", {}).get(th, 0)
        print("   thread %s: %.2f system calls, %.2f context switches" % (th, n / got, cs / got))
    print("RESULT\tsystem calls per received message, %s\t%.2f\t\t" % (name, total(events[0]) / got))
    sys.stdout.flush()


# perf reads the tracepoints' formats the first time: not while measuring
subprocess.run(["perf", "stat", "-e", ",".join(events), "-o", os.devnull, "true"], check=True)
print(f"{notes} notes at 1,000/s to Midi Through (14:0), shown on a pseudo-terminal; kernel {os.uname().release}")
for b, n in zip(bins, names):
    measure(b, n)
PY
