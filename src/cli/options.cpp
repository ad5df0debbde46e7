/*
 * The command line, read as GNU programs read theirs: "-o PORT", "-oPORT",
 * "--out PORT", "--out=PORT", flags bundled ("-lh"), a long name shortened
 * as long as it stays unique ("--li"), and "--" ending the options.  The
 * program takes no other arguments.
 */
#include "options.h"

#include "../frontend/frontend.h"

#include <string.h>

namespace {

/* what an option sets; the short name where it has one */
enum OptionKey {
    kSyx = 1,
    kGap,
    kSmf,
    kForce,
    kHide,
    kOnly,
    kChannel,
    kSlow,
    kWait,
    kExpect,
    kExpectSysex,
    kTimeout,
    kJson,
    kColor,
    kRecord,
    kVirtual
};

/* whether an option takes a value */
enum { kNoValue, kValue, kMayValue /* only attached: --color=always */ };

struct OptionSpec {
    int key;
    char shortName; /* 0: a long name only */
    const char *longName;
    int takesValue;
};

const OptionSpec kOptions[] = {
    {'h', 'h', "help", false},
    {'V', 'V', "version", false},
    {'l', 'l', "list", false},
    {'o', 'o', "out", true},
    {'i', 'i', "in", true},
    {'C', 'C', "dir", true},
    {'s', 's', "send", true},
    {'t', 't', "timestamps", false},
    {kSyx, 0, "syx", true},
    {kGap, 0, "gap", true},
    {kSmf, 0, "smf", true},
    {kForce, 0, "force", false},
    {'x', 'x', "explain", false},
    {kHide, 0, "hide", true},
    {kOnly, 0, "only", true},
    {kChannel, 0, "channel", true},
    {'f', 'f', "send-file", true},
    {kSlow, 0, "slow", false},
    {'v', 'v', "verbose", false},
    {'q', 'q', "quiet", false},
    {kWait, 0, "wait", true},
    {kExpect, 0, "expect", true},
    {kExpectSysex, 0, "expect-sysex", true},
    {kTimeout, 0, "timeout", true},
    {'L', 'L', "listen", false},
    {kJson, 0, "json", false},
    {kColor, 0, "color", kMayValue},
    {kRecord, 0, "record", true},
    {kVirtual, 0, "virtual", kMayValue}, /* its NAME only as --virtual=NAME */
};

const OptionSpec *byShortName(char c)
{
    for (const OptionSpec &o : kOptions)
        if (o.shortName == c && c != 0)
            return &o;
    return nullptr;
}

/* The options before --send-file were there first: a shortened name that
   also starts a later one ("--li", "--time") keeps meaning the first, so
   that the scripts written for them keep working. */
const size_t kFirstOptions = 16;

/* the option a long name (len characters) stands for, exactly or as the
   start of one name only (or of one of the first options only);
   *ambiguous when it starts several */
const OptionSpec *byLongName(const char *name, size_t len, bool *ambiguous)
{
    const OptionSpec *found = nullptr, *firstFound = nullptr;
    int starts = 0, firstStarts = 0;
    *ambiguous = false;
    for (size_t i = 0; i < sizeof kOptions / sizeof kOptions[0]; i++) {
        const OptionSpec &o = kOptions[i];
        if (strncmp(o.longName, name, len) != 0)
            continue;
        if (o.longName[len] == '\0')
            return &o;
        found = &o;
        starts++;
        if (i < kFirstOptions) {
            firstFound = &o;
            firstStarts++;
        }
    }
    if (starts > 1 && firstStarts == 1)
        return firstFound;
    *ambiguous = starts > 1;
    return starts == 1 ? found : nullptr;
}

bool fail(CliOptions *opts, const std::string &message)
{
    opts->action = CliOptions::Error;
    opts->error = message;
    return true;
}

/* A whole number from least to most, in decimal. */
bool readNumber(const char *value, long least, long most, long *n)
{
    long v = 0;
    if (!*value)
        return false;
    for (const char *p = value; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > most)
            return false;
    }
    if (v < least)
        return false;
    *n = v;
    return true;
}

