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

void sourcesEnd(void)
{
    for (int i = 0; i < gSourceCount; i++)
        gSources[i].watch->pauseEnds();
    gSourceCount = 0;
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

/* ---- the pause ---------------------------------------------------------- */

/* Waits up to `left` us (the keyboard's own times taken into account) for
   the wake-up, a key or a source's descriptor; false when the pause is
   over. */
bool pauseOnce(int64_t left, unsigned seen, bool endPending)
{
    if (!keysQuiet(seen, endPending, &left) || left <= 0)
        return false;
    struct pollfd p[2 + kMaxWatched];
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
    int r = poll(p, n, msFromUs(left));
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

void vtposix::pauseFor(unsigned long ms)
{
    unsigned seen = keyArrivals();
    bool endPending = keyEndPending();
    int64_t deadline = nowUs() + (int64_t)(ms > 86400000UL ? 86400000UL : ms) * 1000;
    if (!gWakeGate.arm())
        return; /* a notification came since the last pause */
    sourcesBegin();
    while (pauseOnce(deadline - nowUs(), seen, endPending)) {
    }
    sourcesEnd();
    gWakeGate.disarm();
}

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
