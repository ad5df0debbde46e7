/*
 * The JSON string escaper of --json.
 */
#include "json.h"

#include "../frontend/frontend.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

size_t jsonEscape(const char *text, char *out, size_t size)
{
    const uint8_t *p = (const uint8_t *)text;
    const uint8_t *end = p + strlen(text);
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
        } else if ((len = utf8CharAt(p, (size_t)(end - p))) == 0) {
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
