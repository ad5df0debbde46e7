/*
 * The console's pause: the main thread's wait while the program has
 * nothing else to do, and so its event loop.  It lasts the time asked and
 * ends early on
 *  - the wake-up, which vtWake writes from any thread after a notification
 *    (only while the main thread sleeps here: common/wakegate.h);
 *  - a key (read by console.cpp, whose lone ESC and end of piped keys have
 *    times of their own, which the wait keeps);
 *  - a notification of what a backend read on its descriptors: the
 *    registered vt::PauseWatch (pausewatch.h) adds its descriptors as the
 *    pause begins, reads them when they are ready and hears when the pause
 *    ends.
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

/* ---- the pause ---------------------------------------------------------- */

/* Waits up to `left` us (the keyboard's own times taken into account) for
   the wake-up, a key or a watched descriptor; false when the pause is
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
            keysFoundQuiet();
        return false;
    }
    if (readWatched(p + watched)) {
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
    watchBegin();
    while (pauseOnce(deadline - nowUs(), seen, endPending)) {
    }
    watchEnd();
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
