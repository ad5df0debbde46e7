"""Reads a Standard MIDI File with the Python standard library only, strictly:
the header chunk, then each track chunk up to its End of Track, which must
come within the length its header gives.  Running status is expanded.

    division, tracks = read_smf(data)
    # tracks: one list per track of (tick, bytes) events; meta events as
    # (tick, b"\\xff" + type + data), the End of Track left out

Raises ValueError for anything a strict reader would refuse."""


def _var(data, at, end):
    value = 0
    for _ in range(4):
        if at >= end:
            raise ValueError("a variable-length number runs past the track")
        b = data[at]
        at += 1
        value = value << 7 | (b & 0x7F)
        if not b & 0x80:
            return value, at
    raise ValueError("a variable-length number longer than four bytes")


def _track(data, at, end):
    events, tick, running = [], 0, 0
    while at < end:
        delta, at = _var(data, at, end)
        tick += delta
        status = data[at] if at < end else 0
        if status == 0xFF:
            if at + 2 > end:
                raise ValueError("a meta event runs past the track")
            kind = data[at + 1]
            n, at = _var(data, at + 2, end)
            if at + n > end:
                raise ValueError("a meta event runs past the track")
            if kind == 0x2F:
                return events
            events.append((tick, bytes([0xFF, kind]) + data[at:at + n]))
            at += n
            running = 0
        elif status in (0xF0, 0xF7):
            n, at = _var(data, at + 1, end)
            if at + n > end:
                raise ValueError("a SysEx event runs past the track")
            events.append((tick, bytes([status]) + data[at:at + n]))
            at += n
            running = 0
        else:
            if status & 0x80:
                if status > 0xEF:
                    raise ValueError("status %02X cannot stand in a track" % status)
                running = status
                at += 1
            if not running:
                raise ValueError("a data byte without a status")
            size = 1 if running & 0xE0 == 0xC0 else 2
            if at + size > end:
                raise ValueError("a channel message runs past the track")
            events.append((tick, bytes([running]) + data[at:at + size]))
            at += size
    raise ValueError("a track without its End of Track")


def read_smf(data):
    if data[:4] != b"MThd" or int.from_bytes(data[4:8], "big") != 6:
        raise ValueError("no MThd chunk of 6 bytes")
    fmt, ntracks, division = (int.from_bytes(data[i:i + 2], "big") for i in (8, 10, 12))
    if fmt not in (0, 1) or ntracks < 1 or (fmt == 0 and ntracks != 1):
        raise ValueError("format %d with %d tracks" % (fmt, ntracks))
    at, tracks = 14, []
    for _ in range(ntracks):
        if data[at:at + 4] != b"MTrk":
            raise ValueError("no MTrk chunk at %d" % at)
        end = at + 8 + int.from_bytes(data[at + 4:at + 8], "big")
        if end > len(data):
            raise ValueError("the track runs past the file")
        tracks.append(_track(data, at + 8, end))
        at = end
    return division, tracks


def ms_per_tick(division):
    """Milliseconds a tick lasts for an SMPTE division (frames, ticks)."""
    if not division & 0x8000:
        raise ValueError("a division in ticks per quarter note")
    fps = 256 - (division >> 8)
    return 1000.0 / (fps * (division & 0xFF))


def notes_on(data):
    """The note-on events (velocity above 0) of a format 0 file, as
    (milliseconds, note) in order."""
    division, tracks = read_smf(data)
    ms = ms_per_tick(division)
    return [(tick * ms, ev[1]) for tick, ev in tracks[0]
            if ev[0] & 0xF0 == 0x90 and len(ev) == 3 and ev[2] > 0]
