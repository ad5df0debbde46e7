/* Ports that vanish and come back, and several inputs at once, with the
   double's scripted ports: the lines that tell of them, a port followed
   by its name (never to where it was), what is cut and what goes on. */
#include "extras/extras.h"
#include "extras/portnews.h"
#include "test_input_fixture.h"

#include <algorithm>

namespace {

int count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

class PortsFollow : public InputTest {
protected:
    void SetUp() override
    {
        InputTest::SetUp();
        extrasSetOrigin(0);
    }
    void TearDown() override
    {
        extrasFinish();
        InputTest::TearDown();
    }

    /* both directions of the port at `name`, opened as the status report
       opens them */
    static void openBoth()
    {
        ASSERT_EQ(midiOutOpen(&gOutHandle, 0, 0, 0, 0), (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0,
                      CALLBACK_FUNCTION | MIDI_IO_STATUS | MIDI_IO_VT_ARRIVAL_US),
            (MMRESULT)MMSYSERR_NOERROR);
        inputSetup();
    }

    /* one idle pass of the main loop: the ports looked at, what came shown */
    static std::string pass()
    {
        return printed([] {
            timedWork();
            while (showOneEntry() || receiveIdleChecks()) {
            }
        });
    }

    static MMRESULT send(const Bytes &b)
    {
        MIDIHDR h;
        memset(&h, 0, sizeof h);
        h.lpData = (LPSTR)b.data();
        h.dwBufferLength = h.dwBytesRecorded = (DWORD)b.size();
        midiOutPrepareHeader(gOutHandle, &h, sizeof h);
        MMRESULT r = midiOutLongMsg(gOutHandle, &h, sizeof h);
        midiOutUnprepareHeader(gOutHandle, &h, sizeof h);
        return r;
    }
};

/* Output, input or both vanish and come back at another address, told by
   the port service or found by a look once a second.  While gone a send
   fails and nothing reaches the port that took the address; after the
   return what is sent and received goes through. */
TEST_F(PortsFollow, VanishAndReturnUnderAnotherAddress)
{
    const struct {
        const char *what;
        bool out, in, notifies;
    } cases[] = {
        {"output", true, false, true},
        {"input", false, true, true},
        {"both", true, true, true},
        {"both, nothing told", true, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        td::install();
        td::portsNotify(c.notifies);
        td::addPortAt("Synth", 20);
        td::addPortAt("Stays", 21);
        ASSERT_EQ(midiOutOpen(&gOutHandle, c.out ? 0 : 1, 0, 0, 0), (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_EQ(midiInOpen(&gInHandle, c.in ? 0 : 1, (DWORD_PTR)midiCallback, 0,
                      CALLBACK_FUNCTION | MIDI_IO_STATUS | MIDI_IO_VT_ARRIVAL_US),
            (MMRESULT)MMSYSERR_NOERROR);
        inputSetup();
        td::removePort("Synth");
        td::addPortAt("Other", 20); /* the address taken by another program */
        std::string gone = pass();
        EXPECT_EQ(count(gone, "MIDI OUT port Synth is gone"), c.out ? 1 : 0) << gone;
        EXPECT_EQ(count(gone, "MIDI IN port Synth is gone"), c.in ? 1 : 0) << gone;
        EXPECT_NE(gone.find("CTRL-N"), std::string::npos);
        td::clearSent();
        EXPECT_EQ(send({0x90, 0x3C, 0x40}) != MMSYSERR_NOERROR, c.out);
        EXPECT_EQ(td::sent().size(), c.out ? 0u : 1u) << "nothing to the port now at the address";
        EXPECT_EQ(pass(), "") << "the failed send looked again, and found nothing";

        /* a line a second for each port; unannounced, a look a second */
        td::advanceClock(c.notifies ? 1000000 : 500000);
        td::addPortAt("Synth", 33);
        std::string back = pass();
        if (!c.notifies) {
            EXPECT_EQ(back.find("is back"), std::string::npos) << "not looked for yet";
            td::advanceClock(600000);
            back = pass();
        }
        EXPECT_EQ(count(back, "port Synth is back (at 33:0) and connected again"), (c.out ? 1 : 0) + (c.in ? 1 : 0))
            << back;
        td::clearSent();
        EXPECT_EQ(send({0x90, 0x3C, 0x41}), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(td::sent().size(), 1u);
        ASSERT_TRUE(td::deliverBytes({0x90, 0x40, 0x7F}));
        EXPECT_NE(pass().find("MIDI Note ON     90 40 7f"), std::string::npos);
        extrasFinish();
        midiOutClose(gOutHandle);
        inputStop();
        gOutHandle = 0;
        gInHandle = 0;
    }
}

/* Two ports take the name: the one at the lower address is taken, and the
   line says which. */
TEST_F(PortsFollow, OfTwoPortsOfTheNameTheLowerAddressWins)
{
    td::addPortAt("Synth", 20);
    openBoth();
    td::removePort("Synth");
    pass();
    td::advanceClock(1000000);
    td::addPortAt("Synth", 41);
    td::addPortAt("Synth", 40);
    std::string back = pass();
    EXPECT_EQ(count(back, "is back (at 40:0, the first of 2 ports of that name)"), 2) << back;
}

/* A SysEx the port was sending when it went is shown cut off, said in the
   line, and logged as cut with a marker after it; what came before it in
   full. */
TEST_F(PortsFollow, VanishInTheMiddleOfASysex)
{
    td::addPortAt("Synth", 20);
    openBoth();
    ASSERT_EQ(smfLogOn("log.mid", 0, nullptr), SmfReady);
    ASSERT_TRUE(td::deliverBytes({0x90, 0x3C, 0x40, 0xF0, 0x7D, 'a', 'b'}));
    td::removePort("Synth");
    std::string gone = pass();
    size_t note = gone.find("MIDI Note ON"), cut = gone.find("SysEx( 7d ) ab (cut off)"),
           line = gone.find("MIDI IN port Synth is gone, a SysEx it was sending cut off");
    ASSERT_NE(note, std::string::npos) << gone;
    ASSERT_NE(cut, std::string::npos) << gone;
    ASSERT_NE(line, std::string::npos) << gone;
    EXPECT_TRUE(note < cut && cut < line);
    td::advanceClock(1000000);
    td::addPortAt("Synth", 30);
    pass();
    extrasFinish();
    const Bytes log = fileBytes("log.mid");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("MIDI IN port gone: Synth"), std::string::npos);
    EXPECT_NE(text.find("MIDI IN port back: Synth"), std::string::npos);
    EXPECT_LT(text.find("port gone"), text.find("port back"));
}

/* A port that goes and comes back 100 times a second: a line a second for
   each direction and a count of the rest, and it works after. */
TEST_F(PortsFollow, FlappingIsToldOnceASecond)
{
    td::addPortAt("Synth", 20);
    openBoth();
    std::string all;
    for (int i = 0; i < 100; i++) {
        td::removePort("Synth");
        all += pass();
        td::addPortAt("Synth", 100 + i);
        all += pass();
        td::advanceClock(10000);
    }
    td::advanceClock(1000000);
    all += pass();
    EXPECT_LE(count(all, "\n"), 4 * 4) << all;
    EXPECT_EQ(count(all, "MIDI OUT port Synth: 199 more changes in the last second; it is back now"), 1) << all;
    EXPECT_EQ(count(all, "MIDI IN port Synth: 199 more changes in the last second; it is back now"), 1) << all;
    ASSERT_TRUE(td::deliverBytes({0x90, 0x40, 0x7F}));
    EXPECT_NE(pass().find("MIDI Note ON"), std::string::npos);
}

/* Ports that appear say nothing, however many; the lists have them. */
TEST_F(PortsFollow, TwoHundredPortsAppearingSayNothing)
{
    td::addPortAt("Synth", 20);
    openBoth();
    for (int i = 0; i < 200; i++)
        td::addPortAt(("Port " + std::to_string(i)).c_str(), 1000 + i);
    EXPECT_EQ(pass(), "");
    EXPECT_EQ(midiInGetNumDevs(), 201u);
}

/* Two inputs merged: each line tagged with its port; a SysEx of one that
   comes in pieces stays whole while the other sends notes, which wait and
   come after it, in the record file too. */
TEST_F(PortsFollow, MergedInputsTagTheirLinesAndNeverSplitASysex)
{
    td::addInPort("Keys");
    td::addInPort("Drum machine");
    const UINT second = 1;
    ASSERT_EQ(vtMidiInAlso(&second, 1), 1);
    ASSERT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0,
                  CALLBACK_FUNCTION | MIDI_IO_STATUS | MIDI_IO_VT_ARRIVAL_US),
        (MMRESULT)MMSYSERR_NOERROR);
    inputSetup();
    ASSERT_EQ(vtMidiInSources(), 2);
    printed([] { StartRecReceive(); });
    ASSERT_TRUE(td::deliverBytesFrom("Keys", {0xF0, 0x7D, 'a'}));
    ASSERT_TRUE(td::deliverBytesFrom("Drum machine", {0x99, 0x24, 0x64, 0xF0, 0x7D, 'z', 0xF7}));
    ASSERT_TRUE(td::deliverBytesFrom("Keys", {'b', 0xF7, 0x90, 0x3C, 0x40}));
    std::string shown = pass();
    const char *lines[] = {
        "1:Keys       SysEx( 7d ) ab EOX",
        "2:Drum mac   MIDI Note ON     99 24 64",
        "2:Drum mac   SysEx( 7d ) z EOX",
        "1:Keys       MIDI Note ON     90 3c 40",
    };
    for (const char *l : lines)
        EXPECT_NE(shown.find(l), std::string::npos) << l << " in\n" << shown;
    EXPECT_STREQ(receivedSourceName(), "Drum machine") << "the message taken last";
    printed([] { PauseRecReceive(); });
    inputStop();
    gInHandle = 0;
    printed(closeRecFile);
    const Bytes rec = fileBytes("VOLTANIS.REC");
    const Bytes whole = {0xF0, 0x7D, 'a', 'b', 0xF7};
    EXPECT_NE(std::search(rec.begin(), rec.end(), whole.begin(), whole.end()), rec.end()) << "one piece";
}

/* The tag: a number, eight characters of the name as shown, one width. */
TEST(SourceTag, FixedWidthAndShownAsNamesAre)
{
    const struct {
        int number;
        const char *name, *tag;
    } cases[] = {
        {1, "Keys", "1:Keys     "},
        {2, "Drum machine", "2:Drum mac "},
        {3, "Bo\x1b[2Jx", "3:Bo?[2Jx  "},
        {4, "\xc3\xa9t\xc3\xa9 synth", "4:\xc3\xa9t\xc3\xa9 synt "},
        {0, "", "?:         "},
    };
    for (const auto &c : cases) {
        char tag[kSourceTagSize];
        formatSourceTag(c.number, c.name, tag);
        EXPECT_STREQ(tag, c.tag);
    }
}

} // namespace
