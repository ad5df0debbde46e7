"""The real program on a pseudo-terminal against a real kernel sequencer
(run in the test machine by inside.sh):

    python3 vm_e2e.py <voltanis> <seqcheck>

The machine has "Midi Through" (client 14, which sends back what it gets)
and two snd-virmidi ports "VirMIDI 0-0" and "VirMIDI 0-1" (clients 16, 17;
raw devices hw:0,0 and hw:0,1).  alsa-utils play the other side: aseqdump
watches what the program sends, aplaymidi and amidi send to it.  Everything
runs about 10 to 30 times slower than on the host, hence the long waits
(they bound a hang; nothing is timed)."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from smfread import notes_on  # noqa: E402
from vtpty import ENTER, Failure, Session, check, ctrl, fkey  # noqa: E402

THROUGH = "Midi Through Port-0"
LOOPBACK = "Voltanis Loopback"
VIR0, VIR1 = "VirMIDI 0-0", "VirMIDI 0-1"
PROMPT = "type selection number and finish with <ENTER>:"
NOTE_ON = "  MIDI Note ON     90 3c 40  ( C 3 )\n"
WAIT = 60   # seconds: bounds a hang in the slow machine

SEQCHECK = None


def status(out_no, out_name, in_no, in_name):
    return ("\nMIDI OUT: #%d  %s\n" % (out_no, out_name)
            + "MIDI IN:  #%d  %s   (change with CTRL-N)\n" % (in_no, in_name)
            + "SysEx ID: 7d\n"
            + "number base is HEX (change to DECIMAL with &) \n"
            + "\nVOLTANIS mode 0:type MIDI MSG - display MIDI MSG(change with CTRL-Q,W,E,R)\n"
            + "display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n")


def listing(direction, names):
    return ("Select MIDI %s device:\n" % direction
            + "".join("# %d: %s \n" % (i, n) for i, n in enumerate(names)) + PROMPT)


def choose(s, out_names, out_name, in_names, in_name):
    """Answers both port questions, checking the lists exactly; returns the
    numbers chosen.  The position is at the heading of the output list."""
    s.expect_next(listing("OUT", out_names), WAIT)
    o = out_names.index(out_name)
    s.send("%d%s" % (o, ENTER))
    s.expect_next("%d\n\n" % o, WAIT)
    s.expect_next(listing("IN", in_names), WAIT)
    i = in_names.index(in_name)
    s.send("%d%s" % (i, ENTER))
    s.expect_next("%d\nSelection:\n" % i, WAIT)
    s.expect_next(status(o, out_name, i, in_name), WAIT)
    return o, i


def port_change(s):
    s.send(ctrl("n"))
    s.expect_next("\n", WAIT)


class Peer:
    """A program of the alsa-utils (or the helper client) in the background,
    its output collected in a file."""

    def __init__(self, argv, ready=None):
        self.out = tempfile.NamedTemporaryFile(prefix="peer-", suffix=".txt", delete=False)
        self.proc = subprocess.Popen(["stdbuf", "-o0", "-e0"] + argv, stdout=self.out, stdin=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        if ready:
            self.wait_for(ready)

    def say(self, line):
        """A line for the helper client to send (see seqcheck.cpp)."""
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def text(self):
        with open(self.out.name, "rb") as f:
            return f.read().decode("latin-1")

    def wait_for(self, want, timeout=WAIT):
        """Waits until want appears; blanks do not count (the tools align
        their columns, amidi writes the bytes of a message together)."""
        want = "".join(want.split())
        end = time.monotonic() + timeout
        while want not in "".join(self.text().split()):
            if time.monotonic() > end or self.proc.poll() is not None:
                raise Failure("%s: no %r within %gs; it printed:\n%s"
                              % (self.proc.args, want, timeout, self.text()[-2000:]))
            time.sleep(0.2)

    def stop(self):
        if self.out is None:
            return
        if self.proc.stdin:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        os.unlink(self.out.name)
        self.out = None


def smf(events):
    """A standard MIDI file, format 0, of (delta, bytes) events."""
    def vlq(n):
        b = [n & 0x7F]
        n >>= 7
        while n:
            b.insert(0, 0x80 | (n & 0x7F))
            n >>= 7
        return bytes(b)
    track = b"".join(vlq(d) + e for d, e in events) + b"\x00\xff\x2f\x00"
    return (b"MThd" + (6).to_bytes(4, "big") + (0).to_bytes(2, "big") + (1).to_bytes(2, "big")
            + (96).to_bytes(2, "big") + b"MTrk" + len(track).to_bytes(4, "big") + track)


def body(n):
    """n printable SysEx data bytes (shown as themselves)."""
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    return bytes(alphabet[i % len(alphabet)] for i in range(n))


def send_file(s, name, first):
    s.send(fkey(7))
    if first:
        s.expect_next("\nType file name to be sent 'fast' and finish with <ENTER>:\n", WAIT)
    else:
        s.expect("To select another file type CTRL_F  ", WAIT)
        s.send(ctrl("f"))
        s.expect_next("\rType file name to be sent 'fast' and finish with <ENTER>:\n", WAIT)
    s.send(name + ENTER)
    s.expect_next(name + "\n-Sending ", WAIT)
    dots = s.expect("Ready\n", 300)
    check(set(dots) <= {"."}, "the transfer printed more than dots: %r" % dots[-300:])


# ---------------------------------------------------------------------------

def test_midi_through_session(binary, work):
    """Lists, typed messages, long SysEx, send files and the alsa-utils,
    all through Midi Through; the preset saved here is checked by the next
    test."""
    outs = [THROUGH, VIR0, VIR1, LOOPBACK]
    ins = [THROUGH, VIR0, VIR1, LOOPBACK]
    with open(os.path.join(work, "big.syx"), "wb") as f:
        f.write(b"\xf0\x7d" + body(99997) + b"\xf7")
    # messages across the 64-byte block boundaries, running status and all
    blocks = (b"\x90\x3c\x40" * 21 + b"\xf0\x7d" + body(150) + b"\xf7"
              + b"\xb0\x07\x64" + b"\x90\x3c\x40\x3c\x40" + b"\xc0\x05" * 30)
    with open(os.path.join(work, "blocks.mid"), "wb") as f:
        f.write(blocks)
    with open(os.path.join(work, "play.mid"), "wb") as f:
        f.write(smf([(0, b"\x90\x3c\x40"), (24, b"\x80\x3c\x00"), (0, b"\xb0\x07\x64"),
                     (0, b"\xf0\x04\x7d\x41\x42\xf7")]))

    peers = []
    try:
        midi_through_session(binary, work, outs, ins, peers)
    finally:
        for p in peers:
            p.stop()


def midi_through_session(binary, work, outs, ins, peers):
    with Session(binary, workdir=work) as s:
        s.expect("type ? for a short list of commands\n\n", WAIT)
        choose(s, outs, THROUGH, ins, THROUGH)

        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n" + NOTE_ON, WAIT)
        s.send("N 3C 40 K 07 64 P 05 W 00 40" + ENTER)
        s.expect_next("N 3C 40 K 07 64 P 05 W 00 40\n" + NOTE_ON + "  Control Change   b0  7 64\n"
                      + "  Program Change   c0  5\n" + "  Pitch Bend       e0  0 40\n", WAIT)

        text = body(297).decode()        # F0, ID, 297 bytes, F7: 300 bytes
        s.send("S " + text + ENTER)
        s.expect_next("S " + text + "\n  SysEx( 7d ) " + text + " EOX\n", WAIT)

        # 100,000 bytes of SysEx from a send file: 64-byte blocks, one message
        send_file(s, "big.syx", True)
        s.expect_next("  SysEx( 7d ) " + body(99997).decode() + " EOX\n", 300)

        # The short messages in their order; the SysEx, complete after the
        # first 21 notes, shows once the ring is empty: after those notes,
        # before the short messages still arriving then (the display shows
        # waiting short messages before a long one, not those on the way).
        send_file(s, "blocks.mid", False)
        shorts = (NOTE_ON * 21 + "  Control Change   b0  7 64\n" + NOTE_ON * 2
                  + "  Program Change   c0  5\n" * 30)
        sysex = "  SysEx( 7d ) " + body(150).decode() + " EOX\n"
        got = "".join(s.expect("\n", WAIT) + "\n" for _ in range(55))
        check(got.replace(sysex, "", 1) == shorts and got.find(sysex) >= len(NOTE_ON * 21),
              "blocks.mid came back as %r" % got)

        # aseqdump watching Midi Through sees what the program sends
        dump = Peer(["aseqdump", "-p", "14:0"], ready="Waiting for data")
        peers.append(dump)
        s.send("N 3C 40 K 07 64" + ENTER)
        s.expect_next("N 3C 40 K 07 64\n" + NOTE_ON + "  Control Change   b0  7 64\n", WAIT)
        s.send("S hello" + ENTER)
        s.expect_next("S hello\n  SysEx( 7d ) hello EOX\n", WAIT)
        for line in ("Note on                 0, note 60, velocity 64",
                     "Control change          0, controller 7, value 100",
                     "System exclusive           F0 7D 68 65 6C 6C 6F F7"):
            dump.wait_for(line)

        # what aplaymidi plays to Midi Through shows in the program
        r = subprocess.run(["aplaymidi", "-p", "14:0", os.path.join(work, "play.mid")],
                           capture_output=True, text=True, timeout=WAIT)
        check(r.returncode == 0, "aplaymidi failed: %s" % r.stderr)
        s.expect_next(NOTE_ON + "  MIDI Note OFF    80 3c  0  ( C 3 )\n"
                      + "  Control Change   b0  7 64\n" + "  SysEx( 7d ) AB EOX\n", WAIT)
        dump.wait_for("System exclusive           F0 7D 41 42 F7")

        s.send(ctrl("p"))
        s.expect_next("preset saved in file VOLTANIS.SET\n", WAIT)

        # the raw side of snd-virmidi: amidi writes to hw:0,0, whose
        # sequencer port the program reads; the program writes to
        # VirMIDI 0-1, whose raw device amidi reads
        port_change(s)
        outs_now = [THROUGH, VIR0, VIR1, "aseqdump", LOOPBACK]
        choose(s, outs_now, VIR1, ins, VIR0)
        r = subprocess.run(["amidi", "-p", "hw:0,0", "-S", "90 3C 40 F0 7D 41 42 F7 B0 07 64"],
                           capture_output=True, text=True, timeout=WAIT)
        check(r.returncode == 0, "amidi -S failed: %s" % r.stderr)
        # arriving together, the short messages may show before the SysEx
        want = [NOTE_ON, "  SysEx( 7d ) AB EOX\n", "  Control Change   b0  7 64\n"]
        got = [s.expect("\n", WAIT) + "\n" for _ in want]
        check(sorted(got) == sorted(want) and got[0] == NOTE_ON, "amidi's bytes showed as %r" % got)
        raw = Peer(["amidi", "-p", "hw:0,1", "-d"])
        peers.append(raw)
        time.sleep(3)   # a virmidi port drops events until its raw device has a reader
        s.send("N 3C 40 S hi" + ENTER)
        s.expect_next("N 3C 40 S hi\n", WAIT)
        raw.wait_for("90 3C 40")
        raw.wait_for("F0 7D 68 69 F7")
        check("ERROR" not in s.text(), "an error was printed:\n%s" % s.screen())
        s.exit_via_prompt(WAIT)


def test_amidi_sysex_dump_recorded(binary, work):
    """50 SysEx messages that amidi sends at once through VirMIDI 0-0, as a
    device answers a dump request: all shown, and recorded as sent."""
    messages = [b"\xf0\x7d" + body(20 + i) + b"\xf7" for i in range(50)]
    dump = os.path.join(work, "dump50.syx")
    with open(dump, "wb") as f:
        f.write(b"".join(messages))
    with Session(binary, workdir=work, args=("-o", THROUGH, "-i", VIR0)) as s:
        s.expect("display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n", WAIT)
        s.send(fkey(9))
        s.expect_next("-Recording\n", WAIT)
        r = subprocess.run(["amidi", "-p", "hw:0,0", "-s", dump], capture_output=True, text=True, timeout=WAIT)
        check(r.returncode == 0, "amidi -s failed: %s" % r.stderr)
        for m in messages:
            s.expect_next("  SysEx( 7d ) %s EOX\n" % m[2:-1].decode(), WAIT)
        s.send(fkey(12))
        s.expect_next("-Rec File Closed\n", WAIT)
        with open(os.path.join(work, "VOLTANIS.REC"), "rb") as f:
            rec = f.read()
        check(rec == b"".join(messages), "record file: %d bytes of %d" % (len(rec), len(b"".join(messages))))
        s.exit_via_prompt(WAIT)


def test_preset_finds_midi_through_again(binary, work):
    with Session(binary, workdir=work) as s:
        s.expect("type ? for a short list of commands\n\n", WAIT)
        s.expect_next("Preset loaded:" + status(0, THROUGH, 0, THROUGH), WAIT)
        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n" + NOTE_ON, WAIT)
        s.exit_via_prompt(WAIT)


def gone_line(direction, name):
    return "\n%s port %s is gone; waiting for it to come back (CTRL-N chooses another port)\n" % (direction, name)


def test_port_vanishing_while_open(binary, work):
    """A program's port, chosen both ways, quits and starts again with
    another client number (another program took the old one meanwhile):
    a line when it goes and when it is back, a send meanwhile fails and
    reaches nobody, what it sends after the return is shown and recorded
    with all that came before, and the log marks the gap."""
    if os.path.exists(os.path.join(work, "VOLTANIS.SET")):
        os.unlink(os.path.join(work, "VOLTANIS.SET"))
    for name in ("VOLTANIS.REC", "gap.mid"):
        if os.path.exists(os.path.join(work, name)):
            os.unlink(os.path.join(work, name))
    peer = Peer([SEQCHECK, "--peer", "Vanishing Port"], ready="ready")
    filler = None
    try:
        with Session(binary, workdir=work, args=["--smf", "gap.mid"]) as s:
            s.expect("type ? for a short list of commands\n\n", WAIT)
            names = [THROUGH, VIR0, VIR1, "Vanishing Port", LOOPBACK]
            choose(s, names, "Vanishing Port", names, "Vanishing Port")
            s.send(fkey(9))
            s.expect("-Recording\n", WAIT)
            s.send("N 3C 40" + ENTER)
            s.expect_next("N 3C 40\n", WAIT)
            peer.wait_for("got 90 3c 40")
            peer.say("send 90 3c 11")
            s.expect("  MIDI Note ON     90 3c 11", WAIT)
            peer.stop()
            peer = None
            s.expect(gone_line("MIDI OUT", "Vanishing Port"), WAIT)
            s.expect_next(gone_line("MIDI IN", "Vanishing Port"), WAIT)
            # the old client number goes to another program
            filler = Peer([SEQCHECK, "--peer", "Someone Else"], ready="ready")
            s.send("N 3C 40" + ENTER)
            s.expect_next("N 3C 40\n\nERROR MIDI TRANSMISSION\n", WAIT)
            time.sleep(1.2)   # a line a second for each port
            peer = Peer([SEQCHECK, "--peer", "Vanishing Port"], ready="ready")
            back = re.compile(r"\nMIDI (OUT|IN) port Vanishing Port is back \(at (\d+):0\) and connected again\n")
            s.expect("connected again\n", WAIT)
            s.expect("connected again\n", WAIT)
            found = back.findall(s.text())
            check(len(found) == 2 and found[0][1] == found[1][1], "not both back at one address: %r" % found)
            peer.say("send 90 3e 22")
            s.expect("  MIDI Note ON     90 3e 22", WAIT)
            s.send("N 3C 41" + ENTER)
            s.expect("N 3C 41\n", WAIT)
            peer.wait_for("got 90 3c 41")
            check("got" not in filler.text(), "the program at the old address got: %s" % filler.text())
            s.send(fkey(12))
            s.expect("-Rec File Closed\n", WAIT)
            s.exit_via_prompt(WAIT)
        with open(os.path.join(work, "VOLTANIS.REC"), "rb") as f:
            rec = f.read()
        check(rec == bytes([0x90, 0x3C, 0x11, 0x90, 0x3E, 0x22]), "record file %r" % rec)
        with open(os.path.join(work, "gap.mid"), "rb") as f:
            log = f.read()
        check(b"MIDI IN port gone: Vanishing Port" in log and b"MIDI IN port back: Vanishing Port" in log,
              "no markers of the gap in the log")
    finally:
        for p in (peer, filler):
            if p:
                p.stop()


def test_two_peers_merged(binary, work):
    """Two programs' ports as one input: each line tagged; a 20,000-byte
    SysEx of one, sent in pieces while the other sends notes, stays whole
    on the screen and in the record file."""
    one = Peer([SEQCHECK, "--peer", "Peer One"], ready="ready")
    two = Peer([SEQCHECK, "--peer", "Peer Two"], ready="ready")
    try:
        if os.path.exists(os.path.join(work, "VOLTANIS.REC")):
            os.unlink(os.path.join(work, "VOLTANIS.REC"))
        with Session(binary, workdir=work, args=["-o", "14:0", "-i", "Peer One", "-i", "Peer Two"]) as s:
            s.expect("(change with CTRL-G)\n", WAIT)
            s.expect_next("merged MIDI IN ports:  1:Peer One  2:Peer Two\n", WAIT)
            s.send(fkey(10))   # quiet recording: the file only
            s.expect("-Recording Quietly-", WAIT)
            one.say("sysex 20000")
            two.say("notes 50")
            one.wait_for("said")
            two.wait_for("said")
            time.sleep(2)
            s.send(fkey(12))
            s.expect("-Rec File Closed\n", WAIT)
            one.say("send 90 3c 40")
            s.expect("1:Peer One   MIDI Note ON     90 3c 40", WAIT)
            two.say("sysex 300")
            s.expect("2:Peer Two   SysEx( 7d )", WAIT)
            line = s.expect("\n", WAIT)
            check(line.endswith(" EOX"), "the SysEx line does not end whole: %r" % line[-80:])
            s.exit_via_prompt(WAIT)
        with open(os.path.join(work, "VOLTANIS.REC"), "rb") as f:
            rec = f.read()
        body = bytes([0xF0, 0x7D] + [i % 100 for i in range(2, 19999)] + [0xF7])
        check(body in rec, "the 20,000-byte SysEx is not whole in the record file")
        check(len(rec) == 20000 + 50 * 3, "the record file holds %d bytes" % len(rec))
    finally:
        one.stop()
        two.stop()


def test_virtual_port(binary, work):
    """--virtual: aplaymidi plays to it and its notes show; aseqdump
    connected to it gets a typed note; each connection is a line."""
    notes = os.path.join(work, "virtual.mid")
    with open(notes, "wb") as f:
        f.write(smf([(0, bytes([0x90, 0x3C, 0x33])), (10, bytes([0x80, 0x3C, 0x00]))]))
    with Session(binary, workdir=work, args=["--virtual=VT Virtual", "-o", "VT Virtual", "-i", "VT Virtual"]) as s:
        s.expect("(change with CTRL-G)\n", WAIT)
        r = subprocess.run(["aplaymidi", "-p", "Voltanis:0", notes], capture_output=True, text=True, timeout=WAIT)
        check(r.returncode == 0, "aplaymidi failed: %s" % r.stderr)
        s.expect("  MIDI Note ON     90 3c 33", WAIT)
        dump = Peer(["aseqdump", "-p", "Voltanis:0"], ready="Waiting for data")
        try:
            s.expect("now receives from VT Virtual\n", WAIT)
            s.send("N 3C 40" + ENTER)
            dump.wait_for("Note on                 0, note 60, velocity 64")
        finally:
            dump.stop()
        s.exit_via_prompt(WAIT)


def run_program(binary, *args):
    """The program with arguments, no keyboard; (status, stdout, stderr)."""
    work = tempfile.mkdtemp(prefix="voltanis-vm-cli-")
    try:
        r = subprocess.run([binary] + list(args), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           cwd=work, timeout=WAIT)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return r.returncode, r.stdout, r.stderr


def test_command_line_ports(binary, work):
    """--list with addresses and client names; ports taken by address and
    by a part of the name; a part several ports have."""
    rc, out, err = run_program(binary, "--list")
    check(rc == 0 and err == "", "--list: status %d, stderr %r" % (rc, err))
    through = "  0  %-32s14:0    Midi Through\n" % THROUGH
    loop = "  3  %s\n" % LOOPBACK
    check(out.startswith("MIDI OUT ports:\n" + through) and "MIDI IN ports:\n" + through in out,
          "--list does not show Midi Through as 14:0 under both headings:\n%s" % out)
    check(out.count(loop) == 2, "--list does not show the loopback as #3 twice:\n%s" % out)

    with Session(binary, args=["-o", "14:0", "-i", "midi through"]) as s:
        s.expect("type ? for a short list of commands\n\n", WAIT)
        s.expect_next("Selection:\n" + status(0, THROUGH, 0, THROUGH), WAIT)
        s.send("N 3C 40" + ENTER)
        s.expect_next("N 3C 40\n" + NOTE_ON, WAIT)
        s.exit_via_prompt(WAIT)

    dump = Peer(["aseqdump", "-p", "14:0"], ready="Waiting for data")
    try:
        rc, out, err = run_program(binary, "-o", "14:0", "-i", "midi through", "-s", "N 3C 40")
        check(rc == 0 and err == "", "one-shot to 14:0: status %d, stderr %r\n%s" % (rc, err, out[-2000:]))
        dump.wait_for("Note on                 0, note 60, velocity 64")
    finally:
        dump.stop()

    rc, out, err = run_program(binary, "-o", "virmidi")
    check(rc == 2 and out == "", "-o virmidi: status %d, stdout %r" % (rc, out))
    check(err.startswith("voltanis: 'virmidi' is part of the names of several MIDI OUT ports:\n  1  VirMIDI 0-0 ")
          and "\n  2  VirMIDI 0-1 " in err, "-o virmidi: %r" % err)


def preset(out_name, in_name):
    """A VOLTANIS.SET record with these port names and the defaults."""
    field = lambda name, size: name.encode().ljust(size, b"\0")   # noqa: E731
    return bytes([6, 0, 0, 16, 0x7D, 0xFF, 0xFF, 0xFF]) + field(out_name, 64) + field(in_name, 64) + bytes(32)


def test_look_alike_ports(binary, work):
    """Another program's ports "dup", "dup" and "Voltanis Loopback": the
    shared name is no choice on the command line nor in a preset, and the
    loopback's name means the built-in port, in a preset or given.  A
    fourth port's name holds a C1 control and an escape sequence."""
    peer = Peer([SEQCHECK, "--peer", "dup", "dup", LOOPBACK, b"Bad\xc2\x9b\x1b[31m"], ready="ready")
    names = [THROUGH, VIR0, VIR1, "dup", "dup", LOOPBACK + " (seqcheck pe)", "Bad???[31m", LOOPBACK]
    try:
        rc, out, err = run_program(binary, "--list")   # as UTF-8: a byte 9B alone would not decode
        check(rc == 0 and len(re.findall(r"\n  5  Voltanis Loopback \(seqcheck pe\) \d+:2 +seqcheck peer\n"
                                         r"  6  Bad\?\?\?\[31m {22}\d+:3 +seqcheck peer\n", out)) == 2,
              "--list does not show the impostor with its client, or the hostile name safely:\n%s" % out)
        rc, out, err = run_program(binary, "-o", "dup", "-s", "N 3C 40")
        check(rc == 2 and err.startswith("voltanis: 'dup' is the name of several MIDI OUT ports:\n  3  dup ")
              and "\n  4  dup " in err, "-o dup: status %d, %r" % (rc, err))
        with open(os.path.join(work, "VOLTANIS.SET"), "wb") as f:
            f.write(preset(LOOPBACK, LOOPBACK))
        with Session(binary, workdir=work) as s:
            s.expect("type ? for a short list of commands\n\n", WAIT)
            s.expect_next("Preset loaded:" + status(7, LOOPBACK, 7, LOOPBACK), WAIT)
            s.exit_via_prompt(WAIT)
        with open(os.path.join(work, "VOLTANIS.SET"), "wb") as f:
            f.write(preset("dup", THROUGH))
        with Session(binary, workdir=work) as s:
            s.expect("type ? for a short list of commands\n\n", WAIT)
            s.expect_next("Preset ERROR: several MIDI OUT devices are named 'dup', VOLTANIS.SET ignored\n", WAIT)
            choose(s, names, "dup", names, THROUGH)
            s.send("N 3C 40" + ENTER)
            peer.wait_for("got 90 3c 40")
            s.exit_via_prompt(WAIT)
    finally:
        peer.stop()


