/*
 * Who reads what arrives at the open inputs.
 *
 * What arrives is read as soon as it can be, everything there is at once,
 * and each event routed to its port.  While the main thread sleeps in the
 * console's pause, the pause itself reads (pausewatch.h), so that a
 * message arriving alone wakes one thread, as it would in a program with
 * one.  A reader thread, running while any input is open, takes over when
 * the main thread cannot keep up: when a pause finds a burst waiting
 * (kBurstEvents or more at once), when the main thread has been out of the
 * pause for kBusyUs (it says so at _kbhit: mainBusy), and when a send of
 * its own waits for room in this client's input pool.  Then the reader
 * is "on duty": it reads everything that comes while the main thread is
 * anywhere but in the pause, however slow the terminal, so a burst fills
 * the program's ring, not the kernel's pool (2000 events, gone in
 * milliseconds at full speed).  It goes off duty once the main thread
 * keeps up again: back in the pause, it leaves no burst for the reader.
 *
 * Both wait on the sequencer in exclusive epoll registrations, the
 * pause's first (the reader registers again each time the pause has
 * registered: pauseWatching), and the kernel wakes the first of them that
 * is waiting: the pause while the main thread is there, the reader on
 * duty otherwise.  So a steady stream costs no system call and no wake-up
 * of the reader at all, and the hand-over one write to the reader's
 * eventfd per burst.  Whoever reads holds reading_, so the two never read
 * at once and the order is kept.  Without epoll the reader waits on the
 * sequencer alone and the pause does not (each message then wakes both
 * threads).
 *
 * From the first port opened on, a port of this client also hears the
 * System's announcements (ports and clients that start and exit,
 * connections made and undone), so the reader keeps running and the pause
 * keeps waiting on the sequencer even with no input open; whoever reads
 * takes the announcements with the rest.
 */
#include "internal.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vt {
namespace alsa {

namespace {

const int kMaxFds = 8;
const int kErrorPauseMs = 100; /* the sequencer's descriptor in error: read no faster than this */
const int kBurstEvents = 8;    /* found at once by the pause: a burst, the reader takes over */
const int64_t kBusyUs = 2000;  /* the main thread out of the pause this long: the reader takes over */

} // namespace

bool SeqBackend::readerUp()
{
    if (readerRunning_)
        return true;
    if (wake_ < 0)
        wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0)
        return false;
    if (ep_ < 0) {
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        struct epoll_event ev = {};
        ev.events = EPOLLIN;
        ev.data.fd = wake_;
        if (ep_ >= 0 && epoll_ctl(ep_, EPOLL_CTL_ADD, wake_, &ev) < 0) {
            close(ep_);
            ep_ = -1;
        }
    }
    nFds_ = snd_seq_poll_descriptors_count(seq_, POLLIN);
    if (nFds_ > kMaxFds)
        nFds_ = kMaxFds;
    nFds_ = snd_seq_poll_descriptors(seq_, fds_, (unsigned)nFds_, POLLIN);
    exclusive_ = ep_ >= 0 && watchSequencer();
    quit_.store(false);
    duty_.store(kOnDuty);
    /* Signals stay with the main thread: the thread starts with them all
       blocked. */
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        unsigned pauses = pauses_.load();
        reader_ = std::thread([this, pauses] { readLoop(pauses); });
        readerRunning_ = true;
    } catch (...) {
        readerRunning_ = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (readerRunning_ && exclusive_)
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

/* The reader on duty, at once; a wake-up only when it was off. */
void SeqBackend::handOver()
{
    if (!readerRunning_)
        return;
    calledAt_.store(pauses_.load());
    if (duty_.exchange(kRecalled) == kOffDuty)
        wakeReader();
}

void SeqBackend::mainBusy(int64_t awayUs)
{
    if (awayUs >= kBusyUs)
        handOver();
}

/* The reader's exclusive registrations on the sequencer, made anew so that
   they come after whatever exclusive waiter registered before (the
   pause's). */
bool SeqBackend::watchSequencer()
{
    for (int i = 0; i < nFds_; i++) {
        epoll_ctl(ep_, EPOLL_CTL_DEL, fds_[i].fd, nullptr);
        struct epoll_event ev = {};
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        ev.data.fd = fds_[i].fd;
        if (epoll_ctl(ep_, EPOLL_CTL_ADD, fds_[i].fd, &ev) < 0)
            return false;
    }
    return true;
}

int SeqBackend::drainInput()
{
    int read = 0;
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
            return read; /* -EAGAIN: nothing more for now */
        /* the announcements come to the watching port, and those of a
           connection to the port they concern (the offered port); they
           are no traffic, so they count for no hand-over */
        if (ev && ev->source.client == SND_SEQ_CLIENT_SYSTEM && ev->source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
            announced(ev);
        } else if (ev) {
            router_.route(ev);
            read++;
        }
        /* libasound answers 1 for an event whatever is left: when its
           buffer is empty, what was read is done, and a wake-up says when
           more comes (one read per message, not a second one that finds
           nothing) */
        if (snd_seq_event_input_pending(seq_, 0) == 0)
            return read;
    }
}

