/*
 * The program started with arguments.  A session runs as without them,
 * with three differences: the ports given are taken without a question
 * (the preset's other settings still load), the folder given is the
 * current one, and lines given are typed by the keyboard in mode 0 (see
 * keyboardFromLines), so the run ends as a piped one does.
 */
#include "cli.h"

#include "options.h"
#include "ports.h"

#include "../extras/extras.h"
#include "../extras/script.h"
#include "../frontend/frontend.h"
#include "../input/input.h"
#include "../output/output.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const int kUsageError = 2;
const int kNoAnswer = 3; /* fewer answers than --expect asked for, in --timeout */

int usageError(const std::string &message)
{
    fputs("voltanis: ", stderr);
    printVisible(stderr, message.c_str());
    fputc('\n', stderr);
    printUsage(stderr);
    return kUsageError;
}

/* nobody watches a one-shot run: a port that would not open is said */
void reportUnopenedPorts(void)
{
    fflush(stdout); /* after the status report, where a reader looks for it */
    if (goNumDevs != 0 && gOutHandle == 0)
        fprintf(stderr, "voltanis: MIDI OUT port #%u could not be opened\n", goSelDev);
    if (giNumDevs != 0 && gInHandle == 0)
        fprintf(stderr, "voltanis: MIDI IN port #%u could not be opened\n", giSelDev);
}

/* "voltanis: <what> 'name': <why>" on stderr */
void fileProblem(const char *what, const char *name, const char *why)
{
    fprintf(stderr, "voltanis: %s '", what);
    printVisible(stderr, name);
    fprintf(stderr, "': %s\n", why);
}

/* Why a folder could not be made the current one, in a folder's words. */
const char *folderErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_DIRECTORY: return "not a folder";
    case ERROR_CANT_RESOLVE_FILENAME: return "a loop of symbolic links";
    default: return fileErrorText(error);
    }
}

/* Why --smf FILE cannot be the log, in a few words. */
const char *smfRefusal(SmfStart r)
{
    switch (r) {
    case SmfReady: return nullptr;
    case SmfExists: return "exists (--force replaces it)";
    case SmfNotAFile: return "a link, a folder or a device, never replaced";
    case SmfReadOnly: return "read-only, never replaced";
    case SmfInUse: return "in use by another run or program, never replaced";
    case SmfPresetFile: return "the preset file of this run, never a log";
    case SmfRecordFile: return "the record file of this run, never a log";
    case SmfCaptureName: return "a name --syx capture may use, never a log";
    case SmfNoName: return "an empty name";
    case SmfNameTooLong: return "name too long";
    default: return nullptr; /* SmfCannotCreate: see startTools */
    }
}

/* The time and SysEx tools the options ask for; false, with the reason on
   stderr, when a folder or file of theirs cannot be used.  Relative names
   are taken in the current folder, the one of --dir. */
bool startTools(const CliOptions &o)
{
    if (o.timestamps)
        timestampsOn();
    if (o.explain)
        explainOn();
    filtersOn(&o.filter);
    if (o.gapMs)
        sendGapOn((unsigned)o.gapMs);
    if (o.syxDir) {
        const char *why = nullptr;
        switch (syxCaptureOn(o.syxDir)) {
        case SyxReady: break;
        case SyxNameTooLong: why = "name too long"; break;
        case SyxNotAFolder: why = "not a folder"; break;
        case SyxNoNumberLeft: why = "its highest number leaves none for a new file"; break;
        case SyxCannotList:
            fileProblem("--syx: cannot read the folder", o.syxDir, fileErrorText(syxLastError()));
            return false;
        case SyxCannotWrite:
            fileProblem("--syx: cannot write in the folder", o.syxDir, fileErrorText(syxLastError()));
            return false;
        case SyxCannotCreate:
            fileProblem("--syx: cannot create the folder", o.syxDir, fileErrorText(syxLastError()));
            return false;
        }
        if (why) {
            fileProblem("--syx: the folder", o.syxDir, why);
            return false;
        }
    }
    if (o.smfFile) {
        SmfStart r = smfLogOn(o.smfFile, o.force, o.syxDir);
        if (r == SmfCannotCreate) {
            fileProblem("--smf: cannot create", o.smfFile, fileErrorText(smfStartError()));
            return false;
        }
        if (r != SmfReady) {
            fileProblem("--smf: the file", o.smfFile, smfRefusal(r));
            return false;
        }
    }
    return true;
}

