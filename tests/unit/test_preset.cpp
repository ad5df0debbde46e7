#include "frontend_fixture.h"

#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

#ifndef _WIN32
/* What a name is and holds, without following a link: compared before and
   after a refused save. */
std::string stateOf(const char *name)
{
    struct stat st;
    if (lstat(name, &st) != 0)
        return "missing";
    if (S_ISLNK(st.st_mode)) {
        char target[256];
        ssize_t n = readlink(name, target, sizeof target);
        return "link to " + std::string(target, n > 0 ? (size_t)n : 0);
    }
    if (!S_ISREG(st.st_mode))
        return "mode " + std::to_string(st.st_mode);
    std::ifstream f(name, std::ios::binary);
    return "file " + std::to_string(st.st_mode) + " " +
           std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}
#endif

Bytes record(uint8_t version, uint8_t mode, uint8_t channel, uint8_t base, const char *out, const char *in,
    const char *send)
{
    Bytes r(168, 0);
    r[0] = version;
    r[1] = mode;
    r[2] = channel;
    r[3] = base;
    r[4] = 0x7D;
    r[5] = r[6] = r[7] = 0xFF;
    memcpy(&r[8], out, strlen(out));
    memcpy(&r[72], in, strlen(in));
    memcpy(&r[136], send, strlen(send));
    return r;
}

class Preset : public FrontendTest {};

TEST_F(Preset, DefaultsSaveAsTheDocumentedRecord)
{
    strcpy(gMidiOutName, "Out A");
    strcpy(gMidiInName, "In B");
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 1); }), "");
    Bytes b = fileBytes("VOLTANIS.SET");
    ASSERT_EQ(b.size(), 168u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{0x06, 0x00, 0x00, 0x10, 0x7D, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(b, record(6, 0, 0, 16, "Out A", "In B", ""));
}

TEST_F(Preset, RoundTripRestoresEverySetting)
{
    ports({"Out A", "Out B"}, {"In A", "In B", "In C"});
    strcpy(gMidiOutName, "Out B");
    strcpy(gMidiInName, "In C");
    strcpy(gSendFileName, "song.syx");
    gMode = 3;
    gbBlockRealTime = 0;
    gChannel = 9;
    gNumBase = 10;
    const uint8_t id[4] = {0x00, 0x20, 0x33, 0xFF};
    memcpy(gIdStr, id, 4);
    ASSERT_EQ(savePreset(), 1);
    EXPECT_EQ(fileBytes("VOLTANIS.SET")[1], 0x83);

    resetProgramGlobals();
    goNumDevs = 2;
    giNumDevs = 3;
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPreset(), 1); }), "");
    EXPECT_EQ(gMode, 3);
    EXPECT_EQ(gbBlockRealTime, 0);
    EXPECT_EQ(gChannel, 9);
    EXPECT_EQ(gNumBase, 10);
    EXPECT_EQ(memcmp(gIdStr, id, 4), 0);
    EXPECT_EQ(goSelDev, 1u);
    EXPECT_EQ(giSelDev, 2u);
    EXPECT_STREQ(gMidiOutName, "Out B");
    EXPECT_STREQ(gMidiInName, "In C");
    EXPECT_STREQ(gSendFileName, "song.syx");
}

struct LoadCase {
    const char *what;
    std::vector<const char *> outs, ins;
    int failOutCapsAt; /* -1: none */
    Bytes file;        /* empty: no file at all */
    int result;
    std::string text;
    uint32_t outSel, inSel;
};

