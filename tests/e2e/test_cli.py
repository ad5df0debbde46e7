"""The command line of the real program: help and version, the port lists,
ports chosen by name, the one-shot sender and its exit status, and the
folder of the program's files."""

import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import (ENTER, LOOPBACK, Piped, Session, check, ctrl, fkey, run_tests, scratch_dir,
                   status_report)

NOTE_ON = "  MIDI Note ON     90 3c 40  ( C 3 )\n"
EXIT_PROMPT = "EXIT? <ENTER>=exit  <SPACE>=continue"
UNREAD_STDIN = "voltanis: standard input was not read: the keys were the --send lines\n"


def run(binary, *args, stdin=b"", cwd=None):
    """The program with these arguments, standard input from stdin;
    returns (status, stdout, stderr)."""
    if cwd is None:
        with scratch_dir("cli") as cwd:
            return run(binary, *args, stdin=stdin, cwd=cwd)
    r = subprocess.run([os.path.abspath(binary)] + list(args), input=stdin, capture_output=True,
                       cwd=cwd, timeout=20, start_new_session=True)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")


def loopback_numbers(binary):
    """The loopback's numbers (out, in) as --list gives them."""
    _, out, _ = run(binary, "--list")
    outs, ins = out.split("MIDI IN ports:\n")
    pattern = r"^ +(\d+)  %s$" % LOOPBACK
    return int(re.search(pattern, outs, re.M).group(1)), int(re.search(pattern, ins, re.M).group(1))


def test_help_and_version(binary):
    for args in (["-h"], ["--help"]):
        status, out, err = run(binary, *args)
        check(status == 0 and err == "", "%s: status %d, stderr %r" % (args, status, err))
        check(out.startswith("Usage: voltanis [OPTION]...\n") and "--send=LINE" in out,
              "%s printed %r" % (args, out))
    for args in (["-V"], ["--version"]):
        status, out, err = run(binary, *args)
        check(status == 0 and err == "", "%s: status %d, stderr %r" % (args, status, err))
        check(re.fullmatch(r"voltanis \d+\.\d+\.\d+\n", out) is not None, "%s printed %r" % (args, out))


def test_wrong_command_lines(binary):
    for args, message in ((["--bogus"], "unrecognized option '--bogus'"),
                          (["-o"], "option requires an argument -- 'o'"),
                          (["--send"], "option '--send' requires an argument"),
                          (["ports"], "unexpected argument 'ports'"),
                          (["--virtual="], "--virtual: an empty port name")):
        status, out, err = run(binary, *args)
        check(status == 2 and out == "", "%s: status %d, stdout %r" % (args, status, out))
        first, rest = err.split("\n", 1)
        check(first == "voltanis: " + message, "%s: first line %r" % (args, first))
        check(rest.startswith("Usage: voltanis"), "%s: no usage after the error: %r" % (args, rest))


def test_list_names_the_loopback_under_both_headings(binary):
    for flag in ("-l", "--list"):
        status, out, err = run(binary, flag)
        check(status == 0 and err == "", "%s: status %d, stderr %r" % (flag, status, err))
        m = re.fullmatch(r"MIDI OUT ports:\n((?:.*\n)+)MIDI IN ports:\n((?:.*\n)+)", out)
        check(m is not None, "%s: not two lists under their headings:\n%s" % (flag, out))
        for section in m.groups():
            check(re.search(r"^ +\d+  %s$" % LOOPBACK, section, re.M) is not None,
                  "%s: no line for the loopback in:\n%s" % (flag, section))


def test_one_shot_on_a_terminal(binary):
    """Ports by name, the line sent and its answer shown, no question, and
    the terminal as it was."""
    with Session(binary, args=["-v", "-o", "loop", "-i", "LOOP", "-s", "N 3C 40"]) as s:
        s.expect("type ? for a short list of commands\n\n")
        s.expect_next("Selection:\n")
        s.expect_next(status_report(*loopback_numbers(binary)))
        s.expect_next("N 3C 40\n" + NOTE_ON)
        s.expect_next(EXIT_PROMPT + "\n")
        s.expect_exit(0)
        s.expect_terminal_restored()


