/*
 * What the display says and shows with -x and the filters: the filters'
 * kinds and channels, and received messages through the real capture and
 * display, where the explanation ends a line of the text display, a
 * hidden clock tells its tempo, and the filters hide a message from the
 * screen but never from the record file or the MIDI file log.
 */
#include "extras/filters.h"
#include "tools_fixture.h"

#include <algorithm>

namespace {

/* what the filter says of each of these messages */
const uint8_t kStatuses[] = {0x90, 0x80, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xB9, 0xF0, 0xF7, 0xF1, 0xF2, 0xF3,
    0xF6, 0xF8, 0xFA, 0xFE, 0xFF, 0xF9};

TEST(Filters, KindsAndChannelsAgainstMessages)
{
    const struct {
        const char *hide, *only, *channels;
        const char *verdicts; /* per status above: u as usual, s shown, h hidden */
    } rows[] = {
        {"clock,sense", "", "", "uuuuuuuuuuuuuuhuhuu"},
        {"note,sysex,transport", "", "", "hhuuuuuuhhuuuuuhuuu"},
        {"", "note", "", "sshhhhhhhhhhhhhhhhh"},
        {"", "clock", "", "hhhhhhhhhhhhhhshhhh"},
        {"", "cc,mtc,spp,song,tune,reset", "", "hhhshhhshhsssshhhsh"},
        {"", "poly,program,pressure,bend", "", "hhshssshhhhhhhhhhhh"},
        {"", "", "1,10", "uuuuuuuuuuuuuuuuuuu"},
        {"", "", "2-16", "hhhhhhhuuuuuuuuuuuu"},
        {"", "cc", "10", "hhhhhhhshhhhhhhhhhh"},
        {"sense", "", "10", "hhhhhhhuuuuuuuuuhuu"},
    };
    for (const auto &r : rows) {
        ViewFilter f;
        std::string bad;
        ASSERT_TRUE(!*r.hide || parseKinds(r.hide, &f.hide, &bad)) << r.hide;
        ASSERT_TRUE(!*r.only || parseKinds(r.only, &f.only, &bad)) << r.only;
        ASSERT_TRUE(!*r.channels || parseChannels(r.channels, &f.channels)) << r.channels;
        std::string got;
        for (uint8_t s : kStatuses) {
            FilterVerdict v = filterVerdict(f, s);
            got += v == FilterAsUsual ? 'u' : v == FilterShows ? 's' : 'h';
        }
        EXPECT_EQ(got, r.verdicts) << r.hide << " | " << r.only << " | " << r.channels;
    }
}

TEST(Filters, ListsOfKindsAndChannels)
{
    const struct {
        const char *list;
        bool kinds;
        uint32_t bits; /* 0: refused */
        const char *bad;
    } rows[] = {
        {"note,cc", true, 1u << KindNote | 1u << KindCc, ""},
        {"transport,reset,sysex", true, 1u << KindTransport | 1u << KindReset | 1u << KindSysex, ""},
        {"", true, 0, ""},
        {"note,,cc", true, 0, ""},
        {"notes", true, 0, "notes"},
        {"1,10", false, 0x0201, ""},
        {"1-4", false, 0x000F, ""},
        {"16,01,3-3", false, 0x8005, ""},
        {"", false, 0, ""},
        {"4-1", false, 0, ""},
        {"1-", false, 0, ""},
        {"001", false, 0, ""},
        {"a", false, 0, ""},
    };
    for (const auto &r : rows) {
        uint32_t kinds = 0;
        uint16_t channels = 0;
        std::string bad;
        bool ok = r.kinds ? parseKinds(r.list, &kinds, &bad) : parseChannels(r.list, &channels);
        EXPECT_EQ(ok, r.bits != 0) << r.list;
        if (ok) {
            EXPECT_EQ(r.kinds ? kinds : channels, r.bits) << r.list;
        } else if (r.kinds) {
            EXPECT_EQ(bad, r.bad) << r.list;
        }
    }
}

/* received messages with the ports of the double open, arrival times on
   its clock */
class ViewDisplay : public ToolsTest {
protected:
    static void deliver(const Bytes &m)
    {
        if (m[0] == 0xF0) {
            ASSERT_TRUE(td::deliverLong(m));
        } else if (m[0] < 0x80) {
            ASSERT_TRUE(td::deliver(MIM_ERROR, m[0]));
        } else {
            ASSERT_TRUE(td::deliverShort(m[0], m.size() > 1 ? m[1] : 0, m.size() > 2 ? m[2] : 0));
        }
    }

