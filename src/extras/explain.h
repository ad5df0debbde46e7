/*
 * What a received message means, in a few words (-x, --explain): the
 * controller's name, the assembled (N)RPN, the program with its bank, the
 * bend as a signed value, the MTC time once its eight pieces have come, the
 * song position in bars, the clock's tempo, and for a SysEx the
 * manufacturer, the universal messages and the checksum rules of the
 * manufacturers that have one.
 *
 * Each text is written into a buffer, without a separator, so that every
 * way of showing a message can use it; an empty text means there is
 * nothing to say.  Only printable ASCII without a semicolon is ever
 * written: what a SysEx carries as text reaches the buffer with its
 * control characters and semicolons as '?'.
 * Nothing is read beyond the bytes of the message given.
 */
#ifndef VOLTANIS_EXTRAS_EXPLAIN_H
#define VOLTANIS_EXTRAS_EXPLAIN_H

#include <stddef.h>
#include <stdint.h>

/* The tempo of a MIDI clock (24 ticks to the quarter note), from the
   times its ticks arrived.  The estimate is a straight line fitted through
   the latest ticks, so that the jitter of single ticks hardly moves it;
   ticks far off the line twice in a row (a new tempo, or a clock that
   stopped and went on) start the estimate afresh, and so does a pause of
   a second. */
class ClockTempo {
public:
    void tick(int64_t arrivalUs);
    /* the tempo in beats per minute once enough ticks have come, else 0 */
    double bpm() const { return bpm_; }
    void clear();

private:
    static const int kWindow = 192; /* ticks fitted: two bars of 4/4 */
    void push(int64_t us);
    void refit();
    /* the ticks held, times_[first_] the oldest: a window that slides
       along twice its length and is moved back to the start at the end */
    int64_t times_[2 * kWindow] = {};
    int first_ = 0, count_ = 0;
    int offSign_ = 0;                    /* the latest tick was off the line: above 1, below -1 */
    double refStart_ = 0, refSlope_ = 0; /* the line the next tick is checked against */
    double bpm_ = 0;
};

/* Names from the published list of manufacturer SysEx IDs
   (manufacturers.cpp): a one-byte ID, or the two bytes after a leading 0;
   null for an ID not listed. */
const char *manufacturerName(uint8_t id);
const char *extendedManufacturerName(uint8_t id2, uint8_t id3);

/* The explanation of each message as it comes, with what earlier messages
   set: per channel the controllers' last values, the (N)RPN selected and
   its value, the bank; the MTC pieces; the clock. */
class Explainer {
public:
    Explainer() { clear(); }
    /* A short message received: the state it changes (every message
       should be taken, shown or not). */
    void take(uint32_t word, int64_t arrivalUs);
    /* The meaning of the short message taken last; returns the length
       written (at most size - 1). */
    size_t shortText(uint32_t word, char *out, size_t size);
    /* The clock's tempo when it is news: first known, or 0.5 BPM away from
       the tempo said last.  0 when there is nothing new. */
    size_t tempoNews(char *out, size_t size);
    void clear();

private:
    struct Channel {
        uint8_t msb[32], lsb[32]; /* controllers 0-31 and 32-63 */
        uint32_t msbSeen, lsbSeen;
        uint8_t rpn[2], nrpn[2]; /* parameter numbers, MSB then LSB */
        uint8_t selected;        /* none, RPN or NRPN: the one set last */
        uint16_t value;          /* its data entry, 14 bits */
        bool valueSeen;
    };
    void takeController(Channel &c, uint8_t number, uint8_t value);
    size_t controllerText(
        const Channel &c, unsigned channel, uint8_t number, uint8_t value, char *out, size_t size) const;

    Channel channels_[16] = {};
    uint8_t mtc_[8] = {};
    int mtcLast_ = -1, mtcDirection_ = 0, mtcRun_ = 0;
    ClockTempo clock_;
    double toldBpm_ = 0; /* the tempo said last; 0 none */
};

/* The meaning of a SysEx message, or of the first piece of one that came
   in pieces (a later piece, without F0, has none); returns the length. */
size_t explainSysex(const uint8_t *p, size_t n, char *out, size_t size);

#endif
