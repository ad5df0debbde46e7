/*
 * Terminal settings, the note-name table, the banner and the status report.
 */
#include "frontend.h"

#include "../entry/entry.h"
#include "../input/input.h"
#include "../output/output.h"

#include <stdio.h>
#include <string.h>

int32_t gMode = 0;
uint8_t gNumBase = 16;
int32_t gbBlockRealTime = 1;
uint8_t gChannel = 0;
uint8_t gIdStr[4] = {0x7D, 0xFF, 0xFF, 0xFF};
uint32_t goSelDev = 0, giSelDev = 0;
uint32_t goNumDevs = 0, giNumDevs = 0;
char gMidiOutName[64], gMidiInName[64];
char gPresetFileName[32] = "VOLTANIS.SET";
char gRecFileName[32] = "VOLTANIS.REC";
char gSendFileName[32];

HMIDIOUT gOutHandle = 0;
HMIDIIN gInHandle = 0;
MIDIOUTCAPSA gMoc;
MIDIINCAPSA gMic;
int32_t gbCheckFuncKey = 0;
uint8_t gEnterSysex = 0;
char gCmdStr[512];
int32_t gCmdPtr = 0;

char gNotes[128][8];

static const char *const noteClass[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "Bb", "B"};

/* octaves run from -2 to 8; octave 0 shows the bare pitch class */
void fillNoteNames(void)
{
    for (int n = 0; n < 128; n++) {
        int octave = n / 12 - 2;
        const char *cls = noteClass[n % 12];
        if (octave < 0)
            snprintf(gNotes[n], sizeof gNotes[n], "%s%d", cls, octave);
        else if (octave == 0)
            snprintf(gNotes[n], sizeof gNotes[n], "%s", cls);
        else
            snprintf(gNotes[n], sizeof gNotes[n], "%s %d", cls, octave);
    }
}

void initSettings(void)
{
    clearDigitState();
    fillNoteNames();
    memset(gCmdStr, 0, 256);
    memset(gSbuf, 0, 256);
    gbBlockRealTime = 1;
    gIdStr[0] = 0x7D;
    gIdStr[1] = gIdStr[2] = gIdStr[3] = 0xFF;
}

void printBanner(void)
{
    printf("Voltanis - MIDI sender and monitor, provided as is, without any warranty\n\n");
    printf("type ? for a short list of commands\n\n");
}

/* the platform's name field holds 31 characters and a terminator; copy it
   into a 64-character setting, bounded and zero-filled */
static void copyPortName(char dst[64], const char src[32])
{
    memset(dst, 0, 64);
    size_t len = strnlen(src, 31);
    memcpy(dst, src, len);
}

static void reportOutPort(void)
{
    if (goNumDevs == 0) {
        printf("no MIDI OUT available   (check with CTRL-N)\n");
        return;
    }
    if (midiOutGetDevCapsA(goSelDev, &gMoc, sizeof gMoc) == MMSYSERR_NOERROR) {
        copyPortName(gMidiOutName, gMoc.szPname);
        char shown[SHOWN_NAME_SIZE];
        printf("\nMIDI OUT: #%d  %s\n", (int)goSelDev, shownName(shown, gMidiOutName));
    } else {
        printf("ERROR identifying MIDI OUT device # %u   (check with CTRL-N)\n", goSelDev);
    }
}

static void reportInPort(void)
{
    if (giNumDevs == 0) {
        printf("no MIDI IN available   (check with CTRL-N)\n");
        return;
    }
    if (midiInGetDevCapsA(giSelDev, &gMic, sizeof gMic) == MMSYSERR_NOERROR) {
        copyPortName(gMidiInName, gMic.szPname);
        char shown[SHOWN_NAME_SIZE];
        printf("MIDI IN:  #%d  %s   (change with CTRL-N)\n", (int)giSelDev, shownName(shown, gMidiInName));
    } else {
        printf("ERROR identifying MIDI IN device # %u   (check with CTRL-N)\n", giSelDev);
    }
}

static const char *modeText(int32_t mode)
{
    switch (mode) {
    case 0: return "type MIDI MSG - display MIDI MSG";
    case 1: return "type MIDI MSG - display BYTES ";
    case 2: return "type BYTES - display MIDI MSG ";
    case 3: return "type BYTES - display BYTES ";
    default: return "";
    }
}

void statusReport(void)
{
    reportOutPort();
    reportInPort();

    /* a first ID byte of zero introduces a three-byte manufacturer ID */
    if (gIdStr[0] != 0)
        printf("SysEx ID: %x\n", gIdStr[0]);
    else
        printf("SysEx ID: %x %x %x\n", gIdStr[0], gIdStr[1], gIdStr[2]);

    gOutHandle = 0;
    if (goNumDevs != 0 && midiOutOpen(&gOutHandle, goSelDev, 0, 0, 0) != MMSYSERR_NOERROR)
        noteFailure();
    gInHandle = 0;
    if (giNumDevs != 0 && midiInOpen(&gInHandle, giSelDev, (DWORD_PTR)midiCallback, 0,
                              CALLBACK_FUNCTION | MIDI_IO_STATUS | MIDI_IO_VT_ARRIVAL_US) != MMSYSERR_NOERROR)
        noteFailure();

    if (gNumBase == 16)
        printf("number base is HEX (change to DECIMAL with &) \n");
    else
        printf("number base is DECIMAL (change to HEX with $)\n");
    printf("\nVOLTANIS mode %d:%s(change with CTRL-Q,W,E,R)\n", (int)gMode, modeText(gMode));
    if (gbBlockRealTime)
        printf("display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n");
    else
        printf("Timing Clock and Active Sensing are displayed (block with CTRL-B)\n");

    inputSetup();
    gCmdPtr = 0;
}
