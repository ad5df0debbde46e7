/*
 * The keyboard of the POSIX console: single unechoed keys in the shape of
 * a PC console keyboard (see keydecode.h), queued as they come, for
 * _kbhit, _getch, line input and the pause.
 *
 * On a terminal (in raw mode: terminal.cpp) the bytes go through the
 * decoder.  It knows a typed character from a key, so a character whose
 * first byte is 0xE0 is never taken for the prefix of a cursor key
 * (lastKeyIsCharacter).
 *
 * Standard input that is not a terminal (a pipe, a file) is taken as typed
 * keys without any decoding: each byte is one key, so a script can send a
 * function key as its two bytes (0x00 0x3B is F1).  Line ends may be LF,
 * CR or CR LF, all of them one Enter (13); DEL is Backspace as on the
 * terminal.  Escape sequences are not decoded there: without a person at a
 * keyboard there is no wait to tell ESC from a sequence, and a script that
 * writes ESC means ESC.  A closed standard input reads as an empty pipe.
 *
 * At the end of the input the keyboard answers so that the program ends as
 * if the user had confirmed the exit: a key is always waiting, and the keys
 * are ESC, Enter, ESC, Enter ...; line input reports the end (-1).
 */
#include "console_internal.h"
#include "keydecode.h"

#include "../common/lineedit.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

int64_t vtposix::nowUs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

int vtposix::msFromUs(int64_t us)
{
    if (us < 0)
        return -1;
    int64_t ms = (us + 999) / 1000;
    return ms > 1000000 ? 1000000 : (int)ms;
}

namespace {

using vtposix::msFromUs;
using vtposix::nowUs;

const unsigned kQueue = 512;
const uint16_t kPrefixed = vt::kKeyPrefixed; /* the prefix byte of a function or cursor key */

struct Keyboard {
    int in;
    bool terminal; /* keys decoded */
    bool eof;
    bool eofEnter;    /* at the end: the next key is Enter, not ESC */
    int64_t eofUs;    /* when the end of the input was reached */
    bool afterCR;     /* piped: a LF right after CR is the same line end */
    bool lastIsChar;  /* what lastKeyIsCharacter answers */
    bool afterPrefix; /* the key handed out before was a key prefix */
    VtKeyDecoder dec;
    int64_t lastByteUs; /* when the decoder was last fed */
    unsigned arrivals;  /* keys that came, and the end of the input */
    int64_t quietUs;    /* when a pause last found the keyboard quiet */
    uint16_t q[kQueue];
    unsigned head, count;
};

Keyboard gKeys;

void push(uint16_t key)
{
    if (gKeys.count < kQueue) {
        gKeys.q[(gKeys.head + gKeys.count) % kQueue] = key;
        gKeys.count++;
        gKeys.arrivals++;
    }
}

uint16_t pop(void)
{
    uint16_t key = gKeys.q[gKeys.head];
    gKeys.head = (gKeys.head + 1) % kQueue;
    gKeys.count--;
    return key;
}

void pushDecoded(const uint8_t *out, unsigned n)
{
    if (n == 2) {
        push((uint16_t)(out[0] | kPrefixed));
        push(out[1]);
    } else if (n == 1) {
        push(out[0]);
    }
}

void feed(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        uint8_t b = p[i];
        if (gKeys.terminal) {
            uint8_t out[VT_KEY_OUT_MAX];
            pushDecoded(out, vtKeyFeed(&gKeys.dec, b, out));
            continue;
        }
        if (gKeys.afterCR && b == '\n') {
            gKeys.afterCR = false;
            continue;
        }
        gKeys.afterCR = b == '\r';
        push(b == '\n' ? 13 : b == 0x7F ? 8 : b);
    }
    if (gKeys.terminal && n)
        gKeys.lastByteUs = nowUs();
}

void flushPending(void)
{
    uint8_t out[VT_KEY_OUT_MAX];
    pushDecoded(out, vtKeyTimeout(&gKeys.dec, out));
}

void reachEnd(void)
{
    if (gKeys.terminal && vtKeyPending(&gKeys.dec))
        flushPending();
    gKeys.eof = true;
    gKeys.eofUs = nowUs();
    gKeys.arrivals++;
}

/* A pipe's last line has just been sent; what it makes a port answer (the
   loopback at once, a device within milliseconds) should still be shown
   before the program leaves, so the end of the input counts as a key only
   after a short quiet time. */
const int64_t kEndQuietUs = 150000;

bool endReached(void) { return gKeys.eof && nowUs() - gKeys.eofUs >= kEndQuietUs; }

/* Microseconds until a started sequence counts as complete, or -1 when
   none is started; the lone ESC comes out when this is 0. */
int64_t escLeftUs(void)
{
    if (!gKeys.terminal || !vtKeyPending(&gKeys.dec))
        return -1;
    int64_t left = gKeys.lastByteUs + VT_KEY_ESC_WAIT_MS * 1000 - nowUs();
    return left > 0 ? left : 0;
}

void checkEscWait(void)
{
    if (escLeftUs() == 0)
        flushPending();
}

bool canRead(void)
{
    /* a byte can make two keys; leave the rest in the system's buffer */
    return !gKeys.eof && kQueue - gKeys.count >= 2 * VT_KEY_OUT_MAX;
}

