/*
 * The meaning of short messages, and the state earlier messages leave for
 * it: controllers, (N)RPN, bank, MTC pieces and the clock's tempo.
 */
#include "explain.h"

#include "textout.h"

#include <math.h>
#include <string.h>

/* ---- the clock's tempo ------------------------------------------------ */

namespace {

/* A new tick is checked against the line through the ticks before the
   latest kRecent, once kCheckFrom are held: a tempo that changed shows as
   ticks ever further off that line, which the line through all of them
   would partly follow.  Further than kOffLineUs is off the line: a jitter
   of a millisecond or two never is.  A tempo is given once the ticks held
   span two seconds and two beats, or fill the window. */
const int kRecent = 24;
const int kCheckFrom = 48;
const int kSettledTicks = 48;
const int64_t kSettledUs = 2000000;
const double kOffLineUs = 3000;
const int64_t kPausedUs = 1000000; /* no clock is that slow: it stopped */

} // namespace

void ClockTempo::clear()
{
    first_ = count_ = offSign_ = 0;
    bpm_ = 0;
}

void ClockTempo::push(int64_t us)
{
    if (count_ == kWindow) {
        first_++;
        count_--;
    }
    if (first_ + count_ == 2 * kWindow) {
        memmove(times_, times_ + first_, (size_t)count_ * sizeof times_[0]);
        first_ = 0;
    }
    times_[first_ + count_++] = us;
}

/* The line through the ticks held but the latest kRecent, which the next
   tick is checked against, and the tempo from the line through them all:
   the sums of both in one pass. */
void ClockTempo::refit()
{
    const int64_t *t = times_ + first_;
    const int n = count_, m = count_ - kRecent;
    if (n < kCheckFrom)
        return;
    double sumY = 0, sumXY = 0, refY = 0, refXY = 0;
    for (int i = 0; i < n; i++) {
        if (i == m) {
            refY = sumY;
            refXY = sumXY;
        }
        double y = (double)(t[i] - t[0]);
        sumY += y;
        sumXY += i * y;
    }
    /* the slope of a line through y(0..k-1): sum (x - mean x) y / sum (x - mean x)^2 */
    double refSlope = (refXY - (m - 1) / 2.0 * refY) / (m * ((double)m * m - 1) / 12.0);
    refSlope_ = refSlope;
    refStart_ = (double)t[0] + refY / m - refSlope * (m - 1) / 2.0;
    double slope = (sumXY - (n - 1) / 2.0 * sumY) / (n * ((double)n * n - 1) / 12.0);
    bool settled = n >= kSettledTicks && (n == kWindow || t[n - 1] - t[0] >= kSettledUs);
    bpm_ = settled && slope > 0 ? 60e6 / 24 / slope : 0;
}

void ClockTempo::tick(int64_t us)
{
    if (count_ > 0 && (us < times_[first_ + count_ - 1] || us - times_[first_ + count_ - 1] > kPausedUs))
        clear();
    if (count_ >= kCheckFrom) {
        double off = (double)us - (refStart_ + refSlope_ * count_);
        int sign = off > kOffLineUs ? 1 : off < -kOffLineUs ? -1 : 0;
        if (sign != 0 && sign == offSign_) {
            /* twice off the line the same way: the clock goes another
               pace from the tick before on */
            int64_t before = times_[first_ + count_ - 1];
            clear();
            push(before);
        } else {
            offSign_ = sign;
        }
    }
    push(us);
    refit();
}

/* ---- names ------------------------------------------------------------ */

