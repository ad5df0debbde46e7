/*
 * The command interpreter: a finished command line is read letter by
 * letter, its messages are collected in the output buffer one behind the
 * other, and only a line read to its end without error is sent, as one
 * long message.
 */
#include "entry.h"
#include "entry_internal.h"

#include "../extras/extras.h"
#include "../frontend/frontend.h"
#include "../output/output.h"

#include <stdio.h>

#define SYSEX_START 0xF0
#define SYSEX_END 0xF7

static int isCommandSeparator(uint8_t c) { return c == ' ' || c == ',' || c == ';'; }

/* A channel message: status from the command's base and the channel, then
   one or two data bytes.  Returns the message for the failing field, or
   NULL once the message is in the buffer. */
static const char *channelMessage(uint8_t base, int dataBytes)
{
    gMsgLength = 0;
    gStatus = (uint8_t)(base + gChannel);
    if (dataBytes == 1) {
        if (!parseData1())
            return " DATA ERROR\n";
        sendMidiMsg_2();
        return NULL;
    }
    if (!parseData1())
        return " DATA1 ERROR\n";
    if (!parseData2())
        return " DATA2 ERROR\n";
    sendMidiMsg_3();
    return NULL;
}

/* System message F1 to FF; F0 is refused because SysEx has its own command.
   How many data bytes follow depends on the type. */
static const char *systemMessage(void)
{
    gMsgLength = 0;
    if (!parseNibble() || gNibble < 1 || gNibble > 15)
        return " DATA ERROR\n";
    gStatus = (uint8_t)(0xF0 + gNibble);
    switch (gNibble) {
    case 1: /* time code quarter frame */
    case 3: /* song select */
        if (!parseData1())
            return " DATA ERROR\n";
        sendMidiMsg_2();
        break;
    case 2: /* song position pointer */
        if (!parseData1() || !parseData2())
            return " DATA ERROR\n";
        sendMidiMsg_3();
        break;
    default: sendMidiMsg_1(); break;
    }
    return NULL;
}

/* Each ID byte is stored as soon as it is read, so a line that fails at the
   second byte has already changed the first. */
static const char *setManufacturerId(void)
{
    if (!parseID())
        return " ID1 ERROR\n";
    gIdStr[0] = gData1;
    if (!parseID())
        return " ID2 ERROR\n";
    gIdStr[1] = gData1;
    if (!parseID())
        return " ID3 ERROR\n";
    gIdStr[2] = gData1;
    gIdStr[3] = 0xFF;
    return NULL;
}

static const char *runCommand(uint8_t letter)
{
    switch (letter) {
    case 'X': return channelMessage(0x80, 2);
    case 'N': return channelMessage(0x90, 2);
    case 'Y': return channelMessage(0xA0, 2);
    case 'K': return channelMessage(0xB0, 2);
    case 'P': return channelMessage(0xC0, 1);
    case 'Z': return channelMessage(0xD0, 1);
    case 'W': return channelMessage(0xE0, 2);
    case 'F': return systemMessage();
    case 'S': gMsgLength = 0; return parseSysEx() ? NULL : " SysEx ERROR\n";
    case 'M':
        if (!parseChannel())
            return " CMD ERROR\n";
        printf("\n");
        return NULL;
    case 'I': return setManufacturerId();
    default: return " CMD ERROR\n";
    }
}

void executeCmdStr(void)
{
    gCmdPtr = 0;
    gOutPtr = 0;
    for (;;) {
        uint8_t c = entryCharAt(gCmdPtr);
        while (isCommandSeparator(c))
            c = entryCharAt(++gCmdPtr);
        if (c == 0)
            break;
        gCmdPtr++;
        if (c > 0x60)
            c = (uint8_t)(c - 0x20);
        const char *error = runCommand(c);
        if (error) {
            errorLine("%s", error);
            noteFailure();
            /* nothing of this line was sent, and the buffer now holds a
               part of it, so there is nothing left to repeat */
            gMsgLength = 0;
            return;
        }
    }
    if (gOutPtr == 0)
        return;
    /* the repeat key sends again what this line sent, all its messages */
    gMsgLength = gOutPtr;
    sendLongMsg(gOutPtr);
    gCmdPtr = 0;
    gOutPtr = 0;
}

/* Appends one byte of a SysEx message, keeping the last place of the
   buffer for the EOX. */
static int sysexAppend(uint8_t b)
{
    if (gOutPtr < 0 || gOutPtr >= SBUF_SIZE - 1)
        return 0;
    gSbuf[gOutPtr++] = b;
    return 1;
}

int32_t parseSysEx(void)
{
    while (entryCharAt(gCmdPtr) == ' ')
        gCmdPtr++;
    if (!sysexAppend(SYSEX_START))
        return 0;
    /* the ID runs up to the first byte with its top bit set */
    for (int i = 0; i < 4 && !(gIdStr[i] & 0x80); i++)
        if (!sysexAppend(gIdStr[i]))
            return 0;

    for (;;) {
        uint8_t c = entryCharAt(gCmdPtr);
        if (c == 0)
            break;
        gCmdPtr++;
        if (c < 0x20)
            continue;
        /* text is ASCII: the bytes of another character would leave as a
           cut-off message and data bytes of their own; \hh sends any byte */
        if (c >= 0x80)
            return 0;
        uint8_t b = c;
        if (c == '\\') {
            /* exactly two hexadecimal digits; the terminator is never
               stepped over */
            int hi = entryHexDigit(entryCharAt(gCmdPtr));
            if (hi < 0)
                return 0;
            gCmdPtr++;
            int lo = entryHexDigit(entryCharAt(gCmdPtr));
            if (lo < 0)
                return 0;
            gCmdPtr++;
            b = (uint8_t)(hi * 16 + lo);
        }
        if (!sysexAppend(b))
            return 0;
    }
    /* sysexAppend kept this place free */
    gSbuf[gOutPtr++] = SYSEX_END;
    gMsgLength = gOutPtr;
    return 1;
}
