/*
 * The console on a POSIX terminal: single unechoed keys in the shape of a PC
 * console keyboard (see keydecode.h), a pause that ends early when a key or
 * a MIDI notification comes, and echoed line input.
 *
 * Standard output is buffered, so that a message shown takes one write
 * however many prints make it up, and flushed before every pause and every
 * wait for a key or a line, and while the program is busy every few
 * milliseconds (at _kbhit): nothing stays unseen for longer.
 *
 * A terminal on standard input is put in raw mode for the whole run: no
 * echo, no line editing, no flow control (CTRL-Q and CTRL-S are keys here),
 * no CR to LF translation, no literal-next or discard characters; CTRL-C,
 * CTRL-Z and CTRL-\ keep their signals, and output processing stays, so
 * "\n" still starts a new line.  The terminal is put back on every way out:
 * exit, every signal whose default is to end the process (then the signal
 * is raised again, so the exit status tells of it), and around a suspend.
 * The decoder knows a typed character from a key, so a character whose
 * first byte is 0xE0 is never taken for the prefix of a cursor key
 * (lastKeyIsCharacter).
 *
 * Standard input that is not a terminal (a pipe, a file) is taken as typed
 * keys without any decoding: each byte is one key, so a script can send a
 * function key as its two bytes (0x00 0x3B is F1).  Line ends may be LF,
 * CR or CR LF, all of them one Enter (13); DEL is Backspace as on the
 * terminal.  Escape sequences are not decoded there: without a person at a
 * keyboard there is no wait to tell ESC from a sequence, and a script that
 * writes ESC means ESC.  A closed standard input reads as an empty pipe.
 *
 * At the end of the input the keyboard answers so that the program ends as
 * if the user had confirmed the exit: a key is always waiting, and the keys
 * are ESC, Enter, ESC, Enter ...; line input reports the end (-1).
 */
#include "posix.h"
#include "keydecode.h"
#include "pausewatch.h"

#include "../common/lineedit.h"
#include "../common/wakegate.h"

#include <atomic>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif

