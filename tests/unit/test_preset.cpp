#include "frontend_fixture.h"

#include <fstream>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes readFile(const char *name)
{
    std::ifstream f(name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void writeFile(const char *name, const Bytes &b)
{
    std::ofstream f(name, std::ios::binary);
    f.write((const char *)b.data(), (std::streamsize)b.size());
}

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

class Preset : public FrontendTest {
protected:
    void ports(std::vector<const char *> outs, std::vector<const char *> ins)
    {
        for (const char *n : outs)
            td::addOutPort(n);
        for (const char *n : ins)
            td::addInPort(n);
        goNumDevs = midiOutGetNumDevs();
        giNumDevs = midiInGetNumDevs();
    }
};

TEST_F(Preset, DefaultsSaveAsTheDocumentedRecord)
{
    strcpy(gMidiOutName, "Out A");
    strcpy(gMidiInName, "In B");
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 1); }), "");
    Bytes b = readFile("VOLTANIS.SET");
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
    EXPECT_EQ(readFile("VOLTANIS.SET")[1], 0x83);

    resetSettings();
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
        {"two ports of that name: the lower number wins", {"A", "Out", "Out"}, {"B", "In", "In"}, -1, good, 1,
            "", 1, 1},
        {"a failing query ends the search", {"A", "B", "Out"}, {"In"}, 1, good, 0,
            "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n", 7, 7},
    };
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
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

TEST_F(Preset, OutOfRangeValuesAreTakenOverUnchanged)
{
    ports({"Out"}, {"In"});
    writeFile("VOLTANIS.SET", record(6, 0x85, 20, 7, "Out", "In", ""));
    ASSERT_EQ(loadPreset(), 1);
    EXPECT_EQ(gMode, 5);
    EXPECT_EQ(gbBlockRealTime, 0);
    EXPECT_EQ(gChannel, 20);
    EXPECT_EQ(gNumBase, 7);
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

TEST_F(Preset, FailedWriteLeavesNothingLoadable)
{
    ports({"Out"}, {"In"});
    strcpy(gMidiOutName, "Out");
    strcpy(gMidiInName, "In");
    td::failFileWriteAfter(100);
    EXPECT_EQ(printed([] { EXPECT_EQ(savePreset(), 0); }), "disk write error\n");
    td::failFileWriteAfter(-1);
    EXPECT_EQ(printed([] { EXPECT_EQ(loadPreset(), 0); }), "disk read error\n");
}

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
    EXPECT_EQ(readFile("VOLTANIS.SET"), record(6, 0, 0, 16, "Out", "In", ""));
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
