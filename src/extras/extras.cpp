/*
 * The tools' state and the hooks of extras.h.
 */
#include "extras.h"

#include "script.h"
#include "portnews.h"
#include "smf.h"
#include "syxfiles.h"
#include "timing.h"
#include "view.h"

#include "../frontend/frontend.h"
#include "../input/input.h"
#include "../output/output.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace {

int64_t gOriginUs = 0;

/* -t */
bool gTimes = false;
ReplyClock gReply = {0, 0, 0};
int64_t gArrivalUs = 0;          /* of the message being shown */
int64_t gAboveUs = kNoLineAbove; /* the time of the line above */
bool gHasLatency = false;
int64_t gLatencyUs = 0;

/* --gap */
unsigned gGapMs = 0;

/* several -i: the source of the message taken last, -1 for none known */
int gSource = -1;

/* --syx */
bool gSyxOn = false;

/* --smf */
class SmfFile : public SmfOut {
public:
    HANDLE h = INVALID_HANDLE_VALUE;
    bool onSignal = false; /* from the function run at a fatal signal */
    DWORD error = 0;       /* why the first write or flush failed */

    bool writeAt(uint32_t offset, const uint8_t *p, uint32_t n) override
    {
        if (onSignal)
            return vtWriteFileAtOnSignal(h, offset, p, n) != 0;
        LONG high = 0;
        DWORD done = 0;
        if (SetFilePointer(h, (LONG)offset, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            WriteFile(h, p, n, &done, NULL) && done == n)
            return true;
        return failed();
    }
    bool flush() override
    {
        if (onSignal)
            return vtFlushFileOnSignal(h) != 0;
        return FlushFileBuffers(h) || failed();
    }

private:
    bool failed()
    {
        if (error == 0)
            error = GetLastError();
        return false;
    }
};

SmfFile gSmfFile;
SmfLog gSmf;
SmfOrder gOrder; /* in front of gSmf */
bool gSmfOn = false;
char gSmfName[4096];
DWORD gSmfStartError = 0;

/* The log's state changes in sections that the function run at a fatal
   signal (smfAtSignal) never cuts into: it finds the state as one step
   left it or the next. */
struct LogSection {
    LogSection() { vtHoldFatalSignals(1); }
    ~LogSection() { vtHoldFatalSignals(0); }
};

/* At a signal that ends the program: what waits is written and the header
   brought up to date, with async-signal-safe calls only. */
void smfAtSignal(void)
{
    if (!gSmfOn)
        return;
    gSmfFile.onSignal = true;
    gOrder.release(SmfOrder::kNothingWaits);
    gSmf.update(0);
}

void closeSmf(void)
{
    vtAtFatalSignal(nullptr);
    LogSection s;
    gSmfOn = false;
    CloseHandle(gSmfFile.h);
    gSmfFile.h = INVALID_HANDLE_VALUE;
}

/* after any step of the log: a failure is said once, and the log stops
   with the file as its latest update left it (a write that failed had
   the header brought up to date with everything before it) */
void smfChecked(bool ok)
{
    if (ok || !gSmfOn)
        return;
    /* the log's own limit is the 4 GiB a track can hold */
    DWORD why = gSmfFile.error ? gSmfFile.error : (DWORD)ERROR_FILE_TOO_LARGE;
    closeSmf();
    char shown[SHOWN_NAME_SIZE];
    errorLine("\nERROR SMF FILE: cannot write %s: %s; the log has stopped\n", shownName(shown, gSmfName),
        fileErrorText(why));
    noteFailure();
}

/* When the oldest message arrived that the display will take after the
   short messages still waiting; SmfOrder::kNothingWaits for none. */
int64_t waitingUs(void)
{
    int64_t us;
    return waitingBehindShorts(&us) ? us : SmfOrder::kNothingWaits;
}

/* Everything the log holds back that nothing waiting arrived before. */
void smfCatchUp(void)
{
    if (!gSmfOn)
        return;
    bool ok;
    {
        LogSection s;
        ok = gOrder.release(waitingUs()) && gSmf.tick(vtClockUs());
    }
    smfChecked(ok);
}

void syxSaveChecked(const uint8_t *p, uint32_t n)
{
    if (syxSave(p, n) != SyxFailed)
        return;
    char shown[SHOWN_NAME_SIZE];
    if (syxLastError() == SYX_NO_NUMBER_LEFT)
        errorLine("\nERROR SYSEX FILE: the numbers of %u digits in %s are used up; SysEx capture is off\n",
            syxDigits(), shownName(shown, syxFolder()));
    else
        errorLine("\nERROR SYSEX FILE: cannot write %s: %s; SysEx capture is off\n",
            shownName(shown, syxLastName()), fileErrorText(syxLastError()));
    gSyxOn = false;
    noteFailure();
}

/* The message being taken arrived at us: whether it answers the latest
   transmission (the display may take it before one that arrived earlier,
   waiting at waiting).  A real-time message the display hides is no
   answer. */
void arrived(int64_t us, bool hidden, int64_t waiting)
{
    gArrivalUs = us;
    gHasLatency = gTimes && !hidden && replyTaken(&gReply, us, waiting, &gLatencyUs);
}

} // namespace

