#include "midihdr.h"

namespace vt {

namespace {

MMRESULT checkHeader(LPMIDIHDR hdr, UINT size)
{
    return !hdr || size < kMinHeaderSize ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

/* The states in which a prepared header may be handed over. */
MMRESULT checkHandOver(LPMIDIHDR hdr)
{
    if (!(hdr->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT prepareHeader(LPMIDIHDR hdr, UINT size)
{
    if (MMRESULT r = checkHeader(hdr, size))
        return r;
    if (!(hdr->dwFlags & MHDR_PREPARED)) {
        hdr->dwFlags |= MHDR_PREPARED;
        hdr->dwFlags &= ~(DWORD)(MHDR_DONE | MHDR_INQUEUE);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT unprepareHeader(LPMIDIHDR hdr, UINT size)
{
    if (MMRESULT r = checkHeader(hdr, size))
        return r;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    hdr->dwFlags &= ~(DWORD)MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT checkLongMessage(LPMIDIHDR hdr, UINT size)
{
    if (MMRESULT r = checkHeader(hdr, size))
        return r;
    if (!hdr->lpData && hdr->dwBufferLength)
        return MMSYSERR_INVALPARAM;
    return checkHandOver(hdr);
}

MMRESULT checkAddedBuffer(LPMIDIHDR hdr, UINT size)
{
    if (MMRESULT r = checkHeader(hdr, size))
        return r;
    if (!hdr->lpData || !hdr->dwBufferLength)
        return MMSYSERR_INVALPARAM;
    return checkHandOver(hdr);
}

void headerQueued(LPMIDIHDR hdr)
{
    hdr->dwFlags &= ~(DWORD)MHDR_DONE;
    hdr->dwFlags |= MHDR_INQUEUE;
}

void headerDone(LPMIDIHDR hdr)
{
    hdr->dwFlags &= ~(DWORD)MHDR_INQUEUE;
    hdr->dwFlags |= MHDR_DONE;
}

} // namespace vt
