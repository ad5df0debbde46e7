/*
 * Input capture and the receive display loop: the callback's stores, the
 * set-up and stop of the input port, SysEx in text and byte display, wild
 * bytes, the order of what waits together, the ring's wrap and overrun,
 * and notifications that follow each other before the main loop looks.
 */
#include "test_input_fixture.h"

#include "extras/extras.h"

namespace {

class InputCapture : public InputTest {};

const std::vector<uint8_t> kRoland = {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7};

/* ---- the callback ------------------------------------------------------ */

TEST_F(InputCapture, ShortDataIsPackedIntoTheRingAndTheLatestNotification)
{
    for (UINT kind : {(UINT)MIM_DATA, (UINT)MIM_MOREDATA}) {
        SCOPED_TRACE(kind);
        uint32_t head = gRHead;
        midiCallback(0, kind, 0, 0x7F3C90, 1234);
        EXPECT_EQ(gRecvBuf[head], 0x7F3C90u);
        EXPECT_EQ(gRHead, head + 1);
        EXPECT_EQ(gMsg, kind);
        EXPECT_EQ(gParam1, (DWORD_PTR)0x7F3C90);
    }
}

TEST_F(InputCapture, OtherNotificationsLeaveTheRingAlone)
{
    for (UINT kind :
        {(UINT)MIM_OPEN, (UINT)MIM_CLOSE, (UINT)MIM_LONGDATA, (UINT)MIM_ERROR, (UINT)MIM_LONGERROR}) {
        SCOPED_TRACE(kind);
        midiCallback(0, kind, 0, 0x42, 0);
        EXPECT_EQ(gRHead, 0u);
        EXPECT_EQ(gMsg, kind);
        EXPECT_EQ(gParam1, (DWORD_PTR)0x42);
    }
}

/* ---- set-up and stop --------------------------------------------------- */

TEST_F(InputCapture, SetUpWithoutAPortEmptiesTheRingAndCallsNothing)
{
    midiCallback(0, MIM_DATA, 0, 0x90, 0);
    midiCallback(0, MIM_DATA, 0, 0x80, 0);
    ASSERT_EQ(gRHead, 2u);
    EXPECT_EQ(printed(inputSetup), "");
    EXPECT_EQ(gRHead, 0u);
    EXPECT_EQ(gRTail, 0u);
    EXPECT_EQ(showOneEntry(), 0);
    for (td::Op op : {td::InStart, td::InPrepare, td::InAdd})
        EXPECT_EQ(td::calls(op), 0);
}

TEST_F(InputCapture, SetUpStartsThenPreparesThenQueuesTheBuffer)
{
    std::string out = printed(openInput);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(td::inIsStarted());
    EXPECT_EQ(td::queuedHeaders(), 1);
    EXPECT_EQ(gMidiInHdr.lpData, (LPSTR)gRbuf1);
    EXPECT_EQ(gMidiInHdr.dwBufferLength, (DWORD)RBUF_SIZE);
}

TEST_F(InputCapture, EachFailingSetUpStepSaysSoAndTheRestGoesOn)
{
    struct Row {
        td::Op op;
        const char *text;
    } rows[] = {
        {td::InStart, "\nERROR MIDI IN START\n"},
        /* an unprepared header cannot be queued either: both say so */
        {td::InPrepare, "\nERROR MIDI IN PREPARE\n\nERROR MIDI IN ADDBUFFER\n"},
        {td::InAdd, "\nERROR MIDI IN ADDBUFFER\n"},
    };
    td::addInPort("In");
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        gInHandle = 0;
        ASSERT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0, CALLBACK_FUNCTION | MIDI_IO_STATUS),
            (MMRESULT)MMSYSERR_NOERROR);
        memset(&gMidiInHdr, 0, sizeof gMidiInHdr);
        int start = td::calls(td::InStart), prep = td::calls(td::InPrepare), add = td::calls(td::InAdd);
        td::fail(r.op);
        EXPECT_EQ(printed(inputSetup), r.text);
        td::heal();
        EXPECT_EQ(td::calls(td::InStart), start + 1);
        EXPECT_EQ(td::calls(td::InPrepare), prep + 1);
        EXPECT_EQ(td::calls(td::InAdd), add + 1);
        inputStop();
        EXPECT_FALSE(td::inIsOpen());
    }
    gInHandle = 0;
}

