/*
 * A send file whose reading fails part way: the blocks read whole before
 * the failure leave the port exactly as they are in the file, the block
 * in progress does not leave at all, the failure is said, the file is
 * closed (it can be opened again at once), the repeat key still repeats
 * what the user typed, and the same file then goes whole.
 */
#include "test_faults_fixture.h"

namespace {

class SendFileFaults : public FaultTest {};

Bytes fileOf(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (uint8_t)(i * 7 + 1);
    return b;
}

TEST_F(SendFileFaults, AReadFailureSendsTheWholeBlocksBeforeItAndNothingMore)
{
    const Bytes file = fileOf(200);
    struct Row {
        long readable;     /* bytes that read before the failure */
        size_t blocksSent; /* whole blocks of 64 that leave */
        const char *text;  /* after the confirmation */
    };
    const Row rows[] = {
        {0, 0, "-Sending File Read Error"},
        {1, 0, "-Sending File Read Error"},
        {63, 0, "-Sending File Read Error"},
        {64, 1, "-Sending .File Read Error"},
        {65, 1, "-Sending .File Read Error"},
        {128, 2, "-Sending .File Read Error"},
        {199, 3, "-Sending .File Read Error"},
        /* even the read that would find the end fails */
        {200, 3, "-Sending .File Read Error"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE("readable " + std::to_string(r.readable));
        resetProgram();
        start();
        writeFile("song.syx", file);
        strcpy(gSendFileName, "song.syx");
        press("N 3C 40\r");
        td::clearSent();
        td::failFileReadAfter(r.readable);

        std::string out = press(fkey(kF7) + "\r");
        EXPECT_EQ(out, "Send file song.syx 'fast' - confirm with <ENTER>.\n"
                       "To select another file type CTRL_F  \n" +
                           std::string(r.text));
        ASSERT_EQ(td::sent().size(), r.blocksSent);
        for (size_t i = 0; i < r.blocksSent; i++)
            EXPECT_EQ(
                td::sent()[i], Bytes(file.begin() + (long)(64 * i), file.begin() + (long)(64 * i + 64)));

        /* closed: it opens again, unshared, at once */
        HANDLE h = CreateFileA("song.syx", GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);

        /* the program goes on: the repeat is the typed note, and the file
           goes whole once it reads again */
        td::heal();
        td::clearSent();
        EXPECT_EQ(press("\x01"), "Repeat:90 3c 40 \n");
        EXPECT_EQ(press(fkey(kF7) + "\r"), "Send file song.syx 'fast' - confirm with <ENTER>.\n"
                                           "To select another file type CTRL_F  \n-Sending .Ready\n");
        Bytes all;
        for (size_t i = 1; i < td::sent().size(); i++)
            all.insert(all.end(), td::sent()[i].begin(), td::sent()[i].end());
        EXPECT_EQ(all, file);
        quit();
        startAfresh();
    }
}

TEST_F(SendFileFaults, AFileThatVanishesBeforeTheSendIsSaidAndNothingLeaves)
{
    start();
    strcpy(gSendFileName, "gone.syx");
    td::clearSent();
    EXPECT_EQ(press(fkey(kF6) + "\r"), "Send file gone.syx 'slowly' - confirm with <ENTER>.\n"
                                       "To select another file type CTRL_F  \nCannot open Send File!\n");
    EXPECT_TRUE(td::sent().empty());
    EXPECT_STREQ(gSendFileName, "gone.syx");
    quit();
}

} // namespace
