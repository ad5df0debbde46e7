/* The common ground of the unit-test fixtures of the system code: the test
   double in place of the port service, the keyboard and the files; every
   global of the program at its start value; a fresh scratch directory as
   the current directory, so that preset, record and send files of one test
   never meet another's; the capture of what the program prints; and what
   the program left open closed again at the end. */
#ifndef VOLTANIS_TEST_SCRATCH_TEST_H
#define VOLTANIS_TEST_SCRATCH_TEST_H

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "input/input.h"
#include "output/output.h"
#include "platform/testdouble/testdouble.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

/* a SysEx message of `length` bytes, F0 and F7 included, filled with `fill` */
inline Bytes sysexOf(size_t length, uint8_t fill)
{
    Bytes m(length, fill);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

/* Every global of the program at its start value: nothing opened, no port
   counted, the capture's queues empty. */
inline void resetProgramGlobals()
{
    gMode = 0;
    gNumBase = 16;
    gChannel = 0;
    goSelDev = giSelDev = 0;
    goNumDevs = giNumDevs = 0;
    gMidiOutName[0] = gMidiInName[0] = gSendFileName[0] = 0;
    strcpy(gPresetFileName, "VOLTANIS.SET");
    strcpy(gRecFileName, "VOLTANIS.REC");
    initSettings(); /* real-time filter, SysEx ID, note names, digit entry */
    gbCheckFuncKey = 0;
    gEnterSysex = 0;
    memset(gCmdStr, 0, sizeof gCmdStr);
    gCmdPtr = 0;
    gData1 = gData2 = gNibble = 0;
    gFailures = 0;

    gOutHandle = 0;
    memset(gSbuf, 0, sizeof gSbuf);
    gOutPtr = 0;
    gMsgLength = 0;
    gStatus = 0;
    memset(&gMidiOutHdr, 0, sizeof gMidiOutHdr);
    gTXCol = 0;

    /* no port: this only empties the queues, and counts what they held as
       lost, so it comes before the counts are cleared */
    gInHandle = 0;
    inputSetup();
    gRLost = gRLongLost = gROverflows = 0;
    gMsg = 0;
    gParam1 = 0;
    gReceived = 0;
    memset(&gMidiInHdr, 0, sizeof gMidiInHdr);
    /* a pattern no test sends, so that stale bytes would show */
    memset(gRbuf1, 0x55, sizeof gRbuf1);
    memset(gRbuf2, 0x55, sizeof gRbuf2);
    memset(gRecvBuf, 0, sizeof gRecvBuf);
    ghRecFile = 0;
    gbRecFileOpen = gbRecRecv = gbRecQuiet = 0;
    gByteCount = 0;
}

class ScratchTest : public ::testing::Test {
protected:
    /* the program ended through its exit and closed everything itself:
       its handles are stale, nothing is left to close */
    bool ended = false;

    void SetUp() override
    {
        td::install();
        td::endOfInput(false);
        ended = false;
        resetProgramGlobals();
        ASSERT_NE(getcwd(oldDir_, sizeof oldDir_), nullptr);
        strcpy(tmpDir_, "/tmp/vt-test-XXXXXX");
        ASSERT_NE(mkdtemp(tmpDir_), nullptr);
        ASSERT_EQ(chdir(tmpDir_), 0);
    }

    /* closes the record file and the ports the program left open, without
       showing what is still waiting; fixtures close what they opened
       themselves first, then call this */
    void TearDown() override
    {
        if (!ended) {
            if (gbRecFileOpen)
                CloseHandle(ghRecFile);
            if (gOutHandle != 0)
                midiOutClose(gOutHandle);
            if (gInHandle != 0)
                inputStop();
        }
        gbRecFileOpen = gbRecRecv = gbRecQuiet = 0;
        gOutHandle = 0;
        gInHandle = 0;
        td::uninstall();
        EXPECT_EQ(chdir(oldDir_), 0);
        std::string cmd = std::string("rm -rf ") + tmpDir_;
        EXPECT_EQ(system(cmd.c_str()), 0);
    }

    /* ports of the double, counted as at start-up */
    static void ports(const std::vector<const char *> &outs, const std::vector<const char *> &ins)
    {
        for (const char *n : outs)
            td::addOutPort(n);
        for (const char *n : ins)
            td::addInPort(n);
        goNumDevs = midiOutGetNumDevs();
        giNumDevs = midiInGetNumDevs();
    }

    /* for the next row of a table: the end of this test and the start of
       a new one, in a scratch directory of its own */
    void startAfresh()
    {
        TearDown();
        SetUp();
    }

    /* runs f with the console captured and returns what it printed */
    template <class F> static std::string printed(F f)
    {
        fflush(stdout);
        testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    /* the bytes of a file, none when it cannot be read */
    static Bytes fileBytes(const char *name)
    {
        Bytes bytes;
        FILE *f = fopen(name, "rb");
        if (!f)
            return bytes;
        int c;
        while ((c = fgetc(f)) != EOF)
            bytes.push_back((uint8_t)c);
        fclose(f);
        return bytes;
    }

    static void writeFile(const char *name, const Bytes &b)
    {
        FILE *f = fopen(name, "wb");
        ASSERT_NE(f, nullptr);
        size_t put = b.empty() ? 0 : fwrite(b.data(), 1, b.size(), f);
        fclose(f);
        ASSERT_EQ(put, b.size());
    }

    static bool fileExists(const char *name) { return access(name, F_OK) == 0; }

private:
    char oldDir_[4096];
    char tmpDir_[64];
};

#endif
