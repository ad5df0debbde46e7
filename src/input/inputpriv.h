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
/* 1 when a SysEx of *len bytes waits in gRbuf2: a whole message or a
   piece of one (*cut 0), or one that another status byte broke off (*cut
   1; *len may then be 0).  The input buffer is queued again here, and the
   empty hand-back of a reset is dealt with (no message). */
int takeSysex(uint32_t *len, int *cut, int64_t *arrivalUs);
/* The oldest waiting invalid-byte notice; 0 when none waits. */
int takeWildByte(uint32_t *word, int64_t *arrivalUs);
/* 1 when a long message waits that arrived before the oldest waiting
   invalid byte: that byte is shown after it. */
int sysexCameFirst(void);
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
