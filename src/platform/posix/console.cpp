/*
 * The console on a POSIX terminal: single unechoed keys in the shape of a PC
 * console keyboard (keyboard.cpp), a pause that ends early when a key or a
 * MIDI notification comes (pause.cpp), and echoed line input; a terminal
 * on standard input in raw mode for the whole run (terminal.cpp), given
 * back however the program ends (signals.cpp).  Here: its start and its
 * table, line input and the output.
 *
 * Standard output is buffered, so that a message shown takes one write
 * however many prints make it up, and flushed before every wait for a key
 * or a line, before every pause that waits, and while the program is busy
 * every few milliseconds (at _kbhit): nothing stays unseen for longer.  A
 * pause that a notification ends at once does not flush: what came is
 * shown first and goes out with the lines before it, so during a burst
 * the lines leave in few large writes, while a message that comes alone
 * still takes one write.
 */
#include "console_internal.h"
#include "posix.h"

#include "../common/lineedit.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#if __has_include(<stdio_ext.h>)
#include <stdio_ext.h>
#define VT_OUT_PENDING() __fpending(stdout)
#else
#define VT_OUT_PENDING() (size_t)0 /* unknown: every write counts as short */
#endif
#include <unistd.h>

namespace {

using vtposix::nowUs;

bool gReady;
int gOut;
bool gTerminal; /* line input echoed */

/* Standard input, output and error are open before anything else is, so
   that no file the program opens becomes one of them by chance (with
   standard input closed, the wake-up descriptor would be read as the
   keyboard).  What is missing reads as an empty input and takes output
   away unseen. */
void openStandardDescriptors(void)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int null = open("/dev/null", O_RDWR | O_NOCTTY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

/* ---- output ------------------------------------------------------------- */

/* Output waits in the buffer at most this long while the program is busy. */
const int64_t kBusyFlushUs = 2000;
char gOutBuf[1 << 16];
int64_t gFlushedUs;

/* More than this waiting to go out is a burst's lines, and a terminal may
   take long over them: a write blocks while whoever reads the terminal is
   behind.  The sources' threads read meanwhile (PauseWatch::mainBusy), so
   what arrives then waits in the program, not in the system's small
   queues.  A line or two, as at a steady rate, goes out without that. */
const size_t kLongWriteBytes = 1024;

void flushOut(void)
{
    if (VT_OUT_PENDING() > kLongWriteBytes)
        vtposix::pauseElsewhere();
    vtposix::flushStdout();
    gFlushedUs = nowUs();
}

void start(int in, int out)
{
    vtposix::wakeCreate();
    vtposix::pauseKeysRestarted();
    gOut = out;
    gTerminal = vtposix::termEnter(in);
    vtposix::keysStart(in, gTerminal);
    gReady = true;
}

void conInit(void)
{
    if (gReady)
        return;
    openStandardDescriptors();
    vtposix::ignoreFileSizeLimit();
    fflush(stdout);
    setvbuf(stdout, gOutBuf, _IOFBF, sizeof gOutBuf);
    start(STDIN_FILENO, STDOUT_FILENO);
    /* the output held in the buffer goes out on a fatal signal, terminal
       or not */
    vtposix::catchSignals(gTerminal);
}

int conKbhit(void)
{
    conInit();
    int64_t now = nowUs();
    if (now - gFlushedUs >= kBusyFlushUs)
        flushOut();
    vtposix::pauseBusy(now);
    return vtposix::keysWaiting(now) ? 1 : 0;
}

int conGetch(void)
{
    conInit();
    flushOut();
    if (!vtposix::keysWaiting(nowUs()))
        vtposix::pauseElsewhere();
    return vtposix::keysGetch();
}

void conSleep(unsigned long ms)
{
    conInit();
    vtposix::pauseFor(ms, flushOut);
}

void terminalEcho(const char *p, size_t n)
{
    if (!gTerminal)
        return;
    while (n) {
        ssize_t w = write(gOut, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        p += w;
        n -= (size_t)w;
    }
}

/* The keyboard as the line editor reads it; what it echoes reaches a
   terminal only. */
class ConsoleKeys : public vt::LineKeys {
public:
    int next() override { return vtposix::keysNext(); }
    void echo(const char *p, size_t n) override { terminalEcho(p, n); }
};

int conReadLine(char *buf, unsigned size)
{
    conInit();
    flushOut();
    vtposix::pauseElsewhere();
    ConsoleKeys keys;
    return vt::editLine(keys, buf, size);
}

int conIsConsole(void)
{
    conInit();
    return gTerminal ? 1 : 0;
}

int conLastKeyIsCharacter(void) { return vtposix::lastKeyIsCharacter() ? 1 : 0; }

const VtConsole kConsole = {
    conInit, conKbhit, conGetch, conSleep, conReadLine, conIsConsole, nowUs, conLastKeyIsCharacter};

} // namespace

const VtConsole *vtRealConsole(void) { return &kConsole; }

int standardInputUnread(void)
{
    conInit();
    return vtposix::keysUnread() ? 1 : 0;
}

void vtPosixConsoleAttach(int inFd, int outFd)
{
    if (gReady && gTerminal)
        vtposix::termLeave();
    start(inFd, outFd);
}

void vtPosixConsoleDetach(void)
{
    if (gReady && gTerminal)
        vtposix::termLeave();
    gReady = false;
}
