/* The send file: real files in a scratch directory, keys from the test
   double, transmissions and console text compared block by block. */
#include "entry_output_fixture.h"
#include "extras/extras.h"
#include "typist.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const char *const kConfirmPrompt = " - confirm with <ENTER>.\nTo select another file type CTRL_F  ";

/* the fixture's scratch directory holds the files to send */
class SendFileTest : public EntryOutputTest {
protected:
    using ScratchTest::writeFile;

    /* a file whose bytes differ from block to block */
    static Bytes writeFile(const char *name, size_t size)
    {
        Bytes content(size);
        for (size_t i = 0; i < size; i++)
            content[i] = (uint8_t)(i * 7 + i / 64 + 3);
        writeFile(name, content);
        return content;
    }

    static void setName(const char *name)
    {
        memset(gSendFileName, 0, sizeof gSendFileName);
        strcpy(gSendFileName, name);
    }

    /* the file is not held by anyone: an exclusive open succeeds */
    static bool fileIsFree(const char *name)
    {
        HANDLE h = CreateFileA(name, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    static std::string confirmText(const char *name, uint8_t pace)
    {
        return std::string("Send file ") + name + (pace == 1 ? " 'slowly'" : " 'fast'") + kConfirmPrompt +
               "\n";
    }

    static Bytes joined(const Sends &s)
    {
        Bytes all;
        for (const Bytes &b : s)
            all.insert(all.end(), b.begin(), b.end());
        return all;
    }

    /* The key a wait needs arrives from another thread only after the
       transfer has paused a few times (a wait that spins never pauses:
       the key comes after two seconds then, and the checks fail). */
    static void checkTheWaitPauses(size_t size, const std::string &typed, std::string key, const std::string &end)
    {
        writeFile("w", size);
        setName("w");
        td::keys(typed);
        Typist typist([] { return td::sleeps() >= 3; }, [key] { td::keys(key); });
        std::string text = printed([] { SendFile(0); });
        typist.join();
        EXPECT_GE(td::sleeps(), 3u);
        EXPECT_EQ(text, confirmText("w", 0) + end);
        EXPECT_EQ(td::sent().size(), 1u);
    }

    static std::vector<size_t> blockSizes(const Sends &s)
    {
        std::vector<size_t> sizes;
        for (const Bytes &b : s)
            sizes.push_back(b.size());
        return sizes;
    }
};

struct TransferRow {
    size_t size;
    uint8_t pace;
    std::vector<size_t> blocks;
    const char *progress; /* what follows "-Sending " */
    unsigned pauses;
};

std::vector<size_t> fullBlocks(size_t n, std::vector<size_t> tail)
{
    std::vector<size_t> b(n, 64);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

TEST_F(SendFileTest, TransferTable)
{
    const TransferRow rows[] = {
        {0, 0, {0}, "Ready\n", 0},
        {0, 1, {0}, "Ready\n", 0},
        {1, 0, {1}, "Ready\n", 0},
        {63, 1, {63}, "Ready\n", 0},
        {64, 0, {64, 0}, ".Ready\n", 0},
        {64, 1, {64, 0}, ".Ready\n", 1},
        {65, 0, {64, 1}, ".Ready\n", 0},
        {65, 1, {64, 1}, ".Ready\n", 1},
        {1600, 1, fullBlocks(25, {0}), ".Ready\n", 25},
        {1600, 0, fullBlocks(25, {0}), ".Ready\n", 0},
        {1664, 0, fullBlocks(26, {0}), "..Ready\n", 0},
        {3300, 1, fullBlocks(51, {36}), "...Ready\n", 51},
    };
    for (const TransferRow &r : rows) {
        startAfresh();
        SCOPED_TRACE(std::to_string(r.size) + " bytes, pace " + std::to_string(r.pace));
        Bytes content = writeFile("data.syx", r.size);
        setName("data.syx");
        td::keys("\r");
        std::string text = printed([&] { SendFile(r.pace); });
        EXPECT_EQ(text, confirmText("data.syx", r.pace) + "-Sending " + r.progress);
        EXPECT_EQ(blockSizes(td::sent()), r.blocks);
        EXPECT_TRUE(joined(td::sent()) == content);
        EXPECT_EQ(td::sleeps(), r.pauses);
        EXPECT_EQ(td::sleptMs(), 100ul * r.pauses);
        EXPECT_TRUE(fileIsFree("data.syx"));
        EXPECT_STREQ(gSendFileName, "data.syx");
    }
}

/* --gap: a block ends after each F7 and the gap follows it, on top of the
   pace; every pause goes through the platform's */
TEST_F(SendFileTest, GapAfterEachF7)
{
    Bytes five;
    for (int i = 0; i < 5; i++) {
        const uint8_t m[] = {0xF0, 0x7D, (uint8_t)i, 0xF7};
        five.insert(five.end(), m, m + 4);
    }
    Bytes mixed = sysexOf(100, 0x41);
    mixed.insert(mixed.end(), {0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7, 0x80, 0x3C, 0x00});
    const struct {
        Bytes file;
        uint8_t pace;
        unsigned gap;
        std::vector<size_t> blocks;
        unsigned long sleptMs;
    } rows[] = {
        {five, 0, 50, {4, 4, 4, 4, 4, 0}, 250},
        {five, 1, 50, {4, 4, 4, 4, 4, 0}, 750},
        {five, 0, 0, {20}, 0},
        {mixed, 0, 30, {64, 36, 6, 3}, 60},
    };
    for (const auto &r : rows) {
        startAfresh();
        SCOPED_TRACE("pace " + std::to_string(r.pace) + ", gap " + std::to_string(r.gap));
        sendGapOn(r.gap);
        writeFile("dump.syx", r.file);
        setName("dump.syx");
        td::keys("\r");
        std::string text = printed([&] { SendFile(r.pace); });
        extrasFinish();
        EXPECT_EQ(text.substr(text.size() - 6), "Ready\n");
        EXPECT_EQ(blockSizes(td::sent()), r.blocks);
        EXPECT_TRUE(joined(td::sent()) == r.file);
        EXPECT_EQ(td::sleptMs(), r.sleptMs);
    }
}

TEST_F(SendFileTest, ReadSendLineFillsBlocksOfSixtyFour)
{
    Bytes content = writeFile("b", 70);
    ghSendFile = CreateFileA("b", GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(ghSendFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadSendLine(), 1);
    EXPECT_EQ(gTXCol, 64);
    EXPECT_TRUE(Bytes(gSbuf, gSbuf + 64) == Bytes(content.begin(), content.begin() + 64));
    EXPECT_EQ(ReadSendLine(), 255);
    EXPECT_EQ(gTXCol, 6);
    EXPECT_TRUE(Bytes(gSbuf, gSbuf + 6) == Bytes(content.begin() + 64, content.end()));
    EXPECT_EQ(ReadSendLine(), 255);
    EXPECT_EQ(gTXCol, 0);
    CloseHandle(ghSendFile);
}

TEST_F(SendFileTest, NamePromptWhenNoNameIsStored)
{
    Bytes content = writeFile("f1", 10);
    td::keys("f1\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_EQ(text, "\nType file name to be sent 'fast' and finish with <ENTER>:\n"
                    "f1\n-Sending Ready\n");
    EXPECT_STREQ(gSendFileName, "f1");
    EXPECT_TRUE(joined(td::sent()) == content);
}

TEST_F(SendFileTest, CtrlFAtTheConfirmationAsksForAnotherName)
{
    writeFile("old", 5);
    Bytes content = writeFile("new", 3);
    setName("old");
    td::keys("\x06"
             "new\r");
    std::string text = printed([] { SendFile(1); });
    EXPECT_EQ(text, std::string("Send file old 'slowly'") + kConfirmPrompt +
                        "\rType file name to be sent 'slowly' and finish with <ENTER>:\n"
                        "new\n-Sending Ready\n");
    EXPECT_STREQ(gSendFileName, "new");
    EXPECT_EQ(hexOf(td::sent()), hexOf(Sends{content}));
}

TEST_F(SendFileTest, AnyOtherKeyConfirms)
{
    Bytes content = writeFile("g", 2);
    setName("g");
    td::keys("x");
    EXPECT_EQ(printed([] { SendFile(0); }), confirmText("g", 0) + "-Sending Ready\n");
    EXPECT_EQ(hexOf(td::sent()), hexOf(Sends{content}));
}

TEST_F(SendFileTest, FunctionKeyConfirmsAsAWhole)
{
    writeFile("g", 2);
    setName("g");
    td::keys(std::string("\0\x3b", 2));
    EXPECT_EQ(printed([] { SendFile(0); }), confirmText("g", 0) + "-Sending Ready\n");
    EXPECT_FALSE(_kbhit()); /* the scan code did not stay behind */
}

TEST_F(SendFileTest, NameOfThirtyOneCharactersFits)
{
    const std::string name(31, 'n');
    Bytes content = writeFile(name.c_str(), 4);
    td::keys(name + "\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_STREQ(gSendFileName, name.c_str());
    EXPECT_EQ(hexOf(td::sent()), hexOf(Sends{content}));
    EXPECT_NE(text.find("-Sending Ready\n"), std::string::npos);
}

TEST_F(SendFileTest, LongerNameIsRefusedAndTheStoredOneKept)
{
    const std::string name(32, 'n');
    writeFile(name.c_str(), 4);
    td::keys(name + "\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_EQ(text, "\nType file name to be sent 'fast' and finish with <ENTER>:\n" + name +
                        "\nFile name too long (31 characters at most)!\n");
    EXPECT_STREQ(gSendFileName, "");
    EXPECT_TRUE(td::sent().empty());

    /* through CTRL-F with a stored name, far beyond any buffer */
    writeFile("keep", 1);
    setName("keep");
    const std::string huge(1000, 'h');
    td::keys("\x06" + huge + "\r");
    text = printed([] { SendFile(1); });
    EXPECT_NE(text.find("File name too long (31 characters at most)!\n"), std::string::npos);
    EXPECT_EQ(text.find("-Sending"), std::string::npos);
    EXPECT_STREQ(gSendFileName, "keep");
    EXPECT_TRUE(td::sent().empty());
}

TEST_F(SendFileTest, StoredNameWithoutTerminatorIsCutAtItsField)
{
    const std::string name(31, 'q');
    Bytes content = writeFile(name.c_str(), 2);
    memset(gSendFileName, 'q', sizeof gSendFileName);
    td::keys("\r");
    EXPECT_EQ(printed([] { SendFile(0); }), confirmText(name.c_str(), 0) + "-Sending Ready\n");
    EXPECT_EQ(hexOf(td::sent()), hexOf(Sends{content}));
}

TEST_F(SendFileTest, MissingFile)
{
    td::keys("nosuch\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_EQ(text, "\nType file name to be sent 'fast' and finish with <ENTER>:\n"
                    "nosuch\nCannot open Send File!\n");
    EXPECT_TRUE(td::sent().empty());
    /* offered again at the next transfer */
    EXPECT_STREQ(gSendFileName, "nosuch");
    td::keys("\r");
    EXPECT_EQ(printed([] { SendFile(1); }), confirmText("nosuch", 1) + "Cannot open Send File!\n");
}

TEST_F(SendFileTest, EmptyNameCannotBeOpenedAndIsAskedForAgain)
{
    setName("x");
    td::keys("\x06\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_NE(text.find("Cannot open Send File!\n"), std::string::npos);
    EXPECT_STREQ(gSendFileName, "");
    td::keys("\r");
    text = printed([] { SendFile(0); });
    EXPECT_EQ(text, "\nType file name to be sent 'fast' and finish with <ENTER>:\n\n"
                    "Cannot open Send File!\n");
}

TEST_F(SendFileTest, FileHeldByAnotherOpen)
{
    writeFile("held", 10);
    HANDLE other = CreateFileA("held", GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    setName("held");
    td::keys("\r");
    EXPECT_EQ(printed([] { SendFile(0); }),
        confirmText("held", 0) + "Cannot open Send File!\nheld: in use elsewhere!\n");
    EXPECT_TRUE(td::sent().empty());
    CloseHandle(other);
}

TEST_F(SendFileTest, F8AbortsAfterTheBlockInFlight)
{
    writeFile("big", 1600);
    setName("big");
    td::keys(std::string("\r\0\x42", 3));
    std::string text = printed([] { SendFile(1); });
    EXPECT_EQ(text, confirmText("big", 1) + "-Sending .Aborted\n");
    EXPECT_EQ(blockSizes(td::sent()), std::vector<size_t>{64});
    EXPECT_EQ(td::sleeps(), 0u) << "an F8 already typed is answered without the pause";
    EXPECT_TRUE(fileIsFree("big"));
}

/* The slow pace is kept to the clock: a pause that ends early (an echo of
   the block just sent, a key) is waited out again until 100 ms have passed. */
TEST_F(SendFileTest, SlowPaceKeepsToTheClockWhenPausesEndEarly)
{
    struct Row {
        unsigned long cap; /* ms after which every pause ends */
        unsigned sleeps;   /* pauses in the one 100 ms wait */
    };
    const Row rows[] = {{0, 1}, {30, 4}, {1, 100}, {99, 2}};
    for (const Row &r : rows) {
        startAfresh();
        SCOPED_TRACE("pauses end after " + std::to_string(r.cap) + " ms");
        writeFile("two", 65);
        setName("two");
        td::keys("\r");
        td::pausesEndAfter(r.cap);
        std::string text = printed([] { SendFile(1); });
        EXPECT_EQ(text, confirmText("two", 1) + "-Sending .Ready\n");
        EXPECT_EQ(blockSizes(td::sent()), (std::vector<size_t>{64, 1}));
        EXPECT_EQ(td::sleptMs(), 100ul);
        EXPECT_EQ(td::sleeps(), r.sleeps);
    }
}

TEST_F(SendFileTest, OtherKeysDuringATransferAreDropped)
{
    struct Row {
        std::string keys;
    };
    const Row rows[] = {
        {"B"},                        /* 0x42 without the prefix */
        {std::string("\0\x41", 2)},   /* F7 */
        {std::string("\xE0\x42", 2)}, /* a cursor-key prefix */
        {std::string("abc\0\x3b", 5)},
    };
    Bytes content = writeFile("big", 1600);
    setName("big");
    for (const Row &r : rows) {
        td::clearSent();
        td::keys("\r" + r.keys);
        std::string text = printed([] { SendFile(0); });
        EXPECT_EQ(text, confirmText("big", 0) + "-Sending .Ready\n");
        EXPECT_EQ(td::sent().size(), 26u);
        EXPECT_TRUE(joined(td::sent()) == content);
        EXPECT_FALSE(_kbhit()); /* every key was taken */
    }
}

/* A character typed during a transfer is dropped, even one whose first
   byte is 0xE0: it does not swallow the F8 that follows. */
TEST_F(SendFileTest, ATypedCharacterDoesNotSwallowF8)
{
    writeFile("big", 1600);
    setName("big");
    td::keys("\r");
    td::textKeys("\xE0\xA4\xA0");
    td::keys(std::string("\0\x42", 2));
    std::string text = printed([] { SendFile(0); });
    EXPECT_EQ(text, confirmText("big", 0) + "-Sending .Aborted\n");
    EXPECT_EQ(blockSizes(td::sent()), (std::vector<size_t>{64, 64, 64, 64}));
}

#ifndef _WIN32
const std::string F8("\0\x42", 2);

/* n bytes that differ from one to the next */
Bytes bytesOf(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (uint8_t)(i * 5 + 1);
    return b;
}

/* A FIFO whose writer stays open: the transfer never waits in a read, what
   came so far leaves at once, other keys are dropped while it waits, and
   F8 is answered. */
TEST_F(SendFileTest, APipeWaitingForItsWriterLeavesTheKeyboardFree)
{
    const struct {
        const char *what;
        size_t written;
        std::string keys; /* after the confirmation */
        std::vector<size_t> blocks;
        const char *text;
        unsigned waits; /* pauses while nothing came */
    } rows[] = {
        {"nothing written", 0, F8, {}, "-Sending Aborted\n", 1},
        {"nothing written, keys before F8", 0, "ab" + F8, {}, "-Sending Aborted\n", 3},
        {"less than a block", 30, F8, {30}, "-Sending .Aborted\n", 0},
        {"a block and some", 100, "x" + F8, {64, 36}, "-Sending .Aborted\n", 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        startAfresh();
        ASSERT_EQ(system("rm -f fifo && mkfifo fifo"), 0);
        int writer = open("fifo", O_RDWR); /* open for good */
        ASSERT_GE(writer, 0);
        Bytes data = bytesOf(r.written);
        if (r.written) {
            ASSERT_EQ(write(writer, data.data(), data.size()), (ssize_t)data.size());
        }
        setName("fifo");
        td::keys("\r" + r.keys);
        std::string text = printed([] { SendFile(0); });
        close(writer);
        EXPECT_EQ(text, confirmText("fifo", 0) + r.text);
        EXPECT_EQ(blockSizes(td::sent()), r.blocks);
        EXPECT_TRUE(joined(td::sent()) == data);
        EXPECT_EQ(td::sleeps(), r.waits);
    }
}

/* The keys' own input is never sent: standard input a pipe, as a
   script's keys come, and /dev/stdin named as the file. */
TEST_F(SendFileTest, TheKeyboardIsRefusedAsASendFile)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    int saved = dup(0);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(p[0], 0), 0);
    setName("/dev/stdin");
    td::keys("\r");
    std::string text = printed([] { SendFile(0); });
    dup2(saved, 0);
    for (int fd : {saved, p[0], p[1]})
        close(fd);
    EXPECT_EQ(text, confirmText("/dev/stdin", 0) +
                        "Cannot open Send File!\n/dev/stdin: that is the keyboard, not a file!\n");
    EXPECT_TRUE(td::sent().empty());
}
#endif

TEST_F(SendFileTest, ReadFailureMidFile)
{
    Bytes content = writeFile("bad", 200);
    setName("bad");
    td::failFileReadAfter(100);
    td::keys("\r");
    std::string text = printed([] { SendFile(0); });
    EXPECT_EQ(text, confirmText("bad", 0) + "-Sending .File Read Error");
    /* the unfinished second block is not sent */
    EXPECT_EQ(blockSizes(td::sent()), std::vector<size_t>{64});
    EXPECT_TRUE(td::sent()[0] == Bytes(content.begin(), content.begin() + 64));
    EXPECT_TRUE(fileIsFree("bad"));
}

TEST_F(SendFileTest, ReadFailureAtOnceSendsNothing)
{
    writeFile("bad", 10);
    setName("bad");
    td::failFileReadAfter(0);
    td::keys("\r");
    EXPECT_EQ(printed([] { SendFile(1); }), confirmText("bad", 1) + "-Sending File Read Error");
    EXPECT_TRUE(td::sent().empty());
    EXPECT_EQ(td::sleeps(), 0u);
}

TEST_F(SendFileTest, NoOutputPortEveryBlockReportsAndTheTransferEnds)
{
    midiOutClose(gOutHandle);
    gOutHandle = 0;
    writeFile("f", 65);
    setName("f");
    td::keys("\r");
    const std::string err = "\nERROR MIDI PREPARE\n\nERROR MIDI TRANSMISSION\n";
    EXPECT_EQ(printed([] { SendFile(0); }), confirmText("f", 0) + "-Sending " + err + "." + err + "Ready\n");
    EXPECT_TRUE(td::sent().empty());
}

struct RepeatAfterRow {
    const char *line;
    const char *echo;
    Bytes bytes;
    size_t fileSize;
    long readFailsAfter;
    std::string keys;
};

TEST_F(SendFileTest, RepeatAfterATransferSendsTheTypedMessage)
{
    const RepeatAfterRow rows[] = {
        {"N 3C 40", "Repeat:90 3c 40 \n", {0x90, 0x3C, 0x40}, 200, -1, "\r"},
        {"N 3C 40 P 05", "Repeat:90 3c 40 c0 5 \n", {0x90, 0x3C, 0x40, 0xC0, 0x05}, 64, -1, "\r"},
        {"S hello", "Repeat:f0 7d 68 65 6c 6c 6f f7 \n", {0xF0, 0x7D, 'h', 'e', 'l', 'l', 'o', 0xF7}, 1600,
            -1, std::string("\r\0\x42", 3)},
        {"F8", "Repeat:f8 \n", {0xF8}, 200, 100, "\r"},
    };
    for (const RepeatAfterRow &r : rows) {
        startAfresh();
        SCOPED_TRACE(r.line);
        type(std::string(r.line) + "\r");
        writeFile("rep", r.fileSize);
        setName("rep");
        td::failFileReadAfter(r.readFailsAfter);
        td::keys(r.keys);
        printed([] { SendFile(0); });
        td::clearSent();
        EXPECT_EQ(printed([] { repeatLastMsg(); }), r.echo);
        ASSERT_EQ(td::sent().size(), 1u);
        EXPECT_EQ(hexOf(td::sent()[0]), hexOf(r.bytes));
    }
}

TEST_F(SendFileTest, ByteTypedAfterATransferIsStillTheRepeat)
{
    gMode = 2;
    type("7F ");
    writeFile("f", 64);
    setName("f");
    td::keys("\r");
    printed([] { SendFile(0); });
    td::clearSent();
    EXPECT_EQ(printed([] { repeatLastMsg(); }), "Repeat:7f \n");
    EXPECT_EQ(hexOf(td::sent()), "[7f]");
}

/* The waits for a key pause between polls instead of spinning. */
TEST_F(SendFileTest, WaitForTheConfirmingKeyPauses) { checkTheWaitPauses(3, "", "\r", "-Sending Ready\n"); }

TEST_F(SendFileTest, WaitForTheSecondCodePauses)
{
    checkTheWaitPauses(1600, std::string("\r\0", 2), "\x42", "-Sending .Aborted\n");
}

} // namespace
