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
        formatTimeColumn(c.us, kNoLineAbove, column, sizeof column);
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
            "   17.3494^   SysEx( 7d ) hi EOX\n"},
        {Show, 0, "   17.3504    SysEx( 7d ) hi EOX\n"}, /* its own time, not the hand-over's */
        {Send, 0, ""}, {Wait, 100, ""}, {Sysex, 0, ""}, {Wait, 100, ""},
        {Note, 0x43, ""}, /* the reply arrived first; marked: earlier than the line above */
        {Show, 0,
            "   22.3506    MIDI Note ON     90 43 40  ( G 3 )\n"
            "   22.3505^   SysEx( 7d ) hi EOX  (+0.1 ms after send)\n"},
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

/* The log in a real file through the display's hooks, and the names it
   refuses: an existing FILE is kept without force, and even with force
   never replaced when it is a link, a folder, read-only or held by
   another open (another run's log or record file); this run's own files
   are never the log. */
TEST_F(TimedDisplay, SmfLogInAFile)
{
    const std::string tooLong(5000, 'x');
    const struct {
        std::string name;
        const char *there; /* what is at the name before */
        int force;
        const char *syx; /* the --syx folder, or null */
        SmfStart start;
    } cases[] = {
        {"log.mid", "", 0, nullptr, SmfReady},
        {"log.mid", "file", 0, nullptr, SmfExists},
        {"log.mid", "file", 1, nullptr, SmfReady},
        {"log.mid", "folder", 1, nullptr, SmfNotAFile},
#ifndef _WIN32
        {"log.mid", "link", 1, nullptr, SmfNotAFile},
#endif
        {"log.mid", "read-only", 1, nullptr, SmfReadOnly},
        {"log.mid", "held", 1, nullptr, SmfInUse},
        {"VOLTANIS.SET", "file", 1, nullptr, SmfPresetFile},
        {"voltanis.rec", "", 0, nullptr, SmfRecordFile},
        {"dumps/../VOLTANIS.SET", "", 0, nullptr, SmfPresetFile},
        {"dumps/VOLTANIS.SET", "", 0, nullptr, SmfReady}, /* another folder's */
        {"dumps/0042.syx", "", 0, "dumps", SmfCaptureName},
        {"./dumps/7.SYX", "", 0, "dumps/", SmfCaptureName},
        {"dumps/.0001.syx.tmp", "", 1, "dumps", SmfCaptureName},
        {"dumps/take.mid", "", 0, "dumps", SmfReady},
        {"0042.syx", "", 0, "dumps", SmfReady},
        {"", "", 0, nullptr, SmfNoName},
        {tooLong, "", 0, nullptr, SmfNameTooLong},
        {"no/such/log.mid", "", 0, nullptr, SmfCannotCreate},
    };
    const Bytes old = {'o', 'l', 'd'};
    const Bytes logged = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0xE7, 0x28, 'M', 'T', 'r', 'k', 0, 0, 0, 15,
        0x00, 0xFF, 0x01, 0x00, 0x0A, 0x90, 0x3C, 0x40, 0x0A, 0x3C, 0x41, 0x00, 0xFF, 0x2F, 0x00};
    ASSERT_TRUE(CreateDirectoryA("dumps", NULL));
    for (const auto &c : cases) {
        const char *name = c.name.c_str();
        const std::string there = c.there;
        SCOPED_TRACE(c.name.substr(0, 40) + " " + there + (c.force ? " with force" : ""));
        const bool kept = there == "file" || there == "read-only" || there == "held";
        if (kept)
            writeFile(name, old);
        bool made = (there != "read-only" || chmod(name, 0444) == 0) &&
                    (there != "folder" || CreateDirectoryA(name, NULL));
#ifndef _WIN32
        made = made && (there != "link" || symlink("other", name) == 0);
#endif
        HANDLE holder = there != "held" ? INVALID_HANDLE_VALUE
                                        : CreateFileA(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_TRUE(made && (there != "held" || holder != INVALID_HANDLE_VALUE));
        EXPECT_EQ(smfLogOn(name, c.force, c.syx), c.start);
        EXPECT_TRUE(c.start != SmfCannotCreate || smfStartError() == ERROR_PATH_NOT_FOUND);
        if (c.start == SmfReady) {
            td::advanceClock(10000);
            ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
            td::advanceClock(10000);
            ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x41));
            drained();
        }
        extrasFinish();
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        EXPECT_TRUE(c.start == SmfReady ? fileBytes(name) == logged
                    : kept              ? fileBytes(name) == old
                                        : !there.empty() || !fileExists(name));
        chmod(name, 0644);
        remove(name);
        ASSERT_EQ(system("rm -rf log.mid"), 0); /* one name: the Windows build's rm takes one */
        remove("other");
        extrasSetOrigin(vtClockUs());
    }
}

