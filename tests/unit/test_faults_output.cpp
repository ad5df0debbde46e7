/*
 * An output port that fails every transmission: each way out of the
 * program (a typed line, a typed byte, the repeat, a send file) says what
 * failed and goes on, the header is always given back, what the user typed
 * stays ready to repeat, and once the port works again the same bytes go.
 */
#include "test_faults_fixture.h"

namespace {

class OutputFaults : public FaultTest {};

const std::string kPrepare = "\nERROR MIDI PREPARE\n";
const std::string kTransmission = "\nERROR MIDI TRANSMISSION\n";

TEST_F(OutputFaults, EveryTransmissionFailsAndTheProgramGoesOn)
{
    struct Row {
        const char *what;
        std::vector<td::Op> failing;
        std::string said; /* what each transmission adds to the console */
        bool leaves;      /* whether the bytes still leave */
    };
    const Row rows[] = {
        {"prepare", {td::OutPrepare}, kPrepare + kTransmission, false},
        {"long message", {td::OutLongMsg}, kTransmission, false},
        {"both", {td::OutPrepare, td::OutLongMsg}, kPrepare + kTransmission, false},
        /* an unprepare failure is not reported, and the bytes did leave */
        {"unprepare", {td::OutUnprepare}, "", true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        resetProgram();
        start();
        for (td::Op op : r.failing)
            td::fail(op);
        td::clearSent();
        int unprepares = td::calls(td::OutUnprepare);

        EXPECT_EQ(press("N 3C 40\r"), "N 3C 40\n" + r.said);
        EXPECT_EQ(gMsgLength, 3);
        EXPECT_EQ(press("\x01"), "Repeat:" + r.said + "90 3c 40 \n");
        EXPECT_EQ(press("\x01"), "Repeat:" + r.said + "90 3c 40 \n");
        /* every transmission gave its header back */
        EXPECT_EQ(td::calls(td::OutUnprepare) - unprepares, 3);

        /* byte entry: each byte is its own transmission */
        EXPECT_EQ(press("\x05"), "\nmode 2: type HEX BYTES- display MIDI MSG\n");
        EXPECT_EQ(press("F8 9 "), "F8 " + r.said + "9 " + r.said);

        /* a send file of three blocks: each block says so, the transfer runs
           to its end */
        Bytes file(130, 0x42);
        writeFile("song.syx", file);
        strcpy(gSendFileName, "song.syx");
        EXPECT_EQ(press(fkey(kF7) + "\r"), "Send file song.syx 'fast' - confirm with <ENTER>.\n"
                                           "To select another file type CTRL_F  \n-Sending " +
                                               r.said + "." + r.said + r.said + "Ready\n");
        EXPECT_EQ(td::sent().size(), r.leaves ? 8u : 0u);

        /* the port heals: the repeat sends what was typed last, the byte 09 */
        td::heal();
        td::clearSent();
        EXPECT_EQ(press("\x01"), "Repeat:9 \n");
        ASSERT_EQ(td::sent().size(), 1u);
        EXPECT_EQ(td::sent()[0], Bytes({0x09}));
        EXPECT_EQ(press("\x11N 3E 40\r"), "\nmode 0: type MIDI MSG - display MIDI MSG\nN 3E 40\n");
        ASSERT_EQ(td::sent().size(), 2u);
        EXPECT_EQ(td::sent()[1], Bytes({0x90, 0x3E, 0x40}));
        quit();
        startAfresh();
    }
}

TEST_F(OutputFaults, AnOutputPortThatWouldNotOpenReportsEachSendAndTheInputStillWorks)
{
    td::fail(td::OutOpen);
    start();
    EXPECT_EQ(gOutHandle, (HMIDIOUT)0);
    EXPECT_EQ(press("N 3C 40\r"), "N 3C 40\n" + kPrepare + kTransmission);
    EXPECT_EQ(receive({{0x90, 0x3C, 0x40}}), "  MIDI Note ON     90 3c 40  ( C 3 )\n");
    quit();
}

} // namespace
