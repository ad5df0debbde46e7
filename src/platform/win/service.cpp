/*
 * The real services behind the contract on Windows: winmm for the ports and
 * kernel32 for the files (the keyboard is console.cpp).  winapi.h turns the
 * system's calls of midiOutOpen, _kbhit, CreateFileA and the rest into the
 * vt_ forwarders of common/forward.cpp, which call these unless a test has
 * installed the double.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/service.h"
#include "internal.h"

namespace {

/* --- winmm --------------------------------------------------------------

   The system relies on a handle that stays 0 when an open fails; the real
   opens are held to that here whatever the driver leaves behind. */

UINT realOutGetNumDevs(void) { return midiOutGetNumDevs(); }

MMRESULT realOutGetDevCaps(UINT id, LPMIDIOUTCAPSA caps, UINT size)
{
    return midiOutGetDevCapsA(id, caps, size);
}

MMRESULT realOutOpen(LPHMIDIOUT phmo, UINT id, DWORD_PTR cb, DWORD_PTR inst, DWORD flags)
{
    MMRESULT r = midiOutOpen(phmo, id, cb, inst, flags);
    if (r != MMSYSERR_NOERROR && phmo)
        *phmo = 0;
    return r;
}

MMRESULT realOutPrepare(HMIDIOUT h, LPMIDIHDR hdr, UINT size) { return midiOutPrepareHeader(h, hdr, size); }

MMRESULT realOutLongMsg(HMIDIOUT h, LPMIDIHDR hdr, UINT size) { return midiOutLongMsg(h, hdr, size); }

MMRESULT realOutUnprepare(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    return midiOutUnprepareHeader(h, hdr, size);
}

MMRESULT realOutClose(HMIDIOUT h) { return midiOutClose(h); }

UINT realInGetNumDevs(void) { return midiInGetNumDevs(); }

MMRESULT realInGetDevCaps(UINT id, LPMIDIINCAPSA caps, UINT size)
{
    return midiInGetDevCapsA(id, caps, size);
}

/* A callback function passed to midiInOpen is wrapped, so that after every
   notification a pause of the main loop ends at once and what arrived is
   shown without waiting out the pause.  One slot per open input; the
   system opens one at a time, the rest is headroom. */
vtwin::InSlot gSlots[vtwin::kInSlots];

vtwin::InSlot *claimSlot(DWORD_PTR cb, DWORD_PTR inst)
{
    for (vtwin::InSlot &s : gSlots) {
        if (!s.used) {
            s.used = true;
            s.handle = 0;
            s.proc = reinterpret_cast<VtMidiInProc>(cb);
            s.instance = inst;
            return &s;
        }
    }
    return nullptr;
}

