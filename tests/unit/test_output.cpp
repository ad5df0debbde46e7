/* The output buffer, its transmission and the repeat of the last message. */
#include "entry_output_fixture.h"

namespace {

class OutputTest : public EntryOutputTest {};

TEST_F(OutputTest, AppendersCollectBehindEarlierBytesAndSendNothing)
{
    gSbuf[0] = 0xAA;
    gSbuf[1] = 0xBB;
    gOutPtr = 2;
    gStatus = 0x90;
    gData1 = 0x3C;
    gData2 = 0x40;
    sendMidiMsg_3();
    EXPECT_EQ(gOutPtr, 5);
    EXPECT_EQ(gMsgLength, 3);
    gStatus = 0xC0;
    gData1 = 0x05;
    sendMidiMsg_2();
    EXPECT_EQ(gOutPtr, 7);
    EXPECT_EQ(gMsgLength, 2);
    gStatus = 0xF8;
    sendMidiMsg_1();
    EXPECT_EQ(gOutPtr, 8);
    EXPECT_EQ(gMsgLength, 1);
    EXPECT_EQ(hexOf(Bytes(gSbuf, gSbuf + 8)), "aa bb 90 3c 40 c0 05 f8");
    EXPECT_TRUE(td::sent().empty());
    EXPECT_EQ(td::calls(td::OutLongMsg), 0);
}

TEST_F(OutputTest, AppendersNeverWriteOutsideTheBuffer)
{
    gOutPtr = SBUF_SIZE - 2;
    gMsgLength = 0;
    gStatus = 0x90;
    sendMidiMsg_3();
    EXPECT_EQ(gOutPtr, SBUF_SIZE - 2);
    EXPECT_EQ(gMsgLength, 0);
    sendMidiMsg_2();
    EXPECT_EQ(gOutPtr, SBUF_SIZE);
    EXPECT_EQ(gMsgLength, 2);
    sendMidiMsg_1();
    EXPECT_EQ(gOutPtr, SBUF_SIZE);
}

TEST_F(OutputTest, OneByteSendGoesAloneAndAtOnce)
{
    gSbuf[1] = 0x77;
    gOutPtr = 9;
    std::string text = printed([] { sendMidiByte(0x1FE); });
    EXPECT_EQ(text, "");
    EXPECT_EQ(hexOf(td::sent()), "[fe]");
    EXPECT_EQ(gOutPtr, 1);
    EXPECT_EQ(gMsgLength, 1);
    EXPECT_EQ(gSbuf[1], 0x77);
}

TEST_F(OutputTest, LongMessageSetsTheHeaderAndReleasesIt)
{
    gSbuf[0] = 0xF0;
    gSbuf[1] = 0x7D;
    gSbuf[2] = 0xF7;
    gMidiOutHdr.dwFlags = 0x80;
    EXPECT_EQ(printed([] { sendLongMsg(3); }), "");
    EXPECT_EQ(hexOf(td::sent()), "[f0 7d f7]");
    EXPECT_EQ((const void *)gMidiOutHdr.lpData, (const void *)gSbuf);
    EXPECT_EQ(gMidiOutHdr.dwBufferLength, 3u);
    EXPECT_EQ(gMidiOutHdr.dwBytesRecorded, 3u);
    EXPECT_FALSE(gMidiOutHdr.dwFlags & MHDR_PREPARED);
    EXPECT_EQ(td::calls(td::OutPrepare), 1);
    EXPECT_EQ(td::calls(td::OutLongMsg), 1);
    EXPECT_EQ(td::calls(td::OutUnprepare), 1);

    /* an empty long message is still one transmission */
    sendLongMsg(0);
    ASSERT_EQ(td::sent().size(), 2u);
    EXPECT_TRUE(td::sent()[1].empty());
}

struct FailureRow {
    int fails; /* -1 none, else the failing operation */
    bool port;
    const char *text;
    size_t sent;
};

TEST_F(OutputTest, TransmissionFailuresTable)
{
    const FailureRow rows[] = {
        {-1, true, "", 1},
        {td::OutPrepare, true, "\nERROR MIDI PREPARE\n\nERROR MIDI TRANSMISSION\n", 0},
        {td::OutLongMsg, true, "\nERROR MIDI TRANSMISSION\n", 0},
        {td::OutUnprepare, true, "", 1}, /* not reported */
        {-1, false, "\nERROR MIDI PREPARE\n\nERROR MIDI TRANSMISSION\n", 0},
    };
    HMIDIOUT port = gOutHandle;
    for (const FailureRow &r : rows) {
        td::heal();
        td::clearSent();
        if (r.fails >= 0)
            td::fail((td::Op)r.fails);
        gOutHandle = r.port ? port : (HMIDIOUT)0;
        int before = td::calls(td::OutUnprepare);
        SCOPED_TRACE("failing op " + std::to_string(r.fails) + (r.port ? "" : " no port"));
        EXPECT_EQ(printed([] { sendMidiByte(0x90); }), r.text);
        EXPECT_EQ(td::sent().size(), r.sent);
        EXPECT_EQ(td::calls(td::OutUnprepare), before + 1); /* always given back */
        EXPECT_EQ(gMsgLength, 1);
    }
    td::heal();
    gOutHandle = port;
}

TEST_F(OutputTest, NoPortTypedLineReportsBothSteps)
{
    midiOutClose(gOutHandle);
    gOutHandle = 0;
    EXPECT_EQ(type("N 3C 40\r"), "N 3C 40\n\nERROR MIDI PREPARE\n\nERROR MIDI TRANSMISSION\n");
    EXPECT_TRUE(td::sent().empty());
    /* the bytes stay for a later repeat */
    EXPECT_EQ(gMsgLength, 3);
    EXPECT_EQ(printed([] { repeatLastMsg(); }),
        "Repeat:\nERROR MIDI PREPARE\n\nERROR MIDI TRANSMISSION\n90 3c 40 \n");
}

struct RepeatRow {
    uint8_t base;
    const char *line;
    const char *echo;
    Bytes bytes;
};

TEST_F(OutputTest, RepeatTable)
{
    const RepeatRow rows[] = {
        {16, "n45 40", "Repeat:90 45 40 \n", {0x90, 0x45, 0x40}},
        {10, "n69 64", "Repeat:144 69 64 \n", {0x90, 0x45, 0x40}},
        {16, "P 5", "Repeat:c0 5 \n", {0xC0, 0x05}},
        {16, "F8", "Repeat:f8 \n", {0xF8}},
        {16, "N 3C 40 P 05", "Repeat:90 3c 40 c0 5 \n", {0x90, 0x3C, 0x40, 0xC0, 0x05}},
        {10, "N 60 64 P 5", "Repeat:144 60 64 192 5 \n", {0x90, 0x3C, 0x40, 0xC0, 0x05}},
        {16, "N 3C 40 N 3E 40", "Repeat:90 3c 40 90 3e 40 \n", {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40}},
        {16, "S hi", "Repeat:f0 7d 68 69 f7 \n", {0xF0, 0x7D, 0x68, 0x69, 0xF7}},
        {16, "N 3C 40 S x", "Repeat:90 3c 40 f0 7d 78 f7 \n", {0x90, 0x3C, 0x40, 0xF0, 0x7D, 0x78, 0xF7}},
        {16, "N 3C 40 M 3", "Repeat:90 3c 40 \n", {0x90, 0x3C, 0x40}},
    };
    for (const RepeatRow &r : rows) {
        freshRow(r.base);
        SCOPED_TRACE(r.line);
        type(std::string(r.line) + "\r");
        ASSERT_EQ(td::sent().size(), 1u);
        EXPECT_EQ(hexOf(td::sent()[0]), hexOf(r.bytes));
        /* twice: the repeat changes neither the buffer nor the length */
        for (int i = 0; i < 2; i++) {
            EXPECT_EQ(printed([] { repeatLastMsg(); }), r.echo);
            ASSERT_EQ(td::sent().size(), 2u + i);
            EXPECT_EQ(hexOf(td::sent().back()), hexOf(r.bytes));
            EXPECT_EQ(gMsgLength, (int)r.bytes.size());
            EXPECT_EQ(gOutPtr, (int)r.bytes.size());
        }
    }
}

TEST_F(OutputTest, RepeatEchoFollowsTheBaseOfTheMoment)
{
    type("n45 40\r");
    gNumBase = 10;
    EXPECT_EQ(printed([] { repeatLastMsg(); }), "Repeat:144 69 64 \n");
    gNumBase = 16;
    EXPECT_EQ(printed([] { repeatLastMsg(); }), "Repeat:90 45 40 \n");
}

TEST_F(OutputTest, NothingToRepeatAfterEmptySettingOrFailedLines)
{
    const char *lines[] = {"", "M 2", "I 41 FF FF", "N 3C 40 X 3C", "N 3C 40 M 0", "Q", "S \\7"};
    for (const char *line : lines) {
        type("N 3C 40\r");
        ASSERT_EQ(gMsgLength, 3);
        type(std::string(line) + "\r");
        EXPECT_EQ(gMsgLength, 0) << "'" << line << "'";
    }
}

TEST_F(OutputTest, RepeatOfATypedByte)
{
    gMode = 2;
    type("90 ");
    EXPECT_EQ(printed([] { repeatLastMsg(); }), "Repeat:90 \n");
    EXPECT_EQ(hexOf(td::sent()), "[90][90]");
}

} // namespace