    static ViewFilter filter(const char *hide, const char *only, const char *channels)
    {
        ViewFilter f;
        std::string bad;
        EXPECT_TRUE(!*hide || parseKinds(hide, &f.hide, &bad));
        EXPECT_TRUE(!*only || parseKinds(only, &f.only, &bad));
        EXPECT_TRUE(!*channels || parseChannels(channels, &f.channels));
        return f;
    }
};

const Bytes kIdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

/* The explanation after what the line shows without it, the latency of -t
   included; the byte display as it is. */
TEST_F(ViewDisplay, TheExplanationEndsALineOfTheTextDisplay)
{
    explainOn();
    const struct {
        int32_t mode;
        uint8_t base;
        Bytes message;
        const char *shown;
    } rows[] = {
        {0, 16, {0xB0, 0x07, 0x64}, "  Control Change   b0  7 64  ; ch 1 Volume = 100\n"},
        {2, 10, {0xB0, 0x07, 0x64}, "  Control Change   176   7 100  ; ch 1 Volume = 100\n"},
        {0, 16, {0x90, 0x3C, 0x40}, "  MIDI Note ON     90 3c 40  ( C 3 )  ; ch 1 velocity 64\n"},
        {0, 16, kIdentityRequest,
            "  SysEx( 7e )  \\7f  \\6  \\1  EOX  ; Universal Non-Real Time, device 7f (all): Identity "
            "Request\n"},
        {0, 16, {0x05}, "  wild byte      5\n"},
        {0, 16, {0xF9}, ""},
        {1, 16, {0xB0, 0x07, 0x64}, "-b0 7 64 "},
        {3, 10, kIdentityRequest, "-240 126 127 6 1 247 "},
    };
    for (const auto &r : rows) {
        gMode = r.mode;
        gNumBase = r.base;
        deliver(r.message);
        EXPECT_EQ(drained(), r.shown);
    }
    gMode = 0;
    gNumBase = 16;
    timestampsOn();
    td::advanceClock(1000000);
    sendMidiByte(0xFE);
    deliver({0xC0, 0x05});
    EXPECT_EQ(drained(), "    1.0000    Program Change   c0  5  (+0.0 ms after send)  ; ch 1 program 5\n");
}

/* A clock at 120 BPM: while CTRL-B hides it, one line once its tempo is
   known; shown, each of its lines says the tempo. */
TEST_F(ViewDisplay, AHiddenClockSaysItsTempoOnce)
{
    explainOn();
    std::string shown;
    for (int i = 0; i < 480; i++) {
        td::advanceClock(i % 3 == 2 ? 20834 : 20833);
        ASSERT_TRUE(td::deliverShort(0xF8));
        shown += drained();
    }
    EXPECT_EQ(shown, "  ; Timing Clock at 120.0 BPM\n");
    gbBlockRealTime = 0;
    td::advanceClock(20833);
    ASSERT_TRUE(td::deliverShort(0xF8));
    EXPECT_EQ(drained(), "  Timing Clock   f8  ; 120.0 BPM\n");
}

/* What each filter lets through in the text and the byte display; what it
   hid is counted at the exit prompt, and kept in the record file and the
   MIDI file log all the same. */
TEST_F(ViewDisplay, FiltersHideFromTheScreenOnly)
{
    const struct {
        const char *hide, *only, *channels;
        int32_t mode;
        const char *shown;
        const char *counted;
    } rows[] = {
        {"note", "", "", 0,
            "  Control Change   b0  7 64\n  SysEx( 7e )  \\7f  \\6  \\1  EOX\n  MIDI Start     fa\n",
            "the filters hid 2 messages\n"},
        {"", "clock", "", 0, "  Timing Clock   f8\n", "the filters hid 5 messages\n"},
        {"", "", "2", 0,
            "  MIDI Note ON     91 3d 40  ( C# 3 )\n  SysEx( 7e )  \\7f  \\6  \\1  EOX\n  MIDI Start     "
            "fa\n",
            "the filters hid 2 messages\n"},
        {"sysex,transport", "", "", 1, "-90 3c 40 -b0 7 64 -91 3d 40 ", "the filters hid 2 messages\n"},
        {"", "sysex", "", 3, "-f0 7e 7f 6 1 f7 ", "the filters hid 4 messages\n"},
        {"clock", "", "", 0,
            "  MIDI Note ON     90 3c 40  ( C 3 )\n  Control Change   b0  7 64\n"
            "  MIDI Note ON     91 3d 40  ( C# 3 )\n  SysEx( 7e )  \\7f  \\6  \\1  EOX\n  MIDI Start     "
            "fa\n",
            ""}, /* a clock CTRL-B hides anyway is not counted */
    };
    const Bytes received[] = {
        {0x90, 0x3C, 0x40}, {0xB0, 0x07, 0x64}, {0xF8}, {0x91, 0x3D, 0x40}, kIdentityRequest, {0xFA}};
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.hide) + "|" + r.only + "|" + r.channels);
        ViewFilter f = filter(r.hide, r.only, r.channels);
        filtersOn(&f);
        ASSERT_EQ(smfLogOn("log.mid", 1, nullptr), SmfReady);
        printed([] { StartRecReceive(); });
        gMode = r.mode;
        std::string shown;
        for (const Bytes &m : received) {
            deliver(m);
            shown += drained();
        }
        printed(closeRecFile);
        EXPECT_EQ(shown, r.shown);
        EXPECT_EQ(printed(exitPromptNotes), r.counted);
        extrasFinish();
        Bytes all;
        for (const Bytes &m : received)
            all.insert(all.end(), m.begin(), m.end());
        EXPECT_TRUE(fileBytes("VOLTANIS.REC") == all);
        Bytes log = fileBytes("log.mid");
        for (const Bytes &m : received)
            EXPECT_NE(std::search(log.begin(), log.end(), m.begin() + (m[0] == 0xF0), m.end()), log.end());
        gbBlockRealTime = 1;
    }
}

/* A SysEx longer than the input buffer: its first piece explained without
   a checksum, the later ones not at all; hidden, it counts once. */
TEST_F(ViewDisplay, ASysexInPiecesIsOneMessage)
{
    Bytes big(RBUF_SIZE + 1, 'A');
    big[0] = 0xF0;
    big[1] = 0x41;
    big[2] = 0x10;
    big[3] = 0x42;
    big[4] = 0x12;
    big.back() = 0xF7;
    explainOn();
    deliver(big);
    std::string shown = drained();
    shown += drained();
    const std::string first = "  ; Roland: DT1 data set, device 10, model 42, address 41 41 41, checksum not "
                              "checked (the message came in pieces)\n";
    EXPECT_EQ(shown.substr(shown.find(" (continues)")), " (continues)" + first + "  SysEx( continued )  EOX\n");
    extrasFinish();
    ViewFilter f = filter("sysex", "", "");
    filtersOn(&f);
    deliver(big);
    shown = drained();
    shown += drained();
    EXPECT_EQ(shown, "");
    EXPECT_EQ(printed(exitPromptNotes), "the filters hid 1 message\n");
}

} // namespace
