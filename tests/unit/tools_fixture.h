/* Shared set-up for the tests of the command line's tools on what is
   received: the common ground of test_input_fixture.h, an input port
   whose messages carry their arrival times on the double's clock (counted
   from 0), an output port for transmissions, and every tool off again at
   the end. */
#ifndef VOLTANIS_TEST_TOOLS_FIXTURE_H
#define VOLTANIS_TEST_TOOLS_FIXTURE_H

#include "extras/extras.h"
#include "test_input_fixture.h"

class ToolsTest : public InputTest {
protected:
    void SetUp() override
    {
        InputTest::SetUp();
        extrasSetOrigin(0);
        td::addInPort("In");
        td::addOutPort("Out");
        ASSERT_EQ(midiInOpen(&gInHandle, 0, (DWORD_PTR)midiCallback, 0,
                      CALLBACK_FUNCTION | MIDI_IO_STATUS | MIDI_IO_VT_ARRIVAL_US),
            (MMRESULT)MMSYSERR_NOERROR);
        inputSetup();
        ASSERT_EQ(midiOutOpen(&gOutHandle, 0, 0, 0, 0), (MMRESULT)MMSYSERR_NOERROR);
    }
    void TearDown() override
    {
        extrasFinish();
        InputTest::TearDown();
    }
};

#endif
