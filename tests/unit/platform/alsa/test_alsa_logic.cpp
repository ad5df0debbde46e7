/*
 * The sequencer backend's own decisions, on plain data, without a
 * sequencer: which ports are offered under what name, bytes to events and
 * back (running status, SysEx chunks, cut-short and split messages), the
 * routing of arriving events to open inputs, and how a chunked SysEx and a
 * reset look to the port host.  The same paths against a real kernel are
 * checked by tests/alsa (a virtual machine).
 */
#ifdef VOLTANIS_HAVE_ALSA

#include "../callback_recorder.h"
#include "platform/alsa/seqlogic.h"
#include "platform/common/inparser.h"
#include "platform/common/service.h"
#include "platform/host/host.h"

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using vt::seq::PortDesc;
typedef std::vector<uint8_t> Bytes;

const unsigned W = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
const unsigned R = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

std::vector<std::string> names(const PortDesc *p, unsigned n)
{
    std::vector<std::string> v;
    for (unsigned i = 0; i < n; i++)
        v.push_back(p[i].name);
    return v;
}

/* ---- port lists ------------------------------------------------------- */

const PortDesc kSeen[] = {
    {0, 0, R, "Timer"},
    {0, 1, R | W, "Announce"},
    {20, 0, R | W, "Synth B"},
    {14, 0, R | W, "Midi Through Port-0"},
    {16, 1, W, "Out Only 16:1"},
    {16, 0, R, "In Only 16:0"},
    {128, 0, R | W, "Own Port"},
    {17, 0, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE, "No Subscriptions"},
    {18, 0, R | W | SND_SEQ_PORT_CAP_NO_EXPORT, "Not For Export"},
    {19, 0, W | SND_SEQ_PORT_CAP_READ, "Writable, Readable Unsubscribed"},
    {20, 2, R | W | SND_SEQ_PORT_CAP_DUPLEX, "Synth B Port 2"},
};
const unsigned kNumSeen = sizeof kSeen / sizeof kSeen[0];

TEST(AlsaPorts, OutputsAreWritableSubscribableOthersInAddressOrder)
{
    PortDesc out[16];
    unsigned n = vt::seq::pickPorts(kSeen, kNumSeen, 128, vt::seq::kOutput, out, 16);
    EXPECT_EQ((std::vector<std::string>{"Midi Through Port-0", "Out Only 16:1",
                  "Writable, Readable Unsubscribed", "Synth B", "Synth B Port 2"}),
        names(out, n));
}

TEST(AlsaPorts, InputsAreReadableSubscribableOthersInAddressOrder)
{
    PortDesc in[16];
    unsigned n = vt::seq::pickPorts(kSeen, kNumSeen, 128, vt::seq::kInput, in, 16);
    EXPECT_EQ((std::vector<std::string>{"Midi Through Port-0", "In Only 16:0", "Synth B", "Synth B Port 2"}),
        names(in, n));
}

TEST(AlsaPorts, OwnClientIsWhicheverNumberItHas)
{
    /* as client 20, Synth B's ports are this program's own */
    PortDesc out[16];
    unsigned n = vt::seq::pickPorts(kSeen, kNumSeen, 20, vt::seq::kOutput, out, 16);
    EXPECT_EQ((std::vector<std::string>{
                  "Midi Through Port-0", "Out Only 16:1", "Writable, Readable Unsubscribed", "Own Port"}),
        names(out, n));
}

TEST(AlsaPorts, TooManyKeepsTheLowestAddresses)
{
    /* whatever order the sequencer reports them in */
    PortDesc seen[6] = {
        {40, 0, W, "d"},
        {30, 1, W, "c"},
        {50, 0, W, "e"},
        {30, 0, W, "b"},
        {15, 3, W, "a"},
        {60, 0, W, "f"},
    };
    PortDesc out[3];
    unsigned n = vt::seq::pickPorts(seen, 6, 128, vt::seq::kOutput, out, 3);
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), names(out, n));
    EXPECT_EQ(0u, vt::seq::pickPorts(seen, 6, 128, vt::seq::kOutput, out, 0));
    EXPECT_EQ(0u, vt::seq::pickPorts(seen, 0, 128, vt::seq::kOutput, out, 3));
}

