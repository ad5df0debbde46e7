/*
 * The real console and files on POSIX systems, as the service tables the
 * contract functions forward to (see common/service.h).
 */
#ifndef VOLTANIS_POSIX_H
#define VOLTANIS_POSIX_H

#include "../common/service.h"

/* The terminal keyboard and line input on standard input and output. */
const VtConsole *vtPosixConsole(void);

/* Files on POSIX calls: exclusive (unshared) opens by advisory lock,
   unbuffered writes. */
const VtFiles *vtPosixFiles(void);

/*
 * Tests only: the console starts afresh on these descriptors instead of
 * standard input and output, as at program start but without signal
 * handlers or exit hooks.  When inFd is a terminal it is put in raw mode;
 * vtPosixConsoleDetach puts it back as it was and forgets the descriptors
 * (the next console call starts again on standard input).
 */
void vtPosixConsoleAttach(int inFd, int outFd);
void vtPosixConsoleDetach(void);

#endif
