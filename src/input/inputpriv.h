/*
 * Helpers shared by the files of the MIDI input subsystem only.
 */
#ifndef VOLTANIS_INPUTPRIV_H
#define VOLTANIS_INPUTPRIV_H

#include "input.h"

/* One write to the record file.  1 when every byte was reported written;
   otherwise the failure is reported, the file closed, recording turned
   off, and 0 is returned. */
int recWrite(const void *data, DWORD n);

/* Progress dot of quiet recording: one "." once more than 2000 bytes were
   recorded since the last one. */
void recDotCheck(void);

#endif