/* A vanished port is followed by its name: the first by address of that
   name (names compared as the lists cut them), and how many have it. */
TEST(AlsaPorts, FollowedByNameTheLowestAddressWins)
{
    const std::string longName(40, 'x');
    PortDesc list[] = {{14, 0, 0, "Midi Through Port-0"}, {20, 0, 0, "Synth"}, {24, 1, 0, "Synth"}, {30, 0, 0, ""}};
    snprintf(list[3].name, sizeof list[3].name, "%s", longName.c_str());
    const struct {
        const char *name;
        int at;
        unsigned alike;
    } cases[] = {{"Synth", 1, 2}, {"Midi Through Port-0", 0, 1}, {"synth", -1, 0}, {"Synt", -1, 0},
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 3, 1}};
    for (const auto &c : cases) {
        unsigned alike = 99;
        EXPECT_EQ(vt::seq::findByName(list, 4, c.name, &alike), c.at) << c.name;
        EXPECT_EQ(alike, c.alike) << c.name;
    }
}

/* The exits the announcements tell: a port or its whole client gone since
   a mark; when more went than are kept, every port counts as gone. */
TEST(AlsaPorts, ExitLogTellsWhatWentSinceAMark)
{
    vt::seq::ExitLog log;
    log.record(20, 0);
    uint64_t mark = log.mark();
    log.record(24, 1);
    log.record(30, -1);
    const struct {
        int client, port;
        bool gone;
    } cases[] = {{20, 0, false}, {24, 1, true}, {24, 0, false}, {30, 5, true}, {31, 0, false}};
    for (const auto &c : cases)
        EXPECT_EQ(log.goneSince(mark, c.client, c.port), c.gone) << c.client << ":" << c.port;
    for (unsigned i = 0; i < vt::seq::ExitLog::kKept; i++)
        log.record(99, 0);
    EXPECT_TRUE(log.goneSince(mark, 31, 0)) << "more went than are kept";
    EXPECT_FALSE(log.goneSince(log.mark(), 99, 0));
}

TEST(AlsaPorts, NamesAreCutTo31BytesAtACharacterBoundary)
{
    const std::string a29(29, 'a'), a30(30, 'a'), a28(28, 'a');
    struct {
        std::string seq, shown;
    } cases[] = {
        {"Midi Through Port-0", "Midi Through Port-0"}, {"", ""},
        {"VirMIDI 0-0     ", "VirMIDI 0-0     "}, /* blanks are part of the name */
        {std::string(31, 'x'), std::string(31, 'x')}, {std::string(63, 'y'), std::string(31, 'y')},
        {a30 + "\xC3\xA9", a30},                            /* a 2-byte character would be cut */
        {a29 + "\xC3\xA9" + "z", a29 + "\xC3\xA9"},         /* it just fits */
        {a28 + "\xE2\x82\xAC" + "z", a28 + "\xE2\x82\xAC"}, /* 3 bytes, just fits */
        {a29 + "\xE2\x82\xAC", a29},                        /* 3 bytes, one too many */
        {a30 + "\xF0\x9F\x8E\xB9", a30},                    /* 4 bytes */
        {a28 + "\xF0\x9F\x8E\xB9", a28},                    /* 4 bytes, cut after its third */
    };
    for (auto &c : cases) {
        char name[32];
        memset(name, 0x55, sizeof name);
        vt::seq::portName(c.seq.c_str(), name);
        EXPECT_EQ(c.shown, std::string(name)) << "for \"" << c.seq << "\"";
    }
}

/* ---- bytes to events and back ----------------------------------------- */

/* Collects the encoder's events, with their SysEx data copied. */
struct Emitted {
    std::vector<snd_seq_event_t> events;
    std::vector<Bytes> data;
    int failAt = -1; /* the emit with this index fails */

