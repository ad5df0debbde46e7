#include "smf.h"

#include "../platform/platform.h"

#include <string.h>

namespace {

const uint32_t kHeaderBytes = 22; /* MThd chunk (14) and the MTrk chunk's own header (8) */
const uint32_t kTrackLengthAt = 18;
const uint32_t kMaxVarLen = 0x0FFFFFFF;
const uint8_t kEot[4] = {0x00, 0xFF, 0x2F, 0x00};
const uint8_t kTextType = 0x01; /* an ended EOT becomes an empty text event */
/* the track's length is a 32-bit count: room is kept for the last EOT */
const uint32_t kMaxEnd = UINT32_MAX - 64;

void bigEndian32(uint32_t v, uint8_t *out)
{
    out[0] = (uint8_t)(v >> 24);
    out[1] = (uint8_t)(v >> 16);
    out[2] = (uint8_t)(v >> 8);
    out[3] = (uint8_t)v;
}

/* The bytes of a variable-length quantity (at most 0x0FFFFFFF), most
   significant group first; returns their count, 1 to 4. */
unsigned smfVarLen(uint32_t value, uint8_t out[4])
{
    if (value > kMaxVarLen)
        value = kMaxVarLen;
    uint8_t groups[4];
    unsigned n = 0;
    do {
        groups[n++] = (uint8_t)(value & 0x7F);
        value >>= 7;
    } while (value);
    for (unsigned i = 0; i < n; i++)
        out[i] = (uint8_t)(groups[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
    return n;
}

} // namespace

bool SmfLog::begin(SmfOut *out, int64_t originUs)
{
    static const uint8_t kStart[kHeaderBytes + sizeof kEot] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
        0xE7, 0x28, 'M', 'T', 'r', 'k', 0, 0, 0, sizeof kEot, 0x00, 0xFF, 0x2F, 0x00};
    out_ = out;
    originUs_ = originUs;
    lastTick_ = 0;
    running_ = 0;
    dirty_ = false;
    updatedUs_ = originUs;
    liveEot_ = kHeaderBytes;
    end_ = kHeaderBytes + sizeof kEot;
    if (!out_->writeAt(0, kStart, sizeof kStart) || !out_->flush())
        return failed(false);
    return true;
}

/* After a failed write, the EOT after the last whole event is written
   again in its place and the header updated (see smf.h); after a failed
   flush nothing is: what the header would cover may not be on the disk. */
bool SmfLog::failed(bool salvage)
{
    if (salvage && dirty_ && out_->writeAt(end_, kEot, sizeof kEot))
        commit();
    out_ = nullptr;
    return false;
}

/* One whole event at end_, with an EOT after it; end_ moves past the event
   only once all of it went. */
bool SmfLog::event(const uint8_t *head, uint32_t headLen, const uint8_t *body, uint32_t bodyLen)
{
    uint32_t n = headLen + bodyLen;
    if (bodyLen > kMaxEnd || end_ > kMaxEnd - n)
        return failed(true);
    bool ok;
    if (n + sizeof kEot <= sizeof scratch_) {
        memcpy(scratch_, head, headLen);
        if (bodyLen)
            memcpy(scratch_ + headLen, body, bodyLen);
        memcpy(scratch_ + n, kEot, sizeof kEot);
        ok = out_->writeAt(end_, scratch_, n + sizeof kEot);
    } else {
        ok = out_->writeAt(end_, head, headLen) &&
             (bodyLen == 0 || out_->writeAt(end_ + headLen, body, bodyLen)) &&
             out_->writeAt(end_ + n, kEot, sizeof kEot);
    }
    if (!ok)
        return failed(true);
    end_ += n;
    dirty_ = true;
    return true;
}

/* The delta time of an event arriving at arrivalUs into buf; a gap longer
   than a delta can hold (three days) is bridged with empty text events. */
bool SmfLog::delta(int64_t arrivalUs, uint8_t *buf, unsigned *len)
{
    int64_t ms = (arrivalUs - originUs_) / 1000;
    uint64_t tick = ms < (int64_t)lastTick_ ? lastTick_ : (uint64_t)ms;
    if (tick > UINT32_MAX)
        tick = UINT32_MAX;
    uint32_t d = (uint32_t)tick - lastTick_;
    lastTick_ = (uint32_t)tick;
    while (d > kMaxVarLen) {
        uint8_t filler[7];
        unsigned n = smfVarLen(kMaxVarLen, filler);
        filler[n++] = 0xFF;
        filler[n++] = kTextType;
        filler[n++] = 0;
        if (!event(filler, n))
            return false;
        running_ = 0;
        d -= kMaxVarLen;
    }
    *len = smfVarLen(d, buf);
    return true;
}

bool SmfLog::shortMessage(uint32_t word, int64_t arrivalUs)
{
    if (!out_)
        return false;
    uint8_t status = (uint8_t)word;
    if (status < 0x80 || status == 0xF0)
        return true; /* no message of its own */
    uint8_t ev[12];
    unsigned n;
    if (!delta(arrivalUs, ev, &n))
        return false;
    unsigned bytes = 1 + vtMidiDataBytes(status);
    uint8_t running = running_;
    if (status < 0xF0) {
        if (status != running)
            ev[n++] = status;
        running = status;
    } else {
        ev[n++] = 0xF7; /* an escape: the message as it came */
        ev[n++] = (uint8_t)bytes;
        ev[n++] = status;
        running = 0;
    }
    for (unsigned i = 1; i < bytes; i++)
        ev[n++] = (uint8_t)(word >> (8 * i)) & 0x7F;
    if (!event(ev, n))
        return false;
    running_ = running;
    return true;
}

bool SmfLog::text(const char *s, int64_t atUs)
{
    if (!out_)
        return false;
    uint8_t ev[12];
    unsigned n;
    if (!delta(atUs, ev, &n))
        return false;
    uint32_t len = (uint32_t)strnlen(s, 127);
    ev[n++] = 0xFF;
    ev[n++] = kTextType;
    n += smfVarLen(len, ev + n);
    if (!event(ev, n, (const uint8_t *)s, len))
        return false;
    running_ = 0;
    return true;
}

/* One SysEx event: F0 or F7, the body's length, the body. */
bool SmfLog::sysexEvent(uint8_t type, const uint8_t *body, uint32_t n, int64_t arrivalUs)
{
    uint8_t ev[12];
    unsigned len;
    if (!delta(arrivalUs, ev, &len))
        return false;
    ev[len++] = type;
    len += smfVarLen(n, ev + len);
    if (!event(ev, len, body, n))
        return false;
    running_ = 0;
    return true;
}

bool SmfLog::sysex(const uint8_t *p, uint32_t n, int64_t arrivalUs)
{
    if (!out_)
        return false;
    if (n == 0)
        return true;
    /* the first piece keeps its F0 as the event's type; a later piece is a
       continuation, F7 <length> <bytes> */
    if (p[0] == 0xF0)
        return sysexEvent(0xF0, p + 1, n - 1, arrivalUs);
    return sysexEvent(0xF7, p, n, arrivalUs);
}

/* The header set to cover the EOT after the last event (see smf.h). */
bool SmfLog::commit()
{
    uint8_t length[4];
    bigEndian32(end_ + sizeof kEot - kHeaderBytes, length);
    static const uint8_t kGoOn = kTextType;
    if (!out_->flush() || !out_->writeAt(kTrackLengthAt, length, 4) || !out_->flush() ||
        !out_->writeAt(liveEot_ + 2, &kGoOn, 1))
        return false;
    liveEot_ = end_;
    end_ += sizeof kEot;
    dirty_ = false;
    running_ = 0;
    return true;
}

bool SmfLog::cutSysex(const uint8_t *p, uint32_t n, int64_t arrivalUs)
{
    if (!out_)
        return false;
    return n == 0 || sysexEvent(0xF7, p, n, arrivalUs);
}

bool SmfLog::update(int64_t nowUs)
{
    if (!out_)
        return false;
    if (!dirty_)
        return true;
    if (!commit())
        return failed(false);
    updatedUs_ = nowUs;
    return true;
}

bool SmfLog::tick(int64_t nowUs)
{
    if (!out_ || !dirty_ || nowUs - updatedUs_ < kUpdateUs)
        return out_ != nullptr;
    return update(nowUs);
}

int64_t SmfLog::dueUs() const { return out_ && dirty_ ? updatedUs_ + kUpdateUs : -1; }

/* ---- the order of arrival -------------------------------------------- */

const unsigned SmfOrder::kHeld;
const int64_t SmfOrder::kNothingWaits;

void SmfOrder::begin(SmfLog *log)
{
    log_ = log;
    first_ = count_ = 0;
}

bool SmfOrder::writeOldest()
{
    const Held &h = q_[first_];
    first_ = (first_ + 1) % kHeld;
    count_--;
    return log_->shortMessage(h.word, h.arrivalUs);
}

bool SmfOrder::release(int64_t waitingUs)
{
    bool ok = log_ && log_->ok();
    while (count_ > 0 && q_[first_].arrivalUs <= waitingUs)
        ok = writeOldest() && ok;
    return ok;
}

bool SmfOrder::shortMessage(uint32_t word, int64_t arrivalUs, int64_t waitingUs)
{
    if (count_ == 0 && arrivalUs <= waitingUs)
        return log_->shortMessage(word, arrivalUs);
    bool ok = count_ < kHeld || writeOldest();
    q_[(first_ + count_++) % kHeld] = Held{word, arrivalUs};
    return release(waitingUs) && ok;
}

bool SmfOrder::sysex(const uint8_t *p, uint32_t n, int64_t arrivalUs, int64_t waitingUs)
{
    bool ok = release(arrivalUs);
    ok = log_->sysex(p, n, arrivalUs) && ok;
    return release(waitingUs) && ok;
}

bool SmfOrder::cutSysex(const uint8_t *p, uint32_t n, int64_t arrivalUs, int64_t waitingUs)
{
    bool ok = release(arrivalUs);
    ok = log_->cutSysex(p, n, arrivalUs) && ok;
    return release(waitingUs) && ok;
}