TEST_F(InputCapture, StopRetriesTheUnprepareWhileThePortHoldsTheBuffer)
{
    openInput();
    td::inUnprepareStillPlaying(3);
    EXPECT_EQ(printed(inputStop), "");
    EXPECT_EQ(td::calls(td::InReset), 1);
    EXPECT_EQ(td::calls(td::InUnprepare), 4);
    EXPECT_FALSE(td::inIsOpen());
    gInHandle = 0;
}

/* ---- SysEx ------------------------------------------------------------- */

TEST_F(InputCapture, SysExInTextAndByteDisplay)
{
    struct Row {
        int mode;
        uint8_t base;
        std::vector<uint8_t> bytes;
        const char *shown;
    } rows[] = {
        {0, 16, kRoland, "  SysEx( 41 )  \\10 B \\12  EOX\n"},
        {2, 10, kRoland, "  SysEx( 41 )  \\10 B \\12  EOX\n"}, /* text is hexadecimal always */
        {1, 10, kRoland, "-240 65 16 66 18 247 "},
        {3, 16, kRoland, "-f0 41 10 42 12 f7 "},
        {0, 16, {0xF0, 0x00, 0x20, 0x33, 0x01, 0x02, 0xF7}, "  SysEx( 0 20 33)  \\1  \\2  EOX\n"},
        {2, 16, {0xF0, 0x00, 0x20, 0x33, 'o', 'k', 0xF7}, "  SysEx( 0 20 33) ok EOX\n"},
        {0, 16, {0xF0, 0x7D, 'H', 'i', ' ', '~', 0x7F, 0x1F, 0xF7}, "  SysEx( 7d ) Hi ~ \\7f  \\1f  EOX\n"},
        {0, 16, {0xF0, 0x7D, 0xF7}, "  SysEx( 7d )  EOX\n"},
        {3, 10, {0xF0, 0x00, 0x20, 0x33, 0xF7}, "-240 0 32 51 247 "},
        /* shorter than its identifier: only what arrived */
        {0, 16, {0xF0, 0x00, 0xF7}, "  SysEx( 0 f7)  EOX\n"},
        {0, 16, {0xF0, 0x00, 0x20, 0xF7}, "  SysEx( 0 20 f7)  EOX\n"},
        {0, 16, {0xF0, 0xF7}, "  SysEx( f7 )  EOX\n"},
        {0, 16, {0xF0}, "  SysEx( )  EOX\n"},
        {1, 16, {0xF0}, "-f0 "},
    };
    openInput();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.shown);
        gMode = r.mode;
        gNumBase = r.base;
        /* the buffer is left full of another message, which must not show */
        memset(gRbuf1, 0x41, 64);
        ASSERT_TRUE(td::deliverLong(r.bytes));
        EXPECT_EQ(drained(), r.shown);
        EXPECT_EQ(gMsg, 0u);
        EXPECT_EQ(td::queuedHeaders(), 1);
        EXPECT_EQ(printed(receiveIdleChecks), ""); /* shown once only */
    }
}

/* A message longer than the buffer comes in pieces, one per pass: every
   byte shown and recorded in order, the pieces after the first marked as
   what they are, in byte display run on as one message. */
