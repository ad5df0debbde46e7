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

/* The messages of a session, some with header updates between them: the
   short ones packed, a SysEx as it came (one longer than an event the log
   writes at once among them). */
struct Message {
    int64_t us;
    Bytes bytes;
};

std::vector<Message> session()
{
    Bytes big(400, 0x42);
    big.front() = 0xF0;
    big.back() = 0xF7;
    std::vector<Message> m;
    for (int i = 0; i < 12; i++) {
        int64_t us = 100000 + i * 300000; /* updates along the way */
        if (i % 4 == 3)
            m.push_back({us, i == 7 ? big : Bytes{0xF0, 0x7D, (uint8_t)i, 0xF7}});
        else
            m.push_back({us, {0x90, (uint8_t)(0x30 + i), 0x40}});
    }
    return m;
}

bool give(SmfLog &log, const Message &m)
{
    if (m.bytes[0] == 0xF0)
        return log.sysex(m.bytes.data(), (uint32_t)m.bytes.size(), m.us);
    return log.shortMessage(m.bytes[0] | m.bytes[1] << 8 | m.bytes[2] << 16, m.us);
}

/* A write that fails, wherever the file meets its limit (a full disk, the
   file size limit): the file is valid and holds every event whose bytes
   and the EOT after them fitted, and the log stops there.  No limit lets
   the ending be left uncovered: the EOT is written again where the bytes
   are already the file's. */
TEST(SmfLog, AFailedWriteLeavesEveryWholeEventBeforeIt)
{
    const std::vector<Message> messages = session();
    std::vector<size_t> endAfter; /* the file's length with each event and its EOT */
    {
        MemoryOut out;
        SmfLog log;
        ASSERT_TRUE(log.begin(&out, 0));
        for (const Message &m : messages) {
            ASSERT_TRUE(give(log, m));
            endAfter.push_back(out.file.size());
            ASSERT_TRUE(log.tick(m.us));
        }
    }
    for (size_t limit = 20; limit <= endAfter.back() + 8; limit++) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        MemoryOut out;
        out.limit = limit;
        SmfLog log;
        if (!log.begin(&out, 0)) {
            EXPECT_LT(limit, 26u);
            continue;
        }
        size_t whole = 0;
        bool going = true;
        for (const Message &m : messages) {
            going = going && give(log, m) && log.tick(m.us);
            whole += going;
        }
        EXPECT_EQ(log.ok(), going);
        log.update(10000000);
        EXPECT_EQ(whole,
            (size_t)std::count_if(endAfter.begin(), endAfter.end(), [&](size_t e) { return e <= limit; }));
        EXPECT_EQ(events(out.file), (int)whole);
    }
}

/* The display takes the short messages before a SysEx that arrived while
   they waited; the log writes by arrival.  Each step gives a message (at
   `us`, a SysEx when `sysex`) with what then waits behind the short
   messages (`waiting`, 0 for nothing), or only says what waits (`release`);
   `written` is the arrival times of the events the file holds after it. */
TEST(SmfOrder, ArrivalOrderFromTheDisplaysOrder)
{
    const int64_t none = SmfOrder::kNothingWaits;
    enum Kind { Short, Sysex, Release };
    const struct {
        Kind kind;
        int64_t us, waiting;
        const char *written;
    } steps[] = {
        {Short, 1000, none, "1"},                                 /* nothing waits: at once */
        {Short, 3000, 2000, "1"},                                 /* a SysEx of 2 ms waits: held */
        {Short, 4000, 2000, "1"}, {Sysex, 2000, none, "1 2 3 4"}, /* then the ones held */
        {Short, 6000, 5000, "1 2 3 4"}, /* SysEx of 5 ms, and another of 7 ms behind it */
        {Short, 8000, 5000, "1 2 3 4"},
        {Sysex, 5000, 7000, "1 2 3 4 5 6"}, /* the next SysEx is in its place: 6 goes, 8 waits */
        {Short, 9000, 7000, "1 2 3 4 5 6"}, {Sysex, 7000, none, "1 2 3 4 5 6 7 8 9"},
        {Short, 10000, 10000, "1 2 3 4 5 6 7 8 9 10"}, /* the same time: the short one first */
        {Short, 12000, 11000, "1 2 3 4 5 6 7 8 9 10"}, /* a wild byte waits (not logged) */
        {Release, 0, none, "1 2 3 4 5 6 7 8 9 10 12"}, /* taken */
    };
    MemoryOut out;
    SmfLog log;
    SmfOrder order;
    ASSERT_TRUE(log.begin(&out, 0));
    order.begin(&log);
    for (const auto &s : steps) {
        switch (s.kind) {
        case Short:
            ASSERT_TRUE(order.shortMessage(0x400090u | (uint32_t)(s.us / 1000) << 8, s.us, s.waiting));
            break;
        case Sysex: {
            const uint8_t m[] = {0xF0, (uint8_t)(s.us / 1000), 0xF7};
            ASSERT_TRUE(order.sysex(m, sizeof m, s.us, s.waiting));
            break;
        }
        case Release: ASSERT_TRUE(order.release(s.waiting)); break;
        }
        ASSERT_TRUE(log.update(0));
        /* the events' own bytes tell their times: a note's key, a SysEx's byte after F0 */
        std::string written;
        size_t at = 22;
        size_t end = 22 + ((size_t)out.file[20] << 8 | out.file[21]);
        while (at < end) {
            varLen(out.file, &at);
            uint8_t type = out.file[at];
            if (type == 0xFF) {
                at += 3;
                continue;
            }
            if (type == 0xF0) {
                written += (written.empty() ? "" : " ") + std::to_string(out.file[at + 2]);
                at += 2 + out.file[at + 1];
            } else {
                at += type == 0x90 ? 1 : 0;
                written += (written.empty() ? "" : " ") + std::to_string(out.file[at]);
                at += 2;
            }
        }
        EXPECT_EQ(written, s.written) << "after the message of " << s.us << " us";
    }
    /* more held back than it keeps: the oldest goes, nothing is lost */
    for (unsigned i = 0; i < SmfOrder::kHeld + 5; i++)
        ASSERT_TRUE(order.shortMessage(0x400090u, 20000 + i, 19000));
    EXPECT_EQ(order.held(), SmfOrder::kHeld);
    ASSERT_TRUE(order.release(none));
    ASSERT_TRUE(log.update(0));
    EXPECT_EQ(events(out.file), 12 - 1 + (int)SmfOrder::kHeld + 5);
}

} // namespace
