/*
 * What -x says of a message: a table per family, each row a message in and
 * the text out, the rows of a table taken in order by one explainer so
 * that what a row sets (a controller, an RPN, an MTC piece) is what the
 * next rows read.
 */
#include "extras/explain.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace {

struct Row {
    uint32_t word; /* status | d1 << 8 | d2 << 16 */
    const char *text;
};

uint32_t msg(uint8_t status, uint8_t d1 = 0, uint8_t d2 = 0) { return status | d1 << 8 | d2 << 16; }

void expectRows(const std::vector<Row> &rows)
{
    Explainer x;
    for (const Row &r : rows) {
        char out[256];
        x.take(r.word, 0);
        size_t n = x.shortText(r.word, out, sizeof out);
        EXPECT_EQ(std::string(out, n), r.text) << std::hex << r.word;
    }
}

TEST(Explain, ControllersProgramsBendAndNotes)
{
    expectRows({
        {msg(0xB0, 7, 100), "ch 1 Volume = 100"},
        {msg(0xB0, 39, 5), "ch 1 Volume LSB = 5, 14-bit 12805"},
        {msg(0xB1, 39, 5), "ch 2 Volume LSB = 5"}, /* no MSB on channel 2 */
        {msg(0xB0, 64, 127), "ch 1 Sustain = on"},
        {msg(0xB0, 3, 16), "ch 1 controller 3 (undefined) = 16"},
        {msg(0xB0, 91, 40), "ch 1 Reverb (Effects 1 Depth) = 40"},
        {msg(0xB0, 120, 0), "ch 1 All Sound Off"},
        {msg(0xB0, 122, 0), "ch 1 Local Control = off"},
        {msg(0xB0, 126, 4), "ch 1 Mono Mode On, 4 channels (all notes off)"},
        {msg(0xB0, 126, 0), "ch 1 Mono Mode On, as many channels as voices (all notes off)"},
        {msg(0xC0, 5), "ch 1 program 5"},
        {msg(0xB0, 0, 1), "ch 1 Bank Select = 1"},
        {msg(0xB0, 32, 3), "ch 1 Bank Select LSB = 3, 14-bit 131"},
        {msg(0xC0, 5), "ch 1 program 5, bank MSB 1 LSB 3"},
        {msg(0xB1, 32, 2), "ch 2 Bank Select LSB = 2"},
        {msg(0xC1, 0), "ch 2 program 0, bank LSB 2"},
        {msg(0xE0, 0, 64), "ch 1 bend +0"},
        {msg(0xE0, 0, 0), "ch 1 bend -8192"},
        {msg(0xEF, 127, 127), "ch 16 bend +8191"},
        {msg(0x90, 60, 64), "ch 1 velocity 64"},
        {msg(0x90, 60, 0), "ch 1 velocity 0 = note off"},
        {msg(0x80, 60, 64), "ch 1 release velocity 64"},
        {msg(0xA1, 69, 32), "ch 2 pressure 32"},
        {msg(0xD0, 127), "ch 1 pressure 127"},
        {msg(0x90, 0x80, 64), ""}, /* a data byte no port sends */
    });
}

/* selection, data entry, increments, the null RPN, NRPN, two channels
   interleaved and a third with the RPNs of MPE and GM2 */