def test_smf_and_syx_files_through_the_kernel(binary, work):
    """An --smf log of three notes played back by aplaymidi to Midi Through
    and logged again by a second program: the same notes in the same order,
    at times within 10 ms.  A .syx file of --syx sent by amidi -s to a raw
    MIDI port and saved again: the same bytes."""
    folder = tempfile.mkdtemp(prefix="voltanis-vm-files-")
    try:
        first, second = os.path.join(folder, "first.mid"), os.path.join(folder, "second.mid")
        with Session(binary, workdir=folder, args=["-o", "14:0", "-i", "14:0", "--smf", first]) as s:
            s.expect("(change with CTRL-G)\n", WAIT)
            for note in ("3C", "3E", "40"):
                s.send("N %s 40%s" % (note, ENTER))
                s.expect("  MIDI Note ON     90 %s 40" % note.lower(), WAIT)
                time.sleep(0.3)
            s.exit_via_prompt(WAIT)
        with Session(binary, workdir=folder, args=["-o", "14:0", "-i", "14:0", "--smf", second]) as s:
            s.expect("(change with CTRL-G)\n", WAIT)
            r = subprocess.run(["aplaymidi", "-p", "14:0", first], capture_output=True, text=True, timeout=WAIT)
            check(r.returncode == 0, "aplaymidi failed: %s" % r.stderr)
            s.expect("  MIDI Note ON     90 40 40", WAIT)
            s.exit_via_prompt(WAIT)
        with open(first, "rb") as f:
            played = notes_on(f.read())
        with open(second, "rb") as f:
            heard = notes_on(f.read())
        check([n for _, n in heard] == [n for _, n in played] == [0x3C, 0x3E, 0x40],
              "notes played %r, heard %r" % (played, heard))
        # the two logs start at different moments: compared after the
        # shift that fits best (the machine's kernel plays on its 4 ms tick,
        # and an emulated machine stalls for a few ms now and then; the
        # notes are 300 ms apart, so 10 ms still tells a wrong time)
        shift = sum(th - tp for (tp, _), (th, _) in zip(played, heard)) / len(heard)
        check(all(abs(th - tp - shift) <= 10 for (tp, _), (th, _) in zip(played, heard)),
              "times played %r, heard %r" % (played, heard))

        r = subprocess.run([binary, "-o", "14:0", "-i", "14:0", "--syx", "sent", "-s", "S hello"],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, cwd=folder, timeout=WAIT)
        check(r.returncode == 0, "--syx on Midi Through: status %d, %r" % (r.returncode, r.stderr))
        syx = os.path.join(folder, "sent", "0000.syx")
        with Session(binary, workdir=folder, args=["-o", "14:0", "-i", VIR0, "--syx", "heard"]) as s:
            s.expect("(change with CTRL-G)\n", WAIT)
            r = subprocess.run(["amidi", "-p", "hw:0,0", "-s", syx], capture_output=True, text=True, timeout=WAIT)
            check(r.returncode == 0, "amidi -s failed: %s" % r.stderr)
            s.expect("  SysEx( 7d ) hello EOX\n", WAIT)
            s.exit_via_prompt(WAIT)
        with open(syx, "rb") as f, open(os.path.join(folder, "heard", "0000.syx"), "rb") as g:
            sent, heard_back = f.read(), g.read()
        check(sent == heard_back == b"\xf0\x7d\x68\x65\x6c\x6c\x6f\xf7", "sent %r, heard %r" % (sent, heard_back))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def subscribed_to_through():
    """The program's client has its subscription to Midi Through: what is
    played to it now reaches the program."""
    with open("/proc/asound/seq/clients") as f:
        clients = f.read()
    through = clients.split('Client  14 :', 1)[-1].split("Client ", 1)[0]
    return '"Voltanis"' in clients and "Connecting To:" in through