/* --wait, --timeout, --expect and --expect-sysex: a number in its range */
bool readBounded(const char *option, const char *what, const char *value, long least, long most, long *n,
    CliOptions *opts)
{
    if (readNumber(value, least, most, n))
        return false;
    return fail(opts, std::string("invalid ") + option + " '" + value + "' (" + what + ", " +
                          std::to_string(least) + " to " + std::to_string(most) + ")");
}

bool readColor(const char *value, CliOptions *opts)
{
    if (!value || strcmp(value, "auto") == 0)
        opts->color = CliOptions::ColorAuto;
    else if (strcmp(value, "always") == 0)
        opts->color = CliOptions::ColorAlways;
    else if (strcmp(value, "never") == 0)
        opts->color = CliOptions::ColorNever;
    else
        return fail(opts, std::string("invalid --color '") + value + "' (auto, always or never)");
    return false;
}

/* --hide or --only: the kinds named, never both options. */
bool readKinds(const char *option, const char *value, uint32_t *kinds, uint32_t other, CliOptions *opts)
{
    std::string bad;
    const std::string kinds_ = std::string(" (kinds: ") + kindNames() + ")";
    if (other)
        return fail(opts, "--only and --hide exclude each other" + kinds_);
    if (!parseKinds(value, kinds, &bad))
        return fail(opts, std::string(bad.empty() ? "an empty kind" : "unknown kind '" + bad + "'") + " in " +
                              option + kinds_);
    return false;
}

/* Takes one option; true when the reading ends with it. */
bool apply(const OptionSpec &o, const char *value, CliOptions *opts)
{
    switch (o.key) {
    case 'h': opts->action = CliOptions::Help; return true;
    case 'V': opts->action = CliOptions::Version; return true;
    case 'l': opts->action = CliOptions::List; return false;
    case 'o': opts->out = value; return false;
    case 'i':
        if (!opts->in)
            opts->in = value;
        opts->ins.push_back(value);
        return false;
    case kVirtual:
        /* a name other programs list and show: text, and short enough
           for the sequencer */
        if (!value)
            value = "Voltanis";
        if (!*value)
            return fail(opts, "--virtual: an empty port name");
        if (strlen(value) > kMaxVirtualName)
            return fail(opts, "--virtual: the port name is longer than " + std::to_string(kMaxVirtualName) +
                                  " bytes");
        if (!isVisibleText(value))
            return fail(opts, std::string("--virtual: the port name '") + value +
                                  "' holds a control character or a byte that is no UTF-8 text");
        opts->virtualName = value;
        return false;
    case 'C': opts->dir = value; return false;
    case 't': opts->timestamps = true; return false;
    case kSyx: opts->syxDir = value; return false;
    case kSmf: opts->smfFile = value; return false;
    case kForce: opts->force = true; return false;
    case 'x': opts->explain = true; return false;
    case kHide: return readKinds("--hide", value, &opts->filter.hide, opts->filter.only, opts);
    case kOnly: return readKinds("--only", value, &opts->filter.only, opts->filter.hide, opts);
    case kChannel:
        if (!parseChannels(value, &opts->filter.channels))
            return fail(
                opts, std::string("invalid channel list '") + value + "' (channels 1 to 16, as 1,10 or 1-4)");
        return false;
    case kGap:
        if (!readNumber(value, 0, kMaxGapMs, &opts->gapMs))
            return fail(opts, std::string("invalid gap '") + value + "' (milliseconds, 0 to " +
                                  std::to_string(kMaxGapMs) + ")");
        return false;
    case 'f': opts->sendFile = value; return false;
    case kSlow: opts->slow = true; return false;
    case 'v': opts->verbose = true; return false;
    case 'q': opts->quiet = true; return false;
    case 'L': opts->listen = true; return false;
    case kJson: opts->json = true; return false;
    case kColor: return readColor(value, opts);
    case kRecord: opts->record = value; return false;
    case kWait: return readBounded("--wait", "milliseconds", value, 0, kMaxWaitMs, &opts->waitMs, opts);
    case kTimeout:
        return readBounded("--timeout", "milliseconds", value, 1, kMaxWaitMs, &opts->timeoutMs, opts);
    case kExpect: return readBounded("--expect", "messages", value, 1, kMaxExpect, &opts->expect, opts);
    case kExpectSysex:
        return readBounded(
            "--expect-sysex", "SysEx messages", value, 1, kMaxExpect, &opts->expectSysex, opts);
    default:
        /* A line is text typed in mode 0: an ESC, a CTRL-P or a line end
           in it would act as a key of its own, and a byte of no character
           would reach the screen as it is typed. */
        if (!isVisibleText(value))
            return fail(opts, std::string("--send line '") + value +
                                  "' holds a control character or a byte that is no UTF-8 text");
        opts->send.push_back(value);
        return false;
    }
}

