/*
 * The port host with backends of the test's own: the numbering across
 * backends, the snapshot taken by each count, the handle and header rules,
 * the input path from a backend's bytes to the callback, and the long
 * messages that wait while the program holds its header.
 */
#include "callback_recorder.h"
#include "platform/common/backend.h"
#include "platform/common/service.h"
#include "platform/host/host.h"
#include "platform/loopback/loopback.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace recorder;

class FakeOut : public vt::OutPort {
public:
    explicit FakeOut(std::vector<uint8_t> *wire, bool *fails) : wire_(wire), fails_(fails) {}
    bool send(const uint8_t *p, size_t n) override
    {
        if (*fails_)
            return false;
        wire_->insert(wire_->end(), p, p + n);
        return true;
    }

private:
    std::vector<uint8_t> *wire_;
    bool *fails_;
};

class FakeIn : public vt::InPort {
public:
    FakeIn(vt::InputSink **slot, int *starts, int *stops) : slot_(slot), starts_(starts), stops_(stops) {}
    ~FakeIn() override { *slot_ = nullptr; }
    bool start() override { return ++*starts_ > 0; }
    void stop() override { ++*stops_; }

private:
    vt::InputSink **slot_;
    int *starts_;
    int *stops_;
};

/* A backend whose port lists change only at a snapshot, as a real one's
   would when hardware comes and goes. */
class FakeBackend : public vt::Backend {
public:
    FakeBackend(std::vector<std::string> outs, std::vector<std::string> ins) : nextOut(outs), nextIn(ins) {}
    void snapshot() override
    {
        snapshots++;
        outs_ = nextOut;
        ins_ = nextIn;
    }
    unsigned outCount() override { return (unsigned)outs_.size(); }
    unsigned inCount() override { return (unsigned)ins_.size(); }
    bool outName(unsigned i, char name[32]) override { return copy(outs_, i, name); }
    bool inName(unsigned i, char name[32]) override { return copy(ins_, i, name); }
    vt::OutPort *openOut(unsigned i) override
    {
        lastOut = (int)i;
        return new FakeOut(&wire, &sendFails);
    }
    vt::InPort *openIn(unsigned i, vt::InputSink *s) override
    {
        lastIn = (int)i;
        if (refuseIn)
            return nullptr;
        sink = s;
        return new FakeIn(&sink, &starts, &stops);
    }

    /* the backend's thread, delivering */
    void feed(std::vector<uint8_t> bytes)
    {
        vt::InputSink *s = sink;
        std::thread t([s, bytes] { s->bytes(bytes.data(), bytes.size()); });
        t.join();
    }
    bool handOver(unsigned kind, uint32_t word)
    {
        vt::InputSink *s = sink;
        bool taken = false;
        std::thread t([&] { taken = s->message(kind, word); });
        t.join();
        return taken;
    }
    bool handOverLong(unsigned kind, std::vector<uint8_t> bytes)
    {
        vt::InputSink *s = sink;
        bool taken = false;
        std::thread t([&] { taken = s->longMessage(kind, bytes.data(), bytes.size()); });
        t.join();
        return taken;
    }

    /* every port of this client, null: none has an address */
    bool address(bool, unsigned, VtPortAddress *addr) override
    {
        if (client)
            strncpy(addr->clientName, client, sizeof addr->clientName - 1);
        return client != nullptr;
    }

    std::vector<std::string> nextOut, nextIn;
    const char *client = nullptr;
    int snapshots = 0;
    int lastOut = -1, lastIn = -1;
    bool refuseIn = false;
    bool sendFails = false;
    std::vector<uint8_t> wire;
    vt::InputSink *sink = nullptr;
    int starts = 0, stops = 0;

private:
    static bool copy(const std::vector<std::string> &v, unsigned i, char name[32])
    {
        if (i >= v.size())
            return false;
        strncpy(name, v[i].c_str(), 31);
        name[31] = 0;
        return true;
    }
    std::vector<std::string> outs_, ins_;
};

class PortHost : public ::testing::Test {
protected:
    PortHost()
        : a({"Synth A", "A port name that is longer than thirty-one"}, {"Keys A"}),
          b({"Net"}, {"Net In", "Pad"})
    {}
    void SetUp() override
    {
        vtInstallMidi(nullptr);
        vt::Backend *list[] = {&a, &b};
        vtHostSetBackends(list, 2);
        recorder::clear();
    }
    void TearDown() override { vtHostSetBackends(nullptr, 0); }

