/*
 * The keyboard of the one-shot sender: lines from the command line typed as
 * keys, each ended with Enter, and then the end of the keys as at the end of
 * a pipe (see keyboardFromLines in platform.h).  Pauses, and with them the
 * early wake-up when MIDI input arrives, are the real console's.
 */
#include "service.h"

#include <chrono>

namespace {

const int kEsc = 27;
const int kEnter = 13;

/* What the last line makes a port answer (the loopback at once, a device
   within milliseconds) is still shown before the end counts as a key. */
const std::chrono::milliseconds kEndQuietDefault(150);
std::chrono::milliseconds gEndQuiet = kEndQuietDefault;
bool gEndNever = false; /* the keys never end: the run ends itself */

const char *const *gLines;
unsigned gCount;
unsigned gLine; /* the line being typed */
unsigned gPos;  /* in it; at its terminator Enter is next */
bool gEndStarted;
std::chrono::steady_clock::time_point gEndAt;
bool gEndIsEnter; /* at the end: the next key is Enter, not ESC */
int64_t gDoneUs = -1; /* when the last line's Enter was taken */

bool keysLeft(void) { return gLine < gCount; }

void endStarts(void)
{
    if (!gEndStarted) {
        gEndStarted = true;
        gEndAt = std::chrono::steady_clock::now();
        gDoneUs = vtRealConsole()->clockUs();
    }
}

/* the next typed key; keysLeft() must hold */
int typedKey(void)
{
    unsigned char c = (unsigned char)gLines[gLine][gPos];
    if (c == 0) {
        gLine++;
        gPos = 0;
        if (!keysLeft())
            endStarts();
        return kEnter;
    }
    gPos++;
    return c == '\n' ? kEnter : c;
}

void linesInit(void) { vtRealConsole()->init(); }

int linesKbhit(void)
{
    if (keysLeft())
        return 1;
    endStarts();
    return !gEndNever && std::chrono::steady_clock::now() - gEndAt >= gEndQuiet;
}

/* The pause ends at the latest when the end of the keys counts as a key. */
void linesSleep(unsigned long ms)
{
    if (gEndStarted && !gEndNever) {
        auto left = gEndQuiet - (std::chrono::steady_clock::now() - gEndAt);
        long long leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
        if (leftMs > 0 && (unsigned long long)leftMs < ms)
            ms = (unsigned long)leftMs;
    }
    vtRealConsole()->sleep(ms);
}

int linesGetch(void)
{
    while (!linesKbhit())
        linesSleep(10);
    if (keysLeft())
        return typedKey();
    int key = gEndIsEnter ? kEnter : kEsc;
    gEndIsEnter = !gEndIsEnter;
    return key;
}

/* a line answer takes the keys up to the next Enter, as from a pipe */
int linesReadLine(char *buf, unsigned size)
{
    if (!keysLeft()) {
        if (size)
            buf[0] = 0;
        return -1;
    }
    unsigned n = 0;
    while (keysLeft()) {
        int key = typedKey();
        if (key == kEnter)
            break;
        if (key >= 0x20 && n + 1 < size)
            buf[n++] = (char)key;
    }
    if (size)
        buf[n] = 0;
    return (int)n;
}

int linesIsConsole(void) { return 0; }
int64_t linesClockUs(void) { return vtRealConsole()->clockUs(); }
/* a line given to type holds characters only: no byte of it is a key */
int linesLastKeyIsCharacter(void) { return 1; }

const VtConsole kLines = {linesInit, linesKbhit, linesGetch, linesSleep, linesReadLine, linesIsConsole,
    linesClockUs, linesLastKeyIsCharacter};

} // namespace

void keyboardFromLines(const char *const *lines, unsigned count)
{
    gLines = lines;
    gCount = count;
    gLine = 0;
    gPos = 0;
    gEndStarted = false;
    gEndIsEnter = false;
    gDoneUs = -1;
    vtInstallConsole(&kLines);
}

void keyboardLinesEndAfter(long ms)
{
    gEndNever = ms < 0;
    gEndQuiet = gEndNever ? kEndQuietDefault : std::chrono::milliseconds(ms);
}

int64_t keyboardLinesDoneUs(void) { return gDoneUs; }

void keyboardFromConsole(void) { vtInstallConsole(nullptr); }
