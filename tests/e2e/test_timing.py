"""The time and SysEx tools of the real program over the loopback port:
arrival times and reply latency (-t), SysEx files (--syx), the gap after
each F7 of a send file (--gap) and the Standard MIDI File log (--smf), in
the order of arrival and never over a file another run writes."""

import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smfread import notes_on, read_smf  # noqa: E402
from test_cli import run  # noqa: E402
from vtpty import ENTER, Session, check, ctrl, fkey, read_file, run_tests, scratch_dir  # noqa: E402

LOOP = ["-o", "loop", "-i", "loop"]
TIMED = r" {0,4}(\d+\.\d{4})  "           # the time column
LATENCY = r"  \(\+(\d+\.\d) ms after send\)"
HELLO = b"\xf0\x7d\x68\x65\x6c\x6c\x6f\xf7"


def timed_note(s, note):
    """Types N <note> 40, waits for its line; (seconds, latency ms or None)."""
    s.send("N %s 40%s" % (note, ENTER))
    s.expect_next("N %s 40\n" % note)
    line = s.expect("\n")
    m = re.fullmatch(TIMED + r"  MIDI Note ON     90 %s 40  \( [^)]* \)(?:%s)?" % (note.lower(), LATENCY), line)
    check(m is not None, "not a timed line: %r" % line)
    return float(m.group(1)), (float(m.group(2)) if m.group(2) else None)


def test_times_increase_and_the_reply_latency_is_shown(binary):
    with Session(binary, args=LOOP + ["-t"]) as s:
        s.expect("(change with CTRL-G)\n")
        times = []
        for note in ("3C", "3E", "40"):
            t, latency = timed_note(s, note)
            check(latency is not None and latency < 5.0, "reply latency %r after N %s 40" % (latency, note))
            times.append(t)
            time.sleep(0.05)
        check(times == sorted(times) and times[2] - times[0] >= 0.1, "times do not increase: %r" % times)
        s.send(ctrl("w"))
        s.expect("display HEX BYTES\n")
        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n-90 3c 40 ")      # bytes: no time
        s.exit_via_prompt()


def test_syx_saves_each_whole_sysex(binary):
    with scratch_dir("syx") as work:
        status, out, err = run(binary, *LOOP, "--syx", "dumps", "-s", "S hello", "-s", "N 3C 40", cwd=work)
        check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
        status, out, err = run(binary, *LOOP, "--syx=dumps", "-s", "S \\01", cwd=work)
        check(status == 0, "second run: status %d" % status)
        dumps = os.path.join(work, "dumps")
        check(sorted(os.listdir(dumps)) == ["0000.syx", "0001.syx"], "files: %s" % os.listdir(dumps))
        with open(os.path.join(dumps, "0000.syx"), "rb") as f:
            check(f.read() == HELLO, "0000.syx is not F0 7D 68 65 6C 6C 6F F7")
        with open(os.path.join(dumps, "0001.syx"), "rb") as f:
            check(f.read() == b"\xf0\x7d\x01\xf7", "0001.syx is wrong")
        with open(os.path.join(work, "plain"), "w"):
            pass
        status, out, err = run(binary, *LOOP, "--syx", "plain", "-s", "S hi", cwd=work)
        check(status == 2 and out == "" and "--syx: the folder 'plain': not a folder" in err, "%d %r" % (status, err))
        os.mkdir(os.path.join(work, "full"))
        open(os.path.join(work, "full", "999999999999999999.syx"), "w").close()
        status, out, err = run(binary, *LOOP, "--syx", "full", "-s", "S hi", cwd=work)
        check(status == 2 and "'full': its highest number leaves none for a new file" in err, "%d %r" % (status, err))
        # a start that fails leaves nothing it made behind
        status, out, err = run(binary, *LOOP, "--syx", "newdir", "--smf", "/nonexistent/x.mid", "-s", "S hi", cwd=work)
        check(status == 2 and not os.path.exists(os.path.join(work, "newdir")), "%d %r" % (status, err))


def test_two_runs_capture_into_one_folder(binary):
    """Two runs at once, 200 SysEx each, into one --syx folder: 400 files,
    numbered on without a gap, each message whole in one of them."""
    with scratch_dir("syx2") as work:
        runs = []
        for who in "AB":
            lines = []
            for i in range(200):
                lines += ["-s", "S %s%03d" % (who, i)]
            runs.append(subprocess.Popen([os.path.abspath(binary)] + LOOP + ["--syx", "d"] + lines, cwd=work,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True))
        for p in runs:
            _, err = p.communicate(timeout=120)
            check(p.returncode == 0 and not err, "a run ended with %d: %r" % (p.returncode, err))
        names = sorted(os.listdir(os.path.join(work, "d")))
        check(names == ["%04d.syx" % i for i in range(400)], "files: %d, %r ..." % (len(names), names[:5]))
        got = set()
        for name in names:
            with open(os.path.join(work, "d", name), "rb") as f:
                got.add(f.read())
        want = {b"\xf0\x7d" + ("%s%03d" % (who, i)).encode() + b"\xf7" for who in "AB" for i in range(200)}
        check(got == want, "%d messages missing" % len(want - got))


