/*
 * The scriptable double of the port service, the console keyboard and the
 * files.  It answers as the Windows multimedia service does where the system
 * can tell the difference: opaque non-zero handles that go stale on close,
 * the header flags and their error codes, synchronous long messages, input
 * buffers queued and handed back with MIM_LONGDATA, and callbacks on a
 * thread that is not the caller's.
 *
 * Choices the service leaves open, made here once:
 * - one output and one input may be open at a time; a second open of the
 *   same direction answers MMSYSERR_ALLOCATED;
 * - midiInOpen and midiInClose notify MIM_OPEN and MIM_CLOSE to a function
 *   callback, as the real service does;
 * - nothing is delivered before midiInStart nor after midiInReset: deliver
 *   and its companions then answer false;
 * - an injected failure answers MMSYSERR_ALLOCATED for the opens and
 *   MMSYSERR_ERROR for everything else, and changes nothing;
 * - with endOfInput off and no key queued, _getch answers -1 and readLine
 *   answers -1 (a real keyboard would block, which no test wants).
 */
#include "testdouble.h"

#include "../common/service.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace td {
namespace {

const int kOps = OutClose + 1;
const DWORD kCallbackTypeMask = 0x00070000;
/* The smallest header size the real service accepts: everything up to the
   driver's own fields. */
const UINT kMinHeaderSize = (UINT)offsetof(MIDIHDR, dwOffset);

struct Failures {
    bool all[kOps] = {};
    std::vector<int> ports[kOps];
};

struct State {
    std::vector<std::string> outNames;
    std::vector<std::string> inNames;
    Failures fail;
    int stillPlaying = 0;
    int calls[kOps] = {};
    std::vector<std::vector<uint8_t>> sent;

    bool outOpen = false;
    HMIDIOUT outHandle = nullptr;
    unsigned outGeneration = 0;

    bool inOpen = false;
    bool inStarted = false;
    HMIDIIN inHandle = nullptr;
    unsigned inGeneration = 0;
    VtMidiInProc callback = nullptr;
    DWORD_PTR instance = 0;
    std::deque<LPMIDIHDR> queue;
};

/* Handles are addresses inside these arrays, a new slot for each open, so a
   handle kept after its close no longer matches the open one. */
char gOutSlots[16];
char gInSlots[16];

std::mutex gMx;        /* guards gState; never held while a callback runs */
std::mutex gDeliverMx; /* one notification at a time; reset/close wait on it */
State gState;

bool failing(Op op, int port)
{
    const Failures &f = gState.fail;
    if (f.all[op])
        return true;
    for (int p : f.ports[op])
        if (p == port)
            return true;
    return false;
}

void clearFailures()
{
    for (int i = 0; i < kOps; i++) {
        gState.fail.all[i] = false;
        gState.fail.ports[i].clear();
    }
    gState.stillPlaying = 0;
}

bool validOut(HMIDIOUT h) { return h != nullptr && gState.outOpen && h == gState.outHandle; }
bool validIn(HMIDIIN h) { return h != nullptr && gState.inOpen && h == gState.inHandle; }

/* Runs the callback on a thread of its own and waits for it, as the
   service's thread would; the caller holds gDeliverMx but not gMx. */
void notify(VtMidiInProc cb, HMIDIIN h, DWORD_PTR instance, UINT msg, DWORD_PTR p1, DWORD_PTR p2)
{
    if (!cb)
        return;
    std::thread t(cb, h, msg, instance, p1, p2);
    t.join();
}

template <class Caps>
MMRESULT caps(Op op, const std::vector<std::string> &names, UINT id, Caps *out, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[op]++;
    if (id >= names.size())
        return MMSYSERR_BADDEVICEID;
    if (!out)
        return MMSYSERR_INVALPARAM;
    if (failing(op, (int)id))
        return MMSYSERR_ERROR;
    Caps c;
    memset(&c, 0, sizeof c);
    strncpy(c.szPname, names[id].c_str(), sizeof c.szPname - 1);
    memcpy(out, &c, size < sizeof c ? size : sizeof c);
    return MMSYSERR_NOERROR;
}

/* ---- output ---------------------------------------------------------- */

UINT outGetNumDevs(void)
{
    std::lock_guard<std::mutex> lk(gMx);
    return (UINT)gState.outNames.size();
}

MMRESULT outGetDevCaps(UINT id, LPMIDIOUTCAPSA p, UINT size)
{
    return caps(OutCaps, gState.outNames, id, p, size);
}

MMRESULT outOpen(LPHMIDIOUT ph, UINT id, DWORD_PTR, DWORD_PTR, DWORD flags)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[OutOpen]++;
    if (!ph)
        return MMSYSERR_INVALPARAM;
    *ph = nullptr;
    if (id >= gState.outNames.size())
        return MMSYSERR_BADDEVICEID;
    if ((flags & kCallbackTypeMask) != CALLBACK_NULL)
        return MMSYSERR_INVALFLAG; /* no completion notices: sends are synchronous */
    if (failing(OutOpen, (int)id) || gState.outOpen)
        return MMSYSERR_ALLOCATED;
    gState.outGeneration++;
    gState.outHandle = (HMIDIOUT)(void *)&gOutSlots[gState.outGeneration % sizeof gOutSlots];
    gState.outOpen = true;
    *ph = gState.outHandle;
    return MMSYSERR_NOERROR;
}