TEST_F(Preset, LoadAcceptsOrRejectsAsAWhole)
{
    const Bytes good = record(6, 0x02, 3, 16, "Out", "In", "x.mid");
    Bytes longer = good;
    longer.resize(200, 0xAA);
    Bytes v5 = good;
    v5[0] = 5;
    const LoadCase cases[] = {
        {"no file: no message", {"Out"}, {"In"}, -1, {}, 0, "", 7, 7},
        {"167 bytes", {"Out"}, {"In"}, -1, Bytes(good.begin(), good.end() - 1), 0, "disk read error\n", 7, 7},
        {"200 bytes whose first 168 are good", {"Out"}, {"In"}, -1, longer, 1, "", 0, 0},
        {"version 5", {"Out"}, {"In"}, -1, v5, 0, "ERROR: incompatible version, VOLTANIS.SET ignored\n", 7,
            7},
        {"OUT port missing", {"Other"}, {"In"}, -1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"IN port missing", {"Out"}, {"Other"}, -1, good, 0,
            "Preset ERROR: stored MIDI IN device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"both missing: only the OUT message", {"X"}, {"Y"}, -1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"no output ports at all", {}, {"In"}, -1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"case and trailing blanks differ", {"out", "Out "}, {"In"}, -1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"two OUT ports of that name: the preset cannot say which", {"A", "Out", "Out"}, {"In"}, -1, good, 0,
            "Preset ERROR: several MIDI OUT devices are named 'Out', VOLTANIS.SET ignored\n", 7, 7},
        {"two IN ports of that name", {"Out"}, {"In", "B", "In"}, -1, good, 0,
            "Preset ERROR: several MIDI IN devices are named 'In', VOLTANIS.SET ignored\n", 7, 7},
        {"a name several ports have, shown harmlessly", {"E\x1b]0;x\x07\xc2\x9b", "E\x1b]0;x\x07\xc2\x9b"},
            {"In"}, -1, record(6, 0x02, 3, 16, "E\x1b]0;x\x07\xc2\x9b", "In", "x.mid"), 0,
            "Preset ERROR: several MIDI OUT devices are named 'E?]0;x?\?\?', VOLTANIS.SET ignored\n", 7, 7},
        {"a failing query ends the search", {"A", "B", "Out"}, {"In"}, 1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
        {"a failing query after the port: the one found", {"Out", "B", "Out"}, {"In"}, 1, good, 1, "", 0, 0},
    };
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.what);
        startAfresh();
        ports(c.outs, c.ins);
        if (c.failOutCapsAt >= 0)
            td::fail(td::OutCaps, c.failOutCapsAt);
        if (!c.file.empty())
            writeFile("VOLTANIS.SET", c.file);
        goSelDev = giSelDev = 7;
        strcpy(gSendFileName, "");
        int result = -1;
        EXPECT_EQ(printed([&] { result = loadPreset(); }), c.text);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(goSelDev, c.outSel);
        EXPECT_EQ(giSelDev, c.inSel);
        if (c.result) {
            EXPECT_EQ(gMode, 2);
            EXPECT_EQ(gChannel, 3);
            EXPECT_STREQ(gSendFileName, "x.mid");
        } else {
            EXPECT_EQ(gMode, 0);
            EXPECT_EQ(gChannel, 0);
            EXPECT_STREQ(gSendFileName, "") << "a rejected file changes nothing";
        }
    }
}

/* A channel above 15 or a mode above 3 would change what is sent or show
   nothing ever: the record is refused as a whole, as one of another
   version.  The number base only changes how numbers read and is taken
   over as it is. */
TEST_F(Preset, ChannelOrModeOutOfRangeRefusesTheRecord)
{
    const char *channel = "ERROR: MIDI channel out of range, VOLTANIS.SET ignored\n";
    const char *mode = "ERROR: I/O mode out of range, VOLTANIS.SET ignored\n";
    const struct {
        uint8_t mode, channel, base;
        const char *text; /* "" when it loads */
    } rows[] = {
        {0x03, 15, 16, ""},
        {0x83, 0, 7, ""},
        {0x00, 16, 16, channel},
        {0x00, 0x7F, 16, channel},
        {0x04, 0, 16, mode},
        {0x85, 0, 16, mode},
        {0xFF, 0xFF, 10, channel},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << (int)r.mode << " channel " << (int)r.channel);
        startAfresh();
        ports({"Out"}, {"In"});
        writeFile("VOLTANIS.SET", record(6, r.mode, r.channel, r.base, "Out", "In", "x.mid"));
        int result = -1;
        EXPECT_EQ(printed([&] { result = loadPreset(); }), r.text);
        bool loads = !*r.text;
        EXPECT_EQ(result, loads ? 1 : 0);
        EXPECT_EQ(gMode, loads ? (r.mode & 0x7F) : 0);
        EXPECT_EQ(gChannel, loads ? r.channel : 0);
        EXPECT_EQ(gNumBase, loads ? r.base : 16);
        EXPECT_STREQ(gSendFileName, loads ? "x.mid" : "");
    }
}

TEST_F(Preset, NameFieldsWithoutTerminatorStayInsideTheirFields)
{
    ports({"Out"}, {"In"});
    Bytes full = record(6, 0, 0, 16, "Out", "In", "");
    memset(&full[136], 'z', 32); /* send file name fills its whole field */
    writeFile("VOLTANIS.SET", full);
    ASSERT_EQ(loadPreset(), 1);
    EXPECT_EQ(strlen(gSendFileName), 31u);

    Bytes noEnd = record(6, 0, 0, 16, "", "In", "");
    memset(&noEnd[8], 'O', 64); /* OUT name without terminator */
    writeFile("VOLTANIS.SET", noEnd);
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPreset(), 0); }),
        "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n");
}

/* The old preset stays whole and loadable when the new one cannot be
   written, and no temporary file is left behind. */
TEST_F(Preset, FailedWriteKeepsTheOldPreset)
{
    ports({"Out"}, {"In"});
    const Bytes old = record(6, 2, 5, 16, "Out", "In", "old.mid");
    writeFile("VOLTANIS.SET", old);
    strcpy(gMidiOutName, "Out");
    strcpy(gMidiInName, "In");
    td::failFileWriteAfter(100);
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 0); }), "disk write error\n");
    td::failFileWriteAfter(-1);
    EXPECT_EQ(fileBytes("VOLTANIS.SET"), old);
    EXPECT_TRUE(fileBytes("VOLTANIS.SET.tmp").empty());
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPreset(), 1); }), "");
    EXPECT_EQ(gChannel, 5);
}

/* A save replaces the old file whole; a temporary left by a save that was
   cut short, even a link planted under its name, is put aside first. */
