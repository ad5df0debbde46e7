/*
 * All display of received data: short messages, SysEx, wild bytes and the
 * loss line, each recorded and counted toward the progress dot where it is
 * recorded at all, then shown as a named message or as bytes.  It takes
 * what the capture (capture.cpp) queued, on the main thread.  The time and
 * SysEx tools of the command line (extras/) see each message as it is
 * taken, add the time, the reply latency and the explanation to a line of
 * the text display, and may hide a message.
 */
#include "inputpriv.h"
#include "../extras/extras.h"
#include "../frontend/frontend.h"

#include <stdio.h>

/* The bytes of a received word that are shown and recorded: the status
   and its data bytes, or all three when the word starts with no status of
   a short message (F0, a data byte), which the service never sends. */
static unsigned wordLength(uint8_t status)
{
    if (status < 0x80 || status == 0xF0)
        return 3;
    return 1 + vtMidiDataBytes(status);
}

/* The service never delivers a data byte above 127, but nothing here may
   read past the 128 names should one arrive. */
static const char *noteName(uint8_t key) { return key < 128 ? gNotes[key] : "?"; }

/* The name column of a message's line in the text display; null for a
   message without a line: F0, F4, F5, F9 and FD have nothing to name. */
static const char *textLabel(uint8_t status)
{
    switch (status & 0xF0) {
    case 0x80: return "  MIDI Note OFF    ";
    case 0x90: return "  MIDI Note ON     ";
    case 0xA0: return "  Poly Pressure    ";
    case 0xB0: return "  Control Change   ";
    case 0xC0: return "  Program Change   ";
    case 0xD0: return "  Chann Pressure   ";
    case 0xE0: return "  Pitch Bend       ";
    default: break;
    }
    switch (status) {
    case 0xF1: return "  MTC TimeCode   ";
    case 0xF2: return "  Song Pos.Ptr   ";
    case 0xF3: return "  Song Select    ";
    case 0xF6: return "  Tune Request   ";
    case 0xF7: return "  EOX\t\t\t   ";
    case 0xF8: return "  Timing Clock   ";
    case 0xFA: return "  MIDI Start     ";
    case 0xFB: return "  MIDI Continue  ";
    case 0xFC: return "  MIDI Stop      ";
    case 0xFE: return "  Active Sensing ";
    case 0xFF: return "  MIDI Reset     ";
    default: return NULL;
    }
}

static void showText(uint8_t status, uint8_t d1, uint8_t d2, int shown)
{
    const int hex = gNumBase == 16;
    const char *label = shown ? textLabel(status) : NULL;
    const unsigned data = vtMidiDataBytes(status);
    char text[64];
    char name[16] = "";

    if (!label) {
        /* no line of its own; a tool may have news of it all the same (the
           tempo of a hidden clock) */
        const char *news = receivedLineEnd();
        if (*news)
            printf("%s%s\n", receivedTimeColumn(), news);
        return;
    }
    if (data == 0)
        snprintf(text, sizeof text, hex ? "%s%x" : "%s%d", label, status);
    else if (data == 1)
        snprintf(text, sizeof text, hex ? "%s%x %2x" : "%s%d %3d", label, status, d1);
    else
        snprintf(text, sizeof text, hex ? "%s%x %2x %2x" : "%s%d %3d %3d", label, status, d1, d2);
    /* note off, note on, poly pressure: the line ends with the note name */
    if (status >= 0x80 && status < 0xB0)
        snprintf(name, sizeof name, "  ( %s )", noteName(d1));
    /* one piece, with the time, the reply latency and the explanation of
       the tools */
    printf("%s%s%s%s\n", receivedTimeColumn(), text, name, receivedLineEnd());
}

