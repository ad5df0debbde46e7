/*
 * What a run from a script needs of the console on Windows: standard
 * output sent nowhere while the session talks, and CTRL-C or CTRL-BREAK
 * taken as a request to stop rather than the end of the process.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/service.h"
#include "../platform.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace {

int gShownFd = -1; /* the standard output the program was given */
int gNoneFd = -1;
int gWhere = VT_OUT_SHOWN;

std::atomic<int> gStopped{0};

BOOL WINAPI onStopEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; /* a window closed, a log-off: their usual course */
    gStopped.store(1);
    vtWake();
    return TRUE;
}

} // namespace

void vtRouteStdout(int where)
{
    if (where == gWhere)
        return;
    if (gShownFd < 0) {
        gShownFd = _dup(1);
        gNoneFd = _open("NUL", _O_WRONLY);
        if (gShownFd < 0 || gNoneFd < 0)
            return; /* everything stays where it was */
    }
    fflush(stdout);
    if (_dup2(where == VT_OUT_NONE ? gNoneFd : gShownFd, 1) == 0)
        gWhere = where;
}

int vtStdoutIsTerminal(void) { return _isatty(gShownFd >= 0 ? gShownFd : 1) ? 1 : 0; }

/* added after the handler of vtAtFatalSignal, so asked first */
void vtStopOnSignals(void) { SetConsoleCtrlHandler(onStopEvent, TRUE); }

int vtStopSignalled(void) { return gStopped.load(); }
