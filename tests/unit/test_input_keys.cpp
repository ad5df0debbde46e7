/*
 * What arrived before a key that closes the ports or acts on the record
 * file is shown and recorded before the key acts, as the main loop would
 * have shown it: short messages in the ring first, then the SysEx messages
 * (the one in the buffer and those waiting in the port layer), then the
 * losses; the key's own text comes after them.
 */
#include "test_faults_fixture.h"

namespace {

class KeysAfterReceived : public FaultTest {};

const char *kNote1 = "  MIDI Note ON     90 3c 40  ( C 3 )\n";
const char *kNote2 = "  MIDI Note ON     90 3e 40  ( D 3 )\n";
const char *kSysex1 = "  SysEx( 7d ) 1 EOX\n";
const char *kSysex2 = "  SysEx( 7d ) 2 EOX\n";
const Bytes kMarker = {'_', 'P', 'a', 'U', 's', 'E', '_'};

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(KeysAfterReceived, AreShownAndRecordedBeforeTheKeyActs)
{
    const Bytes notes = {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x40};
    const Bytes sysex = {0xF0, 0x7D, '1', 0xF7, 0xF0, 0x7D, '2', 0xF7};
    const struct {
        const char *what;
        std::string before; /* keys before the messages arrive */
        std::string key;
        std::string after; /* the key's own text, after what arrived */
        Bytes file;        /* the record file once F12 closed it */
    } rows[] = {
        {"F12 closes after them", fkey(kF9), fkey(kF12), "-Rec File Closed\n", notes + sysex},
        {"F11 pauses after them", fkey(kF9), fkey(kF11), "_PaUsE_\n", notes + sysex + kMarker},
        {"F9 starts after them", "", fkey(kF9), "-Recording\n", {}},
        {"F10 goes quiet after them", fkey(kF9), fkey(kF10), "-Recording Quietly-", notes + sysex},
        {"ESC closes the ports after them", fkey(kF9), "\x1b ", "EXIT? <ENTER>=exit  <SPACE>=continue\r",
            notes + sysex},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        start();
        press(r.before);
        for (const Bytes &m : {Bytes{0x90, 0x3C, 0x40}, Bytes{0xF0, 0x7D, '1', 0xF7},
                 Bytes{0xF0, 0x7D, '2', 0xF7}, Bytes{0x90, 0x3E, 0x40}}) {
            if (m[0] == 0xF0)
                ASSERT_TRUE(td::deliverLong(m));
            else
                ASSERT_TRUE(td::deliverShort(m[0], m[1], m[2]));
        }
        std::string out = press(r.key);
        std::string first = std::string(kNote1) + kNote2 + kSysex1 + kSysex2 + r.after;
        EXPECT_EQ(out.substr(0, first.size()), first);
        press(fkey(kF12));
        EXPECT_TRUE(fileBytes("VOLTANIS.REC") == r.file);
        closePorts();
    }
}

/* The close says what never reached the display: overflows counted before
   the key, with their line before the prompt. */
TEST_F(KeysAfterReceived, LossesAreSaidBeforeThePortsClose)
{
    start();
    ASSERT_TRUE(td::deliver(MIM_VT_OVERRUN, 2));
    ASSERT_TRUE(td::deliverShort(0x90, 0x3C, 0x40));
    std::string out = press("\x1b ");
    EXPECT_EQ(out.rfind(std::string(kNote1) +
                            "\nERROR MIDI IN: an unknown number of messages lost, system input queue full "
                            "(overflows: 2)\nEXIT? <ENTER>=exit  <SPACE>=continue\r",
                  0),
        0u)
        << out;
}

} // namespace
