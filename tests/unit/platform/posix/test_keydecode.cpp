/*
 * The terminal key decoder: what each terminal sends for its keys, and the
 * PC console key bytes that must come out of it.
 */
#include "../../hex_text.h"
#include "platform/posix/keydecode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

/* Feeds each piece, then lets the wait run out after it (as a pause in the
   typing); returns all key bytes that came out. */
std::string decode(const std::vector<std::string> &pieces)
{
    VtKeyDecoder d;
    vtKeyInit(&d);
    std::string keys;
    uint8_t out[VT_KEY_OUT_MAX];
    for (const std::string &piece : pieces) {
        for (char c : piece) {
            unsigned n = vtKeyFeed(&d, (uint8_t)c, out);
            EXPECT_LE(n, (unsigned)VT_KEY_OUT_MAX);
            keys.append((const char *)out, n);
        }
        unsigned n = vtKeyTimeout(&d, out);
        keys.append((const char *)out, n);
        EXPECT_FALSE(vtKeyPending(&d));
    }
    return keys;
}

#define S(lit) std::string(lit, sizeof(lit) - 1)
const std::string F1 = S("\x00\x3b"), F2 = S("\x00\x3c"), F3 = S("\x00\x3d"), F4 = S("\x00\x3e"),
                  F5 = S("\x00\x3f"), F6 = S("\x00\x40"), F7 = S("\x00\x41"), F8 = S("\x00\x42"),
                  F9 = S("\x00\x43"), F10 = S("\x00\x44"), F11 = S("\x00\x85"), F12 = S("\x00\x86");
const std::string UP = "\xe0\x48", DOWN = "\xe0\x50", LEFT = "\xe0\x4b", RIGHT = "\xe0\x4d",
                  HOME = "\xe0\x47", END = "\xe0\x4f", PGUP = "\xe0\x49", PGDN = "\xe0\x51", INS = "\xe0\x52",
                  DEL = "\xe0\x53";

struct Row {
    const char *what;
    std::vector<std::string> typed; /* pieces with a pause after each */
    std::string keys;
};

