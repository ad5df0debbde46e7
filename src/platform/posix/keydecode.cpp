/*
 * Terminal key decoder.  A small state machine over ECMA-48 style input
 * sequences; see keydecode.h for what comes out and why.
 */
#include "keydecode.h"

namespace {

enum State : uint8_t {
    GROUND,    /* between keys */
    ESC1,      /* ESC seen */
    ESC2,      /* ESC ESC seen: Alt, or the meta prefix of a sequence */
    CSI,       /* ESC [ and parameters */
    CSI_LINUX, /* ESC [ [ of the Linux console's F1..F5 */
    SS3        /* ESC O and an optional modifier */
};

const uint8_t ESC = 0x1B;

/* scan codes of the cursor and editing keys */
const uint8_t SC_HOME = 0x47, SC_UP = 0x48, SC_PGUP = 0x49, SC_LEFT = 0x4B, SC_RIGHT = 0x4D, SC_END = 0x4F,
              SC_DOWN = 0x50, SC_PGDN = 0x51, SC_INSERT = 0x52, SC_DELETE = 0x53;

unsigned funcKey(int n, uint8_t out[VT_KEY_OUT_MAX])
{
    /* F1..F10 run on from 0x3B; F11 and F12 came later and sit apart */
    out[0] = 0x00;
    out[1] = n <= 10 ? (uint8_t)(0x3A + n) : (uint8_t)(0x85 + (n - 11));
    return 2;
}

unsigned editKey(uint8_t scan, uint8_t out[VT_KEY_OUT_MAX])
{
    out[0] = 0xE0;
    out[1] = scan;
    return 2;
}

/* The key of a VT220-style "number ~" sequence; 0 when unknown. */
unsigned tildeKey(int n, uint8_t out[VT_KEY_OUT_MAX])
{
    switch (n) {
    case 1:
    case 7: return editKey(SC_HOME, out); /* 7, 8: rxvt */
    case 2: return editKey(SC_INSERT, out);
    case 3: return editKey(SC_DELETE, out);
    case 4:
    case 8: return editKey(SC_END, out);
    case 5: return editKey(SC_PGUP, out);
    case 6: return editKey(SC_PGDN, out);
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: /* 11..14: rxvt F1..F4 */ return funcKey(n - 10, out);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return funcKey(n - 11, out);
    case 23:
    case 24: return funcKey(n - 12, out);
    default: return 0;
    }
}

/* Keys named by a letter, after CSI or SS3: cursor keys and F1..F4. */
unsigned letterKey(uint8_t c, uint8_t out[VT_KEY_OUT_MAX])
{
    switch (c) {
    case 'A':
    case 'a': return editKey(SC_UP, out); /* a..d: rxvt with Shift or Ctrl */
    case 'B':
    case 'b': return editKey(SC_DOWN, out);
    case 'C':
    case 'c': return editKey(SC_RIGHT, out);
    case 'D':
    case 'd': return editKey(SC_LEFT, out);
    case 'H': return editKey(SC_HOME, out);
    case 'F': return editKey(SC_END, out);
    case 'P':
    case 'Q':
    case 'R':
    case 'S': return funcKey(c - 'P' + 1, out);
    default: return 0;
    }
}

/*
 * The first numeric parameter of a sequence: -1 when there is none,
 * -2 when the parameters are not plain numbers (private markers,
 * intermediates) or the number is absurdly large.
 */
int firstParam(const VtKeyDecoder *d)
{
    int value = -1;
    bool first = true;
    for (unsigned i = 0; i < d->nparam; i++) {
        uint8_t c = d->param[i];
        if (c == ';') {
            first = false;
            continue;
        }
        if (c < '0' || c > '9')
            return -2;
        if (first) {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 9999)
                return -2;
        }
    }
    return value;
}

unsigned csiFinal(const VtKeyDecoder *d, uint8_t c, uint8_t out[VT_KEY_OUT_MAX])
{
    if (d->overflow)
        return 0;
    int p = firstParam(d);
    if (p == -2)
        return 0;
    switch (c) {
    case '~':
    case '^':
    case '$':
    case '@': /* ^ $ @: rxvt with modifiers */ return p < 0 ? 0 : tildeKey(p, out);
    case 'a':
    case 'b':
    case 'c':
    case 'd': return d->nparam == 0 ? letterKey(c, out) : 0;
    default:
        /* ESC [ A, and with a modifier ESC [ 1 ; 5 A; any other count
           would be a cursor movement, not a key */
        return (p == -1 || p == 1) ? letterKey(c, out) : 0;
    }
}

