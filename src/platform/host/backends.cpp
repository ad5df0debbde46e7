/*
 * The port host's backends and the numbering of their ports: the list the
 * build makes, a fresh snapshot of every backend at each count, and for a
 * port number the backend that has it and the backend's own number.
 */
#include "host.h"
#include "hostpriv.h"

#include "../alsa/alsa.h"
#include "../loopback/loopback.h"
#include "../winmm/winmm.h"

#include <stdio.h>
#include <string.h>

namespace vt {
namespace host {

std::mutex gPortsMx;

namespace {

/* The backends, in the order their ports are numbered: one line each,
   under the condition the build defines when it builds the backend. */
vt::Backend *(*const kBackendList[])(void) = {
#ifdef VOLTANIS_HAVE_ALSA
    vtAlsaBackend,
#endif
#ifdef VOLTANIS_HAVE_WINMM
    vtWinmmBackend,
#endif
    vtLoopbackBackend,
};

const int kMaxBackends = 4;

vt::Backend *gBackends[kMaxBackends];
int gNumBackends = -1;

void initBackends()
{
    if (gNumBackends >= 0)
        return;
    gNumBackends = 0;
    for (auto make : kBackendList) {
        vt::Backend *b = make(); /* nullptr: its system is missing here */
        if (b && gNumBackends < kMaxBackends)
            gBackends[gNumBackends++] = b;
    }
    for (int i = 0; i < gNumBackends; i++)
        gBackends[i]->snapshot();
}

UINT countAll(bool out)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    initBackends();
    UINT n = 0;
    for (int i = 0; i < gNumBackends; i++) {
        gBackends[i]->snapshot();
        n += out ? gBackends[i]->outCount() : gBackends[i]->inCount();
    }
    return n;
}

/* The backends a test gives, or the real ones again at the next use. */
void setBackends(vt::Backend *const *list, int n)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    closeOutputs();
    dropInputs();
    if (!list) {
        gNumBackends = -1;
        return;
    }
    gNumBackends = 0;
    for (int i = 0; i < n && i < kMaxBackends; i++) {
        gBackends[gNumBackends++] = list[i];
        list[i]->snapshot();
    }
}

/* The bytes of text that fit in room, not ending inside a UTF-8 character. */
size_t fitting(const char *text, size_t room)
{
    size_t n = strnlen(text, room);
    if (n == room && text[n] != '\0')
        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
            n--;
    return n;
}

/* The built-in loopback's name means the built-in port, always: a port of
   another backend that goes by it (another program's, a driver's) is
   named after its client as well, "Voltanis Loopback (client)", cut to
   fit, or "Voltanis Loopback (external)" where ports have no client.  The
   lists then tell the two apart, and a preset or a PORT value with the
   bare name never finds the other one. */
void nameAfterOwner(vt::Backend *b, bool out, unsigned local, char name[32])
{
    VtPortAddress a;
    memset(&a, 0, sizeof a);
    const char *owner = "external";
    if (b->address(out, local, &a) && a.clientName[0]) {
        a.clientName[sizeof a.clientName - 1] = 0;
        owner = a.clientName;
    }
    const size_t room = 31 - strlen(VT_LOOPBACK_NAME " ()");
    snprintf(name, 32, VT_LOOPBACK_NAME " (%.*s)", (int)fitting(owner, room), owner);
}

template <class Caps> MMRESULT caps(bool out, UINT id, Caps *p, UINT size)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    unsigned local;
    vt::Backend *b = locate(out, id, &local);
    if (!b)
        return MMSYSERR_BADDEVICEID;
    if (!p)
        return MMSYSERR_INVALPARAM;
    Caps c;
    memset(&c, 0, sizeof c);
    char name[32] = {0};
    if (!(out ? b->outName(local, name) : b->inName(local, name)))
        return MMSYSERR_NODRIVER; /* gone since the snapshot */
    name[31] = 0;
    if (strcmp(name, VT_LOOPBACK_NAME) == 0 && b != vtLoopbackBackend())
        nameAfterOwner(b, out, local, name);
    memcpy(c.szPname, name, sizeof c.szPname);
    memcpy(p, &c, size < sizeof c ? size : sizeof c);
    return MMSYSERR_NOERROR;
}

} // namespace

vt::Backend *locate(bool out, UINT id, unsigned *local)
{
    initBackends();
    for (int i = 0; i < gNumBackends; i++) {
        unsigned n = out ? gBackends[i]->outCount() : gBackends[i]->inCount();
        if (id < n) {
            *local = id;
            return gBackends[i];
        }
        id -= n;
    }
    return nullptr;
}

int backendNews(VtPortEvent *ev, int max)
{
    int n = 0;
    for (int i = 0; i < gNumBackends && n < max; i++)
        n += gBackends[i]->takeNews(ev + n, max - n);
    return n;
}

UINT outGetNumDevs(void) { return countAll(true); }
MMRESULT outGetDevCaps(UINT id, LPMIDIOUTCAPSA p, UINT size) { return caps(true, id, p, size); }
UINT inGetNumDevs(void) { return countAll(false); }
MMRESULT inGetDevCaps(UINT id, LPMIDIINCAPSA p, UINT size) { return caps(false, id, p, size); }

} // namespace host
} // namespace vt

int midiPortAddress(int isOut, UINT id, VtPortAddress *addr)
{
    std::lock_guard<std::mutex> lk(vt::host::gPortsMx);
    unsigned local;
    vt::Backend *b = vt::host::locate(isOut != 0, id, &local);
    if (!b || !addr)
        return 0;
    memset(addr, 0, sizeof *addr);
    return b->address(isOut != 0, local, addr) ? 1 : 0;
}

int vtOfferPort(const char *name)
{
#ifdef VOLTANIS_HAVE_ALSA
    std::lock_guard<std::mutex> lk(vt::host::gPortsMx);
    if (!vtAlsaBackend())
        return -1; /* no sequencer here */
    return vtAlsaOffer(name) ? 1 : 0;
#else
    (void)name;
    return -1;
#endif
}

void vtHostSetBackends(vt::Backend *const *list, int n) { vt::host::setBackends(list, n); }
