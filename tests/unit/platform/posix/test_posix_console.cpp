/*
 * The POSIX console on a pseudo-terminal and on a pipe: raw mode and its
 * undoing, keys as the PC keyboard gives them, line input with echo and
 * its bound, the end of piped input, the pause with its wake-up and
 * the input it reads on a backend's behalf, and what a fatal signal does.
 */
#include "../../hex_text.h"
#include "../../typist.h"
#include "platform/posix/pausewatch.h"
#include "platform/posix/posix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#ifdef __linux__
#include <sys/epoll.h>
#endif
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <atomic>
#include <functional>
#include <vector>

namespace {

const VtConsole &C() { return *vtRealConsole(); }

void send(int fd, const std::string &s) { ASSERT_EQ(write(fd, s.data(), s.size()), (ssize_t)s.size()); }

/* What has come out on fd within a short while. */
std::string drain(int fd, int waitMs = 200)
{
    std::string s;
    struct pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, waitMs) > 0) {
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        s.append(buf, (size_t)n);
        waitMs = 50;
    }
    return s;
}

std::string getchN(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += (char)C().getch();
    return s;
}

class PosixConsolePty : public ::testing::Test {
protected:
    int master = -1, slave = -1;
    struct termios before;
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        ASSERT_EQ(tcgetattr(slave, &before), 0);
        vtPosixConsoleAttach(slave, slave);
    }
    void TearDown() override
    {
        vtPosixConsoleDetach();
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
    }
};

TEST_F(PosixConsolePty, RawModeWhileAttachedAndBackAfter)
{
    struct termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    struct Flag {
        const char *name;
        tcflag_t field, bit;
        bool on;
    } flags[] = {
        {"ICANON off: keys without Enter", t.c_lflag, ICANON, false},
        {"ECHO off: the console echoes itself", t.c_lflag, ECHO, false},
        {"IEXTEN off: CTRL-V and CTRL-O are keys", t.c_lflag, IEXTEN, false},
        {"ISIG kept: CTRL-C, CTRL-Z, CTRL-\\ still signal", t.c_lflag, ISIG, true},
        {"IXON off: CTRL-Q and CTRL-S are keys", t.c_iflag, IXON, false},
        {"ICRNL off: Enter is 13", t.c_iflag, ICRNL, false},
        {"OPOST kept", t.c_oflag, OPOST, true},
        {"ONLCR kept: \\n starts a line", t.c_oflag, ONLCR, true},
    };
    for (const Flag &f : flags)
        EXPECT_EQ((f.field & f.bit) != 0, f.on) << f.name;
    EXPECT_EQ(t.c_cc[VMIN], 1);

    vtPosixConsoleDetach();
    struct termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(0, memcmp(after.c_cc, before.c_cc, sizeof after.c_cc));
}

/* Each byte _getch gives and what lastKeyIsCharacter says of it: c for a
   character typed, k for a byte of a function or cursor key. */
std::string getchKinds(size_t n, std::string *kinds)
{
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += (char)C().getch();
        *kinds += C().lastKeyIsCharacter() ? 'c' : 'k';
    }
    return s;
}

