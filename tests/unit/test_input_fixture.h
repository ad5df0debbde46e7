/* Shared set-up for the MIDI input tests: the test double in place of the
   port service and the files, a scratch directory for the record file, and
   every global of the input side at its start value. */
#ifndef VOLTANIS_TEST_INPUT_FIXTURE_H
#define VOLTANIS_TEST_INPUT_FIXTURE_H

#include "frontend/frontend.h"
#include "input/input.h"
#include "scratch_test.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

class InputTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        resetGlobals();
    }

    void TearDown() override
    {
        if (gbRecFileOpen)
            CloseHandle(ghRecFile);
        gbRecFileOpen = gbRecRecv = gbRecQuiet = 0;
        if (gInHandle != 0)
            inputStop();
        gInHandle = 0;
        ScratchTest::TearDown();
    }

    static void resetGlobals()
    {
        gMode = 0;
        gNumBase = 16;
        gbBlockRealTime = 1;
        strcpy(gRecFileName, "VOLTANIS.REC");
        fillNoteNames();
        gInHandle = 0;
        ghRecFile = 0;
        gbRecFileOpen = gbRecRecv = gbRecQuiet = 0;
        gByteCount = 0;
        gReceived = 0;
        gMsg = 0;
        gParam1 = 0;
        gRLost = gRLongLost = gROverflows = 0;
        memset(&gMidiInHdr, 0, sizeof gMidiInHdr);
        /* a pattern no test sends, so that stale bytes would show */
        memset(gRbuf1, 0x55, sizeof gRbuf1);
        memset(gRbuf2, 0x55, sizeof gRbuf2);
        memset(gRecvBuf, 0, sizeof gRecvBuf);
        inputSetup(); /* no port yet: empties the ring and the queues */
    }

    /* opens input port 0 of the double as the status report does */
    static void openInput()
    {
        td::addInPort("In");
        ASSERT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0, CALLBACK_FUNCTION | MIDI_IO_STATUS),
            (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_NE(gInHandle, nullptr);
        inputSetup();
    }

    /* main-loop passes without a key until the ring is empty, then one
       pass of idle checks */
    static void drainOnce()
    {
        while (showOneEntry()) {
        }
        receiveIdleChecks();
    }

    static std::string drained() { return printed(drainOnce); }

    static std::vector<uint8_t> fileBytes(const char *name)
    {
        std::vector<uint8_t> bytes;
        FILE *f = fopen(name, "rb");
        if (!f)
            return bytes;
        int c;
        while ((c = fgetc(f)) != EOF)
            bytes.push_back((uint8_t)c);
        fclose(f);
        return bytes;
    }

    static bool fileExists(const char *name) { return access(name, F_OK) == 0; }
};

#endif
