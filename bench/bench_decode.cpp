/*
 * Decoding and formatting of received short messages, messages per
 * second: decodeChannelMessage on a mix of channel and system messages, in
 * text display and byte display, hexadecimal and decimal, printing as the
 * program does (printf to a buffered console, here /dev/null).  Also the
 * whole receive display step (showOneEntry: ring to console) and the same
 * while recording (one write per byte to a real file).  The text display
 * also with -x, which ends each line with what the message means.
 */
#include "bench_null.h"

#include "extras/extras.h"
#include "frontend/frontend.h"
#include "input/input.h"

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

/* note on/off, controllers, program change, pitch bend, clock (hidden),
   song position: what a keyboard and a sequencer send */
const uint32_t kMix[] = {
    0x7F3C90,
    0x003C80,
    0x4007B0,
    0x000AC3,
    0x4000E0,
    0x0000F8,
    0x654591,
    0x004581,
    0x7F01B0,
    0x3050D2,
    0x0000FA,
    0x2010F2,
};
const size_t kMixN = sizeof kMix / sizeof kMix[0];

void decode(benchmark::State &state, int32_t mode, uint8_t base, bool explain)
{
    fillNoteNames();
    if (explain)
        explainOn();
    gMode = mode;
    gNumBase = base;
    gbBlockRealTime = 1;
    gbRecRecv = gbRecQuiet = 0;
    BenchQuietConsole quiet;
    size_t i = 0;
    for (auto _ : state) {
        gReceived = kMix[i] & 0xFFFFFF;
        gReceivedUs += 1736; /* 12 messages to a clock tick at 120 BPM */
        i = i + 1 == kMixN ? 0 : i + 1;
        decodeChannelMessage();
    }
    extrasFinish();
    state.SetItemsProcessed(state.iterations());
}

/* ring entry to console: what the main loop does per message */
void showEntries(benchmark::State &state, int recording, bool explain)
{
    fillNoteNames();
    if (explain)
        explainOn();
    gMode = 0;
    gNumBase = 16;
    gbBlockRealTime = 1;
    gbRecRecv = gbRecQuiet = gbRecFileOpen = 0;
    char dir[] = "/tmp/voltanis-bench-XXXXXX";
    char back[4096];
    if (!getcwd(back, sizeof back))
        abort();
    if (recording) {
        if (!mkdtemp(dir) || chdir(dir) != 0)
            abort();
    }
    inputSetup(); /* no port: the ring emptied */
    BenchQuietConsole quiet;
    if (recording)
        StartRecReceive();
    size_t i = 0;
    for (auto _ : state) {
        midiCallback(0, MIM_DATA, 0, kMix[i] & 0xFFFFFF, 0);
        i = i + 1 == kMixN ? 0 : i + 1;
        showOneEntry();
    }
    if (recording) {
        closeRecFile();
        unlink(gRecFileName);
        if (chdir(back) != 0 || rmdir(dir) != 0)
            abort();
    }
    extrasFinish();
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_CAPTURE(decode, text_hex, 0, 16, false);
BENCHMARK_CAPTURE(decode, text_decimal, 0, 10, false);
BENCHMARK_CAPTURE(decode, bytes_hex, 1, 16, false);
BENCHMARK_CAPTURE(decode, bytes_decimal, 1, 10, false);
BENCHMARK_CAPTURE(showEntries, ring_to_console, 0, false);
BENCHMARK_CAPTURE(showEntries, ring_to_console_recording, 1, false);
BENCHMARK_CAPTURE(decode, text_hex_explained, 0, 16, true);
BENCHMARK_CAPTURE(decode, bytes_hex_explained, 1, 16, true);
BENCHMARK_CAPTURE(showEntries, ring_to_console_explained, 0, true);

BENCHMARK_MAIN();
