/*
 * The console's signal handlers: every signal whose default is to end the
 * process runs the function the program asked to run then (vtAtFatalSignal:
 * the MIDI file log brings its header up to date), gives the terminal back
 * and lets out what standard output still holds, then takes its course (so
 * the exit status tells of it); a suspend gives the terminal back until the
 * process continues.
 */
#include "console_internal.h"

#include <atomic>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

using vtposix::termCooked;
using vtposix::termRaw;

/* Every signal whose default action ends the process (the real-time ones
   too, see catchFatalSignals), so that the terminal is given back however
   it ends.  SIGXFSZ is not among them: it is ignored, so that a write past
   the file size limit fails and is reported as such. */
const int kFatal[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
    SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGTRAP, SIGSYS, SIGIO};

#ifdef NSIG
const int kSignals = NSIG;
#else
const int kSignals = 65;
#endif
struct sigaction gPrevious[kSignals];

/* What standard output still holds goes out before the program ends on a
   signal: the record file has it already.  Only the buffer's pointers are
   read (glibc keeps them in the FILE), and one write is made. */
void flushOutOnSignal(void)
{
#ifdef __GLIBC__
    const char *from = stdout->_IO_write_base;
    const char *to = stdout->_IO_write_ptr;
    if (from && to > from) {
        ssize_t r = write(STDOUT_FILENO, from, (size_t)(to - from));
        (void)r;
    }
#endif
}

/* Sections of the main thread that a fatal signal must not cut into: the
   flush of standard output (a write that a signal cuts short has put out
   part of the buffer, and how much cannot be told from a handler, so
   letting out the buffer then would show that part twice) and the
   program's own (vtHoldFatalSignals: the state the function of
   vtAtFatalSignal reads, half changed).  A signal sent meanwhile is held
   back until the outermost section is over; a real fault never is.  One
   word holds it all, so that every change is one compare-and-swap:
   the depth of the sections, the signal held back, and whether the end
   has begun (a handler is running the function and ending the process). */
const unsigned kDepth = 0xFFFFu;
const unsigned kHeldShift = 16, kHeldMask = 0xFFu << kHeldShift;
const unsigned kEnding = 1u << 24;
std::atomic<unsigned> gHold{0};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "used in signal handlers");
static_assert(kSignals <= 256, "a signal number fits its bits");

std::atomic<void (*)(void)> gAtFatal{nullptr};
static_assert(ATOMIC_POINTER_LOCK_FREE == 2, "used in signal handlers");

/* What a fatal signal does now: false when it is held back (or the end has
   begun elsewhere, which ends the process anyway); true when this handler
   ends the process, with *runHook when the program's function may run. */
bool takeTheEnd(int sig, bool real, bool *runHook)
{
    unsigned s = gHold.load();
    *runHook = false;
    for (;;) {
        if (s & kEnding)
            return real; /* a fault in the function itself goes on to its end */
        bool inSection = (s & kDepth) != 0;
        if (inSection && !real) {
            if (s & kHeldMask)
                return false; /* one is held back already */
            if (gHold.compare_exchange_weak(s, s | (unsigned)sig << kHeldShift))
                return false;
            continue;
        }
        if (gHold.compare_exchange_weak(s, s | kEnding)) {
            *runHook = !inSection;
            return true;
        }
    }
}

void onFatal(int sig, siginfo_t *info, void *)
{
    bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
    bool real = fault && info && info->si_code > 0;
    bool runHook;
    if (!takeTheEnd(sig, real, &runHook))
        return;
    int saved = errno;
    /* the log first: writing out standard output may block on a terminal
       that is stopped */
    void (*hook)(void) = gAtFatal.load();
    if (runHook && hook)
        hook();
    flushOutOnSignal();
    termCooked();
    /* hand the signal to whoever had it before (normally the default
       action, perhaps a sanitizer's report) */
    if (sig > 0 && sig < kSignals)
        sigaction(sig, &gPrevious[sig], nullptr);
    /* a real fault comes again when the instruction is retried, with its
       own details; a sent signal is sent again (it arrives on return) */
    if (!real)
        raise(sig);
    errno = saved;
}

void beginSection(void)
{
    unsigned s = gHold.load();
    for (;;) {
        /* another thread is ending the process: its end comes here too */
        while (s & kEnding) {
            pause();
            s = gHold.load();
        }
        if (gHold.compare_exchange_weak(s, s + 1))
            return;
    }
}

void endSection(void)
{
    unsigned s = gHold.load();
    unsigned next;
    do {
        next = s - 1;
        if ((next & kDepth) == 0)
            next &= ~kHeldMask;
    } while (!gHold.compare_exchange_weak(s, next));
    if ((next & kDepth) == 0 && (s & kHeldMask))
        raise((int)((s & kHeldMask) >> kHeldShift));
}

void onStop(int sig)
{
    int saved = errno;
    termCooked();
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig); /* stops here until SIGCONT */
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    struct sigaction again;
    memset(&again, 0, sizeof again);
    again.sa_handler = onStop;
    sigemptyset(&again.sa_mask);
    again.sa_flags = SA_RESTART;
    sigaction(sig, &again, nullptr);
    termRaw();
    errno = saved;
}

void onContinue(int)
{
    int saved = errno;
    termRaw(); /* also after a SIGSTOP that no handler saw */
    errno = saved;
}

/* Installs the handler unless the signal is ignored (as for a program
   started in the background by a shell without job control). */
void catchSignal(
    int sig, void (*handler)(int), void (*infoHandler)(int, siginfo_t *, void *), struct sigaction *previous)
{
    struct sigaction mine;
    struct sigaction *old = previous ? previous : &mine;
    if (sigaction(sig, nullptr, old) != 0 || old->sa_handler == SIG_IGN)
        return;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (infoHandler) {
        sa.sa_sigaction = infoHandler;
        sa.sa_flags |= SA_SIGINFO;
    } else {
        sa.sa_handler = handler;
    }
    sigaction(sig, &sa, nullptr);
}

void catchFatal(int sig)
{
    if (sig > 0 && sig < kSignals)
        catchSignal(sig, nullptr, onFatal, &gPrevious[sig]);
}

/* kFatal, the few that only some systems have, and the real-time ones */
void catchFatalSignals(void)
{
    for (int sig : kFatal)
        catchFatal(sig);
#ifdef SIGSTKFLT
    catchFatal(SIGSTKFLT);
#endif
#ifdef SIGPWR
    catchFatal(SIGPWR);
#endif
#ifdef SIGEMT
    catchFatal(SIGEMT);
#endif
#ifdef SIGLOST
    catchFatal(SIGLOST);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; sig++)
        catchFatal(sig);
#endif
}

void atExit(void) { vtposix::termLeave(); }

} // namespace

void vtposix::flushStdout(void)
{
    beginSection();
    fflush(stdout);
    endSection();
}

void vtposix::ignoreFileSizeLimit(void) { signal(SIGXFSZ, SIG_IGN); }

void vtposix::catchSignals(bool terminal)
{
    catchFatalSignals();
    if (!terminal)
        return;
    atexit(atExit);
    catchSignal(SIGTSTP, onStop, nullptr, nullptr);
    catchSignal(SIGCONT, onContinue, nullptr, nullptr);
}

void vtAtFatalSignal(void (*fn)(void)) { gAtFatal.store(fn); }

void vtHoldFatalSignals(int hold)
{
    if (hold)
        beginSection();
    else
        endSection();
}
