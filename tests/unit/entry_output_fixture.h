/* Shared set-up for the message-entry and MIDI-output tests: the test double
   with one open output port, every global of typing and sending at its start
   value, and helpers that type keys and capture what is printed. */
#ifndef VOLTANIS_TEST_ENTRY_OUTPUT_FIXTURE_H
#define VOLTANIS_TEST_ENTRY_OUTPUT_FIXTURE_H

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "output/output.h"
#include "scratch_test.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;
typedef std::vector<Bytes> Sends;

class EntryOutputTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        td::addOutPort("X");
        resetGlobals();
        ASSERT_EQ(midiOutOpen(&gOutHandle, 0, 0, 0, 0), (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_NE(gOutHandle, (HMIDIOUT)0);
    }

    void TearDown() override
    {
        if (gOutHandle)
            midiOutClose(gOutHandle);
        gOutHandle = 0;
        ScratchTest::TearDown();
    }

    static void resetGlobals()
    {
        gMode = 0;
        gNumBase = 16;
        gChannel = 0;
        gIdStr[0] = 0x7D;
        gIdStr[1] = gIdStr[2] = gIdStr[3] = 0xFF;
        gEnterSysex = 0;
        memset(gCmdStr, 0, sizeof gCmdStr);
        gCmdPtr = 0;
        gData1 = gData2 = gNibble = 0;
        clearDigitState();
        memset(gSbuf, 0, sizeof gSbuf);
        gOutPtr = 0;
        gMsgLength = 0;
        gStatus = 0;
        memset(&gMidiOutHdr, 0, sizeof gMidiOutHdr);
        gSendFileName[0] = 0;
        gTXCol = 0;
        gOutHandle = 0;
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
};

/* "90 3c 40" for readable failure messages */
inline std::string hexOf(const Bytes &b)
{
    std::string s;
    char tmp[4];
    for (size_t i = 0; i < b.size(); i++) {
        snprintf(tmp, sizeof tmp, i ? " %02x" : "%02x", b[i]);
        s += tmp;
    }
    return s;
}

inline std::string hexOf(const Sends &s)
{
    std::string out;
    for (const Bytes &b : s)
        out += "[" + hexOf(b) + "]";
    return out;
}

#endif
