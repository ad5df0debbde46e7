#include "frontend_fixture.h"

namespace {

const std::string F(int scan) { return std::string(1, '\0') + (char)scan; }
const std::string E0(int scan) { return std::string(1, (char)0xE0) + (char)scan; }

struct KeyCase {
    const char *what;
    uint8_t base; /* number base before the keys */
    std::string keys;
    std::string text;      /* what the console shows */
    int32_t mode;          /* gMode afterwards */
    int32_t blockRealTime; /* gbBlockRealTime afterwards */
};

class Dispatch : public FrontendTest {};

TEST_F(Dispatch, SettingKeysPrintTheirLines)
{
    const KeyCase cases[] = {
        {"CTRL-Q", 16, "\x11", "\nmode 0: type MIDI MSG - display MIDI MSG\n", 0, 1},
        {"CTRL-W hex", 16, "\x17", "\nmode 1: type MIDI MSG - display HEX BYTES\n", 1, 1},
        {"CTRL-W decimal", 10, "\x17", "\nmode 1: type MIDI MSG - display DECIMAL BYTES\n", 1, 1},
        {"CTRL-E hex", 16, "\x05", "\nmode 2: type HEX BYTES- display MIDI MSG\n", 2, 1},
        {"CTRL-E decimal", 10, "\x05", "\nmode 2: type DECIMAL BYTES- display MIDI MSG\n", 2, 1},
        {"CTRL-R hex", 16, "\x12", "\nmode 3: type HEX BYTES- display HEX BYTES\n", 3, 1},
        {"CTRL-R decimal", 10, "\x12", "\nmode 3: type DECIMAL BYTES- display DECIMAL BYTES\n", 3, 1},
        {"F1", 16, F(0x3B), "\nmode 0: type MIDI MSG - display MIDI MSG\n", 0, 1},
        {"F2", 16, F(0x3C), "\nmode 1: type MIDI MSG - display HEX BYTES\n", 1, 1},
        {"F3 with the E0 prefix", 16, E0(0x3D), "\nmode 2: type HEX BYTES- display MIDI MSG\n", 2, 1},
        {"F4", 10, F(0x3E), "\nmode 3: type DECIMAL BYTES- display DECIMAL BYTES\n", 3, 1},
        {"CTRL-G", 16, "\x07", "Timing Clock and Active Sensing are displayed\n", 0, 0},
        {"CTRL-G then CTRL-B", 16, "\x07\x02",
            "Timing Clock and Active Sensing are displayed\n"
            "display of Timing Clock and Active Sensing blocked\n",
            0, 1},
        {"CTRL-A with nothing to repeat", 16, "\x01", "no Msg !\n", 0, 1},
        {"F5 with nothing to repeat", 16, F(0x3F), "no Msg !\n", 0, 1},
        {"F12 with no record file", 16, F(0x86), "-Rec File Closed\n", 0, 1},
        {"F8 outside a transfer", 16, F(0x42), "", 0, 1},
        {"cursor keys and Alt combinations", 16, E0(0x48) + E0(0x50) + F(0x10) + F(0x87), "", 0, 1},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.what);
        resetProgramGlobals();
        gNumBase = c.base;
        EXPECT_EQ(printed([&] { typeKeys(c.keys); }), c.text);
        EXPECT_EQ(gMode, c.mode);
        EXPECT_EQ(gbBlockRealTime, c.blockRealTime);
        EXPECT_EQ(gbCheckFuncKey, 0);
    }
}

struct LineCase {
    const char *what;
    std::string keys;
    bool abandons;
};

TEST_F(Dispatch, WhichKeysAbandonAHalfTypedLine)
{
    const LineCase cases[] = {
        {"CTRL-Q", "\x11", true},
        {"CTRL-W", "\x17", true},
        {"CTRL-E", "\x05", true},
        {"CTRL-R", "\x12", true},
        {"CTRL-B", "\x02", true},
        {"CTRL-G", "\x07", true},
        {"CTRL-P", "\x10", true},
        {"F1", F(0x3B), true},
        {"CTRL-A", "\x01", false},
        {"?", "?", false},
        {"F6 prefix only", std::string(1, '\0'), false},
        {"F8", F(0x42), false},
        {"F11", F(0x85), false},
        {"F12", F(0x86), false},
    };
    for (const LineCase &c : cases) {
        SCOPED_TRACE(c.what);
        resetProgramGlobals();
        printed([&] {
            typeKeys("N 3C");
            typeKeys(c.keys);
        });
        EXPECT_EQ(gCmdPtr, c.abandons ? 0 : 4);
    }
}

