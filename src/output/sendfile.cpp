/*
 * Send file: a file of raw MIDI bytes leaves the output port in blocks of
 * up to 64 bytes, one long message each, slowly (100 ms between blocks) or
 * as fast as the port takes them.  F8 stops a running transfer.
 *
 * A pipe or a device with nothing to read yet never holds the keyboard:
 * the transfer waits for it in short pauses and answers F8 meanwhile, and
 * what it had so far leaves at once.  The console itself is refused as a
 * send file by the platform.
 */
#include "output.h"

#include "../extras/extras.h"
#include "../frontend/frontend.h"

#include <stdio.h>
#include <string.h>

HANDLE ghSendFile = INVALID_HANDLE_VALUE;
int32_t gTXCol = 0;

#define TX_BLOCK 64
#define SLOW_PAUSE_MS 100
/* how long a transfer waits for a pipe that has nothing yet before it looks
   at the keyboard again (the pause also ends at once on a key) */
#define KEY_POLL_MS 10
/* room for a typed name that is too long, so that it can be told apart
   from one that fits */
#define NAME_LINE 256

#define KEY_CTRL_F 6
#define SCAN_F8 0x42

/* The blocks are built in gSbuf, where the repeat key finds the last typed
   message; its first bytes are kept here for the transfer and put back
   afterwards, so that CTRL-A still repeats what the user typed. */
static uint8_t sKeptBytes[TX_BLOCK];

/* Reads a name into gSendFileName; a name that does not fit is refused and
   the stored one kept.  0 when nothing is to be sent. */
static int readSendFileName(void)
{
    char line[NAME_LINE];
    int n = readLine(line, sizeof line);
    if (n < 0) {
        /* end of the console input: taken as an empty line */
        line[0] = 0;
        n = 0;
    }
    if (strlen(line) > sizeof gSendFileName - 1) {
        errorLine("File name too long (%u characters at most)!\n", (unsigned)(sizeof gSendFileName - 1));
        return 0;
    }
    memcpy(gSendFileName, line, strlen(line) + 1);
    return 1;
}

/* Reads one waiting key; 1 when it was F8.  Every other key typed during a
   transfer is dropped. */
static int abortKeyTyped(void)
{
    int key = _getch();
    if (!keyIsPrefix(key))
        return 0;
    int scan = waitKey();
    return key == 0 && scan == SCAN_F8;
}

int transferPause(unsigned ms)
{
    const int64_t deadline = vtClockUs() + (int64_t)ms * 1000;
    for (;;) {
        if (stopRequested() || (_kbhit() && abortKeyTyped()))
            return 1;
        int64_t left = deadline - vtClockUs();
        if (left <= 0)
            return 0;
        /* the platform ends a pause early on a key or a notification (an
           echo of the block just sent): then it is waited out again */
        _sleep((unsigned long)((left + 999) / 1000));
    }
}

static void restoreKeptBytes(void) { memcpy(gSbuf, sKeptBytes, sizeof sKeptBytes); }

int ReadSendLine(void)
{
    gTXCol = 0;
    for (;;) {
        DWORD done = 0;
        if (!ReadFile(ghSendFile, &gSbuf[gTXCol], 1, &done, NULL))
            return GetLastError() == ERROR_NO_DATA ? SEND_NOT_YET : 0;
        if (done == 0)
            return 255;
        if (++gTXCol == TX_BLOCK || gapEndsBlock(gSbuf[gTXCol - 1]))
            return 1;
    }
}

/* F8 typed during a transfer; any other key is dropped. */
void SendFile(uint8_t pace)
{
    const char *paceWord = pace == 1 ? "'slowly'" : "'fast'";

    /* a name from elsewhere (the preset) that fills the field is cut at its
       last place rather than read past the field */
    gSendFileName[sizeof gSendFileName - 1] = 0;

    if (gSendFileName[0] == 0) {
        printf("\nType file name to be sent %s and finish with <ENTER>:\n", paceWord);
        if (!readSendFileName())
            return;
    } else {
        char shown[SHOWN_NAME_SIZE];
        printf("Send file %s %s - confirm with <ENTER>.\nTo select another file type CTRL_F  ",
            shownName(shown, gSendFileName), paceWord);
        int key = waitKey();
        if (key == KEY_CTRL_F) {
            printf("\rType file name to be sent %s and finish with <ENTER>:\n", paceWord);
            if (!readSendFileName())
                return;
        } else {
            /* a function key confirms as a whole: its scan code must not
               reach the transfer or the main loop as a key of its own */
            if (keyIsPrefix(key))
                waitKey();
            printf("\n");
        }
    }
    sendFileNamed(gSendFileName, pace);
}

int sendFileNamed(const char *name, uint8_t pace)
{
    ghSendFile = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ghSendFile == INVALID_HANDLE_VALUE) {
        DWORD why = GetLastError();
        errorLine("Cannot open Send File!\n");
        noteFailure();
        /* a missing file needs no words; the keyboard, a folder, a file in
           use do */
        if (why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND)
            printFileRefusal(name, why);
        return 0;
    }

    memcpy(sKeptBytes, gSbuf, sizeof sKeptBytes);
    printf("-Sending ");
    int blocks = 1;
    int aborted = 0;
    int r;
    for (;;) {
        r = ReadSendLine();
        if (r == 0) {
            errorLine("File Read Error");
            noteFailure();
            break;
        }
        if (r == SEND_NOT_YET && gTXCol == 0) {
            /* a pipe or a device with nothing to read yet: the keyboard is
               minded while it is waited for */
            _sleep(KEY_POLL_MS);
        } else {
            /* what a pipe had so far leaves now rather than when 64 bytes
               have come */
            sendLongMsg(gTXCol);
            if (r == 255)
                break;
            if (pace == 1)
                aborted = transferPause(SLOW_PAUSE_MS);
            if (!aborted)
                aborted = gapAfterBlock(gSbuf, gTXCol);
            blocks++;
            if (blocks % 25 == 2)
                printf(".");
        }
        if (aborted || stopRequested() || (_kbhit() && abortKeyTyped())) {
            errorLine("Aborted\n");
            CloseHandle(ghSendFile);
            ghSendFile = INVALID_HANDLE_VALUE;
            restoreKeptBytes();
            return 0;
        }
    }
    CloseHandle(ghSendFile);
    ghSendFile = INVALID_HANDLE_VALUE;
    restoreKeptBytes();
    if (r != 0)
        printf("Ready\n");
    return r != 0;
}
