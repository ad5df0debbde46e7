/*
 * The port host: the one port service of every platform.  Its jobs, a file
 * each: the backends and the numbering of their ports (backends.cpp), the
 * outputs (output.cpp), the inputs (input.cpp); here, its table.
 *
 * Ports of all backends are numbered one after another per direction, in
 * the order of the backend list (the loopback port last).  A count call
 * takes a fresh snapshot of every backend; capability queries and opens
 * refer to the latest one.  Handles and headers follow the Windows
 * service: opaque non-zero handles, the header rules of common/midihdr.h,
 * a long message that has left when the call returns, input buffers
 * queued and handed back with MIM_LONGDATA (empty on a reset).  This is the
 * one place where input headers are queued and handed back, and where long
 * messages wait while the program holds its buffer (longinput.h); those
 * dropped for want of room are notified as MIM_VT_LONGLOST once the
 * waiting ones have been handed over, or at the reset.
 */
#include "hostpriv.h"

namespace vt {
namespace host {
namespace {

const VtMidiService kHost = {VT_MIDI_OPERATIONS(VT_MIDI_ENTRY)};

} // namespace
} // namespace host
} // namespace vt

const VtMidiService *vtRealMidi(void) { return &vt::host::kHost; }

int64_t vtArrivalUs(DWORD_PTR param2)
{
    if (sizeof(DWORD_PTR) >= sizeof(int64_t))
        return (int64_t)param2;
    /* 32 bits wrap every 71 minutes: the stamp is the latest time with
       these low bits that is not later than now */
    int64_t now = vtClockUs();
    return now - (int64_t)(uint32_t)((uint32_t)now - (uint32_t)param2);
}
