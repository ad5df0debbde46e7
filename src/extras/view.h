/*
 * The tools of what the display says and shows (-x, --hide, --only,
 * --channel) as the other hooks of extras.cpp reach them: each message
 * taken is handed over here first, while either tool is on.
 */
#ifndef VOLTANIS_EXTRAS_VIEW_H
#define VOLTANIS_EXTRAS_VIEW_H

#include <stdint.h>

/* either tool is on */
extern bool gViewOn;

/* The message being taken, before it is recorded or shown; returns
   whether the display shows it, `usual` being its own answer (as
   receivedShown, without counting it). */
/* The input port the next messages taken come from (0 based; -1 for one
   port): the explanations keep each port's state apart. */
void viewSourceIs(int source);
int viewShortTaken(uint32_t word, int64_t arrivalUs, int usual);
/* cut: the message was cut off before its end, and means nothing */
int viewSysexTaken(const uint8_t *p, uint32_t n, int cut);
void viewOtherTaken(void);

/* What the message taken last means, without the separator that ends a
   line with it; "" without -x or for nothing to say. */
const char *receivedMeaning(void);

/* every tool of the view off, its state as at the start */
void viewOff(void);

#endif
