/*
 * The port host: the real port service on POSIX.  For now it offers no
 * ports at all; the backends join it next.
 */
#include "../common/service.h"

namespace {

UINT noDevs(void) { return 0; }
MMRESULT outCaps(UINT, LPMIDIOUTCAPSA, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT inCaps(UINT, LPMIDIINCAPSA, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT outOpen(LPHMIDIOUT ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
{
    if (ph)
        *ph = nullptr;
    return MMSYSERR_BADDEVICEID;
}
MMRESULT inOpen(LPHMIDIIN ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
{
    if (ph)
        *ph = nullptr;
    return MMSYSERR_BADDEVICEID;
}
MMRESULT outHdr(HMIDIOUT, LPMIDIHDR, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT outClose(HMIDIOUT) { return MMSYSERR_INVALHANDLE; }
MMRESULT inOnly(HMIDIIN) { return MMSYSERR_INVALHANDLE; }
MMRESULT inHdr(HMIDIIN, LPMIDIHDR, UINT) { return MMSYSERR_INVALHANDLE; }

const VtMidiService kHost = {
    noDevs, outCaps, outOpen, outHdr, outHdr, outHdr, outClose,
    noDevs, inCaps, inOpen, inOnly, inHdr, inHdr, inOnly, inHdr, inOnly,
};

} // namespace

const VtMidiService *vtRealMidi(void) { return &kHost; }