TEST(Explain, RpnAndNrpn)
{
    expectRows({
        {msg(0xB0, 101, 0), "ch 1 RPN MSB: RPN 0,127 selected"},
        {msg(0xB0, 100, 0), "ch 1 RPN LSB: RPN 0,0 Pitch Bend Sensitivity selected"},
        {msg(0xB0, 6, 2), "ch 1 Data Entry: RPN 0,0 Pitch Bend Sensitivity = 2 semitones 0 cents"},
        {msg(0xB0, 38, 50), "ch 1 Data Entry LSB: RPN 0,0 Pitch Bend Sensitivity = 2 semitones 50 cents"},
        {msg(0xB0, 96, 0), "ch 1 Data Increment: RPN 0,0 Pitch Bend Sensitivity = 2 semitones 51 cents"},
        {msg(0xB0, 97, 0), "ch 1 Data Decrement: RPN 0,0 Pitch Bend Sensitivity = 2 semitones 50 cents"},
        {msg(0xB1, 101, 0), "ch 2 RPN MSB: RPN 0,127 selected"},
        {msg(0xB1, 100, 2), "ch 2 RPN LSB: RPN 0,2 Channel Coarse Tuning selected"},
        {msg(0xB0, 6, 12), "ch 1 Data Entry: RPN 0,0 Pitch Bend Sensitivity = 12 semitones 0 cents"},
        {msg(0xB1, 6, 62), "ch 2 Data Entry: RPN 0,2 Channel Coarse Tuning = -2 semitones"},
        {msg(0xB0, 100, 1), "ch 1 RPN LSB: RPN 0,1 Channel Fine Tuning selected"},
        {msg(0xB0, 6, 0x60), "ch 1 Data Entry: RPN 0,1 Channel Fine Tuning = +50.00 cents"},
        {msg(0xB0, 101, 127), "ch 1 RPN MSB: RPN 127,1 selected"},
        {msg(0xB0, 100, 127), "ch 1 RPN LSB: RPN null, no parameter selected"},
        {msg(0xB0, 6, 5), "ch 1 Data Entry = 5 (no parameter selected)"},
        {msg(0xB0, 99, 1), "ch 1 NRPN MSB: NRPN 1,127 selected"},
        {msg(0xB0, 98, 8), "ch 1 NRPN LSB: NRPN 1,8 selected"},
        {msg(0xB0, 6, 64), "ch 1 Data Entry: NRPN 1,8 = 8192"},
        {msg(0xB0, 38, 1), "ch 1 Data Entry LSB: NRPN 1,8 = 8193"},
        {msg(0xB0, 96, 0), "ch 1 Data Increment: NRPN 1,8 = 8194"},
        {msg(0xB1, 6, 64), "ch 2 Data Entry: RPN 0,2 Channel Coarse Tuning = +0 semitones"},
        {msg(0xB1, 121, 0), "ch 2 Reset All Controllers"},
        {msg(0xB1, 6, 64), "ch 2 Data Entry = 64 (no parameter selected)"},
        {msg(0xB2, 101, 0), "ch 3 RPN MSB: RPN 0,127 selected"},
        {msg(0xB2, 100, 6), "ch 3 RPN LSB: RPN 0,6 MPE Configuration selected"},
        {msg(0xB2, 6, 15), "ch 3 Data Entry: RPN 0,6 MPE Configuration = 15 member channels"},
        {msg(0xB2, 100, 5), "ch 3 RPN LSB: RPN 0,5 Modulation Depth Range selected"},
        {msg(0xB2, 38, 64), "ch 3 Data Entry LSB: RPN 0,5 Modulation Depth Range = 0 semitones 50.0 cents"},
    });
}

/* MTC 01:02:03:04 at 25 fps forward, then 10:20:30:12 at 30 fps backward;
   song position 0 and the largest; the messages with nothing to say */
TEST(Explain, SystemCommonAndRealTime)
{
    expectRows({
        {msg(0xF1, 0x04), "MTC piece 0 (frames low) = 4"},
        {msg(0xF1, 0x10), "MTC piece 1 (frames high) = 0"},
        {msg(0xF1, 0x23), "MTC piece 2 (seconds low) = 3"},
        {msg(0xF1, 0x30), "MTC piece 3 (seconds high) = 0"},
        {msg(0xF1, 0x42), "MTC piece 4 (minutes low) = 2"},
        {msg(0xF1, 0x50), "MTC piece 5 (minutes high) = 0"},
        {msg(0xF1, 0x61), "MTC piece 6 (hours low) = 1"},
        {msg(0xF1, 0x72), "MTC 01:02:03:04, 25 fps"},
        {msg(0xF1, 0x06), "MTC piece 0 (frames low) = 6"},
        {msg(0xF1, 0x76), "MTC piece 7 (hours high and rate) = 6"}, /* the other way now */
        {msg(0xF1, 0x6A), "MTC piece 6 (hours low) = 10"},
        {msg(0xF1, 0x51), "MTC piece 5 (minutes high) = 1"},
        {msg(0xF1, 0x44), "MTC piece 4 (minutes low) = 4"},
        {msg(0xF1, 0x31), "MTC piece 3 (seconds high) = 1"},
        {msg(0xF1, 0x2E), "MTC piece 2 (seconds low) = 14"},
        {msg(0xF1, 0x10), "MTC piece 1 (frames high) = 0"},
        {msg(0xF1, 0x0C), "MTC 10:20:30:12, 30 fps"},
        {msg(0xF1, 0x30), "MTC piece 3 (seconds high) = 0"}, /* a piece out of turn */
        {msg(0xF2, 0, 0), "0 sixteenths = 1:1:1 (bar:beat:16th in 4/4)"},
        {msg(0xF2, 1, 0), "1 sixteenth = 1:1:2 (bar:beat:16th in 4/4)"},
        {msg(0xF2, 5, 1), "133 sixteenths = 9:2:2 (bar:beat:16th in 4/4)"},
        {msg(0xF2, 127, 127), "16383 sixteenths = 1024:4:4 (bar:beat:16th in 4/4)"},
        {msg(0xF3, 5), "song 5"},
        {msg(0xF8), "24 to the quarter note"}, /* no tempo from one tick */
        {msg(0xFA), "play from the start"},
        {msg(0xF4), ""},
    });
}

