/*
 * The command interpreter on arbitrary command lines, in hexadecimal,
 * decimal or an odd number base, with any manufacturer ID and channel.
 *
 * Checked on every line:
 * - a line either fails with exactly one field message, printed last, and
 *   sends nothing and leaves nothing to repeat; or it sends at most one
 *   long message;
 * - that message is never longer than the line allows (one byte per
 *   character, plus F0, up to four ID bytes and F7 for the SysEx), and it
 *   is well formed: whole messages one behind the other, data bytes below
 *   0x80, a SysEx only at the end, opened by F0 and the current ID and
 *   closed by F7;
 * - the repeat length is what was sent, the write and read positions are
 *   back at 0, the channel stays 1 to 16;
 * - nothing else is printed than the line ends of M commands, and the
 *   healthy port reports no error.
 */
#include "fuzz_common.h"

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "output/output.h"
#include "platform/testdouble/testdouble.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char *const kFieldErrors[] = {
    " CMD ERROR\n",
    " DATA ERROR\n",
    " DATA1 ERROR\n",
    " DATA2 ERROR\n",
    " SysEx ERROR\n",
    " ID1 ERROR\n",
    " ID2 ERROR\n",
    " ID3 ERROR\n",
};

bool endsWith(const std::string &s, const char *tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

/* the ID bytes a SysEx carries: up to the first with its top bit set */
size_t idLength(void)
{
    size_t k = 0;
    while (k < 4 && !(gIdStr[k] & 0x80))
        k++;
    return k;
}

void checkWellFormed(const std::vector<uint8_t> &b)
{
    size_t n = b.size();
    size_t i = 0;
    while (i < n) {
        uint8_t s = b[i];
        FUZZ_CHECK(s >= 0x80, "data byte %02x where a status belongs at %zu in [%s]", s, i,
            fuzzHex(b.data(), n).c_str());
        if (s == 0xF0) {
            size_t k = idLength();
            FUZZ_CHECK(n - i >= 2 + k, "SysEx too short [%s]", fuzzHex(b.data(), n).c_str());
            FUZZ_CHECK(
                memcmp(&b[i + 1], gIdStr, k) == 0, "SysEx without the ID [%s]", fuzzHex(b.data(), n).c_str());
            FUZZ_CHECK(b[n - 1] == 0xF7, "SysEx not closed by F7 [%s]", fuzzHex(b.data(), n).c_str());
            return; /* the SysEx takes the rest of the line */
        }
        size_t need;
        if (s < 0xF0)
            need = (s & 0xE0) == 0xC0 ? 1 : 2;
        else if (s == 0xF1 || s == 0xF3)
            need = 1;
        else if (s == 0xF2)
            need = 2;
        else
            need = 0;
        FUZZ_CHECK(i + need < n, "message %02x cut short [%s]", s, fuzzHex(b.data(), n).c_str());
        for (size_t j = 1; j <= need; j++)
            FUZZ_CHECK(
                b[i + j] < 0x80, "data byte %02x of %02x [%s]", b[i + j], s, fuzzHex(b.data(), n).c_str());
        i += 1 + need;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzSetUpOutputPort();
    FuzzedDataProvider in(data, size);

    uint8_t baseSel = in.ConsumeIntegral<uint8_t>();
    gNumBase = baseSel < 128 ? 16 : baseSel < 240 ? 10 : (uint8_t)(baseSel - 240 + 1);
    for (int i = 0; i < 4; i++)
        gIdStr[i] = in.ConsumeIntegral<uint8_t>();
    gChannel = in.ConsumeIntegralInRange<uint8_t>(0, 15);
    bool noTerminator = in.ConsumeIntegralInRange<uint8_t>(0, 15) == 0;
    std::string line = in.ConsumeRemainingBytesAsString();

    memset(gCmdStr, 0, sizeof gCmdStr);
    size_t lineLen;
    if (noTerminator) {
        /* a line that lost its zero: the readers must stop at the end */
        for (size_t i = 0; i < sizeof gCmdStr; i++) {
            char c = i < line.size() ? line[i] : 'N';
            gCmdStr[i] = c ? c : ' ';
        }
        lineLen = sizeof gCmdStr;
    } else {
        lineLen = strnlen(line.c_str(), sizeof gCmdStr - 1);
        memcpy(gCmdStr, line.data(), lineLen);
    }
    size_t letterM = 0;
    for (size_t i = 0; i < lineLen; i++)
        letterM += (gCmdStr[i] | 0x20) == 'm';

    if (!gOutHandle && midiOutOpen(&gOutHandle, 0, 0, 0, 0) != MMSYSERR_NOERROR)
        abort();
    td::clearSent();
    memset(gSbuf, 0xAA, 1024);
    gOutPtr = 0;
    gMsgLength = 0;
    gCmdPtr = 0;

    OutputCapture cap;
    executeCmdStr();
    std::string out = cap.text();

    const std::vector<std::vector<uint8_t>> &sent = td::sent();
    const char *error = nullptr;
    for (const char *e : kFieldErrors)
        if (endsWith(out, e))
            error = e;
    std::string rest = error ? out.substr(0, out.size() - strlen(error)) : out;
    FUZZ_CHECK(rest.find_first_not_of('\n') == std::string::npos, "unexpected output [%s] for line [%.*s]",
        out.c_str(), (int)lineLen, gCmdStr);
    FUZZ_CHECK(rest.size() <= letterM, "more line ends than M commands [%s]", out.c_str());
    FUZZ_CHECK(gChannel <= 15, "channel %u", gChannel);

    if (error) {
        FUZZ_CHECK(sent.empty(), "a failed line sent %zu messages", sent.size());
        FUZZ_CHECK(gMsgLength == 0, "a failed line left %d to repeat", gMsgLength);
        return 0;
    }
    FUZZ_CHECK(sent.size() <= 1, "one line, %zu long messages", sent.size());
    if (sent.empty()) {
        FUZZ_CHECK(gMsgLength == 0, "nothing sent, %d to repeat", gMsgLength);
        FUZZ_CHECK(gOutPtr == 0, "nothing sent, %d bytes collected", gOutPtr);
        return 0;
    }
    FUZZ_CHECK(gOutPtr == 0 && gCmdPtr == 0, "positions %d %d after the line", gOutPtr, gCmdPtr);
    const std::vector<uint8_t> &msg = sent[0];
    FUZZ_CHECK(!msg.empty(), "an empty long message");
    FUZZ_CHECK(msg.size() <= lineLen + 5, "%zu bytes from a line of %zu characters", msg.size(), lineLen);
    FUZZ_CHECK((size_t)gMsgLength == msg.size(), "repeat length %d, sent %zu", gMsgLength, msg.size());
    FUZZ_CHECK(memcmp(gSbuf, msg.data(), msg.size()) == 0, "the buffer differs from what left");
    checkWellFormed(msg);
    return 0;
}
