/*
 * The lines of ports that come and go.  They are the only word a user has
 * that a quiet monitor is not a quiet device: each names the port and the
 * direction, and says what Voltanis does about it.
 */
#include "portnews.h"

#include "../frontend/frontend.h"
#include "../input/input.h"

#include <stdio.h>
#include <string.h>

namespace {

NewsPace gPace;
char gOffered[64]; /* the offered port's name, "" without one */

const char *direction(int isOut) { return isOut ? "MIDI OUT" : "MIDI IN"; }

/* " (at 24:0)" or " (at 24:0, the first of 2 ports of that name)" */
void whereText(const VtPortEvent &e, char *out, size_t size)
{
    out[0] = '\0';
    if (e.hasAddress && e.alike > 1)
        snprintf(out, size, " (at %d:%d, the first of %u ports of that name)", e.at.client, e.at.port, e.alike);
    else if (e.hasAddress)
        snprintf(out, size, " (at %d:%d)", e.at.client, e.at.port);
    else if (e.alike > 1)
        snprintf(out, size, " (the first of %u ports of that name)", e.alike);
}

void cutText(unsigned cut, char *out, size_t size)
{
    out[0] = '\0';
    if (cut == 1)
        snprintf(out, size, ", a SysEx it was sending cut off");
    else if (cut > 1)
        snprintf(out, size, ", %u SysEx it was sending cut off", cut);
}

void tell(const VtPortEvent &e, void (*marker)(const char *))
{
    char shown[SHOWN_NAME_SIZE];
    char extra[96];
    char mark[128];
    shownName(shown, e.name);
    switch (e.kind) {
    case VT_PORT_GONE:
        cutText(e.cut, extra, sizeof extra);
        printf("\n%s port %s is gone%s; waiting for it to come back (CTRL-N chooses another port)\n",
            direction(e.isOut), shown, extra);
        snprintf(mark, sizeof mark, "%s port gone: %s", direction(e.isOut), shown);
        break;
    case VT_PORT_BACK:
        whereText(e, extra, sizeof extra);
        printf("\n%s port %s is back%s and connected again\n", direction(e.isOut), shown, extra);
        snprintf(mark, sizeof mark, "%s port back: %s", direction(e.isOut), shown);
        break;
    default: {
        char offered[SHOWN_NAME_SIZE];
        shownName(offered, gOffered);
        bool linked = e.kind == VT_PORT_LINKED;
        const char *how = e.isOut ? (linked ? "now receives from" : "no longer receives from")
                                  : (linked ? "now sends to" : "no longer sends to");
        printf("\n%s (%d:%d) %s %s\n", e.name[0] ? shown : "a port", e.at.client, e.at.port, how, offered);
        return; /* the log holds what arrives, not who listens */
    }
    }
    if (marker && !e.isOut)
        marker(mark);
}

/* The count of a port's second: what came after its line. */
void tellMore(const VtPortEvent &last, unsigned more, unsigned cut, void (*marker)(const char *))
{
    char shown[SHOWN_NAME_SIZE];
    char extra[96];
    shownName(shown, last.name);
    cutText(cut, extra, sizeof extra);
    const char *now = last.kind == VT_PORT_GONE ? "gone" : last.kind == VT_PORT_BACK ? "back" : "as told";
    if (last.kind == VT_PORT_LINKED || last.kind == VT_PORT_UNLINKED)
        printf("\n%s (%d:%d) connected or disconnected %u more times in the last second; it is %s now\n",
            last.name[0] ? shown : "a port", last.at.client, last.at.port, more,
            last.kind == VT_PORT_LINKED ? "connected" : "disconnected");
    else
        printf("\n%s port %s: %u more changes in the last second%s; it is %s now\n", direction(last.isOut), shown,
            more, extra, now);
    if (marker && !last.isOut && (last.kind == VT_PORT_GONE || last.kind == VT_PORT_BACK)) {
        char mark[128];
        snprintf(mark, sizeof mark, "%s port %s: %s", direction(last.isOut), now, shown);
        marker(mark);
    }
}

/* Bytes of one UTF-8 character that starts with c (1 for a stray byte). */
size_t charBytes(unsigned char c)
{
    if (c >= 0xF0)
        return 4;
    if (c >= 0xE0)
        return 3;
    if (c >= 0xC0)
        return 2;
    return 1;
}

} // namespace

