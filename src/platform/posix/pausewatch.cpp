/*
 * The registered PauseWatch sources (pausewatch.h).  Kept apart from the
 * console, so that a backend links without it.
 */
#include "pausewatch.h"

namespace {

vt::PauseWatch *gWatches[vt::kMaxPauseWatches];
int gCount = 0;
vt::PauseWatch *gSet = nullptr; /* what setPauseWatch registered */
unsigned gChanges = 0;

} // namespace

bool vt::addPauseWatch(PauseWatch *watch)
{
    for (int i = 0; i < gCount; i++)
        if (gWatches[i] == watch)
            return true;
    if (!watch || gCount == kMaxPauseWatches)
        return false;
    gWatches[gCount++] = watch;
    gChanges++;
    return true;
}

void vt::removePauseWatch(PauseWatch *watch)
{
    int kept = 0;
    for (int i = 0; i < gCount; i++)
        if (gWatches[i] != watch)
            gWatches[kept++] = gWatches[i];
    if (kept != gCount)
        gChanges++;
    gCount = kept;
    if (gSet == watch)
        gSet = nullptr;
}

int vt::pauseWatches(PauseWatch **out, int max)
{
    int n = gCount < max ? gCount : max;
    for (int i = 0; i < n; i++)
        out[i] = gWatches[i];
    return n;
}

void vt::setPauseWatch(PauseWatch *watch)
{
    if (gSet)
        removePauseWatch(gSet);
    if (watch && addPauseWatch(watch))
        gSet = watch;
}

vt::PauseWatch *vt::pauseWatch(void) { return gSet; }

unsigned vt::pauseWatchChanges(void) { return gChanges; }
