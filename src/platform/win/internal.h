/*
 * Inside the Windows platform layer: what service.cpp and console.cpp share,
 * and the few inner parts the Windows tests reach directly.
 */
#ifndef VOLTANIS_WIN_INTERNAL_H
#define VOLTANIS_WIN_INTERNAL_H

#include "../platform.h"

namespace vtwin {

/* An input opened with a callback function: winmm calls inTrampoline with
   the slot as its instance; the trampoline calls the caller's callback with
   the caller's instance, then wakes the main loop's pause. */
struct InSlot {
    bool used;
    HMIDIIN handle;
    VtMidiInProc proc;
    DWORD_PTR instance;
};
const unsigned kInSlots = 4;

void CALLBACK inTrampoline(HMIDIIN h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2);
unsigned inSlotsInUse(void);

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
