/*
 * The record file when the device fills up: whatever the point at which
 * the writes start to fail, the file holds exactly the bytes reported
 * written before it, the failure is said once, recording stops, every
 * message whose write did not fail is still shown, and the program goes on
 * to a normal exit.
 */
#include "test_faults_fixture.h"

#include "platform/common/service.h"

namespace {

class RecordFaults : public FaultTest {};

/* one recording session, message by message, with what each shows */
struct Step {
    Bytes bytes;       /* what is received (or, for the marker, written) */
    const char *shown; /* what the display shows of it; "" for nothing */
};

const Step kSession[] = {
    {{0x90, 0x3C, 0x40}, "  MIDI Note ON     90 3c 40  ( C 3 )\n"},
    {{0xC0, 0x05}, "  Program Change   c0  5\n"},
    {{0xF8}, ""}, /* recorded, not shown while real time is blocked */
    {{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}, "  SysEx( 41 )  \\10 B \\12  EOX\n"},
    {{0x90, 0x3E, 0x40}, "  MIDI Note ON     90 3e 40  ( D 3 )\n"},
};
const Bytes kMarker = {'_', 'P', 'a', 'U', 's', 'E', '_'};

TEST_F(RecordFaults, TheFileKeepsEveryByteWrittenBeforeTheDeviceFilledUp)
{
    Bytes stream;
    for (const Step &s : kSession)
        stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
    const size_t dataBytes = stream.size();
    stream.insert(stream.end(), kMarker.begin(), kMarker.end());

    for (size_t room = 0; room <= stream.size(); room++) {
        SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
        resetProgram();
        start();
        td::failFileWriteAfter((long)room);
        EXPECT_EQ(press(fkey(kF9)), "-Recording\n");

        std::string out;
        size_t at = 0;
        for (const Step &s : kSession) {
            std::string shown = receive({s.bytes});
            bool failsHere = room < at + s.bytes.size() && room >= at;
            /* the message whose write failed is not shown; every other is */
            if (failsHere)
                EXPECT_EQ(shown, "Record File Write Error!\n");
            else
                EXPECT_EQ(shown, s.shown);
            at += s.bytes.size();
            out += shown;
        }
        std::string pause = press(fkey(kF11));
        if (room >= stream.size())
            EXPECT_EQ(pause, "_PaUsE_\n");
        else
            EXPECT_EQ(pause, "Record File Write Error!\n"); /* marker fell short, or no file open */
        out += pause;
        EXPECT_EQ(count(out, "Record File Write Error!\n"), room >= stream.size() ? 0u
                                                            : room < dataBytes    ? 2u
                                                                                  : 1u);
        EXPECT_EQ(gbRecRecv, 0);
        EXPECT_EQ(gbRecFileOpen, room >= stream.size() ? 1 : 0);

        /* the program goes on: a message is still shown, the exit works */
        EXPECT_EQ(receive({{0xB0, 0x07, 0x64}}), "  Control Change   b0  7 64\n");
        quit();
        Bytes want(stream.begin(), stream.begin() + (long)room);
        EXPECT_EQ(fileBytes("VOLTANIS.REC"), want);
        startAfresh();
    }
}

TEST_F(RecordFaults, QuietRecordingOnAFullDeviceShowsTheFailureAndStops)
{
    start();
    td::failFileWriteAfter(250);
    EXPECT_EQ(press(fkey(kF10)), "-Recording Quietly-");
    std::string out;
    for (int i = 0; i < 100; i++)
        out += receive({{0x90, (uint8_t)(i & 0x7F), 0x40}});
    /* 1800 + 201 bytes gave the one dot, then the 251st byte failed */
    EXPECT_EQ(out, ".Record File Write Error!\n");
    EXPECT_EQ(gbRecRecv, 0);
    EXPECT_EQ(gbRecFileOpen, 0);
    Bytes file = fileBytes("VOLTANIS.REC");
    ASSERT_EQ(file.size(), 250u);
    for (size_t i = 0; i < file.size(); i++)
        ASSERT_EQ(file[i], i % 3 == 0 ? 0x90 : i % 3 == 1 ? (uint8_t)(i / 3) : 0x40) << "at " << i;
    /* still quiet after the failure, until F9 or F12 */
    EXPECT_EQ(receive({{0x90, 0x3C, 0x40}}), "");
    EXPECT_EQ(press(fkey(kF12)), "-Rec File Closed\n");
    EXPECT_EQ(receive({{0x90, 0x3C, 0x40}}), "  MIDI Note ON     90 3c 40  ( C 3 )\n");
    quit();
}

#ifndef _WIN32
/* The real files on a real full device: /dev/full takes every open and
   refuses every write with ENOSPC. */
TEST_F(RecordFaults, ARealFullDeviceRefusesTheFirstWriteAndTheProgramGoesOn)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    strcpy(gRecFileName, "/dev/full");
    vtInstallFiles(nullptr); /* the real POSIX files, not the double's */
    start();
    EXPECT_EQ(press(fkey(kF9)), "-Recording\n");
    EXPECT_EQ(receive({{0x90, 0x3C, 0x40}}), "Record File Write Error!\n");
    EXPECT_EQ(gbRecFileOpen, 0);
    /* the short message first: a SysEx waits until the ring is empty */
    EXPECT_EQ(receive({{0xF0, 0x7D, 0x01, 0xF7}, {0x80, 0x3C, 0x00}}),
        "  MIDI Note OFF    80 3c  0  ( C 3 )\n  SysEx( 7d )  \\1  EOX\n");
    /* a SysEx is one write: on the full device it fails whole */
    EXPECT_EQ(press(fkey(kF9)), "-Recording\n");
    EXPECT_EQ(receive({{0xF0, 0x7D, 0x01, 0xF7}}), "Record File Write Error!\n");
    EXPECT_EQ(press(fkey(kF11)), "Record File Write Error!\n");
    quit();
}
#endif

} // namespace
