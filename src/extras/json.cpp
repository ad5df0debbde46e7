/*
 * The JSON string escaper of --json.
 */
#include "json.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

/* the length of the well-formed UTF-8 character of two or more bytes at p
   (not past its end), 0 for none */
size_t multiByteAt(const uint8_t *p)
{
    uint8_t b = p[0];
    size_t len;
    uint8_t lo = 0x80, hi = 0xBF; /* the range of the second byte */
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0;
        else if (b == 0xED)
            hi = 0x9F; /* no surrogates */
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (p[1] < lo || p[1] > hi)
        return 0; /* a 0 ends it here too */
    for (size_t i = 2; i < len; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return len;
}

} // namespace

size_t jsonEscape(const char *text, char *out, size_t size)
{
    const uint8_t *p = (const uint8_t *)text;
    size_t n = 0;
    if (size == 0)
        return 0;
    while (*p) {
        char piece[8];
        size_t len = 1;
        const char *put = piece;
        uint8_t b = *p;
        if (b == '"' || b == '\\') {
            piece[0] = '\\';
            piece[1] = (char)b;
            piece[2] = 0;
        } else if (b < 0x20 || b == 0x7F) {
            snprintf(piece, sizeof piece, "\\u%04x", b);
        } else if (b < 0x80) {
            piece[0] = (char)b;
            piece[1] = 0;
        } else if ((len = multiByteAt(p)) == 0) {
            len = 1;
            put = "\\ufffd";
        } else if (b == 0xC2 && p[1] < 0xA0) {
            snprintf(piece, sizeof piece, "\\u%04x", p[1]); /* a C1 control */
        } else {
            memcpy(piece, p, len);
            piece[len] = 0;
        }
        size_t m = strlen(put);
        if (n + m + 1 > size)
            break;
        memcpy(out + n, put, m);
        n += m;
        p += len;
    }
    out[n] = 0;
    return n;
}
