/*
 * What the files of the port host share: the lock of its bookkeeping, the
 * port numbering, and the operations of its service table, each defined in
 * the file of its job (backends.cpp, output.cpp, input.cpp).
 */
#ifndef VOLTANIS_PLATFORM_HOSTPRIV_H
#define VOLTANIS_PLATFORM_HOSTPRIV_H

#include "../common/backend.h"
#include "../common/service.h"

#include <mutex>

namespace vt {
namespace host {

/* The backend list, the snapshots, the open and close bookkeeping. */
extern std::mutex gPortsMx;

/* The backend and its own number for a port number of the latest count;
   gPortsMx held. */
Backend *locate(bool out, UINT id, unsigned *local);

/* Close every open output, drop every open input (without notifications:
   the headers an input held are done and forgotten); gPortsMx held. */
void closeOutputs();
void dropInputs();

/* Following vanished ports (follow.cpp): the news of the open outputs and
   inputs, up to max; with look, vanished ones are looked for by name.
   gPortsMx held, main thread. */
int followOutputs(VtPortEvent *ev, int max, bool look);
int followInputs(VtPortEvent *ev, int max, bool look);
/* Whether an open port is gone; pollOnly: one of a backend that does not
   tell when it comes back. */
bool outputsGone(bool pollOnly);
bool inputsGone(bool pollOnly);
/* The backends' own news; gPortsMx held. */
int backendNews(VtPortEvent *ev, int max);

/* The merged inputs (input.cpp). */
int inAlso(const UINT *ids, int n);
int lastSources();
const char *lastSourceName(int i);
int lastLongSource();

#define VT_HOST_OPERATION(name, result, params, args) result name params;
VT_MIDI_OPERATIONS(VT_HOST_OPERATION)
#undef VT_HOST_OPERATION

} // namespace host
} // namespace vt

#endif