/* "--name", "--name=value" or "--name value"; *next is the index of the
   argument after what was taken.  True when the reading ends. */
bool longOption(int argc, const char *const *argv, int *next, CliOptions *opts)
{
    const char *arg = argv[*next - 1] + 2;
    const char *eq = strchr(arg, '=');
    size_t len = eq ? (size_t)(eq - arg) : strlen(arg);
    std::string given(arg, len);
    bool ambiguous;
    const OptionSpec *o = byLongName(arg, len, &ambiguous);
    if (!o)
        return fail(opts,
            (ambiguous ? "option '--" + given + "' is ambiguous" : "unrecognized option '--" + given + "'"));
    std::string name = std::string("--") + o->longName;
    if (o->takesValue == kNoValue) {
        if (eq)
            return fail(opts, "option '" + name + "' doesn't allow an argument");
        return apply(*o, nullptr, opts);
    }
    if (eq || o->takesValue == kMayValue)
        return apply(*o, eq ? eq + 1 : nullptr, opts);
    if (*next >= argc)
        return fail(opts, "option '" + name + "' requires an argument");
    return apply(*o, argv[(*next)++], opts);
}

/* "-x", bundled flags "-xyz", "-oVALUE" or "-o VALUE". */
bool shortOptions(int argc, const char *const *argv, int *next, CliOptions *opts)
{
    const char *arg = argv[*next - 1];
    for (const char *p = arg + 1; *p; p++) {
        const OptionSpec *o = byShortName(*p);
        if (!o)
            return fail(opts, std::string("invalid option -- '") + *p + "'");
        if (o->takesValue == kNoValue) {
            if (apply(*o, nullptr, opts))
                return true;
            continue;
        }
        if (p[1])
            return apply(*o, p + 1, opts);
        if (*next >= argc)
            return fail(opts, std::string("option requires an argument -- '") + *p + "'");
        return apply(*o, argv[(*next)++], opts);
    }
    return false;
}

/* What the options given together cannot mean; true with the reason. */
bool checkTogether(CliOptions *o)
{
    bool oneShot = !o->send.empty() || o->sendFile;
    bool waits = o->waitMs >= 0 || o->expect || o->expectSysex || o->timeoutMs >= 0;
    if (!o->send.empty() && o->sendFile)
        return fail(o, "--send and --send-file exclude each other");
    if (o->listen && (oneShot || o->out))
        return fail(o, "--listen sends nothing: no --out, --send or --send-file with it");
    if (o->listen && !o->in)
        return fail(o, "--listen needs the input port (-i PORT)");
    if (waits && !oneShot && !o->listen)
        return fail(o, "--wait, --expect and --timeout need --send, --send-file or --listen");
    if (o->timeoutMs >= 0 && !o->expect && !o->expectSysex)
        return fail(o, "--timeout needs --expect or --expect-sysex");
    if (o->slow && !o->sendFile)
        return fail(o, "--slow goes with --send-file");
    if (o->verbose && (o->quiet || o->json))
        return fail(o, std::string("--verbose and ") + (o->quiet ? "--quiet" : "--json") + " exclude each other");
    return false;
}

} // namespace