TEST_F(PosixConsolePty, KeysAsThePcKeyboardGivesThem)
{
    struct Case {
        const char *what;
        std::string typed, keys, kinds;
    } cases[] = {
        {"letters", "N 3c", "N 3c", "cccc"},
        {"Enter", "\r", "\r", "c"},
        {"Backspace", "\x7f", "\x08", "c"},
        {"CTRL-Q, CTRL-S", "\x11\x13", "\x11\x13", "cc"},
        {"CTRL-V, CTRL-O", "\x16\x0f", "\x16\x0f", "cc"},
        {"F1 xterm", "\x1bOP", std::string("\x00\x3b", 2), "kk"},
        {"F12 xterm", "\x1b[24~", std::string("\x00\x86", 2), "kk"},
        {"F5 Linux console", "\x1b[[E", std::string("\x00\x3f", 2), "kk"},
        {"Shift-F2 xterm", "\x1b[1;2Q", std::string("\x00\x3c", 2), "kk"},
        {"Up", "\x1b[A", "\xe0\x48", "kk"},
        {"U+0920, whose first byte is 0xE0", "\xe0\xa4\xa0", "\xe0\xa4\xa0", "ccc"},
        {"U+0E01, then Down", "\xe0\xb8\x81\x1b[B", "\xe0\xb8\x81\xe0\x50", "ccckk"},
        {"e acute", "\xc3\xa9", "\xc3\xa9", "cc"},
        {"unknown sequence, then a",
            "\x1b[99~"
            "a",
            "a", "c"},
        {"ESC and a key at once are Alt and the key: dropped",
            "\x1b"
            "ab",
            "b", "c"},
    };
    for (const Case &c : cases) {
        send(master, c.typed);
        std::string kinds;
        EXPECT_EQ(hexOf(getchKinds(c.keys.size(), &kinds)), hexOf(c.keys)) << c.what;
        EXPECT_EQ(kinds, c.kinds) << c.what;
    }
    EXPECT_EQ(C().kbhit(), 0);
}

TEST_F(PosixConsolePty, LoneEscAfterTheWait)
{
    send(master, "\x1b");
    EXPECT_EQ(C().getch(), 27);
    /* ESC, and a key typed after the wait while the keyboard is polled as
       the main loop does: two keys */
    send(master, "\x1b");
    for (int i = 0; i < 400 && !C().kbhit(); i++)
        usleep(5000);
    send(master, "a");
    EXPECT_EQ(C().getch(), 27);
    EXPECT_EQ(C().getch(), 'a');
}

TEST_F(PosixConsolePty, KbhitNeverBlocks)
{
    EXPECT_EQ(C().kbhit(), 0);
    send(master, "x");
    for (int i = 0; i < 200 && !C().kbhit(); i++)
        usleep(5000);
    EXPECT_EQ(C().kbhit(), 1);
    EXPECT_EQ(C().getch(), 'x');
    EXPECT_EQ(C().kbhit(), 0);
}

TEST_F(PosixConsolePty, ReadLineEchoesAndEdits)
{
    struct Case {
        const char *what;
        unsigned size;
        std::string typed;
        int result;
        std::string line, echoed;
    } cases[] = {
        {"plain", 32, "song.syx\r", 8, "song.syx", "song.syx\r\n"},
        {"backspace", 32,
            "ab\x7f"
            "c\r",
            2, "ac", "ab\b \bc\r\n"},
        {"backspace on nothing", 32,
            "\x7f"
            "a\r",
            1, "a", "a\r\n"},
        {"empty line", 32, "\r", 0, "", "\r\n"},
        {"bounded: the rest is neither kept nor echoed", 4, "abcdef\r", 3, "abc", "abc\r\n"},
        {"backspace after the bound", 4,
            "abcd\x7f"
            "x\r",
            3, "abx", "abc\b \bx\r\n"},
        {"function and cursor keys ignored", 32, "a\x1bOP\x1b[Ab\r", 2, "ab", "ab\r\n"},
        {"control keys ignored", 32,
            "a\x01\x1b\x0e"
            "b\r",
            2, "ab", "ab\r\n"},
        {"line feed ends the line too", 32, "ab\n", 2, "ab", "ab\r\n"},
        {"UTF-8 kept whole", 32, "\xc3\xa9t\xc3\xa9\r", 5, "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9\r\n"},
        {"UTF-8 rubbed out whole", 32, "a\xc3\xa9\x7f\r", 1, "a", "a\xc3\xa9\b \b\r\n"},
        {"UTF-8 that does not fit", 3,
            "a\xc3\xa9"
            "b\r",
            2, "ab", "ab\r\n"},
    };
    for (const Case &c : cases) {
        send(master, c.typed);
        char buf[64];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(C().readLine(buf, c.size), c.result) << c.what;
        EXPECT_EQ(hexOf(buf), hexOf(c.line)) << c.what;
        EXPECT_EQ(buf[c.size], 'Z') << c.what << ": wrote past the buffer";
        EXPECT_EQ(hexOf(drain(master)), hexOf(c.echoed)) << c.what;
    }
}

