/*
 * Inside the POSIX console: what the tests reach beyond the service tables
 * (vtRealConsole, vtRealFiles of common/service.h).
 */
#ifndef VOLTANIS_POSIX_H
#define VOLTANIS_POSIX_H

#include "../common/service.h"

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
