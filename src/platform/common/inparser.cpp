#include "inparser.h"

namespace vt {

namespace {

/* Data bytes a status takes; only called for 0x80..0xF6 without F0. */
uint8_t dataBytes(uint8_t s)
{
    if (s < 0xF0)
        return (s & 0xE0) == 0xC0 ? 1 : 2; /* program change, channel pressure */
    switch (s) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0; /* F4, F5, F6 */
    }
}

} // namespace

unsigned unpackShortMessage(DWORD word, uint8_t out[3])
{
    uint8_t s = (uint8_t)word;
    if (s < 0x80)
        return 0;
    unsigned n = s == 0xF0 || s >= 0xF7 ? 1 : 1 + dataBytes(s);
    for (unsigned i = 0; i < n; i++)
        out[i] = (uint8_t)(word >> (8 * i));
    return n;
}

void InParser::reset()
{
    running_ = 0;
    status_ = 0;
    need_ = 0;
    have_ = 0;
    d_[0] = d_[1] = 0;
    sysex_ = false;
}

void InParser::feed(const uint8_t *p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        if (sysex_) {
            /* the data bytes of a SysEx go on in one run */
            size_t j = i;
            while (j < n && p[j] < 0x80)
                j++;
            if (j > i)
                target_->sysexBytes(p + i, j - i);
            i = j;
            if (i == n)
                return;
        }
        feed(p[i++]);
    }
}

void InParser::feed(uint8_t b)
{
    if (b >= 0xF8) {
        /* real time interrupts nothing */
        target_->shortMessage(MIM_DATA, b);
    } else if (b < 0x80) {
        if (sysex_)
            sysexByte(b);
        else
            data(b);
    } else if (b == 0xF7 && sysex_) {
        sysexByte(b);
        sysex_ = false;
        target_->sysexEnd(MIM_LONGDATA);
    } else {
        if (sysex_) {
            sysex_ = false;
            target_->sysexEnd(MIM_LONGERROR);
        }
        status(b);
    }
}

void InParser::status(uint8_t b)
{
    status_ = 0; /* whatever was being collected is cut short */
    have_ = 0;
    if (b < 0xF0) {
        running_ = b;
        status_ = b;
        need_ = dataBytes(b);
        return;
    }
    running_ = 0;
    if (b == 0xF0) {
        sysex_ = true;
        sysexByte(b);
        return;
    }
    if (b == 0xF7) { /* an end with no start: a message of its own */
        target_->shortMessage(MIM_DATA, b);
        return;
    }
    need_ = dataBytes(b);
    if (need_ == 0)
        target_->shortMessage(MIM_DATA, b);
    else
        status_ = b;
}

void InParser::data(uint8_t b)
{
    if (!status_) {
        if (!running_) {
            target_->shortMessage(MIM_ERROR, b);
            return;
        }
        status_ = running_;
        need_ = dataBytes(running_);
        have_ = 0;
    }
    d_[have_++] = b;
    if (have_ < need_)
        return;
    DWORD word = status_ | (DWORD)d_[0] << 8;
    if (need_ == 2)
        word |= (DWORD)d_[1] << 16;
    status_ = 0;
    have_ = 0;
    target_->shortMessage(MIM_DATA, word);
}

void InParser::sysexByte(uint8_t b) { target_->sysexBytes(&b, 1); }

} // namespace vt
