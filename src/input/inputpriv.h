/*
 * Helpers shared by the files of the MIDI input subsystem only.
 */
#ifndef VOLTANIS_INPUTPRIV_H
#define VOLTANIS_INPUTPRIV_H

#include "input.h"

/* The capture's queues, taken by the display on the main thread; each
   entry with the time it arrived (vtClockUs). */
/* The oldest waiting short message; 0 when none waits. */
int takeShortMessage(uint32_t *word, int64_t *arrivalUs);
/* 1 when a complete SysEx of *len bytes waits in gRbuf2.  The input buffer
   is queued again here, and a broken-off or empty hand-back is dealt with
   (never shown). */
int takeSysex(uint32_t *len, int64_t *arrivalUs);
/* The oldest waiting invalid-byte notice; 0 when none waits. */
int takeWildByte(uint32_t *word, int64_t *arrivalUs);
/* The losses since the last report (gRLost, gRLongLost, gROverflows),
   taken once the ring has been emptied; 0 while it still holds messages. */
int takeLosses(uint32_t *lost, uint32_t *longLost, uint32_t *overflows);

/* One write to the record file.  1 when every byte was reported written;
   otherwise the failure is reported, the file closed, recording turned
   off, and 0 is returned. */
int recWrite(const void *data, DWORD n);

/* Progress dot of quiet recording: one "." once more than 2000 bytes were
   recorded since the last one. */
void recDotCheck(void);

#endif
