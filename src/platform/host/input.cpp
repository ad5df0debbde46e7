/*
 * The port host's inputs.
 *
 * Each open input is the sink of its backend port.  Its bytes go through
 * an input parser under the input's mutex, which the main thread's buffer
 * operations take too; the system's callback runs under it, so reset and
 * close find no callback half done.  The callback only stores (the service
 * forbids calling the service from it), so holding the mutex through it
 * cannot deadlock.  Close stops the backend port outside the mutex: the
 * port waits for its running sink call, which may be waiting for the mutex.
 * After every notification the console's pause is woken (vtWake), so that
 * what arrived is shown at once.
 *
 * Choices of this service: MIM_OPEN and MIM_CLOSE are notified on the
 * caller's thread inside midiInOpen/midiInClose; MIM_MOREDATA is never
 * given (the system handles it as MIM_DATA anyway); parameter 2 is the time
 * in milliseconds since midiInStart, or with MIDI_IO_VT_ARRIVAL_US the
 * arrival time on the clock of vtClockUs; a reset stops delivery until the
 * next midiInStart, the backend port itself keeps running until the close.
 *
 * The time of a message is taken when its bytes reach the host, on the
 * backend's thread (ALSA's reader, the loopback's delivery), unless the
 * backend hands over the MIDI system's own stamp (bytesAt): never when the
 * system gets round to the notification, so a busy display changes nothing.
 */
#include "host.h"
#include "hostpriv.h"
#include "longinput.h"

#include "../common/inparser.h"
#include "../common/midihdr.h"

namespace vt {
namespace host {
namespace {

const int kInSlots = 4;

class OpenInput : public vt::InputSink, public vt::InParserTarget, public vt::LongInputTarget {
public:
    OpenInput() : long_(this), parser_(this) {}

    /* gPortsMx held, slot free */
    MMRESULT open(vt::Backend *b, unsigned local, VtMidiInProc cb, DWORD_PTR instance, bool arrivalUs)
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            cb_ = cb;
            instance_ = instance;
            arrivalUs_ = arrivalUs;
            started_ = false;
            portStarted_ = false;
            long_.forget();
            parser_.reset();
        }
        /* outside the mutex: a backend takes locks of its own here that its
           reader thread holds while it calls bytes(), which takes ours */
        vt::InPort *port = b->openIn(local, this);
        if (!port)
            return MMSYSERR_ALLOCATED;
        std::lock_guard<std::mutex> lk(mx_);
        port_ = port;
        open_ = true;
        return MMSYSERR_NOERROR;
    }

    bool isOpen()
    {
        std::lock_guard<std::mutex> lk(mx_);
        return open_;
    }

    void notifyOpen() { call(MIM_OPEN, 0, 0); }

