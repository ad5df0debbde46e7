/*
 * Keys from a pipe or a file on the standard input of the Windows console
 * (console.cpp): the bytes are read as they come, as keys.  A carriage
 * return, a line feed and the pair of them are each one Enter, DEL is
 * Backspace; no escape sequences are decoded (0x00 0x3B is F1).  At the
 * end of the input a key is always waiting, and it is ESC, Enter, ESC,
 * Enter ... so that a run ends through the exit prompt instead of hanging;
 * a line read there answers -1.  The end counts as a key only after a
 * short quiet time, so that what the last lines made a port answer is
 * still shown.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/lineedit.h"
#include "console_internal.h"

namespace {

using namespace vtwin;

/* piped or redirected input */
unsigned char gBuf[512];
DWORD gLen;
DWORD gPos;
bool gEof;
ULONGLONG gEofTick; /* when the end was reached */
bool gAfterCr;      /* the last byte taken was CR: a LF right after it is part of that Enter */
bool gEndIsEnter;   /* at the end: the next key is Enter (else ESC) */

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
            /* the writer has gone, or the handle is no pipe PeekNamedPipe
               can look into: the read below answers at once with the end
               or the data */
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

/* The pipe's bytes as the line editor reads it.  Nobody sees a piped
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

/* Nothing signals when a pipe has bytes: it is looked at this often. */
const DWORD kPipeLookMs = 10;

} // namespace

int vtwin::pipeKbhit(void)
{
    int b = peekByte(false);
    return b == kEnd ? endIsQuiet() : b != kNone;
}

int vtwin::pipeGetch(void)
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

int vtwin::pipeReadLine(char *buf, unsigned size)
{
    PipeKeys keys;
    return vt::editLine(keys, buf, size);
}

void vtwin::pipeSleep(unsigned long ms)
{
    ULONGLONG until = GetTickCount64() + ms;
    for (;;) {
        if (pipeKbhit())
            return;
        ULONGLONG now = GetTickCount64();
        if (now >= until)
            return;
        DWORD slice = until - now < kPipeLookMs ? (DWORD)(until - now) : kPipeLookMs;
        if (WaitForSingleObject(wakeEvent(), slice) == WAIT_OBJECT_0)
            return;
    }
}

bool vtwin::pipeUnread(void)
{
    if (gPos < gLen)
        return true;
    if (gEof || gIn == NULL || gIn == INVALID_HANDLE_VALUE)
        return false;
    switch (GetFileType(gIn)) {
    case FILE_TYPE_PIPE: {
        DWORD avail = 0;
        return PeekNamedPipe(gIn, NULL, 0, NULL, &avail, NULL) && avail > 0;
    }
    case FILE_TYPE_DISK: {
        LARGE_INTEGER size, at, zero;
        zero.QuadPart = 0;
        return GetFileSizeEx(gIn, &size) && SetFilePointerEx(gIn, zero, &at, FILE_CURRENT) &&
               at.QuadPart < size.QuadPart;
    }
    default: return false; /* NUL and other devices */
    }
}

void vtwin::pipeReset(void)
{
    gLen = gPos = 0;
    gEof = false;
    gAfterCr = false;
    gEndIsEnter = false;
}
