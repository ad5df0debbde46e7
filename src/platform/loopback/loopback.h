/*
 * The built-in loopback port "Voltanis Loopback": one output and one input;
 * what is sent to the output arrives at the input, so that the program can
 * be tried with no MIDI hardware and no other MIDI software.
 */
#ifndef VOLTANIS_PLATFORM_LOOPBACK_H
#define VOLTANIS_PLATFORM_LOOPBACK_H

#include "../common/backend.h"

#define VT_LOOPBACK_NAME "Voltanis Loopback"

/* The one loopback backend; it lives until the process ends. */
vt::Backend *vtLoopbackBackend(void);

#endif