/* A write that fails says so once, in a line of its own; the log stops and
   the file stays as its latest update left it. */
TEST_F(TimedDisplay, SmfWriteFailureStopsTheLog)
{
    ASSERT_EQ(smfLogOn("log.mid", 0, nullptr), SmfReady);
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

/* What the folder holds at the start: the number the run goes on from,
   the digits of its names, and the start refused when the folder cannot
   be used (a folder the start made is then gone again). */
TEST_F(InputTest, SyxStartGoesOnAfterTheHighestNumber)
{
    const std::string other = ".syx-" + std::to_string(GetCurrentProcessId() + 1) + ".tmp";
    const std::string mine = ".syx-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    const struct {
        const char *what;
        std::vector<std::string> there; /* in d/ ("/" at the end: a folder) */
        SyxStart start;
        std::vector<const char *> saved; /* the names two saves take; "" a failure */
    } rows[] = {
        {"no folder: made", {}, SyxReady, {"d/0000.syx", "d/0001.syx"}},
        {"gaps are never filled", {"0000.syx", "0002.syx", "0004.syx"}, SyxReady,
            {"d/0005.syx", "d/0006.syx"}},
        {"other names do not count", {"notes.txt", "12ab.syx", "7.SYX", "0100.syx.tmp", other}, SyxReady,
            {"d/0008.syx", "d/0009.syx"}},
        {"wider names widen all", {"00042.syx", "0043.syx"}, SyxReady, {"d/00044.syx", "d/00045.syx"}},
        {"after 9999, five digits from the start", {"9999.syx"}, SyxReady, {"d/10000.syx", "d/10001.syx"}},
        {"the last number of four digits, then none", {"9998.syx"}, SyxReady, {"d/9999.syx", ""}},
        {"no number left after the highest", {"999999999999999999.syx"}, SyxNoNumberLeft, {}},
        {"a folder in the way of the temporary file", {mine + "/"}, SyxCannotWrite, {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.there.empty()) {
            ASSERT_TRUE(CreateDirectoryA("d", NULL));
        }
        for (const std::string &name : r.there) {
            std::string path = "d/" + name;
            if (name.back() == '/') {
                ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL));
            } else {
                writeFile(path.c_str(), {});
            }
        }
        ASSERT_EQ(syxStart("d"), r.start);
        for (const char *name : r.saved) {
            const Bytes m = {0xF0, 0x7D, (uint8_t)strlen(name), 0xF7};
            EXPECT_EQ(syxSave(m.data(), (uint32_t)m.size()), *name ? SyxWritten : SyxFailed) << name;
            if (*name) {
                EXPECT_TRUE(fileBytes(name) == m) << name;
            } else {
                EXPECT_EQ(syxLastError(), (DWORD)SYX_NO_NUMBER_LEFT);
            }
        }
        syxStop();
        EXPECT_EQ(fileExists("d"), r.start == SyxReady || !r.there.empty())
            << "only what the start made goes";
        if (!r.there.empty() && r.there.back() == other) {
            EXPECT_TRUE(fileExists(("d/" + other).c_str()))
                << "another run's temporary file is never touched";
        }
        EXPECT_FALSE(fileExists(("d/" + mine).c_str()) && r.start == SyxReady);
        ASSERT_EQ(system("rm -rf d"), 0);
    }
    ASSERT_EQ(syxStart("plain.txt/x"), SyxCannotCreate);
    writeFile("plain.txt", {});
    EXPECT_EQ(syxStart("plain.txt"), SyxNotAFolder);
    ASSERT_EQ(syxStart("made"), SyxReady);
    syxUndoStart(); /* a run that does not go ahead leaves no folder behind */
    EXPECT_FALSE(fileExists("made"));
}