TEST_F(InputCapture, ALongMessageLongerThanTheBufferComesInPieces)
{
    const std::string A(RBUF_SIZE, 'A');
    const struct {
        size_t length; /* F0 41, 'A's, F7 */
        std::string text;
    } rows[] = {
        {RBUF_SIZE, "  SysEx( 41 ) " + A.substr(3) + " EOX\n"},
        {RBUF_SIZE + 1, "  SysEx( 41 ) " + A.substr(2) + " (continues)\n  SysEx( continued )  EOX\n"},
        {600003, "  SysEx( 41 ) " + A.substr(2) + " (continues)\n  SysEx( continued ) " +
                     A.substr(0, 600003 - RBUF_SIZE - 1) + " EOX\n"},
    };
    openInput();
    for (const auto &r : rows) {
        SCOPED_TRACE(r.length);
        std::vector<uint8_t> big(r.length, 'A');
        big[0] = 0xF0;
        big[1] = 0x41;
        big.back() = 0xF7;
        std::string hex = "-";
        for (uint8_t b : big) {
            char x[4];
            snprintf(x, sizeof x, "%x ", b);
            hex += x;
        }
        for (int mode : {0, 1}) {
            gMode = mode;
            printed(StartRecReceive);
            ASSERT_TRUE(td::deliverLong(big));
            std::string out = drained();
            out += drained();
            printed(closeRecFile);
            EXPECT_TRUE(out == (mode == 0 ? r.text : hex))
                << out.substr(0, 40) << "..." << out.substr(out.size() - 40);
            EXPECT_TRUE(fileBytes("VOLTANIS.REC") == big) << "every byte recorded, in order";
            EXPECT_EQ(printed(receiveIdleChecks), "");
        }
    }
}

TEST_F(InputCapture, AFailedRequeueSaysSoAndTheMessageIsStillShown)
{
    openInput();
    td::fail(td::InAdd);
    ASSERT_TRUE(td::deliverLong(kRoland));
    EXPECT_EQ(drained(), "\nERROR MIDI IN ADDBUFFER\n  SysEx( 41 )  \\10 B \\12  EOX\n");
    td::heal();
    EXPECT_EQ(td::queuedHeaders(), 0);
}

/* A status byte other than real time ends a SysEx: the bytes it had are
   shown as cut off (no F7 added), recorded and logged as they came, and
   saved as no file; a message that came in pieces ends the same way.  The
   bytes go through the port's own stream parser; what a row sends after
   the cut (the 00 that an Enter after a space sends in byte entry) shows
   after the messages that came before it. */
