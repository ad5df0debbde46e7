/*
 * The Windows platform layer with the real services behind it: the port
 * host's answers where winmm has no port (what the system meets on a
 * machine without MIDI, and under wine: the loopback port only), the pause
 * that a notification or a wake-up ends, the keyboard read from a pipe,
 * and the files.
 */
#ifdef _WIN32

#include "../../typist.h"
#include "../callback_recorder.h"
#include "platform/platform.h"
#include "platform/common/service.h"
#include "platform/loopback/loopback.h"
#include "platform/testdouble/testdouble.h"
#include "platform/win/internal.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

bool underWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void CALLBACK ignoreCallback(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

class WinMidi : public ::testing::Test {
protected:
    void SetUp() override { td::uninstall(); }
};

TEST_F(WinMidi, OnlyTheLoopbackUnderWineWithoutItsAlsaDriver)
{
    const char *overrides = getenv("WINEDLLOVERRIDES");
    if (!underWine() || !overrides || !strstr(overrides, "winealsa.drv=d"))
        GTEST_SKIP() << "port counts depend on the machine";
    /* the way the test stage runs wine: no MIDI driver, so winmm offers no
       device and the loopback port is the only one */
    ASSERT_EQ(1u, midiOutGetNumDevs());
    ASSERT_EQ(1u, midiInGetNumDevs());
    MIDIOUTCAPSA oc;
    MIDIINCAPSA ic;
    ASSERT_EQ(0u, midiOutGetDevCapsA(0, &oc, sizeof oc));
    ASSERT_EQ(0u, midiInGetDevCapsA(0, &ic, sizeof ic));
    EXPECT_STREQ(VT_LOOPBACK_NAME, oc.szPname);
    EXPECT_STREQ(VT_LOOPBACK_NAME, ic.szPname);
}

TEST_F(WinMidi, PortPastTheLastIsRefusedAndLeavesTheHandleZero)
{
    const UINT outPast = midiOutGetNumDevs();
    const UINT inPast = midiInGetNumDevs();

    MIDIOUTCAPSA oc;
    MIDIINCAPSA ic;
    EXPECT_EQ((MMRESULT)MMSYSERR_BADDEVICEID, midiOutGetDevCapsA(outPast, &oc, sizeof oc));
    EXPECT_EQ((MMRESULT)MMSYSERR_BADDEVICEID, midiInGetDevCapsA(inPast, &ic, sizeof ic));

    /* a failed open must leave none behind, whatever was in the handle */
    HMIDIOUT ho = reinterpret_cast<HMIDIOUT>(static_cast<uintptr_t>(0x5a5a));
    EXPECT_NE((MMRESULT)MMSYSERR_NOERROR, midiOutOpen(&ho, outPast, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(nullptr, ho);

    /* the input open as the status report does it: with the callback */
    HMIDIIN hi = reinterpret_cast<HMIDIIN>(static_cast<uintptr_t>(0x5a5a));
    EXPECT_NE((MMRESULT)MMSYSERR_NOERROR, midiInOpen(&hi, inPast, reinterpret_cast<DWORD_PTR>(ignoreCallback),
                                              0, CALLBACK_FUNCTION | MIDI_IO_STATUS));
    EXPECT_EQ(nullptr, hi);
}

/* What the system does with a handle that stayed 0: every operation must
   answer with an error (so the system prints its own), and an unprepare
   must never answer 65, which the system would retry for ever. */
TEST_F(WinMidi, OperationsOnNoHandleFail)
{
    char bytes[4] = {(char)0x90, 0x3c, 0x40, 0};
    MIDIHDR hdr = recorder::header(bytes, 3);
    hdr.dwBytesRecorded = 3;

    struct Case {
        const char *op;
        std::function<MMRESULT()> call;
        bool mustFail;
    };
    const UINT sz = sizeof(MIDIHDR);
    const std::vector<Case> cases = {
        {"midiOutPrepareHeader", [&] { return midiOutPrepareHeader(0, &hdr, sz); }, true},
        {"midiOutLongMsg", [&] { return midiOutLongMsg(0, &hdr, sz); }, true},
        {"midiOutUnprepareHeader", [&] { return midiOutUnprepareHeader(0, &hdr, sz); }, false},
        {"midiOutClose", [&] { return midiOutClose(0); }, true},
        {"midiInStart", [&] { return midiInStart(0); }, true},
        {"midiInPrepareHeader", [&] { return midiInPrepareHeader(0, &hdr, sz); }, true},
        {"midiInAddBuffer", [&] { return midiInAddBuffer(0, &hdr, sz); }, true},
        {"midiInReset", [&] { return midiInReset(0); }, true},
        {"midiInUnprepareHeader", [&] { return midiInUnprepareHeader(0, &hdr, sz); }, false},
        {"midiInClose", [&] { return midiInClose(0); }, true},
    };
    for (const Case &c : cases) {
        MMRESULT r = c.call();
        EXPECT_NE((MMRESULT)MIDIERR_STILLPLAYING, r) << c.op;
        if (c.mustFail) {
            EXPECT_NE((MMRESULT)MMSYSERR_NOERROR, r) << c.op;
        }
    }
}

/* --- the pause ------------------------------------------------------------ */

/* milliseconds the real pause of `ms` took */
long long pauseTook(unsigned long ms)
{
    auto t0 = std::chrono::steady_clock::now();
    vtRealConsole()->sleep(ms);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
        .count();
}

/* The pauses below are 60 s long; "ended early" means well before that,
   so a slow machine cannot make them fail, while a lost wake-up would. */
const unsigned long kLongPause = 60000;
const long long kEarly = 30000;

/* A message through the loopback (the last port of each direction) ends
   the pause of the main loop, also when it came before the pause began. */
TEST(WinWake, ANotificationWakesThePause)
{
    td::uninstall();
    recorder::clear();
    UINT in = midiInGetNumDevs() - 1, out = midiOutGetNumDevs() - 1;
    HMIDIIN hi = 0;
    HMIDIOUT ho = 0;
    ASSERT_EQ(0u, midiInOpen(&hi, in, reinterpret_cast<DWORD_PTR>(recorder::recordNote), 0, CALLBACK_FUNCTION));
    ASSERT_EQ(0u, midiOutOpen(&ho, out, 0, 0, CALLBACK_NULL));
    ASSERT_EQ(0u, midiInStart(hi));
    vtRealConsole()->sleep(0); /* takes any wake-up given before */
    char note[3] = {(char)0x90, 0x3c, 0x40};
    MIDIHDR hdr = recorder::header(note, sizeof note);
    ASSERT_EQ(0u, midiOutPrepareHeader(ho, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiOutLongMsg(ho, &hdr, sizeof hdr));
    ASSERT_EQ(0u, midiOutUnprepareHeader(ho, &hdr, sizeof hdr));
    ASSERT_TRUE(recorder::waitFor(MIM_DATA));
    EXPECT_LT(pauseTook(kLongPause), kEarly);
    EXPECT_EQ(0u, midiOutClose(ho));
    EXPECT_EQ(0u, midiInReset(hi));
    EXPECT_EQ(0u, midiInClose(hi));
}

TEST(WinWake, WakeFromAnotherThreadEndsAPause)
{
    Typist waker(std::chrono::milliseconds(100), [] { vtWake(); });
    long long took = pauseTook(kLongPause);
    waker.join();
    EXPECT_LT(took, kEarly);
}

TEST(WinWake, OneWakeEndsOnePause)
{
    vtWake();
    vtWake(); /* a second one before the pause adds nothing */
    EXPECT_LT(pauseTook(kLongPause), kEarly);
    /* nothing pending now: a short pause runs its course (not measured
       closely: only that it does not end before it began) */
    EXPECT_GE(pauseTook(20), 0);
}

/* --- the keyboard from a pipe -------------------------------------------- */

class WinPipedKeys : public ::testing::Test {
protected:
    HANDLE saved = NULL;
    HANDLE rd = NULL;
    HANDLE wr = NULL;

    void SetUp() override
    {
        td::uninstall();
        saved = GetStdHandle(STD_INPUT_HANDLE);
        ASSERT_TRUE(CreatePipe(&rd, &wr, NULL, 0));
        SetStdHandle(STD_INPUT_HANDLE, rd);
        vtwin::consoleReset();
    }
    void TearDown() override
    {
        SetStdHandle(STD_INPUT_HANDLE, saved);
        vtwin::consoleReset();
        if (wr)
            CloseHandle(wr);
        CloseHandle(rd);
    }

    void type(const std::string &bytes)
    {
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(wr, bytes.data(), (DWORD)bytes.size(), &done, NULL));
        ASSERT_EQ(bytes.size(), done);
    }
    void endInput()
    {
        CloseHandle(wr);
        wr = NULL;
    }
    std::vector<int> keys(size_t n)
    {
        std::vector<int> k;
        for (size_t i = 0; i < n; i++)
            k.push_back(_getch());
        return k;
    }
};

TEST_F(WinPipedKeys, BytesBecomeKeysLineEndsEnterAndTheEndEscEnter)
{
    struct Case {
        std::string input;
        std::vector<int> keys;
    };
    const std::vector<Case> cases = {
        {"ab", {'a', 'b', 27, 13, 27, 13}}, {"x\r\ny\n", {'x', 13, 'y', 13, 27, 13}},
        {"\r\r\n\n", {13, 13, 13, 27}}, /* CR, CR LF, lone LF */
        {"\n\r", {13, 13, 27}},         /* LF CR is two Enters */
        {std::string("\0\x3b\xe0\x48", 4), {0, 0x3b, 0xe0, 0x48, 27}}, {"", {27, 13, 27, 13}},
        {"\x1b\r\n", {27, 13, 27, 13}}, {"\x7f\x08", {8, 8, 27}}, /* DEL is Backspace */
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        type(c.input);
        endInput();
        EXPECT_EQ(c.keys, keys(c.keys.size())) << "input of " << c.input.size() << " bytes";
    }
}

/* 0 and 0xE0 are key prefixes as a script writes them, except a 0xE0
   that begins a UTF-8 character. */
TEST_F(WinPipedKeys, PrefixesAndCharacters)
{
    struct Case {
        std::string input, kinds;
    };
    const std::vector<Case> cases = {
        {std::string("\0\x3b", 2), "kk"},
        {"\xe0\x48", "kk"},
        {"\xe0\xa4\xa0", "ccc"},
        {std::string("\xc3\xa9\0\x43", 4), "cckk"},
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        type(c.input);
        std::string kinds;
        for (size_t i = 0; i < c.input.size(); i++) {
            EXPECT_EQ((unsigned char)c.input[i], _getch());
            kinds += lastKeyIsCharacter() ? 'c' : 'k';
        }
        EXPECT_EQ(c.kinds, kinds) << "input of " << c.input.size() << " bytes";
    }
}

TEST_F(WinPipedKeys, KbhitSaysWhetherAKeyWaitsWithoutTakingIt)
{
    EXPECT_EQ(0, _kbhit()) << "nothing written yet";
    type("k");
    EXPECT_NE(0, _kbhit());
    EXPECT_NE(0, _kbhit()) << "asking again takes nothing";
    EXPECT_EQ('k', _getch());
    EXPECT_EQ(0, _kbhit());
    type("\r");
    EXPECT_EQ(13, _getch());
    type("\n");
    EXPECT_EQ(0, _kbhit()) << "the LF of a CR LF pair is no key of its own";
    endInput();
    /* the end counts as a key once the input has been quiet a while, so
       that what the last line made a port answer is still shown */
    auto end = std::chrono::steady_clock::now();
    while (!_kbhit())
        ASSERT_LT(std::chrono::steady_clock::now() - end, std::chrono::seconds(10));
    EXPECT_GE(std::chrono::steady_clock::now() - end, std::chrono::milliseconds(100));
    EXPECT_NE(0, _kbhit()) << "at the end a key always waits";
    EXPECT_EQ(27, _getch());
    EXPECT_NE(0, _kbhit());
    EXPECT_EQ(13, _getch());
}

TEST_F(WinPipedKeys, ReadLineIsBoundedAndAnswersMinusOneAtTheEnd)
{
    struct Step {
        int result;
        std::string line;
    };
    struct Case {
        std::string input;
        unsigned size;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"12\n", 16, {{2, "12"}, {-1, ""}}}, {"abc\r\ndef", 16, {{3, "abc"}, {3, "def"}, {-1, ""}}},
        {"abcdefg\nxy\n", 4, {{3, "abc"}, {2, "xy"}, {-1, ""}}}, {"\n\r\n", 8, {{0, ""}, {0, ""}, {-1, ""}}},
        {"", 8, {{-1, ""}, {-1, ""}}}, {"7\n", 1, {{0, ""}, {-1, ""}}},
        {"ab\x08"
         "c\na\x7f\x7f\n",
            8, {{2, "ac"}, {0, ""}, {-1, ""}}},                 /* Backspace, DEL */
        {"\x01x\ty\x1b\n", 8, {{2, "xy"}, {-1, ""}}},           /* control keys */
        {"\xc3\xa9\xc3\xa9\n", 4, {{2, "\xc3\xa9"}, {-1, ""}}}, /* whole characters */
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        type(c.input);
        endInput();
        for (size_t i = 0; i < c.steps.size(); i++) {
            char buf[32];
            memset(buf, 'Z', sizeof buf);
            int r = readLine(buf, c.size);
            EXPECT_EQ(c.steps[i].result, r) << c.input << " step " << i;
            EXPECT_EQ(c.steps[i].line, std::string(buf)) << c.input << " step " << i;
            EXPECT_EQ('Z', buf[c.size]) << "nothing written past the buffer";
        }
    }
}

TEST_F(WinPipedKeys, APipedLineIsNotEchoed)
{
    type("0\nabcdef\n");
    char buf[4];
    fflush(stdout);
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, readLine(buf, sizeof buf));
    EXPECT_EQ(3, readLine(buf, sizeof buf));
    fflush(stdout);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(WinPipedKeys, LineThenKeysShareTheInput)
{
    type("1\r\nq");
    endInput();
    char buf[8];
    EXPECT_EQ(1, readLine(buf, sizeof buf));
    EXPECT_EQ('q', _getch()) << "the LF after the line's CR is no key";
    EXPECT_EQ(27, _getch());
}

/* --- keys a terminal console hands over without a character ------------- */

TEST(WinConsoleKeys, EscAndFunctionKeysWithoutACharacterGetTheirBytes)
{
    const DWORD kShift = SHIFT_PRESSED, kCtrl = LEFT_CTRL_PRESSED, kAlt = LEFT_ALT_PRESSED;
    struct Case {
        const char *what;
        WORD vk;
        char ch;
        BOOL down;
        DWORD ctrl;
        int first, second;
    };
    const Case cases[] = {
        {"ESC", VK_ESCAPE, 0, TRUE, 0, 27, -1},
        {"F1", VK_F1, 0, TRUE, 0, 0, 0x3B},
        {"F6", VK_F6, 0, TRUE, 0, 0, 0x40},
        {"F10", VK_F10, 0, TRUE, 0, 0, 0x44},
        {"F11", VK_F11, 0, TRUE, 0, 0xE0, 0x85},
        {"F12", VK_F12, 0, TRUE, 0, 0xE0, 0x86},
        /* conio's own */
        {"ESC with its character", VK_ESCAPE, 27, TRUE, 0, -1, -1},
        {"ESC released", VK_ESCAPE, 0, FALSE, 0, -1, -1},
        {"Shift-F1", VK_F1, 0, TRUE, kShift, -1, -1},
        {"Ctrl-F5", VK_F5, 0, TRUE, kCtrl, -1, -1},
        {"Alt-F12", VK_F12, 0, TRUE, kAlt, -1, -1},
        {"Home", VK_HOME, 0, TRUE, 0, -1, -1},
        {"a", 'A', 'a', TRUE, 0, -1, -1},
        {"F13", VK_F13, 0, TRUE, 0, -1, -1},
    };
    for (const Case &c : cases) {
        KEY_EVENT_RECORD k;
        memset(&k, 0, sizeof k);
        k.bKeyDown = c.down;
        k.wRepeatCount = 1;
        k.wVirtualKeyCode = c.vk;
        k.uChar.AsciiChar = c.ch;
        k.dwControlKeyState = c.ctrl;
        int second = 1234;
        EXPECT_EQ(c.first, vtwin::ownKey(k, &second)) << c.what;
        if (c.first >= 0) {
            EXPECT_EQ(c.second, second) << c.what;
        }
    }
}

/* --- files ---------------------------------------------------------------- */

TEST(WinFiles, RoundTripAndMissingFile)
{
    td::uninstall();
    const char *name = "vt_win_files.tmp";
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(h, "\xf0\x7d\xf7", 3, &done, NULL));
    EXPECT_EQ(3u, done);
    EXPECT_TRUE(WriteFile(h, "x", 1, NULL, NULL)) << "no count asked for";
    EXPECT_TRUE(CloseHandle(h));

    h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    char buf[8] = {0};
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done, NULL));
    EXPECT_EQ(4u, done);
    EXPECT_EQ(std::string("\xf0\x7d\xf7x"), std::string(buf, 4));
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done, NULL));
    EXPECT_EQ(0u, done) << "end of file";
    EXPECT_TRUE(CloseHandle(h));
    DeleteFileA(name);

    EXPECT_EQ(INVALID_HANDLE_VALUE,
        CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
}

