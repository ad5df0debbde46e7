/*
 * Inside the Windows console: what its parts share.
 *
 *   console.cpp   the console table and its start, the output buffer, the
 *                 wake-up
 *   pipekeys.cpp  keys, lines and the pause with a pipe or a file on the
 *                 standard input
 *   conkeys.cpp   the same with a console there
 */
#ifndef VOLTANIS_WIN_CONSOLE_INTERNAL_H
#define VOLTANIS_WIN_CONSOLE_INTERNAL_H

#include "../platform.h"

namespace vtwin {

const int kEsc = 27;
const int kEnter = 13;

/* ---- console.cpp -------------------------------------------------------- */

/* The standard input, as the console found it. */
extern HANDLE gIn;
/* Notes what the byte just handed out was: a prefix, the scan code after
   one, or a character (see lastKeyIsCharacter). */
void noteKey(bool prefix);
/* Set by vtWake; ends a pause. */
HANDLE wakeEvent(void);

/* ---- pipekeys.cpp ------------------------------------------------------- */

int pipeKbhit(void);
int pipeGetch(void);
int pipeReadLine(char *buf, unsigned size);
void pipeSleep(unsigned long ms);
/* Forgets buffered input and the end of the input. */
void pipeReset(void);
/* Bytes wait that no key was taken from (standardInputUnread). */
bool pipeUnread(void);

/* ---- conkeys.cpp -------------------------------------------------------- */

int consoleKbhit(void);
int consoleGetch(void);
int consoleReadLine(char *buf, unsigned size);
void consoleSleep(unsigned long ms);

} // namespace vtwin

#endif
