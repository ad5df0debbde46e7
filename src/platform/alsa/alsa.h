/*
 * The ALSA sequencer backend: the ports of the other sequencer clients of
 * the machine (hardware, software synthesizers, "Midi Through").
 */
#ifndef VOLTANIS_PLATFORM_ALSA_H
#define VOLTANIS_PLATFORM_ALSA_H

#include "../common/backend.h"

/* The one sequencer backend, opened at the first call as the client
   "Voltanis"; later calls return the same.  nullptr, with nothing printed,
   when the sequencer cannot be opened (no /dev/snd/seq): then this backend
   simply contributes no ports. */
vt::Backend *vtAlsaBackend(void);

#endif
