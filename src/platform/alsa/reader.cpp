/*
 * Who reads what arrives at the open inputs.
 *
 * What arrives is read as soon as it can be, everything there is at once,
 * and each event routed to its port.  While the main thread sleeps in the
 * console's pause, the pause itself reads (pausewatch.h), so that a
 * message arriving alone wakes one thread, not two.  Whenever the main
 * thread is anywhere else, a reader thread reads, from the first event
 * on: busy formatting, blocked on a slow terminal or waiting for a line
 * of input, it leaves nothing in the kernel's pool, so a burst fills the
 * program's ring, not that pool, which overflows within milliseconds.
 *
 * Both wait on the sequencer in exclusive epoll registrations, the
 * pause's first (the reader registers again each time the pause has
 * registered: pauseWatching), and the kernel wakes the first of them that
 * is waiting.  So the hand-over costs no system call and no timer, and
 * the reader sleeps while the main thread waits in the pause.  Whoever
 * reads holds reading_, so the two never read at once and the order is
 * kept.  Without epoll the reader waits on the sequencer alone and the
 * pause does not (each message then wakes both threads).
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
    if (readerRunning_ && exclusive_)
        vt::setPauseWatch(this);
    return readerRunning_;
}

void SeqBackend::readerIdle()
{
    if (!readerRunning_ || router_.count() > 0)
        return;
    if (vt::pauseWatch() == this)
        vt::setPauseWatch(nullptr);
    quit_.store(true);
    uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        /* the counter is full: a wake-up is pending anyway */
    }
    reader_.join();
    readerRunning_ = false;
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
        if (ev)
            router_.route(ev);
        /* libasound answers 1 for an event whatever is left: when its
           buffer is empty, what was read is done, and a wake-up says when
           more comes (one read per message, not a second one that finds
           nothing) */
        if (snd_seq_event_input_pending(seq_, 0) == 0)
            return;
    }
}

int SeqBackend::pauseBegins(struct pollfd *fds, int max)
{
    if (!readerRunning_ || router_.count() == 0)
        return 0;
    int n = nFds_ < max ? nFds_ : max;
    for (int i = 0; i < n; i++)
        fds[i] = fds_[i];
    return n;
}

bool SeqBackend::ready(bool failed)
{
    {
        std::lock_guard<std::mutex> hold(reading_);
        drainInput();
    }
    /* a descriptor in error is left to the reader, which waits it out */
    return !failed;
}

void SeqBackend::pauseEnds() {}

void SeqBackend::pauseWatching()
{
    if (ep_ >= 0)
        watchSequencer();
}

void SeqBackend::readLoop()
{
    struct pollfd fds[kMaxFds + 1];
    fds[0] = {wake_, POLLIN, 0};
    for (int i = 0; i < nFds_; i++)
        fds[1 + i] = fds_[i];
    while (!quit_.load()) {
        {
            std::lock_guard<std::mutex> hold(reading_);
            drainInput();
        }
        bool failed = false;
        if (exclusive_) {
            struct epoll_event ev[kMaxFds + 1];
            int r = epoll_wait(ep_, ev, kMaxFds + 1, -1);
            for (int k = 0; k < r; k++) {
                if (ev[k].data.fd == wake_) {
                    uint64_t v;
                    if (read(wake_, &v, sizeof v) < 0) {
                        /* nothing to take: another wake-up got it */
                    }
                } else if (ev[k].events & (EPOLLERR | EPOLLHUP)) {
                    failed = true;
                }
            }
        } else {
            poll(fds, (nfds_t)nFds_ + 1, -1);
            for (int i = 0; i <= nFds_; i++)
                failed = failed || (i > 0 && (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)));
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                if (read(wake_, &v, sizeof v) < 0) {
                    /* nothing to take: another wake-up got it */
                }
            }
        }
        if (failed)
            poll(fds, 1, kErrorPauseMs); /* something is wrong: no faster than this */
    }
}

} // namespace alsa
} // namespace vt
