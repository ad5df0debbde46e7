/*
 * Runs from a script, set up by the command line: the session's own texts
 * sent nowhere (errors to standard error), each received message as a
 * JSON object instead of a line, the lines coloured by kind, and the count
 * of the answers a run waits for.  The hooks the system code calls for
 * them are in extras.h; each does nothing while its tool is off.
 */
#ifndef VOLTANIS_EXTRAS_SCRIPT_H
#define VOLTANIS_EXTRAS_SCRIPT_H

#include <stdint.h>

/* Standard output carries only what the display shows of what was
   received; the other texts of the session go nowhere, its errors to
   standard error, a line each. */
void quietOn(void);
/* While on, standard output stays with the display between its lines (a
   listener prints nothing else), instead of being switched at each. */
void quietListening(int on);
/* One JSON object per line for each message shown, instead of its line. */
void jsonOn(void);
/* SGR colours on the lines of the text display, by the kind of message. */
void colorOn(void);
/* The run ends when `messages` messages were shown, or `sysex` whole SysEx
   messages (0: not counted). */
void expectOn(uint32_t messages, uint32_t sysex);
int expectMet(void);
/* One line on standard error for each count --expect asked for and did
   not get within timeoutMs. */
void expectSayMissing(long timeoutMs);

/* The message being taken (from the hooks of extras.cpp). */
void scriptShortTaken(uint32_t word, int64_t arrivalUs);
void scriptSysexTaken(const uint8_t *p, uint32_t n, int cut, int64_t arrivalUs);
void scriptOtherTaken(uint32_t word, int64_t arrivalUs);

/* every tool here off, its counts at 0 */
void scriptOff(void);

/* The program's start, which the times shown count from (extras.cpp). */
int64_t extrasOriginUs(void);

#endif
