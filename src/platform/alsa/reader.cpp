/*
 * Who reads what arrives at the open inputs.
 *
 * What arrives is read as soon as it can be, everything there is at once,
 * and each event routed to its port.  While the main thread sleeps in the
 * console's pause, the pause itself reads (pausewatch.h), so that a
 * message arriving alone wakes one thread, not two.  Otherwise a reader
 * thread, running while any input is open: it takes over when the main
 * thread has been out of the pause for kTakeOverMs (a timer the main
 * thread sets as it leaves the pause and clears as it comes back, which
 * costs no wake-up while messages keep the main thread going), and parks
 * again at the next pause.  So input is read even while the main thread
 * is busy or blocked on a slow terminal, and a burst still fills the
 * program's ring, not the kernel's pool.
 *
 * From the first port opened on, a port of this client also hears the
 * System's announcements (ports and clients that start and exit,
 * connections made and undone), so the reader keeps running: it waits in
 * poll and costs nothing while nothing changes.
 */
#include "internal.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace vt {
namespace alsa {

namespace {

const unsigned kMaxFds = 8;
const long kTakeOverMs = 2; /* the main thread out of the pause this long: the reader reads */

} // namespace

bool SeqBackend::readerUp()
{
    if (readerRunning_)
        return true;
    if (wake_ < 0)
        wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (timer_ < 0)
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (wake_ < 0)
        return false;
    quit_.store(false);
    pausing_.store(false);
    /* Signals stay with the main thread: the thread starts with them all
       blocked. */
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        reader_ = std::thread([this] { readLoop(); });
        readerRunning_ = true;
    } catch (...) {
        readerRunning_ = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    /* without a timer the reader alone reads, as it cannot be told when
       to take over */
    if (readerRunning_ && timer_ >= 0)
        vt::setPauseWatch(this);
    return readerRunning_;
}

bool SeqBackend::watch()
{
    if (watchPort_ >= 0)
        return true;
    int port = newPort("Voltanis Watch",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT);
    if (port < 0)
        return false;
    watchPort_ = port; /* before the first announcement can come */
    if (!readerUp() ||
        snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
        watchPort_ = -1;
        snd_seq_delete_simple_port(seq_, port);
        readerIdle();
        return false;
    }
    return true;
}

void SeqBackend::readerIdle()
{
    if (!readerRunning_ || router_.count() > 0 || watchPort_ >= 0)
        return;
    if (vt::pauseWatch() == this)
        vt::setPauseWatch(nullptr);
    startTimer(0);
    quit_.store(true);
    wakeReader();
    reader_.join();
    readerRunning_ = false;
}

void SeqBackend::wakeReader()
{
    uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        /* the counter is full: a wake-up is pending anyway */
    }
}

void SeqBackend::drainInput()
{
    for (;;) {
        snd_seq_event_t *ev = nullptr;
        int r = snd_seq_event_input(seq_, &ev);
        if (r == -ENOSPC) {
            /* The kernel refused events for want of room and emptied the
               queue; how many went it does not say. */
            router_.overrun(1);
            continue;
        }
        if (r < 0)
            return; /* -EAGAIN: nothing more for now */
        /* the announcements come to the watching port, and those of a
           connection to the port they concern (the offered port) */
        if (ev && ev->source.client == SND_SEQ_CLIENT_SYSTEM && ev->source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE)
            announced(ev);
        else if (ev)
            router_.route(ev);
        /* libasound answers 1 for an event whatever is left: when its
           buffer is empty, what was read is done, and poll says when more
           comes (one read per message, not a second one that finds
           nothing) */
        if (snd_seq_event_input_pending(seq_, 0) == 0)
            return;
    }
}

/* Arms the take-over timer for `ms` from now, or clears it (0). */
bool SeqBackend::startTimer(long ms)
{
    if (timer_ < 0 || (ms == 0 && !timerSet_))
        return false;
    struct itimerspec t = {};
    t.it_value.tv_sec = ms / 1000;
    t.it_value.tv_nsec = (ms % 1000) * 1000000L;
    timerSet_ = ms != 0;
    return timerfd_settime(timer_, 0, &t, nullptr) == 0;
}

/* The pause begins: the reader parks, and the pause waits on the
   sequencer.  Either the reader sees the pause, or the pause sees the
   reader still waiting and wakes it to park (both stored, then the other
   loaded); should both read at once, the lock keeps them apart. */
int SeqBackend::pauseBegins(struct pollfd *fds, int max)
{
    if (!readerRunning_ || (router_.count() == 0 && watchPort_ < 0))
        return 0;
    startTimer(0);
    pausing_.store(true);
    if (readerWatches_.load())
        wakeReader();
    int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
    if (n > max)
        n = max;
    return snd_seq_poll_descriptors(seq_, fds, n, POLLIN);
}

bool SeqBackend::ready(bool failed)
{
    {
        std::lock_guard<std::mutex> hold(reading_);
        drainInput();
    }
    /* a descriptor in error is left to the reader, which waits it out */
    if (failed)
        pauseEnds();
    return !failed;
}

/* The pause is over: should the main thread not come back to it soon,
   the reader takes over (at once without a timer). */
void SeqBackend::pauseEnds()
{
    if (!pausing_.load())
        return;
    pausing_.store(false);
    if (!startTimer(kTakeOverMs))
        wakeReader();
}

void SeqBackend::readLoop()
{
    /* the wake-up and the timer first, then the sequencer's */
    struct pollfd fds[kMaxFds + 2];
    int fixed = 0;
    fds[fixed++] = {wake_, POLLIN, 0};
    if (timer_ >= 0)
        fds[fixed++] = {timer_, POLLIN, 0};
    int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
    if (n > (int)kMaxFds)
        n = kMaxFds;
    n = snd_seq_poll_descriptors(seq_, fds + fixed, n, POLLIN);
    while (!quit_.load()) {
        readerWatches_.store(true);
        bool watch = !pausing_.load();
        readerWatches_.store(watch);
        if (watch) {
            std::lock_guard<std::mutex> hold(reading_);
            drainInput();
        }
        int r = poll(fds, watch ? fixed + n : fixed, -1);
        if (r < 0 && errno != EINTR)
            poll(fds, 1, 100); /* something is wrong: no faster than this */
        for (int i = 0; i < fixed; i++) {
            if (fds[i].revents & POLLIN) {
                uint64_t v;
                if (read(fds[i].fd, &v, sizeof v) < 0) {
                    /* nothing to take: another wake-up got it */
                }
            }
        }
        if (!watch)
            continue;
        for (int i = fixed; i < fixed + n; i++) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                poll(fds, 1, 100);
                break;
            }
        }
    }
}

} // namespace alsa
} // namespace vt
