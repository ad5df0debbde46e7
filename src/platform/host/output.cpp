/*
 * The port host's outputs: a slot per open output, its handle the slot's
 * address; a long message has left when midiOutLongMsg returns.
 */
#include "hostpriv.h"

#include "../common/midihdr.h"

namespace vt {
namespace host {
namespace {

const int kOutSlots = 8;

struct OpenOutput {
    bool open = false;
    vt::OutPort *port = nullptr;
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
    /* Sent outside the lock: a full loopback makes the sender wait for its
       delivery thread, which must be free to reach the input meanwhile.
       Only the main thread sends and closes, so the port stays. */
    vt::headerQueued(hdr);
    bool ok = port->send((const uint8_t *)hdr->lpData, hdr->dwBufferLength);
    vt::headerDone(hdr);
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

void closeOutputs()
{
    for (OpenOutput &s : gOut)
        if (s.open)
            closeOutput(s);
}

} // namespace host
} // namespace vt