namespace {

/* ---- terminal modes, also reached from signal handlers ---------------- */

int gTermFd = -1;
struct termios gCooked; /* as the terminal was */
struct termios gRaw;    /* as we run it */
volatile sig_atomic_t gRawWanted = 0;

/* async-signal-safe */
void termCooked(void)
{
    if (gRawWanted)
        tcsetattr(gTermFd, TCSANOW, &gCooked);
}

/* async-signal-safe; a process in the background leaves the terminal to
   the foreground (it gets its modes back at its next SIGCONT).  A terminal
   that is not our controlling one has no foreground to ask. */
void termRaw(void)
{
    if (!gRawWanted)
        return;
    pid_t fg = tcgetpgrp(gTermFd);
    if (fg == -1 || fg == getpgrp())
        tcsetattr(gTermFd, TCSANOW, &gRaw);
}

bool termEnter(int fd)
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

void termLeave(void)
{
    termCooked();
    gRawWanted = 0;
}

/* ---- signals ------------------------------------------------------------ */

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

void onFatal(int sig, siginfo_t *info, void *)
{
    int saved = errno;
    flushOutOnSignal();
    termCooked();
    /* hand the signal to whoever had it before (normally the default
       action, perhaps a sanitizer's report) */
    if (sig > 0 && sig < kSignals)
        sigaction(sig, &gPrevious[sig], nullptr);
    bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
    /* a real fault comes again when the instruction is retried, with its
       own details; a sent signal is sent again (it arrives on return) */
    if (!(fault && info && info->si_code > 0))
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
    termRaw(); /* also after a SIGSTOP we never saw */
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

void atExit(void) { termLeave(); }

/* Standard input, output and error are open before anything else is, so
   that no file of ours becomes one of them by chance (with standard input
   closed, the wake-up descriptor would be read as the keyboard).  What is
   missing reads as an empty input and takes output away unseen. */
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

/* ---- wake-up ------------------------------------------------------------ */

std::atomic<int> gWakeRead{-1};
std::atomic<int> gWakeWrite{-1};
vt::WakeGate gWakeGate;

void wakeCreate(void)
{
    if (gWakeRead.load(std::memory_order_acquire) >= 0)
        return;
#ifdef __linux__
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) {
        gWakeWrite.store(fd, std::memory_order_release);
        gWakeRead.store(fd, std::memory_order_release);
        return;
    }
#endif
    int p[2];
    if (pipe(p) != 0)
        return;
    for (int i = 0; i < 2; i++) {
        fcntl(p[i], F_SETFL, fcntl(p[i], F_GETFL) | O_NONBLOCK);
        fcntl(p[i], F_SETFD, FD_CLOEXEC);
    }
    gWakeWrite.store(p[1], std::memory_order_release);
    gWakeRead.store(p[0], std::memory_order_release);
}

void wakeDrain(int fd)
{
    uint8_t buf[64];
    /* one descriptor both ways is an eventfd, emptied by one read */
    bool eventfd = fd == gWakeWrite.load(std::memory_order_relaxed);
    while (read(fd, buf, sizeof buf) > 0 && !eventfd) {
    }
}

/* ---- the keyboard ------------------------------------------------------- */

const unsigned kQueue = 512;
const uint16_t kPrefixed = vt::kKeyPrefixed; /* the prefix byte of a function or cursor key */

struct Console {
    bool ready;
    int in, out;
    bool terminal; /* keys decoded, line input echoed */
    bool eof;
    bool eofEnter;    /* at the end: the next key is Enter, not ESC */
    int64_t eofUs;    /* when the end of the input was reached */
    bool afterCR;     /* piped: a LF right after CR is the same line end */
    bool lastIsChar;  /* what lastKeyIsCharacter answers */
    bool afterPrefix; /* the key handed out before was a key prefix */
    VtKeyDecoder dec;
    int64_t lastByteUs; /* when the decoder was last fed */
    unsigned arrivals;  /* keys that came, and the end of the input */
    int64_t quietUs;    /* when a pause last found the keyboard quiet */
    uint16_t q[kQueue];
    unsigned head, count;
};

Console gCon;

int64_t nowUs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

/* ---- output ------------------------------------------------------------- */

/* Output waits in the buffer at most this long while the program is busy. */
const int64_t kBusyFlushUs = 2000;
char gOutBuf[1 << 16];
int64_t gFlushedUs;

void flushOut(void)
{
    fflush(stdout);
    gFlushedUs = nowUs();
}

void push(uint16_t key)
{
    if (gCon.count < kQueue) {
        gCon.q[(gCon.head + gCon.count) % kQueue] = key;
        gCon.count++;
        gCon.arrivals++;
    }
}

uint16_t pop(void)
{
    uint16_t key = gCon.q[gCon.head];
    gCon.head = (gCon.head + 1) % kQueue;
    gCon.count--;
    return key;
}

void pushDecoded(const uint8_t *out, unsigned n)
{
    if (n == 2) {
        push((uint16_t)(out[0] | kPrefixed));
        push(out[1]);
    } else if (n == 1) {
        push(out[0]);
    }
}

void feed(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        uint8_t b = p[i];
        if (gCon.terminal) {
            uint8_t out[VT_KEY_OUT_MAX];
            pushDecoded(out, vtKeyFeed(&gCon.dec, b, out));
            continue;
        }
        if (gCon.afterCR && b == '\n') {
            gCon.afterCR = false;
            continue;
        }
        gCon.afterCR = b == '\r';
        push(b == '\n' ? 13 : b == 0x7F ? 8 : b);
    }
    if (gCon.terminal && n)
        gCon.lastByteUs = nowUs();
}

void flushPending(void)
{
    uint8_t out[VT_KEY_OUT_MAX];
    pushDecoded(out, vtKeyTimeout(&gCon.dec, out));
}

void reachEnd(void)
{
    if (gCon.terminal && vtKeyPending(&gCon.dec))
        flushPending();
    gCon.eof = true;
    gCon.eofUs = nowUs();
    gCon.arrivals++;
}

/* A pipe's last line has just been sent; what it makes a port answer (the
   loopback at once, a device within milliseconds) should still be shown
   before the program leaves, so the end of the input counts as a key only
   after a short quiet time. */
const int64_t kEndQuietUs = 150000;

bool endReached(void) { return gCon.eof && nowUs() - gCon.eofUs >= kEndQuietUs; }

/* Microseconds until a started sequence counts as complete, or -1 when
   none is started; the lone ESC comes out when this is 0. */
int64_t escLeftUs(void)
{
    if (!gCon.terminal || !vtKeyPending(&gCon.dec))
        return -1;
    int64_t left = gCon.lastByteUs + VT_KEY_ESC_WAIT_MS * 1000 - nowUs();
    return left > 0 ? left : 0;
}

void checkEscWait(void)
{
    if (escLeftUs() == 0)
        flushPending();
}

bool canRead(void)
{
    /* a byte can make two keys; leave the rest in the system's buffer */
    return !gCon.eof && kQueue - gCon.count >= 2 * VT_KEY_OUT_MAX;
}

/* Reads what the keyboard descriptor has (poll said it has something). */
void readSome(short revents)
{
    if (revents & POLLNVAL) {
        reachEnd();
        return;
    }
    uint8_t buf[64];
    size_t want = (kQueue - gCon.count) / VT_KEY_OUT_MAX;
    if (want > sizeof buf)
        want = sizeof buf;
    ssize_t n = read(gCon.in, buf, want);
    if (n > 0)
        feed(buf, (size_t)n);
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        reachEnd(); /* end of the pipe, or the terminal hung up */
}