static void showBytes(uint8_t status, uint8_t d1, uint8_t d2, unsigned len)
{
    const int hex = gNumBase == 16;

    if (status >= 0xF4) {
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
    const unsigned len = wordLength(status);

    noteShortReceived(gReceived, gReceivedUs);
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
    /* CTRL-B hides Timing Clock and Active Sensing; the filters of the
       command line have the last word */
    const int shown = receivedShown(!((status == 0xF8 || status == 0xFE) && gbBlockRealTime));
    if (gMode == 0 || gMode == 2)
        showText(status, d1, d2, shown);
    else if (shown && (gMode == 1 || gMode == 3))
        showBytes(status, d1, d2, len);
}

int showOneEntry(void)
{
    uint32_t word;
    int64_t arrivalUs;
    if (!takeShortMessage(&word, &arrivalUs))
        return 0;
    gReceived = word;
    gReceivedUs = arrivalUs;
    decodeChannelMessage();
    return 1;
}

/* A message longer than the buffer comes in pieces: the first is the only
   one that starts with F0, and every piece but the last fills the buffer
   without ending in F7. */
static int continuesAfter(uint32_t n) { return n == RBUF_SIZE && gRbuf2[n - 1] != 0xF7; }

/* The identifier of a message's first piece; returns where its body starts.
   Identifier bytes only as far as the message reaches: a message cut short
   must not show what an earlier one left in the buffer. */
static uint32_t showSysexId(uint32_t n)
{
    printf("%s  SysEx( ", receivedTimeColumn());
    if (n > 1 && gRbuf2[1] != 0) {
        printf("%x ) ", gRbuf2[1]);
        return 2;
    }
    if (n > 1) {
        printf("%x", gRbuf2[1]);
        for (uint32_t i = 2; i < 4 && i < n; i++)
            printf(" %x", gRbuf2[i]);
        printf(") ");
        return 4;
    }
    printf(") ");
    return n;
}

/* A SysEx's line: its identifier (first piece) and body.  The last byte
   ends a whole message and is not shown; a piece that more follows, and a
   message cut off, show every byte they have and end with what they are. */
static void showSysexText(uint32_t n, int cut)
{
    uint32_t start = 0;
    if (n > 0 && gRbuf2[0] == 0xF0)
        start = showSysexId(n);
    else
        printf("%s  SysEx( continued ) ", receivedTimeColumn()); /* the first piece had the identifier */
    const int more = !cut && continuesAfter(n);
    for (uint32_t i = start; i < n - (more || cut ? 0 : 1); i++) {
        uint8_t b = gRbuf2[i];
        if (b >= 0x20 && b <= 0x7E)
            putchar(b);
        else
            printf(" \\%x ", b);
    }
    printf(cut ? " (cut off)%s\n" : more ? " (continues)%s\n" : " EOX%s\n", receivedLineEnd());
}

/* The pieces of a long message run on as one: only its first byte has the
   "-" that starts a message.  A message cut off ends with the word, no F7
   being there to end it. */
static void showSysexBytes(uint32_t n, int cut)
{
    if (n > 0 && gRbuf2[0] == 0xF0)
        putchar('-');
    for (uint32_t i = 0; i < n; i++)
        printf(gNumBase == 16 ? "%x " : "%d ", gRbuf2[i]);
    if (cut)
        printf("(cut off) ");
}

/* A long message in gRbuf2: whole, a piece of one, or cut off by another
   status byte (recorded as its bytes came; nothing is added). */
static void showSysex(uint32_t n, int cut, int64_t arrivalUs)
{
    if (cut)
        noteSysexCut(gRbuf2, n, arrivalUs);
    else
        noteSysexReceived(gRbuf2, n, arrivalUs);
    if (gbRecRecv && n > 0) {
        if (!recWrite(gRbuf2, n))
            return;
        gByteCount += n;
        recDotCheck();
    }
    if (gbRecQuiet || !receivedShown(1))
        return;
    if (gMode == 0 || gMode == 2)
        showSysexText(n, cut);
    else if (gMode == 1 || gMode == 3)
        showSysexBytes(n, cut);
}

/* The oldest waiting invalid-byte notice, if any; 1 when there was one. */
static int showWildByte(void)
{
    uint32_t word;
    int64_t arrivalUs;
    if (!takeWildByte(&word, &arrivalUs))
        return 0;
    gReceived = word;
    noteOtherReceived(arrivalUs);

    /* shown even while recording quietly, and never recorded */
    uint8_t b = (uint8_t)(gReceived & 0xFF);
    if (gMode == 0 || gMode == 2)
        printf("%s  wild byte      %x%s\n", receivedTimeColumn(), b, receivedReplyNote());
    else if (gMode == 1 || gMode == 3)
        printf(gNumBase == 16 ? "%x " : "%d ", b);
    return 1;
}

/* Once the display has caught up, says what never reached it, each kind in
   a line of its own whatever the display mode.  Where the system does not
   say how many messages it dropped, neither does the line.  1 when a line
   was shown. */
static int reportLosses(void)
{
    uint32_t lost, longLost, overflows;
    if (!takeLosses(&lost, &longLost, &overflows))
        return 0;
    /* what arrived and was never shown is as much a failure of a run
       nobody watches as a line that was refused */
    noteFailure();
    if (lost != 0)
        printf("\nERROR MIDI IN: %u messages lost, receive buffer full\n", lost);
    if (longLost != 0)
        printf("\nERROR MIDI IN: %u SysEx messages lost, receive buffer full\n", longLost);
    if (overflows != 0)
        printf(
            "\nERROR MIDI IN: an unknown number of messages lost, system input queue full (overflows: %u)\n",
            overflows);
    return 1;
}

int receiveIdleChecks(void)
{
    uint32_t n;
    int cut;
    int64_t arrivalUs;
    int any = 0;
    if (takeSysex(&n, &cut, &arrivalUs)) {
        showSysex(n, cut, arrivalUs);
        any = 1;
    }
    /* a SysEx that waited in the port layer while this one was out comes
       back as soon as the buffer goes back: a wild byte that arrived
       after it waits for its turn */
    if (!sysexCameFirst())
        any |= showWildByte();
    any |= reportLosses();
    return any;
}

/* The ring's worth of short messages, and every long message the port
   layer may hold, piece by piece. */
#define SHOW_ALL_PASSES (RING_SIZE + 1024)

void showAllReceived(void)
{
    for (int pass = 0; pass < SHOW_ALL_PASSES; pass++)
        if (!showOneEntry() && !receiveIdleChecks())
            return;
}