MMRESULT outPrepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[OutPrepare]++;
    if (!validOut(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (failing(OutPrepare, -1))
        return MMSYSERR_ERROR;
    if (!(hdr->dwFlags & MHDR_PREPARED)) {
        hdr->dwFlags |= MHDR_PREPARED;
        hdr->dwFlags &= ~(DWORD)(MHDR_DONE | MHDR_INQUEUE);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT outLongMsg(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[OutLongMsg]++;
    if (!validOut(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize || (!hdr->lpData && hdr->dwBufferLength))
        return MMSYSERR_INVALPARAM;
    if (!(hdr->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    if (failing(OutLongMsg, -1))
        return MMSYSERR_ERROR;
    const uint8_t *p = (const uint8_t *)hdr->lpData;
    gState.sent.emplace_back(p, p + hdr->dwBufferLength);
    hdr->dwFlags |= MHDR_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT outUnprepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[OutUnprepare]++;
    if (!validOut(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (failing(OutUnprepare, -1))
        return MMSYSERR_ERROR;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    hdr->dwFlags &= ~(DWORD)MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT outClose(HMIDIOUT h)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[OutClose]++;
    if (!validOut(h))
        return MMSYSERR_INVALHANDLE;
    if (failing(OutClose, -1))
        return MMSYSERR_ERROR;
    gState.outOpen = false;
    gState.outHandle = nullptr;
    return MMSYSERR_NOERROR;
}

/* ---- input ----------------------------------------------------------- */

UINT inGetNumDevs(void)
{
    std::lock_guard<std::mutex> lk(gMx);
    return (UINT)gState.inNames.size();
}

MMRESULT inGetDevCaps(UINT id, LPMIDIINCAPSA p, UINT size)
{
    return caps(InCaps, gState.inNames, id, p, size);
}

MMRESULT inOpen(LPHMIDIIN ph, UINT id, DWORD_PTR cb, DWORD_PTR instance, DWORD flags)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    VtMidiInProc proc;
    HMIDIIN h;
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.calls[InOpen]++;
        if (!ph)
            return MMSYSERR_INVALPARAM;
        *ph = nullptr;
        if (id >= gState.inNames.size())
            return MMSYSERR_BADDEVICEID;
        DWORD type = flags & kCallbackTypeMask;
        if (type != CALLBACK_NULL && type != CALLBACK_FUNCTION)
            return MMSYSERR_INVALFLAG;
        if (type == CALLBACK_FUNCTION && !cb)
            return MMSYSERR_INVALPARAM;
        if (failing(InOpen, (int)id) || gState.inOpen)
            return MMSYSERR_ALLOCATED;
        gState.inGeneration++;
        gState.inHandle = (HMIDIIN)(void *)&gInSlots[gState.inGeneration % sizeof gInSlots];
        gState.inOpen = true;
        gState.inStarted = false;
        gState.callback = type == CALLBACK_FUNCTION ? (VtMidiInProc)cb : nullptr;
        gState.instance = instance;
        gState.queue.clear();
        *ph = gState.inHandle;
        proc = gState.callback;
        h = gState.inHandle;
    }
    notify(proc, h, instance, MIM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT inStart(HMIDIIN h)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[InStart]++;
    if (!validIn(h))
        return MMSYSERR_INVALHANDLE;
    if (failing(InStart, -1))
        return MMSYSERR_ERROR;
    gState.inStarted = true;
    return MMSYSERR_NOERROR;
}

MMRESULT inPrepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[InPrepare]++;
    if (!validIn(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (failing(InPrepare, -1))
        return MMSYSERR_ERROR;
    if (!(hdr->dwFlags & MHDR_PREPARED)) {
        hdr->dwFlags |= MHDR_PREPARED;
        hdr->dwFlags &= ~(DWORD)(MHDR_DONE | MHDR_INQUEUE);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT inAddBuffer(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[InAdd]++;
    if (!validIn(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize || !hdr->lpData || !hdr->dwBufferLength)
        return MMSYSERR_INVALPARAM;
    if (!(hdr->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    if (failing(InAdd, -1))
        return MMSYSERR_ERROR;
    hdr->dwFlags &= ~(DWORD)MHDR_DONE;
    hdr->dwFlags |= MHDR_INQUEUE;
    hdr->dwBytesRecorded = 0;
    gState.queue.push_back(hdr);
    return MMSYSERR_NOERROR;
}

MMRESULT inReset(HMIDIIN h)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    std::deque<LPMIDIHDR> back;
    VtMidiInProc proc;
    DWORD_PTR instance;
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.calls[InReset]++;
        if (!validIn(h))
            return MMSYSERR_INVALHANDLE;
        if (failing(InReset, -1))
            return MMSYSERR_ERROR;
        gState.inStarted = false;
        back.swap(gState.queue);
        for (LPMIDIHDR hdr : back) {
            hdr->dwBytesRecorded = 0;
            hdr->dwFlags &= ~(DWORD)MHDR_INQUEUE;
            hdr->dwFlags |= MHDR_DONE;
        }
        proc = gState.callback;
        instance = gState.instance;
    }
    for (LPMIDIHDR hdr : back)
        notify(proc, h, instance, MIM_LONGDATA, (DWORD_PTR)hdr, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT inUnprepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT size)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[InUnprepare]++;
    if (!validIn(h))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || size < kMinHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (gState.stillPlaying > 0) {
        gState.stillPlaying--;
        return MIDIERR_STILLPLAYING;
    }
    if (failing(InUnprepare, -1))
        return MMSYSERR_ERROR;
    if (hdr->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    hdr->dwFlags &= ~(DWORD)MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT inClose(HMIDIIN h)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    VtMidiInProc proc;
    DWORD_PTR instance;
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.calls[InClose]++;
        if (!validIn(h))
            return MMSYSERR_INVALHANDLE;
        if (!gState.queue.empty())
            return MIDIERR_STILLPLAYING;
        if (failing(InClose, -1))
            return MMSYSERR_ERROR;
        proc = gState.callback;
        instance = gState.instance;
        gState.inOpen = false;
        gState.inStarted = false;
        gState.inHandle = nullptr;
        gState.callback = nullptr;
    }
    notify(proc, h, instance, MIM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

const VtMidiService kMidi = {
    outGetNumDevs,
    outGetDevCaps,
    outOpen,
    outPrepareHeader,
    outLongMsg,
    outUnprepareHeader,
    outClose,
    inGetNumDevs,
    inGetDevCaps,
    inOpen,
    inStart,
    inPrepareHeader,
    inAddBuffer,
    inReset,
    inUnprepareHeader,
    inClose,
};

/* ---- console --------------------------------------------------------- */

std::mutex gConsoleMx;
std::string gKeys;
std::vector<bool> gKeyIsText; /* per byte of gKeys: queued by textKeys */
size_t gKeyPos = 0;
bool gLastIsChar = true; /* what lastKeyIsCharacter answers */
bool gAfterPrefix = false;
bool gEndOfInput = true;
bool gKeyboardIsConsole = true;
unsigned gEndPhase = 0; /* even: ESC next, odd: Enter next */
std::atomic<unsigned> gSleeps{0};
std::atomic<unsigned long> gSleptMs{0};

bool keyWaiting() { return gKeyPos < gKeys.size(); }

/* Notes whether the byte handed out was typed as a character: not a
   prefix (0 or 0xE0 queued by keys), nor the scan code after one. */
void noteKey(bool prefix)
{
    gLastIsChar = !prefix && !gAfterPrefix;
    gAfterPrefix = prefix;
}

int nextKey()
{
    if (keyWaiting()) {
        bool text = gKeyIsText[gKeyPos];
        int c = (unsigned char)gKeys[gKeyPos++];
        noteKey(!text && (c == 0 || c == 0xE0));
        return c;
    }
    noteKey(false);
    if (!gEndOfInput)
        return -1;
    return (gEndPhase++ & 1) ? '\r' : 27;
}

void consoleInit(void) {}

int consoleKbhit(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return keyWaiting() || gEndOfInput;
}

int consoleGetch(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return nextKey();
}

void consoleSleep(unsigned long ms)
{
    gSleeps++;
    gSleptMs += ms;
    /* lets a test's delivering thread get its turn, as a real pause would */
    std::this_thread::yield();
}

/* A line as the console reads it: the kept characters are echoed as typed,
   Backspace takes the last one back, other control characters and the
   function and cursor keys (prefix 0 or E0 and a scan code) are ignored,
   Enter (CR, LF or CR LF) ends the line and echoes a line end.  Input that
   ends in the middle of a line gives that line, with no line end echoed;
   input that ends before any key gives -1. */
int consoleReadLine(char *buf, unsigned size)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    unsigned n = 0;
    bool any = false;
    if (size)
        buf[0] = 0;
    while (keyWaiting()) {
        bool text = gKeyIsText[gKeyPos];
        unsigned char c = (unsigned char)gKeys[gKeyPos++];
        any = true;
        if (c == '\r' || c == '\n') {
            if (c == '\r' && keyWaiting() && gKeys[gKeyPos] == '\n')
                gKeyPos++;
            fputs("\n", stdout);
            fflush(stdout);
            return (int)n;
        }
        if ((c == 0 || c == 0xE0) && !text) {
            if (keyWaiting())
                gKeyPos++; /* the scan code */
            continue;
        }
        if (c == 8 || c == 127) {
            if (n) {
                buf[--n] = 0;
                fputs("\b \b", stdout);
            }
            continue;
        }
        if (c < 0x20)
            continue;
        if (n + 1 < size) {
            buf[n++] = (char)c;
            buf[n] = 0;
            fputc(c, stdout);
        }
    }
    fflush(stdout);
    return any ? (int)n : -1;
}

int consoleIsConsole(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return gKeyboardIsConsole ? 1 : 0;
}

int consoleLastKeyIsCharacter(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return gLastIsChar ? 1 : 0;
}

const VtConsole kConsole = {consoleInit, consoleKbhit, consoleGetch, consoleSleep, consoleReadLine,
    consoleIsConsole, consoleLastKeyIsCharacter};

/* ---- files ----------------------------------------------------------- */

std::mutex gFilesMx;
long gWriteLimit = -1;
long gReadLimit = -1;
long gWritten = 0;
long gRead = 0;
/* the error of a failure made here rather than by the real files */
thread_local DWORD tInjectedError = 0;

HANDLE fileCreate(
    LPCSTR name, DWORD access, DWORD share, void *sec, DWORD creation, DWORD attributes, HANDLE templ)
{
#ifdef _WIN32
    /* The tests read a file the system still holds open for writing (to see
       that each write went straight through); Windows refuses that unless
       the writer shares the file for reading.  Readers stay exclusive, as a
       test of a file held elsewhere needs. */
    if (access & GENERIC_WRITE)
        share |= FILE_SHARE_READ;
#endif
    tInjectedError = 0;
    return vtRealFiles()->create(name, access, share, sec, creation, attributes, templ);
}

BOOL fileRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD local = 0;
    if (!done)
        done = &local;
    DWORD allowed = n;
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        if (gReadLimit >= 0) {
            long left = gReadLimit - gRead;
            if (left <= 0) {
                *done = 0;
                tInjectedError = ERROR_READ_FAULT;
                return 0;
            }
            if ((unsigned long)left < n)
                allowed = (DWORD)left;
        }
    }
    tInjectedError = 0;
    BOOL ok = vtRealFiles()->read(h, buf, allowed, done, overlapped);
    std::lock_guard<std::mutex> lk(gFilesMx);
    gRead += (long)*done;
    return ok;
}

BOOL fileWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD local = 0;
    if (!done)
        done = &local;
    DWORD allowed = n;
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        if (gWriteLimit >= 0) {
            long left = gWriteLimit - gWritten;
            if (left < 0)
                left = 0;
            if ((unsigned long)left < n)
                allowed = (DWORD)left;
        }
    }
    BOOL ok = 1;
    *done = 0;
    tInjectedError = 0;
    if (allowed)
        ok = vtRealFiles()->write(h, buf, allowed, done, overlapped);
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWritten += (long)*done;
    /* a full disk: what fitted is written and reported, the call fails */
    if (allowed < n && ok)
        tInjectedError = ERROR_DISK_FULL;
    return allowed < n ? 0 : ok;
}

BOOL fileClose(HANDLE h)
{
    tInjectedError = 0;
    return vtRealFiles()->close(h);
}

DWORD fileLastError(void) { return tInjectedError ? tInjectedError : vtRealFiles()->lastError(); }

DWORD fileAttributes(LPCSTR name)
{
    tInjectedError = 0;
    return vtRealFiles()->attributes(name);
}

BOOL fileMove(LPCSTR existing, LPCSTR newName, DWORD flags)
{
    tInjectedError = 0;
    return vtRealFiles()->move(existing, newName, flags);
}

BOOL fileRemove(LPCSTR name)
{
    tInjectedError = 0;
    return vtRealFiles()->remove(name);
}

const VtFiles kFiles = {
    fileCreate, fileRead, fileWrite, fileClose, fileLastError, fileAttributes, fileMove, fileRemove};

} // namespace

/* ---- the scripting side ---------------------------------------------- */

void install()
{
    {
        std::lock_guard<std::mutex> dl(gDeliverMx);
        std::lock_guard<std::mutex> lk(gMx);
        gState.outNames.clear();
        gState.inNames.clear();
        clearFailures();
        for (int &c : gState.calls)
            c = 0;
        gState.sent.clear();
        gState.outOpen = false;
        gState.outHandle = nullptr;
        gState.inOpen = false;
        gState.inStarted = false;
        gState.inHandle = nullptr;
        gState.callback = nullptr;
        gState.instance = 0;
        gState.queue.clear();
    }
    {
        std::lock_guard<std::mutex> lk(gConsoleMx);
        gKeys.clear();
        gKeyIsText.clear();
        gKeyPos = 0;
        gLastIsChar = true;
        gAfterPrefix = false;
        gEndOfInput = true;
        gKeyboardIsConsole = true;
        gEndPhase = 0;
        gSleeps = 0;
        gSleptMs = 0;
    }
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        gWriteLimit = gReadLimit = -1;
        gWritten = gRead = 0;
    }
    vtInstallMidi(&kMidi);
    vtInstallConsole(&kConsole);
    vtInstallFiles(&kFiles);
}

void uninstall()
{
    vtInstallMidi(nullptr);
    vtInstallConsole(nullptr);
    vtInstallFiles(nullptr);
}

void addOutPort(const char *name)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.outNames.push_back(name);
}

void addInPort(const char *name)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.inNames.push_back(name);
}

void fail(Op op, int port)
{
    std::lock_guard<std::mutex> lk(gMx);
    bool perPort = op == OutCaps || op == InCaps || op == OutOpen || op == InOpen;
    if (port < 0 || !perPort)
        gState.fail.all[op] = true;
    else
        gState.fail.ports[op].push_back(port);
}

void inUnprepareStillPlaying(int times)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.stillPlaying = times > 0 ? times : 0;
}

void heal()
{
    {
        std::lock_guard<std::mutex> lk(gMx);
        clearFailures();
    }
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWriteLimit = gReadLimit = -1;
}

const std::vector<std::vector<uint8_t>> &sent() { return gState.sent; }

void clearSent()
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.sent.clear();
}

int calls(Op op)
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.calls[op];
}

bool outIsOpen()
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.outOpen;
}

