/*
 * An open winmm output.
 *
 * Each call's bytes leave as one long message, and the call waits until
 * the driver is done with them (winmm signals an event), so that they have
 * left when send returns, whatever mix of messages they hold.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "internal.h"

#include <string.h>

#include <new>

namespace vt {
namespace winmm {

namespace {

const DWORD kSendWaitMs = 10; /* longest wait between two looks at a send */

class WinmmOut : public vt::OutPort {
public:
    WinmmOut(HMIDIOUT h, HANDLE done) : h_(h), done_(done) {}

    ~WinmmOut() override
    {
        midiOutClose(h_);
        CloseHandle(done_);
    }

    bool send(const uint8_t *p, size_t n) override
    {
        if (n == 0)
            return true;
        MIDIHDR hdr;
        memset(&hdr, 0, sizeof hdr);
        hdr.lpData = (LPSTR)p; /* winmm only reads an output buffer */
        hdr.dwBufferLength = hdr.dwBytesRecorded = (DWORD)n;
        MMRESULT r = midiOutPrepareHeader(h_, &hdr, sizeof hdr);
        if (r != MMSYSERR_NOERROR)
            return failed(r);
        r = midiOutLongMsg(h_, &hdr, sizeof hdr);
        bool ok = r == MMSYSERR_NOERROR || failed(r);
        while (midiOutUnprepareHeader(h_, &hdr, sizeof hdr) == MIDIERR_STILLPLAYING)
            WaitForSingleObject(done_, kSendWaitMs);
        return ok;
    }

    bool gone() override { return gone_; }

private:
    /* A device unplugged answers that its driver or handle is no more. */
    bool failed(MMRESULT r)
    {
        if (r == MMSYSERR_NODRIVER || r == MMSYSERR_INVALHANDLE)
            gone_ = true;
        return false;
    }

    bool gone_ = false;
    HMIDIOUT h_;
    HANDLE done_; /* signalled by winmm when it is done with a header */
};

} // namespace

vt::OutPort *WinmmBackend::openOut(unsigned i)
{
    if (i >= outs_)
        return nullptr;
    return openOutAt(i);
}

vt::OutPort *WinmmBackend::openOutAt(unsigned i)
{
    HANDLE done = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!done)
        return nullptr;
    HMIDIOUT h = 0;
    if (midiOutOpen(&h, i, (DWORD_PTR)done, 0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        CloseHandle(done);
        return nullptr;
    }
    WinmmOut *o = new (std::nothrow) WinmmOut(h, done);
    if (!o) {
        midiOutClose(h);
        CloseHandle(done);
    }
    return o;
}

} // namespace winmm
} // namespace vt
