#include "longinput.h"

#include <string.h>

#include <new>

namespace vt {

/* Held messages lie one after another in the store, oldest first, so that
   each starts where the one before ends: only the oldest is read (from
   head_) and only the newest grows or is dropped. */

unsigned LongInput::add(LPMIDIHDR h)
{
    unsigned report = 0;
    if (recCount_ == 0) {
        report = dropped_;
        dropped_ = 0;
    }
    q_[(first_ + count_++) % kHeaders] = h;
    pump();
    return report;
}

unsigned LongInput::reset()
{
    for (unsigned i = 0; i < recCount_; i++)
        if (recs_[(recFirst_ + i) % kHeldMessages].kind != 0)
            dropped_++; /* a message that had ended, whole or cut off */
    forget();
    while (count_) {
        q_[first_]->dwBytesRecorded = 0;
        handBack(MIM_LONGDATA, nowUs_);
    }
    unsigned report = dropped_;
    dropped_ = 0;
    return report;
}

LPMIDIHDR LongInput::popHeader()
{
    if (!count_)
        return nullptr;
    LPMIDIHDR h = q_[first_];
    first_ = (first_ + 1) % kHeaders;
    count_--;
    return h;
}

void LongInput::forget()
{
    inMsg_ = false;
    dropping_ = false;
    dest_ = None;
    head_ = used_ = 0;
    recFirst_ = recCount_ = 0;
}

void LongInput::bytes(const uint8_t *p, size_t n, int64_t atUs)
{
    nowUs_ = atUs;
    if (!inMsg_) {
        inMsg_ = true;
        dropping_ = false;
        dest_ = None;
    }
    while (n && !dropping_) {
        if (dest_ == None)
            choose();
        if (dest_ == Header) {
            toHeader(p, n);
        } else if (dest_ == Store) {
            if (!toStore(p, n))
                drop();
            return;
        }
    }
}

void LongInput::end(UINT kind, int64_t atUs)
{
    if (!inMsg_)
        return;
    nowUs_ = atUs;
    inMsg_ = false;
    if (dropping_) {
        dropping_ = false; /* counted when the drop began */
    } else if (dest_ == Header) {
        /* (empty only when what came before went out as full pieces) */
        if (q_[first_]->dwBytesRecorded || kind == MIM_LONGERROR)
            handBack(kind, atUs);
    } else if (dest_ == Store) {
        Held &r = recs_[(recFirst_ + recCount_ - 1) % kHeldMessages];
        r.kind = kind;
        r.at = atUs;
        /* its bytes all went out as full pieces already: a cut is still
           told, in a header of no bytes */
        if (r.len == 0 && kind != MIM_LONGERROR)
            recCount_--;
        pump();
    } else if (kind == MIM_LONGERROR) {
        /* cut right after a full piece, so that nothing of it waits: the
           end is told in a header of no bytes, at once or when one is
           queued */
        if (recCount_ == 0 && count_ > 0) {
            handBack(kind, atUs);
        } else if (recCount_ < kHeldMessages) {
            recs_[(recFirst_ + recCount_++) % kHeldMessages] = Held{0, kind, atUs};
            pump();
        }
    }
    dest_ = None;
}

/* Where the next piece of the message in progress goes: straight into the
   program's header when nothing waits before it, else a new held record. */
void LongInput::choose()
{
    if (recCount_ == 0 && count_ > 0) {
        dest_ = Header;
        return;
    }
    if (recCount_ == kHeldMessages) {
        drop();
        return;
    }
    recs_[(recFirst_ + recCount_++) % kHeldMessages] = Held{0, 0, 0};
    dest_ = Store;
}

void LongInput::toHeader(const uint8_t *&p, size_t &n)
{
    LPMIDIHDR h = q_[first_];
    size_t room = h->dwBufferLength - h->dwBytesRecorded;
    size_t k = n < room ? n : room;
    memcpy(h->lpData + h->dwBytesRecorded, p, k);
    h->dwBytesRecorded += (DWORD)k;
    p += k;
    n -= k;
    if (h->dwBytesRecorded == h->dwBufferLength) {
        handBack(MIM_LONGDATA, nowUs_); /* full: the rest goes on in the next piece */
        dest_ = None;
    }
}

bool LongInput::toStore(const uint8_t *p, size_t n)
{
    if (!store_)
        store_ = new (std::nothrow) uint8_t[size_];
    if (!store_ || n > size_ - used_)
        return false;
    size_t at = (head_ + used_) % size_;
    size_t k = n < size_ - at ? n : size_ - at;
    memcpy(store_ + at, p, k);
    memcpy(store_, p + k, n - k);
    used_ += n;
    recs_[(recFirst_ + recCount_ - 1) % kHeldMessages].len += n;
    return true;
}

/* The message in progress does not fit: what of it was held goes, the
   rest of it is passed over up to its end. */
void LongInput::drop()
{
    if (dest_ == Store) {
        used_ -= recs_[(recFirst_ + recCount_ - 1) % kHeldMessages].len;
        recCount_--;
    }
    dest_ = None;
    dropping_ = true;
    dropped_++;
}

/* Hands held messages over while headers are queued. */
void LongInput::pump()
{
    while (count_ > 0 && recCount_ > 0) {
        Held &r = recs_[recFirst_];
        LPMIDIHDR h = q_[first_];
        size_t room = h->dwBufferLength - h->dwBytesRecorded;
        if (r.kind == 0 && r.len < room) {
            /* still arriving, and only it is held: the rest of it goes
               straight into this header */
            copyOut(h, r.len);
            popRecord();
            dest_ = Header;
            return;
        }
        size_t k = r.len < room ? r.len : room;
        copyOut(h, k);
        /* a held piece is as old as its message's end, or as the latest
           bytes while the message is still arriving */
        int64_t at = r.kind != 0 ? r.at : nowUs_;
        if (r.len == 0 && r.kind != 0) {
            UINT kind = r.kind;
            popRecord();
            handBack(kind, at);
        } else {
            handBack(MIM_LONGDATA, at); /* a full piece; the rest stays first */
        }
    }
}

void LongInput::copyOut(LPMIDIHDR h, size_t n)
{
    if (n == 0)
        return;
    size_t k = n < size_ - head_ ? n : size_ - head_;
    char *to = h->lpData + h->dwBytesRecorded;
    memcpy(to, store_ + head_, k);
    memcpy(to + k, store_, n - k);
    h->dwBytesRecorded += (DWORD)n;
    head_ = (head_ + n) % size_;
    used_ -= n;
    recs_[recFirst_].len -= n;
}

void LongInput::popRecord()
{
    recFirst_ = (recFirst_ + 1) % kHeldMessages;
    recCount_--;
}

void LongInput::handBack(UINT kind, int64_t atUs) { target_->headerBack(popHeader(), kind, atUs); }

} // namespace vt
