/*
 * SysEx capture into a folder: every complete SysEx received becomes a
 * file DIR/NNNN.syx holding exactly its bytes, F0 to F7.
 *
 * Numbers run on from the first one free in the folder (0000, 0001, ...;
 * five digits after 9999).  A file is written whole or not at all: its
 * bytes go to a temporary name (DIR/.NNNN.syx.tmp, created only where no
 * name is, so never through a planted link), which is then moved to its
 * number without replacing anything there; a number taken meanwhile is
 * skipped.  A message that did not arrive whole (a piece of an over-long
 * one, one without its F0 or F7) is not saved.
 */
#ifndef VOLTANIS_EXTRAS_SYXFILES_H
#define VOLTANIS_EXTRAS_SYXFILES_H

#include "../platform/platform.h"

#include <stdint.h>

enum SyxStart { SyxReady, SyxNameTooLong, SyxNotAFolder, SyxCannotCreate };

/* Takes the folder, creating it when missing, and finds the first free
   number.  Anything but SyxReady leaves capture off. */
SyxStart syxStart(const char *dir);

/* Whether p holds one whole SysEx message, F0 to F7. */
int syxWhole(const uint8_t *p, uint32_t n);

enum SyxSaved { SyxNotSaved, SyxWritten, SyxFailed };

/* Saves a whole message under the next number.  SyxFailed when the file
   could not be written (nothing is left under its name); capture is then
   off.  SyxNotSaved for a message that is not whole, or capture off. */
SyxSaved syxSave(const uint8_t *p, uint32_t n);

/* The name of the latest file written or tried, and why it failed (a
   GetLastError code) when it did. */
const char *syxLastName(void);
DWORD syxLastError(void);

/* Capture off, the folder forgotten. */
void syxStop(void);

#endif