    FakeBackend a, b;
};

std::string outName(UINT i)
{
    MIDIOUTCAPSA c;
    memset(&c, 0x77, sizeof c);
    MMRESULT r = midiOutGetDevCapsA(i, &c, sizeof c);
    if (r)
        return "error " + std::to_string(r);
    EXPECT_EQ(0, c.wMid);
    EXPECT_EQ(0u, c.dwSupport);
    return c.szPname;
}

std::string inName(UINT i)
{
    MIDIINCAPSA c;
    MMRESULT r = midiInGetDevCapsA(i, &c, sizeof c);
    return r ? "error " + std::to_string(r) : std::string(c.szPname);
}

TEST_F(PortHost, PortsNumberedAcrossBackendsInOrder)
{
    EXPECT_EQ(3u, midiOutGetNumDevs());
    EXPECT_EQ(3u, midiInGetNumDevs());
    const struct {
        UINT i;
        const char *out, *in;
    } rows[] = {
        {0, "Synth A", "Keys A"},
        {1, "A port name that is longer than", "Net In"},
        {2, "Net", "Pad"},
        {3, "error 2", "error 2"},
        {99, "error 2", "error 2"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(r.out, outName(r.i)) << r.i;
        EXPECT_EQ(r.in, inName(r.i)) << r.i;
    }
    HMIDIOUT o = nullptr;
    ASSERT_EQ(0u, midiOutOpen(&o, 2, 0, 0, 0));
    EXPECT_EQ(0, b.lastOut);
    EXPECT_EQ(-1, a.lastOut);
    EXPECT_EQ(0u, midiOutClose(o));
    HMIDIIN in = nullptr;
    ASSERT_EQ(0u, midiInOpen(&in, 1, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(0, b.lastIn);
    EXPECT_EQ(0u, midiInClose(in));
    EXPECT_EQ((UINT)MMSYSERR_BADDEVICEID, midiOutOpen(&o, 3, 0, 0, 0));
    EXPECT_EQ(nullptr, o);
}

TEST_F(PortHost, EachCountTakesAFreshSnapshot)
{
    int before = a.snapshots;
    EXPECT_EQ(3u, midiOutGetNumDevs());
    a.nextOut = {"Hot plugged", "Synth A", "Other"};
    EXPECT_EQ("Synth A", outName(0)); /* the list counted last */
    EXPECT_EQ(3u, midiInGetNumDevs());
    EXPECT_EQ(before + 2, a.snapshots);
    EXPECT_EQ(b.snapshots, a.snapshots);
    EXPECT_EQ(4u, midiOutGetNumDevs());
    EXPECT_EQ("Hot plugged", outName(0));
    EXPECT_EQ("Net", outName(3));
}

/* Another program's port that calls itself "Voltanis Loopback" is named
   after its client, cut to 31 bytes on a character's edge, so that the
   bare name finds only the built-in port. */
TEST_F(PortHost, OnlyTheBuiltInLoopbackGoesByItsName)
{
    const char *rows[][2] = {{nullptr, "Voltanis Loopback (external)"}, {"Evil", "Voltanis Loopback (Evil)"},
        {"Abcdefghij\xc3\xb6", "Voltanis Loopback (Abcdefghij)"}};
    for (const auto &r : rows) {
        FakeBackend other({"Voltanis Loopback", "Voltanis Loopback "}, {"Voltanis Loopback"});
        other.client = r[0];
        vt::Backend *list[] = {&other, vtLoopbackBackend()};
        vtHostSetBackends(list, 2);
        ASSERT_EQ(3u, midiOutGetNumDevs());
        EXPECT_EQ(r[1], outName(0));
        EXPECT_EQ("Voltanis Loopback ", outName(1)); /* not the name */
        EXPECT_EQ(VT_LOOPBACK_NAME, outName(2));
        EXPECT_EQ(VT_LOOPBACK_NAME, inName(1));
    }
}

TEST_F(PortHost, OutputHandleAndHeaderRules)
{
    HMIDIOUT h = nullptr;
    EXPECT_EQ((UINT)MMSYSERR_INVALFLAG, midiOutOpen(&h, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    ASSERT_EQ(0u, midiOutOpen(&h, 0, 0, 0, 0));
    char data[] = {'\xc0', '\x05'};
    MIDIHDR hdr = header(data, 2);
    hdr.dwBytesRecorded = 2;
    const struct {
        const char *what;
        std::function<MMRESULT()> call;
        MMRESULT want;
    } rows[] = {
        {"send unprepared", [&] { return midiOutLongMsg(h, &hdr, sizeof hdr); }, MIDIERR_UNPREPARED},
        {"prepare no handle", [&] { return midiOutPrepareHeader(nullptr, &hdr, sizeof hdr); },
            MMSYSERR_INVALHANDLE},
        {"prepare short size", [&] { return midiOutPrepareHeader(h, &hdr, 8); }, MMSYSERR_INVALPARAM},
        {"prepare no header", [&] { return midiOutPrepareHeader(h, nullptr, sizeof hdr); },
            MMSYSERR_INVALPARAM},
        {"prepare", [&] { return midiOutPrepareHeader(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"send no handle", [&] { return midiOutLongMsg(nullptr, &hdr, sizeof hdr); }, MMSYSERR_INVALHANDLE},
        {"send", [&] { return midiOutLongMsg(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"send failing port",
            [&] {
                a.sendFails = true;
                return midiOutLongMsg(h, &hdr, sizeof hdr);
            },
            MMSYSERR_ERROR},
        {"unprepare", [&] { return midiOutUnprepareHeader(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"send after unprepare",
            [&] {
                a.sendFails = false;
                return midiOutLongMsg(h, &hdr, sizeof hdr);
            },
            MIDIERR_UNPREPARED},
        {"close", [&] { return midiOutClose(h); }, MMSYSERR_NOERROR},
        {"close again", [&] { return midiOutClose(h); }, MMSYSERR_INVALHANDLE},
        {"prepare closed", [&] { return midiOutPrepareHeader(h, &hdr, sizeof hdr); }, MMSYSERR_INVALHANDLE},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.want, r.call()) << r.what;
    EXPECT_EQ((std::vector<uint8_t>{0xc0, 0x05}), a.wire);
    EXPECT_EQ((DWORD)MHDR_DONE, hdr.dwFlags);

    /* a handle kept past its close does not reach the next open */
    HMIDIOUT again = nullptr;
    ASSERT_EQ(0u, midiOutOpen(&again, 0, 0, 0, 0));
    EXPECT_NE(h, again);
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutClose(h));
    EXPECT_EQ(0u, midiOutClose(again));
}

TEST_F(PortHost, InputHeaderRulesAndReset)
{
    HMIDIIN h = nullptr;
    ASSERT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordNote, 42, CALLBACK_FUNCTION | MIDI_IO_STATUS));
    static char buf[8];
    MIDIHDR hdr = header(buf, sizeof buf);
    const struct {
        const char *what;
        std::function<MMRESULT()> call;
        MMRESULT want;
    } rows[] = {
        {"add unprepared", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr); }, MIDIERR_UNPREPARED},
        {"start", [&] { return midiInStart(h); }, MMSYSERR_NOERROR},
        {"prepare", [&] { return midiInPrepareHeader(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"add", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"add twice", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr); }, MIDIERR_STILLPLAYING},
        {"unprepare queued", [&] { return midiInUnprepareHeader(h, &hdr, sizeof hdr); },
            MIDIERR_STILLPLAYING},
        {"close queued", [&] { return midiInClose(h); }, MIDIERR_STILLPLAYING},
        {"add no handle", [&] { return midiInAddBuffer(nullptr, &hdr, sizeof hdr); }, MMSYSERR_INVALHANDLE},
        {"reset", [&] { return midiInReset(h); }, MMSYSERR_NOERROR},
        {"unprepare", [&] { return midiInUnprepareHeader(h, &hdr, sizeof hdr); }, MMSYSERR_NOERROR},
        {"close", [&] { return midiInClose(h); }, MMSYSERR_NOERROR},
        {"reset closed", [&] { return midiInReset(h); }, MMSYSERR_INVALHANDLE},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.want, r.call()) << r.what;
    EXPECT_EQ((std::vector<UINT>{MIM_OPEN, MIM_LONGDATA, MIM_CLOSE}), kinds());
    std::vector<Note> got = notes();
    EXPECT_EQ((DWORD_PTR)&hdr, got[1].p1);
    EXPECT_EQ(0u, got[1].recorded);
    EXPECT_EQ(42u, got[1].instance);
    EXPECT_EQ(1, a.starts);
    EXPECT_EQ(1, a.stops);
}

TEST_F(PortHost, BytesBecomeNotificationsOnlyWhileStarted)
{
    HMIDIIN h = nullptr;
    ASSERT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION | MIDI_IO_STATUS));
    ASSERT_NE(nullptr, a.sink);
    static char buf[4];
    MIDIHDR hdr = header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));

    a.feed({0x90, 0x3c, 0x40}); /* before start: nobody listens */
    ASSERT_EQ(0u, midiInStart(h));
    a.feed({0x90, 0x3c});
    a.feed({0x40, 0xf0, 0x01, 0x02});
    a.feed({0x03, 0x04, 0xf7, 0x33});
    a.sink->overrun(17);
    ASSERT_EQ(0u, midiInReset(h));
    a.feed({0xfe}); /* after the reset: nobody listens */
    ASSERT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInClose(h));
    EXPECT_EQ(nullptr, a.sink); /* the port was let go of */
    expectNotes({
        {MIM_OPEN, 0, 0},
        {MIM_DATA, 0x403c90, 0},
        {MIM_LONGDATA, (DWORD_PTR)&hdr, 4}, /* full: f0 01 02 03; the rest waits for a header */
        {MIM_ERROR, 0x33, 0},
        {MIM_VT_OVERRUN, 17, 0},
        {MIM_VT_LONGLOST, 1, 0}, /* the rest, gone with the reset */
        {MIM_CLOSE, 0, 0},
    });
    EXPECT_EQ(0, memcmp(buf, "\xf0\x01\x02\x03", 4));
}

/* A backend whose system parses for itself hands messages over as they
   are, and long ones as a parsed SysEx goes, only while started. */
TEST_F(PortHost, MessagesHandedOverAsTheyAre)
{
    HMIDIIN h = nullptr;
    ASSERT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    static char buf[4];
    MIDIHDR hdr = header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    const struct {
        const char *what;
        std::function<bool()> step;
        bool taken;
    } rows[] = {
        {"before start", [&] { return a.handOver(MIM_ERROR, 0x33); }, false},
        {"start", [&] { return midiInStart(h) == 0; }, true},
        {"long, no header: it waits",
            [&] {
                return a.handOverLong(MIM_LONGDATA, {0xf0, 0xf7});
            },
            true},
        {"queue: it comes at once", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr) == 0; }, true},
        {"short", [&] { return a.handOver(MIM_DATA, 0x403c90); }, true},
        {"a header is not a short message", [&] { return a.handOver(MIM_LONGDATA, 0); }, false},
        {"queue again", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr) == 0; }, true},
        {"long, a piece as long as the header",
            [&] {
                return a.handOverLong(MIM_LONGDATA, {0xf0, 1, 2, 3, 4, 0xf7});
            },
            true},
        {"the rest at the next queue", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr) == 0; }, true},
        {"broken off, waiting",
            [&] {
                return a.handOverLong(MIM_LONGERROR, {0xf0, 9});
            },
            true},
        {"reset: a broken-off one is a loss too, as it would have been shown",
            [&] { return midiInReset(h) == 0; }, true},
        {"after the reset", [&] { return a.handOver(MIM_DATA, 0xf8); }, false},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.taken, r.step()) << r.what;
    ASSERT_EQ(0u, midiInClose(h));
    expectNotes({
        {MIM_OPEN, 0, 0},
        {MIM_LONGDATA, (DWORD_PTR)&hdr, 2},
        {MIM_DATA, 0x403c90, 0},
        {MIM_LONGDATA, (DWORD_PTR)&hdr, 4},
        {MIM_LONGDATA, (DWORD_PTR)&hdr, 2},
        {MIM_VT_LONGLOST, 1, 0},
        {MIM_CLOSE, 0, 0},
    });
}

