/*
 * Received short messages as the user sees them: the named formats in both
 * number bases, the byte display, the real-time filter, quiet recording.
 * Each message travels the whole road: the double's input thread, the
 * callback, the ring, one main-loop pass.
 */
#include "test_input_fixture.h"

namespace {

struct Shown {
    uint8_t status, d1, d2;
    const char *hex;
    const char *dec;
};

/* every text format, with the filter off so that F8 and FE show */
const Shown kText[] = {
    {0x80, 0x3C, 0x00, "  MIDI Note OFF    80 3c  0  ( C 3 )\n", "  MIDI Note OFF    128  60   0  ( C 3 )\n"},
    {0x90, 0x3C, 0x7F, "  MIDI Note ON     90 3c 7f  ( C 3 )\n", "  MIDI Note ON     144  60 127  ( C 3 )\n"},
    {0x9F, 0x00, 0x01, "  MIDI Note ON     9f  0  1  ( C-2 )\n", "  MIDI Note ON     159   0   1  ( C-2 )\n"},
    {0x90, 0x7F, 0x40, "  MIDI Note ON     90 7f 40  ( G 8 )\n", "  MIDI Note ON     144 127  64  ( G 8 )\n"},
    {0xA1, 0x45, 0x20, "  Poly Pressure    a1 45 20  ( A 3 )\n", "  Poly Pressure    161  69  32  ( A 3 )\n"},
    {0xB0, 0x07, 0x64, "  Control Change   b0  7 64\n", "  Control Change   176   7 100\n"},
    {0xC5, 0x10, 0x00, "  Program Change   c5 10\n", "  Program Change   197  16\n"},
    {0xDF, 0x7F, 0x00, "  Chann Pressure   df 7f\n", "  Chann Pressure   223 127\n"},
    {0xE0, 0x00, 0x40, "  Pitch Bend       e0  0 40\n", "  Pitch Bend       224   0  64\n"},
    {0xF1, 0x23, 0x00, "  MTC TimeCode   f1 23\n", "  MTC TimeCode   241  35\n"},
    {0xF2, 0x01, 0x02, "  Song Pos.Ptr   f2  1  2\n", "  Song Pos.Ptr   242   1   2\n"},
    {0xF3, 0x05, 0x00, "  Song Select    f3  5\n", "  Song Select    243   5\n"},
    {0xF6, 0x00, 0x00, "  Tune Request   f6\n", "  Tune Request   246\n"},
    {0xF7, 0x00, 0x00, "  EOX\t\t\t   f7\n", "  EOX\t\t\t   247\n"},
    {0xF8, 0x00, 0x00, "  Timing Clock   f8\n", "  Timing Clock   248\n"},
    {0xFA, 0x00, 0x00, "  MIDI Start     fa\n", "  MIDI Start     250\n"},
    {0xFB, 0x00, 0x00, "  MIDI Continue  fb\n", "  MIDI Continue  251\n"},
    {0xFC, 0x00, 0x00, "  MIDI Stop      fc\n", "  MIDI Stop      252\n"},
    {0xFE, 0x00, 0x00, "  Active Sensing fe\n", "  Active Sensing 254\n"},
    {0xFF, 0x00, 0x00, "  MIDI Reset     ff\n", "  MIDI Reset     255\n"},
    /* nothing to name */
    {0xF0, 0x01, 0x02, "", ""},
    {0xF4, 0x00, 0x00, "", ""},
    {0xF5, 0x00, 0x00, "", ""},
    {0xF9, 0x00, 0x00, "", ""},
    {0xFD, 0x00, 0x00, "", ""},
    /* a data byte the service should never send: no name beyond the table */
    {0x90, 0x80, 0x40, "  MIDI Note ON     90 80 40  ( ? )\n", "  MIDI Note ON     144 128  64  ( ? )\n"},
    {0x80, 0xFF, 0x00, "  MIDI Note OFF    80 ff  0  ( ? )\n", "  MIDI Note OFF    128 255   0  ( ? )\n"},
};

/* the byte display, the filter off */
const Shown kBytes[] = {
    {0x90, 0x3C, 0x7F, "-90 3c 7f ", "-144 60 127 "},
    {0x80, 0x3C, 0x00, "-80 3c 0 ", "-128 60 0 "},
    {0xB3, 0x07, 0x64, "-b3 7 64 ", "-179 7 100 "},
    {0xC5, 0x10, 0x00, "-c5 10 ", "-197 16 "},
    {0xD0, 0x05, 0x00, "-d0 5 ", "-208 5 "},
    {0xE0, 0x00, 0x40, "-e0 0 40 ", "-224 0 64 "},
    {0xF0, 0x01, 0x02, "-f0 1 2 ", "-240 1 2 "},
    {0xF1, 0x23, 0x00, "-f1 23 ", "-241 35 "},
    {0xF2, 0x01, 0x02, "-f2 1 2 ", "-242 1 2 "},
    {0xF3, 0x05, 0x00, "-f3 5 ", "-243 5 "},
    {0xF4, 0x00, 0x00, "-f4 ", "-244 "},
    {0xF6, 0x00, 0x00, "-f6 ", "-246 "},
    {0xF7, 0x00, 0x00, "-f7 ", "-247 "},
    {0xF8, 0x00, 0x00, "-f8 ", "-248 "},
    {0xF9, 0x00, 0x00, "-f9 ", "-249 "},
    {0xFD, 0x00, 0x00, "-fd ", "-253 "},
    {0xFE, 0x00, 0x00, "-fe ", "-254 "},
    {0xFF, 0x00, 0x00, "-ff ", "-255 "},
};

class InputDecode : public InputTest {
protected:
    void SetUp() override
    {
        InputTest::SetUp();
        openInput();
    }

