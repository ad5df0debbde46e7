/*
 * Line and byte entry on arbitrary key sequences.
 *
 * In the byte modes every key is checked against a model of the two digit
 * machines written from their state tables: the same echo and messages,
 * and the same bytes sent, each alone in a long message of one byte.
 * In the line modes the command line must hold exactly the characters
 * typed (with backspace taking the last one back, and nothing beyond 511
 * characters), and every line handed to the interpreter may send no more
 * than its characters allow.
 *
 * Text typed at a terminal (characters of any script, in UTF-8) goes
 * through the terminal's key decoder and the main loop: no such key ever
 * acts as a function key.  The decoder hands each byte out alone and
 * unchanged, and the main loop never takes one for a key prefix, not even
 * the 0xE0 that begins U+0800 to U+0FFF.
 */
#include "fuzz_common.h"

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "input/input.h"
#include "output/output.h"
#include "platform/posix/keydecode.h"
#include "platform/testdouble/testdouble.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const uint8_t BS = 0x08, TAB = 0x09, LF = 0x0A, CR = 0x0D;

/* Byte entry as its state tables tell it. */
struct ByteModel {
    int count = 0;
    int first = 0, middle = 0, last = 0;
    uint8_t base = 16;
    std::string out;
    std::vector<uint8_t> sent;

    void clear() { count = first = middle = last = 0; }

    void rubOut()
    {
        out.append((size_t)count, (char)BS);
        out.append((size_t)count, ' ');
        out.append((size_t)count, (char)BS);
    }

    void key(uint8_t c)
    {
        if (c == LF)
            return;
        if (c == TAB)
            c = ' ';
        if (c == '$' || c == '&') {
            base = c == '$' ? 16 : 10;
            out += c == '$' ? "\nnumber base is HEX\n" : "\nnumber base is DECIMAL\n";
            clear();
            return;
        }
        char tmp[64];
        if (base == 16) {
            if (c > 0x60)
                c = (uint8_t)(c - 0x20);
            if (c == BS) {
                rubOut();
                clear();
            } else if (c == ' ' || c == CR) {
                out += " ";
                sent.push_back((uint8_t)(first * 16 + last));
                clear();
            } else if (count == 2) {
                snprintf(tmp, sizeof tmp, " SyncERR:>%x digits ", 2);
                out += tmp;
                clear();
            } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) {
                int v = c <= '9' ? c - '0' : c - 'A' + 10;
                out += (char)c;
                if (count == 0) {
                    first = 0;
                    last = v;
                } else {
                    first = last;
                    last = v;
                }
                count++;
            } else {
                snprintf(tmp, sizeof tmp, " hexERR,typed:%c ", c);
                out.append(tmp, strlen(" hexERR,typed:") + 2);
                clear();
            }
            return;
        }
        if (c == BS) {
            rubOut();
            clear();
        } else if (c == ' ' || c == CR) {
            int v = first * 100 + middle * 10 + last;
            if (v > 255) {
                out += " rangeERR:>255 ";
            } else {
                out += " ";
                sent.push_back((uint8_t)v);
            }
            clear();
        } else if (count == 3) {
            out += " SyncERR:>3digits ";
            clear();
        } else if (c >= '0' && c <= '9') {
            out += (char)c;
            first = middle;
            middle = last;
            last = c - '0';
            count++;
        } else {
            snprintf(tmp, sizeof tmp, " decimalERR,typed:%c ", c);
            out.append(tmp, strlen(" decimalERR,typed:") + 2);
            clear();
        }
    }
};

void resetState(void)
{
    clearDigitState();
    memset(gCmdStr, 0, sizeof gCmdStr);
    gCmdPtr = 0;
    gEnterSysex = 0;
    gChannel = 0;
    gIdStr[0] = 0x7D;
    gIdStr[1] = gIdStr[2] = gIdStr[3] = 0xFF;
    gOutPtr = 0;
    gMsgLength = 0;
    gbCheckFuncKey = 0;
    td::clearSent();
}

void appendUtf8(std::string &s, uint32_t cp)
{
    if (cp < 0x80) {
        s += (char)cp;
    } else if (cp < 0x800) {
        s += (char)(0xC0 | (cp >> 6));
        s += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += (char)(0xE0 | (cp >> 12));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    } else {
        s += (char)(0xF0 | (cp >> 18));
        s += (char)(0x80 | ((cp >> 12) & 0x3F));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    }
}

