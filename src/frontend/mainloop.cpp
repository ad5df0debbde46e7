/*
 * The main loop: one key, or one received entry, or the idle checks and a
 * short pause per pass; the key dispatch, the help screen and the exit
 * prompt.
 */
#include "frontend.h"

#include "../entry/entry.h"
#include "../extras/extras.h"
#include "../input/input.h"
#include "../output/output.h"
#include "../preset/preset.h"

#include <stdio.h>

enum {
    KEY_CTRL_A = 1,
    KEY_CTRL_B = 2,
    KEY_CTRL_E = 5,
    KEY_CTRL_G = 7,
    KEY_CTRL_N = 14,
    KEY_CTRL_P = 16,
    KEY_CTRL_Q = 17,
    KEY_CTRL_R = 18,
    KEY_CTRL_W = 23,
    KEY_ESC = 27,
    KEY_ENTER = 13
};

/* scan codes that follow the function-key prefix */
enum {
    SC_F1 = 0x3B,
    SC_F2,
    SC_F3,
    SC_F4,
    SC_F5,
    SC_F6,
    SC_F7,
    SC_F8,
    SC_F9,
    SC_F10,
    SC_F11 = 0x85,
    SC_F12 = 0x86
};

/* The platform's pause ends the moment a key or a MIDI notification
   arrives, so an idle program need not wake for anything else: it sleeps
   until then, or until a wake that was asked for (requestWakeWithin).  The
   console keeps its own times (the lone ESC, the end of piped keys). */
#define IDLE_PAUSE_MS 3600000UL

static int sExitConfirmed;

/* the earliest wake asked for, on vtClockUs; 0 when none */
static int64_t sWakeAtUs;

void requestWakeWithin(unsigned ms)
{
    int64_t at = vtClockUs() + (int64_t)ms * 1000;
    if (sWakeAtUs == 0 || at < sWakeAtUs)
        sWakeAtUs = at;
}

void idlePause(void)
{
    unsigned long ms = IDLE_PAUSE_MS;
    if (sWakeAtUs != 0) {
        int64_t leftMs = (sWakeAtUs - vtClockUs() + 999) / 1000;
        if (leftMs < (int64_t)ms)
            ms = leftMs > 0 ? (unsigned long)leftMs : 0;
    }
    if (ms > 0)
        _sleep(ms);
    if (sWakeAtUs != 0 && vtClockUs() >= sWakeAtUs)
        sWakeAtUs = 0; /* done: a feature that wants more asks again */
}

/* The idle pause ends in time for what the tools have due by the clock
   (the log file's header, once a second while it has news). */
static void wakeForTimedWork(void)
{
    int64_t due = timedWorkDueUs();
    if (due < 0)
        return;
    int64_t ms = (due - vtClockUs() + 999) / 1000;
    requestWakeWithin(ms > 0 ? (unsigned)ms : 1);
}

uint32_t gFailures = 0;

void noteFailure(void)
{
    if (gFailures < UINT32_MAX)
        gFailures++;
}

/* A person at the console saw every error as it came: the session itself
   ended as asked. */
int exitStatus(void) { return gFailures != 0 && !keyboardIsConsole() ? 1 : 0; }

void printHelp(void)
{
    printf("\nshort list of commands: (letters case insensitive, parameters hex or decimal)\n");
    printf("-------------------------------------------------------------------------\n");
    printf("enter MESSAGE type - then DATA bytes: separated by SPACE, terminated by ENTER:\n");
    printf("M  set MIDI channel of Msg: 1...16(hex10)\nX  send NOTE OFF\n");
    printf("N  send NOTE ON 1.data=value, 2.data=velocity. Example: n45 40<ENTER>\n");
    printf("Y  send POLY KEY PRESSURE\n");
    printf("K  send CONTROL CHANGE 1.data=controller number, 2.data=value\n");
    printf("P  send PROGRAM CHANGE, data byte 0...127(hex7F) ------ NOT 1...128 !\n");
    printf("Z  send CHANNEL PRESSURE\n");
    printf("W  send PITCH WHEEL CHANGE 1.data=LSB, 2.data=MSB\n");
    printf("F  send div. MIDI Realtime 1.data(in HEX!)=lowNibble=type, 2.+ 3.data=optional\n");
    printf("S  send SYSEX text or \\<hex byte>. Terminated by <ENTER>. EOX auto-inserted\n");
    printf("I  set manufacturer ID. 3 bytes, ID+FF FF=1byte ID - default:private 7D FF FF\n");
    printf("$ (default)  enter numbers in HEX, & enter numbers in DECIMAL\n");
    printf("CTRL-QWER or KEY F1-F4  change I/O mode,\n");
    printf("CTRL-A or KEY F5  repeats transmission of last MIDI Message\n");
    printf("CTRL-B blocks Timing Clock and Active Sensing(default),CTRL-G releases blocking\n");
    printf("KEY F6 Send File Slowly, KEY F7 Send File Fast, KEY F8 Abort Transmission\n");
    printf("KEY F9 Start or Continue Receive_Rec while displayed, Key F10 same w/o display\n");
    printf("KEY F11 Pause Receive_Rec, KEY F12 Close Record File (VOLTANIS.REC)\n");
    printf("CTRL-N change MIDIport, CTRL-P save config as Preset (VOLTANIS.SET)\n");
}

/* the platform's pause ends as soon as a key comes */
int waitKey(void)
{
    while (!_kbhit())
        idlePause();
    return _getch();
}