def test_a_cut_sysex_typed_in_byte_mode(binary):
    """F0 7D 61 62 90 3C 40 typed in mode 2: the note cuts the SysEx off,
    which is shown as cut and recorded as its bytes came."""
    with Session(binary, args=LOOP) as s:
        s.expect("(change with CTRL-G)\n")
        s.record()
        s.send(ctrl("e"))
        s.expect("mode 2: type HEX BYTES- display MIDI MSG\n")
        for key in "F0 7D 61 62 90 3C 40 ":   # as typed: what arrives shows between the keys
            s.send(key)
            time.sleep(0.02)
        s.expect("  SysEx( 7d ) ab (cut off)\n")
        s.expect("  MIDI Note ON     90 3c 40  ( C 3 )\n")
        s.send(fkey(12))
        s.expect("-Rec File Closed\n")
        rec = read_file(os.path.join(s.workdir, "VOLTANIS.REC"))
        check(rec == b"\xf0\x7d\x61\x62\x90\x3c\x40", "record file: %r" % rec)
        s.exit_via_prompt()


def test_gap_after_each_f7(binary):
    """Five SysEx messages sent fast with --gap 50 take at least 200 ms (a
    bound from below: a slow machine only makes it longer)."""
    dump = b"".join(b"\xf0\x7d" + bytes([0x41 + i]) + b"\xf7" for i in range(5))
    with Session(binary, args=LOOP + ["--gap", "50"], files={"five.syx": dump}) as s:
        s.expect("(change with CTRL-G)\n")
        s.send(fkey(7))
        s.expect("and finish with <ENTER>:\n")
        began = time.monotonic()
        s.send("five.syx" + ENTER)
        s.expect("Ready\n")
        took = time.monotonic() - began
        check(took >= 0.2, "five SysEx with --gap 50 took %.3f s" % took)
        s.expect("  SysEx( 7d ) A EOX\n")
        s.exit_via_prompt()


def test_smf_logs_what_arrives(binary):
    with scratch_dir("smf") as work:
        log = os.path.join(work, "log.mid")
        with Session(binary, workdir=work, args=LOOP + ["--smf", "log.mid"]) as s:
            s.expect("(change with CTRL-G)\n")
            for note in ("3C", "3E", "40"):
                s.send("N %s 40%s" % (note, ENTER))
                s.expect("  MIDI Note ON     90 %s 40" % note.lower())
                time.sleep(0.1)
            s.send("S hello" + ENTER)
            s.expect("SysEx( 7d ) hello EOX\n")
            s.exit_via_prompt()
        with open(log, "rb") as f:
            data = f.read()
        notes = notes_on(data)
        check([n for _, n in notes] == [0x3C, 0x3E, 0x40], "notes in the log: %r" % notes)
        check(notes[0][0] < notes[1][0] < notes[2][0], "not at increasing times: %r" % notes)
        _, tracks = read_smf(data)
        check((tracks[0][-1][1]) == b"\xf0" + HELLO[1:], "the SysEx is not last: %r" % tracks[0][-1:])

        # an existing file stays without --force (the rest of --force: unit tests)
        status, _, err = run(binary, *LOOP, "--smf", log, "-s", "N 3C 40")
        check(status == 2 and "exists (--force replaces it)" in err, "no --force: %d %r" % (status, err))
        with open(log, "rb") as f:
            check(f.read() == data, "the existing file was changed")



def test_smf_in_the_order_of_arrival(binary):
    """The screen shows the short messages before a SysEx that came while
    they waited; the log keeps the order they arrived in, and a line whose
    time is earlier than the line above it is marked."""
    with scratch_dir("order") as work:
        status, out, err = run(binary, *LOOP, "-t", "--smf", "o1.mid", "-s", "S hello", "-s", "N 3C 40",
                               "-s", "S world", "-s", "N 3E 40", cwd=work)
        check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
        with open(os.path.join(work, "o1.mid"), "rb") as f:
            _, tracks = read_smf(f.read())
        got = [ev for _, ev in tracks[0] if ev[0] != 0xFF]
        check(got == [b"\xf0\x7dhello\xf7", b"\x90\x3c\x40", b"\xf0\x7dworld\xf7", b"\x90\x3e\x40"],
              "the log's order: %r" % got)
        lines = re.findall(r"^ {0,4}(\d+\.\d{4})([ ^]) ", out, re.M)
        check(len(lines) == 4, "not four timed lines:\n%s" % out)
        for (above, _), (time_, mark) in zip(lines, lines[1:]):
            check((mark == "^") == (float(time_) < float(above)),
                  "%s after %s marked %r:\n%s" % (time_, above, mark, out))


def test_smf_never_replaces_what_another_run_writes(binary):
    """A log another run writes, or the record file it records, is never
    replaced, not even with --force (the rest of the refusals: unit tests)."""
    with scratch_dir("force") as work, scratch_dir("other") as other:
        with Session(binary, workdir=work, args=LOOP + ["--smf", "same.mid"]) as s:
            s.expect("(change with CTRL-G)\n")
            s.record()
            for name in ("same.mid", "VOLTANIS.REC"):
                status, out, err = run(binary, *LOOP, "-C", other, "--smf", os.path.join(work, name), "--force",
                                       "-s", "N 3E 40")
                check(status == 2 and err.endswith("': in use by another run or program, never replaced\n"),
                      "%s: status %d, stderr %r" % (name, status, err))
            s.send("N 3C 40" + ENTER)
            s.expect("  MIDI Note ON     90 3c 40")
            s.exit_via_prompt()
        with open(os.path.join(work, "same.mid"), "rb") as f:
            check([n for _, n in notes_on(f.read())] == [0x3C], "the first run's log is not its own")


if __name__ == "__main__":
    run_tests()
