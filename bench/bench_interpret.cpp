/*
 * Command-line interpretation, lines per second: a finished line through
 * executeCmdStr, messages built into the output buffer and handed to the
 * port as one long message (a null port that takes it at once, so that the
 * figure is the interpreter's and not a port's).  Also the whole typing of
 * a line key by key, echo included (to /dev/null, buffered as in the
 * program), and ENTER.
 */
#include "bench_null.h"

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "output/output.h"

#include <benchmark/benchmark.h>

#include <string.h>

namespace {

void setUp(uint8_t base)
{
    benchNullPortInstall();
    gNumBase = base;
    gChannel = 0;
    gMode = 0;
    gIdStr[0] = 0x7D;
    gIdStr[1] = gIdStr[2] = gIdStr[3] = 0xFF;
}

void interpret(benchmark::State &state, const char *line, uint8_t base)
{
    setUp(base);
    BenchQuietConsole quiet;
    size_t len = strlen(line);
    for (auto _ : state) {
        memcpy(gCmdStr, line, len + 1);
        gMsgLength = 0;
        executeCmdStr();
        benchmark::DoNotOptimize(gSbuf[0]);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * (int64_t)len);
}

void typeLine(benchmark::State &state, const char *line, uint8_t base)
{
    setUp(base);
    BenchQuietConsole quiet;
    gCmdPtr = 0;
    for (auto _ : state) {
        for (const char *p = line; *p; p++)
            enterChar((uint8_t)*p);
        enterChar('\r');
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_CAPTURE(interpret, note_on_hex, "N 3C 40", 16);
BENCHMARK_CAPTURE(interpret, note_on_decimal, "N 60 127", 10);
BENCHMARK_CAPTURE(interpret, three_messages, "K 7 64 P 5 Z 40", 16);
BENCHMARK_CAPTURE(interpret, channel_and_notes, "M 2 N 3C 40 N 3E 40 X 3C 0", 16);
BENCHMARK_CAPTURE(interpret, sysex_text, "S hello world \\10\\20\\7F", 16);
BENCHMARK_CAPTURE(interpret, field_error, "N 3C 40 X 3C", 16);
BENCHMARK_CAPTURE(interpret, long_sysex_line,
    "S 0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz"
    "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz"
    "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz",
    16);
BENCHMARK_CAPTURE(typeLine, typed_note_on_with_echo, "N 3C 40", 16);

BENCHMARK_MAIN();