TEST_F(PosixConsolePty, HangUpEndsTheInput)
{
    send(master, "k");
    for (int i = 0; i < 400 && !C().kbhit(); i++)
        usleep(5000);
    EXPECT_EQ(C().kbhit(), 1);
    close(master);
    master = -1;
    EXPECT_EQ(C().getch(), 'k');
    std::string keys = getchN(4);
    EXPECT_EQ(hexOf(keys), hexOf("\x1b\r\x1b\r"));
    char buf[8];
    EXPECT_EQ(C().readLine(buf, sizeof buf), -1);
}

class PosixConsolePipe : public ::testing::Test {
protected:
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    void SetUp() override
    {
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(out), 0);
        vtPosixConsoleAttach(in[0], out[1]);
    }
    void TearDown() override
    {
        vtPosixConsoleDetach();
        for (int fd : {in[0], in[1], out[0], out[1]})
            if (fd >= 0)
                close(fd);
    }
    void endInput()
    {
        close(in[1]);
        in[1] = -1;
    }
};

bool waitKbhit(int ms);

TEST_F(PosixConsolePipe, KeysThenExitAtTheEnd)
{
    send(in[1], std::string("ab\ncd\r\nx\r\x7f\x1b\x00\x3b", 13));
    endInput();
    std::string want = std::string("ab\rcd\rx\r\x08\x1b\x00\x3b", 12) + "\x1b\r\x1b\r\x1b\r";
    EXPECT_EQ(hexOf(getchN(want.size())), hexOf(want));
    EXPECT_TRUE(waitKbhit(2000));
    EXPECT_EQ(drain(out[0], 0), "") << "piped input is not echoed";
}

/* From a pipe, 0 and 0xE0 are key prefixes as a script writes them,
   except a 0xE0 that begins a UTF-8 character. */
TEST_F(PosixConsolePipe, PrefixesAndCharacters)
{
    struct Case {
        const char *what;
        std::string piped, kinds;
    } cases[] = {
        {"F1", std::string("\x00\x3b", 2), "kk"},
        {"Up", "\xe0\x48", "kk"},
        {"F12 as Windows gives it", "\xe0\x86", "kk"},
        {"U+0920", "\xe0\xa4\xa0", "ccc"},
        {"e acute, then F9", std::string("\xc3\xa9\x00\x43", 4), "cckk"},
    };
    for (const Case &c : cases) {
        send(in[1], c.piped);
        std::string kinds;
        EXPECT_EQ(hexOf(getchKinds(c.piped.size(), &kinds)), hexOf(c.piped)) << c.what;
        EXPECT_EQ(kinds, c.kinds) << c.what;
    }
}

TEST_F(PosixConsolePipe, LinesUntilTheEnd)
{
    send(in[1], "0\n  2\r\nlonger than the buffer\nlast");
    endInput();
    struct Step {
        unsigned size;
        int result;
        const char *line;
    } steps[] = {
        {16, 1, "0"},
        {16, 3, "  2"},
        {8, 7, "longer "},
        {16, 4, "last"},
        {16, -1, ""},
        {16, -1, ""},
    };
    for (const Step &s : steps) {
        char buf[32];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(C().readLine(buf, s.size), s.result) << s.line;
        EXPECT_STREQ(buf, s.line);
    }
    EXPECT_EQ(C().getch(), 27);
    EXPECT_EQ(C().getch(), 13);
}

TEST_F(PosixConsolePipe, ZeroSizedLineTouchesNothing)
{
    send(in[1], "abc\n");
    endInput();
    char c = 'Z';
    EXPECT_EQ(C().readLine(&c, 0), 0);
    EXPECT_EQ(c, 'Z');
    EXPECT_EQ(C().readLine(&c, 0), -1);
    EXPECT_EQ(c, 'Z');
}

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