def test_listen_json_while_aplaymidi_plays(binary, work):
    """--listen --json on Midi Through while aplaymidi plays a file: one
    JSON object per event, and status 0 at CTRL-C."""
    played = [(0, b"\x90\x3c\x40"), (48, b"\x80\x3c\x00"), (0, b"\xb1\x07\x64"), (48, b"\xc2\x05")]
    song = os.path.join(work, "listen.mid")
    with open(song, "wb") as f:
        f.write(smf(played))
    out = tempfile.TemporaryFile()
    p = subprocess.Popen([binary, "--listen", "-i", THROUGH, "--json"], stdin=subprocess.DEVNULL, stdout=out,
                         stderr=subprocess.STDOUT, cwd=work)
    try:
        end = time.monotonic() + WAIT
        while not subscribed_to_through():
            check(time.monotonic() < end and p.poll() is None, "the listener never subscribed")
            time.sleep(0.2)
        r = subprocess.run(["aplaymidi", "-p", "14:0", song], capture_output=True, text=True, timeout=WAIT)
        check(r.returncode == 0, "aplaymidi failed: %s" % r.stderr)
        time.sleep(1)
    finally:
        p.send_signal(signal.SIGINT)
        p.wait(WAIT)
    out.seek(0)
    lines = out.read().decode("latin-1").splitlines()
    objects = [json.loads(line) for line in lines]
    check(p.returncode == 0 and [o["bytes"] for o in objects] == [e.hex() for _, e in played],
          "status %d, objects %r" % (p.returncode, lines))
    check([o["type"] for o in objects] == ["note-on", "note-off", "control-change", "program-change"],
          "types %r" % lines)


