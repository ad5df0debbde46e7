/*
 * What the program shows of things it does not control: names that come
 * from files, ports and the user, shown so that they can never act on the
 * terminal, and the reason a file was refused.
 */
#include "frontend.h"

#include "../extras/extras.h"

#include <stdio.h>
#include <string.h>

/* Continuation bytes of a UTF-8 character are 10xxxxxx. */
static int isTail(uint8_t b) { return (b & 0xC0) == 0x80; }

size_t utf8CharAt(const uint8_t *p, size_t left)
{
    uint8_t b = p[0];
    if (b < 0x80)
        return 0;
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
    if (len > left || p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; i++)
        if (!isTail(p[i]))
            return 0;
    return len;
}

/* The length of the printable UTF-8 character at p (at most left bytes),
   or 0 when the bytes there are a control character (C1 ones included,
   U+0080 to U+009F, C2 80 to C2 9F) or no well-formed UTF-8. */
static size_t printableAt(const uint8_t *p, size_t left)
{
    uint8_t b = p[0];
    if (b < 0x20 || b == 0x7F)
        return 0;
    if (b < 0x80)
        return 1;
    if (b == 0xC2 && left > 1 && p[1] < 0xA0)
        return 0;
    return utf8CharAt(p, left);
}

const char *shownText(char *out, size_t size, const char *text)
{
    const uint8_t *p = (const uint8_t *)text;
    size_t n = 0;
    while (n + 1 < size && p[n])
        n++;
    size_t i = 0;
    while (i < n) {
        size_t len = printableAt(p + i, n - i);
        if (len == 0) {
            out[i++] = '?';
            continue;
        }
        for (size_t k = 0; k < len; k++, i++)
            out[i] = (char)p[i];
    }
    if (size > 0)
        out[n] = 0;
    return out;
}

const char *shownName(char out[SHOWN_NAME_SIZE], const char *name)
{
    return shownText(out, SHOWN_NAME_SIZE, name);
}

int isVisibleText(const char *text)
{
    const uint8_t *p = (const uint8_t *)text;
    size_t left = strlen(text);
    while (left > 0) {
        size_t len = printableAt(p, left);
        if (len == 0)
            return 0;
        p += len;
        left -= len;
    }
    return 1;
}

const char *fileErrorText(DWORD error)
{
    static char other[40];
    switch (error) {
    case ERROR_VT_KEYBOARD: return "that is the keyboard, not a file";
    case ERROR_CANT_RESOLVE_FILENAME: return "a symbolic link, never written through";
    case ERROR_SHARING_VIOLATION: return "in use elsewhere";
    case ERROR_ACCESS_DENIED: return "no permission";
    case ERROR_FILE_READ_ONLY: return "the file is read-only";
    case ERROR_WRITE_PROTECT: return "the disk is read-only";
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_DIRECTORY: return "a folder, not a file";
    case ERROR_BAD_FILE_TYPE: return "not a regular file";
    case ERROR_PIPE_NOT_CONNECTED: return "a pipe nobody reads";
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_FILE_TOO_LARGE: return "file size limit reached";
    case ERROR_DISK_QUOTA_EXCEEDED: return "disk quota exceeded";
    case ERROR_FILENAME_EXCED_RANGE: return "name too long";
    case ERROR_TOO_MANY_OPEN_FILES: return "too many files open";
    default: snprintf(other, sizeof other, "system error %lu", (unsigned long)error); return other;
    }
}

void printFileRefusal(const char *name, DWORD error)
{
    char shown[SHOWN_NAME_SIZE];
    errorLine("%s: %s!\n", shownName(shown, name), fileErrorText(error));
}
