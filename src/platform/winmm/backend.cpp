/*
 * The winmm backend object: the devices winmm lists, their names, and the
 * entry point.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "winmm.h"
#include "internal.h"

#include <string.h>

namespace vt {
namespace winmm {

namespace {

/* Device `i` of `count`'s name, as its capabilities (`Caps`, read by
   `getCaps`) give it. */
template <typename Caps, typename GetCaps>
bool deviceName(GetCaps getCaps, unsigned i, unsigned count, char name[32])
{
    Caps c;
    if (i >= count || getCaps(i, &c, sizeof c) != MMSYSERR_NOERROR)
        return false;
    memcpy(name, c.szPname, 31);
    name[31] = 0;
    return true;
}

} // namespace

void WinmmBackend::snapshot()
{
    outs_ = midiOutGetNumDevs();
    ins_ = midiInGetNumDevs();
}

bool WinmmBackend::outName(unsigned i, char name[32])
{
    return deviceName<MIDIOUTCAPSA>(midiOutGetDevCapsA, i, outs_, name);
}

bool WinmmBackend::inName(unsigned i, char name[32])
{
    return deviceName<MIDIINCAPSA>(midiInGetDevCapsA, i, ins_, name);
}

namespace {

/* The first device of winmm's list now named `name`, and how many are. */
template <typename Caps, typename GetCaps>
int findDevice(GetCaps getCaps, unsigned count, const char *name, unsigned *alike)
{
    int first = -1;
    *alike = 0;
    for (unsigned i = 0; i < count; i++) {
        char have[32];
        if (!deviceName<Caps>(getCaps, i, count, have) || strcmp(have, name) != 0)
            continue;
        if (first < 0)
            first = (int)i;
        ++*alike;
    }
    return first;
}

} // namespace

vt::OutPort *WinmmBackend::openOutNamed(const char *name, vt::FoundPort *where)
{
    unsigned alike;
    int i = findDevice<MIDIOUTCAPSA>(midiOutGetDevCapsA, midiOutGetNumDevs(), name, &alike);
    vt::OutPort *o = i < 0 ? nullptr : openOutAt((unsigned)i);
    if (o && where)
        where->alike = alike;
    return o;
}

vt::InPort *WinmmBackend::openInNamed(const char *name, vt::InputSink *sink, vt::FoundPort *where)
{
    unsigned alike;
    int i = findDevice<MIDIINCAPSA>(midiInGetDevCapsA, midiInGetNumDevs(), name, &alike);
    vt::InPort *in = i < 0 ? nullptr : openInAt((unsigned)i, sink);
    if (in && where)
        where->alike = alike;
    return in;
}

} // namespace winmm
} // namespace vt

vt::Backend *vtWinmmBackend(void)
{
    /* Never destroyed: an input left open at exit may still be called. */
    static vt::winmm::WinmmBackend *b = new vt::winmm::WinmmBackend;
    return b;
}
