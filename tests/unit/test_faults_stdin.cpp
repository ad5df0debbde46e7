/*
 * Standard input that ends while a line is half typed: the whole program
 * (start-up, selection, main loop) ends through the exit prompt with
 * status 0, the half line is not sent, and a record file holds what was
 * recorded.  The double's keyboard at its end behaves as the real one
 * does at the end of a pipe: ESC, Enter, ... and line input reports -1.
 */
#include "test_faults_fixture.h"

namespace {

class StdinFaults : public FaultTest {};

TEST_F(StdinFaults, InputEndingMidLineEndsTheProgramCleanly)
{
    const char *const halfLines[] = {"N 3C", "S hello", "N 3C 40 N", "$"};
    for (const char *half : halfLines) {
        SCOPED_TRACE(half);
        resetProgram();
        td::clearSent();
        /* the selection takes port 0 twice, then the half line */
        td::keys(std::string("0\r0\r") + half);
        td::endOfInput(true);
        int status = -1;
        std::string out = printed([&] { status = voltanisMain(); });
        ended = true;
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(td::sent().empty());
        /* a console: the prompt's line is ended for the shell */
        EXPECT_EQ(out.substr(out.size() - strlen("EXIT? <ENTER>=exit  <SPACE>=continue\n")),
            "EXIT? <ENTER>=exit  <SPACE>=continue\n");
        EXPECT_FALSE(td::outIsOpen());
        EXPECT_FALSE(td::inIsOpen());
        td::endOfInput(false);
        startAfresh();
    }
}

TEST_F(StdinFaults, InputEndingInTheSelectionTakesWhatWasTypedAndEnds)
{
    td::addOutPort("Out 2");
    td::keys("1"); /* ends before Enter */
    td::endOfInput(true);
    int status = -1;
    std::string out = printed([&] { status = voltanisMain(); });
    ended = true;
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("Selection:\n"), std::string::npos);
    EXPECT_EQ(goSelDev, 1u);
    EXPECT_EQ(giSelDev, 0u);
}

TEST_F(StdinFaults, InputEndingWhileRecordingClosesTheFileWithEverythingInIt)
{
    start();
    EXPECT_EQ(press(fkey(kF9)), "-Recording\n");
    receive({{0x90, 0x3C, 0x40}, {0xF0, 0x7D, 0x01, 0xF7}});
    td::keys("N 3");
    td::endOfInput(true);
    printed(runMainLoop); /* returns only once the exit was taken */
    ended = true;
    EXPECT_EQ(fileBytes("VOLTANIS.REC"), Bytes({0x90, 0x3C, 0x40, 0xF0, 0x7D, 0x01, 0xF7}));
    /* closed: it can be taken unshared again */
    HANDLE h = CreateFileA("VOLTANIS.REC", GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

/* Piped keys wait while a queue of what arrives is more than half full (a
   quarter for the small one of invalid bytes) until it is shown down to
   that mark; keys at the console go first. */
TEST_F(StdinFaults, PipedKeysWaitWhileAReceiveQueueIsMoreThanHalfFull)
{
    const struct {
        const char *what;
        bool console;
        int shorts, wilds, held; /* in the ring, the notices, the port layer's store */
        size_t shownFirst;       /* lines shown before the key's own */
    } cases[] = {
        {"ring over half", false, 5000, 0, 0, 5000 - 4096},
        {"ring half", false, 4096, 0, 0, 0},
        {"ring at the console", true, 5000, 0, 0, 0},
        {"invalid bytes over a quarter", false, 0, 100, 0, 100 - 64},
        {"SysEx held over half", false, 0, 0, 140, 140 - 130},
    };
    auto shown = [](const std::string &s) {
        return count(s, "Note ON") + count(s, "wild byte") + count(s, "SysEx(");
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        resetProgram();
        start();
        td::keyboardIsConsole(c.console);
        for (int i = 0; i < c.shorts; i++)
            midiCallback(gInHandle, MIM_DATA, 0, 0x403C90, 0);
        for (int i = 0; i < c.wilds; i++)
            midiCallback(gInHandle, MIM_ERROR, 0, 0x42, 0);
        for (int i = 0; c.held && i <= c.held; i++) /* the first takes the program's buffer */
            ASSERT_TRUE(td::deliverLong({0xF0, 0x7D, 0x01, 0xF7}));
        std::string out = press("\x07"); /* CTRL-G */
        out += printed(showAllReceived);
        EXPECT_EQ(
            shown(out.substr(0, out.find("Timing Clock and Active Sensing are displayed"))), c.shownFirst);
        EXPECT_EQ(shown(out), (size_t)(c.shorts + c.wilds + (c.held ? c.held + 1 : 0)));
        EXPECT_EQ(count(out, "lost"), 0u);
        quit();
        startAfresh();
    }
}

} // namespace
