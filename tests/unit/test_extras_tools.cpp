/*
 * The time and SysEx tools: the time column and the latency as text,
 * received lines with -t through the real capture and display (on the
 * double's clock), the MIDI file log in a real file, and the .syx files.
 */
#include "extras/extras.h"
#include "extras/syxfiles.h"
#include "extras/timing.h"
#include "output/output.h"
#include "tools_fixture.h"

namespace {

TEST(TimeText, ColumnAndLatency)
{
    const struct {
        int64_t us;
        const char *column, *latency;
    } cases[] = {
        {3249, "    0.0032  ", "+3.2 ms"},
        {3250, "    0.0033  ", "+3.3 ms"}, /* a tenth of a millisecond, rounded */
        {12345600, "   12.3456  ", "+12345.6 ms"},
        {99999999950, "100000.0000  ", "+100000000.0 ms"}, /* after 27 hours the column grows */
        {-5, "    0.0000  ", "+0.0 ms"},
    };
    for (const auto &c : cases) {
        char column[32], latency[32];
        formatTimeColumn(c.us, column, sizeof column);
        formatLatency(c.us, latency, sizeof latency);
        EXPECT_STREQ(column, c.column) << c.us;
        EXPECT_STREQ(latency, c.latency) << c.us;
    }
}

class TimedDisplay : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        timestampsOn();
    }
};

/* Steps on the double's clock, and what the display shows when it catches
   up: the arrival time whenever it is shown, the reply latency on the first
   line after a transmission. */
TEST_F(TimedDisplay, ArrivalTimesAndReplyLatency)
{
    enum Op { Wait, Note, Clock, Sysex, Wild, Send, Mode, Show };
    const struct {
        Op op;
        int64_t arg;
        const char *shown; /* with Show */
    } steps[] = {
        {Wait, 12345600, ""}, {Note, 0x3C, ""},
        {Show, 0, "   12.3456    MIDI Note ON     90 3c 40  ( C 3 )\n"}, {Send, 0, ""}, {Wait, 3200, ""},
        {Note, 0x3D, ""}, {Note, 0x3E, ""},
        {Wait, 5000000, ""}, /* a busy display: the times stay those of the arrival */
        {Show, 0,
            "   12.3488    MIDI Note ON     90 3d 40  ( C# 3 )  (+3.2 ms after send)\n"
            "   12.3488    MIDI Note ON     90 3e 40  ( D 3 )\n"},
        {Note, 0x3F, ""}, /* arrived before the send: no reply */
        {Wait, 100, ""}, {Send, 0, ""}, {Wait, 100, ""}, {Clock, 0, ""}, /* hidden: no reply either */
        {Wait, 400, ""}, {Sysex, 0, ""},
        {Show, 0,
            "   17.3488    MIDI Note ON     90 3f 40  ( D# 3 )\n"
            "   17.3494    SysEx( 7d ) hi EOX  (+0.5 ms after send)\n"},
        {Send, 0, ""}, {Wild, 0, ""}, {Show, 0, "   17.3494    wild byte      5  (+0.0 ms after send)\n"},
        {Mode, 1, ""}, /* bytes: no time; the reply is taken all the same */
        {Send, 0, ""}, {Note, 0x40, ""}, {Show, 0, "-90 40 40 "}, {Mode, 0, ""}, {Note, 0x41, ""},
        {Show, 0, "   17.3494    MIDI Note ON     90 41 40  ( F 3 )\n"}, {Sysex, 0, ""}, {Wait, 1000, ""},
        {Sysex, 0, ""}, /* held by the port layer while the buffer is out */
        {Wait, 5000000, ""}, {Note, 0x42, ""},
        {Show, 0,
            "   22.3504    MIDI Note ON     90 42 40  ( F# 3 )\n"
            "   17.3494    SysEx( 7d ) hi EOX\n"},
        {Show, 0, "   17.3504    SysEx( 7d ) hi EOX\n"}, /* its own time, not the hand-over's */
    };
    for (const auto &s : steps) {
        switch (s.op) {
        case Wait: td::advanceClock(s.arg); break;
        case Note: ASSERT_TRUE(td::deliverShort(0x90, (uint8_t)s.arg, 0x40)); break;
        case Clock: ASSERT_TRUE(td::deliverShort(0xF8)); break;
        case Sysex: ASSERT_TRUE(td::deliverLong({0xF0, 0x7D, 'h', 'i', 0xF7})); break;
        case Wild: ASSERT_TRUE(td::deliver(MIM_ERROR, 0x05)); break;
        case Send: sendMidiByte(0xFE); break;
        case Mode: gMode = (int32_t)s.arg; break;
        case Show: EXPECT_EQ(drained(), s.shown); break;
        }
    }
}

/* The log in a real file through the display's hooks, and what an existing
   FILE gets: kept, replaced with force, never a link or a folder. */