CliOptions parseOptions(int argc, const char *const *argv)
{
    CliOptions opts;
    int next = 1;
    bool optionsEnded = false;
    while (next < argc) {
        const char *arg = argv[next++];
        bool isOption = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
        if (isOption && strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (!isOption) {
            fail(&opts, std::string("unexpected argument '") + arg + "'");
            break;
        }
        bool ends =
            arg[1] == '-' ? longOption(argc, argv, &next, &opts) : shortOptions(argc, argv, &next, &opts);
        if (ends)
            break;
    }
    if (opts.action == CliOptions::Run)
        checkTogether(&opts);
    return opts;
}

void printUsage(FILE *to)
{
    fputs("Usage: voltanis [OPTION]...\n"
          "Send and watch MIDI messages; without options, an interactive session.\n"
          "\n"
          "  -l, --list        list the MIDI ports and exit\n"
          "  -o, --out=PORT    take this MIDI OUT port instead of asking\n"
          "  -i, --in=PORT     take this MIDI IN port instead of asking; given\n"
          "                    several times, show what all of them send, each\n"
          "                    line tagged with its port\n"
          "      --virtual[=NAME]  offer a port NAME (default Voltanis) that other\n"
          "                    programs connect to (ALSA only)\n"
          "  -C, --dir=DIR     keep VOLTANIS.SET and VOLTANIS.REC in DIR and find\n"
          "                    send files there (default: the current folder)\n"
          "  -s, --send=LINE   carry LINE out as typed in mode 0 and ended with Enter;\n"
          "                    may be given several times; show what comes back\n"
          "                    for a moment, then exit\n"
          "  -t, --timestamps  start each received line with its arrival time in\n"
          "                    seconds, and show the reply latency after a send\n"
          "      --syx=DIR     also save each SysEx received as DIR/NNNN.syx\n"
          "      --gap=MS      pause MS milliseconds after each F7 of a send file\n"
          "      --smf=FILE    log everything received into FILE, a Standard MIDI\n"
          "                    File; an existing FILE only with --force\n"
          "      --force       let --smf replace an existing FILE\n"
          "  -x, --explain     end each received line with what the message means\n"
          "      --hide=KINDS  do not show these kinds of messages\n"
          "      --only=KINDS  show only these kinds of messages, clock and sense\n"
          "                    even while CTRL-B hides them\n"
          "      --channel=LIST  show channel messages of these channels only\n"
          "\n"
          "Runs from a script (standard output carries only what comes back):\n"
          "  -f, --send-file=FILE  send FILE, raw MIDI bytes, as F7 does, show what\n"
          "                    comes back, then exit\n"
          "      --slow        send FILE as F6 does, 64 bytes per 100 ms\n"
          "  -L, --listen      only show what the input ports of -i receive, until\n"
          "                    CTRL-C or SIGTERM; no output port\n"
          "  -q, --quiet       piped input as quiet as --send\n"
          "  -v, --verbose     the session's texts as without these options\n"
          "      --wait=MS     listen MS milliseconds after the last line was sent\n"
          "      --expect=N    end once N messages came back\n"
          "      --expect-sysex=N  end once N SysEx messages came back\n"
          "      --timeout=MS  at most MS milliseconds for them, then exit status 3\n"
          "      --json        one JSON object per message received, a line each\n"
          "      --color[=WHEN]  colour the lines by kind: auto (the default\n"
          "                    WHEN: a terminal, NO_COLOR unset), always or never\n"
          "      --record=FILE  record everything received into FILE, raw bytes\n"
          "  -h, --help        show this help and exit\n"
          "  -V, --version     show the version and exit\n"
          "\n"
          "PORT is the number the port lists show, an ALSA address CLIENT:PORT, the\n"
          "exact name, or a part of the name (in any case) that one port only has.\n"
          "\n"
          "Relative names of --syx and --smf are taken in the folder of --dir.\n"
          "\n",
        to);
    /* the kinds, in lines that fit 80 columns */
    fputs("KINDS is a comma-separated list of:", to);
    int column = 80;
    for (const char *k = kindNames(); *k;) {
        size_t n = strcspn(k, " ");
        if (column + 1 + (int)n > 78) {
            fputs("\n ", to);
            column = 1;
        }
        fprintf(to, " %.*s", (int)n, k);
        column += 1 + (int)n;
        k += n + (k[n] == ' ');
    }
    fputs(".\n"
          "LIST is channels 1 to 16 and ranges, as 1,10 or 1-4.  The filters act on the\n"
          "display only: VOLTANIS.REC, --smf and --syx keep everything.\n"
          "\n"
          "LINE is text of up to 511 characters; a control character in it is an error.\n"
          "\n",
        to);
    fputs(
          "Exit status: 0 all was sent; 1 a line or a transmission failed, a port\n"
          "could not be opened, or something received was lost (with --send or piped\n"
          "input); 2 a wrong command line, or a --syx folder or --smf file that\n"
          "cannot be used; 3 no answer: fewer messages than --expect asked for came\n"
          "within --timeout.\n",
        to);
}
