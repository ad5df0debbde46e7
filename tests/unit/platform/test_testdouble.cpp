/*
 * The double itself, where it has logic of its own: the header flags and
 * their error codes, the queue of input buffers, the end-of-input keys, the
 * echoed line input and the file faults.  Everything goes through the
 * contract functions, as the system code calls them.
 */
#include "platform/platform.h"
#include "platform/testdouble/testdouble.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Note {
    UINT msg;
    DWORD_PTR p1;
    DWORD_PTR instance;
    bool otherThread;
};

std::mutex gNotesMx;
std::vector<Note> gNotes;
std::thread::id gMainThread;

void CALLBACK recordCallback(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
{
    std::lock_guard<std::mutex> lk(gNotesMx);
    gNotes.push_back({msg, p1, instance, std::this_thread::get_id() != gMainThread});
}

std::vector<UINT> kinds()
{
    std::lock_guard<std::mutex> lk(gNotesMx);
    std::vector<UINT> k;
    for (const Note &n : gNotes)
        k.push_back(n.msg);
    return k;
}

class TestDouble : public ::testing::Test {
protected:
    void SetUp() override
    {
        td::install();
        gNotes.clear();
        gMainThread = std::this_thread::get_id();
    }
    void TearDown() override { td::uninstall(); }

    HMIDIIN openIn()
    {
        HMIDIIN h = nullptr;
        EXPECT_EQ(0u, midiInOpen(&h, 0, (DWORD_PTR)recordCallback, 7, CALLBACK_FUNCTION | MIDI_IO_STATUS));
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
    EXPECT_NE(0u, midiInOpen(&hi, 0, (DWORD_PTR)recordCallback, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, hi);
    EXPECT_FALSE(td::outIsOpen());
    EXPECT_FALSE(td::inIsOpen());
    td::heal();
    EXPECT_EQ(0u, midiOutOpen(&ho, 0, 0, 0, 0));
    EXPECT_NE(nullptr, ho);
    EXPECT_TRUE(td::outIsOpen());
    EXPECT_EQ(
        (UINT)MMSYSERR_BADDEVICEID, midiInOpen(&hi, 1, (DWORD_PTR)recordCallback, 0, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, hi);
}

/* The output header: what each state answers, and what leaves. */
TEST_F(TestDouble, OutputHeaderStates)
{
    td::addOutPort("Out");
    HMIDIOUT h = nullptr;
    ASSERT_EQ(0u, midiOutOpen(&h, 0, 0, 0, 0));
    char data[] = {'\x90', '\x3c', '\x40'};
    MIDIHDR hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.lpData = data;
    hdr.dwBufferLength = hdr.dwBytesRecorded = 3;

    EXPECT_EQ((UINT)MIDIERR_UNPREPARED, midiOutLongMsg(h, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutPrepareHeader(nullptr, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutLongMsg(nullptr, &hdr, sizeof hdr));
    EXPECT_EQ(0u, midiOutPrepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ((DWORD)MHDR_PREPARED, hdr.dwFlags);
    EXPECT_EQ(0u, midiOutLongMsg(h, &hdr, sizeof hdr));
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_DONE), hdr.dwFlags);
    EXPECT_EQ(0u, midiOutUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ(0u, hdr.dwFlags & MHDR_PREPARED);

    ASSERT_EQ(1u, td::sent().size());
    EXPECT_EQ((std::vector<uint8_t>{0x90, 0x3c, 0x40}), td::sent()[0]);

    td::fail(td::OutLongMsg);
    EXPECT_EQ(0u, midiOutPrepareHeader(h, &hdr, sizeof hdr));
    EXPECT_NE(0u, midiOutLongMsg(h, &hdr, sizeof hdr));
    EXPECT_EQ(1u, td::sent().size());

    EXPECT_EQ(0u, midiOutClose(h));
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutClose(h));
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiOutLongMsg(h, &hdr, sizeof hdr));
    td::clearSent();
    EXPECT_TRUE(td::sent().empty());
}

/* The input header through its whole life, with the codes the system's
   stop sequence depends on. */
TEST_F(TestDouble, InputHeaderLife)
{
    td::addInPort("In");
    HMIDIIN h = openIn();
    ASSERT_NE(nullptr, h);
    static char buf[16];
    MIDIHDR hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.lpData = buf;
    hdr.dwBufferLength = sizeof buf;

    EXPECT_EQ((UINT)MIDIERR_UNPREPARED, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_FALSE(td::deliverShort(0x90, 0x3c, 0x40)); /* not started yet */
    EXPECT_EQ(0u, midiInStart(h));
    EXPECT_TRUE(td::inIsStarted());
    EXPECT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    EXPECT_FALSE(td::deliverLong({0xf0, 0x7e, 0xf7})); /* nothing queued */
    EXPECT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_INQUEUE), hdr.dwFlags);
    EXPECT_EQ(1, td::queuedHeaders());
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInClose(h));

    EXPECT_TRUE(td::deliverShort(0x90, 0x3c, 0x40));
    EXPECT_TRUE(td::deliverLong({0xf0, 0x7e, 0x7f, 0xf7}));
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_DONE), hdr.dwFlags);
    EXPECT_EQ(4u, hdr.dwBytesRecorded);
    EXPECT_EQ(0, memcmp(buf, "\xf0\x7e\x7f\xf7", 4));
    EXPECT_EQ(0, td::queuedHeaders());

    /* queued again and taken back by the reset, empty */
    EXPECT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_EQ(0u, hdr.dwBytesRecorded);
    EXPECT_EQ(0u, midiInReset(h));
    EXPECT_FALSE(td::inIsStarted());
    EXPECT_EQ(0u, hdr.dwBytesRecorded);
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_DONE), hdr.dwFlags);
    EXPECT_FALSE(td::deliverShort(0xf8)); /* stopped */

    td::inUnprepareStillPlaying(2);
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ((UINT)MIDIERR_STILLPLAYING, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ(0u, midiInUnprepareHeader(h, &hdr, sizeof hdr));
    EXPECT_EQ(0u, hdr.dwFlags & MHDR_PREPARED);
    EXPECT_EQ(0u, midiInClose(h));
    EXPECT_FALSE(td::inIsOpen());
    EXPECT_FALSE(td::deliverShort(0xf8));
    EXPECT_EQ(4, td::calls(td::InUnprepare));

    std::vector<UINT> want = {MIM_OPEN, MIM_DATA, MIM_LONGDATA, MIM_LONGDATA, MIM_CLOSE};
    EXPECT_EQ(want, kinds());
    std::lock_guard<std::mutex> lk(gNotesMx);
    EXPECT_EQ((DWORD_PTR)0x403c90, gNotes[1].p1);
    EXPECT_EQ((DWORD_PTR)&hdr, gNotes[2].p1);
    EXPECT_EQ((DWORD_PTR)&hdr, gNotes[3].p1);
    for (const Note &n : gNotes) {
        EXPECT_TRUE(n.otherThread);
        EXPECT_EQ(7u, n.instance);
    }
}