/* polls as the exit prompt does; false when no key came within ms */
bool waitKbhit(int ms)
{
    Clock::time_point t0 = Clock::now();
    while (!C().kbhit()) {
        if (msSince(t0) > ms)
            return false;
        C().sleep(10);
    }
    return true;
}

/* A wake-up from another thread ends the pause at once. */
TEST_F(PosixConsolePipe, WakeEndsThePause)
{
    vtWake();
    C().sleep(60000); /* a wake before the pause counts too */
    Typist t(std::chrono::milliseconds(50), [] { vtWake(); });
    Clock::time_point t0 = Clock::now();
    C().sleep(60000);
    long took = msSince(t0);
    t.join();
    EXPECT_LT(took, 30000);
    EXPECT_EQ(C().kbhit(), 0);
}

TEST_F(PosixConsolePipe, KeyEndsThePause)
{
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    Typist t(std::chrono::milliseconds(50), [this] { send(in[1], "q"); });
    C().sleep(60000);
    t.join();
    EXPECT_EQ(C().kbhit(), 1);
    EXPECT_EQ(C().getch(), 'q');
}

/* A backend's input read by the pause: a pipe stands for its descriptor,
   and what is read is notified as a backend notifies it. */
class PipeWatch : public vt::PauseWatch {
public:
    int fd[2] = {-1, -1};
    int idle = -1;      /* a descriptor waited on before fd[0], never ready */
    bool notify = true; /* false: what is read is nothing to show */
    int begins = 0, ends = 0, readies = 0, failures = 0;
    std::string got;
    int pauseBegins(struct pollfd *fds, int max) override
    {
        begins++;
        int n = 0;
        if (idle >= 0 && n < max)
            fds[n++] = {idle, POLLIN, 0};
        if (n < max)
            fds[n++] = {fd[0], POLLIN, 0};
        return n;
    }
    bool ready(bool failed) override
    {
        readies++;
        failures += failed;
        char buf[64];
        ssize_t n = read(fd[0], buf, sizeof buf);
        if (n > 0)
            got.append(buf, (size_t)n);
        if (n > 0 && notify)
            vtWake();
        return !failed;
    }
    void pauseEnds() override { ends++; }
};

TEST_F(PosixConsolePipe, PauseReadsWatchedInput)
{
    struct Case {
        const char *what;
        bool notify; /* what the watch reads counts as arrived */
        bool hangUp; /* the writer closes instead of writing */
        bool endsEarly, failed;
    } cases[] = {
        {"input notified ends the pause", true, false, true, false},
        {"input with nothing to show keeps it", false, false, false, false},
        {"a hang-up is read once, then left alone", true, true, false, true},
    };
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PipeWatch w;
        w.notify = c.notify;
        ASSERT_EQ(pipe(w.fd), 0);
        vt::setPauseWatch(&w);
        std::thread t([&] {
            usleep(50 * 1000);
            if (c.hangUp) {
                close(w.fd[1]);
                w.fd[1] = -1;
            } else {
                send(w.fd[1], "m");
            }
        });
        Clock::time_point t0 = Clock::now();
        C().sleep(600);
        long took = msSince(t0);
        t.join();
        vt::setPauseWatch(nullptr);
        EXPECT_EQ(w.begins, 1);
        EXPECT_EQ(w.ends, 1);
        EXPECT_EQ(w.readies, 1);
        EXPECT_EQ(w.failures, c.failed ? 1 : 0);
        EXPECT_EQ(w.got, c.hangUp ? "" : "m");
        if (c.endsEarly)
            EXPECT_LT(took, 400);
        else
            EXPECT_GE(took, 590);
        EXPECT_EQ(C().kbhit(), 0);
        for (int fd : w.fd)
            if (fd >= 0)
                close(fd);
    }
}

