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
 *
 * An input may take several ports (vtMidiInAlso), its sources, each with a
 * parser of its own, so that running status and a SysEx in progress are
 * each port's own.  There is one stream of notifications and one store of
 * long messages, so a SysEx holds the input while it arrives: what the
 * other sources deliver meanwhile waits, as raw bytes, and is parsed once
 * it has ended.  A source whose port vanished is followed by its name
 * (followInputs); a SysEx it left unfinished is ended as cut off.
 */
#include "host.h"
#include "hostpriv.h"
#include "longinput.h"

#include "../common/inparser.h"
#include "../common/midihdr.h"

#include <string.h>

#include <vector>

namespace vt {
namespace host {
namespace {

const int kInSlots = 4;
/* What one source may have waiting while another's SysEx arrives; more
   is thrown away and told as an overflow of the input queue. */
const size_t kPendingMax = 65536;
const int kNoSource = -1;

class OpenInput;

/* One port of an input: its sink, its parser, what waits for the input. */
class Source : public vt::InputSink, public vt::InParserTarget {
public:
    Source() : parser(this) {}

    OpenInput *in = nullptr;
    int idx = 0;
    vt::Backend *backend = nullptr;
    char name[32] = {0};
    vt::InPort *port = nullptr; /* nullptr while gone */
    bool portStarted = false;   /* main thread only */
    bool goneUntold = false;    /* could not be opened: told as gone */
    vt::InParser parser;
    std::vector<uint8_t> pending;
    int64_t pendingUs = 0;

    /* vt::InputSink, on the backend's thread */
    void bytes(const uint8_t *p, size_t n) override { bytesAt(p, n, vtClockUs()); }
    void bytesAt(const uint8_t *p, size_t n, int64_t arrivalUs) override;
    void overrun(unsigned count) override;
    bool message(unsigned kind, uint32_t word) override;
    bool longMessage(unsigned kind, const uint8_t *p, size_t n) override;

    /* vt::InParserTarget, the input's mutex held */
    void shortMessage(UINT kind, DWORD word) override;
    void sysexBytes(const uint8_t *p, size_t n) override;
    void sysexEnd(UINT kind) override;
};

class OpenInput : public vt::LongInputTarget {
public:
    OpenInput() : long_(this)
    {
        for (int i = 0; i < VT_MAX_INPUTS; i++) {
            src_[i].in = this;
            src_[i].idx = i;
        }
    }

