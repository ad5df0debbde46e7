/*
 * What the display says and shows: the explanation that ends a line of the
 * text display (-x), the filters (--hide, --only, --channel) and the count
 * of what they hid.  The hooks of extras.h for them, and the state of the
 * message taken last.
 */
#include "extras.h"

#include "explain.h"
#include "filters.h"
#include "view.h"

#include "../frontend/frontend.h"

#include <stdio.h>
#include <string.h>

bool gViewOn = false;

namespace {

bool gExplain = false;
bool gFilters = false;
ViewFilter gFilter;
uint32_t gHidden = 0; /* messages the filters hid that would have been shown */

/* one per input port: what a port's messages set (controllers, the
   clock's tempo) is that port's alone while several are merged */
Explainer gExplainers[VT_MAX_INPUTS];
Explainer *gExplainer = &gExplainers[0];

/* the message taken last */
enum Taken { TakenNone, TakenShort, TakenSysex };
Taken gTaken = TakenNone;
uint32_t gWord = 0;
const uint8_t *gSysex = nullptr;
uint32_t gSysexLength = 0;
bool gSysexCut = false; /* the SysEx taken was cut off */
FilterVerdict gVerdict = FilterAsUsual;

/* "  ; " and the explanation: the blanks and the semicolon let a script cut
   it off the line */
const char kSeparator[] = "  ; ";
char gLine[320];
char gEnd[sizeof gLine + 64]; /* the reply latency before it */

const char *separated(size_t length) { return length ? gLine : ""; }

/* the filters' answer for the message taken last */
int shows(int usual)
{
    if (!gFilters || gVerdict == FilterAsUsual)
        return usual;
    return gVerdict == FilterShows;
}

} // namespace

void explainOn(void)
{
    gExplain = true;
    gViewOn = true;
}

void filtersOn(const ViewFilter *f)
{
    if (!f->hide && !f->only && !f->channels)
        return;
    gFilter = *f;
    gFilters = true;
    gViewOn = true;
}

void viewOff(void)
{
    gExplain = gFilters = gViewOn = false;
    gFilter = ViewFilter();
    gHidden = 0;
    for (Explainer &e : gExplainers)
        e.clear();
    gExplainer = &gExplainers[0];
    gTaken = TakenNone;
    gVerdict = FilterAsUsual;
}

void viewSourceIs(int source)
{
    gExplainer = &gExplainers[source > 0 && source < VT_MAX_INPUTS ? source : 0];
}

int viewShortTaken(uint32_t word, int64_t arrivalUs, int usual)
{
    gTaken = TakenShort;
    gWord = word;
    gVerdict = gFilters ? filterVerdict(gFilter, (uint8_t)word) : FilterAsUsual;
    if (gExplain)
        gExplainer->take(word, arrivalUs);
    return shows(usual);
}

int viewSysexTaken(const uint8_t *p, uint32_t n, int cut)
{
    gTaken = TakenSysex;
    gSysexCut = cut != 0;
    gSysex = p;
    gSysexLength = n;
    gVerdict = gFilters ? filterVerdict(gFilter, 0xF0) : FilterAsUsual;
    return shows(1);
}

void viewOtherTaken(void)
{
    gTaken = TakenNone;
    gVerdict = FilterAsUsual;
}

int receivedShown(int usual)
{
    if (!gFilters)
        return usual;
    int shown = shows(usual);
    /* a message that came in pieces counts once, by its first */
    bool later = gTaken == TakenSysex && gSysexLength > 0 && gSysex[0] != 0xF0;
    if (usual && !shown && !later && gHidden < UINT32_MAX)
        gHidden++;
    return shown;
}

namespace {

/* "  ; " and what the message taken last means, or "" */
const char *explanation(void)
{
    if (gVerdict == FilterHides)
        return "";
    const size_t skip = sizeof kSeparator - 1;
    char *text = gLine + skip;
    const size_t room = sizeof gLine - skip;
    memcpy(gLine, kSeparator, skip);
    if (gTaken == TakenSysex && gSysexCut)
        return "";
    if (gTaken == TakenSysex)
        return separated(explainSysex(gSysex, gSysexLength, text, room));
    if (gTaken != TakenShort)
        return "";
    const uint8_t status = (uint8_t)gWord;
    /* a clock CTRL-B hides has no line: its tempo has one when it is news */
    if ((status == 0xF8 || status == 0xFE) && gbBlockRealTime && gVerdict != FilterShows)
        return separated(status == 0xF8 ? gExplainer->tempoNews(text, room) : 0);
    return separated(gExplainer->shortText(gWord, text, room));
}

} // namespace

const char *receivedLineEnd(void)
{
    const char *note = receivedReplyNote();
    if (!gExplain)
        return note;
    const char *meaning = explanation();
    if (!*note || !*meaning)
        return *note ? note : meaning;
    snprintf(gEnd, sizeof gEnd, "%s%s", note, meaning);
    return gEnd;
}

const char *receivedMeaning(void)
{
    if (!gExplain)
        return "";
    const char *meaning = explanation();
    return *meaning ? meaning + sizeof kSeparator - 1 : "";
}

void exitPromptNotes(void)
{
    if (gHidden != 0)
        printf("the filters hid %u message%s\n", gHidden, gHidden == 1 ? "" : "s");
}