namespace {

/* The MIDI 1.0 controller list; null where a number has no use assigned
   (and for 32-63, the LSBs of 0-31, and the channel mode messages). */
const char *const kControllers[128] = {"Bank Select", "Modulation", "Breath Controller", nullptr,
    "Foot Controller", "Portamento Time", "Data Entry", "Volume", "Balance", nullptr, "Pan", "Expression",
    "Effect Control 1", "Effect Control 2", nullptr, nullptr, "General Purpose 1", "General Purpose 2",
    "General Purpose 3", "General Purpose 4", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 32-63 */
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 64 */
    "Sustain", "Portamento", "Sostenuto", "Soft Pedal", "Legato Footswitch", "Hold 2", "Sound Variation",
    "Timbre", "Release Time", "Attack Time", "Brightness", "Decay Time", "Vibrato Rate", "Vibrato Depth",
    "Vibrato Delay", "Sound Controller 10", "General Purpose 5", "General Purpose 6", "General Purpose 7",
    "General Purpose 8", "Portamento Control", nullptr, nullptr, nullptr, "High Resolution Velocity Prefix",
    nullptr, nullptr, "Reverb (Effects 1 Depth)", "Tremolo (Effects 2 Depth)", "Chorus (Effects 3 Depth)",
    "Detune (Effects 4 Depth)", "Phaser (Effects 5 Depth)",
    /* 96 */
    "Data Increment", "Data Decrement", "NRPN LSB", "NRPN MSB", "RPN LSB", "RPN MSB", nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,
    /* 120: the channel mode messages, named apart */
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

const char *const kRpnNames[] = {"Pitch Bend Sensitivity", "Channel Fine Tuning", "Channel Coarse Tuning",
    "Tuning Program Change", "Tuning Bank Select", "Modulation Depth Range", "MPE Configuration"};

const char *const kMtcPieces[8] = {"frames low", "frames high", "seconds low", "seconds high", "minutes low",
    "minutes high", "hours low", "hours high and rate"};

const char *const kFrameRates[4] = {"24 fps", "25 fps", "30 fps drop-frame", "30 fps"};

enum { kNone, kRpn, kNrpn };

const char *plural(unsigned n) { return n == 1 ? "" : "s"; }

/* "Volume", "controller 3 (undefined)" (in room) */
const char *controllerName(uint8_t number, char (&room)[32])
{
    if (kControllers[number])
        return kControllers[number];
    snprintf(room, sizeof room, "controller %u (undefined)", number);
    return room;
}

/* what a known RPN's value stands for */
void addRpnValue(TextOut &t, unsigned lsbOfNumber, uint16_t v)
{
    unsigned msb = v >> 7, lsb = v & 0x7F;
    switch (lsbOfNumber) {
    case 0: t.add("%u semitone%s %u cent%s", msb, plural(msb), lsb, plural(lsb)); break;
    case 1: t.add("%+.2f cents", ((int)v - 8192) * 100.0 / 8192); break;
    case 2: t.add("%+d semitones", (int)msb - 64); break;
    case 3:
    case 4: t.add("%u", msb); break;
    case 5: t.add("%u semitone%s %.1f cents", msb, plural(msb), lsb * 100.0 / 128); break;
    default: t.add("%u member channel%s", msb, plural(msb)); break;
    }
}

} // namespace

/* ---- the state of each channel, MTC and clock ------------------------- */

void Explainer::clear()
{
    memset(channels_, 0, sizeof channels_);
    for (Channel &c : channels_)
        c.rpn[0] = c.rpn[1] = c.nrpn[0] = c.nrpn[1] = 0x7F; /* nothing selected */
    memset(mtc_, 0, sizeof mtc_);
    mtcLast_ = -1;
    mtcDirection_ = mtcRun_ = 0;
    clock_.clear();
    toldBpm_ = 0;
}

void Explainer::takeController(Channel &c, uint8_t number, uint8_t value)
{
    if (number < 32) {
        c.msb[number] = value;
        c.msbSeen |= 1u << number;
    } else if (number < 64) {
        c.lsb[number - 32] = value;
        c.lsbSeen |= 1u << (number - 32);
    }
    switch (number) {
    case 6: /* an MSB sets the LSB to 0 */
        c.value = (uint16_t)(value << 7);
        c.valueSeen = true;
        break;
    case 38:
        c.value = (uint16_t)((c.value & 0x3F80) | value);
        c.valueSeen = true;
        break;
    case 96:
        if (c.value < 16383)
            c.value++;
        c.valueSeen = true;
        break;
    case 97:
        if (c.value > 0)
            c.value--;
        c.valueSeen = true;
        break;
    case 98:
    case 99:
        c.nrpn[number == 98] = value;
        c.selected = kNrpn;
        c.value = 0;
        c.valueSeen = false;
        break;
    case 100:
    case 101:
        c.rpn[number == 100] = value;
        c.selected = c.rpn[0] == 0x7F && c.rpn[1] == 0x7F ? kNone : kRpn; /* the null RPN ends it */
        c.value = 0;
        c.valueSeen = false;
        break;
    case 121: /* Reset All Controllers: no parameter selected */
        c.rpn[0] = c.rpn[1] = c.nrpn[0] = c.nrpn[1] = 0x7F;
        c.selected = kNone;
        break;
    default: break;
    }
}

void Explainer::take(uint32_t word, int64_t arrivalUs)
{
    uint8_t status = (uint8_t)word, d1 = (uint8_t)(word >> 8), d2 = (uint8_t)(word >> 16);
    if (d1 > 0x7F || d2 > 0x7F)
        return; /* no message of MIDI: nothing to learn from it */
    if ((status & 0xF0) == 0xB0) {
        takeController(channels_[status & 0x0F], d1, d2);
    } else if (status == 0xF1) {
        int piece = d1 >> 4;
        int step = mtcLast_ < 0                    ? 0
                   : piece == ((mtcLast_ + 1) & 7) ? 1
                   : piece == ((mtcLast_ + 7) & 7) ? -1
                                                   : 0;
        if (step != 0 && (mtcRun_ == 1 || step == mtcDirection_)) {
            mtcRun_++;
            mtcDirection_ = step;
        } else {
            mtcRun_ = 1;
            mtcDirection_ = 0;
        }
        mtc_[piece] = d1 & 0x0F;
        mtcLast_ = piece;
    } else if (status == 0xF8) {
        clock_.tick(arrivalUs);
    }
}

/* ---- texts ------------------------------------------------------------ */

size_t Explainer::controllerText(
    const Channel &c, unsigned channel, uint8_t number, uint8_t value, char *out, size_t size) const
{
    TextOut t(out, size);
    char room[32];
    const unsigned ch = channel + 1;
    bool data = number == 6 || number == 38 || number == 96 || number == 97;
    bool select = number >= 98 && number <= 101;
    if (number >= 32 && number < 64 && number != 38) {
        t.add("ch %u %s LSB = %u", ch, controllerName((uint8_t)(number - 32), room), value);
        if (c.msbSeen & (1u << (number - 32)))
            t.add(", 14-bit %u", (unsigned)(c.msb[number - 32] << 7 | value));
        return t.length();
    }
    if (number >= 64 && number <= 69) {
        t.add("ch %u %s = %s", ch, kControllers[number], value >= 64 ? "on" : "off");
        return t.length();
    }
    if (number < 120 && !data && !select) {
        t.add("ch %u %s = %u", ch, controllerName(number, room), value);
        return t.length();
    }
    t.add("ch %u ", ch);
    if (number >= 120) {
        static const char *const kModes[8] = {"All Sound Off", "Reset All Controllers", "Local Control",
            "All Notes Off", "Omni Mode Off (all notes off)", "Omni Mode On (all notes off)", "Mono Mode On",
            "Poly Mode On (all notes off)"};
        t.add("%s", kModes[number - 120]);
        if (number == 122)
            t.add(" = %s", value >= 64 ? "on" : "off");
        if (number == 126 && value == 0)
            t.add(", as many channels as voices (all notes off)");
        else if (number == 126)
            t.add(", %u channel%s (all notes off)", value, plural(value));
        return t.length();
    }
    t.add("%s", number == 38 ? "Data Entry LSB" : kControllers[number]);
    if (c.selected == kNone) {
        if (data)
            t.add(" = %u (no parameter selected)", value);
        else
            t.add(": RPN null, no parameter selected");
        return t.length();
    }
    const uint8_t *p = c.selected == kRpn ? c.rpn : c.nrpn;
    t.add(": %s %u,%u", c.selected == kRpn ? "RPN" : "NRPN", p[0], p[1]);
    bool known = c.selected == kRpn && p[0] == 0 && p[1] < sizeof kRpnNames / sizeof kRpnNames[0];
    if (known)
        t.add(" %s", kRpnNames[p[1]]);
    if (!c.valueSeen) {
        t.add(" selected");
        return t.length();
    }
    t.add(" = ");
    if (known)
        addRpnValue(t, p[1], c.value);
    else
        t.add("%u", c.value);
    return t.length();
}

size_t Explainer::shortText(uint32_t word, char *out, size_t size)
{
    uint8_t status = (uint8_t)word, d1 = (uint8_t)(word >> 8), d2 = (uint8_t)(word >> 16);
    unsigned channel = status & 0x0F;
    TextOut t(out, size);
    if (d1 > 0x7F || d2 > 0x7F)
        return 0;
    switch (status & 0xF0) {
    case 0x80: t.add("ch %u release velocity %u", channel + 1, d2); return t.length();
    case 0x90:
        t.add(d2 ? "ch %u velocity %u" : "ch %u velocity %u = note off", channel + 1, d2);
        return t.length();
    case 0xA0: t.add("ch %u pressure %u", channel + 1, d2); return t.length();
    case 0xB0: return controllerText(channels_[channel], channel, d1, d2, out, size);
    case 0xC0: {
        const Channel &c = channels_[channel];
        t.add("ch %u program %u", channel + 1, d1);
        if (c.msbSeen & 1)
            t.add(", bank MSB %u", c.msb[0]);
        if (c.lsbSeen & 1)
            t.add((c.msbSeen & 1) ? " LSB %u" : ", bank LSB %u", c.lsb[0]);
        return t.length();
    }
    case 0xD0: t.add("ch %u pressure %u", channel + 1, d1); return t.length();
    case 0xE0: t.add("ch %u bend %+d", channel + 1, (d2 << 7 | d1) - 8192); return t.length();
    default: break;
    }
    switch (status) {
    case 0xF1:
        if (mtcRun_ >= 8 && ((mtcDirection_ > 0 && mtcLast_ == 7) || (mtcDirection_ < 0 && mtcLast_ == 0))) {
            t.add("MTC %02u:%02u:%02u:%02u, %s", mtc_[6] | (mtc_[7] & 1) << 4, mtc_[4] | (mtc_[5] & 3) << 4,
                mtc_[2] | (mtc_[3] & 3) << 4, mtc_[0] | (mtc_[1] & 1) << 4, kFrameRates[(mtc_[7] >> 1) & 3]);
        } else {
            t.add("MTC piece %u (%s) = %u", d1 >> 4, kMtcPieces[d1 >> 4], d1 & 0x0F);
        }
        break;
    case 0xF2: {
        unsigned v = (unsigned)(d2 << 7 | d1);
        t.add("%u sixteenth%s = %u:%u:%u (bar:beat:16th in 4/4)", v, plural(v), v / 16 + 1, v % 16 / 4 + 1,
            v % 4 + 1);
        break;
    }
    case 0xF3: t.add("song %u", d1); break;
    case 0xF6: t.add("tune the oscillators"); break;
    case 0xF7: t.add("end of a SysEx"); break;
    case 0xF8: {
        double bpm = clock_.bpm();
        if (bpm > 0) {
            t.add("%.1f BPM", bpm);
            toldBpm_ = bpm;
        } else {
            t.add("24 to the quarter note");
        }
        break;
    }
    case 0xFA: t.add("play from the start"); break;
    case 0xFB: t.add("play on from the song position"); break;
    case 0xFC: t.add("stop playing"); break;
    case 0xFE: t.add("sign of life, at least every 300 ms"); break;
    case 0xFF: t.add("reset to the power-up state"); break;
    default: break; /* F0, F4, F5, F9, FD: nothing to say */
    }
    return t.length();
}

size_t Explainer::tempoNews(char *out, size_t size)
{
    TextOut t(out, size);
    double bpm = clock_.bpm();
    if (bpm <= 0 || (toldBpm_ > 0 && fabs(bpm - toldBpm_) < 0.5))
        return 0;
    toldBpm_ = bpm;
    t.add("Timing Clock at %.1f BPM", bpm);
    return t.length();
}
