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

#define VT_HOST_OPERATION(name, result, params, args) result name params;
VT_MIDI_OPERATIONS(VT_HOST_OPERATION)
#undef VT_HOST_OPERATION

} // namespace host
} // namespace vt

#endif
