/*
 * The real console on Windows.
 *
 * Keys come from a console on the standard input (conkeys.cpp) or from a
 * pipe or a file there (pipekeys.cpp).
 *
 * The pause ends early when a key arrives or vtWake is called (after every
 * MIDI input notification), so that both are dealt with at once.  Standard
 * output is buffered (one write per message shown) and flushed before
 * every pause and every wait for a key or a line, and every few
 * milliseconds while the program is busy.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/service.h"
#include "../common/wakegate.h"
#include "console_internal.h"
#include "internal.h"

#include <stdio.h>
#include <stdlib.h>

HANDLE vtwin::gIn;

namespace {

using namespace vtwin;

bool gProbed;
bool gIsConsole;

void probe(void)
{
    if (gProbed)
        return;
    gProbed = true;
    gIn = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    gIsConsole = gIn != NULL && gIn != INVALID_HANDLE_VALUE && GetConsoleMode(gIn, &mode);
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

/* the byte last handed out by _getch was typed as a character (see
   lastKeyIsCharacter); the one before it was a key prefix */
bool gLastIsChar = true;
bool gAfterPrefix = false;

} // namespace

HANDLE vtwin::wakeEvent(void)
{
    /* auto-reset: a wake given while nobody pauses ends the next pause */
    static HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    return ev;
}

void vtwin::noteKey(bool prefix)
{
    gLastIsChar = !prefix && !gAfterPrefix;
    gAfterPrefix = prefix;
}

namespace {

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
    if (!gIsConsole)
        return pipeKbhit();
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

int standardInputUnread(void)
{
    probe();
    return !gIsConsole && vtwin::pipeUnread() ? 1 : 0;
}

void vtWake(void)
{
    if (gWakeGate.notify())
        SetEvent(wakeEvent()); /* else the main thread is awake: it looks anyway */
}

void vtwin::consoleReset(void)
{
    gProbed = false;
    pipeReset();
    gLastIsChar = true;
    gAfterPrefix = false;
    probe();
}
