/*
 * The Standard MIDI File log: the header, the events as their bytes
 * (delta times, running status, escapes, SysEx lengths), a file taken as
 * it is at every moment of its writing, as a kill would leave it, a file
 * whose writes fail, and the order of arrival.
 */
#include "extras/smf.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

/* the log's file in memory, with a copy after every step; it grows to
   `limit` bytes at most, as under a file size limit or on a full disk (a
   write past it puts what fits and fails) */
class MemoryOut : public SmfOut {
public:
    Bytes file;
    std::vector<Bytes> moments;
    size_t limit = SIZE_MAX;
    bool writeAt(uint32_t offset, const uint8_t *p, uint32_t n) override
    {
        if (offset > file.size())
            return false;
        size_t fits = offset + n <= limit ? n : offset < limit ? limit - offset : 0;
        if (offset + fits > file.size())
            file.resize(offset + fits);
        std::copy(p, p + fits, file.begin() + offset);
        moments.push_back(file);
        return fits == n;
    }
    bool flush() override { return true; }
};

std::string hex(const Bytes &b, size_t from = 0, size_t to = SIZE_MAX)
{
    std::string s;
    char x[4];
    for (size_t i = from; i < b.size() && i < to; i++) {
        snprintf(x, sizeof x, "%s%02X", s.empty() ? "" : " ", b[i]);
        s += x;
    }
    return s;
}

uint32_t varLen(const Bytes &f, size_t *at)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && *at < f.size(); i++) {
        uint8_t b = f[(*at)++];
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80))
            return v;
    }
    return UINT32_MAX;
}

/* As a strict reader takes the file: the header, then the one track up to
   its End of Track, which must come within the length the header gives.
   The number of events before it, the empty text events an update leaves
   not counted; -1 when the file is not valid. */
int events(const Bytes &f)
{
    static const uint8_t kHead[18] = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0xE7, 0x28, 'M', 'T', 'r', 'k'};
    if (f.size() < 22 || !std::equal(kHead, kHead + 18, f.begin()))
        return -1;
    size_t end = 22 + ((size_t)f[18] << 24 | f[19] << 16 | f[20] << 8 | f[21]);
    size_t at = 22;
    int count = 0;
    uint8_t running = 0;
    while (end <= f.size() && at < end) {
        varLen(f, &at);
        uint8_t s = at < end ? f[at] : 0;
        if (s == 0xFF && at + 2 < end) {
            uint8_t type = f[at + 1];
            at += 2;
            uint32_t n = varLen(f, &at);
            if (type == 0x2F)
                return n == 0 && at <= end ? count : -1;
            count += type != 0x01;
            at += n;
            running = 0;
            continue;
        }
        if (s == 0xF0 || s == 0xF7) {
            at++;
            at += varLen(f, &at);
            running = 0;
        } else {
            if (s & 0x80)
                running = f[at++];
            if (!running)
                return -1;
            at += (running & 0xE0) == 0xC0 ? 1 : 2;
        }
        count++;
    }
    return -1; /* no End of Track within the length */
}

