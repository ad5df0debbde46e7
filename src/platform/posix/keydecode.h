/*
 * Terminal key decoder: turns the bytes a terminal sends for its keys into
 * the key bytes of a PC console keyboard, the way _getch delivers them.
 *
 *   ordinary characters and control keys   as typed (one byte)
 *   Backspace (DEL, 0x7F)                  0x08
 *   F1..F10, F11, F12                      0x00, then 0x3B..0x44, 0x85, 0x86
 *   cursor and editing keys                0xE0, then the scan code:
 *       Home 47  Up 48  PgUp 49  Left 4B  Right 4D  End 4F
 *       Down 50  PgDn 51  Insert 52  Delete 53
 *   ESC on its own                         0x1B, once the wait is over
 *
 * Sequences understood: SS3 (ESC O P..S, also with a modifier digit
 * ESC O 2 P, and the application keypad ESC O p..y, M, j..o, X), CSI with
 * numeric parameters (ESC [ 15 ~, ESC [ 1 ; 2 P, ESC [ 15 ; 5 ~), rxvt's
 * ESC [ 11 ~ .. ESC [ 14 ~ and its final bytes ^ $ @, and the Linux
 * console's ESC [ [ A .. ESC [ [ E.
 *
 * Decisions, so that nothing typed ever turns into stray characters:
 * - Modifiers are not told apart: Shift-F5 (ESC [ 15 ; 2 ~) gives F5, and
 *   ESC ESC [ A (Alt-Up on rxvt) gives Up.  Desktop terminals keep F1, F10
 *   and F11 for themselves; Shift or Ctrl with the key still reaches us.
 * - ESC followed within the wait by a byte that cannot start a sequence is
 *   Alt plus that key (Alt-a sends ESC a), indistinguishable from a real ESC
 *   typed faster than the wait; both bytes are dropped, as the program
 *   ignores Alt combinations.  Passing on the ESC instead would turn an
 *   Alt-Enter into "exit the program".  Likewise ESC ESC (Alt-ESC).
 * - An unknown or malformed sequence is dropped whole.  A byte that cannot
 *   belong to a sequence (a control character, ESC, a byte above 0x7E)
 *   ends it; the sequence so far is dropped and the byte is taken afresh.
 * - A typed NUL (CTRL-@) is dropped: as a key byte it would be taken for
 *   the function-key prefix and swallow the key after it.
 * - 8-bit CSI and SS3 (0x9B, 0x8F) are not decoded: with UTF-8 those bytes
 *   are parts of characters.  A raw 0xE0 typed as text passes unchanged.
 *
 * The decoder is pure: no clock, no I/O.  The caller feeds the bytes as they
 * come and, when vtKeyPending() is true and no byte has come for the wait,
 * calls vtKeyTimeout().
 */
#ifndef VOLTANIS_POSIX_KEYDECODE_H
#define VOLTANIS_POSIX_KEYDECODE_H

#include <stdint.h>

/* The most key bytes a single feed or timeout call can produce. */
#define VT_KEY_OUT_MAX 2

/* How long a lone ESC waits for the rest of a sequence, in milliseconds. */
#define VT_KEY_ESC_WAIT_MS 40

/* Parameter bytes kept of one sequence; longer ones are consumed to their
   end and dropped. */
#define VT_KEY_PARAM_MAX 16

struct VtKeyDecoder {
    uint8_t state;
    uint8_t skip;     /* continuation bytes still to drop */
    uint8_t nparam;   /* parameter bytes kept */
    uint8_t overflow; /* the sequence ran past the keep */
    uint8_t param[VT_KEY_PARAM_MAX];
};

void vtKeyInit(VtKeyDecoder *d);

/* Feeds one byte.  Writes the key bytes it completes to out and returns how
   many (0..VT_KEY_OUT_MAX).  A prefixed key (function or cursor key) always
   comes out whole from a single call, as exactly two bytes; a single byte
   out is always an ordinary key. */
unsigned vtKeyFeed(VtKeyDecoder *d, uint8_t byte, uint8_t out[VT_KEY_OUT_MAX]);

/* True while the decoder holds the start of a sequence and waits for more. */
bool vtKeyPending(const VtKeyDecoder *d);

/* The wait ran out with nothing more: a lone ESC comes out as 27, a partial
   sequence is dropped.  Returns the number of key bytes written. */
unsigned vtKeyTimeout(VtKeyDecoder *d, uint8_t out[VT_KEY_OUT_MAX]);

#endif
