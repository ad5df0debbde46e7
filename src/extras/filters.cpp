/*
 * The display filters: kinds of messages by name, channel lists, and the
 * verdict on one message.
 */
#include "filters.h"

#include <string.h>

namespace {

const char *const kNames[KindCount] = {"note", "poly", "cc", "program", "pressure", "bend", "sysex", "mtc",
    "spp", "song", "tune", "clock", "sense", "transport", "reset"};

/* Calls item(from, end) for each comma-separated item of list, an empty
   one too; false as soon as one call is. */
template <class F> bool eachItem(const char *list, F item)
{
    for (;;) {
        const char *comma = strchr(list, ',');
        const char *end = comma ? comma : list + strlen(list);
        if (!item(list, end))
            return false;
        if (!comma)
            return true;
        list = comma + 1;
    }
}

/* a channel number 1 to 16 in decimal, all of [p, end) */
bool channelNumber(const char *p, const char *end, unsigned *channel)
{
    unsigned v = 0;
    if (p == end || end - p > 2)
        return false;
    for (; p < end; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (unsigned)(*p - '0');
    }
    *channel = v;
    return v >= 1 && v <= 16;
}

} // namespace

MessageKind messageKind(uint8_t status)
{
    static const MessageKind kChannelKinds[7] = {
        KindNote, KindNote, KindPoly, KindCc, KindProgram, KindPressure, KindBend};
    if (status < 0x80)
        return KindNone;
    if (status < 0xF0)
        return kChannelKinds[(status >> 4) - 8];
    switch (status) {
    case 0xF0:
    case 0xF7: return KindSysex;
    case 0xF1: return KindMtc;
    case 0xF2: return KindSpp;
    case 0xF3: return KindSong;
    case 0xF6: return KindTune;
    case 0xF8: return KindClock;
    case 0xFA:
    case 0xFB:
    case 0xFC: return KindTransport;
    case 0xFE: return KindSense;
    case 0xFF: return KindReset;
    default: return KindNone;
    }
}

const char *kindNames(void)
{
    return "note, poly, cc, program, pressure, bend, sysex, mtc, spp, song, tune, clock, sense, transport, "
           "reset";
}

bool parseKinds(const char *list, uint32_t *kinds, std::string *bad)
{
    return eachItem(list, [&](const char *p, const char *end) {
        for (int k = 0; k < KindCount; k++)
            if (strlen(kNames[k]) == (size_t)(end - p) && strncmp(kNames[k], p, (size_t)(end - p)) == 0) {
                *kinds |= 1u << k;
                return true;
            }
        bad->assign(p, end);
        return false;
    });
}

bool parseChannels(const char *list, uint16_t *channels)
{
    return eachItem(list, [&](const char *p, const char *end) {
        const char *dash = (const char *)memchr(p, '-', (size_t)(end - p));
        unsigned from = 0, to = 0;
        if (!channelNumber(p, dash ? dash : end, &from) || (dash && !channelNumber(dash + 1, end, &to)))
            return false;
        if (!dash)
            to = from;
        if (to < from)
            return false;
        for (unsigned c = from; c <= to; c++)
            *channels |= (uint16_t)(1u << (c - 1));
        return true;
    });
}

FilterVerdict filterVerdict(const ViewFilter &f, uint8_t status)
{
    const MessageKind kind = messageKind(status);
    const uint32_t bit = kind == KindNone ? 0 : 1u << kind;
    if (f.channels && status >= 0x80 && status < 0xF0 && !(f.channels & (1u << (status & 0x0F))))
        return FilterHides;
    if (f.only)
        return f.only & bit ? FilterShows : FilterHides;
    return f.hide & bit ? FilterHides : FilterAsUsual;
}