    /* gPortsMx held, slot free; `also` the further ports, by backend and
       number of the latest count */
    MMRESULT open(vt::Backend *b, unsigned local, VtMidiInProc cb, DWORD_PTR instance, bool arrivalUs,
        vt::Backend *const *alsoB, const unsigned *alsoLocal, int alsoN)
    {
        /* the names first, outside the mutex: a backend may lock to tell */
        char names[VT_MAX_INPUTS][32];
        for (int i = 0; i < 1 + alsoN; i++) {
            vt::Backend *at = i == 0 ? b : alsoB[i - 1];
            if (!at->inName(i == 0 ? local : alsoLocal[i - 1], names[i]))
                names[i][0] = 0;
            names[i][31] = 0;
        }
        {
            std::lock_guard<std::mutex> lk(mx_);
            cb_ = cb;
            instance_ = instance;
            arrivalUs_ = arrivalUs;
            started_ = false;
            long_.forget();
            lane_ = kNoSource;
            msgN_ = backN_ = 0;
            nsrc_ = 1 + alsoN;
            for (int i = 0; i < nsrc_; i++) {
                Source &s = src_[i];
                s.parser.reset();
                s.pending.clear();
                s.port = nullptr;
                s.portStarted = false;
                s.goneUntold = false;
                s.backend = i == 0 ? b : alsoB[i - 1];
                memcpy(s.name, names[i], sizeof s.name);
            }
        }
        /* outside the mutex: a backend takes locks of its own here that its
           reader thread holds while it calls bytes(), which takes ours */
        vt::InPort *port = b->openIn(local, &src_[0]);
        if (!port)
            return MMSYSERR_ALLOCATED;
        vt::InPort *others[VT_MAX_INPUTS] = {};
        for (int i = 1; i < nsrc_; i++) {
            others[i] = alsoB[i - 1]->openIn(alsoLocal[i - 1], &src_[i]);
            if (!others[i] && src_[i].name[0]) {
                vt::FoundPort where;
                memset(&where, 0, sizeof where);
                others[i] = alsoB[i - 1]->openInNamed(src_[i].name, &src_[i], &where);
            }
        }
        std::lock_guard<std::mutex> lk(mx_);
        src_[0].port = port;
        for (int i = 1; i < nsrc_; i++) {
            src_[i].port = others[i];
            src_[i].goneUntold = others[i] == nullptr;
        }
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
        for (int i = 0; i < nsrc_; i++) {
            Source &s = src_[i];
            if (s.port && !s.portStarted) {
                if (!s.port->start()) {
                    if (i == 0)
                        return MMSYSERR_ERROR;
                    continue;
                }
                s.portStarted = true;
            }
        }
        std::lock_guard<std::mutex> lk(mx_);
        started_ = true;
        for (int i = 0; i < nsrc_; i++)
            src_[i].parser.reset();
        lane_ = kNoSource;
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
        for (int i = 0; i < nsrc_; i++) {
            src_[i].parser.reset();
            src_[i].pending.clear();
        }
        lane_ = kNoSource;
        msgN_ = 0;
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

    bool hasSink(const vt::InputSink *sink)
    {
        for (int i = 0; i < VT_MAX_INPUTS; i++)
            if (static_cast<const vt::InputSink *>(&src_[i]) == sink)
                return true;
        return false;
    }

    void state(bool *started, int *queued)
    {
        std::lock_guard<std::mutex> lk(mx_);
        *started = open_ && started_;
        *queued = (int)long_.queued();
    }

    /* What became of the sources' ports; gPortsMx held, main thread. */
    int follow(VtPortEvent *ev, int max, bool look)
    {
        int n = 0;
        if (!isOpen())
            return 0;
        for (int i = 0; i < nsrc_ && n < max; i++) {
            Source &s = src_[i];
            if (!s.name[0])
                continue;
            if ((s.port && s.port->gone()) || s.goneUntold) {
                unsigned cut = vanished(s);
                VtPortEvent &e = ev[n++];
                memset(&e, 0, sizeof e);
                e.kind = VT_PORT_GONE;
                memcpy(e.name, s.name, sizeof e.name);
                e.cut = cut;
            }
            if (!s.port && look && n < max) {
                vt::FoundPort where;
                memset(&where, 0, sizeof where);
                vt::InPort *p = s.backend->openInNamed(s.name, &s, &where);
                if (!p)
                    continue;
                bool run;
                {
                    std::lock_guard<std::mutex> lk(mx_);
                    run = started_;
                }
                s.portStarted = run && p->start();
                {
                    std::lock_guard<std::mutex> lk(mx_);
                    s.port = p;
                }
                VtPortEvent &e = ev[n++];
                memset(&e, 0, sizeof e);
                e.kind = VT_PORT_BACK;
                memcpy(e.name, s.name, sizeof e.name);
                e.hasAddress = where.hasAddress;
                e.at = where.at;
                e.alike = where.alike;
            }
        }
        return n;
    }

    bool anyGone(bool pollOnly)
    {
        if (!isOpen())
            return false;
        for (int i = 0; i < nsrc_; i++)
            if (src_[i].name[0] && !src_[i].port && (!pollOnly || !src_[i].backend->notifies()))
                return true;
        return false;
    }

    int sources() const { return nsrc_; }
    const char *sourceName(int i) const { return i >= 0 && i < nsrc_ ? src_[i].name : ""; }

    /* The source of the long message taken next; main thread. */
    int takeLongSource()
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (nsrc_ < 2 || backN_ == 0)
            return kNoSource;
        int s = back_[backFirst_];
        backFirst_ = (backFirst_ + 1) % kBack;
        backN_--;
        return s;
    }

    /* ---- from the sources, on their backends' threads ---------------- */

