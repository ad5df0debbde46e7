/* What an input port's callback was told, notification by notification,
   for the tests of the port layer: give recordNote as the callback.  A
   port notifies from a thread of its own, so the notes are kept under a
   lock, and a handed-back header's bytes are copied at once, before the
   header can be queued again.  Also the header a test queues for a port's
   long messages. */
#ifndef VOLTANIS_TEST_CALLBACK_RECORDER_H
#define VOLTANIS_TEST_CALLBACK_RECORDER_H

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace recorder {

struct Note {
    UINT msg;
    DWORD_PTR p1;
    DWORD_PTR instance;
    DWORD recorded;            /* a header's byte count, as it came back */
    std::vector<uint8_t> data; /* a header's bytes */
    bool otherThread;          /* not the thread that called clear() */
};

struct Log {
    std::mutex mx;
    std::condition_variable cv;
    std::vector<Note> notes;
    std::thread::id mainThread;
};

inline Log &state()
{
    static Log l;
    return l;
}

/* Forgets every note; the calling thread is the test's own from now on. */
inline void clear()
{
    std::lock_guard<std::mutex> lk(state().mx);
    state().notes.clear();
    state().mainThread = std::this_thread::get_id();
}

inline void CALLBACK recordNote(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
{
    std::lock_guard<std::mutex> lk(state().mx);
    Note n{msg, p1, instance, 0, {}, std::this_thread::get_id() != state().mainThread};
    if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
        LPMIDIHDR h = (LPMIDIHDR)p1;
        n.recorded = h->dwBytesRecorded;
        n.data.assign((uint8_t *)h->lpData, (uint8_t *)h->lpData + h->dwBytesRecorded);
    }
    state().notes.push_back(n);
    state().cv.notify_all();
}

/* The notes so far; without the open and the close when asked. */
inline std::vector<Note> notes(bool withOpenClose = true)
{
    std::lock_guard<std::mutex> lk(state().mx);
    std::vector<Note> v;
    for (const Note &n : state().notes)
        if (withOpenClose || (n.msg != MIM_OPEN && n.msg != MIM_CLOSE))
            v.push_back(n);
    return v;
}

inline std::vector<UINT> kinds()
{
    std::vector<UINT> k;
    for (const Note &n : notes())
        k.push_back(n.msg);
    return k;
}

/* Waits until `count` notifications of this kind have come (a guard
   against a hang, not a timing check). */
inline bool waitFor(UINT msg, size_t count = 1)
{
    std::unique_lock<std::mutex> lk(state().mx);
    return state().cv.wait_for(lk, std::chrono::seconds(20), [&] {
        size_t k = 0;
        for (const Note &n : state().notes)
            k += n.msg == msg;
        return k >= count;
    });
}

/* What the callback should have got, notification by notification. */
struct Want {
    UINT msg;
    DWORD_PTR p1;
    DWORD recorded;
};

inline void expectNotes(const std::vector<Want> &want)
{
    std::vector<Note> got = notes();
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(want[i].msg, got[i].msg) << i;
        EXPECT_EQ(want[i].p1, got[i].p1) << i;
        EXPECT_EQ(want[i].recorded, got[i].recorded) << i;
    }
}

/* An empty header over buf, for a port to fill. */
inline MIDIHDR header(void *buf, DWORD length)
{
    MIDIHDR h;
    memset(&h, 0, sizeof h);
    h.lpData = (LPSTR)buf;
    h.dwBufferLength = length;
    return h;
}

} // namespace recorder

#endif
