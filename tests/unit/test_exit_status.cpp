/*
 * The exit status of a whole run: 1 when, with nobody at the keyboard,
 * anything asked for was not done (a refused line or byte, a failed
 * transmission, a send file that cannot be read, a port that would not
 * open, something received that was lost); 0 otherwise, and always 0 for a person at the console.
 */
#include "test_faults_fixture.h"

namespace {

class ExitStatus : public FaultTest {};

const int kLost = -2;

struct StatusCase {
    const char *what;
    bool console;
    int failing; /* a td::Op that fails throughout, -1 none, kLost: a SysEx lost in the port layer */
    std::string keys;
    int status;
};

TEST_F(ExitStatus, OneAfterAnyFailureWithKeysFromAPipe)
{
    const StatusCase cases[] = {
        {"lines sent", false, -1, "N 3C 40\rS hello\r", 0},
        {"a refused line", false, -1, "N 3C 40\rN 3C 40 X\r", 1},
        {"a refused hex digit", false, -1,
            "\x05"
            "9G ",
            1},
        {"a fourth decimal digit", false, -1, "\x05&1234 ", 1},
        {"a decimal byte over 255", false, -1, "\x05&300 ", 1},
        {"a failed transmission", false, td::OutLongMsg, "N 3C 40\r", 1},
        {"an output that would not open", false, td::OutOpen, "", 1},
        {"an input that would not open", false, td::InOpen, "", 1},
        {"a send file that is not there", false, -1, fkey(kF7) + "missing.syx\r", 1},
        {"a SysEx lost", false, kLost, "N 3C 40\r", 1},
        {"a refused line at the console", true, -1, "N 3C 40 X\r", 0},
        {"a SysEx lost at the console", true, kLost, "N 3C 40\r", 0},
        {"a failed transmission at the console", true, td::OutLongMsg, "N 3C 40\r", 0},
    };
    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.what);
        resetProgram();
        td::keyboardIsConsole(c.console);
        if (c.failing >= 0)
            td::fail((td::Op)c.failing);
        if (c.failing == kLost) /* as the port layer says it to the input callback */
            midiCallback(0, MIM_VT_LONGLOST, 0, 1, 0);
        /* at the console the selection asks: port 0 both times */
        td::keys((c.console ? "0\r0\r" : "") + c.keys);
        td::endOfInput(true);
        int status = -1;
        printed([&] { status = voltanisMain(); });
        ended = true;
        EXPECT_EQ(status, c.status);
        startAfresh();
    }
}

} // namespace