MMRESULT realInOpen(LPHMIDIIN phmi, UINT id, DWORD_PTR cb, DWORD_PTR inst, DWORD flags)
{
    vtwin::InSlot *slot = nullptr;
    if ((flags & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION && cb)
        slot = claimSlot(cb, inst);
    MMRESULT r;
    if (slot)
        r = midiInOpen(phmi, id, reinterpret_cast<DWORD_PTR>(&vtwin::inTrampoline),
            reinterpret_cast<DWORD_PTR>(slot), flags);
    else
        r = midiInOpen(phmi, id, cb, inst, flags); /* no slot left: no wake-up */
    if (r != MMSYSERR_NOERROR) {
        if (phmi)
            *phmi = 0;
        if (slot)
            slot->used = false;
    } else if (slot) {
        slot->handle = *phmi;
    }
    return r;
}

MMRESULT realInStart(HMIDIIN h) { return midiInStart(h); }

MMRESULT realInPrepare(HMIDIIN h, LPMIDIHDR hdr, UINT size) { return midiInPrepareHeader(h, hdr, size); }

MMRESULT realInAddBuffer(HMIDIIN h, LPMIDIHDR hdr, UINT size) { return midiInAddBuffer(h, hdr, size); }

MMRESULT realInReset(HMIDIIN h) { return midiInReset(h); }

MMRESULT realInUnprepare(HMIDIIN h, LPMIDIHDR hdr, UINT size) { return midiInUnprepareHeader(h, hdr, size); }

MMRESULT realInClose(HMIDIIN h)
{
    MMRESULT r = midiInClose(h);
    /* once closed no notification comes any more: the slot is free */
    if (r == MMSYSERR_NOERROR && h) {
        for (vtwin::InSlot &s : gSlots)
            if (s.used && s.handle == h)
                s.used = false;
    }
    return r;
}

const VtMidiService kRealMidi = {
    realOutGetNumDevs,
    realOutGetDevCaps,
    realOutOpen,
    realOutPrepare,
    realOutLongMsg,
    realOutUnprepare,
    realOutClose,
    realInGetNumDevs,
    realInGetDevCaps,
    realInOpen,
    realInStart,
    realInPrepare,
    realInAddBuffer,
    realInReset,
    realInUnprepare,
    realInClose,
};

/* --- kernel32 files ------------------------------------------------------ */

/* The rules of the contract that kernel32 does not keep by itself: a name
   is not written through a symbolic link, and the console is no file. */
HANDLE realCreate(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ)
{
    /* (CREATE_NEW fails on any name that is there, a link included) */
    if (creation == CREATE_ALWAYS) {
        DWORD a = name ? GetFileAttributesA(name) : INVALID_FILE_ATTRIBUTES;
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            SetLastError(ERROR_CANT_RESOLVE_FILENAME);
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE h = CreateFileA(
        name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security), creation, attributes, templ);
    DWORD mode;
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        CloseHandle(h);
        SetLastError(ERROR_VT_KEYBOARD);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

/* Windows wants a count to write into unless the call is overlapped; a
   caller that does not care gets a scratch one rather than a crash.  A
   pipe is read without waiting: nothing there yet is ERROR_NO_DATA, and a
   pipe whose writer has gone is at its end. */
BOOL realRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    if (!done)
        done = &scratch;
    if (!overlapped && GetFileType(h) == FILE_TYPE_PIPE) {
        DWORD avail = 0;
        *done = 0;
        if (!PeekNamedPipe(h, NULL, 0, NULL, &avail, NULL))
            return GetLastError() == ERROR_BROKEN_PIPE ? TRUE : FALSE;
        if (avail == 0 && n > 0) {
            SetLastError(ERROR_NO_DATA);
            return FALSE;
        }
        if (n > avail)
            n = avail;
    }
    return ReadFile(h, buf, n, done, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    return WriteFile(h, buf, n, done ? done : &scratch, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realClose(HANDLE h) { return CloseHandle(h); }

DWORD realLastError(void) { return GetLastError(); }

DWORD realAttributes(LPCSTR name) { return GetFileAttributesA(name); }

BOOL realMove(LPCSTR existing, LPCSTR newName, DWORD flags) { return MoveFileExA(existing, newName, flags); }

BOOL realRemove(LPCSTR name) { return DeleteFileA(name); }

const VtFiles kRealFiles = {
    realCreate, realRead, realWrite, realClose, realLastError, realAttributes, realMove, realRemove};

} // namespace

namespace vtwin {

void CALLBACK inTrampoline(HMIDIIN h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2)
{
    const InSlot *slot = reinterpret_cast<const InSlot *>(inst);
    slot->proc(h, msg, slot->instance, p1, p2);
    vtWake();
}

unsigned inSlotsInUse(void)
{
    unsigned n = 0;
    for (const InSlot &s : gSlots)
        n += s.used ? 1 : 0;
    return n;
}

} // namespace vtwin

const VtMidiService *vtRealMidi(void) { return &kRealMidi; }
const VtFiles *vtRealFiles(void) { return &kRealFiles; }
