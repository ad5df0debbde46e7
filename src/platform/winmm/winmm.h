/*
 * The winmm backend: the MIDI devices Windows knows (drivers, USB devices,
 * the built-in synthesizer).
 *
 * Its files have the names and jobs of those in alsa/ (see alsa.h), for
 * the parts winmm has: internal.h, backend.cpp (the entry point, and the
 * device list, which winmm keeps itself), outport.cpp, inport.cpp.  winmm
 * reads input itself and calls back, so there is no reader.
 */
#ifndef VOLTANIS_PLATFORM_WINMM_H
#define VOLTANIS_PLATFORM_WINMM_H

#include "../common/backend.h"

/* The one winmm backend; it lives until the process ends.  With no device
   installed it offers no ports. */
vt::Backend *vtWinmmBackend(void);

#endif
