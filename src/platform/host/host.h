/*
 * The port host's hooks beyond the service table, for tests: backends of
 * their own in place of the real ones (the test double is one), to see the
 * numbering, the handles and the input path without hardware.
 */
#ifndef VOLTANIS_PLATFORM_HOST_H
#define VOLTANIS_PLATFORM_HOST_H

#include "../common/backend.h"

/* The host numbers the ports of these backends, in this order (at most 4);
   nullptr puts the real ones back.  Ports still open are dropped first,
   without notifications, as a test may end with a port open. */
void vtHostSetBackends(vt::Backend *const *list, int n);

/* How the open input whose sink this is stands: started (delivering: after
   midiInStart, before midiInReset) and how many headers it holds.  False,
   with both cleared, when no open input has this sink. */
bool vtHostInputState(const vt::InputSink *sink, bool *started, int *queued);

#endif
