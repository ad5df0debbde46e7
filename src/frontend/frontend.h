/*
 * Console front end: terminal settings, note names, start-up, status
 * report, device selection, main loop and key dispatch.
 */
#ifndef VOLTANIS_FRONTEND_H
#define VOLTANIS_FRONTEND_H

#include "../platform/platform.h"

#include <stddef.h>
#include <stdint.h>

/* terminal settings */
extern int32_t gMode;           /* I/O mode 0..3 */
extern uint8_t gNumBase;        /* 16 hexadecimal, anything else decimal */
extern int32_t gbBlockRealTime; /* hide Timing Clock and Active Sensing */
extern uint8_t gChannel;        /* MIDI channel minus one */
extern uint8_t gIdStr[4];       /* SysEx manufacturer ID, FF-filled */
extern uint32_t goSelDev, giSelDev;
extern uint32_t goNumDevs, giNumDevs;
extern char gMidiOutName[64], gMidiInName[64];
extern char gPresetFileName[32], gRecFileName[32], gSendFileName[32];

/* front-end state */
extern HMIDIOUT gOutHandle;
extern HMIDIIN gInHandle;
extern MIDIOUTCAPSA gMoc;
extern MIDIINCAPSA gMic;
extern int32_t gbCheckFuncKey;
extern uint8_t gEnterSysex;
extern char gCmdStr[512];
extern int32_t gCmdPtr;

extern char gNotes[128][8];

/* start-up */
void fillNoteNames(void);
void initSettings(void); /* what every session starts from, before the banner */
void printBanner(void);
void statusReport(void);  /* ends with the ports open and the line abandoned */
void selectDevices(void); /* asks for both ports, then "Selection:\n" */
void closePorts(void);    /* the port close sequence */
void changePorts(void);   /* CTRL-N */
/* asks only for the directions whose port was not chosen beforehand */
void selectDevicesKeeping(int keepOut, int keepIn);
/* the preset's ports and settings, else the selection; a direction kept
   keeps the port chosen beforehand (goSelDev, giSelDev) */
void chooseStartPorts(int keepOut, int keepIn);

/* main loop */
void printHelp(void);
int keyIsPrefix(int key);      /* the byte _getch just gave begins a function or cursor key */
void processKey(uint8_t key);  /* prefix handling, then dispatch */
void dispatchKey(uint8_t key); /* the ordinary dispatch */
int waitKey(void);             /* the next key, waiting for the user */
/* The pause of a main-loop pass with nothing to do: it ends at a key, a MIDI
   notification, or the earliest wake asked for with requestWakeWithin. */
void idlePause(void);
/* Asks the idle pause to end within ms milliseconds, for work that must be
   done on time while nothing arrives (a file kept up to date, say); the
   earliest request counts, and each is for one wake.  Main thread only. */
void requestWakeWithin(unsigned ms);
int exitPrompt(void);   /* 1: the user confirmed the exit */
int mainLoopPass(void); /* 0 once the user confirmed the exit */
void runMainLoop(void);
int voltanisMain(void); /* the whole program; returns its status */

/* What the user asked for and did not get: lines refused, bytes not sent,
   ports that would not open.  With nobody at the keyboard (a pipe, lines
   from the command line) the program then ends with status 1. */
extern uint32_t gFailures;
void noteFailure(void);
int exitStatus(void); /* 0, or 1 after a failure without a person at the keyboard */
/* Names from files, ports and the user as they are shown: every control
   character, and every byte that is no well-formed UTF-8, becomes '?', so
   that no name can act on the terminal.  At most SHOWN_NAME_SIZE - 1
   characters of name; returns out. */
#define SHOWN_NAME_SIZE 64
const char *shownName(char out[SHOWN_NAME_SIZE], const char *name);
/* The same for a text of any length: at most size - 1 bytes of it, shown
   into out (size bytes); returns out.  What it leaves is well-formed UTF-8
   without a control character, one character for each '?'. */
const char *shownText(char *out, size_t size, const char *text);
/* The length of the well-formed UTF-8 character of two to four bytes at p
   (at most left bytes), 0 for none. */
size_t utf8CharAt(const uint8_t *p, size_t left);
/* 1 when shownName would change no character of text (whatever its
   length): no control character, well-formed UTF-8 throughout. */
int isVisibleText(const char *text);
/* Why a file operation failed, in a few words, from its GetLastError code. */
const char *fileErrorText(DWORD error);
/* "name: reason!\n", the line that follows a refused file's message. */
void printFileRefusal(const char *name, DWORD error);

#endif