TEST_F(InputCapture, ACutSysExIsShownAsCutAndKeptAsItCame)
{
    const Bytes note = {0x90, 0x3C, 0x40};
    const std::string noteText = "  MIDI Note ON     90 3c 40  ( C 3 )\n";
    const std::string piece = "  SysEx( 41 ) " + std::string(RBUF_SIZE - 2, 'A') + " (continues)\n";
    Bytes full = sysexOf(RBUF_SIZE, 'A'); /* F0 41 A... A: a full piece without its F7 */
    full[1] = 0x41;
    full.back() = 'A';
    const struct {
        const char *what;
        int mode;
        Bytes stream; /* none: a full piece, `more` bytes of it after, and the note */
        std::string shown;
        Bytes recorded, logged; /* the log's events, each at tick 0 */
        size_t more;
    } rows[] = {
        {"cut by a note", 0, {0xF0, 0x7D, 'a', 'b', 0x90, 0x3C, 0x40},
            noteText + "  SysEx( 7d ) ab (cut off)\n", {0x90, 0x3C, 0x40, 0xF0, 0x7D, 'a', 'b'},
            {0, 0x90, 0x3C, 0x40, 0, 0xF7, 4, 0xF0, 0x7D, 'a', 'b'}, 0},
        {"in byte display", 1, {0xF0, 0x7D, 'a', 'b', 0x90, 0x3C, 0x40}, "-90 3c 40 -f0 7d 61 62 (cut off) ",
            {0x90, 0x3C, 0x40, 0xF0, 0x7D, 'a', 'b'}, {0, 0x90, 0x3C, 0x40, 0, 0xF7, 4, 0xF0, 0x7D, 'a', 'b'},
            0},
        {"cut by another SysEx, then a 00", 2, {0xF0, 0x7D, 'a', 'b', 0xF0, 0x7D, 'c', 0xF7, 0x00},
            "  SysEx( 7d ) ab (cut off)\n  SysEx( 7d ) c EOX\n  wild byte      0\n",
            {0xF0, 0x7D, 'a', 'b', 0xF0, 0x7D, 'c', 0xF7},
            {0, 0xF7, 4, 0xF0, 0x7D, 'a', 'b', 0, 0xF0, 3, 0x7D, 'c', 0xF7}, 0},
        {"real time goes on inside, system common cuts", 3, {0xF0, 0x01, 0xF8, 0x02, 0xF3, 0x05},
            "-f3 5 -f0 1 2 (cut off) ", {0xF8, 0xF3, 0x05, 0xF0, 0x01, 0x02},
            {0, 0xF7, 1, 0xF8, 0, 0xF7, 2, 0xF3, 0x05, 0, 0xF7, 3, 0xF0, 0x01, 0x02}, 0},
        {"nothing but its F0", 0, {0xF0, 0xF6}, "  Tune Request   f6\n  SysEx( )  (cut off)\n", {0xF6, 0xF0},
            {0, 0xF7, 1, 0xF6, 0, 0xF7, 1, 0xF0}, 0},
        {"cut in its second piece", 0, {}, noteText + piece + "  SysEx( continued ) AA (cut off)\n", {}, {},
            2},
        {"cut right after a full piece", 0, {}, noteText + piece + "  SysEx( continued )  (cut off)\n", {},
            {}, 0},
    };
    openInput();
    extrasSetOrigin(vtClockUs());
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        Bytes stream = r.stream, recorded = r.recorded, logged = r.logged;
        if (stream.empty()) {
            stream = full;
            stream.insert(stream.end(), r.more, 'A');
            stream.insert(stream.end(), note.begin(), note.end());
            recorded = note;
            recorded.insert(recorded.end(), stream.begin(), stream.end() - 3);
            logged = {0, 0x90, 0x3C, 0x40, 0, 0xF0, 0x9F, 0xFF, 0x7F}; /* the piece: F0, its length 7FFFF */
            logged.insert(logged.end(), full.begin() + 1, full.end());
            if (r.more) {
                logged.insert(logged.end(), {0, 0xF7, (uint8_t)r.more});
                logged.insert(logged.end(), r.more, 'A');
            }
        }
        gMode = r.mode;
        ASSERT_EQ(syxCaptureOn("dumps"), SyxReady);
        ASSERT_EQ(smfLogOn("cut.mid", 1, nullptr), SmfReady);
        remove("VOLTANIS.REC");
        printed(StartRecReceive);
        ASSERT_TRUE(td::deliverBytes(stream));
        std::string shown = printed(showAllReceived);
        EXPECT_TRUE(shown == r.shown) << shown.substr(0, 200);
        EXPECT_EQ(td::queuedHeaders(), 1); /* SysEx input carries on */
        printed(closeRecFile);
        extrasFinish();
        EXPECT_TRUE(fileBytes("VOLTANIS.REC") == recorded) << "recorded as they came";
        Bytes log = fileBytes("cut.mid");
        ASSERT_GE(log.size(), 30u);
        EXPECT_TRUE(Bytes(log.begin() + 26, log.end() - 4) == logged) << "logged as they came";
        bool whole = r.stream.size() > 7 && r.stream[7] == 0xF7;
        EXPECT_EQ(fileExists("dumps/0000.syx"), whole) << "a cut SysEx is no file";
        ASSERT_EQ(system("rm -rf dumps"), 0);
    }
}

