"""First behaviours of the whole program on a terminal: banner, status
report, help screen, mode and filter keys as typed and as function keys of
several terminals, the exit prompt both ways, and the terminal left as it
was however the program ends."""

import os
import signal
import sys
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import (ENTER, EXIT_PROMPT, Failure, Piped, Session, check, ctrl, fkey, run_tests,
                   started, status_report)

HELP = "".join([
    "\nshort list of commands: (letters case insensitive, parameters hex or decimal)\n",
    "-------------------------------------------------------------------------\n",
    "enter MESSAGE type - then DATA bytes: separated by SPACE, terminated by ENTER:\n",
    "M  set MIDI channel of Msg: 1...16(hex10)\nX  send NOTE OFF\n",
    "N  send NOTE ON 1.data=value, 2.data=velocity. Example: n45 40<ENTER>\n",
    "Y  send POLY KEY PRESSURE\n",
    "K  send CONTROL CHANGE 1.data=controller number, 2.data=value\n",
    "P  send PROGRAM CHANGE, data byte 0...127(hex7F) ------ NOT 1...128 !\n",
    "Z  send CHANNEL PRESSURE\n",
    "W  send PITCH WHEEL CHANGE 1.data=LSB, 2.data=MSB\n",
    "F  send div. MIDI Realtime 1.data(in HEX!)=lowNibble=type, 2.+ 3.data=optional\n",
    "S  send SYSEX text or \\<hex byte>. Terminated by <ENTER>. EOX auto-inserted\n",
    "I  set manufacturer ID. 3 bytes, ID+FF FF=1byte ID - default:private 7D FF FF\n",
    "$ (default)  enter numbers in HEX, & enter numbers in DECIMAL\n",
    "CTRL-QWER or KEY F1-F4  change I/O mode,\n",
    "CTRL-A or KEY F5  repeats transmission of last MIDI Message\n",
    "CTRL-B blocks Timing Clock and Active Sensing(default),CTRL-G releases blocking\n",
    "KEY F6 Send File Slowly, KEY F7 Send File Fast, KEY F8 Abort Transmission\n",
    "KEY F9 Start or Continue Receive_Rec while displayed, Key F10 same w/o display\n",
    "KEY F11 Pause Receive_Rec, KEY F12 Close Record File (VOLTANIS.REC)\n",
    "CTRL-N change MIDIport, CTRL-P save config as Preset (VOLTANIS.SET)\n",
])

MODE = {
    0: "\nmode 0: type MIDI MSG - display MIDI MSG\n",
    1: "\nmode 1: type MIDI MSG - display HEX BYTES\n",
    2: "\nmode 2: type HEX BYTES- display MIDI MSG\n",
    3: "\nmode 3: type HEX BYTES- display HEX BYTES\n",
}
BLOCKED = "display of Timing Clock and Active Sensing blocked\n"
RELEASED = "Timing Clock and Active Sensing are displayed\n"


def test_banner_and_status_report(binary):
    with Session(binary) as s:
        head = s.expect("type ? for a short list of commands\n\n")
        banner, rest = head.split("\n", 1) if "\n" in head else (head, "")
        check("Voltanis" in banner, "the first line does not name Voltanis: %r" % banner)
        low = banner.lower()
        check("as is" in low and "warranty" in low,
              "the banner does not say it comes as is, without warranty: %r" % banner)
        check(rest == "\n", "the banner is not followed by one empty line: %r" % head)
        ports = s.start()
        before = s.text()[:s.pos]
        if "Select MIDI OUT device:" in before:
            check(before.endswith("Selection:\n"),
                  "the status report does not follow \"Selection:\": %r" % before[-200:])
        s.expect_next(status_report(*ports))
        rest = s.quiet(0.3)
        check(rest == "", "unexpected output after the status report: %r" % rest)
        s.exit_via_prompt()
        s.expect_terminal_restored()


def test_help_screen(binary):
    with Session(binary) as s:
        started(s)
        s.send("?")
        s.expect_next(HELP)
        s.send("?")
        s.expect_next(HELP)
        s.exit_via_prompt()


def test_mode_keys(binary):
    """CTRL-Q, W, E, R and F1..F4, the function keys as sent by several
    terminals."""
    cases = [
        ("CTRL-W", ctrl("w"), 1),
        ("CTRL-E", ctrl("e"), 2),
        ("CTRL-R", ctrl("r"), 3),
        ("CTRL-Q", ctrl("q"), 0),
        ("F2 xterm", fkey(2), 1),
        ("F3 xterm", fkey(3), 2),
        ("F4 xterm", fkey(4), 3),
        ("F1 xterm", fkey(1), 0),
        ("F4 rxvt", "\x1b[14~", 3),
        ("F2 Linux console", "\x1b[[B", 1),
        ("F3 with Shift, xterm", "\x1b[1;2R", 2),
        ("F1 with Ctrl, xterm", "\x1b[1;5P", 0),
        ("F2 old xterm with modifier", "\x1bO2Q", 1),
        ("F1 rxvt", "\x1b[11~", 0),
    ]
    with Session(binary) as s:
        started(s)
        for what, keys, mode in cases:
            s.send(keys)
            try:
                s.expect_next(MODE[mode], timeout=5)
            except Failure as e:
                raise Failure("%s: %s" % (what, e))
        s.exit_via_prompt()