    MMRESULT start()
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!open_)
                return MMSYSERR_INVALHANDLE;
            if (started_)
                return MMSYSERR_NOERROR;
        }
        /* outside the mutex: the backend may be delivering already */
        if (!portStarted_ && !port_->start())
            return MMSYSERR_ERROR;
        std::lock_guard<std::mutex> lk(mx_);
        portStarted_ = true;
        started_ = true;
        parser_.reset();
        startUs_ = vtClockUs();
        return MMSYSERR_NOERROR;
    }

    MMRESULT prepareHeader(LPMIDIHDR hdr, UINT size)
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!open_)
            return MMSYSERR_INVALHANDLE;
        return vt::prepareHeader(hdr, size);
    }

    /* A message held for the program comes back at once, on the caller's
       thread; the console's pause is woken for it as for any other. */
    MMRESULT addBuffer(LPMIDIHDR hdr, UINT size)
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!open_)
                return MMSYSERR_INVALHANDLE;
            if (MMRESULT r = vt::checkAddedBuffer(hdr, size))
                return r;
            if (long_.full())
                return MMSYSERR_NOMEM;
            vt::headerQueued(hdr);
            hdr->dwBytesRecorded = 0;
            notified_ = false;
            longLost(long_.add(hdr));
            if (!notified_)
                return MMSYSERR_NOERROR;
        }
        vtWake();
        return MMSYSERR_NOERROR;
    }

    MMRESULT reset()
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!open_)
            return MMSYSERR_INVALHANDLE;
        started_ = false;
        parser_.reset();
        longLost(long_.reset());
        return MMSYSERR_NOERROR;
    }

    MMRESULT unprepareHeader(LPMIDIHDR hdr, UINT size)
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!open_)
            return MMSYSERR_INVALHANDLE;
        return vt::unprepareHeader(hdr, size);
    }

    /* gPortsMx held */
    MMRESULT close()
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!open_)
                return MMSYSERR_INVALHANDLE;
            if (long_.queued())
                return MIDIERR_STILLPLAYING;
            longLost(long_.reset()); /* what is still held goes with the port */
        }
        letGo();
        call(MIM_CLOSE, 0, 0);
        cb_ = nullptr;
        return MMSYSERR_NOERROR;
    }

    /* Closes whatever state it is in, without a notification: the headers
       it held are done and forgotten.  gPortsMx held. */
    void drop()
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!open_)
                return;
            while (LPMIDIHDR hdr = long_.popHeader())
                vt::headerDone(hdr);
            long_.forget();
        }
        letGo();
        cb_ = nullptr;
    }

    MMRESULT heldLoad(UINT *percent)
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!open_)
            return MMSYSERR_INVALHANDLE;
        *percent = long_.heldPercent();
        return MMSYSERR_NOERROR;
    }

    void state(bool *started, int *queued)
    {
        std::lock_guard<std::mutex> lk(mx_);
        *started = open_ && started_;
        *queued = (int)long_.queued();
    }

    /* vt::InputSink, on the backend's thread */
    void bytes(const uint8_t *p, size_t n) override { bytesAt(p, n, vtClockUs()); }

    void bytesAt(const uint8_t *p, size_t n, int64_t arrivalUs) override
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return; /* before start or after reset: nobody listens */
            notified_ = false;
            arrivedUs_ = arrivalUs;
            parser_.feed(p, n);
            if (!notified_)
                return;
        }
        vtWake();
    }

    void overrun(unsigned count) override { message(MIM_VT_OVERRUN, count); }

    bool message(unsigned kind, uint32_t word) override
    {
        if (kind == MIM_LONGDATA || kind == MIM_LONGERROR || kind == MIM_OPEN || kind == MIM_CLOSE)
            return false; /* headers and the open state are the host's own */
        int64_t now = vtClockUs();
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return false;
            arrivedUs_ = now;
            call(kind, word, stamp());
        }
        vtWake();
        return true;
    }

    bool longMessage(unsigned kind, const uint8_t *p, size_t n) override
    {
        if (kind != MIM_LONGDATA && kind != MIM_LONGERROR)
            return false;
        int64_t now = vtClockUs();
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return false;
            arrivedUs_ = now;
            notified_ = false;
            long_.bytes(p, n, now);
            long_.end(kind, now);
            if (!notified_)
                return true; /* held until a header is queued */
        }
        vtWake();
        return true;
    }

    /* vt::InParserTarget, mx_ held */
    void shortMessage(UINT kind, DWORD word) override
    {
        notified_ = true;
        call(kind, word, stamp());
    }

    void sysexBytes(const uint8_t *p, size_t n) override { long_.bytes(p, n, arrivedUs_); }
    void sysexEnd(UINT kind) override { long_.end(kind, arrivedUs_); }

    /* vt::LongInputTarget, mx_ held */
    void headerBack(LPMIDIHDR hdr, UINT kind, int64_t atUs) override
    {
        vt::headerDone(hdr);
        notified_ = true;
        call(kind, (DWORD_PTR)hdr, stampAt(atUs));
    }

private:
    /* The port goes: closed for the sink first, then stopped outside the
       mutex (it waits for a sink call under way, which finds the input
       closed), then deleted. */
    void letGo()
    {
        vt::InPort *port;
        {
            std::lock_guard<std::mutex> lk(mx_);
            open_ = false;
            started_ = false;
            port = port_;
            port_ = nullptr;
        }
        port->stop();
        delete port;
    }

    /* parameter 2 for what arrived at atUs; mx_ held */
    DWORD_PTR stampAt(int64_t atUs) const
    {
        if (arrivalUs_)
            return (DWORD_PTR)atUs;
        return (DWORD_PTR)(DWORD)((atUs - startUs_) / 1000);
    }
    DWORD_PTR stamp() const { return stampAt(arrivedUs_); }

    /* mx_ held */
    void longLost(unsigned count)
    {
        if (count == 0)
            return;
        notified_ = true;
        call(MIM_VT_LONGLOST, count, stamp());
    }

    void call(UINT msg, DWORD_PTR p1, DWORD_PTR p2)
    {
        if (cb_)
            cb_((HMIDIIN)(void *)this, msg, instance_, p1, p2);
    }

    std::mutex mx_;
    bool open_ = false;
    bool started_ = false;
    bool portStarted_ = false; /* main thread only */
    bool notified_ = false;
    bool arrivalUs_ = false; /* MIDI_IO_VT_ARRIVAL_US */
    int64_t startUs_ = 0;
    int64_t arrivedUs_ = 0; /* when what is being notified arrived */
    vt::InPort *port_ = nullptr;
    VtMidiInProc cb_ = nullptr;
    DWORD_PTR instance_ = 0;
    vt::LongInput long_;
    vt::InParser parser_;
};