def test_one_input_given_many_times_is_taken_once(binary):
    """-i 64 times the same port: one input, its lines untagged, each
    message once."""
    args = ["-o", "loop", "-s", "N 3C 40"]
    for _ in range(64):
        args += ["-i", "loop"]
    status, out, err = run(binary, *args)
    check(status == 0 and err == "", "status %d, stderr %r\n%s" % (status, err, out[-2000:]))
    check(out.count(NOTE_ON) == 1, "not one untagged note:\n%s" % out[-2000:])


def test_virtual_without_a_sequencer_says_why(binary):
    """Where no port can be offered (winmm, or no ALSA sequencer), the
    reason and status 2."""
    if os.path.exists("/dev/snd/seq"):
        return
    status, out, err = run(binary, "--virtual", "-s", "N 3C 40")
    check(status == 2 and out == "", "status %d, stdout %r" % (status, out))
    check("cannot offer a port to other programs" in err and "Voltanis Loopback" in err, "stderr %r" % err)


def test_one_shot_lines_in_order_and_the_keyboard_not_read(binary):
    status, out, err = run(binary, "-v", "--out=loop", "--in", "loop", "--send", "N 3C 40", "-sS hello",
                           stdin=b"N 3C 41\n")
    check(status == 0 and err == UNREAD_STDIN, "status %d, stderr %r\n%s" % (status, err, out[-2000:]))
    # as from a pipe: the lines, then what came back meanwhile
    check(out.endswith("N 3C 40\nS hello\n" + NOTE_ON + "  SysEx( 7d ) hello EOX\n" + EXIT_PROMPT + "\n"),
          "the lines and their answers are not shown in order:\n%s" % out[-2000:])
    check("3C 41" not in out and "Select MIDI" not in out, "read the keyboard:\n%s" % out[-2000:])


def test_one_shot_and_piped_input_end_with_1_after_a_failed_line(binary):
    status, out, err = run(binary, "-v", "-s", "N 3C 40", "-s", "N 3C 40 X", "-s", "S hi")
    check(status == 1, "a failed line among three: status %d\n%s" % (status, out[-2000:]))
    check("N 3C 40\nN 3C 40 X\n DATA1 ERROR\nS hi\n" + NOTE_ON + "  SysEx( 7d ) hi EOX\n" in out,
          "the error or the next line is missing:\n%s" % out[-2000:])
    status, out, _ = run(binary, "-s", "N 3C 40 X")
    check(status == 1, "-s 'N 3C 40 X': status %d\n%s" % (status, out[-2000:]))
    with Piped(binary, "N 3C 40\nN 3C 40 X\n") as p:
        check(p.returncode == 1, "piped: status %d\n%s" % (p.returncode, p.text[-2000:]))
        check(" DATA1 ERROR\n" in p.text, "piped: no error shown:\n%s" % p.text[-2000:])


def test_no_such_port_lists_the_candidates(binary):
    for flag, heading in (("-o", "MIDI OUT"), ("--in", "MIDI IN")):
        status, out, err = run(binary, flag, "nosuchport", "-s", "N 3C 40")
        check(status == 2 and out == "", "%s nosuchport: status %d, stdout %r" % (flag, status, out))
        check(err.startswith("voltanis: no %s port is 'nosuchport'; the %s ports are:\n" % (heading, heading)),
              "%s nosuchport: %r" % (flag, err))
        check(re.search(r"^ +\d+  %s$" % LOOPBACK, err, re.M) is not None,
              "%s nosuchport: the loopback is not among the candidates: %r" % (flag, err))