/* what each message becomes in the track, in order */
TEST(SmfLog, EventsAsTheirBytes)
{
    Bytes sysex200(200, 0x41);
    sysex200.front() = 0xF0;
    sysex200.back() = 0xF7;
    const struct {
        int64_t ms;
        Bytes message; /* a short one packed, a SysEx as it came */
        const char *event;
    } cases[] = {
        {0, {0x90, 0x3C, 0x40}, "00 90 3C 40"}, {5, {0x90, 0x3C, 0x00}, "05 3C 00"}, /* running status */
        {300, {0xC0, 0x05}, "82 27 C0 05"},                                          /* a delta of 295 */
        {300, {0xF8}, "00 F7 01 F8"},                         /* real time: an escape */
        {301, {0xC0, 0x06}, "01 C0 06"},                      /* the escape cancelled running status */
        {301, {0xF2, 0x01, 0x02}, "00 F7 03 F2 01 02"},       /* system common too */
        {302, {0xFF}, "01 F7 01 FF"},                         /* a reset is not a meta event */
        {250, {0xB0, 0x07, 0x64}, "00 B0 07 64"},             /* earlier than the last: same tick */
        {400, {0xF0, 0x7D, 0x68, 0xF7}, "62 F0 03 7D 68 F7"}, /* F0, length, the rest */
        {400, {0xB0, 0x07, 0x65}, "00 B0 07 65"},             /* after a SysEx: status again */
        {401, sysex200, "01 F0 81 47 41 ..."},                /* length 199 in two bytes */
        {402, {0xF0, 0x41, 0x42}, "01 F0 02 41 42"},          /* a first piece, no F7 */
        {403, {0x43, 0xF7}, "01 F7 02 43 F7"},                /* the piece after it */
        {403, {0xF4}, "00 F7 01 F4"},                         /* undefined: an escape */
        {20404, {0xFC}, "81 9C 21 F7 01 FC"},                 /* 20 s later: a delta in three bytes */
    };
    MemoryOut out;
    SmfLog log;
    ASSERT_TRUE(log.begin(&out, 1000000));
    EXPECT_EQ(hex(out.file), "4D 54 68 64 00 00 00 06 00 00 00 01 E7 28 4D 54 72 6B 00 00 00 04 00 FF 2F 00");
    size_t end = out.file.size(); /* where the next event goes */
    for (const auto &c : cases) {
        int64_t at = 1000000 + c.ms * 1000 + 999; /* ticks are whole milliseconds */
        const Bytes &m = c.message;
        if (m[0] == 0xF0 || m[0] < 0x80) {
            ASSERT_TRUE(log.sysex(m.data(), (uint32_t)m.size(), at));
        } else {
            uint32_t word = m[0] | (m.size() > 1 ? m[1] << 8 : 0) | (m.size() > 2 ? m[2] << 16 : 0);
            ASSERT_TRUE(log.shortMessage(word, at));
        }
        /* the event, and the ending after it that the next one overwrites */
        ASSERT_GE(out.file.size(), end + 4);
        EXPECT_EQ(hex(out.file, out.file.size() - 4), "00 FF 2F 00");
        std::string got = hex(out.file, end, out.file.size() - 4), want = c.event;
        end = out.file.size() - 4;
        size_t dots = want.find(" ...");
        if (dots != std::string::npos)
            got = got.substr(0, dots), want = want.substr(0, dots);
        EXPECT_EQ(got, want) << "at " << c.ms << " ms";
    }
    ASSERT_TRUE(log.update(2000000));
    EXPECT_EQ(events(out.file), (int)(sizeof cases / sizeof cases[0]));
}

/* The file as a kill would leave it at any moment: always valid, holding
   the events up to its latest update (the header's length covers them,
   ended), never fewer than a moment before. */
TEST(SmfLog, AKilledFileHoldsEverythingUpToTheLastUpdate)
{
    MemoryOut out;
    SmfLog log;
    ASSERT_TRUE(log.begin(&out, 0));
    for (int i = 0; i < 40; i++) {
        int64_t now = i * 150000; /* a note every 150 ms; updates after 7, 14, ... 35 */
        ASSERT_TRUE(log.shortMessage(0x400090u | (uint32_t)(0x30 + i) << 8, now));
        ASSERT_TRUE(log.tick(now));
    }
    EXPECT_EQ(log.dueUs(), 5250000 + SmfLog::kUpdateUs); /* a second after the last update */
    int seen = 0;
    for (size_t m = 1; m < out.moments.size(); m++) {
        int now = events(out.moments[m]);
        ASSERT_GE(now, seen) << "not a valid file, or an event missing, after step " << m;
        seen = now;
    }
    EXPECT_EQ(events(out.file), 36); /* killed now */
    /* the four notes after it are written, not covered: a status after the
       update, then running, and the EOT after the last */
    EXPECT_EQ(out.file.size() - 22 - (out.file[20] << 8 | out.file[21]), 5u + 4 * 3 + 4);
    ASSERT_TRUE(log.update(6000000));
    EXPECT_EQ(events(out.file), 40);
    EXPECT_EQ(out.file.size(), 22 + (size_t)(out.file[21] | out.file[20] << 8));
}

/* A write that fails wherever the file meets its limit (a full disk, the
   file size limit): the file stays valid and holds every event that fitted
   whole with the ending after it, and the log stops.  Twelve messages 300
   ms apart (header updates between them), a long SysEx among them. */