/* Sources registered side by side: each adds its descriptors to the pause,
   and only the one whose own descriptor became readable reads; a source
   not registered, or removed again, is not waited on. */
TEST_F(PosixConsolePipe, PauseWaitsOnEachRegisteredSource)
{
    enum Reg { kNever, kAdded, kRemoved };
    struct Source {
        Reg reg;
        bool written;
        bool twoFds; /* an idle descriptor before its own */
    };
    struct Case {
        const char *what;
        Source a, b;
    } cases[] = {
        {"the second is read, after the first's two fds", {kAdded, false, true}, {kAdded, true, false}},
        {"the first is read, the second not", {kAdded, true, true}, {kAdded, false, false}},
        {"one never registered is not waited on", {kAdded, false, false}, {kNever, true, false}},
        {"one removed is not waited on", {kAdded, false, false}, {kRemoved, true, false}},
    };
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Source *src[2] = {&c.a, &c.b};
        PipeWatch w[2];
        int idle[2];
        ASSERT_EQ(pipe(idle), 0);
        for (int i = 0; i < 2; i++) {
            ASSERT_EQ(pipe(w[i].fd), 0);
            /* a source read when it should not be must fail, not hang */
            fcntl(w[i].fd[0], F_SETFL, O_NONBLOCK);
            w[i].idle = src[i]->twoFds ? idle[0] : -1;
            if (src[i]->reg != kNever) {
                ASSERT_TRUE(vt::addPauseWatch(&w[i]));
            }
            if (src[i]->reg == kRemoved)
                vt::removePauseWatch(&w[i]);
        }
        std::thread t([&] {
            usleep(30 * 1000);
            for (int i = 0; i < 2; i++)
                if (src[i]->written)
                    send(w[i].fd[1], "m");
        });
        Clock::time_point t0 = Clock::now();
        C().sleep(400);
        long took = msSince(t0);
        t.join();
        bool endsEarly = false;
        for (int i = 0; i < 2; i++) {
            SCOPED_TRACE(i ? "second" : "first");
            vt::removePauseWatch(&w[i]);
            bool waited = src[i]->reg == kAdded;
            bool read = waited && src[i]->written;
            endsEarly = endsEarly || read;
            EXPECT_EQ(w[i].begins, waited ? 1 : 0);
            EXPECT_EQ(w[i].ends, waited ? 1 : 0);
            EXPECT_EQ(w[i].readies, read ? 1 : 0);
            EXPECT_EQ(w[i].got, read ? "m" : "");
            for (int fd : w[i].fd)
                close(fd);
        }
        if (endsEarly)
            EXPECT_LT(took, 300);
        else
            EXPECT_GE(took, 390);
        EXPECT_EQ(C().kbhit(), 0);
        close(idle[0]);
        close(idle[1]);
    }
}

#ifdef __linux__
/* The hand-over to a source's own thread: that thread waits on the
   source's descriptor in an exclusive epoll registration made anew when
   the pause says it registered its own (as the ALSA reader does).  Input
   that comes while the pause waits then wakes the pause alone; input that
   comes while the main thread is elsewhere wakes that thread at once. */
class HandOverWatch : public PipeWatch {
public:
    int ep = -1;
    int watching = 0;
    void reRegister()
    {
        epoll_ctl(ep, EPOLL_CTL_DEL, fd[0], nullptr);
        struct epoll_event ev = {};
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        ASSERT_EQ(epoll_ctl(ep, EPOLL_CTL_ADD, fd[0], &ev), 0);
    }
    void pauseWatching() override
    {
        watching++;
        reRegister();
    }
};

