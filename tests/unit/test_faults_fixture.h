/* Shared set-up for the fault-injection tests: the whole program's state
   after start-up with one output and one input port of the test double,
   in a scratch directory, and a main loop that the test drives pass by
   pass, with keys and received data in between, so that a fault can be
   injected at any point and the program seen to go on. */
#ifndef VOLTANIS_TEST_FAULTS_FIXTURE_H
#define VOLTANIS_TEST_FAULTS_FIXTURE_H

#include "preset/preset.h"
#include "scratch_test.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::string fkey(int scan) { return std::string(1, '\0') + (char)scan; }
const int kF6 = 0x40, kF7 = 0x41, kF9 = 0x43, kF10 = 0x44, kF11 = 0x85, kF12 = 0x86;

class FaultTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ports({"Out"}, {"In"});
    }

    /* every global at its start value, the double's ports counted;
       nothing opened yet */
    static void resetProgram()
    {
        resetProgramGlobals();
        goNumDevs = midiOutGetNumDevs();
        giNumDevs = midiInGetNumDevs();
    }

    /* the status report, as at start-up: ports opened, input started */
    std::string start() { return printed(statusReport); }

    /* Main-loop passes until every queued key is handled and the ring is
       empty and idle-checked.  (The pass's result is not looked at: once
       an exit was confirmed it stays 0 until the loop is entered anew.) */
    static void runPasses()
    {
        for (int idle = 0, n = 0; n < 100000; n++) {
            mainLoopPass();
            bool waiting = _kbhit() || gRTail.load() != gRHead.load();
            idle = waiting ? 0 : idle + 1;
            if (idle >= 2)
                return;
        }
        ADD_FAILURE() << "the main loop does not settle";
    }

    /* types the keys and lets the main loop handle them */
    std::string press(const std::string &keys)
    {
        return printed([&] {
            td::keys(keys);
            runPasses();
        });
    }

    /* what arrives at the input port, then the main loop shows it */
    std::string receive(const std::vector<Bytes> &messages)
    {
        return printed([&] {
            for (const Bytes &m : messages) {
                bool delivered;
                if (m.size() && m[0] == 0xF0)
                    delivered = td::deliverLong(m);
                else
                    delivered = td::deliverShort(m[0], m.size() > 1 ? m[1] : 0, m.size() > 2 ? m[2] : 0);
                EXPECT_TRUE(delivered);
            }
            runPasses();
        });
    }

    /* ESC and Enter: the program ends through the exit prompt, as the main
       loop runs it for ESC (the line abandoned, then the prompt) */
    std::string quit()
    {
        return printed([&] {
            gCmdPtr = 0;
            td::keys("\r");
            EXPECT_EQ(exitPrompt(), 1) << "the exit was not taken";
            ended = true;
        });
    }

    static size_t count(const std::string &text, const std::string &what)
    {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size()))
            n++;
        return n;
    }
};

#endif