/* SysEx message number i of `length` bytes: F0, the number in two data
   bytes, a filler counting on from it, F7. */
std::vector<uint8_t> numbered(unsigned i, size_t length)
{
    std::vector<uint8_t> m(length);
    m[0] = 0xf0;
    for (size_t k = 1; k + 1 < length; k++)
        m[k] = (uint8_t)((k == 1 ? i : k == 2 ? i >> 7 : i + k) & 0x7f);
    m[length - 1] = 0xf7;
    return m;
}

/* Messages sent back to back while the program holds its one header: they
   wait, and each queueing of the header hands the oldest over at once;
   what does not fit is dropped whole and counted, said once the waiting
   ones are through, or at the reset. */
TEST_F(PortHost, LongMessagesWaitWhileTheProgramHoldsItsHeader)
{
    const unsigned kAll = ~0u;
    const struct {
        const char *what;
        unsigned messages;
        size_t length;  /* of each, F0 and F7 included */
        DWORD header;   /* the program's header size */
        unsigned taken; /* hand-backs the program takes before the reset */
        unsigned received, lost;
    } rows[] = {
        {"two", 2, 10, 64, kAll, 2, 0},
        {"three", 3, 10, 64, kAll, 3, 0},
        {"300: 256 wait besides the one in the header", 300, 10, 64, kAll, 257, 43},
        {"4 MiB wait", 9, 600 * 1024, 1 << 20, kAll, 7, 2},
        {"longer than the header: in pieces", 2, 100, 32, kAll, 2, 0},
        {"the reset with three waiting", 4, 10, 64, 1, 1, 3},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        recorder::clear();
        HMIDIIN h = nullptr;
        ASSERT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
        std::vector<char> buf(r.header);
        MIDIHDR hdr = header(buf.data(), r.header);
        ASSERT_EQ(0u, midiInStart(h));
        ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
        ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));

        std::vector<uint8_t> sent;
        for (unsigned i = 0; i < r.messages; i++) {
            std::vector<uint8_t> m = numbered(i, r.length);
            sent.insert(sent.end(), m.begin(), m.end());
        }
        a.feed(sent);
        /* the program: queue the header again while it brings something */
        for (unsigned taken = 1; taken < r.taken; taken++) {
            size_t before = kinds().size();
            ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
            if (kinds().size() == before || kinds().back() != MIM_LONGDATA)
                break;
        }
        ASSERT_EQ(0u, midiInReset(h));
        ASSERT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
        ASSERT_EQ(0u, midiInClose(h));

        std::vector<uint8_t> got;
        unsigned lost = 0;
        bool lostSaid = false;
        for (const Note &n : notes()) {
            if (n.msg == MIM_VT_LONGLOST) {
                lost += (unsigned)n.p1;
                lostSaid = true;
            }
            if (n.msg != MIM_LONGDATA || n.data.empty())
                continue;
            EXPECT_FALSE(lostSaid) << "a message handed over after its loss line";
            /* a piece that does not end its message fills the header */
            if (n.data.back() != 0xf7) {
                EXPECT_EQ(r.header, n.recorded);
            }
            got.insert(got.end(), n.data.begin(), n.data.end());
        }
        EXPECT_EQ(r.lost, lost);
        ASSERT_EQ(r.received * r.length, got.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin())) << "whole, in order, none merged";
    }
}

