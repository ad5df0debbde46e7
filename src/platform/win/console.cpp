/*
 * The real console on Windows.
 *
 * With a console on the standard input the keys come from conio (_kbhit,
 * _getch: function keys as 0 or 0xE0 and the scan code) and a line from the
 * console's own line editing, which echoes as it is typed.  ESC and F1 to
 * F12 handed over without a character (as wine's terminal console does)
 * are turned into the same bytes here, since conio would pass them over.
 *
 * With a pipe or a file instead, the bytes are read as they come, as keys:
 * a carriage return, a line feed and the pair of them are each one Enter,
 * DEL is Backspace; no escape sequences are decoded (0x00 0x3B is F1).
 * At the end of the input a key is always waiting, and it is ESC, Enter,
 * ESC, Enter ... so that a run ends through the exit prompt instead of
 * hanging; a line read there answers -1.  The end counts as a key only
 * after a short quiet time, so that what the last lines made a port answer
 * is still shown.
 *
 * The pause ends early when a key arrives or vtWake is called (after every
 * MIDI input notification), so that both are dealt with at once.  Standard
 * output is buffered (one write per message shown) and flushed before
 * every pause and every wait for a key or a line, and every few
 * milliseconds while the program is busy.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/lineedit.h"
#include "../common/service.h"
#include "../common/wakegate.h"
#include "internal.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const int kEsc = 27;
const int kEnter = 13;

HANDLE gIn;
bool gProbed;
bool gIsConsole;

/* piped or redirected input */
unsigned char gBuf[512];
DWORD gLen;
DWORD gPos;
bool gEof;
ULONGLONG gEofTick; /* when the end was reached */
bool gAfterCr;      /* the last byte taken was CR: a LF right after it is part of that Enter */
bool gEndIsEnter;   /* at the end: the next key is Enter (else ESC) */

void probe(void)
{
    if (gProbed)
        return;
    gProbed = true;
    gIn = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    gIsConsole = gIn != NULL && gIn != INVALID_HANDLE_VALUE && GetConsoleMode(gIn, &mode);
}

HANDLE wakeEvent(void)
{
    /* auto-reset: a wake given while nobody pauses ends the next pause */
    static HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    return ev;
}

vt::WakeGate gWakeGate;

/* output waits in the buffer at most this long while the program is busy */
const ULONGLONG kBusyFlushMs = 2;
char gOutBuf[1 << 16];
ULONGLONG gFlushedTick;

void flushOut(void)
{
    fflush(stdout);
    gFlushedTick = GetTickCount64();
}

/* --- piped input --------------------------------------------------------- */

const ULONGLONG kEndQuietMs = 150;

void reachEnd(void)
{
    gEof = true;
    gEofTick = GetTickCount64();
}

bool endIsQuiet(void) { return GetTickCount64() - gEofTick >= kEndQuietMs; }

/* Makes at least one byte ready in gBuf.  Without `block` it reads only
   what is there already.  False when nothing is ready (see gEof). */
bool fill(bool block)
{
    if (gPos < gLen)
        return true;
    if (gEof)
        return false;
    if (gIn == NULL || gIn == INVALID_HANDLE_VALUE) {
        reachEnd();
        return false;
    }
    if (!block && GetFileType(gIn) == FILE_TYPE_PIPE) {
        DWORD avail = 0;
        if (!PeekNamedPipe(gIn, NULL, 0, NULL, &avail, NULL)) {
            /* the writer has gone (or this is no pipe we can ask): the read
               below answers at once with the end or the data */
        } else if (avail == 0) {
            return false;
        }
    }
    DWORD got = 0;
    if (!ReadFile(gIn, gBuf, sizeof gBuf, &got, NULL) || got == 0) {
        reachEnd();
        return false;
    }
    gLen = got;
    gPos = 0;
    return true;
}

const int kNone = -1;
const int kEnd = -2;

