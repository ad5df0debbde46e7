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
 * - The bytes of a SysEx, its F0 first and its F7 last, go to the target
 *   as they come (runs of them at once), and its end is told apart: after
 *   the F7 as MIM_LONGDATA; when any other status byte cuts it off, as
 *   MIM_LONGERROR, and that status byte starts its own message.  Where the
 *   bytes are kept (the program's input headers, or held until one is
 *   queued) is the target's business.
 * - A data byte that belongs to no status is MIM_ERROR with the byte in
 *   bits 0-7.  A message cut short by a status byte is dropped.
 * - F4, F5, F6 and a lone F7 are one-byte messages; F1 and F3 take one
 *   data byte, F2 two.
 *
 * State is kept across feed calls, so a message split between two of them
 * arrives whole.  Nothing is allocated; the parser itself is not locked:
 * its owner serialises feed and reset.
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
    /* The next bytes of the SysEx in progress, in order: its F0 first, the
       F7 that ends it last; only data bytes between. */
    virtual void sysexBytes(const uint8_t *p, size_t n) = 0;
    /* The SysEx in progress is over: MIM_LONGDATA after its F7,
       MIM_LONGERROR when another status byte broke it off. */
    virtual void sysexEnd(UINT kind) = 0;
};

class InParser {
public:
    explicit InParser(InParserTarget *target) : target_(target) { reset(); }

    /* Forgets any message in progress and the running status, as after a
       port reset.  A SysEx in progress is abandoned without an end (whoever
       resets deals with what it had received). */
    void reset();

    void feed(const uint8_t *p, size_t n);
    void feed(uint8_t b);

private:
    void status(uint8_t b);
    void data(uint8_t b);
    void sysexByte(uint8_t b);

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