    static bool emit(void *ctx, const snd_seq_event_t *ev)
    {
        Emitted *e = (Emitted *)ctx;
        if ((int)e->events.size() == e->failAt)
            return false;
        e->events.push_back(*ev);
        Bytes d;
        if (ev->type == SND_SEQ_EVENT_SYSEX) {
            const uint8_t *p = (const uint8_t *)ev->data.ext.ptr;
            d.assign(p, p + ev->data.ext.len);
        }
        e->data.push_back(d);
        return true;
    }
};

struct ByteSink : vt::InputSink {
    Bytes got;
    unsigned calls = 0;
    unsigned lost = 0;
    void bytes(const uint8_t *p, size_t n) override
    {
        got.insert(got.end(), p, p + n);
        calls++;
    }
    void overrun(unsigned count) override { lost += count; }
};

/* What a receiver decodes from the events the transmissions become. */
Bytes roundTrip(const std::vector<Bytes> &sends, Emitted *seen = nullptr)
{
    vt::seq::EventEncoder enc;
    vt::seq::EventDecoder dec;
    EXPECT_TRUE(enc.ok() && dec.ok());
    Emitted e;
    for (const Bytes &s : sends)
        EXPECT_TRUE(enc.encode(s.data(), s.size(), Emitted::emit, &e));
    ByteSink sink;
    for (size_t i = 0; i < e.events.size(); i++) {
        snd_seq_event_t ev = e.events[i];
        if (ev.type == SND_SEQ_EVENT_SYSEX)
            ev.data.ext.ptr = e.data[i].data(); /* the encoder's copy is gone */
        dec.deliver(&ev, &sink);
    }
    if (seen)
        *seen = e;
    return sink.got;
}

Bytes sysex(size_t total)
{
    Bytes b(total);
    b[0] = 0xF0;
    for (size_t i = 1; i + 1 < total; i++)
        b[i] = (uint8_t)((i * 13) & 0x7F);
    b[total - 1] = 0xF7;
    return b;
}

TEST(AlsaCodec, BytesLeaveAndComeBackAsACableCarriesThem)
{
    struct {
        const char *what;
        std::vector<Bytes> sends;
        Bytes back;
    } cases[] = {
        {"note on", {{0x90, 0x3C, 0x40}}, {0x90, 0x3C, 0x40}},
        {"running status gets its status", {{0x90, 0x3C, 0x40, 0x3E, 0x41}},
            {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x41}},
        {"running status, one data byte", {{0xC0, 0x05, 0x06}}, {0xC0, 0x05, 0xC0, 0x06}},
        {"several messages", {{0xB3, 0x07, 0x64, 0xD1, 0x22, 0xA4, 0x3C, 0x10, 0x82, 0x3C, 0x00}},
            {0xB3, 0x07, 0x64, 0xD1, 0x22, 0xA4, 0x3C, 0x10, 0x82, 0x3C, 0x00}},
        {"pitch wheel extremes", {{0xE0, 0x00, 0x00, 0xE0, 0x7F, 0x7F, 0xE5, 0x00, 0x40}},
            {0xE0, 0x00, 0x00, 0xE0, 0x7F, 0x7F, 0xE5, 0x00, 0x40}},
        {"split between transmissions", {{0x90}, {0x3C}, {0x40}}, {0x90, 0x3C, 0x40}},
        {"running status across transmissions", {{0x90, 0x3C, 0x40}, {0x3E, 0x41}},
            {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x41}},
        {"system common", {{0xF1, 0x23, 0xF2, 0x10, 0x20, 0xF3, 0x05, 0xF6}},
            {0xF1, 0x23, 0xF2, 0x10, 0x20, 0xF3, 0x05, 0xF6}},
        {"system common ends running status", {{0x90, 0x3C, 0x40, 0xF6, 0x3E, 0x41}},
            {0x90, 0x3C, 0x40, 0xF6}},
        {"real time, also inside a message", {{0xF8, 0x90, 0x3C, 0xFA, 0x40, 0xFC, 0xFE, 0xFF}},
            {0xF8, 0xFA, 0x90, 0x3C, 0x40, 0xFC, 0xFE, 0xFF}},
        {"undefined F4 F5 F9 FD do not travel", {{0xF4, 0xF5, 0xF9, 0xFD, 0x90, 0x3C, 0x40}},
            {0x90, 0x3C, 0x40}},
        {"stray data bytes go nowhere",
            {{0x3C, 0x40}, {0xF0, 0x01, 0xF7, 0x3C, 0x40}, {0xF2, 0x01, 0x02, 0x03}},
            {0xF0, 0x01, 0xF7, 0xF2, 0x01, 0x02}},
        {"a lone F7 goes nowhere", {{0xF7, 0x90, 0x3C, 0x40}}, {0x90, 0x3C, 0x40}},
        {"a message cut short by another", {{0x90, 0x3C, 0x80, 0x3C, 0x00}}, {0x80, 0x3C, 0x00}},
        {"SysEx", {{0xF0, 0x7D, 0x01, 0x02, 0xF7}}, {0xF0, 0x7D, 0x01, 0x02, 0xF7}},
        {"SysEx over three transmissions", {{0xF0, 0x7D}, {0x01}, {0x02, 0xF7}},
            {0xF0, 0x7D, 0x01, 0x02, 0xF7}},
        {"real time inside SysEx keeps its place", {{0xF0, 0x7D, 0xF8, 0x01, 0xF7}},
            {0xF0, 0x7D, 0xF8, 0x01, 0xF7}},
        {"SysEx cut short by a status byte", {{0xF0, 0x7D, 0x01, 0x90, 0x3C, 0x40}},
            {0xF0, 0x7D, 0x01, 0x90, 0x3C, 0x40}},
        {"SysEx cut short by another SysEx", {{0xF0, 0x01, 0xF0, 0x02, 0xF7}},
            {0xF0, 0x01, 0xF0, 0x02, 0xF7}},
        {"SysEx ends running status", {{0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7, 0x3E, 0x41}},
            {0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7}},
        {"long SysEx", {sysex(3000)}, sysex(3000)},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.back, roundTrip(c.sends)) << c.what;
}

