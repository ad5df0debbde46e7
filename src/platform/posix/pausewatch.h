/*
 * Input that the console's pause reads on a backend's behalf: the one way
 * for a backend to have the pause wait on its descriptors.
 *
 * A backend whose input comes on descriptors (the ALSA sequencer) reads it
 * on a thread of its own, and each message received alone then wakes two
 * threads: that one, and the main thread that shows the message.  While
 * the main thread sleeps in the console's pause it may as well wait on
 * those descriptors itself and read what comes there: one thread wakes.
 *
 * A backend registers a PauseWatch, a source of input.  The pause tells
 * every registered source when it begins and when it ends, waits on their
 * descriptors beside the keyboard and the wake-up, and has a source read
 * when one of its own descriptors is ready; what it reads goes the way its
 * own thread would send it (the sink, the host, the system's callback), so
 * the callback still only stores, and the pause ends on the notification
 * as it would on one from another thread.  Who reads while the main thread
 * is out of the pause is the backend's own business.
 *
 * On Linux the pause keeps its descriptors in an epoll set from one pause
 * to the next, the sources' ones registered exclusively, so a backend's
 * thread can hand reading over without any system call per message: it
 * waits on the same descriptors in an exclusive registration of its own
 * made after the pause's (pauseWatching), and the kernel then wakes the
 * pause while the main thread waits there, and that thread at once
 * whenever the main thread is away.
 */
#ifndef VOLTANIS_POSIX_PAUSEWATCH_H
#define VOLTANIS_POSIX_PAUSEWATCH_H

#include <poll.h>
#include <stdint.h>

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
    /* The pause has just registered the descriptors pauseBegins gave in
       its epoll set, exclusively, ahead of any registration the source
       makes from now on; it keeps them there, pause after pause, until
       the registry or the descriptors change (then it registers them anew
       and says so again).  A source's descriptors stay open while it is
       registered. */
    virtual void pauseWatching() {}
    /* The main thread is busy outside the pause (it asks for keys, as it
       does every few milliseconds then), and has been for awayUs; or it is
       about to wait for keys elsewhere (a line typed): INT64_MAX. */
    virtual void mainBusy(int64_t awayUs) { (void)awayUs; }
};

/* The most sources registered at once. */
const int kMaxPauseWatches = 4;

/* The registry is the main thread's, and never changes during a pause.
   addPauseWatch registers a source until removePauseWatch (false when
   kMaxPauseWatches are there already); the pause asks them in the order
   they came. */
bool addPauseWatch(PauseWatch *watch);
void removePauseWatch(PauseWatch *watch);
/* The registered sources into `out` (at most `max`); how many. */
int pauseWatches(PauseWatch **out, int max);
/* Counts every change of the registry. */
unsigned pauseWatchChanges(void);

/* The one-source form: removes the source it registered before, if any,
   and registers `watch` (nullptr for none); sources added with
   addPauseWatch stay.  pauseWatch answers the one it registered. */
void setPauseWatch(PauseWatch *watch);
PauseWatch *pauseWatch(void);

} // namespace vt

#endif
