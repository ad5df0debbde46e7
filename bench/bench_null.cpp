#include "bench_null.h"

#include "frontend/frontend.h"
#include "platform/common/service.h"

#include <stdlib.h>

namespace {

uint64_t gBytes = 0;

UINT one(void) { return 1; }
MMRESULT outCaps(UINT, LPMIDIOUTCAPSA, UINT) { return MMSYSERR_NOERROR; }
MMRESULT inCaps(UINT, LPMIDIINCAPSA, UINT) { return MMSYSERR_NOERROR; }
MMRESULT outOpen(LPHMIDIOUT ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
{
    *ph = (HMIDIOUT)(uintptr_t)1;
    return MMSYSERR_NOERROR;
}
MMRESULT inOpen(LPHMIDIIN ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
{
    *ph = nullptr;
    return MMSYSERR_NODRIVER;
}
MMRESULT outHdr(HMIDIOUT, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
MMRESULT outLong(HMIDIOUT, LPMIDIHDR h, UINT)
{
    gBytes += h->dwBufferLength;
    return MMSYSERR_NOERROR;
}
MMRESULT outClose(HMIDIOUT) { return MMSYSERR_NOERROR; }
MMRESULT inOnly(HMIDIIN) { return MMSYSERR_NOERROR; }
MMRESULT inHdr(HMIDIIN, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
MMRESULT inHeld(HMIDIIN, UINT *percent)
{
    *percent = 0;
    return MMSYSERR_NOERROR;
}

const VtMidiService kNull = {
    one,
    outCaps,
    outOpen,
    outHdr,
    outLong,
    outHdr,
    outClose,
    one,
    inCaps,
    inOpen,
    inOnly,
    inHdr,
    inHdr,
    inOnly,
    inHdr,
    inOnly,
    inHeld,
};

} // namespace

void benchNullPortInstall(void)
{
    vtInstallMidi(&kNull);
    midiOutOpen(&gOutHandle, 0, 0, 0, 0);
    gBytes = 0;
}

uint64_t benchNullPortBytes(void) { return gBytes; }

BenchQuietConsole::BenchQuietConsole()
{
    saved_ = stdout;
    null_ = fopen("/dev/null", "w");
    if (!null_)
        abort();
    setvbuf(null_, nullptr, _IOFBF, 1 << 16); /* as the console's standard output */
    stdout = null_;
}

BenchQuietConsole::~BenchQuietConsole()
{
    stdout = saved_;
    fclose(null_);
}
