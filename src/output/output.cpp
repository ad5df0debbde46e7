/*
 * The output buffer and its one way out: every byte the program sends goes
 * through gSbuf and leaves as a long message of sendLongMsg, so that a
 * note, a real-time byte and a SysEx message all take the same road and the
 * repeat key can send any of them again from the same place.
 */
#include "output.h"

#include "../frontend/frontend.h"
#include "../entry/entry.h"
#include "../extras/extras.h"

#include <stdio.h>

uint8_t gSbuf[SBUF_SIZE];
int32_t gOutPtr = 0;
int32_t gMsgLength = 0;
uint8_t gStatus = 0;
MIDIHDR gMidiOutHdr;

/* A line holds at most 511 characters, so the appenders can never reach
   the end of the buffer; the test only keeps a stray caller from writing
   outside it. */
static int roomFor(int32_t n) { return gOutPtr >= 0 && gOutPtr <= SBUF_SIZE - n; }

void sendMidiMsg_1(void)
{
    if (!roomFor(1))
        return;
    gSbuf[gOutPtr++] = gStatus;
    gMsgLength = 1;
}

void sendMidiMsg_2(void)
{
    if (!roomFor(2))
        return;
    gSbuf[gOutPtr++] = gStatus;
    gSbuf[gOutPtr++] = gData1;
    gMsgLength = 2;
}

void sendMidiMsg_3(void)
{
    if (!roomFor(3))
        return;
    gSbuf[gOutPtr++] = gStatus;
    gSbuf[gOutPtr++] = gData1;
    gSbuf[gOutPtr++] = gData2;
    gMsgLength = 3;
}

void sendMidiByte(int b)
{
    gSbuf[0] = (uint8_t)b;
    gOutPtr = 1;
    gMsgLength = 1;
    sendLongMsg(1);
}

void sendLongMsg(int n)
{
    if (n < 0)
        n = 0;
    if (n > SBUF_SIZE)
        n = SBUF_SIZE;

    gMidiOutHdr.lpData = (LPSTR)gSbuf;
    gMidiOutHdr.dwBufferLength = (DWORD)n;
    gMidiOutHdr.dwBytesRecorded = (DWORD)n;
    gMidiOutHdr.dwFlags = 0;

    /* each step is tried even when the one before failed: the port decides
       what is possible, and the user sees every step that went wrong */
    int failed = 0;
    if (midiOutPrepareHeader(gOutHandle, &gMidiOutHdr, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
        errorLine("\nERROR MIDI PREPARE\n");
        failed = 1;
    }
    int64_t began = transmissionBegins();
    if (midiOutLongMsg(gOutHandle, &gMidiOutHdr, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
        errorLine("\nERROR MIDI TRANSMISSION\n");
        failed = 1;
    } else {
        transmissionEnded(began, n); /* the bytes have left: a reply may come */
    }
    if (failed)
        noteFailure();

    /* the buffer may be rewritten as soon as we return, so wait until the
       port has let go of it */
    while (midiOutUnprepareHeader(gOutHandle, &gMidiOutHdr, sizeof(MIDIHDR)) == MIDIERR_STILLPLAYING) {
    }
}

void repeatLastMsg(void)
{
    int32_t n = gMsgLength;
    if (n < 0)
        n = 0;
    if (n > SBUF_SIZE)
        n = SBUF_SIZE;

    printf("Repeat:");
    gOutPtr = n;
    sendLongMsg(n);
    for (int32_t i = 0; i < n; i++)
        printf(gNumBase == 16 ? "%x " : "%d ", gSbuf[i]);
    printf("\n");
}
