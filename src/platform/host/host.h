/*
 * The port host's one hook beyond the service table: tests put backends of
 * their own in place of the ALSA sequencer and the loopback, to see the
 * numbering, the handles and the input path without hardware.
 */
#ifndef VOLTANIS_PLATFORM_HOST_H
#define VOLTANIS_PLATFORM_HOST_H

#include "../common/backend.h"

/* The host numbers the ports of these backends, in this order (at most 4);
   nullptr puts the real ones back.  Only while no port is open. */
void vtHostSetBackends(vt::Backend *const *list, int n);

#endif
