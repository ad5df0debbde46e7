/* Shared set-up for the message-entry and MIDI-output tests: the common
   ground of scratch_test.h with one output port of the test double open,
   and helpers that type keys and run lines. */
#ifndef VOLTANIS_TEST_ENTRY_OUTPUT_FIXTURE_H
#define VOLTANIS_TEST_ENTRY_OUTPUT_FIXTURE_H

#include "hex_text.h"
#include "scratch_test.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

typedef std::vector<Bytes> Sends;

class EntryOutputTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        td::addOutPort("X");
        ASSERT_EQ(midiOutOpen(&gOutHandle, 0, 0, 0, 0), (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_NE(gOutHandle, (HMIDIOUT)0);
        port_ = gOutHandle;
    }

    /* for the next row of a table: every global at its start value again,
       with the output port still open */
    void freshRow(uint8_t base = 16)
    {
        resetProgramGlobals();
        gOutHandle = port_;
        gNumBase = base;
        td::clearSent();
    }

    /* hands every character to typed-input handling, as the key dispatch
       does with the keys it does not consume */
    static std::string type(const std::string &keys)
    {
        return printed([&] {
            for (unsigned char c : keys)
                enterChar(c);
        });
    }

    /* puts a line into the command line and runs it as ENTER does */
    static std::string runLine(const std::string &line)
    {
        memset(gCmdStr, 0, sizeof gCmdStr);
        memcpy(gCmdStr, line.data(), line.size());
        gMsgLength = 0;
        return printed([] { executeCmdStr(); });
    }

    static Sends sent() { return td::sent(); }

private:
    HMIDIOUT port_ = 0;
};

#endif