/* A pipe is read without waiting: no byte yet is ERROR_NO_DATA, and the
   end comes when its writer goes. */
TEST(WinFiles, APipeIsReadWithoutWaiting)
{
    td::uninstall();
    const char *name = "\\\\.\\pipe\\voltanis_test_send";
    HANDLE server =
        CreateNamedPipeA(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    char buf[8];
    DWORD done = 99;
    EXPECT_FALSE(ReadFile(h, buf, 1, &done, NULL));
    EXPECT_EQ((DWORD)ERROR_NO_DATA, GetLastError());
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(server, "abc", 3, &put, NULL));
    EXPECT_TRUE(ReadFile(h, buf, 8, &done, NULL));
    EXPECT_EQ(std::string("abc"), std::string(buf, done));
    CloseHandle(server);
    EXPECT_TRUE(ReadFile(h, buf, 1, &done, NULL));
    EXPECT_EQ(0u, done) << "the writer has gone: the end";
    CloseHandle(h);
}

/* The console is never opened as a file. */
TEST(WinFiles, TheConsoleIsNoFile)
{
    td::uninstall();
    HANDLE real = CreateFileW(
        L"CONIN$", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (real == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no console here";
    ::CloseHandle(real);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("CONIN$", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        NULL, OPEN_EXISTING, 0, NULL));
    EXPECT_EQ((DWORD)ERROR_VT_KEYBOARD, GetLastError());
}

/* A file replaced whole by a move, attributes of the name, and a read-only
   file left in place. */
TEST(WinFiles, MoveAttributesAndDelete)
{
    td::uninstall();
    const char *a = "vt_win_move_a.tmp", *b = "vt_win_move_b.tmp";
    for (const char *n : {a, b}) {
        HANDLE h = CreateFileA(n, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD done;
        WriteFile(h, n, (DWORD)strlen(n), &done, NULL);
        CloseHandle(h);
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE,
        CreateFileA(a, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
    EXPECT_EQ((DWORD)ERROR_FILE_EXISTS, GetLastError());
    EXPECT_EQ(0u, GetFileAttributesA(b) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_TRUE(MoveFileExA(a, b, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(a));
    ASSERT_TRUE(SetFileAttributesA(b, FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(0u, GetFileAttributesA(b) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(b, FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA(b));
    EXPECT_FALSE(DeleteFileA(b));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

} // namespace

#endif /* _WIN32 */
