/*
 * The double itself, where it has logic of its own: its port lists, the
 * injected failures, deliveries, the end-of-input keys, the keys its line
 * input reads and the file faults.  Everything goes through the contract
 * functions, as the system code calls them (the header rules behind them
 * are the port host's, tested there).
 */
#include "callback_recorder.h"
#include "platform/platform.h"
#include "platform/testdouble/testdouble.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace recorder;

class TestDouble : public ::testing::Test {
protected:
    void SetUp() override
    {
        td::install();
        recorder::clear();
    }
    void TearDown() override { td::uninstall(); }

    HMIDIIN openIn()
    {
        HMIDIIN h = nullptr;
        EXPECT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordNote, 7, CALLBACK_FUNCTION | MIDI_IO_STATUS));
        return h;
    }
};

TEST_F(TestDouble, PortListsAndCapabilities)
{
    td::addOutPort("Out A");
    td::addOutPort("An output port with a very long name that is cut");
    td::addInPort("In A");
    EXPECT_EQ(2u, midiOutGetNumDevs());
    EXPECT_EQ(1u, midiInGetNumDevs());

    MIDIOUTCAPSA oc;
    memset(&oc, 0x55, sizeof oc);
    EXPECT_EQ(0u, midiOutGetDevCapsA(1, &oc, sizeof oc));
    EXPECT_STREQ("An output port with a very long", oc.szPname);
    EXPECT_EQ(0, oc.wMid);
    EXPECT_EQ((UINT)MMSYSERR_BADDEVICEID, midiOutGetDevCapsA(2, &oc, sizeof oc));

    MIDIINCAPSA ic;
    EXPECT_EQ(0u, midiInGetDevCapsA(0, &ic, sizeof ic));
    EXPECT_STREQ("In A", ic.szPname);
    EXPECT_EQ((UINT)MMSYSERR_BADDEVICEID, midiInGetDevCapsA(1, &ic, sizeof ic));

    td::fail(td::OutCaps, 0);
    EXPECT_NE(0u, midiOutGetDevCapsA(0, &oc, sizeof oc));
    EXPECT_EQ(0u, midiOutGetDevCapsA(1, &oc, sizeof oc));
    EXPECT_EQ(4, td::calls(td::OutCaps));
}

