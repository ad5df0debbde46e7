#include "frontend_fixture.h"

#include <vector>

namespace {

const char kPrompt[] = "type selection number and finish with <ENTER>:";

struct SelectCase {
    const char *what;
    std::vector<const char *> outs, ins;
    int failOutCaps;  /* port whose capability query fails, -1 none */
    std::string keys; /* typed lines */
    std::string text; /* the whole dialogue as the console shows it */
    uint32_t outSel, inSel;
};

class Selection : public FrontendTest {};

TEST_F(Selection, AsksForBothPorts)
{
    const std::string outList2 = "Select MIDI OUT device:\n# 0: A \n# 1: B \n";
    const std::string inList1 = "Select MIDI IN device:\n# 0: C \n";
    const SelectCase cases[] = {
        {"an empty line selects port 0", {"A", "B"}, {"C"}, -1, "\r\r",
            outList2 + kPrompt + "\n\n" + inList1 + kPrompt + "\nSelection:\n", 0, 0},
        {"'1x' selects port 1", {"A", "B"}, {"C"}, -1, "1x\r0\r",
            outList2 + kPrompt + "1x\n\n" + inList1 + kPrompt + "0\nSelection:\n", 1, 0},
        {"' 2' selects port 2", {"A", "B", "D"}, {"C"}, -1, " 2\r\r",
            "Select MIDI OUT device:\n# 0: A \n# 1: B \n# 2: D \n" + std::string(kPrompt) + " 2\n\n" +
                inList1 + kPrompt + "\nSelection:\n",
            2, 0},
        {"'-1' is refused and the whole list shown again", {"A", "B"}, {"C"}, -1, "-1\r1\r\r",
            outList2 + kPrompt + "-1\n\nERROR, repeat: " + outList2 + kPrompt + "1\n\n" + inList1 + kPrompt +
                "\nSelection:\n",
            1, 0},
        {"one past the last port is refused", {"A", "B"}, {"C"}, -1, "2\r1\r\r",
            outList2 + kPrompt + "2\n\nERROR, repeat: " + outList2 + kPrompt + "1\n\n" + inList1 + kPrompt +
                "\nSelection:\n",
            1, 0},
        {"a failing query stands in the list and can be chosen", {"A", "B"}, {"C"}, 1, "1\r\r",
            "Select MIDI OUT device:\n# 0: A \nERROR identifying MIDI OUT device # 1 \n" +
                std::string(kPrompt) + "1\n\n" + inList1 + kPrompt + "\nSelection:\n",
            1, 0},
        {"no output ports: only the input question", {}, {"C", "E"}, -1, "1\r",
            "Select MIDI IN device:\n# 0: C \n# 1: E \n" + std::string(kPrompt) + "1\nSelection:\n", 0, 1},
        {"huge numbers do not overflow", {"A"}, {"C"}, -1, "99999999999999\r0\r\r",
            "Select MIDI OUT device:\n# 0: A \n" + std::string(kPrompt) +
                "99999999999999\n\nERROR, repeat: " + "Select MIDI OUT device:\n# 0: A \n" + kPrompt +
                "0\n\n" + inList1 + kPrompt + "\nSelection:\n",
            0, 0},
        {"no ports at all: nothing asked", {}, {}, -1, "", "Selection:\n", 0, 0},
    };
    for (const SelectCase &c : cases) {
        SCOPED_TRACE(c.what);
        startAfresh();
        for (const char *n : c.outs)
            td::addOutPort(n);
        for (const char *n : c.ins)
            td::addInPort(n);
        if (c.failOutCaps >= 0)
            td::fail(td::OutCaps, c.failOutCaps);
        gMode = 3;
        td::keys(c.keys);
        EXPECT_EQ(printed([] { selectDevices(); }), c.text);
        EXPECT_EQ(goSelDev, c.outSel);
        EXPECT_EQ(giSelDev, c.inSel);
        EXPECT_EQ(gMode, 0);
        EXPECT_EQ(goNumDevs, c.outs.size());
        EXPECT_EQ(giNumDevs, c.ins.size());
    }
}

TEST_F(Selection, PortsChosenBeforehandAreNotAskedFor)
{
    td::addOutPort("A");
    td::addOutPort("B");
    td::addInPort("C");
    td::addInPort("D");
    goSelDev = 1;
    td::keys("1\r");
    EXPECT_EQ(printed([] { selectDevicesKeeping(1, 0); }),
        "Select MIDI IN device:\n# 0: C \n# 1: D \n" + std::string(kPrompt) + "1\nSelection:\n");
    EXPECT_EQ(goSelDev, 1u);
    EXPECT_EQ(giSelDev, 1u);
}

TEST_F(Selection, LongLinesCannotOverrunTheBuffer)
{
    td::addOutPort("A");
    td::addInPort("C");
    td::keys(std::string(4000, '0') + "\r\r");
    printed([] { selectDevices(); });
    EXPECT_EQ(goSelDev, 0u);
}

TEST_F(Selection, EndOfInputChoosesPortZero)
{
    td::addOutPort("A");
    td::addOutPort("B");
    td::addInPort("C");
    td::endOfInput(true);
    printed([] { selectDevices(); });
    EXPECT_EQ(goSelDev, 0u);
    EXPECT_EQ(giSelDev, 0u);
}

TEST_F(Selection, PipedKeysAreNotTakenForAnswers)
{
    td::addOutPort("A");
    td::addOutPort("B");
    td::addInPort("C");
    td::addInPort("D");
    td::keyboardIsConsole(false);
    goSelDev = giSelDev = 1;
    td::keys("N 3C 40\r");
    EXPECT_EQ(printed([] { selectDevices(); }), "Selection:\n");
    EXPECT_EQ(goSelDev, 0u);
    EXPECT_EQ(giSelDev, 0u);
    EXPECT_TRUE(_kbhit()) << "the line is still there to be sent";
}

TEST_F(Selection, CtrlNChangesPortsAndReturnsToModeZero)
{
    td::addOutPort("A");
    td::addInPort("C");
    goNumDevs = giNumDevs = 1;
    printed([] { statusReport(); });
    gMode = 3;
    gNumBase = 10;
    gChannel = 4;
    td::addOutPort("B"); /* plugged in since start */
    td::keys("1\r0\r");
    std::string text = printed([] { typeKeys("\x0e"); });
    EXPECT_EQ(text.rfind("\nSelect MIDI OUT device:\n# 0: A \n# 1: B \n", 0), 0u) << text;
    EXPECT_NE(text.find("Selection:\n\nMIDI OUT: #1  B\nMIDI IN:  #0  C   (change with CTRL-N)\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\nVOLTANIS mode 0:type MIDI MSG - display MIDI MSG(change"), std::string::npos);
    EXPECT_EQ(gMode, 0);
    EXPECT_EQ(gNumBase, 10);
    EXPECT_EQ(gChannel, 4);
    EXPECT_TRUE(td::outIsOpen());
    EXPECT_TRUE(td::inIsStarted());
    EXPECT_STREQ(gMidiOutName, "B");
}

} // namespace
