/*
 * The port host's outputs: a slot per open output, its handle the slot's
 * address; a long message has left when midiOutLongMsg returns.
 *
 * An output whose port vanished keeps its slot and its name: sends fail
 * until a port of that name is found again (followOutputs), and nothing
 * is ever sent to where the vanished port was.
 */
#include "hostpriv.h"

#include "../common/midihdr.h"

#include <string.h>

namespace vt {
namespace host {
namespace {

const int kOutSlots = 8;

struct OpenOutput {
    bool open = false;
    vt::OutPort *port = nullptr; /* nullptr while gone */
    vt::Backend *backend = nullptr;
    char name[32] = {0};
};

OpenOutput gOut[kOutSlots];
int gNextOut = 0;

/* gPortsMx held */
OpenOutput *outSlot(HMIDIOUT h)
{
    for (OpenOutput &s : gOut)
        if ((HMIDIOUT)(void *)&s == h)
            return s.open ? &s : nullptr;
    return nullptr;
}

/* gPortsMx held */
void closeOutput(OpenOutput &s)
{
    delete s.port;
    s.port = nullptr;
    s.open = false;
}

} // namespace

MMRESULT outOpen(LPHMIDIOUT ph, UINT id, DWORD_PTR, DWORD_PTR, DWORD flags)
{
    if (!ph)
        return MMSYSERR_INVALPARAM;
    *ph = nullptr;
    std::lock_guard<std::mutex> lk(gPortsMx);
    unsigned local;
    vt::Backend *b = locate(true, id, &local);
    if (!b)
        return MMSYSERR_BADDEVICEID;
    if ((flags & vt::kCallbackTypeMask) != CALLBACK_NULL)
        return MMSYSERR_INVALFLAG; /* sends are synchronous: nothing to notify */
    /* A fresh slot each time, so a handle kept past its close goes stale. */
    OpenOutput *slot = nullptr;
    for (int k = 0; k < kOutSlots && !slot; k++) {
        OpenOutput &s = gOut[(gNextOut + k) % kOutSlots];
        if (!s.open) {
            slot = &s;
            gNextOut = (int)(&s - gOut) + 1;
        }
    }
    if (!slot)
        return MMSYSERR_NOMEM;
    vt::OutPort *port = b->openOut(local);
    if (!port)
        return MMSYSERR_ALLOCATED;
    slot->port = port;
    slot->backend = b;
    if (!b->outName(local, slot->name))
        slot->name[0] = 0;
    slot->name[31] = 0;
    slot->open = true;
    *ph = (HMIDIOUT)(void *)slot;
    return MMSYSERR_NOERROR;
}

MMRESULT outPrepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    if (!outSlot(h))
        return MMSYSERR_INVALHANDLE;
    return vt::prepareHeader(hdr, size);
}

MMRESULT outLongMsg(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    vt::OutPort *port;
    {
        std::lock_guard<std::mutex> lk(gPortsMx);
        OpenOutput *s = outSlot(h);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        port = s->port;
    }
    if (MMRESULT r = vt::checkLongMessage(hdr, size))
        return r;
    if (!port || port->gone()) {
        /* vanished: whatever has its address now is not the port chosen */
        vt::portsChanged();
        return MMSYSERR_ERROR;
    }
    /* Sent outside the lock: a full loopback makes the sender wait for its
       delivery thread, which must be free to reach the input meanwhile.
       Only the main thread sends and closes, so the port stays. */
    vt::headerQueued(hdr);
    bool ok = port->send((const uint8_t *)hdr->lpData, hdr->dwBufferLength);
    vt::headerDone(hdr);
    if (!ok && port->gone())
        vt::portsChanged();
    return ok ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT outUnprepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    if (!outSlot(h))
        return MMSYSERR_INVALHANDLE;
    return vt::unprepareHeader(hdr, size);
}

MMRESULT outClose(HMIDIOUT h)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    OpenOutput *s = outSlot(h);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    closeOutput(*s);
    return MMSYSERR_NOERROR;
}

int followOutputs(VtPortEvent *ev, int max, bool look)
{
    int n = 0;
    for (OpenOutput &s : gOut) {
        if (!s.open || !s.name[0] || n >= max)
            continue;
        if (s.port && s.port->gone()) {
            delete s.port;
            s.port = nullptr;
            memset(&ev[n], 0, sizeof ev[n]);
            ev[n].kind = VT_PORT_GONE;
            ev[n].isOut = 1;
            memcpy(ev[n].name, s.name, sizeof ev[n].name);
            n++;
        }
        if (!s.port && n < max && look) {
            vt::FoundPort where;
            memset(&where, 0, sizeof where);
            s.port = s.backend->openOutNamed(s.name, &where);
            if (s.port) {
                memset(&ev[n], 0, sizeof ev[n]);
                ev[n].kind = VT_PORT_BACK;
                ev[n].isOut = 1;
                memcpy(ev[n].name, s.name, sizeof ev[n].name);
                ev[n].hasAddress = where.hasAddress;
                ev[n].at = where.at;
                ev[n].alike = where.alike;
                n++;
            }
        }
    }
    return n;
}

bool outputsGone(bool pollOnly)
{
    for (OpenOutput &s : gOut)
        if (s.open && s.name[0] && !s.port && (!pollOnly || !s.backend->notifies()))
            return true;
    return false;
}

void closeOutputs()
{
    for (OpenOutput &s : gOut)
        if (s.open)
            closeOutput(s);
}

} // namespace host
} // namespace vt
