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
#include "../frontend/frontend.h"

#include <stdio.h>

namespace {

const int kUsageError = 2;

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
        switch (syxCaptureOn(o.syxDir)) {
        case SyxReady: break;
        case SyxNameTooLong: fileProblem("--syx: the folder", o.syxDir, "name too long"); return false;
        case SyxNotAFolder: fileProblem("--syx: the folder", o.syxDir, "not a folder"); return false;
        default:
            fileProblem("--syx: cannot create the folder", o.syxDir, fileErrorText(GetLastError()));
            return false;
        }
    }
    if (o.smfFile) {
        switch (smfLogOn(o.smfFile, o.force)) {
        case SmfReady: break;
        case SmfExists:
            fileProblem("--smf: the file", o.smfFile, "exists (--force replaces it)");
            return false;
        case SmfNotAFile:
            fileProblem("--smf: the file", o.smfFile, "a link, a folder or a device, never replaced");
            return false;
        default: fileProblem("--smf: cannot create", o.smfFile, fileErrorText(GetLastError())); return false;
        }
    }
    return true;
}

int runSession(const CliOptions &o)
{
    extrasSetOrigin(vtClockUs()); /* the times shown and logged count from here */
    if (o.dir && !SetCurrentDirectoryA(o.dir)) {
        fputs("voltanis: cannot change to the folder '", stderr);
        printVisible(stderr, o.dir);
        fputs("'\n", stderr);
        return kUsageError;
    }
    uint32_t out = 0, in = 0;
    if ((o.out && !findPort(true, o.out, &out)) || (o.in && !findPort(false, o.in, &in)))
        return kUsageError;
    if (!startTools(o)) {
        extrasFinish();
        return kUsageError;
    }
    bool oneShot = !o.send.empty();
    if (oneShot)
        keyboardFromLines(o.send.data(), (unsigned)o.send.size());

    platformInit();
    initSettings();
    printBanner();
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
    if (o.out)
        goSelDev = out;
    if (o.in)
        giSelDev = in;
    chooseStartPorts(o.out != nullptr, o.in != nullptr);
    if (oneShot)
        gMode = 0;
    statusReport();
    if (oneShot)
        reportUnopenedPorts();
    runMainLoop();
    extrasFinish();
    if (oneShot)
        putchar('\n'); /* the shell's prompt starts on a line of its own */
    return exitStatus();
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