TEST_F(PosixConsolePipe, InputWakesThePauseWhileItWaitsElseTheSourcesThread)
{
    struct Case {
        const char *what;
        bool mainPauses;
        int threadWakes; /* events the source's thread got */
    } cases[] = {
        {"while the pause waits: the pause reads, the thread sleeps on", true, 0},
        {"while the main thread is away: the thread wakes at once", false, 1},
    };
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    HandOverWatch w;
    ASSERT_EQ(pipe(w.fd), 0);
    fcntl(w.fd[0], F_SETFL, O_NONBLOCK);
    w.ep = epoll_create1(EPOLL_CLOEXEC);
    ASSERT_GE(w.ep, 0);
    w.reRegister(); /* the thread was there first */
    vt::setPauseWatch(&w);
    C().sleep(1);
    EXPECT_EQ(w.watching, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<int> woke{-1};
        std::thread waiter([&] {
            struct epoll_event ev;
            woke = epoll_wait(w.ep, &ev, 1, 400);
        });
        Typist t(std::chrono::milliseconds(50), [&] { send(w.fd[1], "m"); });
        if (c.mainPauses)
            C().sleep(300);
        else
            usleep(150 * 1000);
        t.join();
        waiter.join();
        EXPECT_EQ(woke.load(), c.threadWakes);
        EXPECT_EQ(w.got, c.mainPauses ? "m" : "");
        char buf[8];
        while (read(w.fd[0], buf, sizeof buf) > 0) {
        }
        w.got.clear();
    }
    EXPECT_EQ(w.watching, 1) << "the set is kept from one pause to the next";
    vt::setPauseWatch(nullptr);
    close(w.ep);
    for (int fd : w.fd)
        close(fd);
}
#endif

/* _kbhit tells the sources how long the main thread has been out of the
   pause, so that a backend's thread can take over from a busy one. */
TEST_F(PosixConsolePipe, KbhitTellsTheSourcesHowLongTheMainThreadIsAway)
{
    struct BusyWatch : PipeWatch {
        int64_t away = -1;
        void mainBusy(int64_t awayUs) override { away = awayUs; }
    } w;
    ASSERT_EQ(pipe(w.fd), 0);
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    vt::setPauseWatch(&w);
    C().sleep(1);
    C().kbhit();
    int64_t atOnce = w.away;
    usleep(20 * 1000);
    C().kbhit();
    int64_t later = w.away;
    vt::setPauseWatch(nullptr);
    EXPECT_GE(atOnce, 0);
    EXPECT_LT(atOnce, later);
    EXPECT_GE(later, 20000);
    for (int fd : w.fd)
        close(fd);
}

/* Before the main thread waits anywhere but in the pause, the sources
   hear it (PauseWatch::mainBusy, INT64_MAX), so that their threads read
   meanwhile: before a burst's lines go out (a terminal may take long over
   them), before a wait for a key not yet there or for a line.  A line or
   two written, a key already there: no such word. */
TEST_F(PosixConsolePipe, TheSourcesHearOfEveryWaitElsewhere)
{
    const char *line = "  MIDI Note ON     90 3c 40  ( C 3 )\n";
    struct Case {
        const char *what;
        std::function<void()> act;
        bool told;
    } cases[] = {
        {"one line written",
            [&] {
                printf("%s", line);
                C().sleep(1);
            },
            false},
        {"a burst's lines written",
            [&] {
                for (int k = 0; k < 60; k++)
                    printf("%s", line);
                C().sleep(1);
            },
            true},
        {"a key that is there",
            [&] {
                send(in[1], "k");
                waitKbhit(500);
                C().getch();
            },
            false},
        {"a key that is not there yet",
            [&] {
                Typist t(std::chrono::milliseconds(30), [&] { send(in[1], "k"); });
                C().getch();
                t.join();
            },
            true},
        {"a line",
            [&] {
                send(in[1], "ab\r");
                char buf[8];
                C().readLine(buf, sizeof buf);
            },
            true},
    };
    struct ElsewhereWatch : PipeWatch {
        int out = -1;
        int told = 0, toldBeforeWrite = 0;
        void mainBusy(int64_t awayUs) override
        {
            if (awayUs != INT64_MAX)
                return;
            told++;
            char b;
            toldBeforeWrite += read(out, &b, 1) < 0;
        }
    } w;
    ASSERT_EQ(pipe(w.fd), 0);
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    int shown[2];     /* standard output */
    ASSERT_EQ(pipe(shown), 0);
    fcntl(shown[0], F_SETFL, O_NONBLOCK);
    fflush(stdout);
    int saved = dup(1);
    dup2(shown[1], 1);
    w.out = shown[0];
    vt::setPauseWatch(&w);
    for (const Case &c : cases) {
        w.told = w.toldBeforeWrite = 0;
        c.act();
        EXPECT_EQ(w.told, c.told ? 1 : 0) << c.what;
        EXPECT_EQ(w.toldBeforeWrite, w.told) << c.what << ": after output went out";
        fflush(stdout);
        drain(shown[0], 1);
    }
    vt::setPauseWatch(nullptr);
    dup2(saved, 1);
    close(saved);
    close(shown[0]);
    close(shown[1]);
    for (int fd : w.fd)
        close(fd);
}

