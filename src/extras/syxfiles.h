/*
 * SysEx capture into a folder: every complete SysEx received becomes a
 * file DIR/NNNN.syx holding exactly its bytes, F0 to F7.
 *
 * Numbers go on after the highest NNNN.syx in the folder, never into a gap,
 * so that the order of the numbers is the order of arrival, also across
 * runs.  All names of one run have the same number of digits, so that
 * they sort in that order: four, or more when the folder already holds a
 * name with more digits or the next number needs them (after 9999.syx a
 * run starts at 10000.syx).  A run never goes on to a wider number: when
 * the numbers of its width are used up, capture stops with an error.
 *
 * A file is there whole or not at all: its bytes go to a temporary name
 * that is this run's alone (a dot-name with the process id, created only
 * where no name is, so never through a planted link), and once the message
 * has ended with its F7 the file is moved to its number without replacing
 * anything there; a number another run (or anyone) took meanwhile is
 * passed over, to the number after the highest one then in the folder.
 * Another run's temporary files are never touched.  A message longer than
 * the input buffer arrives in pieces and is written piece by piece into
 * the one file; a message that does not arrive whole (cut off, broken by
 * the port's close, or begun but never ended) leaves no file.
 */
#ifndef VOLTANIS_EXTRAS_SYXFILES_H
#define VOLTANIS_EXTRAS_SYXFILES_H

#include "../platform/platform.h"

#include <stdint.h>

/* syxLastError after the numbers of the run's width were used up (bit 29:
   an error code of the application's own) */
#define SYX_NO_NUMBER_LEFT 0x20000101u

enum SyxStart {
    SyxReady,
    SyxNameTooLong,
    SyxNotAFolder,
    SyxCannotCreate, /* the folder (syxLastError says why) */
    SyxCannotList,   /* its names cannot be read, so no number is sure */
    SyxCannotWrite,  /* no file can be created in it */
    SyxNoNumberLeft  /* it holds a number too high to go on after */
};

/* Takes the folder, creating it when missing, finds the number to go on
   from and tries a file of this run in it.  Anything but SyxReady leaves
   capture off, and a folder this start created is removed again. */
SyxStart syxStart(const char *dir);
/* For a run that does not go ahead after all: capture off, and the folder
   removed when syxStart created it and it is still empty. */
void syxUndoStart(void);

enum SyxSaved { SyxNotSaved, SyxWritten, SyxFailed };

/* A SysEx received as the input buffer held it: a whole message, or the
   next piece of one longer than the buffer (the first starts with F0, the
   last ends with F7).  SyxWritten when it ended a message and the file is
   in place under its number; SyxFailed when the file could not be written
   (nothing is left under its name or the temporary one); capture is then
   off.  SyxNotSaved for a piece that more follows, for what belongs to no
   message begun, or with capture off. */
SyxSaved syxSave(const uint8_t *p, uint32_t n);
/* The message in progress was cut off: what of it was written goes. */
void syxCut(void);

/* The name of the latest file written or tried, and why it failed (a
   GetLastError code, or SYX_NO_NUMBER_LEFT) when it did. */
const char *syxLastName(void);
DWORD syxLastError(void);
/* The folder, with a separator at its end, and the digits of its names. */
const char *syxFolder(void);
unsigned syxDigits(void);

/* Capture off; a message in progress is dropped. */
void syxStop(void);

#endif
