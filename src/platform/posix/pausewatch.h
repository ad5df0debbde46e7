/*
 * Input that the console's pause reads on a backend's behalf.
 *
 * A backend whose input comes on descriptors (the ALSA sequencer) reads it
 * on a thread of its own, and each message received alone then wakes two
 * threads: that one, and the main thread that shows the message.  While
 * the main thread sleeps in the console's pause it may as well wait on
 * those descriptors itself and read what comes there: one thread wakes.
 *
 * A backend registers one PauseWatch.  The pause tells it when it begins
 * and when it ends, waits on its descriptors beside the keyboard and the
 * wake-up, and has it read when they are ready; what it reads goes the way
 * its own thread would send it (the sink, the host, the system's callback),
 * so the callback still only stores, and the pause ends on the
 * notification as it would on one from another thread.  Who reads while
 * the main thread is out of the pause, and when the backend's thread takes
 * over, is the backend's own business.
 */
#ifndef VOLTANIS_POSIX_PAUSEWATCH_H
#define VOLTANIS_POSIX_PAUSEWATCH_H

#include <poll.h>

namespace vt {

class PauseWatch {
public:
    virtual ~PauseWatch() {}
    /* The pause begins: the descriptors to wait on for POLLIN go into
       `fds` (at most `max`); returns how many. */
    virtual int pauseBegins(struct pollfd *fds, int max) = 0;
    /* One of them is ready, or `failed` (an error or hang-up on one):
       reads and delivers what waits.  False when they are not to be
       waited on again in this pause (the backend reads them otherwise). */
    virtual bool ready(bool failed) = 0;
    /* The pause is over. */
    virtual void pauseEnds() = 0;
};

/* Main thread only, never during a pause; nullptr for none.  One at a
   time: the latest registered is the one. */
void setPauseWatch(PauseWatch *watch);
PauseWatch *pauseWatch(void);

} // namespace vt

#endif
