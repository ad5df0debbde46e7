/* Line entry and byte entry: typed characters in, echo and messages and
   transmissions out. */
#include "entry_output_fixture.h"

namespace {

const Sends kNone;

struct TypingRow {
    int mode;
    uint8_t base;
    std::string keys;
    std::string text;
    Sends sends;
};

class TypingTest : public EntryOutputTest {
protected:
    void check(const TypingRow &r)
    {
        freshRow(r.base);
        gMode = r.mode;
        std::string text = type(r.keys);
        SCOPED_TRACE(
            "mode " + std::to_string(r.mode) + " base " + std::to_string(r.base) + " keys '" + r.keys + "'");
        EXPECT_EQ(text, r.text);
        EXPECT_EQ(hexOf(td::sent()), hexOf(r.sends));
    }
};

TEST_F(TypingTest, LineEntry)
{
    const TypingRow rows[] = {
        {0, 16, "N 3C 40\r", "N 3C 40\n", {{0x90, 0x3C, 0x40}}},
        {1, 16, "n45 40\r", "n45 40\n", {{0x90, 0x45, 0x40}}},
        {0, 16, "N 3C 40 N 3E 40\r", "N 3C 40 N 3E 40\n", {{0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40}}},
        {0, 16, "N 3C 40 X 3C\r", "N 3C 40 X 3C\n DATA2 ERROR\n", kNone},
        /* backspace rubs the last character out; on an empty line it is ignored */
        {0, 16, "N\bX 3C 0\r", "N\b \bX 3C 0\n", {{0x80, 0x3C, 0x00}}},
        {0, 16, "\b\bN 3C 40\r", "N 3C 40\n", {{0x90, 0x3C, 0x40}}},
        {0, 16, "N 3C 41\b0\r", "N 3C 41\b \b0\n", {{0x90, 0x3C, 0x40}}},
        {0, 16, "\r", "\n", kNone},
        /* TAB is a space, a line feed is nothing */
        {0, 16, "N\t3C\t40\r", "N 3C 40\n", {{0x90, 0x3C, 0x40}}},
        {0, 16, "N 3C 40\r\n", "N 3C 40\n", {{0x90, 0x3C, 0x40}}},
        {0, 16, "N 3\nC 40\r", "N 3C 40\n", {{0x90, 0x3C, 0x40}}},
        /* $ and & switch the base at the start of a line only */
        {0, 10, "$", "enter numbers in HEX (change to DECIMAL with &)\n", kNone},
        {0, 16, "&N 60 64\r", "enter numbers in DECIMAL (change to HEX with $) \nN 60 64\n",
            {{0x90, 0x3C, 0x40}}},
        {0, 10, "$N 3C 40\r", "enter numbers in HEX (change to DECIMAL with &)\nN 3C 40\n",
            {{0x90, 0x3C, 0x40}}},
        {0, 16, "N 3C $\r", "N 3C $\n DATA2 ERROR\n", kNone},
        {0, 16, "S a&$\r", "S a&$\n", {{0xF0, 0x7D, 'a', '&', '$', 0xF7}}},
        {0, 16, "Q\r", "Q\n CMD ERROR\n", kNone},
        {0, 16, "M 2\rN 3C 40\r", "M 2\n\nN 3C 40\n", {{0x91, 0x3C, 0x40}}},
        {0, 16, "N 3C 40\rP 5\r", "N 3C 40\nP 5\n", {{0x90, 0x3C, 0x40}, {0xC0, 0x05}}},
        /* a negative mode types lines too */
        {-1, 16, "F8\r", "F8\n", {{0xF8}}},
    };
    for (const TypingRow &r : rows)
        check(r);
}

TEST_F(TypingTest, HexadecimalByteEntry)
{
    const TypingRow rows[] = {
        {2, 16, "90 ", "90 ", {{0x90}}},
        {2, 16, "9 ", "9 ", {{0x09}}},
        {2, 16, " ", " ", {{0x00}}},
        {2, 16, "\r", " ", {{0x00}}},
        {2, 16, "ab\r", "AB ", {{0xAB}}},
        {3, 16, "fF ", "FF ", {{0xFF}}},
        {2, 16, "9 0A 7 ", "9 0A 7 ", {{0x09}, {0x0A}, {0x07}}},
        {2, 16, "9\t", "9 ", {{0x09}}},
        {2, 16, "9\n0 ", "90 ", {{0x90}}},
        /* a third digit is refused and not used */
        {2, 16, "901", "90 SyncERR:>2 digits ", kNone},
        {2, 16, "9015 ", "90 SyncERR:>2 digits 5 ", {{0x05}}},
        {2, 16, "90x", "90 SyncERR:>2 digits ", kNone},
        {2, 16, "g", " hexERR,typed:G ", kNone},
        {2, 16, "9x", "9 hexERR,typed:X ", kNone},
        {2, 16, "9x ", "9 hexERR,typed:X  ", {{0x00}}},
        {2, 16, ":", " hexERR,typed:: ", kNone},
        {2, 16, "W", " hexERR,typed:W ", kNone},
        {2, 16, "w", " hexERR,typed:W ", kNone},
        /* backspace drops the whole pending byte */
        {2, 16, "\b", "", kNone},
        {2, 16, "9\b", "9\b \b", kNone},
        {2, 16, "90\b", "90\b\b  \b\b", kNone},
        {2, 16, "9\b5 ", "9\b \b5 ", {{0x05}}},
        /* $ and & at any time, dropping pending digits */
        {2, 16, "&", "\nnumber base is DECIMAL\n", kNone},
        {2, 16, "9&9 ", "9\nnumber base is DECIMAL\n9 ", {{0x09}}},
        {2, 16, "9$1 ", "9\nnumber base is HEX\n1 ", {{0x01}}},
    };
    for (const TypingRow &r : rows)
        check(r);
}

TEST_F(TypingTest, DecimalByteEntry)
{
    const TypingRow rows[] = {
        {2, 10, "144 ", "144 ", {{0x90}}}, {3, 10, "255 ", "255 ", {{0xFF}}}, {2, 10, "0 ", "0 ", {{0x00}}},
        {2, 10, " ", " ", {{0x00}}}, {2, 10, "7\r", "7 ", {{0x07}}}, {2, 10, "007 ", "007 ", {{0x07}}},
        {2, 10, "42\t", "42 ", {{42}}}, {2, 10, "256 ", "256 rangeERR:>255 ", kNone},
        {2, 10, "999\r", "999 rangeERR:>255 ", kNone}, {2, 10, "256 1 ", "256 rangeERR:>255 1 ", {{0x01}}},
        {2, 10, "1234", "123 SyncERR:>3digits ", kNone}, {2, 10, "1234 ", "123 SyncERR:>3digits  ", {{0x00}}},
        {2, 10, "a", " decimalERR,typed:a ", kNone}, {2, 10, "12a", "12 decimalERR,typed:a ", kNone},
        {2, 10, "\b", "", kNone}, {2, 10, "1\b", "1\b \b", kNone}, {2, 10, "12\b", "12\b\b  \b\b", kNone},
        {2, 10, "123\b", "123\b\b\b   \b\b\b", kNone}, {2, 10, "123\b9 ", "123\b\b\b   \b\b\b9 ", {{0x09}}},
        {2, 10, "$", "\nnumber base is HEX\n", kNone},
        {2, 10, "12$a ", "12\nnumber base is HEX\nA ", {{0x0A}}},
        {2, 7, "144 ", "144 ", {{0x90}}}, /* any base but 16 */
    };
    for (const TypingRow &r : rows)
        check(r);
}

TEST_F(TypingTest, BaseSwitchesReachTheSetting)
{
    gMode = 2;
    type("&");
    EXPECT_EQ(gNumBase, 10);
    type("$");
    EXPECT_EQ(gNumBase, 16);
    gMode = 0;
    type("&");
    EXPECT_EQ(gNumBase, 10);
    EXPECT_EQ(gCmdPtr, 0); /* not stored */
    type("$");
    EXPECT_EQ(gNumBase, 16);
    type("N$");
    EXPECT_EQ(gNumBase, 16);
    EXPECT_EQ(gCmdPtr, 2);
    EXPECT_EQ(gCmdStr[1], '$');
}

TEST_F(TypingTest, ByteHalfTypedSurvivesAModeChange)
{
    gMode = 2;
    EXPECT_EQ(type("9"), "9");
    gMode = 3;
    EXPECT_EQ(type("0 "), "0 ");
    EXPECT_EQ(hexOf(td::sent()), "[90]");
}

TEST_F(TypingTest, LineTypingLeavesPendingDigitsAlone)
{
    gMode = 2;
    type("9");
    gMode = 0;
    type("F8\r");
    gMode = 2;
    type("1 ");
    EXPECT_EQ(hexOf(td::sent()), "[f8][91]");
}

TEST_F(TypingTest, PendingDigitsOfTheOtherBaseAreDropped)
{
    /* 'A' pending in hexadecimal; the base changes on a command line */
    gMode = 2;
    type("A");
    gMode = 0;
    EXPECT_EQ(type("&"), "enter numbers in DECIMAL (change to HEX with $) \n");
    gMode = 2;
    EXPECT_EQ(type("5 "), "5 ");
    /* and three decimal digits pending when the base goes back to 16 */
    EXPECT_EQ(type("123"), "123");
    gMode = 0;
    type("$");
    gMode = 2;
    EXPECT_EQ(type("7 "), "7 ");
    EXPECT_EQ(hexOf(td::sent()), "[05][07]");
}

TEST_F(TypingTest, EnterRunsTheLineAndStartsANewOne)
{
    gEnterSysex = 1;
    EXPECT_EQ(type("S ?\r"), "S ?\n");
    EXPECT_EQ(hexOf(td::sent()), "[f0 7d 3f f7]");
    EXPECT_EQ(gEnterSysex, 0);
    EXPECT_EQ(gCmdPtr, 0);
    EXPECT_EQ(gMsgLength, 4);

    /* a failing line also clears the flag and the line */
    gEnterSysex = 1;
    type("S \\7\r");
    EXPECT_EQ(gEnterSysex, 0);
    EXPECT_EQ(gCmdPtr, 0);
    EXPECT_EQ(gMsgLength, 0);

    /* ENTER alone: nothing to repeat, even after a message */
    type("N 3C 40\r");
    ASSERT_EQ(gMsgLength, 3);
    EXPECT_EQ(type("\r"), "\n");
    EXPECT_EQ(gMsgLength, 0);
}

TEST_F(TypingTest, ByteEntryMakesTheByteTheRepeat)
{
    gMode = 0;
    type("N 3C 40\r");
    gMode = 2;
    type("F8 ");
    EXPECT_EQ(gMsgLength, 1);
    EXPECT_EQ(gSbuf[0], 0xF8);
    EXPECT_EQ(gOutPtr, 1);
    /* an error sends nothing and changes nothing */
    type("g");
    EXPECT_EQ(gMsgLength, 1);
    EXPECT_EQ(td::sent().size(), 2u);
}

TEST_F(TypingTest, LineIsBoundedAt511Characters)
{
    const std::string full = "S" + std::string(510, 'a');
    const std::string extra(100, 'b');
    std::string text = type(full + extra);
    /* what does not fit is neither stored nor shown; the person at the
       console is told, and the line is shown again to go on with */
    EXPECT_EQ(text, full + " LINE FULL\n" + full);
    EXPECT_EQ(gCmdPtr, 511);
    EXPECT_EQ(gCmdStr[511], 0);

    /* backspace and ENTER still work on a full line; told once a line */
    EXPECT_EQ(type("\bz"), "\b \bz");
    EXPECT_EQ(gCmdPtr, 511);
    EXPECT_EQ(type("y\r"), "\n");
    ASSERT_EQ(td::sent().size(), 1u);
    Bytes expect = {0xF0, 0x7D};
    expect.insert(expect.end(), 509, 'a');
    expect.push_back('z');
    expect.push_back(0xF7);
    EXPECT_EQ(hexOf(td::sent()[0]), hexOf(expect));
    EXPECT_EQ(gCmdPtr, 0);
}

TEST_F(TypingTest, ALineLongerThanTheBufferIsRefusedFromAPipe)
{
    const std::string full = "S" + std::string(510, 'a'), error = "\n LINE TOO LONG ERROR\n";
    Bytes sysex = {0xF0, 0x7D};
    sysex.insert(sysex.end(), 510, 'a');
    sysex.push_back(0xF7);
    const struct {
        bool console;
        std::string keys, text;
        Sends sends;
        uint32_t failures;
    } rows[] = {
        {false, full + "\r", full + "\n", {sysex}, 0},
        {false, full + "bb\b\rN 3C 40\r", full + "\b \b" + error + "N 3C 40\n", {{0x90, 0x3C, 0x40}}, 1},
        {true, full + "bb\r", full + " LINE FULL\n" + full + "\n", {sysex}, 0},
    };
    for (const auto &r : rows) {
        freshRow();
        td::keyboardIsConsole(r.console);
        EXPECT_EQ(type(r.keys), r.text);
        EXPECT_EQ(hexOf(td::sent()), hexOf(r.sends));
        EXPECT_EQ(gFailures, r.failures);
    }
}

TEST_F(TypingTest, ClearDigitStateDropsPendingDigits)
{
    gMode = 2;
    type("9");
    clearDigitState();
    EXPECT_EQ(type("\b"), ""); /* nothing to rub out */
    type(" ");
    EXPECT_EQ(hexOf(td::sent()), "[00]");
}

} // namespace
