/*
 * The long messages of one open input: the program's input headers, queued
 * and handed back in order, and the SysEx messages held while no header is
 * queued for them.
 *
 * A SysEx goes straight into the first queued header while nothing is
 * held.  Otherwise, and for what follows once that header is full, it is
 * held here until a header is queued; at each queued header the oldest held
 * message is handed over at once.  A message longer than a header comes
 * back in consecutive pieces: each full header with MIM_LONGDATA, the last
 * with the message's own end.  Held messages keep their order and are never
 * cut (but into such pieces), merged or reordered.  A message that another
 * status byte broke off comes back with MIM_LONGERROR and the bytes it
 * had; when it broke off right after a full piece, that end comes in a
 * header of no bytes.
 *
 * What is held is bounded: kHeldMessages messages or kHeldBytes bytes
 * (a smaller store for tests), whichever comes first.  A message that does not fit is dropped whole
 * (with what of it was held) and counted; the count goes to the host to
 * report once everything held before has been handed over.  The store is
 * allocated at its first use and kept as long as the object: nothing is
 * allocated per message.
 *
 * Not locked: the host calls it under the input's mutex.
 */
#ifndef VOLTANIS_PLATFORM_LONGINPUT_H
#define VOLTANIS_PLATFORM_LONGINPUT_H

#include "../platform.h"

#include <stddef.h>
#include <stdint.h>

namespace vt {

class LongInputTarget {
public:
    virtual ~LongInputTarget() {}
    /* The header is off the queue with its dwBytesRecorded final: mark it
       done and notify it as `kind` (MIM_LONGDATA or MIM_LONGERROR), as
       arrived at atUs (vtClockUs). */
    virtual void headerBack(LPMIDIHDR h, UINT kind, int64_t atUs) = 0;
};

class LongInput {
public:
    static constexpr unsigned kHeaders = 32; /* input headers one input may hold */
    static constexpr unsigned kHeldMessages = 256;
    static constexpr size_t kHeldBytes = (size_t)4 << 20;

    explicit LongInput(LongInputTarget *target, size_t heldBytes = kHeldBytes)
        : target_(target), size_(heldBytes)
    {}
    ~LongInput() { delete[] store_; }
    LongInput(const LongInput &) = delete;
    LongInput &operator=(const LongInput &) = delete;

    unsigned queued() const { return count_; }
    bool full() const { return count_ == kHeaders; }
    /* messages held, the one still arriving included */
    unsigned held() const { return recCount_; }
    /* How full the store is, in percent of the nearer of its two bounds
       (messages, bytes). */
    unsigned heldPercent() const
    {
        unsigned byMessages = recCount_ * 100 / kHeldMessages;
        unsigned byBytes = (unsigned)(used_ * 100 / size_);
        return byMessages > byBytes ? byMessages : byBytes;
    }

    /* Queues the header (empty, dwBytesRecorded 0) and hands the oldest
       held message, or its next piece, over at once.  Returns the messages
       dropped since the last report when nothing was held before this call
       (the queue has drained), else 0. */
    unsigned add(LPMIDIHDR h);
    /* The port's reset: every queued header comes back empty (MIM_LONGDATA),
       the message in progress is abandoned and what is held dropped.
       Returns the ended messages dropped (whole or cut off), with those
       not yet reported. */
    unsigned reset();
    /* Takes the first queued header off without a hand-back; nullptr when
       none is queued. */
    LPMIDIHDR popHeader();
    /* Forgets everything held and in progress, without a word. */
    void forget();

    /* The next bytes of the SysEx in progress (the first call starts one),
       arrived at atUs. */
    void bytes(const uint8_t *p, size_t n, int64_t atUs);
    /* Its end, arrived at atUs: MIM_LONGDATA or MIM_LONGERROR.  A message
       is timed by its end, also when it is held and handed over later. */
    void end(UINT kind, int64_t atUs);

private:
    enum Dest { None, Header, Store };
    struct Held {
        size_t len;
        UINT kind;  /* 0 while still arriving */
        int64_t at; /* when its end arrived */
    };

    void choose();
    void toHeader(const uint8_t *&p, size_t &n);
    bool toStore(const uint8_t *p, size_t n);
    void drop();
    void pump();
    void copyOut(LPMIDIHDR h, size_t n);
    void popRecord();
    void handBack(UINT kind, int64_t atUs);

    LongInputTarget *target_;
    const size_t size_; /* of the store */
    LPMIDIHDR q_[kHeaders] = {};
    unsigned first_ = 0;
    unsigned count_ = 0;

    bool inMsg_ = false;    /* a SysEx is in progress */
    bool dropping_ = false; /* and is being dropped */
    Dest dest_ = None;      /* where its next bytes go */
    int64_t nowUs_ = 0;     /* when its latest bytes arrived */

    uint8_t *store_ = nullptr; /* size_ bytes, a ring */
    size_t head_ = 0;          /* the oldest held byte */
    size_t used_ = 0;
    Held recs_[kHeldMessages] = {};
    unsigned recFirst_ = 0;
    unsigned recCount_ = 0;
    unsigned dropped_ = 0; /* not reported yet */
};

} // namespace vt

#endif
