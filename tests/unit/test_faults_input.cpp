/*
 * An input port that fails to start, to prepare or to queue its buffer:
 * each failure is said when the ports open, the program goes on (typing
 * still sends), whatever part of the input still works keeps working,
 * the port closes without hanging, and once the port works again the
 * ports reopen with everything received.
 */
#include "test_faults_fixture.h"

namespace {

class InputFaults : public FaultTest {};

const std::string kStart = "\nERROR MIDI IN START\n";
const std::string kPrepare = "\nERROR MIDI IN PREPARE\n";
const std::string kAdd = "\nERROR MIDI IN ADDBUFFER\n";

TEST_F(InputFaults, FailingStartPrepareAndAddAreSaidAndTheRestGoesOn)
{
    struct Row {
        const char *what;
        std::vector<td::Op> failing;
        std::string said; /* after the status report's own lines */
        bool shortArrive; /* input started */
        bool longShown;   /* the buffer queued; else a SysEx waits, and goes with the close */
    };
    const Row rows[] = {
        {"start", {td::InStart}, kStart, false, false},
        /* an unprepared buffer cannot be queued either */
        {"prepare", {td::InPrepare}, kPrepare + kAdd, true, false},
        {"add", {td::InAdd}, kAdd, true, false},
        {"all three", {td::InStart, td::InPrepare, td::InAdd}, kStart + kPrepare + kAdd, false, false},
        {"none", {}, "", true, true},
    };
    const std::string tail = "display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n";
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        resetProgram();
        for (td::Op op : r.failing)
            td::fail(op);
        std::string out = start();
        ASSERT_GE(out.size(), tail.size() + r.said.size());
        EXPECT_EQ(out.substr(out.size() - r.said.size() - tail.size()), tail + r.said);

        /* typing still sends */
        td::clearSent();
        press("N 3C 40\r");
        EXPECT_EQ(td::sent().size(), 1u);

        EXPECT_EQ(td::deliverShort(0x90, 0x3C, 0x40), r.shortArrive);
        EXPECT_EQ(td::deliverLong({0xF0, 0x7D, 0x01, 0xF7}), r.shortArrive);
        std::string shown = receive({});
        EXPECT_EQ(shown, std::string(r.shortArrive ? "  MIDI Note ON     90 3c 40  ( C 3 )\n" : "") +
                             (r.longShown ? "  SysEx( 7d )  \\1  EOX\n" : ""));

        /* the exit prompt closes the ports (no hang on the unqueued
           buffer), declining it reopens them: the same failures again */
        std::string again = press("\x1b ");
        const std::string lost = "\nERROR MIDI IN: 1 SysEx messages lost, receive buffer full\n";
        EXPECT_EQ(again.rfind(lost + "EXIT? <ENTER>=exit  <SPACE>=continue\r", 0) == 0,
            r.shortArrive && !r.longShown)
            << again;
        EXPECT_NE(again.find("EXIT? <ENTER>=exit  <SPACE>=continue\r"), std::string::npos);
        EXPECT_EQ(again.substr(again.size() - r.said.size() - tail.size()), tail + r.said);

        /* healed, declined once more: the input works whole */
        td::heal();
        again = press("\x1b ");
        EXPECT_EQ(again.substr(again.size() - tail.size()), tail);
        EXPECT_EQ(receive({{0x90, 0x3E, 0x40}, {0xF0, 0x7D, 0x02, 0xF7}}),
            "  MIDI Note ON     90 3e 40  ( D 3 )\n  SysEx( 7d )  \\2  EOX\n");
        quit();
        startAfresh();
    }
}

TEST_F(InputFaults, AnInputPortStillPlayingAtTheCloseIsWaitedForThenClosed)
{
    start();
    td::inUnprepareStillPlaying(1000);
    int before = td::calls(td::InUnprepare);
    quit();
    EXPECT_EQ(td::calls(td::InUnprepare) - before, 1001);
    EXPECT_FALSE(td::inIsOpen());
}

} // namespace