    std::string showOne(uint8_t status, uint8_t d1, uint8_t d2)
    {
        EXPECT_TRUE(td::deliverShort(status, d1, d2));
        int shown = 0;
        std::string out = printed([&] { shown = showOneEntry(); });
        EXPECT_EQ(shown, 1);
        return out;
    }

    /* every message of the table in each mode, with the filter off: in
       hexadecimal, then in each of the decimal bases */
    template <size_t N>
    void checkShown(std::initializer_list<int> modes, const Shown (&table)[N], std::initializer_list<int> decimal)
    {
        gbBlockRealTime = 0;
        for (int mode : modes) {
            gMode = mode;
            for (const Shown &s : table) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " status " << std::hex << (int)s.status);
                gNumBase = 16;
                EXPECT_EQ(showOne(s.status, s.d1, s.d2), s.hex);
                for (int base : decimal) {
                    gNumBase = (uint8_t)base;
                    EXPECT_EQ(showOne(s.status, s.d1, s.d2), s.dec) << "base " << base;
                }
            }
        }
    }
};

TEST_F(InputDecode, TextFormatsInBothBasesAndBothTextModes)
{
    /* 8: anything but 16 counts as decimal */
    checkShown({0, 2}, kText, {10, 8});
}

TEST_F(InputDecode, ByteDisplayInBothBasesAndBothByteModes)
{
    checkShown({1, 3}, kBytes, {10});
}

TEST_F(InputDecode, ByteDisplayRunsOnAlongOneLine)
{
    gMode = 1;
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x7F));
    ASSERT_TRUE(td::deliverShort(0x80, 0x3C, 0x00));
    EXPECT_EQ(drained(), "-90 3c 7f -80 3c 0 ");
}

TEST_F(InputDecode, RealTimeFilterHidesClockAndSensingInEveryMode)
{
    struct Row {
        int mode;
        int32_t filter;
        const char *clock;
        const char *sensing;
    } rows[] = {
        {0, 1, "", ""},
        {1, 1, "", ""},
        {2, 1, "", ""},
        {3, 1, "", ""},
        {0, 0, "  Timing Clock   f8\n", "  Active Sensing fe\n"},
        {1, 0, "-f8 ", "-fe "},
        {2, 0, "  Timing Clock   f8\n", "  Active Sensing fe\n"},
        {3, 0, "-f8 ", "-fe "},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << " filter " << r.filter);
        gMode = r.mode;
        gbBlockRealTime = r.filter;
        EXPECT_EQ(showOne(0xF8, 0, 0), r.clock);
        EXPECT_EQ(showOne(0xFE, 0, 0), r.sensing);
        /* the filter hides those two only */
        EXPECT_NE(showOne(0xFA, 0, 0), "");
    }
}

TEST_F(InputDecode, QuietRecordingShowsNothingInAnyMode)
{
    gbRecQuiet = 1;
    gbBlockRealTime = 0;
    for (int mode = 0; mode < 4; mode++) {
        gMode = mode;
        EXPECT_EQ(showOne(0x90, 0x3C, 0x7F), "");
        EXPECT_EQ(showOne(0xF8, 0, 0), "");
    }
}

TEST_F(InputDecode, AModeOutsideTheFourShowsNothing)
{
    gMode = 7;
    EXPECT_EQ(showOne(0x90, 0x3C, 0x7F), "");
}

TEST_F(InputDecode, DecodesTheWordItIsGivenWithoutTheRing)
{
    gMode = 0;
    gReceived = 0x7F3C90;
    EXPECT_EQ(printed(decodeChannelMessage), "  MIDI Note ON     90 3c 7f  ( C 3 )\n");
    gReceived = 0x0510C5; /* a program change shows its one data byte only */
    EXPECT_EQ(printed(decodeChannelMessage), "  Program Change   c5 10\n");
}

} // namespace