/* The next byte that is a key (the LF of a CR LF pair skipped), without
   taking it; kNone when none is waiting, kEnd at the end of the input. */
int peekByte(bool block)
{
    for (;;) {
        if (!fill(block))
            return gEof ? kEnd : kNone;
        unsigned char b = gBuf[gPos];
        if (b == '\n' && gAfterCr) {
            gAfterCr = false;
            gPos++;
            continue;
        }
        return b;
    }
}

/* Takes the key peekByte answered; line ends become Enter, DEL becomes
   Backspace, as a terminal's keys are read on other systems. */
int takeByte(int b)
{
    gPos++;
    gAfterCr = b == '\r';
    if (b == '\n')
        return kEnter;
    return b == 0x7F ? 8 : b;
}

/* the byte last handed out by _getch was typed as a character (see
   lastKeyIsCharacter); the one before it was a key prefix */
bool gLastIsChar = true;
bool gAfterPrefix = false;

/* Notes what the byte just handed out was: a prefix, the scan code after
   one, or a character. */
void noteKey(bool prefix)
{
    gLastIsChar = !prefix && !gAfterPrefix;
    gAfterPrefix = prefix;
}

int pipeGetch(void)
{
    int b = peekByte(true);
    if (b == kEnd) {
        int k = gEndIsEnter ? kEnter : kEsc;
        gEndIsEnter = !gEndIsEnter;
        noteKey(false);
        return k;
    }
    int k = takeByte(b);
    bool prefix = k == 0;
    if (k == 0xE0) {
        /* 0xE0 followed by 0xA0..0xBF begins a UTF-8 character */
        int next = peekByte(false);
        prefix = !(next >= 0xA0 && next <= 0xBF);
    }
    noteKey(prefix);
    return k;
}

/* The pipe's bytes as the line editor reads them.  Nobody sees a piped
   line being typed, so nothing is echoed. */
class PipeKeys : public vt::LineKeys {
public:
    int next() override
    {
        int b = peekByte(true);
        return b == kEnd ? vt::kKeyEnd : takeByte(b);
    }
    void echo(const char *, size_t) override {}
};

int pipeReadLine(char *buf, unsigned size)
{
    PipeKeys keys;
    return vt::editLine(keys, buf, size);
}

/* --- console input ------------------------------------------------------- */

/* conio hands out the second byte of a function or cursor key on the next
   call: until then the keys come from conio alone */
bool gConioOwes;
/* the second byte of a key handed out here */
int gOwnSecond = -1;

/* Shift, Ctrl, Alt and the lock keys arrive as key events that _getch
   passes over without returning anything. */
bool isModifier(WORD vk)
{
    switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU: return true;
    default: return false;
    }
}

/* Drops, from the front of the console input, the events _getch would
   pass over (key releases, modifiers, mouse, focus, window size), so that
   the input handle is signalled only while a key is really waiting and the
   pause does not spin on them.  True when a key is waiting. */
bool dropIdleEvents(void)
{
    INPUT_RECORD rec;
    DWORD n = 0;
    while (PeekConsoleInputA(gIn, &rec, 1, &n) && n == 1) {
        if (rec.EventType == KEY_EVENT && rec.Event.KeyEvent.bKeyDown &&
            !isModifier(rec.Event.KeyEvent.wVirtualKeyCode))
            return true;
        if (!ReadConsoleInputA(gIn, &rec, 1, &n))
            break;
    }
    return false;
}

} // namespace

/* Keys whose event carries no character, which conio passes over on a
   terminal console (wine's hands ESC and F1..F12 over that way, where a
   Windows console gives ESC its character 27 and conio maps the F keys
   itself): the bytes a PC console keyboard gives for them, the same as
   conio's.  With Shift, Ctrl or Alt held they stay conio's. */