/* Reads what the keyboard descriptor has (poll said it has something). */
void readSome(short revents)
{
    if (revents & POLLNVAL) {
        reachEnd();
        return;
    }
    uint8_t buf[64];
    size_t want = (kQueue - gKeys.count) / VT_KEY_OUT_MAX;
    if (want > sizeof buf)
        want = sizeof buf;
    ssize_t n = read(gKeys.in, buf, want);
    if (n > 0)
        feed(buf, (size_t)n);
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        reachEnd(); /* end of the pipe, or the terminal hung up */
}

/* Waits up to timeoutMs (-1 without limit) for bytes and reads them. */
void waitKeys(int timeoutMs)
{
    if (!canRead()) {
        if (timeoutMs > 0)
            poll(nullptr, 0, timeoutMs);
        return;
    }
    struct pollfd p = {gKeys.in, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) > 0)
        readSome(p.revents);
}

/* A pause that a notification ended has just looked at the keyboard as
   well: for this long _kbhit goes by that look, which spares a system call
   or two per message while messages come one by one.  A key typed just
   then is seen at most this much later. */
const int64_t kQuietTrustUs = 1000;

/* The next queued key with its prefix mark, waiting for it; vt::kKeyEnd
   at the end of the input. */
int nextKey(void)
{
    for (;;) {
        if (gKeys.count)
            return pop();
        if (gKeys.eof)
            return vt::kKeyEnd;
        waitKeys(msFromUs(escLeftUs()));
        if (gKeys.count == 0)
            checkEscWait();
    }
}

/* Piped: a byte 0 or 0xE0 is a key prefix, but for a 0xE0 followed by
   0xA0..0xBF, which begins a UTF-8 character. */
bool pipedPrefix(int key)
{
    if (key == 0)
        return true;
    if (key != 0xE0)
        return false;
    if (gKeys.count == 0 && canRead()) {
        struct pollfd p = {gKeys.in, POLLIN, 0};
        if (poll(&p, 1, 0) > 0)
            readSome(p.revents);
    }
    int next = gKeys.count ? gKeys.q[gKeys.head] : -1;
    return !(next >= 0xA0 && next <= 0xBF);
}

void noteKey(bool prefix)
{
    gKeys.lastIsChar = !prefix && !gKeys.afterPrefix;
    gKeys.afterPrefix = prefix;
}

/* Microseconds until the end of piped keys counts as a key, or -1 when
   that is not pending; the pause must end then. */
int64_t endLeftUs(void)
{
    if (!gKeys.eof || endReached())
        return -1;
    return gKeys.eofUs + kEndQuietUs - nowUs();
}

} // namespace

void vtposix::keysStart(int in, bool terminal)
{
    gKeys.in = in;
    gKeys.terminal = terminal;
    gKeys.eof = false;
    gKeys.eofEnter = false;
    gKeys.afterCR = false;
    gKeys.lastIsChar = true;
    gKeys.afterPrefix = false;
    gKeys.head = gKeys.count = 0;
    gKeys.lastByteUs = 0;
    gKeys.quietUs = 0;
    vtKeyInit(&gKeys.dec);
}

bool vtposix::keysWaiting(int64_t now)
{
    if (gKeys.count == 0 && canRead() && now - gKeys.quietUs >= kQuietTrustUs) {
        struct pollfd p = {gKeys.in, POLLIN, 0};
        if (poll(&p, 1, 0) > 0)
            readSome(p.revents);
    }
    if (gKeys.count == 0)
        checkEscWait();
    return gKeys.count > 0 || endReached();
}

int vtposix::keysNext(void) { return nextKey(); }

int vtposix::keysGetch(void)
{
    int key = nextKey();
    if (key >= 0) {
        noteKey(gKeys.terminal ? (key & kPrefixed) != 0 : pipedPrefix(key));
        return key & 0xFF;
    }
    int end = gKeys.eofEnter ? 13 : 27;
    gKeys.eofEnter = !gKeys.eofEnter;
    noteKey(false);
    return end;
}

bool vtposix::lastKeyIsCharacter(void) { return gKeys.lastIsChar; }

/* A pause reads piped keys ahead into the queue, so the queue counts as
   well as what the descriptor still holds (FIONREAD: a pipe's bytes, or
   what is left of a file; a device answers none). */
bool vtposix::keysUnread(void)
{
    if (gKeys.terminal)
        return false;
    if (gKeys.count > 0)
        return true;
    int n = 0;
    return !gKeys.eof && ioctl(gKeys.in, FIONREAD, &n) == 0 && n > 0;
}

/* ---- the keyboard as the pause waits on it ------------------------------ */

unsigned vtposix::keyArrivals(void) { return gKeys.arrivals; }

bool vtposix::keyEndPending(void) { return endLeftUs() >= 0; }

bool vtposix::keysQuiet(unsigned seen, bool endPending, int64_t *leftUs)
{
    int64_t esc = escLeftUs();
    if (esc == 0) {
        checkEscWait();
        esc = -1;
    }
    if (gKeys.arrivals != seen || (endPending && endReached()))
        return false;
    if (esc >= 0 && esc < *leftUs)
        *leftUs = esc;
    int64_t end = endLeftUs();
    if (end >= 0 && end < *leftUs)
        *leftUs = end;
    return true;
}

int vtposix::keyFd(void) { return canRead() ? gKeys.in : -1; }

void vtposix::keysRead(short revents) { readSome(revents); }

void vtposix::keysFoundQuiet(void) { gKeys.quietUs = nowUs(); }
