/*
 * The command line: each option in its short and long spelling with its
 * value attached or apart, the errors, and what a PORT value picks from a
 * list of ports.
 */
#include "cli/options.h"
#include "cli/ports.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<const char *> Args;

struct OptionCase {
    Args args; /* after the program name */
    CliOptions::Action action;
    const char *out, *in, *dir;
    Args send;
    const char *error;
};

const CliOptions::Action kRun = CliOptions::Run, kHelp = CliOptions::Help, kVersion = CliOptions::Version,
                         kList = CliOptions::List, kError = CliOptions::Error;

std::string show(const char *s) { return s ? std::string("'") + s + "'" : "none"; }

/* the options of a command line with these arguments after the name */
CliOptions parsed(const Args &args)
{
    Args argv = {"voltanis"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parseOptions((int)argv.size(), argv.data());
}

TEST(CliOptions, EachOptionEachSpellingAndTheErrors)
{
    const OptionCase cases[] = {
        {{}, kRun, nullptr, nullptr, nullptr, {}, ""},
        {{"-h"}, kHelp, nullptr, nullptr, nullptr, {}, ""},
        {{"--help"}, kHelp, nullptr, nullptr, nullptr, {}, ""},
        {{"-V"}, kVersion, nullptr, nullptr, nullptr, {}, ""},
        {{"--version"}, kVersion, nullptr, nullptr, nullptr, {}, ""},
        {{"-l"}, kList, nullptr, nullptr, nullptr, {}, ""},
        {{"--list"}, kList, nullptr, nullptr, nullptr, {}, ""},
        {{"-o", "synth"}, kRun, "synth", nullptr, nullptr, {}, ""},
        {{"-osynth"}, kRun, "synth", nullptr, nullptr, {}, ""},
        {{"--out", "synth"}, kRun, "synth", nullptr, nullptr, {}, ""},
        {{"--out=14:0"}, kRun, "14:0", nullptr, nullptr, {}, ""},
        {{"-i", "Midi Through"}, kRun, nullptr, "Midi Through", nullptr, {}, ""},
        {{"-i2"}, kRun, nullptr, "2", nullptr, {}, ""},
        {{"--in", "2"}, kRun, nullptr, "2", nullptr, {}, ""},
        {{"--in=a=b"}, kRun, nullptr, "a=b", nullptr, {}, ""},
        {{"-C", "/tmp"}, kRun, nullptr, nullptr, "/tmp", {}, ""},
        {{"-C/tmp"}, kRun, nullptr, nullptr, "/tmp", {}, ""},
        {{"--dir", "/tmp"}, kRun, nullptr, nullptr, "/tmp", {}, ""},
        {{"--dir=/tmp"}, kRun, nullptr, nullptr, "/tmp", {}, ""},
        {{"-s", "N 3C 40", "-sS hi", "--send", "-x", "--send=P 5"}, kRun, nullptr, nullptr, nullptr,
            {"N 3C 40", "S hi", "-x", "P 5"}, ""},
        {{"-o", "a", "--out", "b"}, kRun, "b", nullptr, nullptr, {}, ""},
        {{"--out="}, kRun, "", nullptr, nullptr, {}, ""},
        {{"--li"}, kList, nullptr, nullptr, nullptr, {}, ""},
        {{"--ou", "x", "--se=y"}, kRun, "x", nullptr, nullptr, {"y"}, ""},
        {{"-lo", "x"}, kList, "x", nullptr, nullptr, {}, ""},
        {{"-lV"}, kVersion, nullptr, nullptr, nullptr, {}, ""},
        {{"--help", "--bogus"}, kHelp, nullptr, nullptr, nullptr, {}, ""},
        {{"--bogus", "--help"}, kError, nullptr, nullptr, nullptr, {}, "unrecognized option '--bogus'"},
        {{"-y"}, kError, nullptr, nullptr, nullptr, {}, "invalid option -- 'y'"},
        {{"-ly"}, kError, nullptr, nullptr, nullptr, {}, "invalid option -- 'y'"},
        {{"-o"}, kError, nullptr, nullptr, nullptr, {}, "option requires an argument -- 'o'"},
        {{"-l", "-s"}, kError, nullptr, nullptr, nullptr, {}, "option requires an argument -- 's'"},
        {{"--in"}, kError, nullptr, nullptr, nullptr, {}, "option '--in' requires an argument"},
        {{"--di"}, kError, nullptr, nullptr, nullptr, {}, "option '--dir' requires an argument"},
        {{"--list=2"}, kError, nullptr, nullptr, nullptr, {}, "option '--list' doesn't allow an argument"},
        {{"--outport=x"}, kError, nullptr, nullptr, nullptr, {}, "unrecognized option '--outport'"},
        {{"ports"}, kError, nullptr, nullptr, nullptr, {}, "unexpected argument 'ports'"},
        {{"-"}, kError, nullptr, nullptr, nullptr, {}, "unexpected argument '-'"},
        {{"--", "-l"}, kError, nullptr, nullptr, nullptr, {}, "unexpected argument '-l'"},
    };
    for (const OptionCase &c : cases) {
        Args argv = {"voltanis"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string line;
        for (const char *a : c.args)
            line += std::string(" [") + a + "]";
        SCOPED_TRACE(line);
        CliOptions o = parseOptions((int)argv.size(), argv.data());
        EXPECT_EQ(o.action, c.action);
        EXPECT_EQ(o.error, c.error);
        if (c.action == kError)
            continue;
        EXPECT_EQ(show(o.out), show(c.out));
        EXPECT_EQ(show(o.in), show(c.in));
        EXPECT_EQ(show(o.dir), show(c.dir));
        ASSERT_EQ(o.send.size(), c.send.size());
        for (size_t i = 0; i < c.send.size(); i++)
            EXPECT_STREQ(o.send[i], c.send[i]);
    }
}

/* --virtual[=NAME]: a name other programs show, so text of at most 63
   bytes; and -i as often as given, the first being the preset's. */
TEST(CliOptions, VirtualPortNameAndSeveralInputs)
{
    const std::string longest(63, 'v'), tooLong(64, 'v');
    const std::string named = "--virtual=" + longest, overlong = "--virtual=" + tooLong;
    const struct {
        Args args;
        const char *name;
        const char *error;
    } cases[] = {
        {{"--virtual"}, "Voltanis", ""},
        {{"--virt=Studio Desk"}, "Studio Desk", ""},
        {{named.c_str()}, longest.c_str(), ""},
        {{"--virtual="}, nullptr, "--virtual: an empty port name"},
        {{overlong.c_str()}, nullptr, "--virtual: the port name is longer than 63 bytes"},
        {{"--virtual=a\x1b[2Jb"}, nullptr,
            "--virtual: the port name 'a\x1b[2Jb' holds a control character or a byte that is no UTF-8 text"},
        {{"--virtual=\xff"}, nullptr,
            "--virtual: the port name '\xff' holds a control character or a byte that is no UTF-8 text"},
        {{"--virtual", "Name"}, nullptr, "unexpected argument 'Name'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        CliOptions o = parsed(c.args);
        EXPECT_EQ(o.error, c.error);
        if (!*c.error) {
            EXPECT_EQ(show(o.virtualName), show(c.name));
        }
    }

    Args many;
    for (int i = 0; i < 64; i++) {
        many.push_back("-i");
        many.push_back(i % 2 ? "Keys" : "Drums");
    }
    CliOptions o = parsed(many);
    EXPECT_EQ(o.action, kRun);
    EXPECT_EQ(o.ins.size(), 64u);
    EXPECT_EQ(show(o.in), show("Drums")) << "the first is the one the preset keeps";
}

TEST(CliOptions, TimeAndSysexTools)
{
    const struct {
        Args args;
        bool timestamps;
        const char *syx;
        long gap;
        const char *smf;
        bool force;
        const char *error;
    } cases[] = {
        {{"-t"}, true, nullptr, 0, nullptr, false, ""},
        {{"--timestamps", "--syx", "dumps", "--gap=50", "--smf", "log.mid", "--force"}, true, "dumps", 50,
            "log.mid", true, ""},
        {{"-lt"}, true, nullptr, 0, nullptr, false, ""},
        {{"--time", "--sy=d", "--sm=f", "--fo"}, true, "d", 0, "f", true, ""},
        {{"--gap", "60000"}, false, nullptr, 60000, nullptr, false, ""},
        {{"--gap", "60001"}, false, nullptr, 0, nullptr, false,
            "invalid gap '60001' (milliseconds, 0 to 60000)"},
        {{"--gap=-5"}, false, nullptr, 0, nullptr, false, "invalid gap '-5' (milliseconds, 0 to 60000)"},
        {{"--gap="}, false, nullptr, 0, nullptr, false, "invalid gap '' (milliseconds, 0 to 60000)"},
        {{"--smf"}, false, nullptr, 0, nullptr, false, "option '--smf' requires an argument"},
        {{"--s=x"}, false, nullptr, 0, nullptr, false, "option '--s' is ambiguous"},
        {{"--force=yes"}, false, nullptr, 0, nullptr, false, "option '--force' doesn't allow an argument"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        CliOptions o = parsed(c.args);
        EXPECT_EQ(o.error, c.error);
        if (*c.error)
            continue;
        EXPECT_EQ(o.timestamps, c.timestamps);
        EXPECT_EQ(show(o.syxDir), show(c.syx));
        EXPECT_EQ(o.gapMs, c.gap);
        EXPECT_EQ(show(o.smfFile), show(c.smf));
        EXPECT_EQ(o.force, c.force);
    }
}

/* The options of runs from a script: the values each takes, the bounds of
   the numbers, and what cannot go together. */
TEST(CliOptions, RunsFromAScript)
{
    const char *wait = "invalid --wait '%s' (milliseconds, 0 to 600000)";
    const char *needs = "--wait, --expect and --timeout need --send, --send-file or --listen";
    const struct {
        Args args;
        const char *error; /* "%s": the first value given */
        long waitMs, expect, expectSysex, timeoutMs;
        CliOptions::Color color;
    } cases[] = {
        {{"-s", "S \\11", "--expect-sysex=12", "--timeout=5000"}, "", -1, 0, 12, 5000, CliOptions::ColorNever},
        {{"-f", "d.syx", "--wait", "0", "--expect", "1000000"}, "", 0, 1000000, 0, -1, CliOptions::ColorNever},
        {{"-L", "-i", "x", "--wait=600000", "--color"}, "", 600000, 0, 0, -1, CliOptions::ColorAuto},
        {{"-s", "x", "--color=always", "--json"}, "", -1, 0, 0, -1, CliOptions::ColorAlways},
        {{"--color=never", "-q"}, "", -1, 0, 0, -1, CliOptions::ColorNever},
        {{"-s", "x", "--wait=600001"}, wait, 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--wait=-1"}, wait, 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--wait=1s"}, wait, 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--expect=0"}, "invalid --expect '0' (messages, 1 to 1000000)", 0, 0, 0, 0,
            CliOptions::ColorNever},
        {{"-s", "x", "--expect-sysex=1000001"},
            "invalid --expect-sysex '1000001' (SysEx messages, 1 to 1000000)", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--expect=1", "--timeout=0"}, "invalid --timeout '0' (milliseconds, 1 to 600000)", 0, 0, 0,
            0, CliOptions::ColorNever},
        {{"--color=yes"}, "invalid --color 'yes' (auto, always or never)", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"--expect=3"}, needs, 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-q", "--wait=5"}, needs, 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--timeout=5"}, "--timeout needs --expect or --expect-sysex", 0, 0, 0, 0,
            CliOptions::ColorNever},
        {{"-s", "x", "-f", "y"}, "--send and --send-file exclude each other", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-L", "-i", "x", "-o", "y"}, "--listen sends nothing: no --out, --send or --send-file with it", 0, 0,
            0, 0, CliOptions::ColorNever},
        {{"-L"}, "--listen needs the input port (-i PORT)", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "--slow"}, "--slow goes with --send-file", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"-s", "x", "-v", "--json"}, "--verbose and --json exclude each other", 0, 0, 0, 0,
            CliOptions::ColorNever},
        {{"-v", "-q"}, "--verbose and --quiet exclude each other", 0, 0, 0, 0, CliOptions::ColorNever},
        {{"--expe=1"}, "option '--expe' is ambiguous", 0, 0, 0, 0, CliOptions::ColorNever},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const char *a : c.args)
            line += std::string(a) + " ";
        SCOPED_TRACE(line);
        CliOptions o = parsed(c.args);
        char error[200];
        const char *value = strchr(c.args.back(), '=');
        snprintf(error, sizeof error, c.error, value ? value + 1 : "");
        EXPECT_EQ(o.error, error);
        if (*c.error)
            continue;
        EXPECT_EQ(o.waitMs, c.waitMs);
        EXPECT_EQ(o.expect, c.expect);
        EXPECT_EQ(o.expectSysex, c.expectSysex);
        EXPECT_EQ(o.timeoutMs, c.timeoutMs);
        EXPECT_EQ(o.color, c.color);
    }
}

