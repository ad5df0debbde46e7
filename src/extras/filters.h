/*
 * The display filters of the command line: --hide=KINDS, --only=KINDS and
 * --channel=LIST.  They choose what the display shows, never what is
 * recorded, logged or saved: nothing received is lost to a filter.
 */
#ifndef VOLTANIS_EXTRAS_FILTERS_H
#define VOLTANIS_EXTRAS_FILTERS_H

#include <stdint.h>

#include <string>

/* The kinds a filter names, by the status byte of a message. */
enum MessageKind {
    KindNote,      /* 8n, 9n */
    KindPoly,      /* An */
    KindCc,        /* Bn */
    KindProgram,   /* Cn */
    KindPressure,  /* Dn */
    KindBend,      /* En */
    KindSysex,     /* F0 ... F7, and a lone F7 */
    KindMtc,       /* F1 */
    KindSpp,       /* F2 */
    KindSong,      /* F3 */
    KindTune,      /* F6 */
    KindClock,     /* F8 */
    KindSense,     /* FE */
    KindTransport, /* FA, FB, FC */
    KindReset,     /* FF */
    KindCount,
    KindNone = KindCount /* F4, F5, F9, FD: no kind a filter names */
};

MessageKind messageKind(uint8_t status);

/* "note, poly, cc, ...": the names, in the order above */
const char *kindNames(void);

struct ViewFilter {
    uint32_t hide = 0;     /* a bit per kind: --hide */
    uint32_t only = 0;     /* a bit per kind: --only; 0 when not given */
    uint16_t channels = 0; /* bit 0 for channel 1: --channel; 0 when not given */
};

/* "note,cc": the bits of the kinds named, added to *kinds; false, with the
   name that is no kind in *bad, for an unknown or an empty name. */
bool parseKinds(const char *list, uint32_t *kinds, std::string *bad);
/* "1,10", "1-4": the bits of the channels, added to *channels; false for an
   empty list or item, a channel outside 1 to 16, or a range backwards. */
bool parseChannels(const char *list, uint16_t *channels);

/* What the filter says of a message: no word (the display's own choice
   stands), shown (--only names it, even what CTRL-B hides), or hidden. */
enum FilterVerdict { FilterAsUsual, FilterShows, FilterHides };
FilterVerdict filterVerdict(const ViewFilter &f, uint8_t status);

#endif