const std::vector<Row> &rows()
{
    static const std::vector<Row> r = {
        /* xterm and its kin (also GNU screen and tmux for F1..F4) */
        {"xterm F1", {"\x1bOP"}, F1},
        {"xterm F2", {"\x1bOQ"}, F2},
        {"xterm F3", {"\x1bOR"}, F3},
        {"xterm F4", {"\x1bOS"}, F4},
        {"xterm F5", {"\x1b[15~"}, F5},
        {"xterm F6", {"\x1b[17~"}, F6},
        {"xterm F7", {"\x1b[18~"}, F7},
        {"xterm F8", {"\x1b[19~"}, F8},
        {"xterm F9", {"\x1b[20~"}, F9},
        {"xterm F10", {"\x1b[21~"}, F10},
        {"xterm F11", {"\x1b[23~"}, F11},
        {"xterm F12", {"\x1b[24~"}, F12},
        /* rxvt */
        {"rxvt F1", {"\x1b[11~"}, F1},
        {"rxvt F2", {"\x1b[12~"}, F2},
        {"rxvt F3", {"\x1b[13~"}, F3},
        {"rxvt F4", {"\x1b[14~"}, F4},
        {"rxvt Ctrl-F1", {"\x1b[11^"}, F1},
        {"rxvt Shift-F5", {"\x1b[15$"}, F5},
        {"rxvt Ctrl-Shift-F12", {"\x1b[24@"}, F12},
        {"rxvt Home", {"\x1b[7~"}, HOME},
        {"rxvt End", {"\x1b[8~"}, END},
        {"rxvt Shift-Up", {"\x1b[a"}, UP},
        {"rxvt Ctrl-Left", {"\x1bOd"}, LEFT},
        /* the Linux console */
        {"linux F1", {"\x1b[[A"}, F1},
        {"linux F2", {"\x1b[[B"}, F2},
        {"linux F3", {"\x1b[[C"}, F3},
        {"linux F4", {"\x1b[[D"}, F4},
        {"linux F5", {"\x1b[[E"}, F5},
        {"linux Home", {"\x1b[1~"}, HOME},
        {"linux End", {"\x1b[4~"}, END},
        /* modifier parameters: the key as without them */
        {"xterm Shift-F1", {"\x1b[1;2P"}, F1},
        {"xterm Ctrl-F2", {"\x1b[1;5Q"}, F2},
        {"xterm Alt-F4", {"\x1b[1;3S"}, F4},
        {"xterm Ctrl-F5", {"\x1b[15;5~"}, F5},
        {"xterm Shift-F12", {"\x1b[24;2~"}, F12},
        {"old xterm Shift-F1", {"\x1bO2P"}, F1},
        {"xterm Alt-Up", {"\x1b[1;3A"}, UP},
        {"xterm Ctrl-End", {"\x1b[1;5F"}, END},
        {"xterm Shift-Delete", {"\x1b[3;2~"}, DEL},
        {"rxvt Alt-Up (meta ESC)", {"\x1b\x1b[A"}, UP},
        {"rxvt Alt-F1 (meta ESC)", {"\x1b\x1bOP"}, F1},
        /* cursor and editing keys */
        {"Up", {"\x1b[A"}, UP},
        {"Down", {"\x1b[B"}, DOWN},
        {"Right", {"\x1b[C"}, RIGHT},
        {"Left", {"\x1b[D"}, LEFT},
        {"Up, cursor keys in application mode", {"\x1bOA"}, UP},
        {"Down, application mode", {"\x1bOB"}, DOWN},
        {"Right, application mode", {"\x1bOC"}, RIGHT},
        {"Left, application mode", {"\x1bOD"}, LEFT},
        {"Home", {"\x1b[H"}, HOME},
        {"End", {"\x1b[F"}, END},
        {"Home, application mode", {"\x1bOH"}, HOME},
        {"End, application mode", {"\x1bOF"}, END},
        {"Insert", {"\x1b[2~"}, INS},
        {"Delete", {"\x1b[3~"}, DEL},
        {"PgUp", {"\x1b[5~"}, PGUP},
        {"PgDn", {"\x1b[6~"}, PGDN},
        /* application keypad, should a terminal be left in it */
        {"keypad 0", {"\x1bOp"}, "0"},
        {"keypad 9", {"\x1bOy"}, "9"},
        {"keypad Enter", {"\x1bOM"}, "\r"},
        {"keypad *", {"\x1bOj"}, "*"},
        {"keypad /", {"\x1bOo"}, "/"},
        /* ordinary keys */
        {"letters and digits", {"N 3C 40"}, "N 3C 40"},
        {"Backspace DEL", {"\x7f"}, "\x08"},
        {"Backspace CTRL-H", {"\x08"}, "\x08"},
        {"Enter", {"\r"}, "\r"},
        {"line feed (CTRL-J)", {"\n"}, "\n"},
        {"control keys", {"\x11\x17\x05\x12\x10\x01\x02\x07\x0e\x06"},
            "\x11\x17\x05\x12\x10\x01\x02\x07\x0e\x06"},
        {"NUL typed (CTRL-@) is dropped, the next key stays", {S("\x00") + "a"}, "a"},
        {"0xE0 typed as text", {"\xe0"}, "\xe0"},
        {"UTF-8 text", {"\xc3\xa9\xe2\x82\xac"}, "\xc3\xa9\xe2\x82\xac"},
        {"8-bit CSI passes as a byte",
            {"\x9b"
             "A"},
            "\x9b"
            "A"},
        /* ESC on its own */
        {"lone ESC", {"\x1b"}, "\x1b"},
        {"lone ESC, then a", {"\x1b", "a"},
            "\x1b"
            "a"},
        {"lone ESC, then Enter", {"\x1b", "\r"}, "\x1b\r"},
        {"two lone ESCs", {"\x1b", "\x1b"}, "\x1b\x1b"},
        {"lone ESC, then F1", {"\x1b", "\x1bOP"}, "\x1b" + F1},
        {"F1 then a lone ESC", {"\x1bOP\x1b"}, F1 + "\x1b"},
        /* ESC and a key within the wait: Alt and that key, dropped */
        {"Alt-a",
            {"\x1b"
             "a"},
            ""},
        {"Alt-a, then b",
            {"\x1b"
             "ab"},
            "b"},
        {"Alt-Enter", {"\x1b\r"}, ""},
        {"Alt-Backspace", {"\x1b\x7f"}, ""},
        {"Alt-e-acute drops the whole character", {"\x1b\xc3\xa9x"}, "x"},
        {"Alt-[ (nothing follows)", {"\x1b["}, ""},
        {"Alt-O (nothing follows)", {"\x1bO"}, ""},
        {"Alt-ESC", {"\x1b\x1b"}, ""},
        {"Alt-ESC, then a lone ESC", {"\x1b\x1b\x1b"}, "\x1b"},
        /* unknown sequences: dropped whole, what follows is intact */
        {"F13 (rxvt Shift-F3)", {"\x1b[25~x"}, "x"},
        {"unknown number", {"\x1b[99~x"}, "x"},
        {"no number before ~", {"\x1b[~x"}, "x"},
        {"bracketed paste start", {"\x1b[200~x"}, "x"},
        {"device attributes answer", {"\x1b[?1;2cx"}, "x"},
        {"mouse report (SGR)", {"\x1b[<0;12;5Mx"}, "x"},
        {"cursor up by two is no key", {"\x1b[2Ax"}, "x"},
        {"back tab", {"\x1b[Zx"}, "x"},
        {"keypad 5", {"\x1b[Ex"}, "x"},
        {"linux unknown", {"\x1b[[Zx"}, "x"},
        {"SS3 unknown", {"\x1bOzx"}, "x"},
        {"SS3 with a space", {"\x1bO x"}, "x"},
        {"intermediate byte", {"\x1b[1 ~x"}, "x"},
        {"absurd number", {"\x1b[99999999999999~x"}, "x"},
        {"too many parameters", {"\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15~x"}, "x"},
        {"two unknown in a row",
            {"\x1b[99~\x1b[98~"
             "ab"},
            "ab"},
        /* malformed: a byte that cannot belong ends the sequence */
        {"CR inside a sequence", {"\x1b[1\r"}, "\r"},
        {"ESC inside a sequence starts anew", {"\x1b[1\x1bOP"}, F1},
        {"DEL inside a sequence", {"\x1b[15\x7f"}, "\x08"},
        {"high byte inside SS3", {"\x1bO\xe0x"}, "\xe0x"},
        {"control inside the Linux form", {"\x1b[[\x11"}, "\x11"},
        /* a sequence cut by the wait is dropped; the rest is text */
        {"F5 cut after ESC [ 1", {"\x1b[1", "5~"}, "5~"},
        {"F1 cut after ESC O", {"\x1bO", "P"}, "P"},
        {"meta cut after ESC ESC", {"\x1b\x1b", "[A"}, "[A"},
    };
    return r;
}