int SeqBackend::pauseBegins(struct pollfd *fds, int max)
{
    if (!readerRunning_ || (router_.count() == 0 && watchPort_ < 0))
        return 0;
    pauses_.fetch_add(1);
    int n = nFds_ < max ? nFds_ : max;
    for (int i = 0; i < n; i++)
        fds[i] = fds_[i];
    return n;
}

bool SeqBackend::ready(bool failed)
{
    int read;
    {
        std::lock_guard<std::mutex> hold(reading_);
        read = drainInput();
    }
    /* before the burst's first line is shown, which may take long */
    if (read >= kBurstEvents)
        handOver();
    /* a descriptor in error is left to the reader, which waits it out */
    if (failed)
        handOver();
    return !failed;
}

void SeqBackend::pauseEnds() {}

void SeqBackend::pauseWatching()
{
    if (ep_ >= 0)
        watchSequencer();
}

/* The reader thread.  On duty it waits on the sequencer (behind the
   pause: it is woken only while the main thread is elsewhere) and reads;
   off duty it waits for the main thread to call it, or to end it.  It
   goes off duty when it finds that the main thread has been back in the
   pause since its last read and this read found something, but no burst:
   the main thread keeps up again.  So a reader called by a stall costs one more
   wake-up, not one per message from then on. */
void SeqBackend::readLoop(unsigned pausesSeen)
{
    struct pollfd fds[kMaxFds + 1];
    fds[0] = {wake_, POLLIN, 0};
    for (int i = 0; i < nFds_; i++)
        fds[1 + i] = fds_[i];
    while (!quit_.load()) {
        int got;
        {
            std::lock_guard<std::mutex> hold(reading_);
            got = drainInput();
        }
        if (got > 0) {
            unsigned pauses = pauses_.load();
            int was = kOnDuty;
            bool off = exclusive_ && pauses != pausesSeen && got < kBurstEvents &&
                       duty_.compare_exchange_strong(was, kOffDuty);
            if (!off && was == kRecalled)
                duty_.store(kOnDuty); /* called again meanwhile: stays */
            pausesSeen = pauses;
        }
        bool failed = false, woken = false;
        if (!exclusive_) {
            poll(fds, (nfds_t)nFds_ + 1, -1);
            for (int i = 1; i <= nFds_; i++)
                failed = failed || (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL));
            woken = fds[0].revents & POLLIN;
        } else if (duty_.load() != kOffDuty) {
            struct epoll_event ev[kMaxFds + 1];
            int r = epoll_wait(ep_, ev, kMaxFds + 1, -1);
            for (int k = 0; k < r; k++) {
                if (ev[k].data.fd == wake_)
                    woken = true;
                else if (ev[k].events & (EPOLLERR | EPOLLHUP))
                    failed = true;
            }
        } else {
            poll(fds, 1, -1);
            woken = true;
            duty_.store(kOnDuty);
            pausesSeen = calledAt_.load(); /* the pauses before the call do not count */
        }
        if (woken) {
            uint64_t v;
            if (read(wake_, &v, sizeof v) < 0) {
                /* nothing to take: another wake-up got it */
            }
        }
        if (failed)
            poll(fds, 1, kErrorPauseMs); /* something is wrong: no faster than this */
    }
}

} // namespace alsa
} // namespace vt
