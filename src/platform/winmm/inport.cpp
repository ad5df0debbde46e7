/*
 * An open winmm input.
 *
 * It keeps a few buffers of its own queued with winmm.  What winmm hands
 * over becomes bytes for the host's stream parser: a short message is
 * unpacked to its bytes, a returned buffer gives its bytes and is queued
 * again, so a SysEx that spans several buffers arrives whole in the
 * system's header (in pieces when it is longer than that).  A SysEx winmm
 * broke off (MIM_LONGERROR) is ended by the status byte that broke it,
 * which comes next.  An invalid byte (MIM_ERROR) is handed over as it is:
 * fed to the parser it would be taken for running status.  The bytes go
 * with winmm's own time stamp, milliseconds since midiInStart, put on the
 * clock of vtClockUs.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "internal.h"

#include "../common/inparser.h"

#include <string.h>

#include <atomic>

#include <mutex>
#include <new>

namespace vt {
namespace winmm {

namespace {

const int kInBuffers = 4;
const DWORD kInBufferSize = 4096;
const int kUnprepareTries = 1000; /* a driver that never lets go: 1 s */

class WinmmIn : public vt::InPort {
public:
    explicit WinmmIn(vt::InputSink *sink) : sink_(sink) { memset(hdrs_, 0, sizeof hdrs_); }

    bool open(UINT id)
    {
        DWORD_PTR cb = (DWORD_PTR)&WinmmIn::onEvent;
        if (midiInOpen(&h_, id, cb, (DWORD_PTR)this, CALLBACK_FUNCTION) == MMSYSERR_NOERROR)
            return true;
        h_ = 0;
        return false;
    }

    ~WinmmIn() override
    {
        if (!h_)
            return;
        stop();
        for (MIDIHDR &hdr : hdrs_) {
            if (!(hdr.dwFlags & MHDR_PREPARED))
                continue;
            for (int i = 0; i < kUnprepareTries; i++) {
                if (midiInUnprepareHeader(h_, &hdr, sizeof hdr) != MIDIERR_STILLPLAYING)
                    break;
                Sleep(1);
            }
        }
        midiInClose(h_);
    }

    bool start() override
    {
        {
            std::lock_guard<std::mutex> lk(mx_);
            live_ = true;
            startUs_ = vtClockUs(); /* winmm's stamps count from its start, a moment later */
        }
        for (int i = 0; i < kInBuffers; i++) {
            MIDIHDR &hdr = hdrs_[i];
            hdr.lpData = data_[i];
            hdr.dwBufferLength = kInBufferSize;
            if (midiInPrepareHeader(h_, &hdr, sizeof hdr) != MMSYSERR_NOERROR ||
                midiInAddBuffer(h_, &hdr, sizeof hdr) != MMSYSERR_NOERROR)
                break; /* fewer buffers: SysEx still arrives, in more pieces */
        }
        if (midiInStart(h_) == MMSYSERR_NOERROR)
            return true;
        stop();
        return false;
    }

    void stop() override
    {
        {
            /* waits for a delivery under way; none starts after this */
            std::lock_guard<std::mutex> lk(mx_);
            live_ = false;
        }
        midiInReset(h_); /* the buffers come back, and are not queued again */
    }

    bool gone() override { return gone_.load(); }

private:
    static void CALLBACK onEvent(HMIDIIN, UINT msg, DWORD_PTR self, DWORD_PTR p1, DWORD_PTR p2)
    {
        reinterpret_cast<WinmmIn *>(self)->take(msg, p1, p2);
    }

    void take(UINT msg, DWORD_PTR p1, DWORD_PTR p2)
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (!live_)
            return;
        int64_t at = startUs_ + (int64_t)(DWORD)p2 * 1000;
        switch (msg) {
        case MIM_DATA:
        case MIM_MOREDATA: {
            uint8_t b[3];
            if (unsigned n = vt::unpackShortMessage((DWORD)p1, b))
                sink_->bytesAt(b, n, at);
            break;
        }
        case MIM_ERROR: sink_->message(MIM_ERROR, (uint32_t)p1); break;
        case MIM_LONGDATA:
        case MIM_LONGERROR: {
            LPMIDIHDR hdr = reinterpret_cast<LPMIDIHDR>(p1);
            if (hdr->dwBytesRecorded)
                sink_->bytesAt((const uint8_t *)hdr->lpData, hdr->dwBytesRecorded, at);
            /* queued again at once, as MIDI input libraries do from this
               callback, so that a long SysEx never finds no buffer */
            midiInAddBuffer(h_, hdr, sizeof *hdr);
            break;
        }
        case MIM_CLOSE:
            /* while it runs: the driver closed it, its device is gone */
            gone_.store(true);
            vt::portsChanged();
            break;
        default: break; /* MIM_OPEN: the host gives its own */
        }
    }

    vt::InputSink *sink_;
    HMIDIIN h_ = 0;
    std::mutex mx_;
    bool live_ = false;
    std::atomic<bool> gone_{false};
    int64_t startUs_ = 0; /* when midiInStart was called, on the clock of vtClockUs */
    MIDIHDR hdrs_[kInBuffers];
    char data_[kInBuffers][kInBufferSize];
};

} // namespace

vt::InPort *WinmmBackend::openIn(unsigned i, vt::InputSink *sink)
{
    if (i >= ins_)
        return nullptr;
    return openInAt(i, sink);
}

vt::InPort *WinmmBackend::openInAt(unsigned i, vt::InputSink *sink)
{
    if (!sink)
        return nullptr;
    WinmmIn *in = new (std::nothrow) WinmmIn(sink);
    if (in && in->open(i))
        return in;
    delete in;
    return nullptr;
}

} // namespace winmm
} // namespace vt
