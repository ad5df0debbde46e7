"""The program's files on a real terminal run: the record file filled from
the loopback port and readable at once, kept unshared while open (neither
sent nor emptied under another holder), a file sent through the loopback
into the record file, and the preset file written and loaded at the next
start."""

import fcntl
import os
import signal
import sys
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import (ENTER, Failure, Session, check, ctrl, fkey, read_file, run_tests, scratch_dir,
                   started, status_report)

CLOSED = "-Rec File Closed\n"
CANNOT_SEND = "Cannot open Send File!\n"
CANNOT_RECORD = "Cannot open Record File!\n"


def wait_file(path, want, timeout=10):
    """Waits until the file holds exactly want."""
    end = time.monotonic() + timeout
    while read_file(path) != want:
        if time.monotonic() > end:
            raise Failure("%s holds %r, expected %r" % (os.path.basename(path), read_file(path), want))
        time.sleep(0.02)


def test_recording_is_on_disk_at_once(binary):
    """What arrives is in the record file while the program runs, and stays
    there when the program is killed."""
    with Session(binary) as s:
        started(s)
        rec = os.path.join(s.workdir, "VOLTANIS.REC")
        s.record()
        check(read_file(rec) == b"", "F9 did not create an empty record file: %r" % read_file(rec))
        s.send("n 3c 40" + ENTER)
        wait_file(rec, b"\x90\x3c\x40")
        s.send(fkey(11))
        s.expect("_PaUsE_\n")
        wait_file(rec, b"\x90\x3c\x40_PaUsE_")
        os.kill(s.pid, signal.SIGKILL)
        s.expect_signal(signal.SIGKILL)
        check(read_file(rec) == b"\x90\x3c\x40_PaUsE_", "the kill lost data: %r" % read_file(rec))


def test_record_file_not_emptied_under_another_holder(binary):
    with Session(binary) as s:
        started(s)
        rec = os.path.join(s.workdir, "VOLTANIS.REC")
        with open(rec, "wb") as f:
            f.write(b"earlier take")
        holder = open(rec, "rb")
        fcntl.flock(holder, fcntl.LOCK_EX)
        try:
            s.send(fkey(9))
            s.expect_next(CANNOT_RECORD + "VOLTANIS.REC: in use elsewhere!\n")
            check(read_file(rec) == b"earlier take", "the held file was changed: %r" % read_file(rec))
        finally:
            holder.close()
        s.record()
        check(read_file(rec) == b"", "F9 did not empty the record file: %r" % read_file(rec))
        s.send(fkey(12))
        s.expect_next(CLOSED)
        s.exit_via_prompt()


def test_open_record_file_cannot_be_sent(binary):
    with Session(binary) as s:
        started(s)
        s.record()
        s.send(fkey(6))
        s.expect_next("\nType file name to be sent 'slowly' and finish with <ENTER>:\n")
        s.send("VOLTANIS.REC" + ENTER)
        s.expect("VOLTANIS.REC\n")          # the echo of the line
        s.expect_next(CANNOT_SEND + "VOLTANIS.REC: in use elsewhere!\n")
        s.send(fkey(12))
        s.expect_next(CLOSED)
        s.send(fkey(6))
        s.expect_next("Send file VOLTANIS.REC 'slowly' - confirm with <ENTER>.\n"
                      "To select another file type CTRL_F  ")
        s.send(ENTER)
        s.expect_next("\n-Sending Ready\n")     # empty: one empty block
        s.exit_via_prompt()


def test_missing_send_file(binary):
    with Session(binary) as s:
        started(s)
        s.send(fkey(7))
        s.expect_next("\nType file name to be sent 'fast' and finish with <ENTER>:\n")
        s.send("nothere.syx" + ENTER)
        s.expect("nothere.syx\n")
        s.expect_next(CANNOT_SEND)
        s.exit_via_prompt()


def test_sent_file_comes_back_into_the_record_file(binary):
    data = bytes([0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00, 0xC0, 0x05])
    with Session(binary) as s:
        started(s)
        with open(os.path.join(s.workdir, "take.mid"), "wb") as f:
            f.write(data)
        rec = os.path.join(s.workdir, "VOLTANIS.REC")
        s.send(fkey(10))
        s.expect_next("-Recording Quietly-")
        s.send_file("take.mid")
        s.expect("-Sending ")
        s.expect("Ready\n")
        wait_file(rec, data)
        s.send(fkey(12))
        s.expect(CLOSED)
        s.exit_via_prompt()
        check(read_file(rec) == data, "record file after exit: %r" % read_file(rec))


def test_preset_saved_and_loaded(binary):
    with scratch_dir("preset") as workdir:
        with Session(binary, workdir=workdir) as s:
            started(s)
            s.send(ctrl("r"))
            s.expect("\nmode 3:")
            s.send(ctrl("g"))
            s.expect("are displayed\n")
            s.send(ctrl("p"))
            s.expect_next("preset saved in file VOLTANIS.SET\n")
            s.exit_via_prompt()
        data = read_file(os.path.join(workdir, "VOLTANIS.SET"))
        check(data is not None and len(data) == 168, "preset file of %r bytes" % (data and len(data)))
        check(data[:8] == bytes([6, 0x83, 0, 0x10, 0x7D, 0xFF, 0xFF, 0xFF]),
              "preset header %s" % data[:8].hex(" "))
        check(data[8:72].rstrip(b"\0") == b"Voltanis Loopback", "stored OUT name %r" % data[8:72])
        with Session(binary, workdir=workdir) as s:
            ports = s.start()
            before = s.text()[:s.pos]
            check(before.endswith("Preset loaded:") and "Select MIDI" not in before,
                  "the preset was not loaded:\n%r" % before)
            s.expect_next(status_report(
                *ports,
                mode_line="\nVOLTANIS mode 3:type BYTES - display BYTES (change with CTRL-Q,W,E,R)\n"
            ).replace("display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n",
                      "Timing Clock and Active Sensing are displayed (block with CTRL-B)\n"))
            s.exit_via_prompt()


if __name__ == "__main__":
    run_tests()
