/*
 * The record file: everything received, as raw bytes, with a pause marker
 * at each pause.  Writes go straight to the file through WriteFile, never
 * through a buffer of our own, so whatever was reported written is in the
 * file even if the program is killed.
 */
#include "inputpriv.h"
#include "../extras/extras.h"
#include "../frontend/frontend.h"

#include <stdio.h>

HANDLE ghRecFile;
int32_t gbRecFileOpen, gbRecRecv, gbRecQuiet;
uint32_t gByteCount;

static const char kPauseMarker[] = "_PaUsE_"; /* written without its zero */
#define PAUSE_MARKER_LEN 7

/* after a write that fell short: what was written stays, recording stops */
static void recWriteFailed(void)
{
    errorLine("Record File Write Error!\n");
    CloseHandle(ghRecFile);
    gbRecFileOpen = 0;
    gbRecRecv = 0;
}

int recWrite(const void *data, DWORD n)
{
    DWORD written = 0;
    /* judged only by the count reported: a short write is a failure */
    WriteFile(ghRecFile, data, n, &written, 0);
    if (written != n) {
        recWriteFailed();
        return 0;
    }
    return 1;
}

void recDotCheck(void)
{
    if (gByteCount > 2000 && gbRecQuiet) {
        printf(".");
        gByteCount = 0;
    }
}

void StartRecReceive(void)
{
    if (!gbRecFileOpen) {
        HANDLE h = CreateFileA(recordFileName(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD why = GetLastError();
            errorLine("Cannot open Record File!\n");
            printFileRefusal(recordFileName(), why);
            return;
        }
        ghRecFile = h;
        gbRecFileOpen = 1;
    }
    /* the first dot of quiet recording comes after just over 200 bytes */
    gByteCount = 1800;
    gbRecRecv = 1;
    printf("-Recording");
    printf("%s", gbRecQuiet ? " Quietly-" : "\n");
}

void PauseRecReceive(void)
{
    gbRecRecv = 0;
    if (!gbRecFileOpen) {
        errorLine("Record File Write Error!\n");
        return;
    }
    if (recWrite(kPauseMarker, PAUSE_MARKER_LEN))
        printf("%s\n", kPauseMarker);
}

void closeRecFile(void)
{
    if (gbRecFileOpen)
        CloseHandle(ghRecFile);
    gbRecFileOpen = 0;
    gbRecRecv = 0;
    gbRecQuiet = 0;
    printf("-Rec File Closed\n");
}
