/*
 * Decoding of one received short message: record it, count it toward the
 * progress dot, and show it as a named message or as bytes.
 */
#include "inputpriv.h"
#include "../frontend/frontend.h"

#include <stdio.h>

/* Bytes of a short message, status included, by its status byte. */
static unsigned messageLength(uint8_t status)
{
    uint8_t cls = status & 0xF0;
    if (cls == 0xC0 || cls == 0xD0 || status == 0xF1 || status == 0xF3)
        return 2;
    if (status >= 0xF4)
        return 1;
    return 3;
}

/* The service never delivers a data byte above 127, but nothing here may
   read past the 128 names should one arrive. */
static const char *noteName(uint8_t key) { return key < 128 ? gNotes[key] : "?"; }

static void showText(uint8_t status, uint8_t d1, uint8_t d2)
{
    const int hex = gNumBase == 16;
    int named = 0; /* note off, note on, poly pressure: the line ends with the note name */

    switch (status & 0xF0) {
    case 0x80:
        printf(hex ? "  MIDI Note OFF    %x %2x %2x" : "  MIDI Note OFF    %d %3d %3d", status, d1, d2);
        named = 1;
        break;
    case 0x90:
        printf(hex ? "  MIDI Note ON     %x %2x %2x" : "  MIDI Note ON     %d %3d %3d", status, d1, d2);
        named = 1;
        break;
    case 0xA0:
        printf(hex ? "  Poly Pressure    %x %2x %2x" : "  Poly Pressure    %d %3d %3d", status, d1, d2);
        named = 1;
        break;
    case 0xB0:
        printf(hex ? "  Control Change   %x %2x %2x\n" : "  Control Change   %d %3d %3d\n", status, d1, d2);
        break;
    case 0xC0: printf(hex ? "  Program Change   %x %2x\n" : "  Program Change   %d %3d\n", status, d1); break;
    case 0xD0: printf(hex ? "  Chann Pressure   %x %2x\n" : "  Chann Pressure   %d %3d\n", status, d1); break;
    case 0xE0:
        printf(hex ? "  Pitch Bend       %x %2x %2x\n" : "  Pitch Bend       %d %3d %3d\n", status, d1, d2);
        break;
    default:
        switch (status) {
        case 0xF1: printf(hex ? "  MTC TimeCode   %x %2x\n" : "  MTC TimeCode   %d %3d\n", status, d1); break;
        case 0xF2:
            printf(hex ? "  Song Pos.Ptr   %x %2x %2x\n" : "  Song Pos.Ptr   %d %3d %3d\n", status, d1, d2);
            break;
        case 0xF3: printf(hex ? "  Song Select    %x %2x\n" : "  Song Select    %d %3d\n", status, d1); break;
        case 0xF6: printf(hex ? "  Tune Request   %x\n" : "  Tune Request   %d\n", status); break;
        case 0xF7: printf(hex ? "  EOX\t\t\t   %x\n" : "  EOX\t\t\t   %d\n", status); break;
        case 0xF8:
            if (!gbBlockRealTime)
                printf(hex ? "  Timing Clock   %x\n" : "  Timing Clock   %d\n", status);
            break;
        case 0xFA: printf(hex ? "  MIDI Start     %x\n" : "  MIDI Start     %d\n", status); break;
        case 0xFB: printf(hex ? "  MIDI Continue  %x\n" : "  MIDI Continue  %d\n", status); break;
        case 0xFC: printf(hex ? "  MIDI Stop      %x\n" : "  MIDI Stop      %d\n", status); break;
        case 0xFE:
            if (!gbBlockRealTime)
                printf(hex ? "  Active Sensing %x\n" : "  Active Sensing %d\n", status);
            break;
        case 0xFF: printf(hex ? "  MIDI Reset     %x\n" : "  MIDI Reset     %d\n", status); break;
        default: /* F0, F4, F5, F9, FD: nothing to name */ break;
        }
        break;
    }
    if (named)
        printf("  ( %s )\n", noteName(d1));
}

static void showBytes(uint8_t status, uint8_t d1, uint8_t d2, unsigned len)
{
    const int hex = gNumBase == 16;

    if (status >= 0xF4) {
        if ((status == 0xF8 || status == 0xFE) && gbBlockRealTime)
            return;
        printf(hex ? "-%x " : "-%d ", status);
        return;
    }
    printf(hex ? "-%x %x " : "-%d %d ", status, d1);
    if (len == 3)
        printf(hex ? "%x " : "%d ", d2);
}

void decodeChannelMessage(void)
{
    const uint8_t status = (uint8_t)(gReceived & 0xFF);
    const uint8_t d1 = (uint8_t)((gReceived >> 8) & 0xFF);
    const uint8_t d2 = (uint8_t)((gReceived >> 16) & 0xFF);
    const unsigned len = messageLength(status);

    if (gbRecRecv) {
        const uint8_t bytes[3] = {status, d1, d2};
        /* byte by byte, as the message is taken apart */
        for (unsigned i = 0; i < len; i++)
            if (!recWrite(&bytes[i], 1))
                return;
        gByteCount += len;
    }
    recDotCheck();

    if (gbRecQuiet)
        return;
    if (gMode == 0 || gMode == 2)
        showText(status, d1, d2);
    else if (gMode == 1 || gMode == 3)
        showBytes(status, d1, d2, len);
}
