/* Shared set-up for the front-end tests: the test double in place of the
   port service, console and files, and every setting at its start value. */
#ifndef VOLTANIS_TEST_FRONTEND_FIXTURE_H
#define VOLTANIS_TEST_FRONTEND_FIXTURE_H

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "input/input.h"
#include "output/output.h"
#include "scratch_test.h"
#include "preset/preset.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

/* every global of the program at its start value; nothing opened, no port
   counted */
inline void resetProgramGlobals()
{
    gMode = 0;
    gNumBase = 16;
    gChannel = 0;
    gbCheckFuncKey = 0;
    gEnterSysex = 0;
    gCmdPtr = 0;
    goSelDev = giSelDev = 0;
    goNumDevs = giNumDevs = 0;
    gMidiOutName[0] = gMidiInName[0] = gSendFileName[0] = 0;
    gOutHandle = 0;
    gInHandle = 0;
    gMsgLength = 0;
    gOutPtr = 0;
    ghRecFile = 0;
    gbRecFileOpen = gbRecRecv = gbRecQuiet = 0;
    gByteCount = 0;
    gFailures = 0;
    gMsg = 0;
    gRLost = gRLongLost = gROverflows = 0;
    memset(&gMidiInHdr, 0, sizeof gMidiInHdr);
    memset(&gMidiOutHdr, 0, sizeof gMidiOutHdr);
    initSettings();
}

class FrontendTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        resetSettings();
    }

    void TearDown() override
    {
        if (gbRecFileOpen)
            printed([] { closeRecFile(); });
        closePorts();
        gOutHandle = 0;
        gInHandle = 0;
        ScratchTest::TearDown();
    }

    static void resetSettings() { resetProgramGlobals(); }

    static void typeKeys(const std::string &keys)
    {
        for (unsigned char c : keys)
            processKey(c);
    }
};

#endif
