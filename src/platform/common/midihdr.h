/*
 * The rules of the long-message header (MIDIHDR) and of the open flags, as
 * the Windows multimedia service keeps them: the prepared, queued and done
 * flags and the error code each wrong state answers.  The port host applies
 * them on every platform; nothing else keeps a copy.
 */
#ifndef VOLTANIS_PLATFORM_MIDIHDR_H
#define VOLTANIS_PLATFORM_MIDIHDR_H

#include "../platform.h"

#include <stddef.h>

namespace vt {

/* The bits of an open's flags that say how notifications come. */
const DWORD kCallbackTypeMask = 0x00070000;
/* The smallest header size the service accepts: everything up to the
   driver's own fields. */
const UINT kMinHeaderSize = (UINT)offsetof(MIDIHDR, dwOffset);

/* midiOutPrepareHeader, midiInPrepareHeader: a header already prepared is
   left as it is. */
MMRESULT prepareHeader(LPMIDIHDR hdr, UINT size);
/* midiOutUnprepareHeader, midiInUnprepareHeader: refused while queued. */
MMRESULT unprepareHeader(LPMIDIHDR hdr, UINT size);
/* Whether midiOutLongMsg may send this header (an empty one may). */
MMRESULT checkLongMessage(LPMIDIHDR hdr, UINT size);
/* Whether midiInAddBuffer may queue this header (it needs room). */
MMRESULT checkAddedBuffer(LPMIDIHDR hdr, UINT size);

/* The header now belongs to the service (sending, or queued for input). */
void headerQueued(LPMIDIHDR hdr);
/* The service is done with it and gives it back. */
void headerDone(LPMIDIHDR hdr);

} // namespace vt

#endif