unsigned ss3Final(const VtKeyDecoder *d, uint8_t c, uint8_t out[VT_KEY_OUT_MAX])
{
    if (d->overflow || firstParam(d) == -2)
        return 0;
    /* the application keypad, should the terminal have been left in it */
    if (c >= 'p' && c <= 'y') {
        out[0] = (uint8_t)('0' + (c - 'p'));
        return 1;
    }
    const char *keypad = "M\rj*k+l,m-n.o/X=";
    for (const char *k = keypad; *k; k += 2)
        if (c == (uint8_t)k[0]) {
            out[0] = (uint8_t)k[1];
            return 1;
        }
    return letterKey(c, out);
}

/* continuation bytes that follow a UTF-8 lead byte */
uint8_t utf8Tail(uint8_t b)
{
    if (b >= 0xC2 && b <= 0xDF)
        return 1;
    if (b >= 0xE0 && b <= 0xEF)
        return 2;
    if (b >= 0xF0 && b <= 0xF4)
        return 3;
    return 0;
}

void beginSequence(VtKeyDecoder *d, uint8_t state)
{
    d->state = state;
    d->nparam = 0;
    d->overflow = 0;
}

void keepParam(VtKeyDecoder *d, uint8_t b)
{
    if (d->nparam < VT_KEY_PARAM_MAX)
        d->param[d->nparam++] = b;
    else
        d->overflow = 1;
}

/* Alt plus a key: dropped, together with the rest of a UTF-8 character. */
unsigned dropAlt(VtKeyDecoder *d, uint8_t b)
{
    d->state = GROUND;
    d->skip = utf8Tail(b);
    return 0;
}

unsigned ground(VtKeyDecoder *d, uint8_t b, uint8_t out[VT_KEY_OUT_MAX])
{
    if (d->skip) {
        if (b >= 0x80 && b <= 0xBF) {
            d->skip--;
            return 0;
        }
        d->skip = 0;
    }
    if (b == ESC) {
        d->state = ESC1;
        return 0;
    }
    /* a NUL (CTRL-@, CTRL-Space) would read as the function-key prefix
       and swallow the next key as its scan code */
    if (b == 0x00)
        return 0;
    out[0] = b == 0x7F ? 0x08 : b;
    return 1;
}

} // namespace

void vtKeyInit(VtKeyDecoder *d)
{
    d->state = GROUND;
    d->skip = 0;
    d->nparam = 0;
    d->overflow = 0;
}

unsigned vtKeyFeed(VtKeyDecoder *d, uint8_t b, uint8_t out[VT_KEY_OUT_MAX])
{
    switch (d->state) {
    case ESC1:
    case ESC2:
        if (b == '[') {
            beginSequence(d, CSI);
            return 0;
        }
        if (b == 'O') {
            beginSequence(d, SS3);
            return 0;
        }
        if (b == ESC) {
            /* ESC ESC waits for a sequence to follow; a third ESC drops the
               pair (Alt-ESC) and starts afresh */
            d->state = d->state == ESC1 ? ESC2 : ESC1;
            return 0;
        }
        return dropAlt(d, b);

    case CSI:
        if (b == '[' && d->nparam == 0 && !d->overflow) {
            d->state = CSI_LINUX;
            return 0;
        }
        /* rxvt ends a shifted key with '$', by the grammar an
           intermediate byte; after a number it can only be that */
        if ((b >= 0x40 && b <= 0x7E) || (b == '$' && d->nparam > 0)) {
            d->state = GROUND;
            return csiFinal(d, b, out);
        }
        if (b >= 0x20 && b <= 0x3F) {
            keepParam(d, b);
            return 0;
        }
        break; /* cannot belong to a sequence */

    case CSI_LINUX:
        if (b >= 0x20 && b <= 0x7E) {
            d->state = GROUND;
            return (b >= 'A' && b <= 'E') ? funcKey(b - 'A' + 1, out) : 0;
        }
        break;

    case SS3:
        if (b >= 0x30 && b <= 0x3F) {
            keepParam(d, b);
            return 0;
        }
        if (b >= 0x20 && b <= 0x7E) {
            d->state = GROUND;
            return b >= 0x40 ? ss3Final(d, b, out) : 0;
        }
        break;

    default: return ground(d, b, out);
    }
    /* the sequence so far is dropped; the byte stands on its own */
    d->state = GROUND;
    return ground(d, b, out);
}

bool vtKeyPending(const VtKeyDecoder *d) { return d->state != GROUND; }

unsigned vtKeyTimeout(VtKeyDecoder *d, uint8_t out[VT_KEY_OUT_MAX])
{
    bool lone = d->state == ESC1;
    d->state = GROUND;
    if (!lone)
        return 0;
    out[0] = ESC;
    return 1;
}