void typedText(FuzzedDataProvider &in)
{
    std::string text;
    while (in.remaining_bytes() >= 4 && text.size() < 2000) {
        uint32_t cp = in.ConsumeIntegralInRange<uint32_t>(0x20, 0x10FFFF);
        /* printable text: no DEL, no surrogates; half the characters from
           the three-byte range that begins with 0xE0 */
        if (in.ConsumeBool())
            cp = 0x800 + cp % 0x800;
        if (cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF))
            continue;
        appendUtf8(text, cp);
    }

    VtKeyDecoder dec;
    vtKeyInit(&dec);
    for (size_t i = 0; i < text.size(); i++) {
        uint8_t out[VT_KEY_OUT_MAX];
        unsigned n = vtKeyFeed(&dec, (uint8_t)text[i], out);
        FUZZ_CHECK(n == 1 && out[0] == (uint8_t)text[i], "text byte %zu (%02x) decoded into %u key bytes", i,
            (uint8_t)text[i], n);
    }
    FUZZ_CHECK(!vtKeyPending(&dec), "the decoder waits in the middle of text");

    const int32_t mode = gMode;
    td::textKeys(text);
    OutputCapture cap;
    size_t keys = 0;
    while (_kbhit()) {
        mainLoopPass();
        keys++;
        FUZZ_CHECK(gbCheckFuncKey == 0, "character key %zu was taken for a key prefix", keys);
    }
    FUZZ_CHECK(keys == text.size(), "%zu keys handled of %zu typed", keys, text.size());
    FUZZ_CHECK(gMode == mode && !gbRecFileOpen && ghSendFile == INVALID_HANDLE_VALUE,
        "typed text acted as a function key");
}

void byteModes(FuzzedDataProvider &in)
{
    ByteModel model;
    model.base = gNumBase;
    std::vector<uint8_t> keys = in.ConsumeRemainingBytes<uint8_t>();

    OutputCapture cap;
    for (uint8_t k : keys)
        enterChar(k);
    std::string out = cap.text();
    for (uint8_t k : keys)
        model.key(k);

    if (!cap.cut())
        FUZZ_CHECK(out == model.out, "echo differs after %zu keys:\n got [%s]\nwant [%s]", keys.size(),
            out.c_str(), model.out.c_str());
    const std::vector<std::vector<uint8_t>> &sent = td::sent();
    FUZZ_CHECK(sent.size() == model.sent.size(), "%zu bytes sent, %zu typed", sent.size(), model.sent.size());
    for (size_t i = 0; i < sent.size(); i++) {
        FUZZ_CHECK(sent[i].size() == 1, "byte %zu left as %zu bytes", i, sent[i].size());
        FUZZ_CHECK(sent[i][0] == model.sent[i], "byte %zu is %02x, typed %02x", i, sent[i][0], model.sent[i]);
    }
    if (!model.sent.empty())
        FUZZ_CHECK(gMsgLength == 1 && gSbuf[0] == model.sent.back(),
            "repeat length %d, first byte %02x after a typed byte", gMsgLength, gSbuf[0]);
    FUZZ_CHECK(gNumBase == model.base, "base %u, model %u", gNumBase, model.base);
}

void lineModes(FuzzedDataProvider &in)
{
    std::string line; /* what the command line must hold */
    std::vector<uint8_t> keys = in.ConsumeRemainingBytes<uint8_t>();
    OutputCapture cap; /* the echo is not judged here, only kept quiet */
    for (uint8_t k : keys) {
        size_t before = td::sent().size();
        enterChar(k);
        uint8_t c = k == TAB ? ' ' : k;
        if (c == LF)
            continue;
        if (line.empty() && (c == '$' || c == '&'))
            continue;
        if (c == CR) {
            if (td::sent().size() > before) {
                const std::vector<uint8_t> &m = td::sent().back();
                FUZZ_CHECK(td::sent().size() == before + 1, "one line sent %zu messages",
                    td::sent().size() - before);
                FUZZ_CHECK(m.size() <= line.size() + 5, "%zu bytes from a line of %zu characters", m.size(),
                    line.size());
            }
            line.clear();
        } else if (c == BS) {
            if (!line.empty())
                line.pop_back();
        } else if (line.size() < sizeof gCmdStr - 1) {
            line += (char)c;
        }
        FUZZ_CHECK(gCmdPtr >= 0 && (size_t)gCmdPtr == line.size(), "line position %d, typed %zu", gCmdPtr,
            line.size());
        FUZZ_CHECK(memcmp(gCmdStr, line.data(), line.size()) == 0, "the line differs from the keys");
        FUZZ_CHECK(gOutPtr >= 0 && gOutPtr <= (int32_t)sizeof gCmdStr + 5, "write position %d", gOutPtr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzSetUpOutputPort();
    if (!gOutHandle && midiOutOpen(&gOutHandle, 0, 0, 0, 0) != MMSYSERR_NOERROR)
        abort();
    resetState();
    FuzzedDataProvider in(data, size);
    uint8_t sel = in.ConsumeIntegral<uint8_t>();
    gMode = sel & 3;
    gNumBase = (sel & 4) ? 10 : 16;
    if (sel & 8)
        typedText(in);
    else if (gMode >= 2)
        byteModes(in);
    else
        lineModes(in);
    return 0;
}