/* A clock by stamped arrival times, each with a jitter of up to 1 ms
   either way: what a hidden clock says, phase after phase. */
TEST(Explain, ClockTempoOnceSettledAndOnChange)
{
    const struct {
        double bpm;
        int ticks;
        int64_t pauseUs; /* before the phase */
        std::vector<std::string> said;
    } phases[] = {
        {120, 90, 0, {}}, /* a tempo is given after two seconds */
        {120, 390, 0, {"Timing Clock at 120.0 BPM"}},
        {90, 480, 0, {"Timing Clock at 90.0 BPM"}},
        {90, 480, 2000000, {}},    /* stopped for 2 s, on at the same tempo */
        {90.4, 480, 0, {}},        /* less than half a BPM */
        {91, 480, 0, {"Timing Clock at 91.0 BPM"}},
        {240, 480, 0, {"Timing Clock at 240.0 BPM"}},
    };
    Explainer x;
    double at = 1e6;
    uint32_t random = 1;
    for (const auto &p : phases) {
        std::vector<std::string> said;
        at += (double)p.pauseUs;
        for (int i = 0; i < p.ticks; i++) {
            random = random * 1103515245u + 12345u;
            int64_t jitter = (int64_t)((random >> 16) % 2001u) - 1000;
            x.take(msg(0xF8), (int64_t)at + jitter);
            at += 60e6 / 24 / p.bpm;
            char out[64];
            size_t len = x.tempoNews(out, sizeof out);
            if (len)
                said.push_back(std::string(out, len));
        }
        EXPECT_EQ(said, p.said) << p.bpm;
    }
    char out[64];
    size_t len = x.shortText(msg(0xF8), out, sizeof out); /* a clock shown */
    EXPECT_EQ(std::string(out, len), "240.0 BPM");
}

struct SysexRow {
    std::vector<uint8_t> bytes;
    const char *text;
};

/* Real-world messages: the GS Reset, an identity reply from a Roland
   digital piano's MIDI implementation, a Yamaha XG message */