TEST(AlsaCodec, LongSysExLeavesInChunksTheReceiverJoins)
{
    for (size_t total : {2u, 255u, 256u, 257u, 1000u, 100000u}) {
        Bytes msg = sysex(total);
        Emitted e;
        EXPECT_EQ(msg, roundTrip({msg}, &e)) << total;
        size_t chunks = (total + vt::seq::EventEncoder::kChunk - 1) / vt::seq::EventEncoder::kChunk;
        ASSERT_EQ(chunks, e.events.size()) << total;
        for (size_t i = 0; i < e.events.size(); i++) {
            EXPECT_EQ(SND_SEQ_EVENT_SYSEX, e.events[i].type);
            EXPECT_LE(e.data[i].size(), vt::seq::EventEncoder::kChunk);
            EXPECT_EQ(i == 0, e.data[i].front() == 0xF0);
            EXPECT_EQ(i + 1 == e.events.size(), e.data[i].back() == 0xF7);
        }
    }
}

TEST(AlsaCodec, SendFileBlocksOf64MakeTheSameBytes)
{
    Bytes file = sysex(1000);
    Bytes notes = {0x90, 0x3C, 0x40, 0x3E, 0x40, 0x80, 0x3C, 0x00};
    for (int i = 0; i < 30; i++)
        file.insert(file.end(), notes.begin(), notes.end());
    std::vector<Bytes> blocks;
    for (size_t i = 0; i < file.size(); i += 64)
        blocks.push_back(Bytes(file.begin() + (long)i, file.begin() + (long)std::min(file.size(), i + 64)));
    EXPECT_EQ(roundTrip({file}), roundTrip(blocks));
}

