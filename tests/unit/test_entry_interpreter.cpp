/* The command interpreter: a line in, the transmissions and the console
   text out, and what is left to repeat. */
#include "entry_output_fixture.h"

namespace {

class InterpreterTest : public EntryOutputTest {};

struct LineRow {
    uint8_t base;
    const char *line;
    Sends sends;
    const char *text;
    int repeatLength;
};

const Sends kNone;

/* Each row starts from the settings at their start values (channel 1, the
   ID 7D) in the base of the row. */
class InterpreterTableTest : public EntryOutputTest {
protected:
    void check(const LineRow &r)
    {
        freshRow(r.base);
        std::string text = runLine(r.line);
        SCOPED_TRACE(std::string("base ") + std::to_string(r.base) + " line '" + r.line + "'");
        EXPECT_EQ(hexOf(td::sent()), hexOf(r.sends));
        EXPECT_EQ(text, r.text);
        EXPECT_EQ(gMsgLength, r.repeatLength);
        if (!r.sends.empty()) {
            EXPECT_EQ(gOutPtr, 0);
            EXPECT_EQ(gCmdPtr, 0);
        }
    }
};

TEST_F(InterpreterTableTest, HexadecimalLines)
{
    const LineRow rows[] = {
        {16, "N45 40", {{0x90, 0x45, 0x40}}, "", 3},
        {16, "n45 40", {{0x90, 0x45, 0x40}}, "", 3},
        {16, "N 3C 40 ", {{0x90, 0x3C, 0x40}}, "", 3},
        {16, "N3C40", {{0x90, 0x3C, 0x40}}, "", 3},
        {16, "N 3 40", {{0x90, 0x03, 0x40}}, "", 3},
        {16, ",N;3C,40", {{0x90, 0x3C, 0x40}}, "", 3},
        {16, "", kNone, "", 0},
        {16, " , ; ", kNone, "", 0},
        {16, "X 3C 0", {{0x80, 0x3C, 0x00}}, "", 3},
        {16, "Y 3C 7F", {{0xA0, 0x3C, 0x7F}}, "", 3},
        {16, "K 7 64", {{0xB0, 0x07, 0x64}}, "", 3},
        {16, "P 7F", {{0xC0, 0x7F}}, "", 2},
        {16, "p 5", {{0xC0, 0x05}}, "", 2},
        {16, "Z 40", {{0xD0, 0x40}}, "", 2},
        {16, "W 0 40", {{0xE0, 0x00, 0x40}}, "", 3},
        /* several messages leave together; the repeat takes all of them */
        {16, "N 3C 40 N 3E 40", {{0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40}}, "", 6},
        {16, "N 3C 40 P 05", {{0x90, 0x3C, 0x40, 0xC0, 0x05}}, "", 5},
        {16, "P 05N 3C 40", {{0xC0, 0x05, 0x90, 0x3C, 0x40}}, "", 5},
        /* the first bad field ends the line and nothing of it is sent */
        {16, "N 3C 40 X 3C", kNone, " DATA2 ERROR\n", 0},
        {16, "X", kNone, " DATA1 ERROR\n", 0},
        {16, "N 80 40", kNone, " DATA1 ERROR\n", 0},
        {16, "N 3C 80", kNone, " DATA2 ERROR\n", 0},
        {16, "N 3C 40.", kNone, " CMD ERROR\n", 0},
        {16, "Q 1", kNone, " CMD ERROR\n", 0},
        {16, "`", kNone, " CMD ERROR\n", 0},
        {16, "P 80", kNone, " DATA ERROR\n", 0},
        {16, "P 5N", kNone, " DATA ERROR\n", 0},
        {16, "Z", kNone, " DATA ERROR\n", 0},
        /* system messages */
        {16, "F8", {{0xF8}}, "", 1},
        {16, "F 7", {{0xF7}}, "", 1},
        {16, "f f", {{0xFF}}, "", 1},
        {16, "F FF", kNone, " DATA ERROR\n", 0},
        {16, "F 4", {{0xF4}}, "", 1},
        {16, "F 2 0 0", {{0xF2, 0x00, 0x00}}, "", 3},
        {16, "F 1 7F", {{0xF1, 0x7F}}, "", 2},
        {16, "F 3 5", {{0xF3, 0x05}}, "", 2},
        {16, "F 0", kNone, " DATA ERROR\n", 0},
        {16, "F 10", kNone, " DATA ERROR\n", 0},
        {16, "F", kNone, " DATA ERROR\n", 0},
        {16, "F 2 10", kNone, " DATA ERROR\n", 0},
        {16, "F 2 10 80", kNone, " DATA ERROR\n", 0},
        {16, "F 1", kNone, " DATA ERROR\n", 0},
        /* channel */
        {16, "M 10 N 3C 40", {{0x9F, 0x3C, 0x40}}, "\n", 3},
        {16, "M 2 N 3C 40", {{0x91, 0x3C, 0x40}}, "\n", 3},
        {16, "M 2", kNone, "\n", 0},
        {16, "M 0", kNone, " CMD ERROR\n", 0},
        {16, "M 11", kNone, " CMD ERROR\n", 0},
        /* a failing setting after a message: nothing sent, nothing to repeat */
        {16, "N 3C 40 M 0", kNone, " CMD ERROR\n", 0},
        {16, "N 3C 40 M 2", {{0x90, 0x3C, 0x40}}, "\n", 3},
        /* SysEx with the one-byte ID 7D */
        {16, "S hello", {{0xF0, 0x7D, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0xF7}}, "", 8},
        {16, "S", {{0xF0, 0x7D, 0xF7}}, "", 3},
        {16, "s   a b", {{0xF0, 0x7D, 0x61, 0x20, 0x62, 0xF7}}, "", 6},
        {16, "S ,;.", {{0xF0, 0x7D, 0x2C, 0x3B, 0x2E, 0xF7}}, "", 6},
        {16, "S \\5C", {{0xF0, 0x7D, 0x5C, 0xF7}}, "", 4},
        {16, "S a\\0d", {{0xF0, 0x7D, 0x61, 0x0D, 0xF7}}, "", 5},
        {16, "S \\F7", {{0xF0, 0x7D, 0xF7, 0xF7}}, "", 4},
        {16,
            "S a\x01"
            "b",
            {{0xF0, 0x7D, 0x61, 0x62, 0xF7}}, "", 5},
        {16, "S \\7", kNone, " SysEx ERROR\n", 0},
        {16, "S x\\", kNone, " SysEx ERROR\n", 0},
        {16, "S \\g0", kNone, " SysEx ERROR\n", 0},
        {16, "S \\0g", kNone, " SysEx ERROR\n", 0},
        {16, "S hi N 3C 40", {{0xF0, 0x7D, 'h', 'i', ' ', 'N', ' ', '3', 'C', ' ', '4', '0', 0xF7}}, "", 13},
        {16, "M 2 S x", {{0xF0, 0x7D, 0x78, 0xF7}}, "\n", 4},
        {16, "N 3C 40 S x", {{0x90, 0x3C, 0x40, 0xF0, 0x7D, 0x78, 0xF7}}, "", 7},
        /* manufacturer IDs of one and three bytes */
        {16, "I 41 FF FF S \\10\\20", {{0xF0, 0x41, 0x10, 0x20, 0xF7}}, "", 5},
        {16, "I FF FF FF S abc", {{0xF0, 0x61, 0x62, 0x63, 0xF7}}, "", 5},
        {16, "I 0 20 33 S a", {{0xF0, 0x00, 0x20, 0x33, 0x61, 0xF7}}, "", 6},
        {16, "I 0 20 FF S a", {{0xF0, 0x00, 0x20, 0x61, 0xF7}}, "", 5},
        {16, "I 41 FF FF", kNone, "", 0},
        {16, "I 80", kNone, " ID1 ERROR\n", 0},
        {16, "I 41", kNone, " ID2 ERROR\n", 0},
        {16, "I 41 1 80", kNone, " ID3 ERROR\n", 0},
    };
    for (const LineRow &r : rows)
        check(r);
}

TEST_F(InterpreterTableTest, DecimalLines)
{
    const LineRow rows[] = {
        {10, "N 60 64", {{0x90, 0x3C, 0x40}}, "", 3},
        {10, "N 60 64 N 62 64", {{0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40}}, "", 6},
        {10, "M 16 N 60 64", {{0x9F, 0x3C, 0x40}}, "\n", 3}, {10, "M 17", kNone, " CMD ERROR\n", 0},
        {10, "N 128 1", kNone, " DATA1 ERROR\n", 0},
        {10, "N 1234", {{0x90, 123, 4}}, "", 3}, /* a fourth digit starts the next field */
        {10, "N 1284", kNone, " DATA1 ERROR\n", 0}, {10, "N 3C 40", kNone, " DATA1 ERROR\n", 0},
        {10, "P 127", {{0xC0, 0x7F}}, "", 2}, {10, "P 128", kNone, " DATA ERROR\n", 0},
        {10, "K 7,100", {{0xB0, 0x07, 0x64}}, "", 3}, {10, "W 0.64", {{0xE0, 0x00, 0x40}}, "", 3},
        {10, "F A", {{0xFA}}, "", 1}, /* the type stays hexadecimal */
        {10, "F 10", kNone, " DATA ERROR\n", 0}, {10, "F 2 127 0", {{0xF2, 0x7F, 0x00}}, "", 3},
        {10, "F 3 100", {{0xF3, 0x64}}, "", 2},
        {10, "S \\7F", {{0xF0, 0x7D, 0x7F, 0xF7}}, "", 4}, /* escapes stay hexadecimal */
        {10, "I 65 255 255 S a", {{0xF0, 0x41, 0x61, 0xF7}}, "", 4},
        {10, "I 0 32 51 S a", {{0xF0, 0x00, 0x20, 0x33, 0x61, 0xF7}}, "", 6},
        {10, "I 128", kNone, " ID1 ERROR\n", 0},
        {7, "N 60 64", {{0x90, 0x3C, 0x40}}, "", 3}, /* any base but 16 */
    };
    for (const LineRow &r : rows)
        check(r);
}

TEST_F(InterpreterTest, SettingsBeforeAFailureStayChanged)
{
    runLine("M 3 I 41");
    EXPECT_EQ(gChannel, 2);
    EXPECT_EQ(gIdStr[0], 0x41);
    EXPECT_EQ(gIdStr[1], 0xFF); /* the start value; ID2 failed */
    EXPECT_TRUE(td::sent().empty());

    /* the one-byte ID 41 and channel 3 now apply */
    EXPECT_EQ(runLine("S a N 3C 40"), "");
    ASSERT_EQ(td::sent().size(), 1u);
    EXPECT_EQ(
        hexOf(td::sent()[0]), hexOf(Bytes{0xF0, 0x41, 'a', ' ', 'N', ' ', '3', 'C', ' ', '4', '0', 0xF7}));
    EXPECT_EQ(runLine("N 3C 40"), "");
    EXPECT_EQ(hexOf(td::sent().back()), "92 3c 40");
}

TEST_F(InterpreterTest, ThreeByteIdIsStoredWithFillerInFourthPlace)
{
    gIdStr[3] = 0x12;
    EXPECT_EQ(runLine("I 0 20 33"), "");
    EXPECT_EQ(gIdStr[0], 0x00);
    EXPECT_EQ(gIdStr[1], 0x20);
    EXPECT_EQ(gIdStr[2], 0x33);
    EXPECT_EQ(gIdStr[3], 0xFF);
}

TEST_F(InterpreterTest, FailedLineSendsNothingAfterAGoodOne)
{
    runLine("N 3C 40");
    ASSERT_EQ(td::sent().size(), 1u);
    EXPECT_EQ(runLine("N 3E 40 N 40 40 Z"), " DATA ERROR\n");
    EXPECT_EQ(td::sent().size(), 1u);
    EXPECT_EQ(gMsgLength, 0);
}

TEST_F(InterpreterTest, SysexOfAFullLineStaysInTheBuffer)
{
    /* a line without terminator: the interpreter stops at the end of the
       command line all the same */
    memset(gCmdStr, 'a', sizeof gCmdStr);
    gCmdStr[0] = 'S';
    gMsgLength = 0;
    EXPECT_EQ(printed([] { executeCmdStr(); }), "");
    ASSERT_EQ(td::sent().size(), 1u);
    const Bytes &b = td::sent()[0];
    ASSERT_EQ(b.size(), 2u + 511u + 1u);
    EXPECT_EQ(b[0], 0xF0);
    EXPECT_EQ(b[1], 0x7D);
    EXPECT_EQ(b[2], 'a');
    EXPECT_EQ(b[512], 'a');
    EXPECT_EQ(b[513], 0xF7);
    EXPECT_EQ(gMsgLength, 514);
}

TEST_F(InterpreterTest, ParseSysExStopsOnTheTerminator)
{
    memset(gCmdStr, 0, sizeof gCmdStr);
    strcpy(gCmdStr, "  ab");
    gCmdPtr = 0;
    gOutPtr = 2;
    gSbuf[0] = 0x11;
    gSbuf[1] = 0x22;
    ASSERT_EQ(parseSysEx(), 1);
    EXPECT_EQ(gCmdPtr, 4);
    EXPECT_EQ(gOutPtr, 7);
    EXPECT_EQ(gMsgLength, 7);
    EXPECT_EQ(hexOf(Bytes(gSbuf, gSbuf + 7)), "11 22 f0 7d 61 62 f7");
    EXPECT_TRUE(td::sent().empty()); /* the builder only collects */
}

} // namespace