/* New backends (a test's double) drop what a test left open, without a
   word to the callback, and their ports open at once. */
TEST_F(PortHost, NewBackendsDropWhatWasLeftOpen)
{
    HMIDIIN in = nullptr;
    HMIDIOUT out = nullptr;
    ASSERT_EQ(0u, midiInOpen(&in, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    ASSERT_EQ(0u, midiOutOpen(&out, 0, 0, 0, 0));
    static char buf[4];
    MIDIHDR hdr = header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInPrepareHeader(in, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInAddBuffer(in, &hdr, sizeof hdr));

    vt::Backend *list[] = {&b};
    vtHostSetBackends(list, 1);
    EXPECT_EQ(nullptr, a.sink) << "the input port was let go of";
    EXPECT_EQ(1, a.stops);
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_DONE), hdr.dwFlags);
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiInClose(in));
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutClose(out));
    EXPECT_EQ((std::vector<UINT>{MIM_OPEN}), kinds());
    EXPECT_EQ(1u, midiOutGetNumDevs());
    ASSERT_EQ(0u, midiInOpen(&in, 1, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(1, b.lastIn);
    EXPECT_EQ(0u, midiInClose(in));
}

TEST_F(PortHost, RefusedOpensLeaveNoHandle)
{
    b.refuseIn = true;
    HMIDIIN h = (HMIDIIN)(void *)&h;
    EXPECT_EQ((UINT)MMSYSERR_ALLOCATED, midiInOpen(&h, 2, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, h);
    h = (HMIDIIN)(void *)&h;
    EXPECT_EQ((UINT)MMSYSERR_INVALPARAM, midiInOpen(&h, 0, 0, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, h);
    EXPECT_TRUE(kinds().empty());
}

} // namespace
