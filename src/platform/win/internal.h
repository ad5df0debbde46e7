/*
 * Inside the Windows console: the few inner parts the Windows tests reach
 * directly.
 */
#ifndef VOLTANIS_WIN_INTERNAL_H
#define VOLTANIS_WIN_INTERNAL_H

#include "../platform.h"

namespace vtwin {

/* The first byte of a console key event that this layer hands out itself
   rather than conio (ESC, F1 to F12 without a character), and in *second
   the byte after it or -1; -1 for every other event. */
int ownKey(const KEY_EVENT_RECORD &k, int *second);

/* Looks at the standard input afresh (console or not) and forgets any
   buffered input and end-of-input state: for tests that swap the standard
   input handle. */
void consoleReset(void);

} // namespace vtwin

#endif