/* Output waits for a pause that waits: a pause that a notification ends
   at once leaves the lines in the buffer, to go out with what came. */
TEST_F(PosixConsolePipe, OutputGoesOutBeforeAPauseThatWaits)
{
    struct Case {
        const char *what;
        bool notified;
        const char *seen; /* on standard output once the pause is over */
    } cases[] = {
        {"a notification came: no write yet", true, ""},
        {"nothing came: written before the wait", false, "line\n"},
    };
    vtWake();
    C().sleep(60000); /* take any earlier wake-up */
    int out2[2];
    ASSERT_EQ(pipe(out2), 0);
    fcntl(out2[0], F_SETFL, O_NONBLOCK);
    fflush(stdout);
    int saved = dup(1);
    dup2(out2[1], 1);
    std::string seen[2];
    for (int i = 0; i < 2; i++) {
        printf("line\n");
        if (cases[i].notified)
            vtWake();
        C().sleep(20);
        char buf[64];
        ssize_t n = read(out2[0], buf, sizeof buf);
        seen[i] = n > 0 ? std::string(buf, (size_t)n) : "";
        C().sleep(1); /* nothing pending now: out it goes */
        while (read(out2[0], buf, sizeof buf) > 0) {
        }
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(out2[0]);
    close(out2[1]);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(seen[i], cases[i].seen) << cases[i].what;
}

/* At the end of the input the pause still lasts: the keys that end the
   program are always there, and must not turn a slow pace into a fast one. */
TEST_F(PosixConsolePipe, PauseLastsAtTheEnd)
{
    Clock::time_point end = Clock::now();
    endInput();
    vtWake();
    C().sleep(60000); /* takes the end and any earlier wake-up */
    /* the end counts as a key only once the input has been quiet a while,
       so that what a last line made a port answer is still shown */
    EXPECT_TRUE(waitKbhit(2000));
    EXPECT_GE(msSince(end), 150);
    Clock::time_point t0 = Clock::now();
    C().sleep(100);
    EXPECT_GE(msSince(t0), 100);
}

TEST_F(PosixConsolePty, LoneEscEndsThePause)
{
    vtWake();
    C().sleep(60000);
    send(master, "\x1b");
    Clock::time_point t0 = Clock::now();
    C().sleep(60000);
    EXPECT_LT(msSince(t0), 30000);
    EXPECT_EQ(C().kbhit(), 1);
    EXPECT_EQ(C().getch(), 27);
}

/* A signal while the output is being flushed into a full pipe: the write
   it cuts short has put out part of the buffer, and the rest goes out
   once before the signal takes its course, not the whole buffer again. */
TEST(PosixConsoleSignal, SignalDuringAFlushShowsEachByteOnce)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
#ifdef F_SETPIPE_SZ
    if (fcntl(out[1], F_SETPIPE_SZ, 4096) != 4096)
        GTEST_SKIP() << "the pipe keeps its size";
#else
    GTEST_SKIP() << "no F_SETPIPE_SZ";
#endif
    std::string text;
    for (int n = 0; text.size() < 60000; n++)
        text += "line " + std::to_string(n) + "\n";
    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        vtPosixConsoleDetach();
        C().init();
        fputs(text.c_str(), stdout); /* held in the 64 KB buffer */
        C().sleep(0);                /* flushes it, and blocks on the pipe */
        _exit(3);
    }
    close(out[1]);
    /* the pipe is full: the flush is blocked in its write */
    int queued = 0;
    for (int i = 0; i < 500 && queued < 4096; i++) {
        usleep(10 * 1000);
        ASSERT_EQ(ioctl(out[0], FIONREAD, &queued), 0);
    }
    ASSERT_EQ(queued, 4096);
    usleep(20 * 1000);
    kill(pid, SIGTERM);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        got.append(buf, (size_t)n);
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text);
}