TEST(AlsaCodec, AFailedEmitForgetsTheRest)
{
    vt::seq::EventEncoder enc;
    Emitted e;
    e.failAt = 1;
    Bytes msgs = {0x90, 0x3C, 0x40, 0x91, 0x3C, 0x40, 0x92, 0x3C, 0x40};
    EXPECT_FALSE(enc.encode(msgs.data(), msgs.size(), Emitted::emit, &e));
    EXPECT_EQ(1u, e.events.size());
    /* nothing half-done stays: the next call starts clean, with no
       running status left over */
    e.failAt = -1;
    Bytes next = {0x3C, 0x40, 0xF0, 0x01};
    EXPECT_TRUE(enc.encode(next.data(), next.size(), Emitted::emit, &e));
    EXPECT_EQ(1u, e.events.size());
    enc.reset();
    Bytes after = {0x02, 0xF7, 0x93, 0x3C, 0x40};
    EXPECT_TRUE(enc.encode(after.data(), after.size(), Emitted::emit, &e));
    ASSERT_EQ(2u, e.events.size()); /* the SysEx was forgotten at the reset */
    EXPECT_EQ(SND_SEQ_EVENT_NOTEON, e.events[1].type);
    EXPECT_EQ(3, e.events[1].data.note.channel);
}

TEST(AlsaCodec, DecoderUnfoldsCompoundEventsAndIgnoresNonMidi)
{
    vt::seq::EventDecoder dec;
    snd_seq_event_t ev;
    struct {
        const char *what;
        std::function<void()> make;
        Bytes bytes;
    } cases[] = {
        {"14-bit controller",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_CONTROL14;
                ev.data.control.channel = 2;
                ev.data.control.param = 7;
                ev.data.control.value = 0x1234;
            },
            {0xB2, 0x07, 0x24, 0xB2, 0x27, 0x34}},
        {"registered parameter",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_REGPARAM;
                ev.data.control.channel = 0;
                ev.data.control.param = 0x0081;
                ev.data.control.value = 0x0102;
            },
            {0xB0, 0x65, 0x01, 0xB0, 0x64, 0x01, 0xB0, 0x06, 0x02, 0xB0, 0x26, 0x02}},
        {"note off with velocity",
            [&] {
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_noteoff(&ev, 9, 0x24, 0x33);
            },
            {0x89, 0x24, 0x33}},
        {"song position",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_SONGPOS;
                ev.data.control.value = 0x1000;
            },
            {0xF2, 0x00, 0x20}},
        {"port announcement",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_PORT_SUBSCRIBED;
            },
            {}},
        {"client exit",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_CLIENT_EXIT;
            },
            {}},
        {"echo",
            [&] {
                snd_seq_ev_clear(&ev);
                ev.type = SND_SEQ_EVENT_ECHO;
            },
            {}},
        {"SysEx without data",
            [&] {
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_sysex(&ev, 0, nullptr);
            },
            {}},
        {"SysEx marked fixed",
            [&] {
                static uint8_t d[] = {0xF0, 0xF7};
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_sysex(&ev, 2, d);
                snd_seq_ev_set_fixed(&ev);
            },
            {}},
    };
    for (auto &c : cases) {
        c.make();
        ByteSink sink;
        EXPECT_EQ(c.bytes.size(), dec.deliver(&ev, &sink)) << c.what;
        EXPECT_EQ(c.bytes, sink.got) << c.what;
        EXPECT_EQ(c.bytes.empty() ? 0u : 1u, sink.calls) << c.what;
    }
}

/* ---- routing to open inputs ------------------------------------------- */

snd_seq_event_t noteTo(int port, int note)
{
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_noteon(&ev, 0, note, 0x40);
    ev.dest.port = (unsigned char)port;
    return ev;
}