TEST_F(Dispatch, HelpScreenAndSysexText)
{
    std::string help = printed([] { typeKeys("?"); });
    EXPECT_EQ(
        help.rfind("\nshort list of commands: (letters case insensitive, parameters hex or decimal)\n", 0),
        0u);
    EXPECT_NE(help.find("S  send SYSEX text or \\<hex byte>. Terminated by <ENTER>. EOX auto-inserted\n"),
        std::string::npos);
    EXPECT_NE(help.find("M  set MIDI channel of Msg: 1...16(hex10)\nX  send NOTE OFF\n"), std::string::npos);
    EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 23); // 22 lines after a leading line end
    EXPECT_EQ(help.substr(help.size() - 68),
        "CTRL-N change MIDIport, CTRL-P save config as Preset (VOLTANIS.SET)\n");

    /* after an S the question mark is SysEx text and reaches the line */
    std::string text = printed([] { typeKeys("s?"); });
    EXPECT_EQ(text, "s?");
    EXPECT_EQ(gEnterSysex, 1);
    EXPECT_EQ(gCmdPtr, 2);
}

/* Keys as the main loop reads them: a character typed is never a key
   prefix, whatever its value, while a real prefix still makes a function
   key.  The SysEx line with a character beyond ASCII fails whole. */
TEST_F(Dispatch, ATypedCharacterNeverActsAsAFunctionKey)
{
    td::addOutPort("Loop");
    goNumDevs = 1;
    printed([] { statusReport(); });
    const struct {
        const char *what;
        std::string keys, text; /* given with keys(), with textKeys() */
        std::string shown;
        int32_t mode;
    } rows[] = {
        {"F3 with its E0 prefix", E0(0x3D), "", "\nmode 2: type HEX BYTES- display MIDI MSG\n", 2},
        {"U+0E3D typed: E0 B8 BD", "", "\xE0\xB8\xBD", "\xE0\xB8\xBD", 0},
        {"U+0800 typed, then F3", E0(0x3D), "\xE0\xA0\x80",
            "\xE0\xA0\x80\nmode 2: type HEX BYTES- display MIDI MSG\n", 2},
        {"SysEx text beyond ASCII", "\r", "S \xE0\xA4\xA0", "S \xE0\xA4\xA0\n SysEx ERROR\n", 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        gMode = 0;
        gCmdPtr = 0;
        gEnterSysex = 0;
        td::clearSent();
        td::textKeys(r.text);
        td::keys(r.keys);
        std::string shown = printed([] {
            while (_kbhit())
                mainLoopPass();
        });
        EXPECT_EQ(shown, r.shown);
        EXPECT_EQ(gMode, r.mode);
        EXPECT_EQ(gbCheckFuncKey, 0);
        EXPECT_TRUE(td::sent().empty());
    }
}

TEST_F(Dispatch, ByteEntryAlsoArmsSysexText)
{
    gMode = 2;
    printed([] { typeKeys("S"); });
    EXPECT_EQ(gEnterSysex, 1);
    std::string text = printed([] { typeKeys("?"); });
    EXPECT_EQ(text.find("short list"), std::string::npos) << "? goes to byte entry";
}

TEST_F(Dispatch, HelpDoesNotDisturbAHalfTypedLine)
{
    td::addOutPort("Loop");
    goNumDevs = 1;
    printed([] { statusReport(); });
    td::clearSent();
    printed([] {
        typeKeys("N 3C?");
        typeKeys(" 40\r");
    });
    ASSERT_EQ(td::sent().size(), 1u);
    EXPECT_EQ(td::sent()[0], (std::vector<uint8_t>{0x90, 0x3C, 0x40}));
}

class ExitPrompt : public FrontendTest {
protected:
    void SetUp() override
    {
        FrontendTest::SetUp();
        ports({"Loop"}, {"Loop"});
        printed([] { statusReport(); });
    }
};

/* At a console the prompt's line is ended, so that the shell's prompt
   starts on its own line; piped output ends at the prompt. */
TEST_F(ExitPrompt, EnterEndsTheLoop)
{
    const struct {
        bool console;
        const char *text;
    } rows[] = {
        {true, "EXIT? <ENTER>=exit  <SPACE>=continue\n"},
        {false, "EXIT? <ENTER>=exit  <SPACE>=continue"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.console ? "console" : "pipe");
        td::keyboardIsConsole(r.console);
        td::keys("\x1b\r");
        int going = 1;
        std::string text = printed([&] { going = mainLoopPass(); });
        EXPECT_EQ(going, 0);
        EXPECT_EQ(text, r.text);
        EXPECT_FALSE(td::outIsOpen());
        EXPECT_FALSE(td::inIsOpen());
        printed([] { statusReport(); }); /* open again for the next row */
    }
}

TEST_F(ExitPrompt, AnyOtherKeyReopensThePortsWithTheSameSettings)
{
    struct {
        const char *what;
        std::string keys;
    } cases[] = {
        {"space", "\x1b "},
        {"a letter", "\x1bq"},
        {"a function-key prefix", std::string("\x1b\0", 2)},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        gMode = 3;
        td::keys(c.keys);
        int going = 0;
        std::string text = printed([&] { going = mainLoopPass(); });
        EXPECT_EQ(going, 1);
        EXPECT_EQ(text.rfind("EXIT? <ENTER>=exit  <SPACE>=continue\r\nMIDI OUT: #0  Loop\n", 0), 0u) << text;
        EXPECT_NE(text.find("\nVOLTANIS mode 3:type BYTES - display BYTES (change"), std::string::npos);
        EXPECT_EQ(text.find("Selection:"), std::string::npos);
        EXPECT_TRUE(td::outIsOpen());
        EXPECT_TRUE(td::inIsStarted());
        EXPECT_EQ(gMode, 3);
    }
}

TEST_F(ExitPrompt, ScanCodeAfterAPrefixAtThePromptBecomesText)
{
    /* F1 at the prompt: its prefix continues, its scan code ';' is typed */
    td::keys(std::string("\x1b\0;", 3));
    printed([] {
        mainLoopPass();
        mainLoopPass();
    });
    EXPECT_EQ(gCmdPtr, 1);
    EXPECT_EQ(gCmdStr[0], ';');
}

TEST_F(ExitPrompt, ClosesAnOpenRecordFile)
{
    printed([] { typeKeys(F(0x43)); });
    ASSERT_EQ(gbRecFileOpen, 1);
    td::keys("\x1b\r");
    printed([] { mainLoopPass(); });
    /* the file was closed: it can be opened again without sharing */
    HANDLE h = CreateFileA("VOLTANIS.REC", GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    ended = true; /* the handle is gone with the exit */
}

TEST_F(ExitPrompt, KeysComeBeforeReceivedData)
{
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    td::keys("\x17");
    std::string first = printed([] { mainLoopPass(); });
    EXPECT_EQ(first, "\nmode 1: type MIDI MSG - display HEX BYTES\n");
    std::string second = printed([] { mainLoopPass(); });
    EXPECT_EQ(second, "-90 3c 40 ");
    unsigned before = td::sleeps();
    printed([] { mainLoopPass(); });
    EXPECT_EQ(td::sleeps(), before + 1) << "an idle pass pauses";
}

/* An idle pass sleeps until a key or a notification ends its pause, or a
   wake asked for: the earliest asked, once. */
TEST_F(ExitPrompt, AnIdlePassSleepsUntilSomethingComesOrTheWakeAskedFor)
{
    const struct {
        std::vector<unsigned> asked;
        unsigned long slept; /* 0: as long as nothing comes (an hour at least) */
    } rows[] = {
        {{}, 0},
        {{250}, 250},
        {{}, 0},
        {{500, 100, 300}, 100},
    };
    for (const auto &r : rows) {
        for (unsigned ms : r.asked)
            requestWakeWithin(ms);
        unsigned long before = td::sleptMs();
        printed([] { mainLoopPass(); });
        unsigned long slept = td::sleptMs() - before;
        if (r.slept)
            EXPECT_EQ(slept, r.slept);
        else
            EXPECT_GE(slept, 3600000ul);
    }
}

} // namespace