    void feed(int i, const uint8_t *p, size_t n, int64_t arrivalUs)
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return; /* before start or after reset: nobody listens */
            notified_ = false;
            if (lane_ != kNoSource && lane_ != i)
                wait(i, p, n, arrivalUs);
            else
                run(i, p, n, arrivalUs);
            drainWaiting();
            if (!notified_)
                return;
        }
        vtWake();
    }

    bool message(int i, unsigned kind, uint32_t word)
    {
        if (kind == MIM_LONGDATA || kind == MIM_LONGERROR || kind == MIM_OPEN || kind == MIM_CLOSE)
            return false; /* headers and the open state are the host's own */
        int64_t now = vtClockUs();
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return false;
            if (lane_ != kNoSource && lane_ != i && (kind == MIM_DATA || kind == MIM_ERROR)) {
                uint8_t b[3];
                unsigned len = kind == MIM_DATA ? vt::unpackShortMessage(word, b) : 1;
                if (kind == MIM_ERROR)
                    b[0] = (uint8_t)word;
                wait(i, b, len, now);
                return true;
            }
            arrivedUs_ = now;
            if (kind == MIM_DATA)
                word = tagged(i, word);
            call(kind, word, stamp());
        }
        vtWake();
        return true;
    }

    bool longMessage(int i, unsigned kind, const uint8_t *p, size_t n)
    {
        if (kind != MIM_LONGDATA && kind != MIM_LONGERROR)
            return false;
        int64_t now = vtClockUs();
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return false;
            if (lane_ != kNoSource && lane_ != i) {
                wait(i, p, n, now);
                return true;
            }
            arrivedUs_ = now;
            notified_ = false;
            messageBegins(i);
            long_.bytes(p, n, now);
            long_.end(kind, now);
            if (!notified_)
                return true; /* held until a header is queued */
        }
        vtWake();
        return true;
    }

    /* ---- the parsers' target, mx_ held -------------------------------- */

    void parsedShort(int i, UINT kind, DWORD word)
    {
        notified_ = true;
        call(kind, kind == MIM_DATA ? tagged(i, word) : word, stamp());
    }

    void parsedSysexBytes(int i, const uint8_t *p, size_t n)
    {
        if (lane_ != i) {
            lane_ = i;
            messageBegins(i);
        }
        long_.bytes(p, n, arrivedUs_);
    }

    void parsedSysexEnd(UINT kind)
    {
        long_.end(kind, arrivedUs_);
        lane_ = kNoSource;
    }

    /* vt::LongInputTarget, mx_ held */
    void headerBack(LPMIDIHDR hdr, UINT kind, int64_t atUs) override
    {
        vt::headerDone(hdr);
        if (nsrc_ > 1)
            noteHandBack(hdr, kind);
        notified_ = true;
        call(kind, (DWORD_PTR)hdr, stampAt(atUs));
    }

    void overrun(unsigned count)
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!started_)
                return;
            arrivedUs_ = vtClockUs();
            call(MIM_VT_OVERRUN, count, stamp());
        }
        vtWake();
    }

