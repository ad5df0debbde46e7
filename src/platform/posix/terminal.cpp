/*
 * The terminal's modes: raw for the whole run (see console.cpp), put back
 * on every way out.  Also reached from the signal handlers (signals.cpp),
 * so what they call is async-signal-safe.
 */
#include "console_internal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

int gTermFd = -1;
struct termios gCooked; /* as the terminal was */
struct termios gRaw;    /* as the console runs it */
volatile sig_atomic_t gRawWanted = 0;

} // namespace

/* async-signal-safe */
void vtposix::termCooked(void)
{
    if (gRawWanted)
        tcsetattr(gTermFd, TCSANOW, &gCooked);
}

/* async-signal-safe; a process in the background leaves the terminal to
   the foreground (it gets its modes back at its next SIGCONT).  A terminal
   that is not the controlling one of this process has no foreground to
   ask. */
void vtposix::termRaw(void)
{
    if (!gRawWanted)
        return;
    pid_t fg = tcgetpgrp(gTermFd);
    if (fg == -1 || fg == getpgrp())
        tcsetattr(gTermFd, TCSANOW, &gRaw);
}

bool vtposix::termEnter(int fd)
{
    if (!isatty(fd) || tcgetattr(fd, &gCooked) != 0)
        return false;
    gRaw = gCooked;
    gRaw.c_iflag &= ~(tcflag_t)(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    gRaw.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ECHONL | IEXTEN);
    gRaw.c_cc[VMIN] = 1;
    gRaw.c_cc[VTIME] = 0;
    gTermFd = fd;
    gRawWanted = 1;
    termRaw();
    return true;
}

void vtposix::termLeave(void)
{
    termCooked();
    gRawWanted = 0;
}