/* The input slots, made at the first use and never destroyed: a backend
   thread still delivering at the exit must not find its input torn down. */
OpenInput *inputSlots()
{
    static OpenInput *const slots = new OpenInput[kInSlots];
    return slots;
}

struct Inputs {
    OpenInput *begin() const { return inputSlots(); }
    OpenInput *end() const { return inputSlots() + kInSlots; }
};
Inputs inputs() { return Inputs(); }
int gNextIn = 0;

OpenInput *inSlot(HMIDIIN h)
{
    for (OpenInput &s : inputs())
        if ((HMIDIIN)(void *)&s == h)
            return &s;
    return nullptr;
}

/* How the input whose sink this is stands; false when none has it. */
bool inputState(const vt::InputSink *sink, bool *started, int *queued)
{
    for (OpenInput &s : inputs()) {
        if (static_cast<const vt::InputSink *>(&s) == sink) {
            s.state(started, queued);
            return true;
        }
    }
    *started = false;
    *queued = 0;
    return false;
}

} // namespace

MMRESULT inOpen(LPHMIDIIN ph, UINT id, DWORD_PTR cb, DWORD_PTR instance, DWORD flags)
{
    if (!ph)
        return MMSYSERR_INVALPARAM;
    *ph = nullptr;
    OpenInput *slot = nullptr;
    {
        std::lock_guard<std::mutex> lk(gPortsMx);
        unsigned local;
        vt::Backend *b = locate(false, id, &local);
        if (!b)
            return MMSYSERR_BADDEVICEID;
        DWORD type = flags & vt::kCallbackTypeMask;
        if (type != CALLBACK_NULL && type != CALLBACK_FUNCTION)
            return MMSYSERR_INVALFLAG; /* windows, threads, events: not here */
        if (type == CALLBACK_FUNCTION && !cb)
            return MMSYSERR_INVALPARAM;
        for (int k = 0; k < kInSlots && !slot; k++) {
            OpenInput &s = inputSlots()[(gNextIn + k) % kInSlots];
            if (!s.isOpen()) {
                slot = &s;
                gNextIn = (int)(&s - inputSlots()) + 1;
            }
        }
        if (!slot)
            return MMSYSERR_NOMEM;
        MMRESULT r = slot->open(b, local, type == CALLBACK_FUNCTION ? (VtMidiInProc)cb : nullptr, instance,
            (flags & MIDI_IO_VT_ARRIVAL_US) != 0);
        if (r)
            return r;
    }
    *ph = (HMIDIIN)(void *)slot;
    slot->notifyOpen();
    return MMSYSERR_NOERROR;
}

MMRESULT inStart(HMIDIIN h)
{
    OpenInput *s = inSlot(h);
    return s ? s->start() : MMSYSERR_INVALHANDLE;
}

MMRESULT inPrepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    OpenInput *s = inSlot(h);
    return s ? s->prepareHeader(hdr, size) : MMSYSERR_INVALHANDLE;
}

MMRESULT inAddBuffer(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    OpenInput *s = inSlot(h);
    return s ? s->addBuffer(hdr, size) : MMSYSERR_INVALHANDLE;
}

MMRESULT inReset(HMIDIIN h)
{
    OpenInput *s = inSlot(h);
    return s ? s->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT inUnprepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    OpenInput *s = inSlot(h);
    return s ? s->unprepareHeader(hdr, size) : MMSYSERR_INVALHANDLE;
}

MMRESULT inClose(HMIDIIN h)
{
    OpenInput *s = inSlot(h);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> lk(gPortsMx);
    return s->close();
}

MMRESULT inHeldLoad(HMIDIIN h, UINT *percent)
{
    OpenInput *s = inSlot(h);
    if (!percent)
        return MMSYSERR_INVALPARAM;
    return s ? s->heldLoad(percent) : MMSYSERR_INVALHANDLE;
}

void dropInputs()
{
    for (OpenInput &s : inputs())
        s.drop();
}

} // namespace host
} // namespace vt

bool vtHostInputState(const vt::InputSink *sink, bool *started, int *queued)
{
    return vt::host::inputState(sink, started, queued);
}
