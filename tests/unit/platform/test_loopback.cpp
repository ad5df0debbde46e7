/*
 * The loopback port end to end, through the contract functions and the
 * real port host: what leaves the output arrives at the input's callback,
 * on the loopback's own thread, parsed into short messages and filled
 * headers.
 */
#include "callback_recorder.h"
#include "platform/common/service.h"
#include "platform/host/host.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

namespace {

using namespace recorder;

const DWORD_PTR kInstance = 0x5eed;

MMRESULT sendBytes(HMIDIOUT h, const std::vector<uint8_t> &bytes)
{
    MIDIHDR hdr = header((void *)bytes.data(), (DWORD)bytes.size());
    hdr.dwBytesRecorded = (DWORD)bytes.size();
    MMRESULT r = midiOutPrepareHeader(h, &hdr, sizeof hdr);
    if (r)
        return r;
    r = midiOutLongMsg(h, &hdr, sizeof hdr);
    while (midiOutUnprepareHeader(h, &hdr, sizeof hdr) == MIDIERR_STILLPLAYING) {
    }
    return r;
}

class LoopbackPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        vtInstallMidi(nullptr);
        vtHostSetBackends(nullptr, 0);
        recorder::clear();
    }
    void TearDown() override
    {
        if (in_) {
            midiInReset(in_);
            while (midiInUnprepareHeader(in_, &inHdr_, sizeof inHdr_) == MIDIERR_STILLPLAYING) {
            }
            EXPECT_EQ(0u, midiInClose(in_));
        }
        if (out_) {
            EXPECT_EQ(0u, midiOutClose(out_));
        }
        for (const Note &n : notes())
            EXPECT_EQ(kInstance, n.instance);
    }

    /* The loopback is the last port in each direction. */
    void openBoth(bool start = true)
    {
        UINT ni = midiInGetNumDevs(), no = midiOutGetNumDevs();
        ASSERT_GE(ni, 1u);
        ASSERT_GE(no, 1u);
        MIDIINCAPSA ic;
        MIDIOUTCAPSA oc;
        ASSERT_EQ(0u, midiInGetDevCapsA(ni - 1, &ic, sizeof ic));
        ASSERT_EQ(0u, midiOutGetDevCapsA(no - 1, &oc, sizeof oc));
        EXPECT_STREQ("Voltanis Loopback", ic.szPname);
        EXPECT_STREQ("Voltanis Loopback", oc.szPname);
        EXPECT_EQ((UINT)MMSYSERR_BADDEVICEID, midiInGetDevCapsA(ni, &ic, sizeof ic));
        ASSERT_EQ(
            0u, midiInOpen(&in_, ni - 1, (DWORD_PTR)recordNote, kInstance, CALLBACK_FUNCTION | MIDI_IO_STATUS));
        ASSERT_EQ(0u, midiOutOpen(&out_, no - 1, 0, 0, 0));
        ASSERT_NE(nullptr, in_);
        ASSERT_NE(nullptr, out_);
        inHdr_ = header(inBuf_, sizeof inBuf_);
        if (start) {
            ASSERT_EQ(0u, midiInStart(in_));
        }
        ASSERT_EQ(0u, midiInPrepareHeader(in_, &inHdr_, sizeof inHdr_));
        ASSERT_EQ(0u, midiInAddBuffer(in_, &inHdr_, sizeof inHdr_));
    }

    HMIDIIN in_ = nullptr;
    HMIDIOUT out_ = nullptr;
    MIDIHDR inHdr_;
    static char inBuf_[256 * 1024];
};

char LoopbackPort::inBuf_[256 * 1024];

