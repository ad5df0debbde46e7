/*
 * The winmm backend: the MIDI devices Windows knows (drivers, USB devices,
 * the built-in synthesizer).
 */
#ifndef VOLTANIS_PLATFORM_WINMM_H
#define VOLTANIS_PLATFORM_WINMM_H

#include "../common/backend.h"

/* The one winmm backend; it lives until the process ends.  With no device
   installed it offers no ports. */
vt::Backend *vtWinmmBackend(void);

#endif