TEST_F(TimedDisplay, SmfLogInAFile)
{
    const struct {
        const char *there; /* what is at log.mid before */
        int force;
        SmfStart start;
    } cases[] = {
        {"", 0, SmfReady},
        {"file", 0, SmfExists},
        {"file", 1, SmfReady},
        {"folder", 1, SmfNotAFile},
#ifndef _WIN32
        {"link", 1, SmfNotAFile},
#endif
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.there) + (c.force ? " with force" : ""));
        std::string there = c.there;
        if (there == "file" || there == "link")
            fclose(fopen("other", "w"));
        if (there == "file") {
            ASSERT_EQ(rename("other", "log.mid"), 0);
        }
        if (there == "folder") {
            ASSERT_TRUE(CreateDirectoryA("log.mid", NULL));
        }
#ifndef _WIN32
        if (there == "link") {
            ASSERT_EQ(symlink("other", "log.mid"), 0);
        }
#endif
        EXPECT_EQ(smfLogOn("log.mid", c.force), c.start);
        if (c.start == SmfReady) {
            td::advanceClock(10000);
            ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
            td::advanceClock(10000);
            ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x41));
            drained();
        }
        extrasFinish();
        if (c.start == SmfReady) {
            const std::vector<uint8_t> want = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0xE7, 0x28, 'M',
                'T', 'r', 'k', 0, 0, 0, 15, 0x00, 0xFF, 0x01, 0x00, 0x0A, 0x90, 0x3C, 0x40, 0x0A, 0x3C, 0x41,
                0x00, 0xFF, 0x2F, 0x00};
            EXPECT_TRUE(fileBytes("log.mid") == want);
        }
        if (there == "file" && !c.force) {
            EXPECT_TRUE(fileBytes("log.mid").empty());
        }
        ASSERT_EQ(system("rm -rf log.mid"), 0);
        remove("other");
        extrasSetOrigin(vtClockUs());
    }
}

/* A write that fails says so once, in a line of its own; the log stops and
   the file stays as its latest update left it. */
TEST_F(TimedDisplay, SmfWriteFailureStopsTheLog)
{
    ASSERT_EQ(smfLogOn("log.mid", 0), SmfReady);
    td::failFileWriteAfter(0);
    const char *note = "    0.0000    MIDI Note ON     90 3c 40  ( C 3 )\n";
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    EXPECT_EQ(drained(),
        std::string("\nERROR SMF FILE: cannot write log.mid: disk full; the log has stopped\n") + note);
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    EXPECT_EQ(drained(), note);
    td::failFileWriteAfter(-1);
    extrasFinish();
    EXPECT_EQ(fileBytes("log.mid").size(), 26u); /* the ended empty track */
    EXPECT_EQ(gFailures, 1u);
}

/* the folder as it is, then what each SysEx received leaves in it */
TEST_F(InputTest, SyxFilesNumberedWholeOrNotAtAll)
{
    ASSERT_EQ(syxStart("plain.txt/x"), SyxCannotCreate);
    FILE *f = fopen("plain.txt", "w");
    fclose(f);
    EXPECT_EQ(syxStart("plain.txt"), SyxNotAFolder);
    ASSERT_EQ(syxStart("dumps"), SyxReady); /* created */
    for (const char *taken : {"dumps/0000.syx", "dumps/0002.syx"})
        fclose(fopen(taken, "w"));
#ifndef _WIN32
    /* a link planted under the next temporary name leads nowhere we write */
    ASSERT_EQ(symlink("../victim", "dumps/.0003.syx.tmp"), 0);
    fclose(fopen("victim", "w"));
#endif
    ASSERT_EQ(syxStart("dumps/"), SyxReady);
    const struct {
        std::vector<uint8_t> message;
        long failAfter; /* bytes the disk takes; -1 all */
        SyxSaved result;
        const char *name; /* the file it went to */
    } cases[] = {
        {{0xF0, 0x7D, 'h', 'e', 'l', 'l', 'o', 0xF7}, -1, SyxWritten, "dumps/0001.syx"},
        {{0xF0, 0x7D, 0x01}, -1, SyxNotSaved, ""},              /* the first piece of a longer one */
        {{0x02, 0x03, 0xF7}, -1, SyxNotSaved, ""},              /* the piece after it */
        {{0xF0, 0x41, 0xF7}, -1, SyxWritten, "dumps/0003.syx"}, /* 0002 is taken */
        {{0xF0, 0x42, 0x43, 0xF7}, 2, SyxFailed, "dumps/0004.syx"},
        {{0xF0, 0x44, 0xF7}, -1, SyxNotSaved, ""}, /* capture is off after a failure */
    };
    for (const auto &c : cases) {
        td::failFileWriteAfter(c.failAfter);
        EXPECT_EQ(syxSave(c.message.data(), (uint32_t)c.message.size()), c.result) << c.name;
        if (c.result == SyxWritten) {
            EXPECT_TRUE(fileBytes(c.name) == c.message) << c.name;
        }
        if (*c.name) {
            EXPECT_STREQ(syxLastName(), c.name);
        }
    }
    EXPECT_EQ(syxLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_FALSE(fileExists("dumps/0004.syx"));
    EXPECT_FALSE(fileExists("dumps/.0004.syx.tmp"));
    EXPECT_FALSE(fileExists("dumps/0005.syx"));
#ifndef _WIN32
    EXPECT_TRUE(fileBytes("victim").empty());
#endif
    syxStop();
}

} // namespace
