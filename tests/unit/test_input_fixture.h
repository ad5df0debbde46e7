/* Shared set-up for the MIDI input tests: the common ground of
   scratch_test.h (the record file goes to the scratch directory), an input
   port opened as the status report opens it, and the main loop's draining
   of what was received. */
#ifndef VOLTANIS_TEST_INPUT_FIXTURE_H
#define VOLTANIS_TEST_INPUT_FIXTURE_H

#include "scratch_test.h"

#include <gtest/gtest.h>

#include <string>

class InputTest : public ScratchTest {
protected:
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
};

#endif
