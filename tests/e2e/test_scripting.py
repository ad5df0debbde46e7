"""Runs from a script, the real program over the loopback port: the quiet
one-shot and its errors, waiting for answers and exit status 3, a file sent
once, the listener, JSON lines read back by a JSON parser, colour, a broken
pipe, and the bash completion."""

import json
import re
import os
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_cli import NOTE_ON, run  # noqa: E402
from vtpty import LOOPBACK, Session, check, fkey, run_tests, scratch_dir  # noqa: E402

LOOP = ["-o", "loop", "-i", "loop"]
ALL_KINDS = "--only=note,poly,cc,program,pressure,bend,sysex,mtc,spp,song,tune,clock,sense,transport,reset"

# every kind of message, as a file of raw bytes: each message with the type
# and the fields its JSON object must have
MESSAGES = [
    ("903c40", "note-on", {"channel": 1, "note": 60, "velocity": 64}),
    ("813c00", "note-off", {"channel": 2, "note": 60, "velocity": 0}),
    ("a23c11", "poly-pressure", {"channel": 3, "note": 60, "pressure": 17}),
    ("bf0764", "control-change", {"channel": 16, "controller": 7, "value": 100}),
    ("c005", "program-change", {"channel": 1, "program": 5}),
    ("d07f", "channel-pressure", {"pressure": 127}),
    ("e00040", "pitch-bend", {"value": 8192, "bend": 0}),
    ("f123", "mtc-quarter-frame", {"piece": 2, "value": 3}),
    ("f20102", "song-position", {"position": 257}),
    ("f307", "song-select", {"song": 7}),
    ("f6", "tune-request", {}),
    ("f8", "clock", {}),
    ("fa", "start", {}),
    ("fe", "active-sensing", {}),
    ("f07e7f0601f7", "sysex", {"id": "7e"}),
    ("f0002033017ff7", "sysex", {"id": "002033"}),
]


def test_quiet_send_prints_exactly_the_answers_and_errors_on_stderr(binary):
    status, out, err = run(binary, *LOOP, "-s", "N 3C 40", "-s", "S hello")
    check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
    check(out == NOTE_ON + "  SysEx( 7d ) hello EOX\n", "not only the answers:\n%r" % out)
    status, out, err = run(binary, *LOOP, "-s", "N 3C 40 X", "-s", "N 3C 40")
    check(status == 1 and err == "DATA1 ERROR\n" and out == NOTE_ON,
          "a wrong line: status %d, stderr %r, stdout %r" % (status, err, out))
    # piped input: the same with -q, and the whole session without it
    status, out, err = run(binary, *LOOP, "-q", stdin=b"N 3C 40\nQ\n")
    check(status == 1 and out == NOTE_ON and err == "CMD ERROR\n",
          "-q: status %d, stdout %r, stderr %r" % (status, out, err))
    status, out, _ = run(binary, *LOOP, "-v", "-s", "N 3C 40")
    check(out.startswith("Voltanis - MIDI sender") and "N 3C 40\n" + NOTE_ON in out, "-v:\n%s" % out)


def test_expect_ends_on_the_answers_or_with_status_3_at_the_timeout(binary):
    lines = ["-s", "S a", "-s", "S b", "-s", "S c"]
    for expected, status_wanted, err_wanted in (
            (3, 0, ""), (4, 3, "voltanis: no answer: 3 of 4 SysEx messages came within 500 ms\n")):
        began = time.monotonic()
        status, out, err = run(binary, *LOOP, *lines, "--expect-sysex=%d" % expected, "--timeout=500")
        took = time.monotonic() - began
        check(status == status_wanted and out.count("  SysEx( 7d ) ") == 3 and err == err_wanted,
              "--expect-sysex=%d: status %d, stderr %r\n%s" % (expected, status, err, out))
        check((took >= 0.5) == (status_wanted == 3),
              "--expect-sysex=%d ended after %.3f s" % (expected, took))
    # --expect counts what the display shows: a filter hides what is no answer
    status, out, _ = run(binary, *LOOP, "--only=cc", "-s", "N 3C 40 K 7 1", "--expect=1", "--timeout=500")
    check(status == 0 and out == "  Control Change   b0  7  1\n", "--only=cc --expect=1: %d %r" % (status, out))