TEST_F(TestDouble, FailedOpenLeavesTheHandleZero)
{
    td::addOutPort("Out");
    td::addInPort("In");
    td::fail(td::OutOpen);
    td::fail(td::InOpen, 0);
    HMIDIOUT ho = (HMIDIOUT)(void *)&ho;
    HMIDIIN hi = (HMIDIIN)(void *)&hi;
    EXPECT_NE(0u, midiOutOpen(&ho, 0, 0, 0, 0));
    EXPECT_EQ(nullptr, ho);
    EXPECT_NE(0u, midiInOpen(&hi, 0, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, hi);
    EXPECT_FALSE(td::outIsOpen());
    EXPECT_FALSE(td::inIsOpen());
    td::heal();
    EXPECT_EQ(0u, midiOutOpen(&ho, 0, 0, 0, 0));
    EXPECT_NE(nullptr, ho);
    EXPECT_TRUE(td::outIsOpen());
    EXPECT_EQ(
        (UINT)MMSYSERR_BADDEVICEID, midiInOpen(&hi, 1, (DWORD_PTR)recordNote, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, hi);
}

/* What the double decides itself: a delivery needs an open, started input
   (and a long one a queued header), and comes from a thread that is not
   the caller's; the unprepare answers "still playing" as often as told. */
TEST_F(TestDouble, DeliveriesNeedAStartedInputAndComeFromAnotherThread)
{
    td::addInPort("In");
    EXPECT_FALSE(td::deliverShort(0x90, 0x3c, 0x40)); /* no input open */
    HMIDIIN h = openIn();
    ASSERT_NE(nullptr, h);
    static char buf[16];
    MIDIHDR hdr = header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    const struct {
        const char *what;
        std::function<bool()> step;
        bool done;
    } rows[] = {
        {"short before start", [] { return td::deliverShort(0x90, 0x3c, 0x40); }, false},
        {"long before start",
            [] {
                return td::deliverLong({0xf0, 0x7e, 0xf7});
            },
            false},
        {"start", [&] { return midiInStart(h) == 0; }, true},
        {"queue", [&] { return midiInAddBuffer(h, &hdr, sizeof hdr) == 0; }, true},
        {"short", [] { return td::deliverShort(0x90, 0x3c, 0x40); }, true},
        {"long",
            [] {
                return td::deliverLong({0xf0, 0x7e, 0x7f, 0xf7});
            },
            true},
        {"loss", [] { return td::deliver(MIM_VT_OVERRUN, 3); }, true},
        {"reset", [&] { return midiInReset(h) == 0; }, true},
        {"short after reset", [] { return td::deliverShort(0xf8); }, false},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.done, r.step()) << r.what;

    td::inUnprepareStillPlaying(2);
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ(3, td::calls(td::InUnprepare));
    EXPECT_EQ(0u, midiInClose(h));
    EXPECT_FALSE(td::inIsOpen());
    EXPECT_FALSE(td::deliverShort(0xf8));

    std::vector<Note> got = notes();
    std::vector<UINT> want = {MIM_OPEN, MIM_DATA, MIM_LONGDATA, MIM_VT_OVERRUN, MIM_CLOSE};
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(want[i], got[i].msg) << i;
        bool delivered = want[i] != MIM_OPEN && want[i] != MIM_CLOSE;
        EXPECT_EQ(delivered, got[i].otherThread) << i;
        EXPECT_EQ(7u, got[i].instance) << i;
    }
    EXPECT_EQ((DWORD_PTR)0x403c90, got[1].p1);
    EXPECT_EQ((DWORD_PTR)&hdr, got[2].p1);
    EXPECT_EQ((DWORD_PTR)3, got[3].p1);
}

TEST_F(TestDouble, LongMessageInPiecesAndLongError)
{
    td::addInPort("In");
    HMIDIIN h = openIn();
    char buf[3];
    MIDIHDR hdr = header(buf, sizeof buf);
    ASSERT_EQ(0u, midiInStart(h));
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_TRUE(td::deliverLong({0xf0, 1, 2, 3, 4, 0xf7}));
    EXPECT_EQ(0, memcmp(buf, "\xf0\x01\x02", 3));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr)); /* the rest at once */
    EXPECT_EQ(0, memcmp(buf, "\x03\x04\xf7", 3));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_TRUE(td::deliverLongError({0xf0, 9}));
    EXPECT_EQ(2u, hdr.dwBytesRecorded);
    EXPECT_EQ((std::vector<UINT>{MIM_OPEN, MIM_LONGDATA, MIM_LONGDATA, MIM_LONGERROR}), kinds());
    EXPECT_TRUE(td::deliver(MIM_ERROR, 0x45));
    EXPECT_EQ(MIM_ERROR, kinds().back());
}

TEST_F(TestDouble, InjectedInputFailuresChangeNothing)
{
    td::addInPort("In");
    HMIDIIN h = openIn();
    char buf[8];
    MIDIHDR hdr = header(buf, sizeof buf);
    struct Row {
        td::Op op;
        MMRESULT (*call)(HMIDIIN, LPMIDIHDR);
    } rows[] = {
        {td::InStart, [](HMIDIIN x, LPMIDIHDR) { return midiInStart(x); }},
        {td::InPrepare, [](HMIDIIN x, LPMIDIHDR p) { return midiInPrepareHeader(x, p, sizeof *p); }},
        {td::InAdd, [](HMIDIIN x, LPMIDIHDR p) { return midiInAddBuffer(x, p, sizeof *p); }},
    };
    for (const Row &r : rows) {
        td::fail(r.op);
        EXPECT_NE(0u, r.call(h, &hdr)) << r.op;
        td::heal();
        EXPECT_EQ(0u, r.call(h, &hdr)) << r.op;
        EXPECT_EQ(2, td::calls(r.op));
    }
    EXPECT_EQ(1, td::queuedHeaders());
    td::fail(td::InReset);
    EXPECT_NE(0u, midiInReset(h));
    EXPECT_EQ(1, td::queuedHeaders());
    td::heal();
    EXPECT_EQ(0u, midiInReset(h));
    EXPECT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    td::fail(td::InClose);
    EXPECT_NE(0u, midiInClose(h));
    EXPECT_TRUE(td::inIsOpen());
}