TEST_F(TestDouble, LongMessageCutAtTheBufferAndLongError)
{
    td::addInPort("In");
    HMIDIIN h = openIn();
    char buf[3];
    MIDIHDR hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.lpData = buf;
    hdr.dwBufferLength = sizeof buf;
    ASSERT_EQ(0u, midiInStart(h));
    ASSERT_EQ(0u, midiInPrepareHeader(h, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_TRUE(td::deliverLong({0xf0, 1, 2, 3, 4, 0xf7}));
    EXPECT_EQ(3u, hdr.dwBytesRecorded);
    ASSERT_EQ(0u, midiInAddBuffer(h, &hdr, sizeof hdr));
    EXPECT_TRUE(td::deliverLongError({0xf0, 9}));
    EXPECT_EQ(2u, hdr.dwBytesRecorded);
    EXPECT_EQ((std::vector<UINT>{MIM_OPEN, MIM_LONGDATA, MIM_LONGERROR}), kinds());
    EXPECT_TRUE(td::deliver(MIM_ERROR, 0x45));
    EXPECT_EQ(MIM_ERROR, kinds().back());
}

TEST_F(TestDouble, InjectedInputFailuresChangeNothing)
{
    td::addInPort("In");
    HMIDIIN h = openIn();
    char buf[8];
    MIDIHDR hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.lpData = buf;
    hdr.dwBufferLength = sizeof buf;
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
        {"tail", 16, 4, "tail", "tail"},
        {std::string("a\x01\tb\0\x3b\xe0\x48"
                     "c\r",
             10),
            16, 3, "abc", "abc\n"},
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