private:
    static const int kMsgs = (int)vt::LongInput::kHeldMessages + 4;
    static const int kBack = 16;

    /* mx_ held */
    DWORD tagged(int i, DWORD word) const
    {
        return nsrc_ > 1 ? (word & 0xFFFFFFu) | (DWORD)(i + 1) << 24 : word;
    }

    /* mx_ held */
    void run(int i, const uint8_t *p, size_t n, int64_t arrivalUs)
    {
        arrivedUs_ = arrivalUs;
        src_[i].parser.feed(p, n);
    }

    /* Bytes of source i kept until the SysEx in progress ends; mx_ held. */
    void wait(int i, const uint8_t *p, size_t n, int64_t arrivalUs)
    {
        Source &s = src_[i];
        if (s.pending.capacity() < kPendingMax)
            s.pending.reserve(kPendingMax);
        if (s.pending.size() + n > kPendingMax) {
            notified_ = true;
            call(MIM_VT_OVERRUN, 1, stamp());
            return;
        }
        if (s.pending.empty())
            s.pendingUs = arrivalUs;
        s.pending.insert(s.pending.end(), p, p + n);
    }

    /* While no SysEx holds the input, what waited is parsed, each source's
       in one piece; mx_ held. */
    void drainWaiting()
    {
        for (int k = 0; k < nsrc_ && lane_ == kNoSource; k++) {
            Source &s = src_[k];
            if (s.pending.empty())
                continue;
            run(k, s.pending.data(), s.pending.size(), s.pendingUs);
            s.pending.clear();
            k = -1; /* from the first again: another may wait still */
        }
    }

    /* mx_ held */
    void messageBegins(int i)
    {
        if (nsrc_ < 2)
            return;
        if (msgN_ == kMsgs)
            return; /* cannot be: no more are held; told as nobody's */
        msg_[(msgFirst_ + msgN_++) % kMsgs] = i;
    }

    /* A hand-back with bytes, or a cut, is a message to take: whose it is
       goes in line for takeLongSource.  The last piece of a message ends
       its turn.  mx_ held. */
    void noteHandBack(LPMIDIHDR hdr, UINT kind)
    {
        const DWORD n = hdr->dwBytesRecorded;
        if (kind == MIM_LONGDATA && n == 0)
            return; /* the reset's hand-back: no message */
        int src = msgN_ ? msg_[msgFirst_] : kNoSource;
        const uint8_t *p = (const uint8_t *)hdr->lpData;
        bool last = kind == MIM_LONGERROR || n < hdr->dwBufferLength || p[n - 1] == 0xF7;
        if (last && msgN_) {
            msgFirst_ = (msgFirst_ + 1) % kMsgs;
            msgN_--;
        }
        if (backN_ == kBack) {
            backFirst_ = (backFirst_ + 1) % kBack;
            backN_--;
        }
        back_[(backFirst_ + backN_++) % kBack] = src;
    }

    /* Source s vanished: its port goes, and a SysEx it left unfinished is
       ended as cut off (then what others kept waiting goes on).  Returns
       how many were cut.  gPortsMx held, main thread. */
    unsigned vanished(Source &s)
    {
        vt::InPort *port;
        {
            std::lock_guard<std::mutex> lk(mx_);
            port = s.port;
            s.port = nullptr;
            s.goneUntold = false;
        }
        if (port) {
            port->stop();
            delete port;
        }
        s.portStarted = false;
        unsigned cut = 0;
        {
            std::lock_guard<std::mutex> lk(mx_);
            notified_ = false;
            if (lane_ == s.idx) {
                arrivedUs_ = vtClockUs();
                parsedSysexEnd(MIM_LONGERROR);
                cut = 1;
                drainWaiting();
            }
            if (s.pending.empty())
                s.parser.reset();
            if (!notified_)
                return cut;
        }
        vtWake();
        return cut;
    }

    /* The ports go: closed for the sinks first, then stopped outside the
       mutex (each waits for a sink call under way, which finds the input
       closed), then deleted. */
    void letGo()
    {
        vt::InPort *ports[VT_MAX_INPUTS];
        int n;
        {
            std::lock_guard<std::mutex> lk(mx_);
            open_ = false;
            started_ = false;
            n = nsrc_;
            for (int i = 0; i < n; i++) {
                ports[i] = src_[i].port;
                src_[i].port = nullptr;
                src_[i].portStarted = false;
                src_[i].pending.clear();
            }
        }
        for (int i = 0; i < n; i++) {
            if (ports[i]) {
                ports[i]->stop();
                delete ports[i];
            }
        }
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
    bool notified_ = false;
    bool arrivalUs_ = false; /* MIDI_IO_VT_ARRIVAL_US */
    int64_t startUs_ = 0;
    int64_t arrivedUs_ = 0; /* when what is being notified arrived */
    VtMidiInProc cb_ = nullptr;
    DWORD_PTR instance_ = 0;
    vt::LongInput long_;
    int nsrc_ = 1;
    Source src_[VT_MAX_INPUTS];
    int lane_ = kNoSource; /* the source whose SysEx is arriving */
    int msg_[kMsgs] = {};  /* whose each long message still to hand back is */
    int msgFirst_ = 0;
    int msgN_ = 0;
    int back_[kBack] = {}; /* whose each hand-back not yet taken is */
    int backFirst_ = 0;
    int backN_ = 0;
};