int exitPrompt(void)
{
    closePorts();
    exitPromptNotes();
    printf("EXIT? <ENTER>=exit  <SPACE>=continue");
    if (waitKey() == KEY_ENTER) {
        if (gbRecFileOpen)
            CloseHandle(ghRecFile);
        /* the line of the prompt is ended, so that the shell's prompt
           starts on a line of its own */
        if (keyboardIsConsole())
            printf("\n");
        return 1;
    }
    printf("\r");
    statusReport();
    return 0;
}

static void setMode(int32_t mode)
{
    int hex = gNumBase == 16;
    gMode = mode;
    switch (mode) {
    case 0: printf("\nmode 0: type MIDI MSG - display MIDI MSG\n"); break;
    case 1:
        printf(hex ? "\nmode 1: type MIDI MSG - display HEX BYTES\n"
                   : "\nmode 1: type MIDI MSG - display DECIMAL BYTES\n");
        break;
    case 2:
        printf(hex ? "\nmode 2: type HEX BYTES- display MIDI MSG\n"
                   : "\nmode 2: type DECIMAL BYTES- display MIDI MSG\n");
        break;
    default:
        printf(hex ? "\nmode 3: type HEX BYTES- display HEX BYTES\n"
                   : "\nmode 3: type DECIMAL BYTES- display DECIMAL BYTES\n");
        break;
    }
    gCmdPtr = 0;
}

void dispatchKey(uint8_t key)
{
    /* after an S the rest of the line is SysEx text, where ? is a character */
    if (key == 's' || key == 'S')
        gEnterSysex = 1;

    if (key == '?' && !gEnterSysex) {
        printHelp();
        return;
    }
    switch (key) {
    case KEY_ESC:
        gCmdPtr = 0;
        if (exitPrompt())
            sExitConfirmed = 1;
        return;
    case KEY_CTRL_Q: setMode(0); return;
    case KEY_CTRL_W: setMode(1); return;
    case KEY_CTRL_E: setMode(2); return;
    case KEY_CTRL_R: setMode(3); return;
    case KEY_CTRL_P:
        if (savePreset())
            printf("preset saved in file VOLTANIS.SET\n");
        gCmdPtr = 0;
        return;
    case KEY_CTRL_A:
        if (gMsgLength != 0)
            repeatLastMsg();
        else
            printf("no Msg !\n");
        return;
    case KEY_CTRL_B:
        gbBlockRealTime = 1;
        printf("display of Timing Clock and Active Sensing blocked\n");
        gCmdPtr = 0;
        return;
    case KEY_CTRL_G:
        gbBlockRealTime = 0;
        printf("Timing Clock and Active Sensing are displayed\n");
        gCmdPtr = 0;
        return;
    case KEY_CTRL_N: changePorts(); return;
    default: enterChar(key); return;
    }
}

static void functionKey(uint8_t scan)
{
    /* what arrived before a recording key belongs before it in the record
       file (and before its message on the screen) */
    if (scan == SC_F9 || scan == SC_F10 || scan == SC_F11 || scan == SC_F12)
        showAllReceived();
    switch (scan) {
    case SC_F1: dispatchKey(KEY_CTRL_Q); break;
    case SC_F2: dispatchKey(KEY_CTRL_W); break;
    case SC_F3: dispatchKey(KEY_CTRL_E); break;
    case SC_F4: dispatchKey(KEY_CTRL_R); break;
    case SC_F5: dispatchKey(KEY_CTRL_A); break;
    case SC_F6: SendFile(1); break;
    case SC_F7: SendFile(0); break;
    case SC_F9:
        gbRecQuiet = 0;
        StartRecReceive();
        break;
    case SC_F10:
        gbRecQuiet = 1;
        StartRecReceive();
        break;
    case SC_F11: PauseRecReceive(); break;
    case SC_F12: closeRecFile(); break;
    default: break; /* F8 outside a transfer, cursor keys, Alt combinations */
    }
}

int keyIsPrefix(int key) { return (key == 0 || key == 0xE0) && !lastKeyIsCharacter(); }

void processKey(uint8_t key)
{
    if (key == 0 || key == 0xE0) {
        gbCheckFuncKey = 1;
        return;
    }
    if (gbCheckFuncKey) {
        gbCheckFuncKey = 0;
        functionKey(key);
        return;
    }
    dispatchKey(key);
}

/* Keys from a pipe or from the command line can wait, and the queues of
   what arrives cannot: while one of them is more than half full, what
   waits there is shown before the next such key is taken, one entry a
   pass.  A person at the console keeps the keys' precedence. */
static int showBeforeKeys(void)
{
    if (keyboardIsConsole() || !receiveBacklogHigh())
        return 0;
    return showOneEntry() || receiveIdleChecks();
}

int mainLoopPass(void)
{
    if (showBeforeKeys())
        return 1;
    if (_kbhit()) {
        sExitConfirmed = 0;
        int key = _getch();
        /* a character typed is dispatched as one, whatever its value: a
           0xE0 that begins a UTF-8 character is no key prefix */
        if (!gbCheckFuncKey && !keyIsPrefix(key))
            dispatchKey((uint8_t)key);
        else
            processKey((uint8_t)key);
        return !sExitConfirmed;
    }
    timedWork();
    if (showOneEntry())
        return 1;
    if (!receiveIdleChecks()) {
        wakeForTimedWork();
        idlePause();
    }
    return 1;
}

void runMainLoop(void)
{
    sExitConfirmed = 0;
    while (mainLoopPass())
        ;
}

int voltanisMain(void)
{
    initSettings();
    printBanner();
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
    chooseStartPorts(0, 0);
    statusReport();
    runMainLoop();
    return exitStatus();
}