TEST(CliOptions, ASendLineIsTextWithoutAControlCharacter)
{
    const char *const text[] = {"N 3C 40", "", "S gr\xc3\xbc\xc3\x9f \xe2\x82\xac"};
    const char *const refused[] = {"\x1b", "\x10", "N 3C 40\nN 3E 40", "N\t3C 40", "S a\x7f",
        "S \xc2\x9b[2J" /* C1 CSI */, "S \x9b[2J", "S \xff", "S \xc3" /* a character cut off */};
    for (const char *line : text) {
        Args argv = {"voltanis", "-s", "P 1", "--send", line};
        CliOptions o = parseOptions((int)argv.size(), argv.data());
        ASSERT_EQ(o.send.size(), 2u) << line;
        EXPECT_STREQ(o.send[1], line);
    }
    for (const char *line : refused) {
        Args argv = {"voltanis", "-s", "P 1", "--send", line};
        EXPECT_EQ(parseOptions((int)argv.size(), argv.data()).error,
            std::string("--send line '") + line +
                "' holds a control character or a byte that is no UTF-8 text");
    }
}

TEST(CliOptions, ExplainAndFilters)
{
    const std::string kinds = " (kinds: " + std::string(kindNames()) + ")";
    const struct {
        Args args;
        bool explain;
        uint32_t hide, only;
        uint16_t channels;
        std::string error;
    } cases[] = {
        {{"-x"}, true, 0, 0, 0, ""},
        {{"-xt", "--explain"}, true, 0, 0, 0, ""},
        {{"--hide=clock,sense", "--hide", "note"}, false,
            1u << KindClock | 1u << KindSense | 1u << KindNote, 0, 0, ""},
        {{"--only=clock", "--ch=1,10"}, false, 0, 1u << KindClock, 0x0201, ""},
        {{"--channel", "1-4", "--channel=16"}, false, 0, 0, 0x800F, ""},
        {{"--only=note", "--hide=cc"}, false, 0, 0, 0, "--only and --hide exclude each other" + kinds},
        {{"--hide=cc", "--only=note"}, false, 0, 0, 0, "--only and --hide exclude each other" + kinds},
        {{"--hide="}, false, 0, 0, 0, "an empty kind in --hide" + kinds},
        {{"--only=note,bogus"}, false, 0, 0, 0, "unknown kind 'bogus' in --only" + kinds},
        {{"--channel=0"}, false, 0, 0, 0, "invalid channel list '0' (channels 1 to 16, as 1,10 or 1-4)"},
        {{"--channel=17"}, false, 0, 0, 0, "invalid channel list '17' (channels 1 to 16, as 1,10 or 1-4)"},
        {{"--channel="}, false, 0, 0, 0, "invalid channel list '' (channels 1 to 16, as 1,10 or 1-4)"},
        {{"--h"}, false, 0, 0, 0, "option '--h' is ambiguous"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        CliOptions o = parsed(c.args);
        EXPECT_EQ(o.error, c.error);
        if (!c.error.empty())
            continue;
        EXPECT_EQ(o.explain, c.explain);
        EXPECT_EQ(o.filter.hide, c.hide);
        EXPECT_EQ(o.filter.only, c.only);
        EXPECT_EQ(o.filter.channels, c.channels);
    }
}

PortEntry port(unsigned number, const char *name, int client = -1, int p = 0, const char *clientName = "")
{
    PortEntry e;
    memset(&e, 0, sizeof e);
    e.number = number;
    strncpy(e.name, name, sizeof e.name - 1);
    e.hasAddress = client >= 0;
    e.addr.client = client;
    e.addr.port = p;
    strncpy(e.addr.clientName, clientName, sizeof e.addr.clientName - 1);
    return e;
}

const std::vector<PortEntry> kPorts = {
    port(0, "Midi Through Port-0", 14, 0, "Midi Through"),
    port(1, "VirMIDI 0-0", 16, 0, "Virtual Raw MIDI 0-0"),
    port(2, "VirMIDI 0-1", 17, 0, "Virtual Raw MIDI 0-1"),
    port(3, "Synth input port (1234:0)", 128, 0, "FLUID Synth (1234)"),
    port(4, "Midi", 129, 2, "Sketch"),
    port(5, "Voltanis Loopback"),
    port(6, "dup", 130, 0, "A"),
    port(7, "dup", 131, 0, "B"),
};

struct MatchCase {
    const char *want;
    PortMatch::Kind kind;
    unsigned index;
    std::vector<unsigned> several;
};

TEST(CliPorts, APortValueIsANumberAnAddressTheNameOrAUniquePart)
{
    const PortMatch::Kind kFound = PortMatch::Found, kNone = PortMatch::None, kSeveral = PortMatch::Several;
    const MatchCase cases[] = {
        {"0", kFound, 0, {}},
        {"5", kFound, 5, {}},
        {"01", kFound, 1, {}},
        {"1", kFound, 1, {}}, /* the number comes before the names holding a 1 */
        {"8", kNone, 0, {}},  /* past the last port, and in no name */
        {"14:0", kFound, 0, {}},
        {"17:0", kFound, 2, {}},
        {"129:2", kFound, 4, {}},
        {"14:1", kNone, 0, {}},    /* no such address, and in no name */
        {"1234:0", kFound, 3, {}}, /* no such address, but part of one name */
        {"VirMIDI 0-0", kFound, 1, {}},
        {"Midi", kFound, 4, {}}, /* exact, though part of three other names */
        {"MIDI", kSeveral, 0, {0, 1, 2, 4}},
        {"virmidi", kSeveral, 0, {1, 2}},
        {"virmidi 0-1", kFound, 2, {}},
        {"through", kFound, 0, {}},
        {"LOOP", kFound, 5, {}},
        {"synth", kFound, 3, {}},
        {"FLUID", kNone, 0, {}}, /* a client's name is not the port's */
        {"nosuchport", kNone, 0, {}},
        {"", kNone, 0, {}},
        {"dup", PortMatch::SameName, 0, {6, 7}}, /* a name several ports have means none */
        {"DUP", kSeveral, 0, {6, 7}},
        {"131:0", kFound, 7, {}},
    };
    for (const MatchCase &c : cases) {
        SCOPED_TRACE(c.want);
        PortMatch m = matchPort(kPorts, c.want);
        EXPECT_EQ(m.kind, c.kind);
        if (c.kind == kFound) {
            EXPECT_EQ(m.index, c.index);
        }
        EXPECT_EQ(m.several, c.several);
    }
}

TEST(CliPorts, AListLineShowsNumberNameAddressAndClientAndNoControlCharacter)
{
    const struct {
        PortEntry entry;
        std::string line;
    } cases[] = {
        {port(0, "Midi Through Port-0", 14, 0, "Midi Through"),
            "  0  Midi Through Port-0             14:0    Midi Through\n"},
        {port(12, "Voltanis Loopback"), " 12  Voltanis Loopback\n"},
        {port(3, "S\xc3\xbc\xc3\x9f", 130, 1, "K\xc3\xb6ln"),
            "  3  S\xc3\xbc\xc3\x9f" + std::string(29, ' ') + "130:1   K\xc3\xb6ln\n"},
        {port(1, "Evil\x1b[2J\x07", 20, 0, "Bad\nClient"),
            "  1  Evil?[2J?" + std::string(23, ' ') + "20:0    Bad?Client\n"},
        /* C1 controls raw and in UTF-8, bytes that are no UTF-8: each a
           '?', and the columns counted as shown */
        {port(2, "C1\xc2\x9b[2J\x9b", 21, 1, "Cl\xc2\x85i\x1b]0;x\x07"),
            "  2  C1??[2J?" + std::string(24, ' ') + "21:1    Cl??i?]0;x?\n"},
        {port(4, "\x80\x80zz\xc0\xaf\xed\xa0\x80z\xf4\x90\x80\x80", 22, 0, "\xff"),
            "  4  ??zz?????z????" + std::string(18, ' ') + "22:0    ?\n"},
    };
    for (const auto &c : cases) {
        FILE *f = tmpfile();
        ASSERT_NE(f, nullptr);
        printPortLine(f, c.entry);
        rewind(f);
        char buf[256] = {0};
        size_t n = fread(buf, 1, sizeof buf - 1, f);
        fclose(f);
        EXPECT_EQ(std::string(buf, n), c.line);
    }
}

} // namespace