def test_send_file_byte_for_byte_and_its_errors(binary):
    dump = bytes.fromhex("f07d" + "00" * 100 + "f7" + "f07d01020304f7" + "f0417f" + "7f" * 70 + "f7")
    with scratch_dir("sendfile") as work:
        with open(os.path.join(work, "dump.syx"), "wb") as f:
            f.write(dump)
        os.mkdir(os.path.join(work, "folder"))
        status, out, err = run(binary, *LOOP, "-f", "dump.syx", "--gap", "20", "--record=back.bin",
                               "--expect-sysex=3", "--timeout=2000", cwd=work)
        check(status == 0 and err == "", "status %d, stderr %r\n%s" % (status, err, out))
        with open(os.path.join(work, "back.bin"), "rb") as f:
            check(f.read() == dump, "what came back is not the file byte for byte")
        status, out, err = run(binary, *LOOP, "--send-file=dump.syx", "--slow", "--expect=3", cwd=work)
        check(status == 0 and out.count("  SysEx( ") == 3, "--slow: %d %r" % (status, out))
        for name, errors in (("missing.syx", "Cannot open Send File!\n"),
                             ("folder", "Cannot open Send File!\nfolder: a folder, not a file!\n")):
            status, out, err = run(binary, *LOOP, "-f", name, cwd=work)
            check(status == 1 and out == "" and err == errors, "-f %s: %d %r %r" % (name, status, out, err))


def test_f8_or_ctrl_c_stops_the_file(binary):
    for key in (fkey(8), b"\x03"):
        with Session(binary, args=[*LOOP, "-f", "notes.bin", "--slow"],
                     files={"notes.bin": bytes.fromhex("903c40") * 400}) as s:
            time.sleep(0.4)
            s.send(key)
            s.expect("Aborted\n")
            s.expect_exit(1)
            s.expect_terminal_restored()


def test_listen_ends_at_a_signal_with_status_0_and_its_files_whole(binary):
    with scratch_dir("listen") as work:
        r = subprocess.run(["timeout", "--preserve-status", "-s", "INT", "1", os.path.abspath(binary),
                            "--listen", "-i", "loop", "--record=rec.bin", "--smf=log.mid"],
                           cwd=work, capture_output=True, stdin=subprocess.DEVNULL, timeout=20)
        check(r.returncode == 0 and r.stdout == b"" and r.stderr == b"",
              "status %d, %r %r" % (r.returncode, r.stdout, r.stderr))
        with open(os.path.join(work, "log.mid"), "rb") as f:
            log = f.read()
        check(log.startswith(b"MThd") and b"MTrk" in log and log.endswith(b"\xff\x2f\x00"),
              "the MIDI file log is not whole: %r" % log)
        check(os.path.getsize(os.path.join(work, "rec.bin")) == 0, "the record file holds something")
    # on a terminal, SIGTERM: the terminal as it was
    with Session(binary, args=["-L", "-i", "loop"]) as s:
        time.sleep(0.3)
        os.kill(s.pid, signal.SIGTERM)
        s.expect_exit(0)
        s.expect_terminal_restored()
        check("Voltanis" not in s.text() and "EXIT?" not in s.text(), "the listener talked:\n%s" % s.text())


