"""Whole sessions of the real program with the loopback port: what is typed
leaves the output port and comes back at the input, decoded or as bytes;
the repeat key; piped input as a one-shot sender; presets across starts;
recording and sending a file."""

import os
import sys

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import (ENTER, Failure, Piped, Session, check, ctrl, fkey, run_tests, scratch_dir,
                   started, status_report)

NOTE_ON = "  MIDI Note ON     90 3c 40  ( C 3 )\n"


def test_typed_message_comes_back_and_repeats(binary):
    with Session(binary) as s:
        started(s)
        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n" + NOTE_ON)
        s.send(ctrl("a"))
        s.expect_next("Repeat:90 3c 40 \n" + NOTE_ON)
        s.send(fkey(5))
        s.expect_next("Repeat:90 3c 40 \n" + NOTE_ON)
        # a line of several messages leaves as one and repeats whole
        s.send("n3c 40 p 05" + ENTER)
        s.expect_next("n3c 40 p 05\n" + NOTE_ON + "  Program Change   c0  5\n")
        s.send(ctrl("a"))
        s.expect_next("Repeat:90 3c 40 c0 5 \n" + NOTE_ON + "  Program Change   c0  5\n")
        s.exit_via_prompt()


def test_sysex_and_display_modes(binary):
    with Session(binary) as s:
        started(s)
        s.send("S hello" + ENTER)
        s.expect_next("S hello\n  SysEx( 7d ) hello EOX\n")
        s.send(ctrl("w"))
        s.expect("\nmode 1: type MIDI MSG - display HEX BYTES\n")
        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n-90 3c 40 ")
        s.send("&N 60 64" + ENTER)
        s.expect_next("enter numbers in DECIMAL (change to HEX with $) \nN 60 64\n-144 60 64 ")
        s.exit_via_prompt()


def test_byte_entry_and_wild_byte(binary):
    with Session(binary) as s:
        started(s)
        s.send(ctrl("e"))
        s.expect("\nmode 2: type HEX BYTES- display MIDI MSG\n")
        # a data byte with no status before it is refused by the port
        s.send("3C ")
        s.expect_next("3C   wild byte      3c\n")
        s.send("90 3c 40 ")
        s.expect_next("90 3C 40 " + NOTE_ON)
        s.exit_via_prompt()


def test_piped_lines_are_sent_and_the_program_ends(binary):
    # no preset here: with nobody at the keyboard no port question is asked
    with Piped(binary, "N 3C 40\nS hello\n") as p:
        check("Select MIDI" not in p.text, "asked for a port:\n%s" % p.text[-2000:])
        check(p.returncode == 0, "exit status %d\n%s" % (p.returncode, p.text[-2000:]))
        check("N 3C 40\n" in p.text and "S hello\n" in p.text, "lines not echoed:\n%s" % p.text[-2000:])
        check("ERROR" not in p.text, "an error was printed:\n%s" % p.text[-2000:])
        # what the loopback sent back is shown before the program leaves
        check(NOTE_ON in p.text and "  SysEx( 7d ) hello EOX\n" in p.text,
              "the messages did not come back:\n%s" % p.text[-2000:])
        check(p.text.rstrip().endswith("EXIT? <ENTER>=exit  <SPACE>=continue"),
              "did not end through the exit prompt:\n%s" % p.text[-500:])


def test_preset_kept_across_starts(binary):
    with scratch_dir("preset") as work:
        with Session(binary, workdir=work) as s:
            s.expect("Select MIDI OUT device:\n")
            s.expect("# 0: Voltanis Loopback \n")
            started(s)
            s.send(ctrl("r") + ctrl("g"))
            s.expect("Timing Clock and Active Sensing are displayed\n")
            s.send(ctrl("p"))
            s.expect_next("preset saved in file VOLTANIS.SET\n")
            s.exit_via_prompt()
        with open(os.path.join(work, "VOLTANIS.SET"), "rb") as f:
            rec = f.read()
        check(len(rec) == 168, "preset file has %d bytes" % len(rec))
        check(rec[:8] == bytes([6, 0x83, 0, 16, 0x7D, 0xFF, 0xFF, 0xFF]), "record head %r" % rec[:8])
        with Session(binary, workdir=work) as s:
            s.expect("type ? for a short list of commands\n\n")
            s.expect_next("Preset loaded:" + status_report(
                0, 0, "\nVOLTANIS mode 3:type BYTES - display BYTES (change with CTRL-Q,W,E,R)\n")
                .replace("display of Timing Clock and Active Sensing blocked (change with CTRL-G)",
                         "Timing Clock and Active Sensing are displayed (block with CTRL-B)"))
            s.send(ctrl("n"))
            s.expect_next("\nSelect MIDI OUT device:\n")
            s.send("0" + ENTER)
            s.expect("Select MIDI IN device:\n")
            s.send("0" + ENTER)
            s.expect("Selection:\n")
            s.expect("\nVOLTANIS mode 0:type MIDI MSG - display MIDI MSG(change with CTRL-Q,W,E,R)\n")
            s.exit_via_prompt()


def test_record_and_send_file(binary):
    with scratch_dir("files") as work:
        notes = bytes([0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00]) * 20   # 120 bytes, two blocks
        with open(os.path.join(work, "notes.mid"), "wb") as f:
            f.write(notes)
        with Session(binary, workdir=work) as s:
            started(s)
            s.record()
            s.send("N 3C 40" + ENTER)
            s.expect_next("N 3C 40\n" + NOTE_ON)
            s.send(fkey(12))
            s.expect_next("-Rec File Closed\n")
            with open(os.path.join(work, "VOLTANIS.REC"), "rb") as f:
                check(f.read() == bytes([0x90, 0x3C, 0x40]), "record file content")
            s.send(fkey(7))
            s.expect_next("\nType file name to be sent 'fast' and finish with <ENTER>:\n")
            s.send("notes.mid" + ENTER)
            s.expect("-Sending .Ready\n")
            shown = s.expect("  MIDI Note OFF    80 3c  0  ( C 3 )\n" * 1)
            for _ in range(19):
                shown += s.expect("  MIDI Note OFF    80 3c  0  ( C 3 )\n")
            check(shown.count(NOTE_ON) == 20, "not all note-ons shown: %r" % shown[-400:])
            # the repeat key still has the typed message, not a piece of the file
            s.send(ctrl("a"))
            s.expect_next("Repeat:90 3c 40 \n" + NOTE_ON)
            s.exit_via_prompt()


if __name__ == "__main__":
    run_tests()
