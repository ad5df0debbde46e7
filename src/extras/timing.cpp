#include "timing.h"

#include <stdio.h>

/* tenths of a millisecond, rounded half up */
static long long tenthsOfMs(int64_t us) { return (long long)((us + 50) / 100); }

int formatTimeColumn(int64_t sinceStartUs, int64_t aboveUs, char *out, size_t size)
{
    long long t = tenthsOfMs(sinceStartUs < 0 ? 0 : sinceStartUs);
    bool earlier = aboveUs != kNoLineAbove && t < tenthsOfMs(aboveUs < 0 ? 0 : aboveUs);
    int n = snprintf(out, size, earlier ? "%5lld.%04lld^ " : "%5lld.%04lld  ", t / 10000, t % 10000);
    return n < 0 ? 0 : n < (int)size ? n : (int)size - 1;
}

int formatLatency(int64_t us, char *out, size_t size)
{
    long long t = tenthsOfMs(us < 0 ? 0 : us);
    int n = snprintf(out, size, "+%lld.%lld ms", t / 10, t % 10);
    return n < 0 ? 0 : n < (int)size ? n : (int)size - 1;
}

void replySent(ReplyClock *c, int64_t beganUs, int64_t endedUs)
{
    c->beganUs = beganUs;
    c->endedUs = endedUs;
    c->waiting = 1;
}

int replyTaken(ReplyClock *c, int64_t arrivalUs, int64_t waitingUs, int64_t *latencyUs)
{
    if (!c->waiting || arrivalUs < c->beganUs || (waitingUs >= c->beganUs && waitingUs < arrivalUs))
        return 0;
    c->waiting = 0;
    *latencyUs = arrivalUs > c->endedUs ? arrivalUs - c->endedUs : 0;
    return 1;
}
