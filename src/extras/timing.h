/*
 * Arrival times and reply latency, as text: the time column that starts a
 * received line and the note of how long the device took to answer.  Pure
 * functions over the times the port layer stamped (vtClockUs microseconds).
 */
#ifndef VOLTANIS_EXTRAS_TIMING_H
#define VOLTANIS_EXTRAS_TIMING_H

#include <stddef.h>
#include <stdint.h>

/* Seconds since the start with four decimals (a tenth of a millisecond,
   rounded), right-aligned in ten characters, then two blanks:
   "   12.3456  ".  After 27 hours the column grows.  A time before the start
   counts as the start.  A time shown earlier than the one of the line
   above (aboveUs, kNoLineAbove for none) is marked, "   12.3456^ ": that
   message arrived before the one above it.  Returns the length written
   (at most size-1). */
const int64_t kNoLineAbove = INT64_MIN;
int formatTimeColumn(int64_t sinceStartUs, int64_t aboveUs, char *out, size_t size);

/* "+3.2 ms": a latency rounded to a tenth of a millisecond. */
int formatLatency(int64_t us, char *out, size_t size);

/* The latest transmission and whether its reply is still awaited. */
struct ReplyClock {
    int64_t beganUs;
    int64_t endedUs;
    int waiting;
};

void replySent(ReplyClock *c, int64_t beganUs, int64_t endedUs);

/* 1 when a message that arrived at arrivalUs is the first one since the
   latest transmission began: *latencyUs is then the time from the end of
   that transmission (0 for an answer that came while it was still going
   out, as a loopback's does), and the clock waits no more.  A message that
   arrived before the transmission is no answer to it; nor is one taken
   while a message that arrived between the two waits to be shown
   (waitingUs, when it arrived; INT64_MAX for none): that one is. */
int replyTaken(ReplyClock *c, int64_t arrivalUs, int64_t waitingUs, int64_t *latencyUs);

#endif