TEST(SmfLog, AFailedWriteKeepsEveryWholeEventBeforeIt)
{
    Bytes big(400, 0x42);
    big.front() = 0xF0, big.back() = 0xF7;
    auto give = [&](SmfLog &log, int i) {
        int64_t us = 100000 + i * 300000;
        bool ok = i == 7 ? log.sysex(big.data(), (uint32_t)big.size(), us)
                         : log.shortMessage(0x400090u | (uint32_t)(0x30 + i) << 8, us);
        return ok && log.tick(us);
    };
    std::vector<size_t> fits; /* the file's length with each event and its ending */
    MemoryOut all;
    SmfLog whole;
    ASSERT_TRUE(whole.begin(&all, 0));
    for (int i = 0; i < 12; i++) {
        ASSERT_TRUE(give(whole, i));
        fits.push_back(all.file.size());
    }
    for (size_t limit = 26; limit <= fits.back(); limit++) {
        MemoryOut out;
        out.limit = limit;
        SmfLog log;
        ASSERT_TRUE(log.begin(&out, 0));
        int given = 0;
        while (given < 12 && give(log, given))
            given++;
        EXPECT_EQ(log.ok(), given == 12);
        EXPECT_EQ(given, std::count_if(fits.begin(), fits.end(), [&](size_t n) { return n <= limit; }))
            << limit;
        EXPECT_EQ(events(out.file), given) << limit;
    }
}

/* Of each event the header covers, the byte that tells its time in the
   table below: a note's key, a SysEx's first byte. */
std::string keys(const Bytes &f)
{
    std::string s;
    size_t end = 22 + ((size_t)f[20] << 8 | f[21]);
    for (size_t at = 22; at < end;) {
        varLen(f, &at);
        uint8_t type = f[at];
        if (type == 0xFF) {
            at += 3;
            continue;
        }
        size_t key = type == 0xF0 ? at + 2 : type == 0x90 ? at + 1 : at;
        s += (s.empty() ? "" : " ") + std::to_string(f[key]);
        at = type == 0xF0 ? at + 2 + f[at + 1] : key + 2;
    }
    return s;
}

/* The display takes the short messages before a SysEx that arrived while
   they waited; the log writes by arrival.  Each step gives a message that
   arrived at `ms` (a SysEx or a note) with the time of what then waits
   behind the short messages (a SysEx, or a wild byte the log leaves out),
   or only says what waits; then the events the file holds, by time. */
TEST(SmfOrder, ArrivalOrderFromTheDisplaysOrder)
{
    const int64_t none = SmfOrder::kNothingWaits;
    enum Kind { Note, Sysex, Waits };
    const struct {
        Kind kind;
        int64_t ms, waitingUs;
        const char *written;
    } steps[] = {
        {Note, 1, none, "1"},            /* nothing waits: at once */
        {Note, 4, 2000, "1"},            /* a SysEx of 2 ms waits: held */
        {Sysex, 2, 3000, "1 2"},         /* the next one, of 3 ms, is in its place */
        {Sysex, 3, none, "1 2 3 4"},     /* then the note held */
        {Note, 5, 5000, "1 2 3 4 5"},    /* the same time: the display's order */
        {Note, 7, 6000, "1 2 3 4 5"},    /* a wild byte of 6 ms waits */
        {Waits, 0, none, "1 2 3 4 5 7"}, /* taken */
    };
    MemoryOut out;
    SmfLog log;
    SmfOrder order;
    ASSERT_TRUE(log.begin(&out, 0));
    order.begin(&log);
    for (const auto &s : steps) {
        const uint8_t sysex[] = {0xF0, (uint8_t)s.ms, 0xF7};
        if (s.kind == Note)
            ASSERT_TRUE(order.shortMessage(0x400090u | (uint32_t)s.ms << 8, s.ms * 1000, s.waitingUs));
        else if (s.kind == Sysex)
            ASSERT_TRUE(order.sysex(sysex, sizeof sysex, s.ms * 1000, s.waitingUs));
        else
            ASSERT_TRUE(order.release(s.waitingUs));
        ASSERT_TRUE(log.update(0));
        EXPECT_EQ(keys(out.file), s.written) << "after " << s.ms << " ms";
    }
}

} // namespace
