/*
 * The input parser, byte stream in, notifications out.  Each row feeds one
 * or more chunks (a split between chunks is a split between transmissions)
 * and lists what comes out: "D" short message and "E" invalid byte with
 * the three bytes of the word, "L" a SysEx ended with MIM_LONGDATA and "X"
 * one broken off (MIM_LONGERROR), with its bytes.
 */
#include "platform/common/inparser.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

class Recorder : public vt::InParserTarget {
public:
    void shortMessage(UINT kind, DWORD word) override
    {
        char t[32];
        snprintf(t, sizeof t, "%c %02x %02x %02x",
            kind == MIM_DATA    ? 'D'
            : kind == MIM_ERROR ? 'E'
                                : '?',
            (unsigned)(word & 0xff), (unsigned)(word >> 8 & 0xff), (unsigned)(word >> 16 & 0xff));
        if (word >> 24)
            strcat(t, " !high");
        out.push_back(t);
    }
    void sysexBytes(const uint8_t *p, size_t n) override
    {
        EXPECT_GT(n, 0u);
        sysex_.insert(sysex_.end(), p, p + n);
    }
    void sysexEnd(UINT kind) override
    {
        EXPECT_FALSE(sysex_.empty()) << "an end without a start";
        std::string t = kind == MIM_LONGDATA ? "L" : kind == MIM_LONGERROR ? "X" : "?";
        for (uint8_t b : sysex_) {
            char x[4];
            snprintf(x, sizeof x, " %02x", b);
            t += x;
        }
        out.push_back(t);
        sysex_.clear();
    }
    std::vector<std::string> out;

private:
    std::vector<uint8_t> sysex_;
};

struct Row {
    const char *name;
    std::vector<std::vector<uint8_t>> chunks;
    std::vector<std::string> want;
};

const Row kRows[] = {
    {"note on", {{0x90, 0x3c, 0x7f}}, {"D 90 3c 7f"}},
    {"running status", {{0x91, 0x3c, 0x40, 0x3e, 0x40, 0x40, 0}}, {"D 91 3c 40", "D 91 3e 40", "D 91 40 00"}},
    {"running status one data byte", {{0xc2, 5, 6, 7}}, {"D c2 05 00", "D c2 06 00", "D c2 07 00"}},
    {"channel pressure and pitch wheel", {{0xd0, 0x20, 0xe3, 0x00, 0x40}}, {"D d0 20 00", "D e3 00 40"}},
    {"system common cancels running status", {{0x90, 1, 2, 0xf3, 4, 5, 6}},
        {"D 90 01 02", "D f3 04 00", "E 05 00 00", "E 06 00 00"}},
    {"real time keeps running status", {{0x90, 1, 2, 0xf8, 3, 4}},
        {"D 90 01 02", "D f8 00 00", "D 90 03 04"}},
    {"real time inside a channel message", {{0xb0, 0xfe, 0x07, 0xf8, 0x64}},
        {"D fe 00 00", "D f8 00 00", "D b0 07 64"}},
    {"song position, quarter frame, tune request", {{0xf2, 0x10, 0x20, 0xf1, 0x33, 0xf6}},
        {"D f2 10 20", "D f1 33 00", "D f6 00 00"}},
    {"one-byte system messages", {{0xf4, 0xf5, 0xf7, 0xf9, 0xfd, 0xff, 0xfa}},
        {"D f4 00 00", "D f5 00 00", "D f7 00 00", "D f9 00 00", "D fd 00 00", "D ff 00 00", "D fa 00 00"}},
    {"stray data bytes", {{0x45, 0x7f, 0xf6, 0x01}},
        {"E 45 00 00", "E 7f 00 00", "D f6 00 00", "E 01 00 00"}},
    {"message cut short by a status is dropped", {{0x90, 0x3c, 0x80, 0x3c, 0x00}}, {"D 80 3c 00"}},
    {"split over two feeds", {{0x90, 0x3c}, {0x40}}, {"D 90 3c 40"}},
    {"split status and data", {{0xe0}, {0x01}, {0x02, 0x03}, {0x04}}, {"D e0 01 02", "D e0 03 04"}},
    {"sysex", {{0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7}}, {"L f0 7e 7f 06 01 f7"}},
    {"sysex split over feeds", {{0xf0, 0x41}, {0x10, 0x42}, {0xf7, 0x90, 1, 2}},
        {"L f0 41 10 42 f7", "D 90 01 02"}},
    {"real time inside sysex does not interrupt it", {{0xf0, 0x01, 0xf8, 0x02, 0xfe, 0xf7}},
        {"D f8 00 00", "D fe 00 00", "L f0 01 02 f7"}},
    {"back to back", {{0xf0, 1, 0xf7, 0xf0, 2, 0xf7}}, {"L f0 01 f7", "L f0 02 f7"}},
    {"sysex cut off by a status", {{0xf0, 0x43, 0x12, 0x90, 0x3c, 0x40}}, {"X f0 43 12", "D 90 3c 40"}},
    {"sysex cut off by another sysex", {{0xf0, 1, 0xf0, 2, 0xf7}}, {"X f0 01", "L f0 02 f7"}},
    {"sysex cut off by a system common", {{0xf0, 1, 0xf1, 0x22}}, {"X f0 01", "D f1 22 00"}},
    {"sysex cancels running status", {{0x90, 1, 2, 0xf0, 0xf7, 3}}, {"D 90 01 02", "L f0 f7", "E 03 00 00"}},
};

