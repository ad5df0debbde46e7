#include "frontend_fixture.h"

#include <functional>

namespace {

const char kOutLoop[] = "\nMIDI OUT: #0  Loop\n";
const char kInLoop[] = "MIDI IN:  #0  Loop   (change with CTRL-N)\n";
const char kHex[] = "number base is HEX (change to DECIMAL with &) \n";
const char kDec[] = "number base is DECIMAL (change to HEX with $)\n";
const char kBlocked[] = "display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n";
const char kShown[] = "Timing Clock and Active Sensing are displayed (block with CTRL-B)\n";

std::string heading(const char *mode)
{
    return std::string("\nVOLTANIS mode ") + mode + "(change with CTRL-Q,W,E,R)\n";
}

struct StatusCase {
    const char *what;
    std::function<void()> arrange;
    std::string expected;
    bool outOpen, inOpen;
};

class StatusReport : public FrontendTest {};

TEST_F(StatusReport, PrintsEveryVariantExactly)
{
    const StatusCase cases[] = {
        {"loopback both ways, defaults",
            [] {
                td::addOutPort("Loop");
                td::addInPort("Loop");
            },
            std::string(kOutLoop) + kInLoop + "SysEx ID: 7d\n" + kHex +
                heading("0:type MIDI MSG - display MIDI MSG") + kBlocked,
            true, true},
        {"no ports at all", [] {},
            std::string("no MIDI OUT available   (check with CTRL-N)\n"
                        "no MIDI IN available   (check with CTRL-N)\n"
                        "SysEx ID: 7d\n") +
                kHex + heading("0:type MIDI MSG - display MIDI MSG") + kBlocked,
            false, false},
        {"failing capability queries",
            [] {
                td::addOutPort("Loop");
                td::addInPort("Loop");
                goSelDev = 0;
                giSelDev = 0;
                td::fail(td::OutCaps);
                td::fail(td::InCaps);
            },
            std::string("ERROR identifying MIDI OUT device # 0   (check with CTRL-N)\n"
                        "ERROR identifying MIDI IN device # 0   (check with CTRL-N)\n"
                        "SysEx ID: 7d\n") +
                kHex + heading("0:type MIDI MSG - display MIDI MSG") + kBlocked,
            true, true},
        {"three-byte ID, decimal base, mode 3, real time shown",
            [] {
                td::addOutPort("Loop");
                td::addInPort("Loop");
                gIdStr[0] = 0;
                gIdStr[1] = 0x20;
                gIdStr[2] = 0x33;
                gNumBase = 10;
                gMode = 3;
                gbBlockRealTime = 0;
            },
            std::string(kOutLoop) + kInLoop + "SysEx ID: 0 20 33\n" + kDec +
                heading("3:type BYTES - display BYTES ") + kShown,
            true, true},
        {"mode out of range and a base that is neither 16 nor 10",
            [] {
                td::addOutPort("Loop");
                td::addInPort("Loop");
                gMode = 9;
                gNumBase = 7;
            },
            std::string(kOutLoop) + kInLoop + "SysEx ID: 7d\n" + kDec + heading("9:") + kBlocked, true, true},
        {"modes 1 and 2 headings end in a blank",
            [] {
                td::addOutPort("Loop");
                td::addInPort("Loop");
                gMode = 1;
            },
            std::string(kOutLoop) + kInLoop + "SysEx ID: 7d\n" + kHex +
                heading("1:type MIDI MSG - display BYTES ") + kBlocked,
            true, true},
        {"second port of three, only output ports",
            [] {
                td::addOutPort("A");
                td::addOutPort("B");
                td::addOutPort("C");
                goSelDev = 1;
            },
            std::string("\nMIDI OUT: #1  B\nno MIDI IN available   (check with CTRL-N)\n"
                        "SysEx ID: 7d\n") +
                kHex + heading("0:type MIDI MSG - display MIDI MSG") + kBlocked,
            true, false},
    };
    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.what);
        startAfresh();
        c.arrange();
        goNumDevs = midiOutGetNumDevs();
        giNumDevs = midiInGetNumDevs();
        gCmdPtr = 5;
        std::string text = printed([] { statusReport(); });
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(gOutHandle != 0, c.outOpen);
        EXPECT_EQ(gInHandle != 0, c.inOpen);
        EXPECT_EQ(td::inIsStarted(), c.inOpen);
        EXPECT_EQ(td::queuedHeaders(), c.inOpen ? 1 : 0);
        EXPECT_EQ(gCmdPtr, 0);
    }
}

TEST_F(StatusReport, KeepsTheStoredNameWhenTheQueryFails)
{
    td::addOutPort("Loop");
    strcpy(gMidiOutName, "Earlier");
    goNumDevs = 1;
    td::fail(td::OutCaps);
    printed([] { statusReport(); });
    EXPECT_STREQ(gMidiOutName, "Earlier");
    EXPECT_NE(gOutHandle, nullptr) << "the port is still opened by its number";
}

TEST_F(StatusReport, FailedOpenLeavesNoHandleAndSkipsInputSetUp)
{
    td::addOutPort("Loop");
    td::addInPort("Loop");
    goNumDevs = giNumDevs = 1;
    td::fail(td::OutOpen);
    td::fail(td::InOpen);
    std::string text = printed([] { statusReport(); });
    EXPECT_EQ(gOutHandle, nullptr);
    EXPECT_EQ(gInHandle, nullptr);
    EXPECT_EQ(td::calls(td::InStart), 0);
    EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
}

TEST_F(StatusReport, InputSetUpErrorsAreReportedAndStartUpGoesOn)
{
    td::addInPort("Loop");
    giNumDevs = 1;
    td::fail(td::InStart);
    td::fail(td::InPrepare);
    td::fail(td::InAdd);
    std::string text = printed([] { statusReport(); });
    EXPECT_NE(text.find("\nERROR MIDI IN START\n\nERROR MIDI IN PREPARE\n\nERROR MIDI IN ADDBUFFER\n"),
        std::string::npos)
        << text;
}

/* Port names as a driver may report them: every place that prints one
   shows control characters and bytes that are no UTF-8 as '?', and the
   name itself is kept as it is, so a preset still finds the port. */
TEST_F(StatusReport, PortNamesAreShownHarmlessly)
{
    const struct {
        const char *name, *shown;
    } rows[] = {
        {"Synth\x1b[2J", "Synth?[2J"},
        {"\x1b]0;title\x07", "?]0;title?"},
        {"Caf\xc3\xa9 \xe0\xa4\xa0", "Caf\xc3\xa9 \xe0\xa4\xa0"},
        {"C1 \xc2\x9b and \x9b", "C1 ?? and ?"},
        {"cut \xe0\xa4", "cut ??"},
        {"tab\there, del\x7f", "tab?here, del?"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.shown);
        startAfresh();
        td::addOutPort(r.name);
        td::addInPort(r.name);
        std::string text = printed([] {
            td::keys("0\r0\r");
            selectDevices();
            statusReport();
        });
        EXPECT_NE(text.find(std::string("# 0: ") + r.shown + " \n"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("\nMIDI OUT: #0  ") + r.shown + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("MIDI IN:  #0  ") + r.shown + "   (change"), std::string::npos)
            << text;
        EXPECT_STREQ(gMidiOutName, r.name);
        EXPECT_EQ(printed([] { savePreset(); }), "");
        resetProgramGlobals();
        goNumDevs = giNumDevs = 1;
        EXPECT_EQ(loadPreset(), 1) << "the port is found by its own name";
    }
}

} // namespace
