/*
 * The ALSA sequencer backend: the ports of the other sequencer clients of
 * the machine (hardware, software synthesizers, "Midi Through").
 *
 * The files of a backend folder, one job each (winmm/ has the same names
 * for the parts it has):
 *
 *   alsa.h        this entry point, the only header the host includes.
 *   internal.h    the backend object, shared by the files below.
 *   backend.cpp   the backend object and its connection to the MIDI
 *                 system: the sequencer client, its buffers and pools,
 *                 and the entry point.
 *   portlist.cpp  which ports there are: the snapshot, their names and
 *                 addresses (what else changes the list belongs here).
 *   outport.cpp   an open output port: opening it, sending, closing.
 *   inport.cpp    an open input port: opening it, starting, stopping,
 *                 closing.
 *   reader.cpp    who reads what arrives: the reader thread, and the
 *                 console's pause reading on its behalf.
 *   seqlogic.*    what the backend decides on plain data (which ports,
 *                 their names, bytes to events and back), tested alone.
 *
 * A new kind of port (one other programs connect to) is a file of its
 * own beside outport.cpp and inport.cpp.
 */
#ifndef VOLTANIS_PLATFORM_ALSA_H
#define VOLTANIS_PLATFORM_ALSA_H

#include "../common/backend.h"

/* The one sequencer backend, opened at the first call as the client
   "Voltanis"; later calls return the same.  nullptr, with nothing printed,
   when the sequencer cannot be opened (no /dev/snd/seq): then this backend
   simply contributes no ports. */
vt::Backend *vtAlsaBackend(void);

/* The port other programs connect to (virtual.cpp), offered from now on
   under `name`; false when the sequencer is missing or refuses it. */
bool vtAlsaOffer(const char *name);

#endif