# A device on the raw side of VirMIDI 0-1 that answers a SysEx request
# with 5 SysEx messages.
PEER = """
import os
fd = os.open("/dev/snd/midiC0D1", os.O_RDWR)
print("ready", flush=True)
got = b""
while b"\\xf7" not in got:
    got += os.read(fd, 64)
print("request " + got.hex(), flush=True)
for i in range(5):
    os.write(fd, bytes([0xF0, 0x7D, 0x10 + i]) + b"dump" + bytes([0xF7]))
"""


def test_a_dump_request_waits_for_its_answers(binary, work):
    """A request to a peer that answers with 5 SysEx messages: --expect-sysex=5
    ends the run with status 0 and the 5 of them as .syx files."""
    folder = tempfile.mkdtemp(prefix="voltanis-vm-dump-")
    peer = Peer([sys.executable, "-c", PEER], ready="ready")
    try:
        time.sleep(1)   # a virmidi port drops events until its raw device has a reader
        r = subprocess.run([binary, "-o", VIR1, "-i", VIR1, "--syx", "dumps", "-s", "S \\01", "--expect-sysex=5",
                            "--timeout=%d" % (WAIT * 1000)], stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, cwd=folder, timeout=WAIT * 2)
        peer.wait_for("request f07d01f7")
        check(r.returncode == 0 and r.stderr == "", "status %d, stderr %r" % (r.returncode, r.stderr))
        check(r.stdout.count("  SysEx( 7d ) ") == 5, "shown:\n%s" % r.stdout)
        files = sorted(os.listdir(os.path.join(folder, "dumps")))
        check(files == ["%04d.syx" % i for i in range(5)], "files %r" % files)
        with open(os.path.join(folder, "dumps", "0004.syx"), "rb") as f:
            check(f.read() == b"\xf0\x7d\x14dump\xf7", "the last file is wrong")
    finally:
        peer.stop()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    global SEQCHECK
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    binary, SEQCHECK = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="voltanis-vm-")
    passed = failed = 0
    try:
        for t in (test_midi_through_session, test_preset_finds_midi_through_again,
                  test_port_vanishing_while_open, test_command_line_ports,
                  test_smf_and_syx_files_through_the_kernel, test_amidi_sysex_dump_recorded,
                  test_look_alike_ports, test_listen_json_while_aplaymidi_plays,
                  test_a_dump_request_waits_for_its_answers, test_two_peers_merged, test_virtual_port):
            t0 = time.monotonic()
            try:
                t(binary, work)
            except Exception as e:   # noqa: BLE001 - every failure is reported the same way
                failed += 1
                print("FAIL %s (%.1fs): %s" % (t.__name__, time.monotonic() - t0, e))
            else:
                passed += 1
                print("PASS %s (%.1fs)" % (t.__name__, time.monotonic() - t0))
            sys.stdout.flush()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("vm_e2e: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
