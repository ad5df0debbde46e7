"""The real program ended from outside while it records: SIGTERM, SIGHUP,
CTRL-C, the terminal hanging up, and standard input closing in the middle
of a line.  Every message shown was written to the record file before it
was shown, so the file must hold at least every message shown, in order,
and nothing else but at most the one message in flight; the MIDI file log
must be brought up to date before the end, valid to a strict reader with
every message shown inside its track; the terminal must be left as it
was; and a closed input ends the program through the exit prompt with
status 0."""

import os
import select
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smfread import read_smf  # noqa: E402
from vtpty import (ENTER, EXIT_PROMPT, Failure, LOOPBACK, Session, check, read_file, run_tests,
                   scratch_dir, status_report)

NOTE_ON = "  MIDI Note ON     90 %x 40  ( %s )\n"
CLASSES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "Bb", "B"]


def note_name(n):
    o = n // 12 - 2
    c = CLASSES[n % 12]
    return "%s%d" % (c, o) if o < 0 else c if o == 0 else "%s %d" % (c, o)


def preset_record():
    """A preset naming the loopback both ways, so no selection is asked."""
    name = LOOPBACK.encode().ljust(64, b"\0")
    return bytes([6, 0, 0, 16, 0x7D, 0xFF, 0xFF, 0xFF]) + name + name + b"\0" * 32


PRESET = {"VOLTANIS.SET": preset_record()}


def preset(workdir):
    with open(os.path.join(workdir, "VOLTANIS.SET"), "wb") as f:
        f.write(preset_record())


def record_file(s):
    with open(os.path.join(s.workdir, "VOLTANIS.REC"), "rb") as f:
        return f.read()


def started_recording(s):
    """The session must have been started with the preset in place."""
    s.expect("Preset loaded:")
    s.expect_next(status_report())
    s.record()


def notes_shown(text):
    """The notes of the note-on lines printed whole (a last line still being
    printed is left out)."""
    shown = []
    for line in text.split("\n")[:-1]:
        if line.startswith("  MIDI Note ON     90 "):
            shown.append(int(line.split()[4], 16))
    return shown


def check_file_holds(data, shown, what):
    """The file is whole messages 90 nn 40, the shown ones first and in
    order, and at most one more, possibly cut (it was being written when
    the program was stopped)."""
    want = b"".join(bytes([0x90, n, 0x40]) for n in shown)
    check(data[:len(want)] == want,
          "%s: the file does not hold the %d messages shown (%d bytes, first difference at %s)"
          % (what, len(shown), len(data), next((i for i in range(min(len(data), len(want)))
                                                 if data[i] != want[i]), min(len(data), len(want)))))
    check(len(data) <= len(want) + 3, "%s: %d bytes in the file beyond the %d messages shown"
          % (what, len(data) - len(want), len(shown)))


def logged(s, what):
    """The messages of the session's log.mid, read strictly (a ValueError
    when not valid); its track ends where the file does."""
    data = read_file(os.path.join(s.workdir, "log.mid"))
    check(22 + int.from_bytes(data[18:22], "big") == len(data), "%s: the track is not the whole file" % what)
    return [ev for _, ev in read_smf(data)[1][0] if ev[0] != 0xFF]


def typed_notes(s, count):
    """Typed note-ons: each goes out of the loopback and comes back in."""
    for n in range(count):
        s.send("N %x 40%s" % (0x30 + n, ENTER))
        s.expect(NOTE_ON % (0x30 + n, note_name(0x30 + n)))
    return [0x30 + n for n in range(count)]


def test_sigterm_and_sighup_while_recording(binary):
    for sig in (signal.SIGTERM, signal.SIGHUP):
        with Session(binary, files=PRESET) as s:
            started_recording(s)
            shown = typed_notes(s, 5)
            s.send("S hello" + ENTER)
            s.expect("  SysEx( 7d ) hello EOX\n")
            s.quiet(0.3)
            os.kill(s.pid, sig)
            try:
                s.expect_signal(sig)
                s.expect_terminal_restored()
            except Failure as e:
                raise Failure("%s: %s" % (signal.Signals(sig).name, e))
            want = b"".join(bytes([0x90, n, 0x40]) for n in shown) + b"\xf0\x7dhello\xf7"
            got = record_file(s)
            check(got == want, "%s: record file %r, want %r" % (signal.Signals(sig).name, got, want))


def test_signals_bring_the_log_up_to_date(binary):
    """CTRL-C, SIGTERM and SIGHUP 0.3 s after the last message came back:
    both messages inside the log's track."""
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        name = signal.Signals(sig).name
        with Session(binary, files=PRESET, args=["--smf", "log.mid"]) as s:
            s.expect("Preset loaded:")
            s.send("N 3C 40" + ENTER)
            s.expect(NOTE_ON % (0x3C, "C 3"))
            s.send("S hello" + ENTER)
            s.expect("  SysEx( 7d ) hello EOX\n")
            time.sleep(0.3)
            if sig == signal.SIGINT:
                s.send("\x03")
            else:
                os.kill(s.pid, sig)
            try:
                s.expect_signal(sig)
                s.expect_terminal_restored()
            except Failure as e:
                raise Failure("%s: %s" % (name, e))
            got = logged(s, name)
            check(got == [b"\x90\x3c\x40", b"\xf0\x7dhello\xf7"], "%s: the log holds %r" % (name, got))