TEST_F(TestDouble, KeysThenEndOfInput)
{
    td::keys("ab");
    std::string got;
    for (int i = 0; i < 6; i++) {
        ASSERT_TRUE(_kbhit());
        got += (char)_getch();
    }
    EXPECT_EQ(std::string("ab\x1b\r\x1b\r"), got);
    td::endOfInput(false);
    EXPECT_FALSE(_kbhit());
    td::keys("x");
    EXPECT_TRUE(_kbhit());
    EXPECT_EQ('x', _getch());
    EXPECT_FALSE(_kbhit());
}

TEST_F(TestDouble, ReadLineEchoesAndBounds)
{
    struct Row {
        std::string typed;
        unsigned size;
        int ret;
        const char *line;
        const char *echo;
    } rows[] = {
        {"12\r", 16, 2, "12", "12\n"},
        {"12\r\n", 16, 2, "12", "12\n"},
        {"\n", 16, 0, "", "\n"},
        {"abcdef\r", 4, 3, "abc", "abc\n"},
        {"ab\bc\r", 16, 2, "ac", "ab\b \bc\n"},
        {"ab\x7f"
         "c\r",
            16, 2, "ac", "ab\b \bc\n"}, /* DEL is Backspace */
        {"tail", 16, 4, "tail", "tail"},
        {std::string("a\x01\tb\0\x3b"
                     "c\r",
             8),
            16, 3, "abc", "abc\n"}, /* control keys, F1 */
        /* 0xE0 is text here: it leads a character of three bytes */
        {"\xe0\xa4\x85\r", 16, 3, "\xe0\xa4\x85", "\xe0\xa4\x85\n"},
    };
    for (const Row &r : rows) {
        td::keys(r.typed);
        char buf[16];
        memset(buf, 'z', sizeof buf);
        testing::internal::CaptureStdout();
        int n = readLine(buf, r.size);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.ret, n) << r.typed;
        EXPECT_STREQ(r.line, buf) << r.typed;
        EXPECT_EQ(r.echo, out) << r.typed;
    }
    char buf[8] = "x";
    EXPECT_EQ(-1, readLine(buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST_F(TestDouble, SleepIsCountedNotSlept)
{
    _sleep(1);
    _sleep(100);
    EXPECT_EQ(2u, td::sleeps());
    EXPECT_EQ(101ul, td::sleptMs());
}

TEST_F(TestDouble, FileFaults)
{
    const char *name = "td_filefaults.tmp";
    td::failFileWriteAfter(5);
    HANDLE f = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    DWORD done = 99;
    EXPECT_TRUE(WriteFile(f, "abc", 3, &done, nullptr));
    EXPECT_EQ(3u, done);
    EXPECT_FALSE(WriteFile(f, "defg", 4, &done, nullptr));
    EXPECT_EQ(2u, done);
    EXPECT_FALSE(WriteFile(f, "h", 1, &done, nullptr));
    EXPECT_EQ(0u, done);
    EXPECT_TRUE(CloseHandle(f));

    td::failFileReadAfter(3);
    f = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    char buf[16] = {0};
    EXPECT_TRUE(ReadFile(f, buf, 2, &done, nullptr));
    EXPECT_EQ(2u, done);
    EXPECT_TRUE(ReadFile(f, buf + 2, 10, &done, nullptr));
    EXPECT_EQ(1u, done);
    EXPECT_FALSE(ReadFile(f, buf + 3, 10, &done, nullptr));
    EXPECT_STREQ("abc", buf);
    td::heal();
    EXPECT_TRUE(ReadFile(f, buf + 3, 10, &done, nullptr));
    EXPECT_EQ(2u, done);
    EXPECT_STREQ("abcde", buf);
    EXPECT_TRUE(CloseHandle(f));
    remove(name);
}

} // namespace
