/*
 * The console's pause: the main thread's wait while the program has
 * nothing else to do, and so its event loop.  It lasts the time asked and
 * ends early on
 *  - the wake-up, which vtWake writes from any thread after a notification
 *    (only while the main thread sleeps here: common/wakegate.h);
 *  - a key (read by console.cpp, whose lone ESC and end of piped keys have
 *    times of their own, which the wait keeps);
 *  - a notification of what a backend's source read on its descriptors:
 *    every registered vt::PauseWatch (pausewatch.h) adds its descriptors
 *    as the pause begins, reads them when they are ready and hears when
 *    the pause ends.  That is the one way in for a backend.
 *
 * On Linux the wait is an epoll set kept from one pause to the next, so a
 * pause costs one system call however many descriptors it waits on, and a
 * source's thread can wait on the same descriptors and be woken only while
 * the main thread is away (pausewatch.h).  Elsewhere, or when epoll fails,
 * it is poll.
 */
#include "console_internal.h"
#include "pausewatch.h"

#include "../common/service.h"
#include "../common/wakegate.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/epoll.h>
#include <sys/eventfd.h>
#endif

namespace {

using namespace vtposix;

/* ---- wake-up ------------------------------------------------------------ */

std::atomic<int> gWakeRead{-1};
std::atomic<int> gWakeWrite{-1};
vt::WakeGate gWakeGate;

void wakeDrain(int fd)
{
    uint8_t buf[64];
    /* one descriptor both ways is an eventfd, emptied by one read */
    bool eventfd = fd == gWakeWrite.load(std::memory_order_relaxed);
    while (read(fd, buf, sizeof buf) > 0 && !eventfd) {
    }
}

/* ---- the sources' descriptors (pausewatch.h) ---------------------------- */

const int kMaxWatched = 8; /* the descriptors of all sources together */

struct Source {
    vt::PauseWatch *watch;
    int first, count; /* its descriptors in gWatchFds (none once dropped) */
};

Source gSources[vt::kMaxPauseWatches];
int gSourceCount = 0;
struct pollfd gWatchFds[kMaxWatched];

void sourcesBegin(void)
{
    vt::PauseWatch *all[vt::kMaxPauseWatches];
    gSourceCount = vt::pauseWatches(all, vt::kMaxPauseWatches);
    int used = 0;
    for (int i = 0; i < gSourceCount; i++) {
        int room = kMaxWatched - used;
        int n = all[i]->pauseBegins(gWatchFds + used, room);
        n = n < 0 ? 0 : n > room ? room : n;
        gSources[i] = {all[i], used, n};
        used += n;
    }
}

int64_t gPauseEndedUs; /* when the main thread last left a pause that waited */

void sourcesEnd(void)
{
    for (int i = 0; i < gSourceCount; i++)
        gSources[i].watch->pauseEnds();
    gSourceCount = 0;
    gPauseEndedUs = nowUs();
}

/* The descriptors still waited on, source after source, into p; how many. */
nfds_t sourcesToPoll(struct pollfd *p)
{
    nfds_t n = 0;
    for (int i = 0; i < gSourceCount; i++)
        for (int k = 0; k < gSources[i].count; k++)
            p[n++] = gWatchFds[gSources[i].first + k];
    return n;
}

/* Has every source whose descriptors poll found ready (fds, laid out as
   sourcesToPoll laid them) read them; true when that ended the pause.  What
   a source reads is notified from this thread: the gate is opened first,
   so that costs no wake-up write, and the pause ends on it as on the
   wake-up.  A source that answers false is not waited on again. */
bool sourcesRead(const struct pollfd *fds)
{
    bool opened = false;
    for (int i = 0; i < gSourceCount; i++) {
        Source &s = gSources[i];
        short got = 0;
        for (int k = 0; k < s.count; k++)
            got |= fds[k].revents;
        fds += s.count;
        if (!got)
            continue;
        if (!opened)
            gWakeGate.disarm();
        opened = true;
        if (!s.watch->ready((got & (POLLERR | POLLHUP | POLLNVAL)) != 0))
            s.count = 0;
    }
    return opened && !gWakeGate.arm();
}

/* ---- the wait ----------------------------------------------------------- */

const nfds_t kMaxFds = 2 + kMaxWatched; /* the wake-up, the keyboard, the sources' */
unsigned gKeyStarts = 0;                /* the keyboard started afresh */

#ifdef __linux__
/* The epoll set and what is in it: the descriptors in the order the pause
   lays them out, their index as each one's data.  It is made anew when that
   layout changes, when a source comes or goes, or when the keyboard starts
   afresh (its descriptor may be another file under the same number then);
   a descriptor closed while in it would otherwise leave it silently. */
struct WaitSet {
    int ep = -1;
    int fds[kMaxFds];
    nfds_t n = 0, sources = 0; /* sources: where the sources' descriptors begin */
    unsigned changes = 0, keyStarts = 0;
    unsigned readyAlways = 0; /* bits of the descriptors epoll refuses (a file, /dev/null) */
};
WaitSet gSet;

bool waitSetFits(const struct pollfd *p, nfds_t n, nfds_t sources)
{
    if (gSet.ep < 0 || n != gSet.n || sources != gSet.sources || gSet.changes != vt::pauseWatchChanges() ||
        gSet.keyStarts != gKeyStarts)
        return false;
    for (nfds_t i = 0; i < n; i++)
        if (p[i].fd != gSet.fds[i])
            return false;
    return true;
}

/* Registers what the pause waits on; the sources' descriptors exclusively,
   so that of all the exclusive waiters on one of them only the first that
   is waiting wakes, and then tells each source it is registered. */
bool waitSetMake(const struct pollfd *p, nfds_t n, nfds_t sources)
{
    if (gSet.ep >= 0)
        close(gSet.ep);
    gSet.ep = epoll_create1(EPOLL_CLOEXEC);
    if (gSet.ep < 0)
        return false;
    gSet.n = n;
    gSet.sources = sources;
    gSet.changes = vt::pauseWatchChanges();
    gSet.keyStarts = gKeyStarts;
    gSet.readyAlways = 0;
    for (nfds_t i = 0; i < n; i++) {
        gSet.fds[i] = p[i].fd;
        struct epoll_event ev = {};
        ev.events = EPOLLIN | (i >= sources ? (uint32_t)EPOLLEXCLUSIVE : 0u);
        ev.data.u32 = (uint32_t)i;
        int r = epoll_ctl(gSet.ep, EPOLL_CTL_ADD, p[i].fd, &ev);
        if (r < 0 && errno == EINVAL && i >= sources) {
            ev.events = EPOLLIN; /* a kernel without exclusive wake-ups */
            r = epoll_ctl(gSet.ep, EPOLL_CTL_ADD, p[i].fd, &ev);
        }
        if (r < 0 && errno == EPERM) {
            gSet.readyAlways |= 1u << i; /* poll calls such a file readable at once */
        } else if (r < 0) {
            close(gSet.ep);
            gSet.ep = -1;
            return false;
        }
    }
    for (int i = 0; i < gSourceCount; i++)
        if (gSources[i].count > 0)
            gSources[i].watch->pauseWatching();
    return true;
}
#endif

/* poll over the descriptors p, the sources' from `sources` on: their
   revents filled, the count of those with any, or -1. */
int waitOn(struct pollfd *p, nfds_t n, nfds_t sources, int timeoutMs)
{
#ifdef __linux__
    if (waitSetFits(p, n, sources) || waitSetMake(p, n, sources)) {
        int r = 0;
        for (nfds_t i = 0; i < n; i++) {
            p[i].revents = (gSet.readyAlways >> i & 1) ? POLLIN : 0;
            r += p[i].revents != 0;
        }
        if (r > 0)
            return r;
        struct epoll_event ev[kMaxFds];
        r = epoll_wait(gSet.ep, ev, (int)kMaxFds, timeoutMs);
        for (int k = 0; k < r; k++)
            if (ev[k].data.u32 < n)
                p[ev[k].data.u32].revents = (short)(ev[k].events & (EPOLLIN | EPOLLERR | EPOLLHUP));
        return r;
    }
#else
    (void)sources;
#endif
    return poll(p, n, timeoutMs);
}

/* ---- the pause ---------------------------------------------------------- */

/* Waits up to `left` us (the keyboard's own times taken into account) for
   the wake-up, a key or a source's descriptor; false when the pause is
   over. */
bool pauseOnce(int64_t left, unsigned seen, bool endPending)
{
    if (!keysQuiet(seen, endPending, &left) || left <= 0)
        return false;
    struct pollfd p[kMaxFds];
    nfds_t n = 0;
    int wake = gWakeRead.load(std::memory_order_acquire);
    if (wake >= 0)
        p[n++] = {wake, POLLIN, 0};
    nfds_t key = n;
    int keys = keyFd();
    if (keys >= 0)
        p[n++] = {keys, POLLIN, 0};
    nfds_t watched = n;
    n += sourcesToPoll(p + n);
    int r = waitOn(p, n, watched, msFromUs(left));
    if (r < 0 && errno != EINTR)
        return false;
    if (r <= 0)
        return true;
    bool quiet = !(key < watched && p[key].revents);
    if (wake >= 0 && p[0].revents) {
        wakeDrain(wake);
        if (quiet)
            keysFoundQuiet();
        return false;
    }
    if (sourcesRead(p + watched)) {
        if (quiet)
            keysFoundQuiet();
        return false;
    }
    if (!quiet)
        keysRead(p[key].revents);
    return true;
}

} // namespace

void vtposix::wakeCreate(void)
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

void vtposix::pauseFor(unsigned long ms, void (*beforeWait)(void))
{
    unsigned seen = keyArrivals();
    bool endPending = keyEndPending();
    int64_t deadline = nowUs() + (int64_t)(ms > 86400000UL ? 86400000UL : ms) * 1000;
    if (!gWakeGate.arm())
        return; /* a notification came since the last pause */
    beforeWait();
    sourcesBegin();
    while (pauseOnce(deadline - nowUs(), seen, endPending)) {
    }
    sourcesEnd();
    gWakeGate.disarm();
}

void vtposix::pauseKeysRestarted(void) { gKeyStarts++; }

static void tellBusy(int64_t awayUs)
{
    vt::PauseWatch *all[vt::kMaxPauseWatches];
    int n = vt::pauseWatches(all, vt::kMaxPauseWatches);
    for (int i = 0; i < n; i++)
        all[i]->mainBusy(awayUs);
}

void vtposix::pauseBusy(int64_t now) { tellBusy(now - gPauseEndedUs); }

void vtposix::pauseElsewhere(void) { tellBusy(INT64_MAX); }

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