TEST_F(InputCapture, TheEmptyHandBackOfAResetIsNoMessage)
{
    openInput();
    gbRecQuiet = 0;
    ASSERT_TRUE(td::deliverLong(kRoland));
    EXPECT_EQ(drained(), "  SysEx( 41 )  \\10 B \\12  EOX\n");
    int adds = td::calls(td::InAdd);

    /* the reset returns the queued buffer with nothing in it */
    EXPECT_EQ(midiInReset(gInHandle), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(printed(receiveIdleChecks), "");
    EXPECT_EQ(td::calls(td::InAdd), adds); /* not queued again */

    /* the stop lets go of the buffer at once */
    inputStop();
    EXPECT_EQ(td::calls(td::InUnprepare), 1);
    EXPECT_EQ(printed(receiveIdleChecks), "");
    gInHandle = 0;
}

TEST_F(InputCapture, TheStopsOwnHandBackIsNeverShownAfterwards)
{
    openInput();
    ASSERT_TRUE(td::deliverLong(kRoland));
    EXPECT_EQ(drained(), "  SysEx( 41 )  \\10 B \\12  EOX\n");
    inputStop();
    EXPECT_EQ(printed(receiveIdleChecks), "");
    EXPECT_EQ(td::queuedHeaders(), 0);
    gInHandle = 0;
}

/* ---- wild bytes -------------------------------------------------------- */

TEST_F(InputCapture, WildByteInAllFourModesAndBothBases)
{
    struct Row {
        int mode;
        uint8_t base;
        const char *shown;
    } rows[] = {
        {0, 16, "  wild byte      3c\n"},
        {0, 10, "  wild byte      3c\n"},
        {2, 16, "  wild byte      3c\n"},
        {2, 10, "  wild byte      3c\n"},
        {1, 16, "3c "},
        {1, 10, "60 "},
        {3, 16, "3c "},
        {3, 10, "60 "},
    };
    openInput();
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << " base " << (int)r.base);
        gMode = r.mode;
        gNumBase = r.base;
        ASSERT_TRUE(td::deliver(MIM_ERROR, 0x7F203C));
        EXPECT_EQ(drained(), r.shown);
        EXPECT_EQ(gReceived, 0x7F203Cu);
        EXPECT_EQ(gMsg, 0u);
        EXPECT_EQ(printed(receiveIdleChecks), "");
    }
}

TEST_F(InputCapture, WildBytesShowEvenWhileRecordingQuietly)
{
    openInput();
    gbRecQuiet = 1;
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0xF5));
    EXPECT_EQ(drained(), "  wild byte      f5\n");
}

TEST_F(InputCapture, EveryWildByteShowsOnceWithItsOwnByte)
{
    openInput();
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0x3C));
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0x3D));
    ASSERT_TRUE(td::deliverShort(0xC0, 0x05)); /* overwrites the latest notification */
    std::string out = printed([] {
        while (showOneEntry()) {
        }
        for (int i = 0; i < 4; i++)
            receiveIdleChecks();
    });
    EXPECT_EQ(out, "  Program Change   c0  5\n  wild byte      3c\n  wild byte      3d\n");
}

/* ---- what waits together ----------------------------------------------- */

TEST_F(InputCapture, FiveShortMessagesComeBeforeTheWaitingSysEx)
{
    openInput();
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x7F));
    ASSERT_TRUE(td::deliverLong(kRoland));
    ASSERT_TRUE(td::deliverShort(0x80, 0x3C, 0x00));
    ASSERT_TRUE(td::deliverShort(0xB0, 0x07, 0x64));
    ASSERT_TRUE(td::deliverShort(0xC0, 0x05));
    ASSERT_TRUE(td::deliverShort(0xF6));
    const char *perPass[] = {
        "  MIDI Note ON     90 3c 7f  ( C 3 )\n",
        "  MIDI Note OFF    80 3c  0  ( C 3 )\n",
        "  Control Change   b0  7 64\n",
        "  Program Change   c0  5\n",
        "  Tune Request   f6\n",
    };
    for (const char *line : perPass) {
        int shown = 0;
        EXPECT_EQ(printed([&] { shown = showOneEntry(); }), line);
        EXPECT_EQ(shown, 1);
    }
    int shown = 1;
    EXPECT_EQ(printed([&] { shown = showOneEntry(); }), "");
    EXPECT_EQ(shown, 0);
    /* the SysEx was overwritten in the latest-notification slot, yet shows */
    EXPECT_EQ(printed(receiveIdleChecks), "  SysEx( 41 )  \\10 B \\12  EOX\n");
    EXPECT_EQ(td::queuedHeaders(), 1);
}