/* Step by step, what each SysEx received (whole, in pieces, cut off)
   leaves in the folder: a file under the next number when it ended whole,
   never a file of a part, and numbers another run took meanwhile passed
   over to after the highest. */
TEST_F(InputTest, SyxFilesWholeOrNotAtAll)
{
    enum Op { Save, Cut, Plant, DiskTakes };
    const struct {
        Op op;
        Bytes bytes;     /* Save: the piece; Plant: the name */
        SyxSaved result; /* Save */
        const char *name;
        Bytes file; /* what it holds */
    } steps[] = {
        {Save, {0xF0, 0x7D, 'h', 'i', 0xF7}, SyxWritten, "d/0004.syx", {0xF0, 0x7D, 'h', 'i', 0xF7}},
        {Save, {0xF0, 0x7D, 0x01}, SyxNotSaved, "", {}}, /* the first piece of a longer one */
        {Save, {0x02, 0x03}, SyxNotSaved, "", {}},
        {Save, {0x04, 0xF7}, SyxWritten, "d/0005.syx", {0xF0, 0x7D, 0x01, 0x02, 0x03, 0x04, 0xF7}},
        {Save, {0xF0, 0x7D, 0x05}, SyxNotSaved, "", {}}, {Cut, {}, SyxNotSaved, "", {}},
        {Save, {0x06, 0xF7}, SyxNotSaved, "", {}}, /* the rest of no message begun */
        {Save, {0xF0, 0x7D, 0x07}, SyxNotSaved, "", {}},
        {Save, {0xF0, 0x41, 0xF7}, SyxWritten, "d/0006.syx",
            {0xF0, 0x41, 0xF7}}, /* the one before never ended */
        {Plant, {'0', '0', '0', '7'}, SyxNotSaved, "", {}},
        {Plant, {'0', '0', '1', '1'}, SyxNotSaved, "", {}},
        {Save, {0xF0, 0x42, 0xF7}, SyxWritten, "d/0012.syx", {0xF0, 0x42, 0xF7}}, /* taken meanwhile */
        {DiskTakes, {}, SyxNotSaved, "", {}}, {Save, {0xF0, 0x43, 0x44, 0xF7}, SyxFailed, "d/0013.syx", {}},
        {Save, {0xF0, 0x45, 0xF7}, SyxNotSaved, "", {}}, /* capture is off after a failure */
    };
    ASSERT_TRUE(CreateDirectoryA("d", NULL));
    writeFile("d/0003.syx", {});
    std::string mine = "d/.syx-" + std::to_string(GetCurrentProcessId()) + ".tmp";
#ifndef _WIN32
    /* a link planted under this run's temporary name (a leftover) leads
       nowhere written */
    ASSERT_EQ(symlink("../victim", mine.c_str()), 0);
    writeFile("victim", {});
#endif
    ASSERT_EQ(syxStart("d/"), SyxReady);
    for (const auto &s : steps) {
        std::string planted = "d/" + std::string(s.bytes.begin(), s.bytes.end()) + ".syx";
        switch (s.op) {
        case Save: EXPECT_EQ(syxSave(s.bytes.data(), (uint32_t)s.bytes.size()), s.result) << s.name; break;
        case Cut: syxCut(); break;
        case Plant: writeFile(planted.c_str(), {}); break;
        case DiskTakes: td::failFileWriteAfter(2); break;
        }
        if (s.result == SyxWritten) {
            EXPECT_TRUE(fileBytes(s.name) == s.file) << s.name;
        }
        if (*s.name) {
            EXPECT_STREQ(syxLastName(), s.name);
        }
    }
    td::failFileWriteAfter(-1);
    EXPECT_EQ(syxLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_FALSE(fileExists("d/0013.syx"));
    EXPECT_FALSE(fileExists(mine.c_str())) << "nothing left behind";
    syxStop();
#ifndef _WIN32
    EXPECT_TRUE(fileBytes("victim").empty());
#endif
}

} // namespace