void extrasSetOrigin(int64_t originUs) { gOriginUs = originUs; }
int64_t extrasOriginUs(void) { return gOriginUs; }
void timestampsOn(void) { gTimes = true; }
void sendGapOn(unsigned ms) { gGapMs = ms; }

SyxStart syxCaptureOn(const char *dir)
{
    SyxStart r = syxStart(dir);
    gSyxOn = r == SyxReady;
    return r;
}

namespace {

/* Where the last part of a name starts, after its last '/' or '\\' (on
   POSIX a backslash belongs to a name: the folder before it is then none
   that exists, and nothing below is refused for it). */
size_t lastPartAt(const char *name)
{
    size_t at = 0;
    for (size_t i = 0; name[i]; i++)
        if (name[i] == '/' || name[i] == '\\')
            at = i + 1;
    return at;
}

bool sameNameAnyCase(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

/* A name that --syx capture may give a file of its folder: digits and
   .syx, or any name that starts with a dot (its temporary files). */
bool captureMayUse(const char *part)
{
    if (part[0] == '.')
        return true;
    size_t digits = strspn(part, "0123456789");
    return digits > 0 && sameNameAnyCase(part + digits, ".syx");
}

/* What this run's own files forbid FILE to be; SmfReady when nothing. */
SmfStart ownFileProblem(const char *file, const char *syxDir)
{
    size_t at = lastPartAt(file);
    const char *part = file + at;
    char folder[sizeof gSmfName];
    if (at == 0)
        snprintf(folder, sizeof folder, ".");
    else
        snprintf(folder, sizeof folder, "%.*s", (int)at, file);
    /* any case: a folder of a system that ignores case has them so */
    if (sameNameAnyCase(part, gPresetFileName) && vtSameFolder(folder, "."))
        return SmfPresetFile;
    if (sameNameAnyCase(part, gRecFileName) && vtSameFolder(folder, "."))
        return SmfRecordFile;
    if (syxDir && captureMayUse(part) && vtSameFolder(folder, syxDir))
        return SmfCaptureName;
    return SmfReady;
}

/* A file operation of the start failed: in use, or why not. */
SmfStart refused(void)
{
    gSmfStartError = GetLastError();
    return gSmfStartError == ERROR_SHARING_VIOLATION ? SmfInUse : SmfCannotCreate;
}

/* An existing FILE replaced (with force): never a link, a folder, a
   device, a read-only file or one that another open holds (another run's
   log or record file).  The check holds the file for as long as the system
   lets a file held be deleted, so that no other run takes it meanwhile. */
SmfStart removeExisting(const char *file, DWORD a)
{
    if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return SmfNotAFile;
    if (a & FILE_ATTRIBUTE_READONLY)
        return SmfReadOnly;
    HANDLE held = CreateFileA(file, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return refused();
    bool gone = DeleteFileA(file) != 0;
    CloseHandle(held);
    if (!gone && !DeleteFileA(file)) /* Windows deletes no file that is open */
        return refused();
    return SmfReady;
}

} // namespace

DWORD smfStartError(void) { return gSmfStartError; }

SmfStart smfLogOn(const char *file, int force, const char *syxDir)
{
    gSmfStartError = 0;
    if (!*file)
        return SmfNoName;
    int n = snprintf(gSmfName, sizeof gSmfName, "%s", file);
    if (n < 0 || (size_t)n >= sizeof gSmfName)
        return SmfNameTooLong;
    SmfStart own = ownFileProblem(file, syxDir);
    if (own != SmfReady)
        return own;
    DWORD a = GetFileAttributesA(file);
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (!force)
            return SmfExists;
        SmfStart r = removeExisting(file, a);
        if (r != SmfReady)
            return r;
    }
    /* share mode 0: held for as long as it is written, as the record file */
    HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return refused();
    bool ok;
    {
        LogSection s;
        gSmfFile.h = h;
        gSmfFile.onSignal = false;
        gSmfFile.error = 0;
        ok = gSmf.begin(&gSmfFile, gOriginUs);
        gOrder.begin(&gSmf);
        gSmfOn = ok;
    }
    if (!ok) {
        gSmfStartError = gSmfFile.error;
        CloseHandle(h);
        gSmfFile.h = INVALID_HANDLE_VALUE;
        return SmfCannotCreate;
    }
    vtAtFatalSignal(smfAtSignal);
    return SmfReady;
}

void extrasFinish(void)
{
    if (gSmfOn) {
        bool ok;
        {
            LogSection s;
            ok = gOrder.release(SmfOrder::kNothingWaits) && gSmf.update(vtClockUs());
        }
        smfChecked(ok);
    }
    if (gSmfOn)
        closeSmf();
    syxStop();
    gSyxOn = false;
    gTimes = false;
    gReply.waiting = 0;
    gHasLatency = false;
    gAboveUs = kNoLineAbove;
    gGapMs = 0;
    gSource = -1;
    viewOff();
    scriptOff();
    portNewsOff();
}

void extrasStartFailed(void)
{
    extrasFinish();
    syxUndoStart();
}

void noteShortReceived(uint32_t word, int64_t arrivalUs)
{
    gSource = vtMidiInSources() > 1 ? vtMidiInWordSource(word) : -1;
    word &= 0xFFFFFFu; /* the message's own bytes */
    uint8_t status = (uint8_t)word;
    int64_t waiting = gTimes || gSmfOn ? waitingUs() : SmfOrder::kNothingWaits;
    int shown = !((status == 0xF8 || status == 0xFE) && gbBlockRealTime);
    if (gViewOn) {
        viewSourceIs(gSource);
        shown = viewShortTaken(word, arrivalUs, shown);
    }
    scriptShortTaken(word, arrivalUs);
    arrived(arrivalUs, !shown, waiting);
    if (gSmfOn) {
        bool ok;
        {
            LogSection s;
            ok = gOrder.shortMessage(word, arrivalUs, waiting) && gSmf.tick(vtClockUs());
        }
        smfChecked(ok);
    }
}

namespace {

/* A SysEx taken, whole or cut off: a cut one is never saved, and the log
   writes it as it came. */
void sysexTaken(const uint8_t *p, uint32_t n, int cut, int64_t arrivalUs)
{
    gSource = vtMidiInSources() > 1 ? vtMidiInLongSource() : -1;
    int64_t waiting = gTimes || gSmfOn ? waitingUs() : SmfOrder::kNothingWaits;
    arrived(arrivalUs, gViewOn && !viewSysexTaken(p, n, cut), waiting);
    scriptSysexTaken(p, n, cut, arrivalUs);
    if (gSyxOn) {
        if (cut)
            syxCut();
        else
            syxSaveChecked(p, n);
    }
    if (gSmfOn) {
        bool ok;
        {
            LogSection s;
            ok = (cut ? gOrder.cutSysex(p, n, arrivalUs, waiting) : gOrder.sysex(p, n, arrivalUs, waiting)) &&
                 gSmf.tick(vtClockUs());
        }
        smfChecked(ok);
    }
}

} // namespace

void noteSysexReceived(const uint8_t *p, uint32_t n, int64_t arrivalUs) { sysexTaken(p, n, 0, arrivalUs); }

void noteSysexCut(const uint8_t *p, uint32_t n, int64_t arrivalUs) { sysexTaken(p, n, 1, arrivalUs); }

void noteOtherReceived(int64_t arrivalUs)
{
    gSource = -1;
    if (gViewOn)
        viewOtherTaken();
    scriptOtherTaken(gReceived, arrivalUs);
    arrived(arrivalUs, false, gTimes ? waitingUs() : SmfOrder::kNothingWaits);
    smfCatchUp();
}

const char *receivedTimeColumn(void)
{
    static char column[32 + kSourceTagSize];
    column[0] = '\0';
    if (gTimes) {
        formatTimeColumn(gArrivalUs - gOriginUs, gAboveUs, column, 32);
        gAboveUs = gArrivalUs - gOriginUs;
    }
    if (vtMidiInSources() > 1) {
        char tag[kSourceTagSize];
        formatSourceTag(gSource + 1, gSource >= 0 ? vtMidiInSourceName(gSource) : "", tag);
        strncat(column, tag, sizeof column - strlen(column) - 1);
    }
    return column;
}

const char *receivedSourceName(void)
{
    static char shown[SHOWN_NAME_SIZE];
    if (vtMidiInSources() < 2)
        return nullptr;
    if (gSource < 0)
        return "";
    return shownName(shown, vtMidiInSourceName(gSource));
}

namespace {

/* A marker in the log where a port went or came back. */
void smfMarker(const char *text)
{
    if (!gSmfOn)
        return;
    bool ok;
    {
        LogSection s;
        ok = gOrder.release(waitingUs()) && gSmf.text(text, vtClockUs()) && gSmf.tick(vtClockUs());
    }
    smfChecked(ok);
}

} // namespace

void offeredPortOn(const char *name) { portNewsOffered(name); }

void portChangeBegins(void) { vtMidiInAlso(nullptr, 0); }

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

/* Also what the log held back for a message taken since (see SmfOrder),
   and the news of ports that came and went. */
void timedWork(void)
{
    smfCatchUp();
    portNewsWork(smfMarker);
}

int64_t timedWorkDueUs(void)
{
    int64_t ports = portNewsDueUs();
    if (!gSmfOn)
        return ports;
    /* held back for a message that was taken without a word (a SysEx
       broken off): at the next pass */
    int64_t log = gOrder.held() ? vtClockUs() : gSmf.dueUs();
    if (ports < 0)
        return log;
    return log < 0 || ports < log ? ports : log;
}

namespace {
const char *gRecordName = nullptr; /* --record FILE */
} // namespace

void recordFileOn(const char *name) { gRecordName = name; }
const char *recordFileName(void) { return gRecordName ? gRecordName : gRecFileName; }

int stopRequested(void) { return vtStopSignalled(); }

