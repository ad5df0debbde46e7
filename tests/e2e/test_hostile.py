"""The real program against what a hostile or careless user can set up:
closed standard descriptors, a file size limit, the terminal and a pipe
that waits for its writer as send files, names that hold control
characters, and text beyond ASCII, piped and typed.  Nothing may hang and
no wrong message may be sent."""

import os
import stat
import subprocess
import sys

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import (ENTER, EXIT_PROMPT, Failure, LOOPBACK, Piped, Session, check, ctrl, fkey,
                   read_file, run_tests, scratch_dir, status_report)


def preset_record(send_name=b""):
    """A preset naming the loopback both ways, so no selection is asked."""
    name = LOOPBACK.encode().ljust(64, b"\0")
    return bytes([6, 0, 0, 16, 0x7D, 0xFF, 0xFF, 0xFF]) + name + name + send_name.ljust(32, b"\0")[:32]


PRESET = {"VOLTANIS.SET": preset_record()}


def loaded(s):
    s.expect("Preset loaded:")
    s.expect_next(status_report())


def test_closed_standard_descriptors_end_like_an_empty_pipe(binary):
    """`voltanis <&-` ends through the exit prompt with status 0; so does a
    run with all three standard descriptors closed."""
    for closed in ((0,), (0, 1, 2)):
        with scratch_dir("work") as workdir:
            out_r, out_w = os.pipe()

            def child():
                os.dup2(out_w, 3)           # where the output would have gone
                for fd in closed:
                    os.close(fd)

            p = subprocess.Popen([os.path.abspath(binary)], stdin=subprocess.DEVNULL,
                                 stdout=out_w, stderr=out_w, cwd=workdir, preexec_fn=child,
                                 start_new_session=True, close_fds=True)
            os.close(out_w)
            try:
                code = p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise Failure("closed %r: the program did not end" % (closed,))
            out = b""
            while True:
                chunk = os.read(out_r, 65536)
                if not chunk:
                    break
                out += chunk
            os.close(out_r)
            check(code == 0, "closed %r: exit status %d" % (closed, code))
            if 1 not in closed:
                check(out.decode("latin-1").endswith(EXIT_PROMPT),
                      "closed %r: does not end at the exit prompt: %r" % (closed, out[-300:]))


def test_file_size_limit_is_a_write_error(binary):
    """Under a file size limit, recording past it prints the write error and
    the program goes on."""
    notes = b"".join(bytes([0x90, n % 128, 0x40]) for n in range(700))
    with scratch_dir("work") as workdir:
        wrapper = os.path.join(workdir, "limited.sh")
        with open(wrapper, "w") as f:
            f.write("#!/bin/sh\nulimit -f 1\nexec '%s'\n" % os.path.abspath(binary))
        os.chmod(wrapper, stat.S_IRWXU)
        with Session(wrapper, workdir=workdir, files=dict(PRESET, **{"notes.mid": notes})) as s:
            loaded(s)
            s.record()
            s.send_file("notes.mid")
            s.expect("Ready\n")
            s.expect("Record File Write Error!\n", timeout=20)
            s.quiet(0.5)
            s.send("N 3C 40" + ENTER)
            s.expect("  MIDI Note ON     90 3c 40  ( C 3 )\n")
            s.exit_via_prompt()
        size = len(read_file(os.path.join(workdir, "VOLTANIS.REC")))
        check(0 < size <= 1024, "record file of %d bytes" % size)


def test_sysex_text_beyond_ascii_is_refused(binary):
    rows = [
        (b"S h\xc3\xa9llo\r", True, None),
        (b"S \xe0\xa4\xa0\r", True, None),
        (b"S hello\r", False, "  SysEx( 7d ) hello EOX\n"),
        (b"S h\\41llo\r", False, "  SysEx( 7d ) hAllo EOX\n"),
    ]
    for data, refused, shown in rows:
        with Piped(binary, data) as p:
            lines = [l for l in p.text.split("\n") if l.startswith("  ")]
            if refused:
                check(" SysEx ERROR\n" in p.text, "%r: no SysEx ERROR:\n%r" % (data, p.text[-800:]))
                check(lines == [], "%r: the loopback showed %r" % (data, lines))
            else:
                check(shown in p.text, "%r: not shown:\n%r" % (data, p.text[-800:]))
            # a refused line makes a piped run end with status 1
            want = 1 if refused else 0
            check(p.returncode == want, "%r: exit status %d" % (data, p.returncode))


def send_fast(s, name):
    """F7 and the name typed: asked for at once, or after CTRL-F when a
    name is stored."""
    s.send(fkey(7))
    i, _, _ = s.expect_any(["and finish with <ENTER>:\n", "To select another file type CTRL_F  "])
    if i == 1:
        s.send(ctrl("f"))
        s.expect("and finish with <ENTER>:\n")
    s.send(name + ENTER)
    s.expect(name + "\n")


def test_the_terminal_and_a_waiting_pipe_as_send_files(binary):
    """The terminal is refused as a send file; a FIFO whose writer stays
    open leaves the keyboard free and F8 stops it."""
    with Session(binary, files=PRESET) as s:
        loaded(s)
        for name in ("/dev/tty", "/dev/stdin"):
            send_fast(s, name)
            s.expect_next("Cannot open Send File!\n%s: that is the keyboard, not a file!\n" % name)
        fifo = os.path.join(s.workdir, "fifo")
        os.mkfifo(fifo)
        writer = os.open(fifo, os.O_RDWR)       # a writer that stays
        try:
            os.write(writer, bytes([0x90, 0x3C, 0x40]))
            send_fast(s, "fifo")
            s.expect_next("-Sending .")
            s.quiet(0.5)
            s.send(fkey(8))
            s.expect_next("Aborted\n", timeout=2)
        finally:
            os.close(writer)
        s.expect("  MIDI Note ON     90 3c 40  ( C 3 )\n")
        s.send("N 3D 40" + ENTER)
        s.expect("  MIDI Note ON     90 3d 40  ( C# 3 )\n")
        s.exit_via_prompt()


def test_names_are_shown_harmlessly(binary):
    """A send file name from a preset with control characters in it: shown
    with '?' in their place, never as a control sequence."""
    files = {"VOLTANIS.SET": preset_record(b"\x1b]0;pwned\x07\x1b[2Jx.mid")}
    with Session(binary, files=files) as s:
        loaded(s)
        s.send(fkey(7))
        s.expect_next("Send file ?]0;pwned??[2Jx.mid 'fast' - confirm with <ENTER>.\n"
                      "To select another file type CTRL_F  ")
        s.send(ENTER)
        s.expect_next("\nCannot open Send File!\n")
        s.exit_via_prompt()
        check("\x1b]" not in s.text() and "\x1b[2J" not in s.text(), "a control sequence reached the terminal")


def test_a_typed_character_is_no_function_key(binary):
    """A character whose UTF-8 form begins with 0xE0 goes into the line
    whole; SysEx text with it fails the line."""
    with Session(binary, files=PRESET) as s:
        loaded(s)
        s.send(b"S \xe0\xa4\xa0")
        s.expect_next("S \xe0\xa4\xa0")
        s.send(ENTER)
        s.expect_next("\n SysEx ERROR\n")
        s.exit_via_prompt()


if __name__ == "__main__":
    run_tests()
