/*
 * What a run from a script needs of the console: standard output sent
 * nowhere while the session talks, and CTRL-C or SIGTERM taken as a
 * request to stop rather than the end of the process.
 */
#include "console_internal.h"

#include "../common/service.h"

#include <atomic>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

int gShownFd = -1; /* the standard output the program was given */
int gNoneFd = -1;
int gWhere = VT_OUT_SHOWN;

std::atomic<int> gStopped{0};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "used in signal handlers");

void onStopSignal(int)
{
    gStopped.store(1);
    vtWake(); /* async-signal-safe: an atomic and a write */
}

} // namespace

void vtRouteStdout(int where)
{
    if (where == gWhere)
        return;
    if (gShownFd < 0) {
        gShownFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        gNoneFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (gShownFd < 0 || gNoneFd < 0)
            return; /* everything stays where it was */
    }
    vtposix::flushStdout();
    if (dup2(where == VT_OUT_NONE ? gNoneFd : gShownFd, STDOUT_FILENO) >= 0)
        gWhere = where;
}

int vtStdoutIsTerminal(void) { return isatty(gShownFd >= 0 ? gShownFd : STDOUT_FILENO); }

void vtStopOnSignals(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = onStopSignal;
    sa.sa_flags = SA_RESTART;
    const int kStop[] = {SIGINT, SIGTERM};
    for (int sig : kStop) {
        struct sigaction old;
        /* a signal ignored from the start (a background job) stays so */
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(sig, &sa, nullptr);
    }
}

int vtStopSignalled(void) { return gStopped.load(); }