int vtwin::ownKey(const KEY_EVENT_RECORD &k, int *second)
{
    if (!k.bKeyDown || k.uChar.AsciiChar != 0)
        return -1;
    if (k.dwControlKeyState &
        (SHIFT_PRESSED | LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED))
        return -1;
    WORD vk = k.wVirtualKeyCode;
    if (vk == VK_ESCAPE) {
        *second = -1;
        return kEsc;
    }
    if (vk >= VK_F1 && vk <= VK_F10) {
        *second = 0x3B + (vk - VK_F1);
        return 0;
    }
    if (vk == VK_F11 || vk == VK_F12) {
        *second = vk == VK_F11 ? 0x85 : 0x86;
        return 0xE0;
    }
    return -1;
}

namespace {

/* The first byte of the key at the front of the console input when it is
   one of ours, else -1.  With `take` the event is read off and the second
   byte, if any, kept for the next call. */
int frontOwnKey(bool take)
{
    dropIdleEvents();
    INPUT_RECORD rec;
    DWORD n = 0;
    if (!PeekConsoleInputA(gIn, &rec, 1, &n) || n != 1 || rec.EventType != KEY_EVENT)
        return -1;
    int second = -1;
    int first = vtwin::ownKey(rec.Event.KeyEvent, &second);
    if (first >= 0 && take) {
        ReadConsoleInputA(gIn, &rec, 1, &n);
        gOwnSecond = second;
    }
    return first;
}

int consoleKbhit(void)
{
    if (gOwnSecond >= 0 || gConioOwes)
        return 1;
    /* A terminal console (wine's) takes in what was typed only when its
       input handle is waited on; on Windows the zero wait changes nothing. */
    WaitForSingleObject(gIn, 0);
    if (frontOwnKey(false) >= 0)
        return 1;
    return _kbhit();
}

/* The key event in front carries a character: conio hands that over as
   it is, even when its code is 0xE0, never as a key prefix. */
bool frontIsCharacter(void)
{
    INPUT_RECORD rec;
    DWORD n = 0;
    return PeekConsoleInputA(gIn, &rec, 1, &n) && n == 1 && rec.EventType == KEY_EVENT &&
           rec.Event.KeyEvent.uChar.AsciiChar != 0;
}

int consoleGetch(void)
{
    if (gOwnSecond >= 0) {
        int b = gOwnSecond;
        gOwnSecond = -1;
        noteKey(false);
        return b;
    }
    if (!gConioOwes) {
        for (;;) {
            int first = frontOwnKey(true);
            if (first >= 0) {
                noteKey(first != kEsc);
                return first;
            }
            DWORD n = 0;
            if (GetNumberOfConsoleInputEvents(gIn, &n) && n > 0)
                break; /* a key for conio is in front */
            if (WaitForSingleObject(gIn, INFINITE) != WAIT_OBJECT_0)
                break;
        }
    }
    bool owed = gConioOwes;
    bool character = !owed && frontIsCharacter();
    int b = _getch();
    gConioOwes = !owed && !character && (b == 0 || b == 0xE0);
    noteKey(gConioOwes);
    return b;
}

int consoleReadLine(char *buf, unsigned size)
{
    /* the console's line mode (on by default; _getch leaves it so) echoes
       and edits the line and hands it over ending in CR LF */
    unsigned n = 0;
    char chunk[128];
    for (;;) {
        DWORD got = 0;
        if (!ReadConsoleA(gIn, chunk, sizeof chunk, &got, NULL) || got == 0) {
            if (size)
                buf[n] = 0;
            return n ? static_cast<int>(n) : -1;
        }
        for (DWORD i = 0; i < got; i++) {
            char c = chunk[i];
            if (c == '\n') {
                if (size)
                    buf[n] = 0;
                return static_cast<int>(n);
            }
            if (c != '\r' && n + 1 < size)
                buf[n++] = c;
        }
    }
}

/* --- the console table --------------------------------------------------- */

void restoreTimer(void) { timeEndPeriod(1); }

void realInit(void)
{
    probe();
    /* a message shown is one write, however many prints make it up; the
       flushes above see that nothing stays unseen */
    setvbuf(stdout, gOutBuf, _IOFBF, sizeof gOutBuf);
    /* some pauses are a few milliseconds (piped keys are looked at every
       few); at the default timer resolution a wait lasts up to 15.6 ms */
    if (timeBeginPeriod(1) == TIMERR_NOERROR)
        atexit(restoreTimer);
    wakeEvent();
}

int realKbhit(void)
{
    probe();
    if (GetTickCount64() - gFlushedTick >= kBusyFlushMs)
        flushOut();
    if (!gIsConsole) {
        int b = peekByte(false);
        return b == kEnd ? endIsQuiet() : b != kNone;
    }
    return consoleKbhit();
}

int realGetch(void)
{
    probe();
    flushOut();
    if (!gIsConsole)
        return pipeGetch();
    return consoleGetch();
}

/* Nothing signals when a pipe has bytes: it is looked at this often. */
const DWORD kPipeLookMs = 10;

void pipeSleep(unsigned long ms)
{
    ULONGLONG until = GetTickCount64() + ms;
    for (;;) {
        int b = peekByte(false);
        if (b == kEnd ? endIsQuiet() : b != kNone)
            return;
        ULONGLONG now = GetTickCount64();
        if (now >= until)
            return;
        DWORD slice = until - now < kPipeLookMs ? (DWORD)(until - now) : kPipeLookMs;
        if (WaitForSingleObject(wakeEvent(), slice) == WAIT_OBJECT_0)
            return;
    }
}

void consoleSleep(unsigned long ms)
{
    LARGE_INTEGER freq, start, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    HANDLE both[2] = {wakeEvent(), gIn};
    for (;;) {
        if (dropIdleEvents())
            return;
        QueryPerformanceCounter(&now);
        unsigned long long elapsed = static_cast<unsigned long long>(now.QuadPart - start.QuadPart) * 1000u /
                                     static_cast<unsigned long long>(freq.QuadPart);
        if (elapsed >= ms)
            return;
        DWORD r = WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(ms - elapsed));
        if (r != WAIT_OBJECT_0 + 1)
            return; /* woken, timed out, or the wait failed */
    }
}