bool inIsOpen()
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.inOpen;
}

bool inIsStarted()
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.inOpen && gState.inStarted;
}

int queuedHeaders()
{
    std::lock_guard<std::mutex> lk(gMx);
    return (int)gState.queue.size();
}

bool deliver(UINT msg, DWORD_PTR param1, DWORD_PTR param2)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    VtMidiInProc proc;
    HMIDIIN h;
    DWORD_PTR instance;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!gState.inOpen || !gState.inStarted)
            return false;
        proc = gState.callback;
        h = gState.inHandle;
        instance = gState.instance;
    }
    notify(proc, h, instance, msg, param1, param2);
    return true;
}

bool deliverShort(uint8_t status, uint8_t d1, uint8_t d2)
{
    return deliver(MIM_DATA, (DWORD_PTR)status | (DWORD_PTR)d1 << 8 | (DWORD_PTR)d2 << 16);
}

namespace {

bool deliverFilled(UINT msg, const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    VtMidiInProc proc;
    HMIDIIN h;
    DWORD_PTR instance;
    LPMIDIHDR hdr;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!gState.inOpen || !gState.inStarted || gState.queue.empty())
            return false;
        hdr = gState.queue.front();
        gState.queue.pop_front();
        size_t n = bytes.size() < hdr->dwBufferLength ? bytes.size() : hdr->dwBufferLength;
        if (n)
            memcpy(hdr->lpData, bytes.data(), n);
        hdr->dwBytesRecorded = (DWORD)n;
        hdr->dwFlags &= ~(DWORD)MHDR_INQUEUE;
        hdr->dwFlags |= MHDR_DONE;
        proc = gState.callback;
        h = gState.inHandle;
        instance = gState.instance;
    }
    notify(proc, h, instance, msg, (DWORD_PTR)hdr, 0);
    return true;
}

} // namespace