TEST_F(Preset, SaveReplacesTheOldFileWhole)
{
    ports({"Out"}, {"In"});
    writeFile("VOLTANIS.SET", record(6, 0, 0, 16, "Old", "Old", ""));
    writeFile("victim", Bytes{'k', 'e', 'p', 't'});
#ifndef _WIN32
    ASSERT_EQ(symlink("victim", "VOLTANIS.SET.tmp"), 0);
#else
    writeFile("VOLTANIS.SET.tmp", Bytes(3, 0));
#endif
    strcpy(gMidiOutName, "Out");
    strcpy(gMidiInName, "In");
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 1); }), "");
    EXPECT_EQ(fileBytes("VOLTANIS.SET"), record(6, 0, 0, 16, "Out", "In", ""));
    EXPECT_EQ(fileBytes("victim"), (Bytes{'k', 'e', 'p', 't'}));
    EXPECT_TRUE(fileBytes("VOLTANIS.SET.tmp").empty());
}

#ifndef _WIN32
/* Only a regular file that may be written is replaced: whatever else is
   under the name stays as it was, and the save says why in one line. */
TEST_F(Preset, SaveRefusedWhereTheNameIsNoWritableFile)
{
    const Bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};
    const std::string link =
        "preset not saved in file VOLTANIS.SET: a symbolic link, never written through\n";
    const struct {
        const char *what;
        const char *made; /* shell command that makes it */
        std::string text;
    } rows[] = {
        {"a link to another file", "ln -s victim VOLTANIS.SET", link},
        {"a dangling link", "ln -s nowhere/new VOLTANIS.SET", link},
        {"a link to /dev/zero", "ln -s /dev/zero VOLTANIS.SET", link},
        {"a folder", "mkdir VOLTANIS.SET", "preset not saved in file VOLTANIS.SET: a folder, not a file\n"},
        {"a FIFO", "mkfifo VOLTANIS.SET", "preset not saved in file VOLTANIS.SET: not a regular file\n"},
        {"a read-only file", "cp victim VOLTANIS.SET && chmod a-w VOLTANIS.SET",
            "preset not saved in file VOLTANIS.SET: the file is read-only\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        startAfresh();
        writeFile("victim", victim);
        ASSERT_EQ(system(r.made), 0);
        std::string before = stateOf("VOLTANIS.SET");
        EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 0); }), r.text);
        EXPECT_EQ(stateOf("VOLTANIS.SET"), before);
        EXPECT_EQ(fileBytes("victim"), victim);
        EXPECT_NE(access("nowhere", F_OK), 0);
        EXPECT_NE(access("VOLTANIS.SET.tmp", F_OK), 0);
    }
}

/* A folder the preset cannot be written in: said, nothing left. */
TEST_F(Preset, SaveInAFolderThatCannotBeWrittenIsReported)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes in any folder";
    ASSERT_EQ(system("chmod a-w ."), 0);
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 0); }),
        "preset not saved in file VOLTANIS.SET: no permission\n");
    ASSERT_EQ(system("chmod u+w ."), 0);
    EXPECT_NE(access("VOLTANIS.SET", F_OK), 0);
}
#endif

TEST_F(Preset, StartUpWithAPresetSkipsTheQuestions)
{
    ports({"Out"}, {"Loop", "In"});
    writeFile("VOLTANIS.SET", record(6, 0x01, 0, 16, "Out", "In", ""));
    td::endOfInput(true);
    std::string text = printed([] { EXPECT_EQ(voltanisMain(), 0); });
    EXPECT_NE(text.find("Preset loaded:\nMIDI OUT: #0  Out\nMIDI IN:  #1  In   (change with CTRL-N)\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("Select MIDI"), std::string::npos);
    EXPECT_NE(text.find("\nVOLTANIS mode 1:type MIDI MSG - display BYTES (change"), std::string::npos);
}

TEST_F(Preset, CtrlPSavesAndConfirms)
{
    ports({"Out"}, {"In"});
    printed([] { statusReport(); });
    EXPECT_EQ(printed([] { typeKeys("N3\x10"); }), "N3preset saved in file VOLTANIS.SET\n");
    EXPECT_EQ(fileBytes("VOLTANIS.SET"), record(6, 0, 0, 16, "Out", "In", ""));
}

TEST_F(Preset, PortsChosenBeforehandStayAndTheOtherSettingsLoad)
{
    ports({"Out", "Given"}, {"In", "Given"});
    writeFile("VOLTANIS.SET", record(6, 0x02, 3, 10, "Gone", "In", "file.syx"));
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPreset(), 0); }),
        "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n");
    goSelDev = 1;
    giSelDev = 1;
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPresetKeeping(1, 0), 1); }), "");
    EXPECT_EQ(goSelDev, 1u);
    EXPECT_EQ(giSelDev, 0u); /* the stored "In" */
    EXPECT_EQ(gMode, 2);
    EXPECT_EQ(gChannel, 3);
    EXPECT_EQ(gNumBase, 10);
    EXPECT_STREQ(gSendFileName, "file.syx");
    giSelDev = 1;
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPresetKeeping(1, 1), 1); }), "");
    EXPECT_EQ(giSelDev, 1u);
}

} // namespace