TEST(AlsaRouter, DeliversOnlyToAStartedPortItsOwnEvents)
{
    vt::seq::InputRouter r;
    ByteSink a, b;
    ASSERT_TRUE(r.add(3, &a));
    ASSERT_TRUE(r.add(7, &b));
    EXPECT_FALSE(r.add(3, &b)) << "one sink per port";
    EXPECT_FALSE(r.add(9, nullptr));
    EXPECT_EQ(2u, r.count());

    struct Step {
        char op; /* e: event to port, s: start, t: stop, r: remove, o: overrun */
        int port;
        size_t aBytes, bBytes; /* what each has received after the step */
        unsigned aLost, bLost;
    } steps[] = {
        {'e', 3, 0, 0, 0, 0}, /* before start: dropped */
        {'o', 0, 0, 0, 0, 0}, /* nobody started: nobody told */
        {'s', 3, 0, 0, 0, 0},
        {'e', 3, 3, 0, 0, 0},
        {'e', 7, 3, 0, 0, 0}, /* 7 not started */
        {'e', 5, 3, 0, 0, 0}, /* no such input */
        {'o', 0, 3, 0, 1, 0},
        {'s', 7, 3, 0, 1, 0},
        {'e', 7, 3, 3, 1, 0},
        {'t', 3, 3, 3, 1, 0},
        {'e', 3, 3, 3, 1, 0}, /* stopped */
        {'o', 0, 3, 3, 1, 1},
        {'s', 3, 3, 3, 1, 1},
        {'e', 3, 6, 3, 1, 1}, /* started again */
        {'r', 3, 6, 3, 1, 1},
        {'e', 3, 6, 3, 1, 1}, /* removed */
        {'s', 3, 6, 3, 1, 1}, /* start of a removed port does nothing */
        {'e', 3, 6, 3, 1, 1},
    };
    int i = 0;
    for (const Step &s : steps) {
        snd_seq_event_t ev = noteTo(s.port, 60);
        switch (s.op) {
        case 'e': r.route(&ev); break;
        case 's': r.start(s.port); break;
        case 't': r.stop(s.port); break;
        case 'r': r.remove(s.port); break;
        case 'o': r.overrun(1); break;
        }
        EXPECT_EQ(s.aBytes, a.got.size()) << "step " << i;
        EXPECT_EQ(s.bBytes, b.got.size()) << "step " << i;
        EXPECT_EQ(s.aLost, a.lost) << "step " << i;
        EXPECT_EQ(s.bLost, b.lost) << "step " << i;
        i++;
    }
    EXPECT_EQ(1u, r.count());
    EXPECT_FALSE(r.start(3));
}

/* the inputs of one merged input and the offered port, with room for
   the host's other inputs */
TEST(AlsaRouter, HasRoomForEveryPlace)
{
    const int n = (int)vt::seq::InputRouter::kPorts;
    static_assert(vt::seq::InputRouter::kPorts >= VT_MAX_INPUTS + 1, "a merged input and the offered port fit");
    vt::seq::InputRouter r;
    ByteSink s[vt::seq::InputRouter::kPorts + 1];
    for (int i = 0; i < n; i++)
        EXPECT_TRUE(r.add(i, &s[i]));
    EXPECT_FALSE(r.add(n, &s[n]));
    r.remove(2);
    EXPECT_TRUE(r.add(n, &s[n]));
}

/* ---- what the port host makes of it ----------------------------------- */

/* A SysEx as the sequencer hands it in: chunks, a clock between two. */
TEST(AlsaToParser, ChunkedSysExBecomesOneMessage)
{
    struct Target : vt::InParserTarget {
        std::vector<uint8_t> bytes;
        std::vector<std::pair<UINT, DWORD>> shorts;
        std::vector<UINT> ends;
        void shortMessage(UINT kind, DWORD word) override { shorts.push_back({kind, word}); }
        void sysexBytes(const uint8_t *p, size_t n) override { bytes.insert(bytes.end(), p, p + n); }
        void sysexEnd(UINT kind) override { ends.push_back(kind); }
    } t;

    struct Feed : vt::InputSink {
        vt::InParser *p;
        void bytes(const uint8_t *b, size_t n) override { p->feed(b, n); }
        void overrun(unsigned) override {}
    };
    vt::InParser parser(&t);
    Feed feed;
    feed.p = &parser;

    Bytes msg = sysex(100000);
    Emitted e;
    vt::seq::EventEncoder enc;
    size_t half = 50001;
    ASSERT_TRUE(enc.encode(msg.data(), half, Emitted::emit, &e));
    const uint8_t clock = 0xF8;
    ASSERT_TRUE(enc.encode(&clock, 1, Emitted::emit, &e));
    ASSERT_TRUE(enc.encode(msg.data() + half, msg.size() - half, Emitted::emit, &e));
    vt::seq::EventDecoder dec;
    for (size_t i = 0; i < e.events.size(); i++) {
        snd_seq_event_t ev = e.events[i];
        if (ev.type == SND_SEQ_EVENT_SYSEX)
            ev.data.ext.ptr = e.data[i].data();
        dec.deliver(&ev, &feed);
    }
    ASSERT_EQ(1u, t.ends.size());
    EXPECT_EQ((UINT)MIM_LONGDATA, t.ends[0]);
    EXPECT_TRUE(msg == t.bytes);
    ASSERT_EQ(1u, t.shorts.size());
    EXPECT_EQ((UINT)MIM_DATA, t.shorts[0].first);
    EXPECT_EQ(0xF8u, t.shorts[0].second);
}

