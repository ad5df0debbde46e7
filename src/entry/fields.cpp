/*
 * Number fields of a command line: the hexadecimal and decimal readers and
 * the field readers that test a number for its role (channel, ID byte, data
 * byte, type nibble).  They read gCmdStr from gCmdPtr on and print nothing;
 * the interpreter chooses the message that fits the field.
 */
#include "entry.h"
#include "entry_internal.h"

#include "../frontend/frontend.h"

uint8_t gData1 = 0, gData2 = 0, gNibble = 0;

/* The character at the read position.  Outside the line it is the
   terminator, so no reader can run past the end of gCmdStr even when a
   line lost its zero. */
uint8_t entryCharAt(int32_t pos)
{
    if (pos < 0 || pos >= (int32_t)sizeof gCmdStr)
        return 0;
    return (uint8_t)gCmdStr[pos];
}

static int isFieldSeparator(uint8_t c) { return c == ' ' || c == ',' || c == ';' || c == '.'; }

int entryHexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

static int decDigitValue(uint8_t c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

/* A number ends at a separator or at the end of the line. */
static int endsNumber(uint8_t c) { return c == 0 || isFieldSeparator(c); }

static void skipFieldSeparators(void)
{
    while (isFieldSeparator(entryCharAt(gCmdPtr)))
        gCmdPtr++;
}

/* Takes the next character as a digit of the given reader; the terminator
   is never stepped over, so a failing read leaves gCmdPtr on it. */
static int takeDigit(int (*digitValue)(uint8_t))
{
    uint8_t c = entryCharAt(gCmdPtr);
    if (c == 0)
        return -1;
    gCmdPtr++;
    return digitValue(c);
}

/* one or two hexadecimal digits; after the second nothing is tested, so
   "3C40" yields 3C and leaves "40" for the next field */
int32_t parseHexByte(uint8_t *value)
{
    skipFieldSeparators();
    int hi = takeDigit(entryHexDigit);
    if (hi < 0)
        return 0;
    if (endsNumber(entryCharAt(gCmdPtr))) {
        *value = (uint8_t)hi;
        return 1;
    }
    int lo = takeDigit(entryHexDigit);
    if (lo < 0)
        return 0;
    *value = (uint8_t)(hi * 16 + lo);
    return 1;
}

/* one to three decimal digits, at most 255; after the third nothing is
   tested, so "1234" yields 123 and leaves "4" */
int32_t parseDeziByte(uint8_t *value)
{
    skipFieldSeparators();
    int d = takeDigit(decDigitValue);
    if (d < 0)
        return 0;
    int v = d;
    for (int digits = 1; digits < 3; digits++) {
        if (endsNumber(entryCharAt(gCmdPtr))) {
            *value = (uint8_t)v;
            return 1;
        }
        d = takeDigit(decDigitValue);
        if (d < 0)
            return 0;
        v = v * 10 + d;
    }
    if (v > 255)
        return 0;
    *value = (uint8_t)v;
    return 1;
}

static int32_t parseInBase(uint8_t *value)
{
    return gNumBase == 16 ? parseHexByte(value) : parseDeziByte(value);
}

/* the type of an F command is a status nibble, so it is always typed in
   hexadecimal; the F command itself refuses 0 and values above 15 */
int32_t parseNibble(void)
{
    uint8_t v;
    if (!parseHexByte(&v) || v > 127)
        return 0;
    gNibble = v;
    return 1;
}

/* the user counts channels from 1 */
int32_t parseChannel(void)
{
    uint8_t v;
    if (!parseInBase(&v) || v < 1 || v > 16)
        return 0;
    gChannel = (uint8_t)(v - 1);
    return 1;
}

/* FF is let through as the filler that ends a short manufacturer ID */
int32_t parseID(void)
{
    uint8_t v;
    if (!parseInBase(&v) || (v > 127 && v != 255))
        return 0;
    gData1 = v;
    return 1;
}

int32_t parseData1(void)
{
    uint8_t v;
    if (!parseInBase(&v) || v > 127)
        return 0;
    gData1 = v;
    return 1;
}

int32_t parseData2(void)
{
    uint8_t v;
    if (!parseInBase(&v) || v > 127)
        return 0;
    gData2 = v;
    return 1;
}
