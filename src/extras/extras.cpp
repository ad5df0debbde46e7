/*
 * The tools' state and the hooks of extras.h.
 */
#include "extras.h"

#include "smf.h"
#include "syxfiles.h"
#include "timing.h"
#include "view.h"

#include "../frontend/frontend.h"
#include "../output/output.h"

#include <stdio.h>

namespace {

int64_t gOriginUs = 0;

/* -t */
bool gTimes = false;
ReplyClock gReply = {0, 0, 0};
int64_t gArrivalUs = 0; /* of the message being shown */
bool gHasLatency = false;
int64_t gLatencyUs = 0;

/* --gap */
unsigned gGapMs = 0;

/* --syx */
bool gSyxOn = false;

/* --smf */
class SmfFile : public SmfOut {
public:
    HANDLE h = INVALID_HANDLE_VALUE;

    bool append(const uint8_t *p, uint32_t n) override
    {
        DWORD done = 0;
        return WriteFile(h, p, n, &done, NULL) && done == n;
    }
    bool writeAt(uint32_t offset, const uint8_t *p, uint32_t n) override
    {
        return SetFilePointer(h, (LONG)offset, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
               append(p, n) && SetFilePointer(h, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER;
    }
    bool flush() override { return FlushFileBuffers(h) != 0; }
};

SmfFile gSmfFile;
SmfLog gSmf;
bool gSmfOn = false;
char gSmfName[4096];

void closeSmf(void)
{
    gSmfOn = false;
    CloseHandle(gSmfFile.h);
    gSmfFile.h = INVALID_HANDLE_VALUE;
}

/* after any step of the log: a failure is said once, and the log stops
   with the file as its latest update left it */
void smfChecked(bool ok)
{
    if (ok || !gSmfOn)
        return;
    DWORD why = GetLastError();
    char shown[SHOWN_NAME_SIZE];
    printf("\nERROR SMF FILE: cannot write %s: %s; the log has stopped\n", shownName(shown, gSmfName),
        fileErrorText(why));
    closeSmf();
    noteFailure();
}

void syxSaveChecked(const uint8_t *p, uint32_t n)
{
    if (syxSave(p, n) != SyxFailed)
        return;
    char shown[SHOWN_NAME_SIZE];
    printf("\nERROR SYSEX FILE: cannot write %s: %s; SysEx capture is off\n", shownName(shown, syxLastName()),
        fileErrorText(syxLastError()));
    gSyxOn = false;
    noteFailure();
}

/* The message being taken arrived at us: whether it answers the latest
   transmission.  A real-time message the display hides is no answer. */
void arrived(int64_t us, bool hidden)
{
    gArrivalUs = us;
    gHasLatency = gTimes && !hidden && replyTaken(&gReply, us, &gLatencyUs);
}

} // namespace

void extrasSetOrigin(int64_t originUs) { gOriginUs = originUs; }
void timestampsOn(void) { gTimes = true; }
void sendGapOn(unsigned ms) { gGapMs = ms; }

SyxStart syxCaptureOn(const char *dir)
{
    SyxStart r = syxStart(dir);
    gSyxOn = r == SyxReady;
    return r;
}

SmfStart smfLogOn(const char *file, int force)
{
    int n = snprintf(gSmfName, sizeof gSmfName, "%s", file);
    if (n <= 0 || (size_t)n >= sizeof gSmfName)
        return SmfCannotCreate;
    DWORD a = GetFileAttributesA(file);
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (!force)
            return SmfExists;
        if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
            return SmfNotAFile;
        if (!DeleteFileA(file))
            return SmfCannotCreate;
    }
    gSmfFile.h = CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (gSmfFile.h == INVALID_HANDLE_VALUE)
        return SmfCannotCreate;
    gSmfOn = true;
    if (!gSmf.begin(&gSmfFile, gOriginUs)) {
        closeSmf();
        return SmfCannotCreate;
    }
    return SmfReady;
}

void extrasFinish(void)
{
    if (gSmfOn)
        smfChecked(gSmf.update(vtClockUs()));
    if (gSmfOn)
        closeSmf();
    syxStop();
    gSyxOn = false;
    gTimes = false;
    gReply.waiting = 0;
    gHasLatency = false;
    gGapMs = 0;
    viewOff();
}

void noteShortReceived(uint32_t word, int64_t arrivalUs)
{
    uint8_t status = (uint8_t)word;
    int shown = !((status == 0xF8 || status == 0xFE) && gbBlockRealTime);
    if (gViewOn)
        shown = viewShortTaken(word, arrivalUs, shown);
    arrived(arrivalUs, !shown);
    if (gSmfOn) {
        smfChecked(gSmf.shortMessage(word, arrivalUs));
        smfChecked(gSmf.tick(vtClockUs()));
    }
}

void noteSysexReceived(const uint8_t *p, uint32_t n, int64_t arrivalUs)
{
    arrived(arrivalUs, gViewOn && !viewSysexTaken(p, n));
    if (gSyxOn)
        syxSaveChecked(p, n);
    if (gSmfOn) {
        smfChecked(gSmf.sysex(p, n, arrivalUs));
        smfChecked(gSmf.tick(vtClockUs()));
    }
}

void noteOtherReceived(int64_t arrivalUs)
{
    if (gViewOn)
        viewOtherTaken();
    arrived(arrivalUs, false);
}

const char *receivedTimeColumn(void)
{
    static char column[32];
    if (!gTimes)
        return "";
    formatTimeColumn(gArrivalUs - gOriginUs, column, sizeof column);
    return column;
}

const char *receivedReplyNote(void)
{
    static char note[48];
    char latency[32];
    if (!gHasLatency)
        return "";
    formatLatency(gLatencyUs, latency, sizeof latency);
    snprintf(note, sizeof note, "  (%s after send)", latency);
    return note;
}

int64_t transmissionBegins(void) { return gTimes ? vtClockUs() : 0; }

void transmissionEnded(int64_t beganUs, int bytes)
{
    if (gTimes && bytes > 0)
        replySent(&gReply, beganUs, vtClockUs());
}

int gapEndsBlock(uint8_t byte) { return gGapMs != 0 && byte == 0xF7; }

int gapAfterBlock(const uint8_t *block, int32_t n)
{
    if (gGapMs == 0 || n <= 0 || block[n - 1] != 0xF7)
        return 0;
    return transferPause(gGapMs);
}

void timedWork(void)
{
    if (gSmfOn)
        smfChecked(gSmf.tick(vtClockUs()));
}

int64_t timedWorkDueUs(void) { return gSmfOn ? gSmf.dueUs() : -1; }
