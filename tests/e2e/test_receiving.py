"""Everything that reaches the input port is shown and recorded, or counted
lost, on a real terminal over the loopback port: SysEx messages back to back
(from a pipe, from a file sent fast while recording), and keys that close
the ports or the record file only after what arrived before them."""

import os
import sys

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vtpty import EXIT_PROMPT, Piped, Session, check, fkey, read_file, run_tests, started


def record_while_sending_fast(s, name, data):
    """F9, then F7 with a file of data: recording runs and the file is sent."""
    with open(os.path.join(s.workdir, name), "wb") as f:
        f.write(data)
    s.record()
    s.send_file(name)
    s.expect("Ready\n", timeout=30)


def test_piped_sysex_back_to_back(binary):
    with Piped(binary, "S aaa\nS bbb\nS ccc\n") as p:
        shown = [line for line in p.text.split("\n") if line.startswith("  SysEx(")]
        check(shown == ["  SysEx( 7d ) %s EOX" % t for t in ("aaa", "bbb", "ccc")],
              "SysEx shown: %r\n%s" % (shown, p.text[-1500:]))
        check("ERROR" not in p.text, "an error was printed:\n%s" % p.text[-1500:])


def test_sysex_file_sent_fast_while_recording(binary):
    """20 SysEx messages of 102 bytes, sent fast while recording: all shown,
    and the record file is the sent file."""
    messages = [bytes([0xF0, 0x7D]) + bytes([0x40 + i] * 99) + b"\xf7" for i in range(20)]
    data = b"".join(messages)
    with Session(binary) as s:
        started(s)
        record_while_sending_fast(s, "dump.syx", data)
        for i in range(20):
            s.expect("  SysEx( 7d ) %s EOX\n" % (chr(0x40 + i) * 99))
        s.send(fkey(12))
        s.expect("-Rec File Closed\n")
        rec = read_file(os.path.join(s.workdir, "VOLTANIS.REC"))
        check(rec == data, "record file: %d bytes of %d, equal %s" % (len(rec or b""), len(data), rec == data))
        check("ERROR" not in s.text(), s.screen())
        s.exit_via_prompt()


def test_what_arrived_before_esc_is_kept(binary):
    """F9, 6,000 notes sent fast, then at once ESC, space (the ports close and
    reopen) and F12: every note was shown and recorded before the close."""
    notes = b"".join(bytes([0x90, n % 128, 0x40]) for n in range(6000))
    with Session(binary) as s:
        started(s)
        record_while_sending_fast(s, "notes.mid", notes)
        s.esc()
        s.expect(EXIT_PROMPT, timeout=30)
        s.send(" ")
        s.expect("display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n")
        s.send(fkey(12))
        s.expect("-Rec File Closed\n")
        rec = read_file(os.path.join(s.workdir, "VOLTANIS.REC"))
        check(rec == notes, "record file: %d bytes of %d" % (len(rec or b""), len(notes)))
        before_prompt = s.text()[:s.text().index(EXIT_PROMPT)]
        check(before_prompt.count("  MIDI Note ON ") == 6000, "notes shown before the prompt: %d"
              % before_prompt.count("  MIDI Note ON "))
        s.exit_via_prompt()


if __name__ == "__main__":
    run_tests()
