/*
 * Device selection: the user picks one output and one input port by number;
 * the port change of CTRL-N; the port close sequence.
 */
#include "frontend.h"
#include "../extras/extras.h"

#include "../input/input.h"
#include "../preset/preset.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

/* A port number needs a few characters; what is typed beyond the buffer is
   not kept, so "0000000000000000001" reads as its first characters only. */
#define SELECTION_LINE 16

/* decimal conversion of a line as atoi does it (white space, sign, digits up
   to the first other character, 0 without digits), but saturating instead
   of overflowing */
static long long lineToNumber(const char *s)
{
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v')
        s++;
    int negative = 0;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    long long value = 0;
    while (*s >= '0' && *s <= '9') {
        if (value < (long long)INT_MAX + 1)
            value = value * 10 + (*s - '0');
        s++;
    }
    if (negative)
        return value > (long long)INT_MAX + 1 ? INT_MIN : -value;
    return value > INT_MAX ? INT_MAX : value;
}

static MMRESULT portName(int isOut, UINT i, const char **name)
{
    MMRESULT r;
    if (isOut) {
        r = midiOutGetDevCapsA(i, &gMoc, sizeof gMoc);
        gMoc.szPname[31] = 0;
        *name = gMoc.szPname;
    } else {
        r = midiInGetDevCapsA(i, &gMic, sizeof gMic);
        gMic.szPname[31] = 0;
        *name = gMic.szPname;
    }
    return r;
}

/* asks until a number below count is typed; the list is shown again after
   every refused number */
static uint32_t choosePort(int isOut, uint32_t count)
{
    for (;;) {
        printf(isOut ? "Select MIDI OUT device:\n" : "Select MIDI IN device:\n");
        for (uint32_t i = 0; i < count; i++) {
            const char *name;
            char shown[SHOWN_NAME_SIZE];
            if (portName(isOut, i, &name) == MMSYSERR_NOERROR)
                printf("# %u: %s \n", i, shownName(shown, name));
            else
                printf(isOut ? "ERROR identifying MIDI OUT device # %u \n"
                             : "ERROR identifying MIDI IN device # %u \n",
                    i);
        }
        printf("type selection number and finish with <ENTER>:");
        char line[SELECTION_LINE];
        readLine(line, sizeof line);
        /* negative numbers turn into huge unsigned ones and are refused */
        uint32_t choice = (uint32_t)(int)lineToNumber(line);
        if (choice > count - 1) {
            printf("\nERROR, repeat: ");
            continue;
        }
        if (isOut)
            printf("\n");
        return choice;
    }
}

void selectDevicesKeeping(int keepOut, int keepIn)
{
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
    /* Keys from a pipe or a file are messages to send, not answers: nobody
       is there to choose, so each direction takes its first port, as an
       empty answer would, and the status report names it. */
    int ask = keyboardIsConsole();
    if (goNumDevs != 0 && !keepOut)
        goSelDev = ask ? choosePort(1, goNumDevs) : 0;
    if (giNumDevs != 0 && !keepIn)
        giSelDev = ask ? choosePort(0, giNumDevs) : 0;
    gMode = 0;
    printf("Selection:\n");
}

void selectDevices(void) { selectDevicesKeeping(0, 0); }

void chooseStartPorts(int keepOut, int keepIn)
{
    if (loadPresetKeeping(keepOut, keepIn))
        printf("Preset loaded:");
    else
        selectDevicesKeeping(keepOut, keepIn);
}

/* What arrived before the close is shown and recorded first, and what came
   until the input stopped after it, so that nothing received (nor a count
   of what was lost) goes with the port unsaid. */
void closePorts(void)
{
    showAllReceived();
    if (gOutHandle != 0)
        midiOutClose(gOutHandle);
    if (gInHandle != 0)
        inputStop();
    showAllReceived();
}

void changePorts(void)
{
    closePorts();
    portChangeBegins();
    printf("\n");
    selectDevices();
    statusReport();
}