TEST(KeyDecode, EveryTerminalsKeys)
{
    for (const Row &row : rows())
        EXPECT_EQ(hexOf(decode(row.typed)), hexOf(row.keys)) << row.what;
}

/* Byte by byte, the decoder waits for more until the sequence is whole. */
TEST(KeyDecode, PendingUntilTheLastByte)
{
    const std::vector<std::pair<std::string, std::string>> seqs = {{"\x1b[15;5~", F5}, {"\x1bOP", F1},
        {"\x1b[[E", F5}, {"\x1b\x1b[A", UP}, {"\x1b[24~", F12}, {"\x1bO2Q", F2}};
    for (const auto &s : seqs) {
        VtKeyDecoder d;
        vtKeyInit(&d);
        uint8_t out[VT_KEY_OUT_MAX];
        for (size_t i = 0; i + 1 < s.first.size(); i++) {
            EXPECT_EQ(vtKeyFeed(&d, (uint8_t)s.first[i], out), 0u) << hexOf(s.first) << i;
            EXPECT_TRUE(vtKeyPending(&d)) << hexOf(s.first) << i;
        }
        unsigned n = vtKeyFeed(&d, (uint8_t)s.first.back(), out);
        EXPECT_EQ(hexOf(std::string((const char *)out, n)), hexOf(s.second));
        EXPECT_FALSE(vtKeyPending(&d));
    }
}

