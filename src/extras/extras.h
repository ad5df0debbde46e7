/*
 * The time and SysEx tools of the command line, and the few places where
 * the system code calls them:
 *
 *   -t, --timestamps  each received line of the text display starts with
 *                     its arrival time; the first message after a
 *                     transmission also shows the reply latency
 *   --syx DIR         each whole SysEx received also goes to DIR/NNNN.syx
 *   --gap MS          a send file pauses MS ms after each F7 it sends
 *   --smf FILE        everything received goes to a Standard MIDI File
 *   -x, --explain     each line of the text display ends with what the
 *                     message means
 *   --hide, --only, --channel
 *                     what the display shows, by kind and channel
 *
 * Each hook does nothing (and reads no clock) while its tool is off, so
 * that without the options the program behaves, prints and writes exactly
 * as without these tools.  Everything runs on the main thread; the
 * arrival times come from the port layer (MIDI_IO_VT_ARRIVAL_US).
 */
#ifndef VOLTANIS_EXTRAS_H
#define VOLTANIS_EXTRAS_H

#include "filters.h"
#include "syxfiles.h"
#include "textout.h"

#include <stdint.h>

/* ---- set up by the command line, before the session ----------------- */

/* The program's start: arrival times and the log's ticks count from it. */
void extrasSetOrigin(int64_t originUs);
void timestampsOn(void);
/* SyxReady when capture is on; otherwise what is wrong with the folder
   (syxLastError says why where a system call failed), and capture stays
   off. */
SyxStart syxCaptureOn(const char *dir);
void sendGapOn(unsigned ms);

enum SmfStart {
    SmfReady,
    SmfExists,   /* and no force */
    SmfNotAFile, /* a link, a folder or a device */
    SmfReadOnly,
    SmfInUse,       /* another open holds it: another run's log or record file */
    SmfPresetFile,  /* VOLTANIS.SET of this run's folder */
    SmfRecordFile,  /* VOLTANIS.REC of this run's folder */
    SmfCaptureName, /* a name --syx capture may give a file of its folder */
    SmfNoName,
    SmfNameTooLong,
    SmfCannotCreate /* smfStartError says why */
};
/* Creates FILE and starts the log; the file is held (as the record file
   is) until the log ends.  An existing FILE is replaced only with force,
   and only when it is a plain file that may be written and that nobody
   holds.  This run's own files are never the log: the preset and record
   files of the current folder, and in the folder of --syx (syxDir, or
   null) the names capture may give a file.  The new file is created where
   no name is. */
SmfStart smfLogOn(const char *file, int force, const char *syxDir);
/* Why smfLogOn answered SmfCannotCreate (a system error code). */
DWORD smfStartError(void);

/* What the text display says and shows; filtersOn with no filter in *f
   turns nothing on. */
void explainOn(void);
void filtersOn(const ViewFilter *f);

/* At the exit: the log's header brought up to date and its file closed;
   every tool off.  (At a signal that ends the program the log's header is
   brought up to date all the same.) */
void extrasFinish(void);
/* Instead, for a start that failed: every tool off, and nothing the start
   created stays (the --syx folder it made, while still empty). */
void extrasStartFailed(void);

/* ---- hooks: the display of what was received (input/display.cpp) ----- */

/* A message taken from the capture, before it is recorded or shown: it is
   logged, saved, and checked for being the reply to a transmission. */
void noteShortReceived(uint32_t word, int64_t arrivalUs);
void noteSysexReceived(const uint8_t *p, uint32_t n, int64_t arrivalUs);
/* A SysEx another status byte cut off (its bytes so far, none when it had
   come in pieces and was cut right after one): logged as it came, never
   saved as a .syx file. */
void noteSysexCut(const uint8_t *p, uint32_t n, int64_t arrivalUs);
void noteOtherReceived(int64_t arrivalUs); /* a wild byte */
/* For a line of the text display about the message taken last: its time
   column, which starts the line, and its reply latency, which ends it;
   each "" when there is none to show. */
const char *receivedTimeColumn(void);
const char *receivedReplyNote(void);
/* Whether the message taken last is shown: `usual` is the display's own
   answer (0 for what CTRL-B hides); the filters may hide a message, and
   --only shows what it names even then.  Counts what the filters hid. */
int receivedShown(int usual);
/* What ends a line of the text display about the message taken last: its
   reply latency (as receivedReplyNote), then what the message means,
   "  ; Volume = 100", where the blanks and the semicolon let a script cut
   it off; "" for neither.  For a message that has no line (a Timing Clock
   CTRL-B hides) it is "" too, unless the clock's tempo is news, which then
   has a line of its own. */
const char *receivedLineEnd(void);

/* The source port of the message taken last, as names are shown; null while there is one input. */
const char *receivedSourceName(void);

/* ---- ports that come and go, several inputs -------------------------- */

/* The port other programs connect to is offered under this name
   (--virtual): connections to it are told by it. */
void offeredPortOn(const char *name);
/* hook: the port change (frontend/select.cpp, CTRL-N), before the ports
   are chosen again: one port each way from now on. */
void portChangeBegins(void);

/* ---- hooks: transmissions (output/output.cpp, output/sendfile.cpp) --- */

/* Around each long message sent: the reply clock (a message of no byte
   sends nothing to reply to). */
int64_t transmissionBegins(void);
void transmissionEnded(int64_t beganUs, int bytes);
/* A send file's block ends after an F7 when there is a gap to keep. */
int gapEndsBlock(uint8_t byte);
/* The gap after a block that ended with F7; 1 when F8 ended it. */
int gapAfterBlock(const uint8_t *block, int32_t n);

/* ---- hook: the exit prompt (frontend/mainloop.cpp) -------------------- */

/* Before the prompt: a line with how many messages the filters hid, when
   they hid any. */
void exitPromptNotes(void);

/* ---- hook: the idle main loop (frontend/mainloop.cpp) ----------------- */

/* What is due by the clock: the log's header update once a second; and
   what the log held back until the messages that arrived before it were
   taken.  And the ports: a line when a chosen port vanished or came back
   (at most one a second for each, with a count of the rest), a marker in
   the log for each of the input. */
void timedWork(void);
/* When timedWork has something to do next (vtClockUs), -1 for nothing:
   for a main loop that sleeps until a timer. */
int64_t timedWorkDueUs(void);

/* ---- hooks: runs from a script (extras/script.h) --------------------- */

/* Before the display shows anything of the message taken last (shown: the
   display shows it; 0 for the line a tool may still have about it): counts
   it for --expect, and 0 when its JSON object took the place of the
   display's own.  receivedDisplayEnds follows what the display showed. */
int receivedDisplayBegins(int shown);
void receivedDisplayEnds(void);
/* The same for the loss lines (the counts of the loss they tell of);
   receivedDisplayEnds follows them. */
int lossDisplayBegins(uint32_t lost, uint32_t longLost, uint32_t overflows);
/* An error line, printed as printf would; in a quiet run it goes to
   standard error instead, alone on its line. */
void errorLine(const char *format, ...) VT_PRINTF_LIKE(1, 2);
/* The record file's name: VOLTANIS.REC, or the one of --record. */
const char *recordFileName(void);
void recordFileOn(const char *name);
/* CTRL-C or SIGTERM asked a run from a script to stop (a transfer stops
   as at F8). */
int stopRequested(void);

/* The source port of the message taken last, as names are shown; null while there is one input. */
const char *receivedSourceName(void);

#endif
