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
enum OptionKey { kSyx = 1, kGap, kSmf, kForce, kHide, kOnly, kChannel, kVirtual };

struct OptionSpec {
    int key;
    char shortName; /* 0: a long name only */
    const char *longName;
    bool takesValue;
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
    {kVirtual, 0, "virtual", false}, /* its NAME only as --virtual=NAME */
};

const OptionSpec *byShortName(char c)
{
    for (const OptionSpec &o : kOptions)
        if (o.shortName == c && c != 0)
            return &o;
    return nullptr;
}

/* the option a long name (len characters) stands for, exactly or as the
   start of one name only; *ambiguous when it starts several */
const OptionSpec *byLongName(const char *name, size_t len, bool *ambiguous)
{
    const OptionSpec *found = nullptr;
    int starts = 0;
    *ambiguous = false;
    for (const OptionSpec &o : kOptions) {
        if (strncmp(o.longName, name, len) != 0)
            continue;
        if (o.longName[len] == '\0')
            return &o;
        found = &o;
        starts++;
    }
    *ambiguous = starts > 1;
    return starts == 1 ? found : nullptr;
}

bool fail(CliOptions *opts, const std::string &message)
{
    opts->action = CliOptions::Error;
    opts->error = message;
    return true;
}

/* A whole number of milliseconds, 0 to kMaxGapMs, in decimal. */
bool readGap(const char *value, long *ms)
{
    long v = 0;
    if (!*value)
        return false;
    for (const char *p = value; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > kMaxGapMs)
            return false;
    }
    *ms = v;
    return true;
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
        if (!readGap(value, &opts->gapMs))
            return fail(opts, std::string("invalid gap '") + value + "' (milliseconds, 0 to " +
                                  std::to_string(kMaxGapMs) + ")");
        return false;
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
    if (o->key == kVirtual)
        return apply(*o, eq ? eq + 1 : "Voltanis", opts);
    if (!o->takesValue) {
        if (eq)
            return fail(opts, "option '" + name + "' doesn't allow an argument");
        return apply(*o, nullptr, opts);
    }
    if (eq)
        return apply(*o, eq + 1, opts);
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
        if (!o->takesValue) {
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
          "cannot be used.\n",
        to);
}