TEST(KeyDecode, NothingPendingBetweenOrdinaryKeys)
{
    VtKeyDecoder d;
    vtKeyInit(&d);
    uint8_t out[VT_KEY_OUT_MAX];
    EXPECT_EQ(vtKeyTimeout(&d, out), 0u);
    for (const char *p = "a\r\x7f\x11"; *p; p++) {
        EXPECT_EQ(vtKeyFeed(&d, (uint8_t)*p, out), 1u);
        EXPECT_FALSE(vtKeyPending(&d));
    }
}

/* A long run of parameter bytes is taken to its end and dropped whole. */
TEST(KeyDecode, OverlongSequenceDroppedWhole)
{
    std::string typed = "\x1b[" + std::string(5000, '1') + ";" + std::string(5000, '2') + "~ok";
    EXPECT_EQ(decode({typed}), "ok");
}

/* Any stream of whole keys decodes to exactly those keys in order. */
TEST(KeyDecode, StreamsOfWholeKeys)
{
    std::vector<const Row *> whole;
    for (const Row &row : rows())
        if (row.typed.size() == 1 && !row.keys.empty() && row.typed[0].back() != '\x1b' &&
            row.typed[0] != "\x1b")
            whole.push_back(&row);
    /* a key that ends in ESC would need a pause; plain text that could
       complete a cut sequence is fine since every row is whole */
    std::mt19937 rng(20240611);
    for (int round = 0; round < 200; round++) {
        std::string typed, keys;
        int n = 1 + (int)(rng() % 30);
        for (int i = 0; i < n; i++) {
            const Row *r = whole[rng() % whole.size()];
            typed += r->typed[0];
            keys += r->keys;
        }
        ASSERT_EQ(hexOf(decode({typed})), hexOf(keys)) << hexOf(typed);
    }
}

/* Arbitrary bytes: bounded output, prefixed keys always whole, the
   parameter store never overrun, and a wait always settles it. */
TEST(KeyDecode, ArbitraryBytesStayBounded)
{
    std::mt19937 rng(7);
    const char alphabet[] = "\x1b[O;0123456789~^$@ABCDEFHPQRSabcdpyM\r\x7f\xe0\xc3";
    for (int round = 0; round < 2000; round++) {
        VtKeyDecoder d;
        vtKeyInit(&d);
        uint8_t out[VT_KEY_OUT_MAX + 8];
        memset(out, 0xAA, sizeof out);
        int len = (int)(rng() % 64);
        for (int i = 0; i < len; i++) {
            uint8_t b = (rng() % 3) ? (uint8_t)alphabet[rng() % (sizeof alphabet - 1)] : (uint8_t)rng();
            unsigned n = vtKeyFeed(&d, b, out);
            ASSERT_LE(n, (unsigned)VT_KEY_OUT_MAX);
            if (n == 2) {
                ASSERT_TRUE(out[0] == 0x00 || out[0] == 0xE0);
            }
            if (n == 1) {
                ASSERT_NE(out[0], 0x00) << "a lone prefix would eat the next key";
                ASSERT_NE(out[0], 0x7F) << "DEL is Backspace";
                ASSERT_NE(out[0], 0x1B) << "ESC only once the wait is over";
            }
            ASSERT_LE(d.nparam, (unsigned)VT_KEY_PARAM_MAX);
            for (unsigned k = VT_KEY_OUT_MAX; k < sizeof out; k++)
                ASSERT_EQ(out[k], 0xAA);
        }
        ASSERT_LE(vtKeyTimeout(&d, out), 1u);
        ASSERT_FALSE(vtKeyPending(&d));
    }
}

} // namespace
