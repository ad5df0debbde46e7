/*
 * Who wakes the console's pause, and when it need not be woken: a
 * notification wakes the pause with a system call (a write, an event) only
 * while the main thread sleeps in it.  While the main thread is awake it
 * will look at what arrived anyway, so a stream of notifications costs no
 * system call at all.
 *
 * Every notification counts up; the sleeper arms the gate, and sleeps only
 * if nothing was counted since its last pause ended.  Each side stores and
 * then loads the other side's word (sequentially consistent), so either the
 * waker sees the gate armed and signals, or the sleeper sees the count
 * changed and does not sleep: a wake-up is never lost.  At worst a pause
 * ends at once for something the main thread has already seen.
 */
#ifndef VOLTANIS_PLATFORM_WAKEGATE_H
#define VOLTANIS_PLATFORM_WAKEGATE_H

#include <atomic>
#include <stdint.h>

namespace vt {

class WakeGate {
public:
    /* Any thread, after publishing what it notifies: true when the sleeper
       must be signalled (once per pause). */
    bool notify()
    {
        count_.fetch_add(1);
        return armed_.exchange(false);
    }
    /* The sleeper, before it waits: false when something came since the
       last pause, and then it must not wait. */
    bool arm()
    {
        armed_.store(true);
        uint64_t now = count_.load();
        if (now == seen_)
            return true;
        armed_.store(false);
        seen_ = now;
        return false;
    }
    /* The sleeper, when its wait has ended, however. */
    void disarm()
    {
        armed_.store(false);
        seen_ = count_.load();
    }

private:
    std::atomic<uint64_t> count_{0};
    std::atomic<bool> armed_{false};
    uint64_t seen_ = 0; /* the sleeper's own */
};

} // namespace vt

#endif
