/*
 * Inside the POSIX console: what its parts share.
 *
 *   console.cpp   the console table and its start, line input, the
 *                 output buffer
 *   keyboard.cpp  the keys, queued as they come
 *   terminal.cpp  the terminal's modes and their restore
 *   signals.cpp   every signal handler
 *   pause.cpp     the pause: the wait on the wake-up, the keyboard and the
 *                 backends' descriptors (pausewatch.h)
 */
#ifndef VOLTANIS_POSIX_CONSOLE_INTERNAL_H
#define VOLTANIS_POSIX_CONSOLE_INTERNAL_H

#include <stdint.h>

namespace vtposix {

/* ---- terminal.cpp ------------------------------------------------------- */

/* Puts fd in raw mode when it is a terminal; false when it is none. */
bool termEnter(int fd);
/* Puts the terminal back as termEnter found it, for good. */
void termLeave(void);
/* Async-signal-safe: back as it was, and raw again (after a stop). */
void termCooked(void);
void termRaw(void);

/* ---- signals.cpp -------------------------------------------------------- */

/* fflush(stdout), with a signal that would end the process held back
   until it is over (main thread). */
void flushStdout(void);
/* A write past the file size limit fails instead of ending the process. */
void ignoreFileSizeLimit(void);
/* Handlers for every signal that ends the process (standard output is
   flushed, the terminal given back); on a terminal also the exit hook and
   the handlers around a suspend. */
void catchSignals(bool terminal);

/* ---- keyboard.cpp ------------------------------------------------------ */

/* The monotonic clock. */
int64_t nowUs(void);
/* Milliseconds for poll, rounded up; -1 (no limit) for a negative time. */
int msFromUs(int64_t us);

/* Starts afresh on the descriptor in (decoded when it is a terminal). */
void keysStart(int in, bool terminal);
/* _kbhit's answer at `now`: a key, or the end of the input, is there. */
bool keysWaiting(int64_t now);
/* The next key with its prefix mark, waiting for it; vt::kKeyEnd at the
   end of the input (for the line editor). */
int keysNext(void);
/* _getch's answer: the next key byte, waiting for it; at the end of the
   input ESC, Enter, ESC ... */
int keysGetch(void);
bool lastKeyIsCharacter(void);
/* Piped or file keys wait that were not taken (standardInputUnread). */
bool keysUnread(void);

/* The keyboard as the pause waits on it: */
/* Counts every key that comes, and the end of the input. */
unsigned keyArrivals(void);
/* The end of piped keys is there but does not count as a key yet. */
bool keyEndPending(void);
/* Before each wait of a pause: hands out a lone ESC whose wait is over;
   false when a key has come since `seen` (or, with `endPending`, the end
   of piped keys counts as one now), which ends the pause; else lowers
   *leftUs to the time when the keyboard has something due. */
bool keysQuiet(unsigned seen, bool endPending, int64_t *leftUs);
/* The descriptor to wait on for keys, -1 when no more are to be read now. */
int keyFd(void);
/* Reads what the keyboard descriptor has (poll said it has something). */
void keysRead(short revents);
/* A pause has just found the keyboard quiet (see kQuietTrustUs). */
void keysFoundQuiet(void);

/* ---- pause.cpp ---------------------------------------------------------- */

/* Makes the wake-up descriptor, once. */
void wakeCreate(void);
/* Waits up to ms for a key, a notification or what a backend's source
   reads; beforeWait runs first, unless a notification came since the last
   pause, which ends this one at once. */
void pauseFor(unsigned long ms, void (*beforeWait)(void));
/* The keyboard's descriptor may be another file from now on. */
void pauseKeysRestarted(void);
/* At _kbhit, the main thread busy outside the pause: tells the sources how
   long since it last waited in one (PauseWatch::mainBusy). */
void pauseBusy(int64_t now);
/* The main thread is about to wait outside the pause: for keys, or for a
   long write to end. */
void pauseElsewhere(void);

} // namespace vtposix

#endif