void realSleep(unsigned long ms)
{
    probe();
    flushOut();
    if (!gWakeGate.arm())
        return; /* a notification came since the last pause */
    if (gIsConsole)
        consoleSleep(ms);
    else
        pipeSleep(ms);
    gWakeGate.disarm();
}

int realReadLine(char *buf, unsigned size)
{
    probe();
    flushOut();
    return gIsConsole ? consoleReadLine(buf, size) : pipeReadLine(buf, size);
}

int realIsConsole(void)
{
    probe();
    return gIsConsole ? 1 : 0;
}

int64_t realClockUs(void)
{
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    /* whole seconds and the rest apart, so that the product cannot overflow */
    return now.QuadPart / freq.QuadPart * 1000000 + now.QuadPart % freq.QuadPart * 1000000 / freq.QuadPart;
}

int realLastKeyIsCharacter(void) { return gLastIsChar ? 1 : 0; }

const VtConsole kRealConsole = {realInit, realKbhit,     realGetch,   realSleep,
                                realReadLine, realIsConsole, realClockUs, realLastKeyIsCharacter};

} // namespace

const VtConsole *vtRealConsole(void) { return &kRealConsole; }

void vtWake(void)
{
    if (gWakeGate.notify())
        SetEvent(wakeEvent()); /* else the main thread is awake: it looks anyway */
}

namespace vtwin {

void consoleReset(void)
{
    gProbed = false;
    gLen = gPos = 0;
    gEof = false;
    gAfterCr = false;
    gEndIsEnter = false;
    gLastIsChar = true;
    gAfterPrefix = false;
    probe();
}

} // namespace vtwin