class InParserRows : public ::testing::TestWithParam<Row> {};

TEST_P(InParserRows, Notifications)
{
    const Row &r = GetParam();
    Recorder rec;
    vt::InParser p(&rec);
    for (const std::vector<uint8_t> &c : r.chunks)
        p.feed(c.data(), c.size());
    EXPECT_EQ(r.want, rec.out) << r.name;
}

INSTANTIATE_TEST_SUITE_P(Table, InParserRows, ::testing::ValuesIn(kRows));

TEST(InParser, ByteAtATimeGivesTheSameAsWhole)
{
    for (const Row &r : kRows) {
        Recorder rec;
        vt::InParser p(&rec);
        for (const std::vector<uint8_t> &c : r.chunks)
            for (uint8_t b : c)
                p.feed(b);
        EXPECT_EQ(r.want, rec.out) << r.name;
    }
}

TEST(InParser, ResetForgetsRunningStatusAndSysex)
{
    Recorder rec;
    vt::InParser p(&rec);
    const uint8_t a[] = {0x90, 1, 2, 0xf0, 5};
    p.feed(a, sizeof a);
    p.reset();
    const uint8_t b[] = {6, 0xf7};
    p.feed(b, sizeof b);
    EXPECT_EQ((std::vector<std::string>{"D 90 01 02", "E 06 00 00", "D f7 00 00"}), rec.out);
}

/* A short message handed over packed (as winmm does) goes back to its
   bytes, and the parser makes the same message of them again. */
TEST(InParser, UnpackedShortMessagesParseBackToThemselves)
{
    const struct {
        DWORD word;
        std::vector<uint8_t> bytes;
        const char *parsed;
    } rows[] = {
        {0x403c90, {0x90, 0x3c, 0x40}, "D 90 3c 40"},
        {0x7f05c3, {0xc3, 0x05}, "D c3 05 00"}, /* one data byte: the rest is not read */
        {0x0040d0, {0xd0, 0x40}, "D d0 40 00"}, {0x7f7fe0, {0xe0, 0x7f, 0x7f}, "D e0 7f 7f"},
        {0x0001f1, {0xf1, 0x01}, "D f1 01 00"}, {0x2010f2, {0xf2, 0x10, 0x20}, "D f2 10 20"},
        {0x0000f6, {0xf6}, "D f6 00 00"}, {0x0000f8, {0xf8}, "D f8 00 00"}, {0x0000ff, {0xff}, "D ff 00 00"},
        {0x000045, {}, nullptr}, /* no status byte: nothing to unpack */
    };
    for (const auto &r : rows) {
        uint8_t b[3];
        unsigned n = vt::unpackShortMessage(r.word, b);
        EXPECT_EQ(r.bytes, std::vector<uint8_t>(b, b + n)) << std::hex << r.word;
        if (!r.parsed)
            continue;
        Recorder rec;
        vt::InParser p(&rec);
        p.feed(b, n);
        EXPECT_EQ(std::vector<std::string>{r.parsed}, rec.out) << std::hex << r.word;
    }
}

} // namespace
