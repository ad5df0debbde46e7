/*
 * Typed input: every character the key dispatch does not consume.  In the
 * message modes it builds a command line that ENTER hands to the
 * interpreter; in the byte modes it builds one raw byte at a time from
 * hexadecimal or decimal digits and sends it when a space or ENTER ends it.
 */
#include "entry.h"
#include "entry_internal.h"

#include "../frontend/frontend.h"
#include "../output/output.h"

#include <stdio.h>

#define KEY_BACKSPACE 0x08
#define KEY_TAB 0x09
#define KEY_LINE_FEED 0x0A
#define KEY_ENTER 0x0D

/* one place stays free for the terminator */
#define CMD_LINE_MAX ((int32_t)sizeof gCmdStr - 1)

/* The line in gCmdStr had more characters than it holds.  A person sees
   the line stop and is told once; a line from a pipe or the command line
   is refused whole at its Enter, since what it would send is not what was
   written. */
static int sLineOverflow = 0;

/* Digit state of byte entry.  Hexadecimal uses first (high) and last
   (low); decimal uses first (hundreds), middle (tens) and last (units). */
static int32_t sDigitCount = 0;
static uint8_t sFirst = 0, sMiddle = 0, sLast = 0;
/* the base the pending digits were typed in */
static uint8_t sDigitBase = 16;

void clearDigitState(void)
{
    sDigitCount = 0;
    sFirst = sMiddle = sLast = 0;
}

static uint8_t currentBase(void) { return gNumBase == 16 ? 16 : 10; }

static void lineEntry(uint8_t c)
{
    if (gCmdPtr == 0 && c == '$') {
        gNumBase = 16;
        printf("enter numbers in HEX (change to DECIMAL with &)\n");
        return;
    }
    if (gCmdPtr == 0 && c == '&') {
        gNumBase = 10;
        printf("enter numbers in DECIMAL (change to HEX with $) \n");
        return;
    }
    if (gCmdPtr == 0)
        sLineOverflow = 0; /* a new line, or one cleared by a key */
    if (c == KEY_ENTER && sLineOverflow && !keyboardIsConsole()) {
        printf("\n LINE TOO LONG ERROR\n");
        noteFailure();
        gMsgLength = 0; /* nothing was sent to repeat */
        gEnterSysex = 0;
        gCmdPtr = 0;
        return;
    }
    if (c == KEY_ENTER) {
        printf("\n");
        int32_t end = gCmdPtr;
        if (end < 0 || end > CMD_LINE_MAX)
            end = CMD_LINE_MAX;
        gCmdStr[end] = 0;
        gMsgLength = 0;
        executeCmdStr();
        gEnterSysex = 0;
        gCmdPtr = 0;
        return;
    }
    if (c == KEY_BACKSPACE) {
        if (gCmdPtr > 0) {
            gCmdPtr--;
            printf("%c%c%c", KEY_BACKSPACE, ' ', KEY_BACKSPACE);
        }
        return;
    }
    /* A full line takes nothing more, and what is on the screen stays what
       the line holds: the notice goes after it, and the line is shown
       again below to be ended or edited. */
    if (gCmdPtr < 0 || gCmdPtr >= CMD_LINE_MAX) {
        if (!sLineOverflow && gCmdPtr > 0 && keyboardIsConsole())
            printf(" LINE FULL\n%.*s", (int)CMD_LINE_MAX, gCmdStr);
        sLineOverflow = 1;
        return;
    }
    gCmdStr[gCmdPtr] = (char)c;
    printf("%c", c);
    gCmdPtr++;
}

/* rubs out the digits shown for the pending byte */
static void rubOutDigits(void)
{
    for (int32_t i = 0; i < sDigitCount; i++)
        printf("%c", KEY_BACKSPACE);
    for (int32_t i = 0; i < sDigitCount; i++)
        printf(" ");
    for (int32_t i = 0; i < sDigitCount; i++)
        printf("%c", KEY_BACKSPACE);
}

static void hexByteEntry(uint8_t c)
{
    /* the digit is read from the key as typed: only a to f are the lower
       case of digits, not every byte the shift below lands on one */
    const int v = entryHexDigit(c);
    if (c > 0x60)
        c = (uint8_t)(c - 0x20);
    if (c == KEY_BACKSPACE) {
        rubOutDigits();
        clearDigitState();
        return;
    }
    if (c == ' ' || c == KEY_ENTER) {
        printf(" ");
        uint8_t b = (uint8_t)(sFirst * 16 + sLast);
        clearDigitState();
        sendMidiByte(b);
        return;
    }
    if (sDigitCount >= 2) {
        printf(" SyncERR:>%x digits ", (unsigned)sDigitCount);
        noteFailure();
        clearDigitState();
        return;
    }
    if (v < 0) {
        printf(" hexERR,typed:%c ", c);
        noteFailure();
        clearDigitState();
        return;
    }
    printf("%c", c);
    if (sDigitCount == 0) {
        sFirst = 0;
        sDigitBase = 16;
    } else {
        sFirst = sLast;
    }
    sLast = (uint8_t)v;
    sDigitCount++;
}

static void decimalByteEntry(uint8_t c)
{
    if (c == KEY_BACKSPACE) {
        rubOutDigits();
        clearDigitState();
        return;
    }
    if (c == ' ' || c == KEY_ENTER) {
        int value = sFirst * 100 + sMiddle * 10 + sLast;
        clearDigitState();
        if (value > 255) {
            printf(" rangeERR:>255 ");
            noteFailure();
            return;
        }
        printf(" ");
        sendMidiByte(value);
        return;
    }
    if (sDigitCount >= 3) {
        printf(" SyncERR:>3digits ");
        noteFailure();
        clearDigitState();
        return;
    }
    if (c < '0' || c > '9') {
        printf(" decimalERR,typed:%c ", c);
        noteFailure();
        clearDigitState();
        return;
    }
    printf("%c", c);
    if (sDigitCount == 0)
        sDigitBase = 10;
    sFirst = sMiddle;
    sMiddle = sLast;
    sLast = (uint8_t)(c - '0');
    if (sDigitCount == 0)
        sFirst = sMiddle = 0;
    else if (sDigitCount == 1)
        sFirst = 0;
    sDigitCount++;
}

static void byteEntry(uint8_t c)
{
    if (c == '$' || c == '&') {
        gNumBase = c == '$' ? 16 : 10;
        printf(c == '$' ? "\nnumber base is HEX\n" : "\nnumber base is DECIMAL\n");
        clearDigitState();
        return;
    }
    /* Digits left pending while the base was changed on a command line
       belong to the other base; read by this machine they would spell a
       different byte, so they are dropped. */
    if (sDigitCount > 0 && sDigitBase != currentBase())
        clearDigitState();
    if (currentBase() == 16)
        hexByteEntry(c);
    else
        decimalByteEntry(c);
}

void enterChar(uint8_t c)
{
    if (c == KEY_LINE_FEED)
        return;
    if (c == KEY_TAB)
        c = ' ';
    if (gMode <= 1)
        lineEntry(c);
    else
        byteEntry(c);
}