TEST(Explain, Sysex)
{
    const SysexRow rows[] = {
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
            "Roland: DT1 data set, device 10, model 42, address 40 00 7f, 1 byte (GS Reset), checksum ok"},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x42, 0xF7},
            "Roland: DT1 data set, device 10, model 42, address 40 00 7f, 1 byte (GS Reset), checksum WRONG, "
            "should be 41"},
        {{0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x00, 0x00, 0x00, 0x10, 0x30, 0xF7},
            "Roland: RQ1 data request, device 10, model 42, address 40 00 00, size 00 00 10, checksum ok"},
        {{0xF0, 0x41, 0x10, 0x00, 0x00, 0x00, 0x0E, 0x12, 0x18, 0x00, 0x00, 0x00, 0x01, 0x67, 0xF7},
            "Roland: DT1 data set, device 10, model 00 00 00 0e, address 18 00 00 00, 1 byte, checksum ok"},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F}, /* the first piece of a longer one */
            "Roland: DT1 data set, device 10, model 42, address 40 00 7f, checksum not checked (the "
            "message came in pieces)"},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0xF7}, "Roland: DT1 data set, device 10, model 42, cut short"},
        {{0xF0, 0x41, 0x10, 0x16, 0x45, 0xF7}, "Roland: device 10, model 16, command 45"},
        {{0xF0, 0x43, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x76, 0xF7},
            "Yamaha: bulk dump, device 0, format 00, 4 data bytes, checksum ok"},
        {{0xF0, 0x43, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x75, 0xF7},
            "Yamaha: bulk dump, device 0, format 00, 4 data bytes, checksum WRONG, should be 76"},
        {{0xF0, 0x43, 0x00, 0x4C, 0x00, 0x01, 0x00, 0x00, 0x7E, 0x00, 0x01, 0xF7},
            "Yamaha: bulk dump, device 0, XG, 1 data byte, checksum ok"},
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},
            "Yamaha: parameter change, device 0, XG, address 00 00 7e (XG System On)"},
        {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, "Universal Non-Real Time, device 7f (all): Identity Request"},
        {{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x00, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0xF7},
            "Universal Non-Real Time, device 10: Identity Reply: Roland, family 0042, model 2000, "
            "version 00 01 00 00"},
        {{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x20, 0x1C, 0x04, 0x03, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00,
             0xF7},
            "Universal Non-Real Time, device 00: Identity Reply: Artisan Classic Organ, family 0304, "
            "model 0001, version 01 00 02 00"},
        {{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x42, 0x00, 0xF7},
            "Universal Non-Real Time, device 10: Identity Reply: Roland (cut short)"},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, "Universal Non-Real Time, device 7f (all): GM System On"},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7}, "Universal Non-Real Time, device 7f (all): GM2 System On"},
        {{0xF0, 0x7E, 0x00, 0x7F, 0x05, 0xF7}, "Universal Non-Real Time, device 00: ACK, packet 5"},
        {{0xF0, 0x7E, 0x00, 0x7B, 0x00, 0xF7}, "Universal Non-Real Time, device 00: EOF, packet 0"},
        {{0xF0, 0x7E, 0x00, 0x01, 0x05, 0x00, 0x10, 0x14, 0x31, 0x01, 0x68, 0x07, 0x00, 0x00, 0x00, 0x00,
             0x67, 0x07, 0x00, 0x7F, 0xF7},
            "Universal Non-Real Time, device 00: Sample Dump Header, sample 5, 16 bits, 44.1 kHz, 1000 "
            "words"},
        {{0xF0, 0x7E, 0x00, 0x08, 0x01, 0x03, 'E', 'v', 'i', 'l', 0x1B, '[', '2', 'J', 0x07, ';', ' ', ' ',
             ' ', ' ', ' ', 0x80, 0xF7},
            "Universal Non-Real Time, device 00: MIDI Tuning bulk dump, program 3, 'Evil?[2J??     ?'"},
        {{0xF0, 0x7E, 0x7F, 0x0D, 0x70, 0x02, 0xF7},
            "Universal Non-Real Time, device 7f (all): MIDI-CI Discovery"},
        {{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7},
            "Universal Real Time, device 7f (all): MTC Full Frame 01:02:03:04, 25 fps"},
        {{0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7}, "Universal Real Time, device 7f (all): MMC Stop"},
        {{0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00, 0xF7},
            "Universal Real Time, device 7f (all): MMC Locate 01:02:03:04.00, 30 fps"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x7F, 0xF7},
            "Universal Real Time, device 7f (all): Master Volume = 16383 of 16383"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x03, 0x00, 0x60, 0xF7},
            "Universal Real Time, device 7f (all): Master Fine Tuning = +50.00 cents"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x04, 0x00, 0x3E, 0xF7},
            "Universal Real Time, device 7f (all): Master Coarse Tuning = -2 semitones"},
        {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x7F, 0xF7},
            "Universal Real Time, device 7f (all): Device Control (cut short)"},
        {{0xF0, 0x42, 0x30, 0xF7}, "Korg"},
        {{0xF0, 0x00, 0x20, 0x29, 0x02, 0xF7}, "Focusrite/Novation"},
        {{0xF0, 0x7D, 'h', 'i', 0xF7}, "Non-Commercial (education, research)"},
        {{0xF0, 0x66, 0xF7}, "ID 66 (not in the list)"},
        {{0xF0, 0x00, 0x7F, 0x7F, 0xF7}, "ID 00 7f 7f (not in the list)"},
        {{0xF0, 0x00, 0x20, 0xF7}, ""}, /* an ID cut short */
        {{0xF0, 0xF7}, ""},
        {{0x01, 0x02, 0xF7}, ""}, /* a later piece */
    };
    for (const SysexRow &r : rows) {
        char out[256];
        /* a copy of exactly its size: a read past its end is found */
        std::vector<uint8_t> exact(r.bytes);
        size_t n = explainSysex(exact.data(), exact.size(), out, sizeof out);
        EXPECT_EQ(std::string(out, n), r.text);
    }
}

} // namespace