def test_dir_holds_preset_record_and_send_files(binary):
    """-C: the record file, the preset and a send file by a relative name
    are in that folder, not in the current one; a one-shot run there takes
    the preset and still types in mode 0."""
    with scratch_dir("cwd") as work, scratch_dir("dir") as folder:
        with open(os.path.join(folder, "hello.syx"), "wb") as f:
            f.write(b"\xf0\x7d\x68\x69\xf7")
        with Session(binary, workdir=work, args=["-C", folder, "-o", "loop", "-i", "loop"]) as s:
            s.expect(status_report(*loopback_numbers(binary)))
            s.record()
            s.send("N 3C 40" + ENTER)
            s.expect_next("N 3C 40\n" + NOTE_ON)
            s.send_file("hello.syx")
            s.expect("Ready\n")
            s.expect("  SysEx( 7d ) hi EOX\n")
            s.send(fkey(12))
            s.expect("-Rec File Closed\n")
            s.send(ctrl("r"))
            s.send(ctrl("p"))
            s.expect("preset saved in file VOLTANIS.SET\n")
            s.exit_via_prompt()
        with open(os.path.join(folder, "VOLTANIS.REC"), "rb") as f:
            check(f.read() == b"\x90\x3c\x40\xf0\x7d\x68\x69\xf7", "the record file in the folder is wrong")
        check(os.path.getsize(os.path.join(folder, "VOLTANIS.SET")) == 168, "no preset in the folder")
        check(sorted(os.listdir(work)) == [], "files left in the current folder: %s" % os.listdir(work))

        status, out, err = run(binary, "-v", "--dir=" + folder, "-s", "N 3C 40", cwd=work)
        check(status == 0 and err == "", "one-shot with the preset: status %d, stderr %r" % (status, err))
        check("Preset loaded:" + status_report(*loopback_numbers(binary)) + "N 3C 40\n" + NOTE_ON in out,
              "the preset's mode 3 was not set aside for the line:\n%s" % out[-2000:])

        for name, why in (("missing", "no such folder"), ("hello.syx", "not a folder")):
            status, out, err = run(binary, "-C", os.path.join(folder, name))
            check(status == 2 and err == "voltanis: cannot change to the folder '%s': %s\n"
                  % (os.path.join(folder, name), why), "-C %s: %d %r" % (name, status, err))


def test_a_line_longer_than_511_characters_is_refused_whole(binary):
    for chars, refused in ((511, False), (600, True)):
        line = "S " + "A" * (chars - 2)
        for args, stdin in ((["-v", "-s", line], b""), ([], (line + "\n").encode())):
            status, out, err = run(binary, "-o", "loop", "-i", "loop", *args, stdin=stdin)
            what = "%s, %d characters" % ("piped" if stdin else "-s", chars)
            check(status == refused and err == "", "%s: status %d, stderr %r" % (what, status, err))
            check((" LINE TOO LONG ERROR\n" in out) == refused and ("SysEx( 7d ) " in out) != refused,
                  "%s: refused or sent wrongly:\n%s" % (what, out[-300:]))


def test_floods_from_a_pipe_or_the_command_line_are_shown_whole(binary):
    loop = ["-o", "loop", "-i", "loop"]
    cc, sysex = "  Control Change   b0  1  2\n", "  SysEx( 7d ) hello EOX\n"
    for what, args, stdin, shown, count in (("20,000 piped lines", loop, b"K 1 2\n" * 20000, cc, 20000),
                                            ("10,000 -s lines", loop + ["-s", "K 1 2"] * 10000, b"", cc, 10000),
                                            ("3,000 piped SysEx", loop, b"S hello\n" * 3000, sysex, 3000)):
        status, out, err = run(binary, *args, stdin=stdin)
        check(status == 0 and err == "" and out.count(shown) == count and "lost" not in out,
              "%s: status %d, %d of %d shown\n%s" % (what, status, out.count(shown), count, out[-500:]))


if __name__ == "__main__":
    run_tests()
