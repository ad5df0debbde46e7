#include "inparser.h"

namespace vt {

unsigned unpackShortMessage(DWORD word, uint8_t out[3])
{
    uint8_t s = (uint8_t)word;
    if (s < 0x80)
        return 0;
    unsigned n = 1 + vtMidiDataBytes(s);
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
        need_ = vtMidiDataBytes(b);
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
    need_ = vtMidiDataBytes(b);
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
        need_ = vtMidiDataBytes(running_);
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