TEST_F(InputCapture, ASysExFollowedByAWildByteShowsBoth)
{
    openInput();
    ASSERT_TRUE(td::deliverLong(kRoland));
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0x33));
    EXPECT_EQ(drained(), "  SysEx( 41 )  \\10 B \\12  EOX\n  wild byte      33\n");
    EXPECT_EQ(td::queuedHeaders(), 1);
}

/* ---- the ring's limits ------------------------------------------------- */

std::string bytesOf(uint32_t from, uint32_t to) /* byte display of note-ons from..to-1 */
{
    std::string s;
    char one[32];
    for (uint32_t i = from; i < to; i++) {
        snprintf(one, sizeof one, "-90 %x %x ", (i >> 7) & 0x7F, i & 0x7F);
        s += one;
    }
    return s;
}

void pushNotes(uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; i++)
        midiCallback(0, MIM_DATA, 0, 0x90 | ((i >> 7) & 0x7F) << 8 | (i & 0x7F) << 16, 0);
}

TEST_F(InputCapture, TheRingWrapsAt8191)
{
    gMode = 1;
    pushNotes(0, 8191);
    EXPECT_EQ(gRHead, 8191u);
    EXPECT_EQ(drained(), bytesOf(0, 8191));
    EXPECT_EQ(gRTail, 8191u);
    pushNotes(8191, 8192);
    EXPECT_EQ(gRecvBuf[8191], 0x90u | (8191u >> 7 & 0x7F) << 8 | (8191u & 0x7F) << 16);
    EXPECT_EQ(gRHead, 0u);
    pushNotes(8192, 8200);
    EXPECT_EQ(gRHead, 8u);
    EXPECT_EQ(drained(), bytesOf(8191, 8200));
    EXPECT_EQ(gRTail, 8u);
}

TEST_F(InputCapture, AFullRingDropsTheNewestAndCountsThem)
{
    gMode = 1;
    pushNotes(0, 8191 + 25); /* 8191 fit, 25 do not */
    EXPECT_EQ(gRHead, 8191u);
    EXPECT_EQ(gRLost, 25u);

    /* the loss line waits until the display has caught up */
    std::string part = printed([] {
        for (int i = 0; i < 100; i++)
            showOneEntry();
        receiveIdleChecks();
    });
    EXPECT_EQ(part, bytesOf(0, 100));
    pushNotes(9000, 9010); /* room again: kept, after the older ones */
    EXPECT_EQ(drained(), bytesOf(100, 8191) + bytesOf(9000, 9010) +
                             "\nERROR MIDI IN: 25 messages lost, receive buffer full\n");
    EXPECT_EQ(gRLost, 0u);
    EXPECT_EQ(printed(receiveIdleChecks), ""); /* said once */
}

/* The system does not say how many messages its overflows took: neither
   does the line.  Said once the ring is empty, also while recording
   quietly, after the lost SysEx and the messages the ring could not take. */
