/*
 * The console's signal handlers: every signal whose default is to end the
 * process gives the terminal back and lets out what standard output still
 * holds, then takes its course (so the exit status tells of it); a suspend
 * gives the terminal back until the process continues.
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
   the file size limit fails and is reported like a full disk. */
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

/* While the main thread flushes standard output (flushStdout): a write
   that a signal cuts short has put out part of the buffer, and how much
   cannot be told from a handler, so letting out the buffer then would
   show that part twice.  A signal sent meanwhile is held back until the
   flush is over (a real fault never is). */
const int kIdle = 0, kFlushing = 1, kHeld = 2; /* kHeld + the signal */
std::atomic<int> gFlush{kIdle};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "used in signal handlers");

/* True when the signal is held back, or one is already. */
bool holdBack(int sig)
{
    int state = kFlushing;
    return gFlush.compare_exchange_strong(state, kHeld + sig) || state >= kHeld;
}

void onFatal(int sig, siginfo_t *info, void *)
{
    bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
    bool real = fault && info && info->si_code > 0;
    if (!real && holdBack(sig))
        return;
    int saved = errno;
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
    gFlush.store(kFlushing);
    fflush(stdout);
    int state = gFlush.exchange(kIdle);
    if (state >= kHeld)
        raise(state - kHeld);
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
