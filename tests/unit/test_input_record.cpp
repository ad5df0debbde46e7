/*
 * The record file: what F9, F10, F11 and F12 do, the bytes that reach the
 * file, the progress dots of quiet recording, and write failures.
 */
#include "test_input_fixture.h"

namespace {

class InputRecord : public InputTest {
protected:
    void SetUp() override
    {
        InputTest::SetUp();
        openInput();
    }

    /* the keys as the dispatch runs them */
    static std::string f9()
    {
        return printed([] {
            gbRecQuiet = 0;
            StartRecReceive();
        });
    }
    static std::string f10()
    {
        return printed([] {
            gbRecQuiet = 1;
            StartRecReceive();
        });
    }
    static std::string f11() { return printed(PauseRecReceive); }
    static std::string f12() { return printed(closeRecFile); }

    static std::vector<uint8_t> recFile() { return fileBytes("VOLTANIS.REC"); }
};

const std::vector<uint8_t> kMarker = {0x5F, 0x50, 0x61, 0x55, 0x73, 0x45, 0x5F};

TEST_F(InputRecord, TheExampleSessionGivesThirteenBytes)
{
    std::string out = f9();
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    ASSERT_TRUE(td::deliverShort(0xC0, 0x05));
    out += drained();
    out += f11();
    out += f9();
    ASSERT_TRUE(td::deliverShort(0xF8)); /* hidden by the filter, recorded all the same */
    out += drained();
    out += f12();
    EXPECT_EQ(out, "-Recording\n"
                   "  MIDI Note ON     90 3c 40  ( C 3 )\n"
                   "  Program Change   c0  5\n"
                   "_PaUsE_\n"
                   "-Recording\n"
                   "-Rec File Closed\n");
    EXPECT_EQ(recFile(),
        (std::vector<uint8_t>{0x90, 0x3C, 0x40, 0xC0, 0x05, 0x5F, 0x50, 0x61, 0x55, 0x73, 0x45, 0x5F, 0xF8}));
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
}

TEST_F(InputRecord, EachStatusWritesItsLength)
{
    struct Row {
        uint8_t status, d1, d2;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {0x80, 1, 2, {0x80, 1, 2}},
        {0x93, 1, 2, {0x93, 1, 2}},
        {0xA0, 1, 2, {0xA0, 1, 2}},
        {0xB0, 1, 2, {0xB0, 1, 2}},
        {0xC0, 1, 2, {0xC0, 1}},
        {0xD5, 1, 2, {0xD5, 1}},
        {0xE0, 1, 2, {0xE0, 1, 2}},
        {0xF0, 1, 2, {0xF0, 1, 2}},
        {0xF1, 1, 2, {0xF1, 1}},
        {0xF2, 1, 2, {0xF2, 1, 2}},
        {0xF3, 1, 2, {0xF3, 1}},
        {0xF4, 1, 2, {0xF4}},
        {0xF7, 1, 2, {0xF7}},
        {0xF8, 1, 2, {0xF8}},
        {0xFE, 1, 2, {0xFE}},
        {0xFF, 1, 2, {0xFF}},
    };
    f10();
    std::vector<uint8_t> expected;
    for (const Row &r : rows) {
        ASSERT_TRUE(td::deliverShort(r.status, r.d1, r.d2));
        expected.insert(expected.end(), r.bytes.begin(), r.bytes.end());
    }
    drained();
    EXPECT_EQ(recFile(), expected); /* straight through: no close needed to see them */
    EXPECT_EQ(gByteCount, 1800u + expected.size());
}

TEST_F(InputRecord, SysExIsRecordedAsItArrivedAndInOrder)
{
    f9();
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    ASSERT_TRUE(td::deliverLong({0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
    ASSERT_TRUE(td::deliverShort(0x80, 0x3C, 0x00)); /* arrived before the ring emptied */
    drained();
    EXPECT_EQ(recFile(),
        (std::vector<uint8_t>{0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00, 0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
}

TEST_F(InputRecord, F10RecordsQuietlyWithDotsOnTheSameLine)
{
    EXPECT_EQ(f10(), "-Recording Quietly-");
    /* one-byte messages: the first dot after 201 bytes (1800 + 201 > 2000),
       then one every 2001 bytes */
    std::string out;
    std::vector<int> dotsAt;
    for (int i = 1; i <= 201 + 2001 + 10; i++) {
        midiCallback(0, MIM_DATA, 0, 0xFA, 0);
        std::string one = drained();
        if (one == ".")
            dotsAt.push_back(i);
        else
            EXPECT_EQ(one, "") << "message " << i;
    }
    EXPECT_EQ(dotsAt, (std::vector<int>{201, 201 + 2001}));
    EXPECT_EQ(recFile().size(), (size_t)(201 + 2001 + 10));
}

TEST_F(InputRecord, ALongMessageGivesOneDotAtMostAndIsNotShown)
{
    f10();
    gMode = 0;
    ASSERT_TRUE(td::deliverLong(sysexOf(5000, 0x11)));
    EXPECT_EQ(drained(), ".");
    EXPECT_EQ(gByteCount, 0u);
    /* from the restart's 1800, 200 bytes reach 2000 but do not pass it */
    f10();
    ASSERT_TRUE(td::deliverLong(sysexOf(200, 0x11)));
    EXPECT_EQ(drained(), "");
    EXPECT_EQ(gByteCount, 2000u);
    ASSERT_TRUE(td::deliverShort(0xF8));
    EXPECT_EQ(drained(), ".");
    EXPECT_EQ(recFile().size(), 5000u + 200u + 1u);
}

TEST_F(InputRecord, QuietStaysAfterAPauseUntilF9OrF12)
{
    f10();
    EXPECT_EQ(f11(), "_PaUsE_\n");
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    EXPECT_EQ(drained(), "");
    EXPECT_EQ(f9(), "-Recording\n");
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    EXPECT_EQ(drained(), "  MIDI Note ON     90 3c 40  ( C 3 )\n");
    /* recording resumed into the same file, paused message not recorded */
    EXPECT_EQ(recFile(), (std::vector<uint8_t>{0x5F, 0x50, 0x61, 0x55, 0x73, 0x45, 0x5F, 0x90, 0x3C, 0x40}));
}

TEST_F(InputRecord, F11TwiceWritesTheMarkerTwice)
{
    f9();
    EXPECT_EQ(f11() + f11(), "_PaUsE_\n_PaUsE_\n");
    std::vector<uint8_t> twice = kMarker;
    twice.insert(twice.end(), kMarker.begin(), kMarker.end());
    EXPECT_EQ(recFile(), twice);
    EXPECT_EQ(gbRecFileOpen, 1);
    EXPECT_EQ(gbRecRecv, 0);
}

TEST_F(InputRecord, F11WithNoFileIsAWriteErrorAndCreatesNothing)
{
    EXPECT_EQ(f11(), "Record File Write Error!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
    EXPECT_FALSE(fileExists("VOLTANIS.REC"));
}

TEST_F(InputRecord, F12WithNoFileStillSaysClosedAndEndsQuiet)
{
    gbRecQuiet = 1;
    EXPECT_EQ(f12(), "-Rec File Closed\n");
    EXPECT_EQ(gbRecQuiet, 0);
    EXPECT_EQ(gbRecFileOpen, 0);
}

TEST_F(InputRecord, F9AfterF12StartsAnEmptyFile)
{
    f9();
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    drained();
    f12();
    EXPECT_EQ(recFile().size(), 3u);
    EXPECT_EQ(f9(), "-Recording\n");
    EXPECT_EQ(recFile().size(), 0u);
    EXPECT_EQ(gbRecFileOpen, 1);
}

TEST_F(InputRecord, F9WhileRecordingKeepsTheFileAndRestartsTheCount)
{
    f9();
    ASSERT_TRUE(td::deliverShort(0xC0, 0x05));
    drained();
    HANDLE h = ghRecFile;
    EXPECT_EQ(f10(), "-Recording Quietly-");
    EXPECT_EQ(ghRecFile, h);
    EXPECT_EQ(gByteCount, 1800u);
    ASSERT_TRUE(td::deliverShort(0xC0, 0x06));
    drained();
    EXPECT_EQ(recFile(), (std::vector<uint8_t>{0xC0, 0x05, 0xC0, 0x06}));
}

TEST_F(InputRecord, ACreateFailureLeavesRecordingOffAndQuietAsSet)
{
    strcpy(gRecFileName, "no-such-dir/VOLTANIS.REC");
    EXPECT_EQ(f10(), "Cannot open Record File!\nno-such-dir/VOLTANIS.REC: no such folder!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
    EXPECT_EQ(gbRecQuiet, 1);
}

#ifndef _WIN32
/* A record file that is not a file of ours is refused, with the reason,
   and what a link under its name points to stays as it was. */
TEST_F(InputRecord, ARecordFileThatIsNoFileOfOursIsRefusedWithTheReason)
{
    const char *link = "VOLTANIS.REC: a symbolic link, never written through!\n";
    const struct {
        const char *what, *made, *reason;
    } rows[] = {
        {"a link to another's file", "ln -s victim VOLTANIS.REC", link},
        {"a dangling link", "ln -s made VOLTANIS.REC", link},
        {"a link to the terminal", "ln -s /dev/tty VOLTANIS.REC", link},
        {"a folder", "mkdir VOLTANIS.REC", "VOLTANIS.REC: a folder, not a file!\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(system("rm -rf VOLTANIS.REC made && echo kept > victim"), 0);
        ASSERT_EQ(system(r.made), 0);
        EXPECT_EQ(f9(), std::string("Cannot open Record File!\n") + r.reason);
        EXPECT_EQ(gbRecFileOpen, 0);
        EXPECT_EQ(fileBytes("victim"), (std::vector<uint8_t>{'k', 'e', 'p', 't', '\n'}));
        EXPECT_NE(access("made", F_OK), 0);
    }
}
#endif

TEST_F(InputRecord, AFailedShortWriteStopsRecordingAndHidesThatMessage)
{
    f9();
    td::failFileWriteAfter(4);
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    ASSERT_TRUE(td::deliverShort(0xC0, 0x05)); /* its second byte does not fit */
    ASSERT_TRUE(td::deliverShort(0xB0, 0x07, 0x64));
    EXPECT_EQ(drained(), "  MIDI Note ON     90 3c 40  ( C 3 )\n"
                         "Record File Write Error!\n"
                         "  Control Change   b0  7 64\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
    td::failFileWriteAfter(-1);
    EXPECT_EQ(recFile(), (std::vector<uint8_t>{0x90, 0x3C, 0x40, 0xC0}));
    /* the next F9 makes a new, empty file */
    EXPECT_EQ(f9(), "-Recording\n");
    EXPECT_EQ(recFile().size(), 0u);
}

TEST_F(InputRecord, AFailedLongWriteStopsRecordingAndTheBufferGoesOn)
{
    f9();
    td::failFileWriteAfter(3);
    ASSERT_TRUE(td::deliverLong({0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
    EXPECT_EQ(drained(), "Record File Write Error!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
    EXPECT_EQ(gMsg, 0u);
    EXPECT_EQ(td::queuedHeaders(), 1);
    ASSERT_TRUE(td::deliverLong({0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}));
    EXPECT_EQ(drained(), "  SysEx( 41 )  \\10 B \\12  EOX\n");
}

TEST_F(InputRecord, AFailedMarkerWriteClosesTheFile)
{
    f9();
    td::failFileWriteAfter(3);
    EXPECT_EQ(f11(), "Record File Write Error!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
    td::failFileWriteAfter(-1);
    EXPECT_EQ(recFile(), (std::vector<uint8_t>{0x5F, 0x50, 0x61}));
    EXPECT_EQ(f11(), "Record File Write Error!\n"); /* closed now */
}

TEST_F(InputRecord, ARealFullDiskIsAWriteError)
{
    strcpy(gRecFileName, "/dev/full");
    std::string started = f9();
    if (!gbRecFileOpen) {
        EXPECT_EQ(started, "Cannot open Record File!\n");
        GTEST_SKIP() << "/dev/full cannot be opened here";
    }
    EXPECT_EQ(started, "-Recording\n");
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    EXPECT_EQ(drained(), "Record File Write Error!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    EXPECT_EQ(gbRecRecv, 0);
}

TEST_F(InputRecord, WildBytesAreNeverRecorded)
{
    f9();
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0x3C));
    EXPECT_EQ(drained(), "  wild byte      3c\n");
    EXPECT_EQ(recFile().size(), 0u);
}

} // namespace
