/*
 * The console's control events on Windows (CTRL-C, CTRL-BREAK, the window
 * closed, log-off, shut-down): each still ends the process through the
 * default handler, after the function the program asked to run then
 * (vtAtFatalSignal).  The handler runs on a thread of its own, so the
 * sections of vtHoldFatalSignals are a critical section that it waits for
 * and then keeps: the main thread cannot begin another, and the process
 * ends from the handler.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../platform.h"

#include <atomic>

namespace {

std::atomic<void (*)(void)> gAtFatal{nullptr};
std::atomic<bool> gHandlerSet{false};

CRITICAL_SECTION &sections(void)
{
    static CRITICAL_SECTION cs;
    static const bool ready = (InitializeCriticalSection(&cs), true);
    (void)ready;
    return cs;
}

BOOL WINAPI onControl(DWORD)
{
    EnterCriticalSection(&sections());
    void (*fn)(void) = gAtFatal.exchange(nullptr);
    if (fn)
        fn();
    return FALSE; /* on to the next handler, in the end the default one */
}

} // namespace

void vtAtFatalSignal(void (*fn)(void))
{
    sections();
    gAtFatal.store(fn);
    if (fn && !gHandlerSet.exchange(true))
        SetConsoleCtrlHandler(onControl, TRUE);
}

void vtHoldFatalSignals(int hold)
{
    if (hold)
        EnterCriticalSection(&sections());
    else
        LeaveCriticalSection(&sections());
}
