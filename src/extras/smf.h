/*
 * A log of what was received as a Standard MIDI File: format 0, one track,
 * millisecond ticks (SMPTE division: 25 frames of 40 ticks a second).
 *
 * The events are written as they come; the track length in the header is
 * brought up to date at least once a second, at the end, at a signal that
 * ends the program and after a failed write, so that a file left by a kill
 * or a power cut holds a complete, valid track with every event up to the
 * latest update.  How the file stays valid at every moment:
 *
 *   start   the header covers an empty track that ends (End of Track, EOT);
 *   events  each is written after the ending the header covers, with an
 *           EOT after it that the next event overwrites, so the covered
 *           part is never touched and the last whole event is followed by
 *           an EOT;
 *   update  what was written is flushed to the disk, then the header is
 *           set to cover the latest EOT and flushed; only then does the old
 *           EOT become an empty text event (FF 01 00, the same four bytes
 *           with another type) so that a reader goes on past it;
 *   failure a write that failed may have cut into the EOT after the last
 *           whole event: it is written again in its place, where the file
 *           already has its bytes (so a full disk or the file size limit
 *           lets it through), then the header is updated as above, and the
 *           log writes no more.
 *
 * Whatever moment the program dies at, the header covers complete events
 * that end with an EOT; between the header's update and the old EOT's
 * change a reader stops early, at the old ending, and sees the events up to
 * the update before.  Each update leaves one empty text event behind.
 *
 * The SMF rules: channel messages may use running status, which every
 * other event cancels; a SysEx is F0 <length> <the bytes after F0>; the
 * piece of a SysEx that goes on in the next one lacks its F7, the pieces
 * after it are F7 <length> <bytes>.  System common and real-time messages
 * have no event of their own in a track (FF means a meta event there):
 * they are stored as F7 escapes, F7 <length> <the message as it came>, so
 * that a player sends them again as they came (clock, start, stop) and a
 * reader that has no use for them skips them.  A message arriving earlier
 * than the one before it keeps the order it was given in, at the same tick
 * (SmfOrder below gives them in the order they arrived).
 */
#ifndef VOLTANIS_EXTRAS_SMF_H
#define VOLTANIS_EXTRAS_SMF_H

#include <stddef.h>
#include <stdint.h>

/* where the log's bytes go: a file, or memory in the tests */
class SmfOut {
public:
    virtual ~SmfOut() {}
    /* n bytes at offset, which is at most the file's length (the file
       grows when they go past its end) */
    virtual bool writeAt(uint32_t offset, const uint8_t *p, uint32_t n) = 0;
    /* returns once everything written is on the disk */
    virtual bool flush() = 0;
};

class SmfLog {
public:
    static const int64_t kUpdateUs = 1000000; /* at least once a second */

    /* Writes the header and an ended empty track; the track's tick 0 is
       originUs.  False when out failed. */
    bool begin(SmfOut *out, int64_t originUs);

    /* A short message packed as the port service notifies it (status in
       bits 0-7, data bytes above). */
    bool shortMessage(uint32_t word, int64_t arrivalUs);
    /* A SysEx or a piece of one, as the input header held it. */
    bool sysex(const uint8_t *p, uint32_t n, int64_t arrivalUs);
    /* A SysEx another status byte cut off, or the last piece of one that
       came in pieces: its bytes as they came, in an F7 escape, with no F7
       added.  Nothing for no bytes. */
    bool cutSysex(const uint8_t *p, uint32_t n, int64_t arrivalUs);

    /* The header brought up to date when events were written since the
       last update and a second has passed since it. */
    bool tick(int64_t nowUs);
    /* A text event (a marker: "MIDI IN port gone: NAME"), at atUs; the
       text is cut to 127 bytes. */
    bool text(const char *s, int64_t atUs);
    /* The header brought up to date now, when events were written.  Uses
       no lock and allocates nothing: also for a signal handler, with an
       out that does the same. */
    bool update(int64_t nowUs);
    /* When tick will next have something to do; -1 for nothing waiting. */
    int64_t dueUs() const;

    /* False after any failed write: nothing more is written. */
    bool ok() const { return out_ != nullptr; }

private:
    bool delta(int64_t arrivalUs, uint8_t *buf, unsigned *len);
    bool sysexEvent(uint8_t type, const uint8_t *body, uint32_t n, int64_t arrivalUs);
    bool event(const uint8_t *head, uint32_t headLen, const uint8_t *body = nullptr, uint32_t bodyLen = 0);
    bool commit();
    bool failed(bool salvage);

    SmfOut *out_ = nullptr;
    int64_t originUs_ = 0;
    uint32_t lastTick_ = 0;
    uint8_t running_ = 0;  /* status of the last channel event; 0 none */
    uint32_t end_ = 0;     /* offset where the next event goes */
    uint32_t liveEot_ = 0; /* offset of the EOT the header covers */
    bool dirty_ = false;   /* events written after it */
    int64_t updatedUs_ = 0;
    uint8_t scratch_[256]; /* an event and the EOT after it, in one write */
};

/*
 * The log in the order the messages arrived.  The display takes the short
 * messages first and a SysEx once they are all shown, so a SysEx that
 * arrived while short messages waited is taken after them.  Given the
 * messages in the display's order, with the arrival time of the oldest
 * message still waiting behind the short messages (a complete SysEx, a
 * wild byte), this holds back the short messages that arrived after it
 * until it has been taken, and writes them after it.  At most kHeld wait;
 * beyond that the oldest is written at once, and a message taken later
 * that arrived before it goes in at the same tick.
 */
class SmfOrder {
public:
    static const unsigned kHeld = 8192;
    static const int64_t kNothingWaits = INT64_MAX;

    void begin(SmfLog *log);
    /* A short message taken; waitingUs: when the oldest message waiting
       behind the short messages arrived, or kNothingWaits. */
    bool shortMessage(uint32_t word, int64_t arrivalUs, int64_t waitingUs);
    /* A SysEx or a piece taken: the short messages held back that arrived
       before it go first. */
    bool sysex(const uint8_t *p, uint32_t n, int64_t arrivalUs, int64_t waitingUs);
    /* The same for a SysEx cut off before its end (SmfLog::cutSysex). */
    bool cutSysex(const uint8_t *p, uint32_t n, int64_t arrivalUs, int64_t waitingUs);
    /* Writes the messages held back that arrived no later than waitingUs
       (kNothingWaits: all of them).  No lock, no allocation. */
    bool release(int64_t waitingUs);
    unsigned held() const { return count_; }

private:
    struct Held {
        uint32_t word;
        int64_t arrivalUs;
    };
    bool writeOldest();

    SmfLog *log_ = nullptr;
    Held q_[kHeld];
    unsigned first_ = 0, count_ = 0;
};

#endif
