/*
 * The contract functions: each forwards to the installed table of its
 * service, so that the tests can swap in the double without the system code
 * noticing.  With nothing installed the real services answer (vtRealMidi,
 * vtRealConsole, vtRealFiles of the platform's own backend).
 *
 * On Windows the contract names are macros for the vt_ forwarders
 * (win/winapi.h), so the same definitions below define those.
 */
#include "service.h"

#include <atomic>

namespace {

/* Atomic only so that a test installing from its own thread is never torn;
   the system reads them from the main thread alone. */
std::atomic<const VtMidiService *> gMidi{nullptr};
std::atomic<const VtConsole *> gConsole{nullptr};
std::atomic<const VtFiles *> gFiles{nullptr};

const VtMidiService *midi()
{
    const VtMidiService *s = gMidi.load(std::memory_order_acquire);
    return s ? s : vtRealMidi();
}

const VtConsole *console()
{
    const VtConsole *c = gConsole.load(std::memory_order_acquire);
    return c ? c : vtRealConsole();
}

const VtFiles *files()
{
    const VtFiles *f = gFiles.load(std::memory_order_acquire);
    return f ? f : vtRealFiles();
}

} // namespace

void vtInstallMidi(const VtMidiService *s) { gMidi.store(s, std::memory_order_release); }
void vtInstallConsole(const VtConsole *c) { gConsole.store(c, std::memory_order_release); }
void vtInstallFiles(const VtFiles *f) { gFiles.store(f, std::memory_order_release); }

UINT midiOutGetNumDevs(void) { return midi()->outGetNumDevs(); }

MMRESULT midiOutGetDevCapsA(UINT uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc)
{
    return midi()->outGetDevCaps(uDeviceID, pmoc, cbmoc);
}

MMRESULT midiOutOpen(
    LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return midi()->outOpen(phmo, uDeviceID, dwCallback, dwInstance, fdwOpen);
}

MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh)
{
    return midi()->outPrepareHeader(hmo, pmh, cbmh);
}

MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) { return midi()->outLongMsg(hmo, pmh, cbmh); }

MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh)
{
    return midi()->outUnprepareHeader(hmo, pmh, cbmh);
}

MMRESULT midiOutClose(HMIDIOUT hmo) { return midi()->outClose(hmo); }

UINT midiInGetNumDevs(void) { return midi()->inGetNumDevs(); }

MMRESULT midiInGetDevCapsA(UINT uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic)
{
    return midi()->inGetDevCaps(uDeviceID, pmic, cbmic);
}

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return midi()->inOpen(phmi, uDeviceID, dwCallback, dwInstance, fdwOpen);
}

MMRESULT midiInStart(HMIDIIN hmi) { return midi()->inStart(hmi); }

MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return midi()->inPrepareHeader(hmi, pmh, cbmh);
}

MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return midi()->inAddBuffer(hmi, pmh, cbmh);
}

MMRESULT midiInReset(HMIDIIN hmi) { return midi()->inReset(hmi); }

MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh)
{
    return midi()->inUnprepareHeader(hmi, pmh, cbmh);
}

MMRESULT midiInClose(HMIDIIN hmi) { return midi()->inClose(hmi); }

MMRESULT midiInVtHeldLoad(HMIDIIN hmi, UINT *percent) { return midi()->inHeldLoad(hmi, percent); }

void platformInit(void) { console()->init(); }
int _kbhit(void) { return console()->kbhit(); }
int _getch(void) { return console()->getch(); }
void _sleep(unsigned long ms) { console()->sleep(ms); }
int readLine(char *buf, unsigned size) { return console()->readLine(buf, size); }
int keyboardIsConsole(void) { return console()->isConsole(); }
int64_t vtClockUs(void) { return console()->clockUs(); }
int lastKeyIsCharacter(void) { return console()->lastKeyIsCharacter(); }

HANDLE CreateFileA(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ)
{
    return files()->create(name, access, share, security, creation, attributes, templ);
}

BOOL ReadFile(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    return files()->read(h, buf, n, done, overlapped);
}

BOOL WriteFile(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    return files()->write(h, buf, n, done, overlapped);
}

BOOL CloseHandle(HANDLE h) { return files()->close(h); }
DWORD GetLastError(void) { return files()->lastError(); }
DWORD GetFileAttributesA(LPCSTR name) { return files()->attributes(name); }
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags)
{
    return files()->move(existing, newName, flags);
}
BOOL DeleteFileA(LPCSTR name) { return files()->remove(name); }

DWORD SetFilePointer(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    return files()->seek(h, distance, distanceHigh, method);
}

BOOL FlushFileBuffers(HANDLE h) { return files()->flush(h); }
BOOL CreateDirectoryA(LPCSTR name, void *security) { return files()->createDir(name, security); }
BOOL RemoveDirectoryA(LPCSTR name) { return files()->removeDir(name); }
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) { return files()->findFirst(pattern, found); }
BOOL FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA found) { return files()->findNext(h, found); }
BOOL FindClose(HANDLE h) { return files()->findClose(h); }
DWORD GetCurrentProcessId(void) { return files()->processId(); }