/* The moment after the last line was sent (or the file, or the start of a
   listener) when the run ends, in ms; VT_LINES_NEVER for none: --timeout
   for what --expect waits for, else --wait, else at once (nothing to
   wait for) or never (--expect, a listener). */
/* what the last line or block makes a port answer is still shown, as
   after piped keys */
const long kAnswersMs = 150;
const long kEndAsUsual = -2; /* the short moment of piped keys */
long endAfterMs(const CliOptions &o)
{
    if ((o.expect || o.expectSysex) && o.timeoutMs >= 0)
        return o.timeoutMs;
    if (o.waitMs >= 0)
        return o.waitMs;
    return o.expect || o.expectSysex || o.listen ? VT_LINES_NEVER : kEndAsUsual;
}

/* --color=auto: a terminal, and nobody asked for no colour */
bool colorWanted(CliOptions::Color c)
{
    if (c == CliOptions::ColorAuto) {
        const char *no = getenv("NO_COLOR");
        return vtStdoutIsTerminal() && (!no || !*no);
    }
    return c == CliOptions::ColorAlways;
}

/* The main loop of a run from a script: the keys are the lines (or none),
   and their end (the exit) comes once endMs have passed after the last
   (VT_LINES_NEVER: no time), or at once when the answers expected came or
   CTRL-C or SIGTERM asked to stop. */
void runUntilDone(long endMs)
{
    bool ending = false;
    while (mainLoopPass()) {
        if (ending)
            continue;
        bool over = false;
        int64_t done = keyboardLinesDoneUs();
        if (done >= 0 && endMs != VT_LINES_NEVER) {
            int64_t left = done + (int64_t)endMs * 1000 - vtClockUs();
            over = left <= 0;
            if (!over)
                requestWakeWithin((unsigned)((left + 999) / 1000));
        }
        if (over || expectMet() || stopRequested()) {
            ending = true;
            quietListening(0); /* the exit prompt is no line of the display */
            keyboardLinesEndAfter(0);
        }
    }
}