TEST_F(LoopbackPort, LongMessageArrivesParsedOnTheLoopbackThread)
{
    openBoth();
    ASSERT_EQ(0u, sendBytes(out_, {0x90, 0x3c, 0x40, 0x3e, 0x40, 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7, 0xf8}));
    ASSERT_TRUE(waitFor(MIM_DATA, 3));
    std::vector<Note> got = notes(false);
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ((UINT)MIM_DATA, got[0].msg);
    EXPECT_EQ(0x403c90u, got[0].p1);
    EXPECT_EQ((UINT)MIM_DATA, got[1].msg);
    EXPECT_EQ(0x403e90u, got[1].p1); /* running status expanded */
    EXPECT_EQ((UINT)MIM_LONGDATA, got[2].msg);
    EXPECT_EQ((DWORD_PTR)&inHdr_, got[2].p1);
    EXPECT_EQ((std::vector<uint8_t>{0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7}), got[2].data);
    EXPECT_EQ((UINT)MIM_DATA, got[3].msg);
    EXPECT_EQ(0xf8u, got[3].p1);
    for (const Note &n : got)
        EXPECT_TRUE(n.otherThread);
    EXPECT_EQ((DWORD)(MHDR_PREPARED | MHDR_DONE), inHdr_.dwFlags);
    /* the buffer came back, so the stop sequence finds nothing queued */
    EXPECT_EQ(0u, midiInReset(in_));
    EXPECT_EQ(4u, notes(false).size());
}

/* Far more than the loopback's own ring holds: the sender waits for room
   and nothing is lost. */
TEST_F(LoopbackPort, BigSysexArrivesWhole)
{
    openBoth();
    std::vector<uint8_t> big(200000);
    big[0] = 0xf0;
    for (size_t i = 1; i + 1 < big.size(); i++)
        big[i] = (uint8_t)(i * 7 % 128);
    big.back() = 0xf7;
    ASSERT_EQ(0u, sendBytes(out_, big));
    ASSERT_TRUE(waitFor(MIM_LONGDATA));
    std::vector<Note> got = notes(false);
    ASSERT_EQ(1u, got.size());
    EXPECT_TRUE(got[0].data == big);
}

TEST_F(LoopbackPort, NothingArrivesBeforeStart)
{
    openBoth(false);
    ASSERT_EQ(0u, sendBytes(out_, {0x90, 0x01, 0x02}));
    ASSERT_EQ(0u, midiInStart(in_));
    ASSERT_EQ(0u, sendBytes(out_, {0x80, 0x03, 0x04}));
    ASSERT_TRUE(waitFor(MIM_DATA));
    std::vector<Note> got = notes(false);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(0x040380u, got[0].p1);
}

TEST_F(LoopbackPort, OpenCloseNotifiedAndNoCallbackAfterClose)
{
    openBoth();
    ASSERT_EQ(0u, midiInReset(in_));
    /* the reset handed the buffer back: it can be let go of at once */
    EXPECT_EQ(0u, midiInUnprepareHeader(in_, &inHdr_, sizeof inHdr_));
    ASSERT_EQ(0u, midiInClose(in_));
    HMIDIIN closed = in_;
    in_ = nullptr;
    EXPECT_EQ((UINT)MMSYSERR_INVALHANDLE, midiInStart(closed));
    ASSERT_EQ(0u, sendBytes(out_, {0x90, 0x01, 0x02}));
    std::vector<Note> all = notes();
    ASSERT_EQ(3u, all.size());
    EXPECT_EQ((UINT)MIM_OPEN, all[0].msg);
    EXPECT_EQ((UINT)MIM_LONGDATA, all[1].msg);
    EXPECT_TRUE(all[1].data.empty());
    EXPECT_EQ((UINT)MIM_CLOSE, all[2].msg);
}

TEST_F(LoopbackPort, OneListenerAtATime)
{
    openBoth();
    HMIDIIN second = (HMIDIIN)(void *)&second;
    UINT last = midiInGetNumDevs() - 1;
    EXPECT_EQ(
        (UINT)MMSYSERR_ALLOCATED, midiInOpen(&second, last, (DWORD_PTR)recordNote, kInstance, CALLBACK_FUNCTION));
    EXPECT_EQ(nullptr, second);
}

} // namespace
