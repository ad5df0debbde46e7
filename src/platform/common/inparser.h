/*
 * MIDI input parser: turns the raw bytes of an input port, in the order a
 * cable carries them, into the notifications the port service gives the
 * input callback.
 *
 * - A complete channel or system-common message is one MIM_DATA word:
 *   status in bits 0-7, first data byte in 8-15, second in 16-23.  Running
 *   status is expanded for channel messages; system common cancels it.
 * - Real-time bytes (F8..FF) are MIM_DATA at once, wherever they come, also
 *   in the middle of another message or of a SysEx, which goes on.
 * - F0..F7 fill the first queued input header.  On F7 (stored too) the
 *   header comes back with MIM_LONGDATA; a header filled up comes back full
 *   with MIM_LONGDATA and the bytes go on into the next one.  A SysEx cut off
 *   by any other status byte comes back with MIM_LONGERROR holding the bytes
 *   so far, and that status byte starts its own message.  With no header
 *   queued the SysEx bytes are dropped.
 * - A data byte that belongs to no status is MIM_ERROR with the byte in
 *   bits 0-7.  A message cut short by a status byte is dropped.
 * - F4, F5, F6 and a lone F7 are one-byte messages; F1 and F3 take one
 *   data byte, F2 two.
 *
 * State is kept across feed calls, so a message split between two of them
 * arrives whole.  Nothing is allocated; the parser itself is not locked:
 * its owner serialises feed, reset and the header queue.
 */
#ifndef VOLTANIS_PLATFORM_INPARSER_H
#define VOLTANIS_PLATFORM_INPARSER_H

#include "../platform.h"

#include <stddef.h>
#include <stdint.h>

namespace vt {

/* What the parser needs from the port it parses for. */
class InParserTarget {
public:
    virtual ~InParserTarget() {}
    /* A short message (MIM_DATA) or an invalid byte (MIM_ERROR). */
    virtual void shortMessage(UINT kind, DWORD word) = 0;
    /* The first queued input header, still queued; nullptr when none is.
       The parser appends at lpData + dwBytesRecorded and counts
       dwBytesRecorded up, never past dwBufferLength. */
    virtual LPMIDIHDR firstHeader() = 0;
    /* The first header is finished with MIM_LONGDATA or MIM_LONGERROR, its
       dwBytesRecorded final: take it off the queue, mark it done and
       notify it.  The next firstHeader() must answer the header after. */
    virtual void headerBack(LPMIDIHDR h, UINT kind) = 0;
};

class InParser {
public:
    explicit InParser(InParserTarget *target) : target_(target) { reset(); }

    /* Forgets any message in progress and the running status, as after a
       port reset.  A SysEx in progress is abandoned without a notice (its
       header is handed back by whoever resets). */
    void reset();

    void feed(const uint8_t *p, size_t n);
    void feed(uint8_t b);

private:
    void status(uint8_t b);
    void data(uint8_t b);
    void sysexByte(uint8_t b);
    void endSysex(UINT kind);

    InParserTarget *target_;
    uint8_t running_; /* channel status for running status, 0 none */
    uint8_t status_;  /* status of the message being collected, 0 none */
    uint8_t need_;    /* data bytes it takes */
    uint8_t have_;    /* data bytes collected */
    uint8_t d_[2];
    bool sysex_;
};

/* The bytes of one packed short message (a MIM_DATA word: status in bits
   0-7, data bytes above), in cable order: how many the status takes, 1 to
   3.  0 when the word holds no status byte. */
unsigned unpackShortMessage(DWORD word, uint8_t out[3]);

} // namespace vt

#endif