void Source::bytesAt(const uint8_t *p, size_t n, int64_t arrivalUs) { in->feed(idx, p, n, arrivalUs); }
void Source::overrun(unsigned count) { in->overrun(count); }
bool Source::message(unsigned kind, uint32_t word)
{
    if (kind == MIM_VT_OVERRUN) {
        in->overrun(word);
        return true;
    }
    return in->message(idx, kind, word);
}
bool Source::longMessage(unsigned kind, const uint8_t *p, size_t n) { return in->longMessage(idx, kind, p, n); }
void Source::shortMessage(UINT kind, DWORD word) { in->parsedShort(idx, kind, word); }
void Source::sysexBytes(const uint8_t *p, size_t n) { in->parsedSysexBytes(idx, p, n); }
void Source::sysexEnd(UINT kind) { in->parsedSysexEnd(kind); }

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
OpenInput *gLastIn = nullptr; /* the input opened last, for its sources */

/* The further ports of an input (vtMidiInAlso), by backend and number of
   the count they were given after. */
vt::Backend *gAlsoB[VT_MAX_INPUTS];
unsigned gAlsoLocal[VT_MAX_INPUTS];
int gAlsoN = 0;

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
        if (s.hasSink(sink)) {
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
        /* the port opened is the first; the others once each, after it */
        vt::Backend *alsoB[VT_MAX_INPUTS];
        unsigned alsoLocal[VT_MAX_INPUTS];
        int alsoN = 0;
        for (int i = 0; i < gAlsoN && alsoN < VT_MAX_INPUTS - 1; i++) {
            bool twice = gAlsoB[i] == b && gAlsoLocal[i] == local;
            for (int k = 0; k < alsoN && !twice; k++)
                twice = alsoB[k] == gAlsoB[i] && alsoLocal[k] == gAlsoLocal[i];
            if (twice)
                continue;
            alsoB[alsoN] = gAlsoB[i];
            alsoLocal[alsoN++] = gAlsoLocal[i];
        }
        MMRESULT r = slot->open(b, local, type == CALLBACK_FUNCTION ? (VtMidiInProc)cb : nullptr, instance,
            (flags & MIDI_IO_VT_ARRIVAL_US) != 0, alsoB, alsoLocal, alsoN);
        if (r)
            return r;
        gLastIn = slot;
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
    gAlsoN = 0;
    gLastIn = nullptr;
}

int followInputs(VtPortEvent *ev, int max, bool look)
{
    int n = 0;
    for (OpenInput &s : inputs())
        n += s.follow(ev + n, max - n, look);
    return n;
}

bool inputsGone(bool pollOnly)
{
    for (OpenInput &s : inputs())
        if (s.anyGone(pollOnly))
            return true;
    return false;
}

int inAlso(const UINT *ids, int n)
{
    std::lock_guard<std::mutex> lk(gPortsMx);
    gAlsoN = 0;
    for (int i = 0; i < n && gAlsoN < VT_MAX_INPUTS - 1; i++) {
        unsigned local;
        vt::Backend *b = locate(false, ids[i], &local);
        if (!b)
            continue;
        bool twice = false;
        for (int k = 0; k < gAlsoN && !twice; k++)
            twice = gAlsoB[k] == b && gAlsoLocal[k] == local;
        if (twice)
            continue;
        gAlsoB[gAlsoN] = b;
        gAlsoLocal[gAlsoN++] = local;
    }
    return gAlsoN;
}

int lastSources() { return gLastIn ? gLastIn->sources() : 1; }
const char *lastSourceName(int i) { return gLastIn ? gLastIn->sourceName(i) : ""; }
int lastLongSource() { return gLastIn ? gLastIn->takeLongSource() : -1; }

} // namespace host
} // namespace vt

bool vtHostInputState(const vt::InputSink *sink, bool *started, int *queued)
{
    return vt::host::inputState(sink, started, queued);
}