NewsPace::Port *NewsPace::find(const VtPortEvent &e)
{
    /* a port chosen by its direction and name; a connection by the other
       program's port and the way it goes */
    const bool link = e.kind == VT_PORT_LINKED || e.kind == VT_PORT_UNLINKED;
    const int key = link ? 2 + e.isOut : e.isOut;
    char name[32];
    if (link)
        snprintf(name, sizeof name, "%d:%d", e.at.client, e.at.port);
    else
        memcpy(name, e.name, sizeof name);
    Port *free = nullptr;
    for (Port &p : ports_) {
        if (p.used && p.key == key && strncmp(p.name, name, sizeof p.name) == 0)
            return &p;
        if (!p.used && !free)
            free = &p;
    }
    if (!free)
        return nullptr;
    memset(free, 0, sizeof *free);
    free->used = true;
    free->key = key;
    memcpy(free->name, name, sizeof free->name);
    free->lineUs = -kQuietUs;
    return free;
}

bool NewsPace::take(const VtPortEvent &e, int64_t nowUs)
{
    Port *p = find(e);
    if (!p)
        return true; /* no room to count it: said */
    if (p->more == 0 && nowUs - p->lineUs >= kQuietUs) {
        p->lineUs = nowUs;
        return true;
    }
    p->more++;
    p->cut += e.cut;
    p->last = e;
    return false;
}

bool NewsPace::due(int64_t nowUs, VtPortEvent *last, unsigned *more, unsigned *cut)
{
    for (Port &p : ports_) {
        if (!p.used || p.more == 0 || nowUs - p.lineUs < kQuietUs)
            continue;
        *last = p.last;
        *more = p.more;
        *cut = p.cut;
        p.more = 0;
        p.cut = 0;
        p.lineUs = nowUs;
        return true;
    }
    return false;
}

int64_t NewsPace::dueUs() const
{
    int64_t at = -1;
    for (const Port &p : ports_)
        if (p.used && p.more != 0 && (at < 0 || p.lineUs + kQuietUs < at))
            at = p.lineUs + kQuietUs;
    return at;
}

void NewsPace::clear() { memset(ports_, 0, sizeof ports_); }

void formatSourceTag(int number, const char *name, char out[kSourceTagSize])
{
    const int kWidth = 8;
    char shown[SHOWN_NAME_SIZE];
    shownName(shown, number > 0 ? name : "");
    size_t n = 0;
    if (number > 0 && number < 10)
        out[n++] = (char)('0' + number);
    else
        out[n++] = '?';
    out[n++] = ':';
    int columns = 0;
    for (size_t i = 0; shown[i] && columns < kWidth;) {
        size_t len = charBytes((unsigned char)shown[i]);
        if (n + len + kWidth + 2 > kSourceTagSize)
            break;
        memcpy(out + n, shown + i, len);
        n += len;
        i += len;
        columns++;
    }
    while (columns++ < kWidth)
        out[n++] = ' ';
    out[n++] = ' ';
    out[n] = '\0';
}

void portNewsWork(void (*marker)(const char *text))
{
    VtPortEvent last;
    unsigned more, cut;
    int64_t now = vtClockUs();
    while (gPace.due(now, &last, &more, &cut))
        tellMore(last, more, cut, marker);
    VtPortEvent ev[16];
    int n = vtPortsFollow(ev, 16);
    if (n == 0)
        return;
    /* what the port sent before it went (a SysEx cut off included) is
       shown before the line that says so */
    showAllReceived();
    for (int i = 0; i < n; i++)
        if (gPace.take(ev[i], now))
            tell(ev[i], marker);
}

int64_t portNewsDueUs(void)
{
    int64_t a = gPace.dueUs();
    int64_t b = vtPortsFollowDueUs();
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return a < b ? a : b;
}

void portNewsOffered(const char *name) { snprintf(gOffered, sizeof gOffered, "%s", name); }

void portNewsOff(void)
{
    gPace.clear();
    gOffered[0] = '\0';
}