def test_filter_keys(binary):
    with Session(binary) as s:
        started(s)
        for what, key, line in [("CTRL-G", ctrl("g"), RELEASED), ("CTRL-B", ctrl("b"), BLOCKED),
                                ("CTRL-G again", ctrl("g"), RELEASED)]:
            s.send(key)
            try:
                s.expect_next(line, timeout=5)
            except Failure as e:
                raise Failure("%s: %s" % (what, e))
        s.exit_via_prompt()


def test_unknown_keys_leave_no_trace(binary):
    """Cursor keys, unknown sequences and Alt combinations print nothing;
    the help key right after them still works."""
    with Session(binary) as s:
        started(s)
        s.send("\x1b[A\x1b[6~\x1b[99~\x1b[200~")
        s.send("\x1bx")                  # Alt-x
        s.send("?")
        s.expect_next(HELP)
        s.exit_via_prompt()


def test_esc_then_space_continues(binary):
    with Session(binary) as s:
        ports = started(s)
        s.send(ctrl("r"))
        s.expect_next(MODE[3])
        s.esc()
        s.expect_next(EXIT_PROMPT)
        s.send(" ")
        # the prompt stays, the report starts at the line's beginning; the
        # ports are the same, the mode is kept and no selection is asked
        s.expect_next("\r" + status_report(
            *ports, mode_line="\nVOLTANIS mode 3:type BYTES - display BYTES (change with CTRL-Q,W,E,R)\n"))
        s.send("?")
        s.expect_next(HELP)
        s.exit_via_prompt()
        s.expect_terminal_restored()


def test_esc_then_enter_exits(binary):
    with Session(binary) as s:
        started(s)
        s.esc()
        s.expect_next(EXIT_PROMPT)
        s.send(ENTER)
        s.expect_exit(0)
        s.expect_terminal_restored()
        # the prompt's line is ended, so the shell's prompt starts afresh
        check(s.text().endswith(EXIT_PROMPT + "\n"), "ends with %r" % s.text()[-60:])


def test_signals_leave_the_terminal_as_it_was(binary):
    cases = [
        ("CTRL-C", ctrl("c"), None, signal.SIGINT),
        ("CTRL-\\", "\x1c", None, signal.SIGQUIT),
        ("SIGTERM", None, signal.SIGTERM, signal.SIGTERM),
        ("SIGHUP", None, signal.SIGHUP, signal.SIGHUP),
        ("SIGPIPE", None, signal.SIGPIPE, signal.SIGPIPE),
        ("SIGABRT", None, signal.SIGABRT, signal.SIGABRT),
    ] + [(signal.Signals(sig).name if sig < signal.SIGRTMIN else "SIGRTMIN+3", None, sig, sig)
         for sig in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM, signal.SIGXCPU, signal.SIGVTALRM,
                     signal.SIGPROF, signal.SIGTRAP, signal.SIGSYS, signal.SIGIO, signal.SIGRTMIN + 3)]
    for what, key, sig, ending in cases:
        with Session(binary) as s:
            started(s)
            raw = s.stty_now()
            check(raw != s.stty_before, "%s: the terminal was not put in raw mode" % what)
            if key:
                s.send(key)
            else:
                os.kill(s.pid, sig)
            try:
                s.expect_signal(ending)
                s.expect_terminal_restored()
            except Failure as e:
                raise Failure("%s: %s" % (what, e))


def test_raw_mode_flags(binary):
    with Session(binary) as s:
        started(s)
        flags = s.stty_now("-a").replace("\n", " ").split()
        for want in ["-icanon", "-echo", "-ixon", "-icrnl", "-iexten", "isig", "opost", "onlcr"]:
            check(want in flags, "terminal flag %s missing while running: %s" % (want, " ".join(flags)))
        s.exit_via_prompt()
        s.expect_terminal_restored()


def test_suspend_and_resume(binary):
    """CTRL-Z gives the terminal back as it was while stopped; on resume
    raw mode returns and the keys work again."""
    with Session(binary, job_control=True) as s:
        started(s)
        s.send(ctrl("z"))
        end = time.monotonic() + 10
        while s.state() != "T":
            check(time.monotonic() < end, "CTRL-Z did not stop the program")
            time.sleep(0.02)
        s.expect_terminal_restored()
        os.kill(s.pid, signal.SIGCONT)
        while s.stty_now() == s.stty_before:
            check(time.monotonic() < end, "raw mode did not come back after SIGCONT")
            time.sleep(0.02)
        s.send("?")
        s.expect_next(HELP)
        s.exit_via_prompt()
        s.expect_terminal_restored()


def test_piped_input(binary):
    """A pipe as the keyboard: keys as they come, and at its end the
    program leaves through the exit prompt with status 0."""
    with Piped(binary, b"") as p:
        check(p.returncode == 0, "empty input: exit status %d\n%r" % (p.returncode, p.text[-2000:]))
        check(p.text.rstrip(" \r\n").endswith(EXIT_PROMPT),
              "empty input: does not end at the exit prompt:\n%r" % p.text[-2000:])
    # no preset here, and no port question either: nobody could answer it
    with Piped(binary, "?" + "\x12") as p:
        check(p.returncode == 0, "help: exit status %d" % p.returncode)
        check(HELP in p.text, "help screen missing from piped run:\n%r" % p.text[-3000:])
        check(MODE[3] in p.text, "CTRL-R missing from piped run:\n%r" % p.text[-3000:])


if __name__ == "__main__":
    run_tests()