bool deliverLong(const std::vector<uint8_t> &bytes) { return deliverFilled(MIM_LONGDATA, bytes); }
bool deliverLongError(const std::vector<uint8_t> &bytes) { return deliverFilled(MIM_LONGERROR, bytes); }

namespace {

void queueKeys(const std::string &bytes, bool text)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gKeys.erase(0, gKeyPos);
    gKeyIsText.erase(gKeyIsText.begin(), gKeyIsText.begin() + (long)gKeyPos);
    gKeyPos = 0;
    gKeys += bytes;
    gKeyIsText.insert(gKeyIsText.end(), bytes.size(), text);
    gEndPhase = 0;
}

} // namespace

void keys(const std::string &bytes) { queueKeys(bytes, false); }

void textKeys(const std::string &bytes) { queueKeys(bytes, true); }

void keyboardIsConsole(bool on)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gKeyboardIsConsole = on;
}

void endOfInput(bool on)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gEndOfInput = on;
    gEndPhase = 0;
}

unsigned sleeps() { return gSleeps; }
unsigned long sleptMs() { return gSleptMs; }

void failFileWriteAfter(long bytes)
{
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWriteLimit = bytes;
    gWritten = 0;
}

void failFileReadAfter(long bytes)
{
    std::lock_guard<std::mutex> lk(gFilesMx);
    gReadLimit = bytes;
    gRead = 0;
}

} // namespace td