int msFromUs(int64_t us)
{
    if (us < 0)
        return -1;
    int64_t ms = (us + 999) / 1000;
    return ms > 1000000 ? 1000000 : (int)ms;
}

/* Waits up to timeoutMs (-1 without limit) for bytes and reads them. */
void waitKeys(int timeoutMs)
{
    if (!canRead()) {
        if (timeoutMs > 0)
            poll(nullptr, 0, timeoutMs);
        return;
    }
    struct pollfd p = {gCon.in, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) > 0)
        readSome(p.revents);
}

void start(int in, int out)
{
    wakeCreate();
    gCon.in = in;
    gCon.out = out;
    gCon.eof = false;
    gCon.eofEnter = false;
    gCon.afterCR = false;
    gCon.lastIsChar = true;
    gCon.afterPrefix = false;
    gCon.head = gCon.count = 0;
    gCon.lastByteUs = 0;
    gCon.quietUs = 0;
    vtKeyInit(&gCon.dec);
    gCon.terminal = termEnter(in);
    gCon.ready = true;
}

void conInit(void)
{
    if (gCon.ready)
        return;
    openStandardDescriptors();
    signal(SIGXFSZ, SIG_IGN);
    fflush(stdout);
    setvbuf(stdout, gOutBuf, _IOFBF, sizeof gOutBuf);
    start(STDIN_FILENO, STDOUT_FILENO);
    /* the output held in the buffer goes out on a fatal signal, terminal
       or not */
    catchFatalSignals();
    if (!gCon.terminal)
        return;
    atexit(atExit);
    catchSignal(SIGTSTP, onStop, nullptr, nullptr);
    catchSignal(SIGCONT, onContinue, nullptr, nullptr);
}

/* A pause that a notification ended has just looked at the keyboard as
   well: for this long _kbhit goes by that look, which spares a system call
   or two per message while messages come one by one.  A key typed just
   then is seen at most this much later. */
const int64_t kQuietTrustUs = 1000;

int conKbhit(void)
{
    conInit();
    int64_t now = nowUs();
    if (now - gFlushedUs >= kBusyFlushUs)
        flushOut();
    if (gCon.count == 0 && canRead() && now - gCon.quietUs >= kQuietTrustUs) {
        struct pollfd p = {gCon.in, POLLIN, 0};
        if (poll(&p, 1, 0) > 0)
            readSome(p.revents);
    }
    if (gCon.count == 0)
        checkEscWait();
    return gCon.count > 0 || endReached();
}

/* The next queued key with its prefix mark, waiting for it; vt::kKeyEnd
   at the end of the input. */
int nextKey(void)
{
    for (;;) {
        if (gCon.count)
            return pop();
        if (gCon.eof)
            return vt::kKeyEnd;
        waitKeys(msFromUs(escLeftUs()));
        if (gCon.count == 0)
            checkEscWait();
    }
}

/* Piped: a byte 0 or 0xE0 is a key prefix, but for a 0xE0 followed by
   0xA0..0xBF, which begins a UTF-8 character. */
bool pipedPrefix(int key)
{
    if (key == 0)
        return true;
    if (key != 0xE0)
        return false;
    if (gCon.count == 0 && canRead()) {
        struct pollfd p = {gCon.in, POLLIN, 0};
        if (poll(&p, 1, 0) > 0)
            readSome(p.revents);
    }
    int next = gCon.count ? gCon.q[gCon.head] : -1;
    return !(next >= 0xA0 && next <= 0xBF);
}

void noteKey(bool prefix)
{
    gCon.lastIsChar = !prefix && !gCon.afterPrefix;
    gCon.afterPrefix = prefix;
}

int conGetch(void)
{
    conInit();
    flushOut();
    int key = nextKey();
    if (key >= 0) {
        noteKey(gCon.terminal ? (key & kPrefixed) != 0 : pipedPrefix(key));
        return key & 0xFF;
    }
    int end = gCon.eofEnter ? 13 : 27;
    gCon.eofEnter = !gCon.eofEnter;
    noteKey(false);
    return end;
}

/* Microseconds until the end of piped keys counts as a key, or -1 when
   that is not pending; the pause must end then. */
int64_t endLeftUs(void)
{
    if (!gCon.eof || endReached())
        return -1;
    return gCon.eofUs + kEndQuietUs - nowUs();
}

/* ---- input read in the pause on a backend's behalf (pausewatch.h) ------ */

const int kMaxWatched = 8;
struct pollfd gWatchFds[kMaxWatched];
int gWatchCount = 0;

void watchBegin(void)
{
    vt::PauseWatch *w = vt::pauseWatch();
    gWatchCount = w ? w->pauseBegins(gWatchFds, kMaxWatched) : 0;
}