/* The function the program runs at a fatal signal: once, before the
   signal ends the process as it would have without it; a signal that
   comes during a section of the main thread (on the main thread, or on
   another, whose handler then returns) waits for the outermost section's
   end.  The child writes 's' once its sections are over, still alive,
   and the function writes 'f'. */
int gSignalPipe = -1;

TEST(PosixConsoleSignal, FunctionRunsOnceBeforeTheEnd)
{
    const struct {
        int sig, sections;
        bool otherThread;
        const char *written;
    } cases[] = {{SIGTERM, 0, false, "f"}, {SIGINT, 1, false, "sf"}, {SIGHUP, 2, true, "sf"},
        {SIGUSR1, 0, true, "f"}};
    for (const auto &c : cases) {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        fflush(stdout);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            gSignalPipe = out[1];
            dup2(open("/dev/null", O_RDWR), 0);
            vtPosixConsoleDetach();
            C().init(); /* the handlers */
            vtAtFatalSignal([] { (void)!write(gSignalPipe, "f", 1); });
            for (int i = 0; i < c.sections; i++)
                vtHoldFatalSignals(1);
            if (c.otherThread)
                std::thread([&] { raise(c.sig); }).join();
            else
                raise(c.sig);
            (void)!write(out[1], "s", 1);
            for (int i = 0; i < c.sections; i++)
                vtHoldFatalSignals(0);
            _exit(4);
        }
        close(out[1]);
        std::string got;
        char ch;
        while (read(out[0], &ch, 1) == 1) /* to the end: the child is gone */
            got += ch;
        close(out[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.sig << ": " << status;
        EXPECT_EQ(got, c.written) << c.sig;
    }
}

/* A real fault in the program: the terminal is given back before the
   fault takes its course.  Run as the program runs, in a child whose
   standard input is the terminal. */
TEST_F(PosixConsolePty, FaultGivesTheTerminalBack)
{
    struct termios now;
    ASSERT_EQ(tcgetattr(slave, &now), 0);
    ASSERT_FALSE(now.c_lflag & ICANON) << "attached: raw";
    vtPosixConsoleDetach();
    ASSERT_EQ(tcgetattr(slave, &now), 0);
    ASSERT_TRUE(now.c_lflag & ICANON);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_CORE, &none);
        dup2(slave, 0);
        C().init();
        struct termios t;
        char raw = (tcgetattr(0, &t) == 0 && !(t.c_lflag & ICANON)) ? 'r' : 'c';
        if (write(ready[1], &raw, 1) != 1)
            _exit(2);
        volatile char *page =
            (volatile char *)mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        page[0] = 1;
        _exit(0);
    }
    char raw = 0;
    EXPECT_EQ(read(ready[0], &raw, 1), 1);
    EXPECT_EQ(raw, 'r') << "init did not put the terminal in raw mode";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    /* killed by the fault, or ended by a sanitizer's report of it */
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) ||
                (WIFEXITED(status) && WEXITSTATUS(status) != 0))
        << status;
    struct termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(0, memcmp(after.c_cc, before.c_cc, sizeof after.c_cc));
    close(ready[0]);
    close(ready[1]);
}

} // namespace