TEST_F(InputCapture, OverflowsOfTheSystemsQueueAreSaidWithoutACount)
{
    openInput();
    gbRecQuiet = 1;
    ASSERT_TRUE(td::deliver(MIM_VT_OVERRUN, 1));
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x7F));
    ASSERT_TRUE(td::deliver(MIM_VT_OVERRUN, 2));
    midiCallback(0, MIM_VT_LONGLOST, 0, 4, 0);
    gRLost += 5;
    EXPECT_EQ(drained(), "\nERROR MIDI IN: 5 messages lost, receive buffer full\n"
                         "\nERROR MIDI IN: 4 SysEx messages lost, receive buffer full\n"
                         "\nERROR MIDI IN: an unknown number of messages lost, system input queue full "
                         "(overflows: 3)\n");
    EXPECT_EQ(printed(receiveIdleChecks), "");
}

/* The close shows what came before it; what a set-up finds left over all
   the same is counted lost, never dropped unsaid. */
TEST_F(InputCapture, ANewPortCountsWhatTheOldOneLeftUnshown)
{
    openInput();
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x7F));
    ASSERT_TRUE(td::deliver(MIM_ERROR, 0x3C));
    ASSERT_TRUE(td::deliverLongError({0xF0, 0x7D})); /* cut off, and shown as such */
    inputStop();
    EXPECT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0, CALLBACK_FUNCTION | MIDI_IO_STATUS),
        (MMRESULT)MMSYSERR_NOERROR);
    inputSetup();
    EXPECT_EQ(drained(), "\nERROR MIDI IN: 2 messages lost, receive buffer full\n"
                         "\nERROR MIDI IN: 1 SysEx messages lost, receive buffer full\n");
    EXPECT_EQ(td::queuedHeaders(), 1);
}

/* SysEx messages that arrive while the display holds the buffer wait in the
   port layer and come one per pass, in order, each shown and recorded
   whole; past what can wait, whole messages are dropped and said once the
   rest has been shown. */
TEST_F(InputCapture, BackToBackSysExAllShowAndRecordOrAreCountedLost)
{
    const struct {
        unsigned sent, shown;
        const char *lossLine;
    } rows[] = {
        {2, 2, ""},
        {3, 3, ""},
        {300, 257, "\nERROR MIDI IN: 43 SysEx messages lost, receive buffer full\n"},
    };
    openInput();
    for (const auto &r : rows) {
        SCOPED_TRACE(r.sent);
        std::vector<uint8_t> all, shown;
        std::string lines;
        for (unsigned i = 0; i < r.sent; i++) {
            std::vector<uint8_t> m = {0xF0, 0x7D, (uint8_t)('a' + i % 26), (uint8_t)(i % 0x20), 0xF7};
            ASSERT_TRUE(td::deliverLong(m));
            if (i < r.shown) {
                shown.insert(shown.end(), m.begin(), m.end());
                char line[64];
                snprintf(line, sizeof line, "  SysEx( 7d ) %c \\%x  EOX\n", 'a' + i % 26, i % 0x20);
                lines += line;
            }
        }
        printed(StartRecReceive);
        std::string out = printed([] {
            while (receiveIdleChecks()) {
            }
        });
        printed(closeRecFile);
        EXPECT_EQ(out, lines + r.lossLine);
        EXPECT_TRUE(fileBytes("VOLTANIS.REC") == shown);
        EXPECT_EQ(td::queuedHeaders(), 1);
    }
}

/* The port closes with messages waiting: the one the buffer brought back is
   still shown, those waiting in the port layer are counted lost. */
TEST_F(InputCapture, ThePortClosedWithSysExWaiting)
{
    openInput();
    for (uint8_t i = 1; i <= 4; i++)
        ASSERT_TRUE(td::deliverLong({0xF0, 0x7D, (uint8_t)('0' + i), 0xF7}));
    inputStop();
    EXPECT_EQ(
        drained(), "  SysEx( 7d ) 1 EOX\n\nERROR MIDI IN: 3 SysEx messages lost, receive buffer full\n");
    EXPECT_EQ(td::calls(td::InAdd), 1) << "the closed port gets no buffer";
    gInHandle = 0;
}

} // namespace