void watchEnd(void)
{
    vt::PauseWatch *w = vt::pauseWatch();
    if (w)
        w->pauseEnds();
    gWatchCount = 0;
}

/* Has the backend read what its descriptors have, when poll says they have
   something; true when that ended the pause.  What it reads is notified
   from this thread: the gate is opened first, so that costs no wake-up
   write, and the pause ends on it as on the wake-up. */
bool readWatched(const struct pollfd *fds)
{
    bool ready = false, failed = false;
    for (int i = 0; i < gWatchCount; i++) {
        ready = ready || fds[i].revents != 0;
        failed = failed || (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }
    if (!ready)
        return false;
    gWakeGate.disarm();
    if (!vt::pauseWatch()->ready(failed))
        gWatchCount = 0;
    return !gWakeGate.arm();
}

/* Waits up to `left` us (the ESC and end-of-keys times taken into account)
   for the wake-up, a key or a watched descriptor; false when the pause is
   over. */
bool pauseOnce(int64_t left, unsigned seen, bool endPending)
{
    int64_t esc = escLeftUs();
    if (esc == 0) {
        checkEscWait();
        esc = -1;
    }
    if (gCon.arrivals != seen || left <= 0 || (endPending && endReached()))
        return false;
    if (esc >= 0 && esc < left)
        left = esc;
    int64_t end = endLeftUs();
    if (end >= 0 && end < left)
        left = end;
    struct pollfd p[2 + kMaxWatched];
    nfds_t n = 0;
    int wake = gWakeRead.load(std::memory_order_acquire);
    if (wake >= 0)
        p[n++] = {wake, POLLIN, 0};
    nfds_t key = n;
    if (canRead())
        p[n++] = {gCon.in, POLLIN, 0};
    nfds_t watched = n;
    for (int i = 0; i < gWatchCount; i++)
        p[n++] = gWatchFds[i];
    int r = poll(p, n, msFromUs(left));
    if (r < 0 && errno != EINTR)
        return false;
    if (r <= 0)
        return true;
    bool quiet = !(key < watched && p[key].revents);
    if (wake >= 0 && p[0].revents) {
        wakeDrain(wake);
        if (quiet)
            gCon.quietUs = nowUs();
        return false;
    }
    if (readWatched(p + watched)) {
        if (quiet)
            gCon.quietUs = nowUs();
        return false;
    }
    if (!quiet)
        readSome(p[key].revents);
    return true;
}

void conSleep(unsigned long ms)
{
    conInit();
    flushOut();
    unsigned seen = gCon.arrivals;
    bool endPending = endLeftUs() >= 0;
    int64_t deadline = nowUs() + (int64_t)(ms > 86400000UL ? 86400000UL : ms) * 1000;
    if (!gWakeGate.arm())
        return; /* a notification came since the last pause */
    watchBegin();
    while (pauseOnce(deadline - nowUs(), seen, endPending)) {
    }
    watchEnd();
    gWakeGate.disarm();
}

void terminalEcho(const char *p, size_t n)
{
    if (!gCon.terminal)
        return;
    while (n) {
        ssize_t w = write(gCon.out, p, n);
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
    int next() override { return nextKey(); }
    void echo(const char *p, size_t n) override { terminalEcho(p, n); }
};

int conReadLine(char *buf, unsigned size)
{
    conInit();
    flushOut();
    ConsoleKeys keys;
    return vt::editLine(keys, buf, size);
}

int conIsConsole(void)
{
    conInit();
    return gCon.terminal ? 1 : 0;
}

int conLastKeyIsCharacter(void) { return gCon.lastIsChar ? 1 : 0; }

const VtConsole kConsole = {
    conInit, conKbhit, conGetch, conSleep, conReadLine, conIsConsole, nowUs, conLastKeyIsCharacter};

} // namespace

const VtConsole *vtRealConsole(void) { return &kConsole; }

void vtWake(void)
{
    if (!gWakeGate.notify())
        return; /* the main thread is awake: it looks anyway */
    int fd = gWakeWrite.load(std::memory_order_acquire);
    if (fd < 0)
        return;
#ifdef __linux__
    if (fd == gWakeRead.load(std::memory_order_acquire)) {
        uint64_t one = 1;
        ssize_t r = write(fd, &one, sizeof one);
        (void)r;
        return;
    }
#endif
    char one = 1;
    ssize_t r = write(fd, &one, 1); /* a full pipe already wakes */
    (void)r;
}

void vtPosixConsoleAttach(int inFd, int outFd)
{
    if (gCon.ready && gCon.terminal)
        termLeave();
    start(inFd, outFd);
}

void vtPosixConsoleDetach(void)
{
    if (gCon.ready && gCon.terminal)
        termLeave();
    gCon.ready = false;
}