/* A backend port made of the router, behind the real port host. */
class RoutedBackend : public vt::Backend {
public:
    vt::seq::InputRouter router;
    void snapshot() override {}
    unsigned outCount() override { return 0; }
    unsigned inCount() override { return 1; }
    bool outName(unsigned, char[32]) override { return false; }
    bool inName(unsigned i, char name[32]) override
    {
        strcpy(name, "Routed");
        return i == 0;
    }
    vt::OutPort *openOut(unsigned) override { return nullptr; }
    vt::InPort *openIn(unsigned, vt::InputSink *sink) override
    {
        return router.add(kPort, sink) ? new In(this) : nullptr;
    }
    static constexpr int kPort = 5;

private:
    struct In : vt::InPort {
        RoutedBackend *b;
        explicit In(RoutedBackend *rb) : b(rb) {}
        ~In() override { b->router.remove(kPort); }
        bool start() override { return b->router.start(kPort); }
        void stop() override { b->router.stop(kPort); }
    };
};

TEST(AlsaToHost, ResetHandsBackTheHeaderAndEndsDelivery)
{
    vtInstallMidi(nullptr);
    RoutedBackend rb;
    vt::Backend *list[] = {&rb};
    vtHostSetBackends(list, 1);
    recorder::clear();
    HMIDIIN h = nullptr;
    MIDIHDR hdr;
    /* whatever fails below, the host gets its own backends back */
    struct Restore {
        HMIDIIN &h;
        MIDIHDR &hdr;
        ~Restore()
        {
            if (h) {
                midiInReset(h);
                midiInUnprepareHeader(h, &hdr, sizeof hdr);
                midiInClose(h);
            }
            vtHostSetBackends(nullptr, 0);
        }
    } restore{h, hdr};

    ASSERT_EQ(1u, midiInGetNumDevs());
    ASSERT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recorder::recordNote, 0, CALLBACK_FUNCTION | MIDI_IO_STATUS));
    static char buf[1024];
    hdr = recorder::header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInStart(h));
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));

    /* a note and the start of a SysEx arrive; then the reset */
    snd_seq_event_t note = noteTo(RoutedBackend::kPort, 0x3C);
    rb.router.route(&note);
    uint8_t part[] = {0xF0, 0x7D, 0x01, 0x02};
    snd_seq_event_t sx;
    snd_seq_ev_clear(&sx);
    snd_seq_ev_set_sysex(&sx, sizeof part, part);
    sx.dest.port = RoutedBackend::kPort;
    rb.router.route(&sx);
    ASSERT_EQ(0u, midiInReset(h));
    recorder::expectNotes({{MIM_OPEN, 0, 0}, {MIM_DATA, 0x403C90, 0}, {MIM_LONGDATA, (DWORD_PTR)&hdr, 0}});
    EXPECT_EQ(0u, hdr.dwBytesRecorded) << "a reset hands the buffer back empty";
    EXPECT_TRUE(hdr.dwFlags & MHDR_DONE);
    EXPECT_FALSE(hdr.dwFlags & MHDR_INQUEUE);

    /* after the reset nothing comes; after the close nothing can */
    rb.router.route(&note);
    ASSERT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInClose(h));
    h = nullptr;
    rb.router.route(&note);
    EXPECT_EQ(0u, rb.router.count());
    std::vector<recorder::Note> got = recorder::notes();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ((UINT)MIM_CLOSE, got[3].msg);
}

} // namespace

#endif /* VOLTANIS_HAVE_ALSA */