def test_signal_during_a_flood(binary):
    """A send file of 3,000 note-ons comes back through the loopback while
    recording; the program is stopped in the middle of the flood."""
    for sig in (signal.SIGTERM, signal.SIGHUP):
        with Session(binary, files=PRESET) as s:
            started_recording(s)
            with open(os.path.join(s.workdir, "flood.mid"), "wb") as f:
                f.write(b"".join(bytes([0x90, n % 128, 0x40]) for n in range(3000)))
            s.send_file("flood.mid")
            end = time.monotonic() + 20
            while len(notes_shown(s.text())) < 300:
                check(time.monotonic() < end, "the flood did not come back\n" + s.screen())
                s.quiet(0.05)
            os.kill(s.pid, sig)
            s.expect_signal(sig, timeout=20)
            s.expect_terminal_restored()
            shown = notes_shown(s.text())
            check(shown == [n % 128 for n in range(len(shown))], "messages shown out of order")
            check_file_holds(record_file(s), shown, signal.Signals(sig).name)


def test_terminal_hangs_up_mid_line_while_recording(binary):
    """The terminal goes away (its other end closed) with a line half
    typed: the program ends, the record file keeps what was shown."""
    with Session(binary, files=PRESET) as s:
        started_recording(s)
        shown = typed_notes(s, 3)
        s.send("N 3C")
        s.expect("N 3C")
        os.close(s.master)
        s.master = None
        end = time.monotonic() + 10
        while s.status is None:
            pid, st = os.waitpid(s.pid, os.WNOHANG)
            if pid == s.pid:
                s.status = st
            check(time.monotonic() < end, "the program did not end when its terminal hung up")
            time.sleep(0.05)
        check(os.WIFSIGNALED(s.status) and os.WTERMSIG(s.status) == signal.SIGHUP
              or os.WIFEXITED(s.status) and os.WEXITSTATUS(s.status) == 0,
              "hangup: ended with status 0x%x" % s.status)
        check(record_file(s) == b"".join(bytes([0x90, n, 0x40]) for n in shown),
              "hangup: record file %r" % record_file(s))


def test_piped_input_closing_mid_line(binary):
    """Standard input a pipe that ends in the middle of a command line,
    after the typed notes came back and were recorded: the half line is not
    sent, the program leaves through the exit prompt with status 0, and the
    record file holds every message shown."""
    for tail in (b"N 3C", b"S hel", b"N 3C 40 N", b"\x00"):
        with scratch_dir("work") as workdir:
            preset(workdir)
            p = subprocess.Popen([os.path.abspath(binary)], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 cwd=workdir, start_new_session=True)
            out = b""
            try:
                p.stdin.write(b"\x00\x43" + b"".join(b"N %x 40\r" % (0x30 + n) for n in range(4)))
                p.stdin.flush()
                end = time.monotonic() + 10
                while len(notes_shown(out.decode("latin-1"))) < 4:
                    check(time.monotonic() < end, "%r: the notes did not come back:\n%r" % (tail, out[-2000:]))
                    if select.select([p.stdout], [], [], 0.2)[0]:
                        out += os.read(p.stdout.fileno(), 65536)
                p.stdin.write(tail)
                p.stdin.close()
                end = time.monotonic() + 10
                while True:
                    check(time.monotonic() < end, "%r: the program did not end at the end of its input" % tail)
                    if select.select([p.stdout], [], [], 0.2)[0]:
                        chunk = os.read(p.stdout.fileno(), 65536)
                        if not chunk:
                            break
                        out += chunk
                code = p.wait(10)
            finally:
                if p.poll() is None:
                    p.kill()
                    p.wait()
            text = out.decode("latin-1")
            check(code == 0, "%r: exit status %d\n%r" % (tail, code, text[-2000:]))
            check(text.rstrip(" \r\n").endswith(EXIT_PROMPT),
                  "%r: does not end at the exit prompt:\n%r" % (tail, text[-2000:]))
            check("ERROR" not in text, "%r: an error was printed:\n%r" % (tail, text[-2000:]))
            shown = notes_shown(text)
            check(shown == [0x30, 0x31, 0x32, 0x33], "%r: shown %r" % (tail, shown))
            with open(os.path.join(workdir, "VOLTANIS.REC"), "rb") as f:
                data = f.read()
            check(data == b"".join(bytes([0x90, n, 0x40]) for n in shown),
                  "%r: record file %r" % (tail, data))


if __name__ == "__main__":
    run_tests()