def test_json_lines_parse_for_every_kind(binary):
    data = bytes.fromhex("45" + "".join(m for m, _, _ in MESSAGES) + "f07d0102913c40")
    with scratch_dir("json") as work:
        with open(os.path.join(work, "all.bin"), "wb") as f:
            f.write(data)
        status, out, err = run(binary, *LOOP, "-x", ALL_KINDS, "--json", "-f", "all.bin", cwd=work)
    check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
    # the display's order: short messages first, then what waited behind them
    objects = {o["bytes"]: o for o in map(json.loads, out.splitlines())}
    wanted = [("45", "wild-byte", {})] + MESSAGES + [("f07d0102", "sysex", {"cut": True}),
                                                     ("913c40", "note-on", {})]
    check(len(objects) == len(wanted), "%d objects for %d messages:\n%s" % (len(objects), len(wanted), out))
    for hexbytes, kind, fields in wanted:
        o = objects.get(hexbytes, {})
        check(o.get("type") == kind and isinstance(o.get("time"), float), "%s: %r" % (hexbytes, o))
        for name, value in fields.items():
            check(o.get(name) == value, "%s: %s is %r, not %r" % (hexbytes, name, o.get(name), value))
        check("source" not in o, "a source with one input: %r" % o)
    check(objects["bf0764"]["explain"] == "ch 16 Volume = 100", "no explanation: %r" % objects["bf0764"])
    # a loss is an object too, with piped input; refused at a terminal
    status, out, _ = run(binary, *LOOP, "--json", stdin=b"N 3C 40\n")
    check(status == 0 and json.loads(out)["type"] == "note-on", "piped --json: %d %r" % (status, out))
    with Session(binary, args=["--json"]) as s:
        s.expect("voltanis: --json is for runs from a script")
        s.expect_exit(2)


def test_color_by_kind_only_when_asked(binary):
    lines = ["-s", "N 3C 40", "-s", "K 7 1", "-s", "S hi", "-s", "F A"]
    status, out, _ = run(binary, *LOOP, "--color=always", *lines)
    # A real-time message may overtake the SysEx sent before it, so the
    # lines are compared in any order, each with its own colour.
    want = sorted(["\x1b[32m" + NOTE_ON + "\x1b[0m", "\x1b[36m  Control Change   b0  7  1\n\x1b[0m",
                   "\x1b[33m  MIDI Start     fa\n\x1b[0m", "\x1b[35m  SysEx( 7d ) hi EOX\n\x1b[0m"])
    got = re.findall("\x1b\\[3[0-9]m[^\x1b]*\x1b\\[0m", out)
    check(status == 0 and sorted(got) == want and "".join(got) == out, "--color=always: %r" % out)
    for when in ("never", "auto"):
        _, out, _ = run(binary, *LOOP, "--color=" + when, *lines)
        check("\x1b" not in out and NOTE_ON in out, "--color=%s into a pipe: %r" % (when, out))


def test_a_broken_pipe_ends_quietly(binary):
    with scratch_dir("pipe") as work:
        with open(os.path.join(work, "many.bin"), "wb") as f:
            f.write(bytes.fromhex("903c40") * 2000)
        p = subprocess.Popen([os.path.abspath(binary), *LOOP, "-f", "many.bin", "--json", "--wait=2000"],
                             cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        first = p.stdout.readline()
        p.stdout.close()
        p.wait(20)
        err = p.stderr.read()
        p.stderr.close()
    check(json.loads(first)["type"] == "note-on", "first line %r" % first)
    check(p.returncode == -signal.SIGPIPE and err == b"", "status %d, stderr %r" % (p.returncode, err))


def test_bash_completes_the_port_names_after_o(binary):
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "completion", "voltanis.bash")
    program = os.path.abspath(binary)
    r = subprocess.run(["bash", "-c", 'source "$1"; COMP_WORDS=("$2" -o ""); COMP_CWORD=2; _voltanis;'
                        'printf "%s\\n" "${COMPREPLY[@]}"; COMP_WORDS=("$2" --expect-); COMP_CWORD=1;'
                        '_voltanis; printf "%s\\n" "${COMPREPLY[@]}"', "bash", script, program],
                       capture_output=True, timeout=20)
    got = r.stdout.decode().splitlines()
    check(LOOPBACK.replace(" ", "\\ ") in got and "--expect-sysex" in got, "completions %r" % got)


if __name__ == "__main__":
    run_tests()