int runSession(const CliOptions &o)
{
    extrasSetOrigin(vtClockUs()); /* the times shown and logged count from here */
    const bool lines = !o.send.empty();
    const bool scripted = lines || o.sendFile || o.listen;
    if (!scripted && (o.json || o.quiet)) {
        platformInit();
        if (keyboardIsConsole())
            return usageError(std::string(o.json ? "--json" : "--quiet") +
                              " is for runs from a script: --send, --send-file, --listen or piped input");
    }
    if (o.dir && !SetCurrentDirectoryA(o.dir)) {
        fileProblem("cannot change to the folder", o.dir, folderErrorText(GetLastError()));
        return kUsageError;
    }
    /* offered first, so that -o and -i may choose it */
    if (o.virtualName) {
        int offered = vtOfferPort(o.virtualName);
        if (offered < 0) {
            fputs("voltanis: --virtual: the MIDI system here (winmm, or no ALSA sequencer) cannot offer a port "
                  "to other programs; \"Voltanis Loopback\" or a loopback driver serves instead\n",
                stderr);
            return kUsageError;
        }
        if (offered == 0) {
            fputs("voltanis: --virtual: the MIDI system refused to make the port\n", stderr);
            return kUsageError;
        }
        offeredPortOn(o.virtualName);
    }
    uint32_t out = 0, in = 0;
    if ((o.out && !findPort(true, o.out, &out)) || (o.in && !findPort(false, o.in, &in)))
        return kUsageError;
    /* the further inputs: each port once, the first one's too */
    std::vector<UINT> more;
    for (size_t i = 1; i < o.ins.size(); i++) {
        uint32_t id;
        if (!findPort(false, o.ins[i], &id))
            return kUsageError;
        bool twice = id == in;
        for (UINT m : more)
            twice = twice || m == id;
        if (!twice)
            more.push_back(id);
    }
    if (more.size() + 1 > VT_MAX_INPUTS) {
        fprintf(stderr, "voltanis: at most %d input ports at once (%u given)\n", VT_MAX_INPUTS,
            (unsigned)more.size() + 1);
        return kUsageError;
    }
    if (!startTools(o)) {
        extrasStartFailed();
        return kUsageError;
    }
    if (o.record)
        recordFileOn(o.record);
    if (o.json)
        jsonOn();
    if (colorWanted(o.color))
        colorOn();
    expectOn((uint32_t)o.expect, (uint32_t)o.expectSysex);
    const long endMs = endAfterMs(o);
    /* a file or a listener types nothing: the keys end when the run does */
    if (lines)
        keyboardFromLines(o.send.data(), (unsigned)o.send.size());
    else if (scripted)
        keyboardFromLines(nullptr, 0);
    if (scripted)
        keyboardLinesEndAfter(VT_LINES_NEVER); /* runUntilDone ends them */

    platformInit();
    if ((scripted || o.quiet || o.json) && !o.verbose)
        quietOn();
    if (scripted)
        vtStopOnSignals();
    initSettings();
    printBanner();
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
    if (!more.empty())
        vtMidiInAlso(more.data(), (int)more.size());
    if (o.listen) {
        /* no output port, no preset, no question */
        goNumDevs = 0;
        giSelDev = in;
        gMode = 0;
    } else {
        if (o.out)
            goSelDev = out;
        if (o.in)
            giSelDev = in;
        chooseStartPorts(o.out != nullptr, o.in != nullptr);
    }
    if (lines)
        gMode = 0;
    statusReport();
    if (vtMidiInSources() > 1) {
        /* the other inputs, as the tags will name them */
        printf("merged MIDI IN ports:");
        for (int i = 0; i < vtMidiInSources(); i++) {
            char shown[SHOWN_NAME_SIZE];
            printf("  %d:%s", i + 1, shownName(shown, vtMidiInSourceName(i)));
        }
        printf("\n");
    }
    if (scripted)
        reportUnopenedPorts();
    if (o.listen && gInHandle == 0) {
        /* nothing to listen to: not a run that waits for a signal */
        extrasFinish();
        return 1;
    }
    if (o.record) {
        gbRecQuiet = 0;
        StartRecReceive();
        if (!gbRecFileOpen) {
            closePorts();
            extrasFinish();
            return kUsageError;
        }
    }
    if (o.sendFile) {
        keyboardFromConsole(); /* F8 stops the transfer */
        if (!sendFileNamed(o.sendFile, o.slow ? 1 : 0))
            noteFailure();
        keyboardFromLines(nullptr, 0);
    }
    if (o.listen)
        quietListening(1);
    if (scripted)
        runUntilDone(endMs == kEndAsUsual ? kAnswersMs : endMs);
    else
        runMainLoop();
    const bool answered = expectMet() != 0;
    if (o.timeoutMs >= 0 && !answered)
        expectSayMissing(o.timeoutMs);
    extrasFinish();
    int status = exitStatus();
    if (status == 0 && o.timeoutMs >= 0 && !answered)
        status = kNoAnswer;
    if (scripted && o.verbose) {
        putchar('\n'); /* the shell's prompt starts on a line of its own */
        fflush(stdout);
    }
    /* the lines were the keys: what was piped in besides is not lost
       without a word */
    if (lines && standardInputUnread())
        fputs("voltanis: standard input was not read: the keys were the --send lines\n", stderr);
    return status;
}

} // namespace

int cliMain(int argc, const char *const *argv)
{
    CliOptions o = parseOptions(argc, argv);
    switch (o.action) {
    case CliOptions::Error: return usageError(o.error);
    case CliOptions::Help: printUsage(stdout); return 0;
    case CliOptions::Version: printf("voltanis %s\n", VOLTANIS_VERSION); return 0;
    case CliOptions::List: listPorts(stdout); return 0;
    case CliOptions::Run: break;
    }
    return runSession(o);
}
