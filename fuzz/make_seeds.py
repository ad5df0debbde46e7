#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the inputs of the unit tests (command lines, typed keys,
parser streams) and a few hand-made records and key sequences, laid out as
each target reads its input.  The targets read their settings with
FuzzedDataProvider, which takes single values from the END of the input and
the rest from the front, so each seed is  payload + settings reversed.
Run again whenever the tests gain rows; the files are named by content.
"""
import hashlib
import os
import re
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
out_root = os.path.join(root, "fuzz", "corpus")


def c_unescape(s):
    out = bytearray()
    i = 0
    while i < len(s):
        c = s[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
            continue
        n = s[i + 1]
        simple = {"n": 10, "r": 13, "t": 9, "b": 8, "a": 7, "\\": 92, '"': 34, "'": 39, "0": 0, "?": 63}
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,2}", s[i + 2:])
            out.append(int(m.group(0), 16))
            i += 2 + len(m.group(0))
        elif n in "01234567" and re.match(r"[0-7]{1,3}", s[i + 1:]):
            m = re.match(r"[0-7]{1,3}", s[i + 1:])
            out.append(int(m.group(0), 8) & 0xFF)
            i += 1 + len(m.group(0))
        else:
            out.append(simple[n])
            i += 2
    return bytes(out)


def read(path):
    p = os.path.join(root, path)
    return open(p, encoding="utf-8").read() if os.path.exists(p) else ""


def write(target, seeds):
    d = os.path.join(out_root, target)
    os.makedirs(d, exist_ok=True)
    for s in seeds:
        name = hashlib.sha1(s).hexdigest()[:16]
        with open(os.path.join(d, name), "wb") as f:
            f.write(s)
    print(f"{target}: {len(set(seeds))} seeds")


STR = r'"((?:[^"\\]|\\.)*)"'

# --- interpreter: line + [noTerminator, channel, id3, id2, id1, id0, base] ---
lines = set()
for m in re.finditer(r"\{\s*(16|10),\s*" + STR, read("tests/unit/test_entry_interpreter.cpp")):
    lines.add((int(m.group(1)), c_unescape(m.group(2))))
for m in re.finditer(r"runLine\(" + STR, read("tests/unit/test_entry_interpreter.cpp") + read("tests/unit/test_output.cpp")):
    lines.add((16, c_unescape(m.group(1))))
lines |= {(16, b"S hello"), (16, b"I 41 FF FF S \\10\\20"), (10, b"M 16 N 60 127"),
          (16, b"F8 F 7 F 2 0 0 F 1 7F"), (16, b"N 3C 40 S x"), (10, b"I 0 32 51 S a\\0d")}
seeds = []
for base, line in sorted(lines):
    for ident in (b"\x7d\xff\xff\xff", b"\x00\x20\x33\xff", b"\x41\x10\x42\x12"):
        seeds.append(line + bytes([1, 0]) + ident[::-1] + bytes([0 if base == 16 else 200]))
seeds.append(b"N 3C 40 " * 64 + bytes([0, 0, 0xFF, 0xFF, 0xFF, 0x7D, 0]))   # a line that lost its zero
write("interpreter", seeds)

# --- typing: keys + [mode | base] -------------------------------------------
keys = set()
for m in re.finditer(r"type\(" + STR, read("tests/unit/test_entry_typing.cpp") + read("tests/unit/test_output.cpp")):
    keys.add(c_unescape(m.group(1)))
keys |= {b"90 9 \r ab\r901g9x:W", b"144 255 256 1234a", b"9&9 $9\b \t", b"N\bX 3C 0\r",
         b"x" * 600 + b"\r", b"S ?\rn45 40\r"}
seeds = []
for k in sorted(keys):
    for sel in (0, 2, 3, 6):   # line hex, bytes hex (modes 2 and 3), bytes decimal
        seeds.append(k + bytes([sel]))
# typed text (bit 3): the characters are drawn from the bytes in front
for sel in (8, 11):
    seeds.append(bytes(range(256)) + bytes([sel]))
    seeds.append("S h\u00e9llo \u0920\u0e01 ?".encode() * 8 + bytes([sel]))
write("typing", seeds)

# --- preset: the file itself -------------------------------------------------
def record(version=6, mode=0, channel=0, base=16, ident=b"\x7d\xff\xff\xff",
           out=b"Voltanis Loopback (external)", inp=b"Keyboard", send=b"", size=168):
    r = bytes([version, mode, channel, base]) + ident
    r += out.ljust(64, b"\0")[:64] + inp.ljust(64, b"\0")[:64] + send.ljust(32, b"\0")[:32]
    return (r + b"\xee" * 64)[:size]

seeds = [
    record(), record(mode=0x83), record(base=10, channel=15, ident=b"\x00\x20\x33\xff"),
    record(out=b"Synth A", inp=b"Voltanis Loopback (external)", send=b"song.syx"),
    record(out=b"Voltanis Loopback", inp=b"Voltanis Loopback"),
    record(out=b"Out 31 characters long.........", inp=b"In"),
    record(size=167), record(size=200), record(version=5), record(out=b"Synth a"),
    record(out=b"Synth A "), record(inp=b"Gone"), record(mode=0x7f, base=7, channel=99),
    record(out=b"x" * 64), record(send=b"y" * 32), b"",
]
write("preset", seeds)

# --- inparser: stream + [cut (2 bytes), header size, headers at the start] --
seeds = []
src = read("tests/unit/platform/test_inparser.cpp")
for m in re.finditer(r'\{"[^"]*",\s*\{((?:\{[^{}]*\}\s*,?\s*)+)\},\s*\{', src):
    stream = []
    for feed in re.finditer(r"\{([^{}]*)\}", m.group(1)):
        stream += [int(x, 0) for x in feed.group(1).split(",") if x.strip()]
    for headers, size in ((1, 40), (0, 3), (2, 2)):
        for cut in (0, len(stream) // 2):
            seeds.append(bytes(stream) + bytes([cut & 0xFF, cut >> 8, size - 1, headers]))
seeds.append(bytes([0xF0] + list(range(0x20, 0x7F)) + [0xF7, 0x90, 0x3C, 0x40, 0x40]) + bytes([3, 0, 15, 4]))
# the messages -x explains: its SysEx rows one by one, and all in a row
src = read("tests/unit/test_extras_explain.cpp")
sysex = [[int(x, 0) if x.strip().startswith("0x") else ord(x.strip()[1])
          for x in re.findall(r"0x[0-9A-Fa-f]+|'.'", m.group(1))]
         for m in re.finditer(r"\{\{(0xF0,[^{}]*)\}", src)]
for m in sysex:
    seeds.append(bytes(m) + bytes([0, 0, 39, 4]))
seeds.append(bytes(sum(sysex, [])) + bytes([0, 0, 39, 4]))
write("inparser", seeds)

# --- keydecode: bytes + 8 bytes of where the ESC wait runs out --------------
seqs = [b"\x1bOP\x1bOQ\x1bOR\x1bOS", b"\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~",
        b"\x1b[11~\x1b[12~\x1b[13~\x1b[14~", b"\x1b[[A\x1b[[B\x1b[[E", b"\x1b[1;2P\x1b[15;5~\x1bO2P",
        b"\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~",
        b"\x1b[2^\x1b[3$\x1b[5@\x1b\x1b[A", b"\x1bOp\x1bOy\x1bOM\x1bOj\x1bOX", b"\x1ba\x1b\xc3\xa9x",
        b"\x1b", b"\x1b\x1b\x1b", b"N 3C 40\r\x7f\x7f", b"\xe0\x3b\xc3\xa4", b"\x1b[" + b"9" * 40 + b"~",
        b"\x1b[?1;2c\x1b[>0c\x1b[1;5A"]
seeds = []
for s in seqs:
    for waits in (b"\0" * 8, b"\xff" * 8, b"\x55" * 8):
        seeds.append(s + waits)
write("keydecode", seeds)
