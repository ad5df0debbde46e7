/*
 * Files on POSIX: creation and emptying, opening only what exists, no
 * sharing while open (also against another process, and without emptying
 * what another holds), honest byte counts, data that outlives a killed
 * process.
 */
#include "platform/posix/posix.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const VtFiles &F() { return *vtRealFiles(); }

class PosixFiles : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/vtfilesXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string path(const char *name) { return dir + "/" + name; }

    HANDLE create(const std::string &p, DWORD share = 0)
    {
        return F().create(
            p.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE openRead(const std::string &p, DWORD share = 0)
    {
        return F().create(
            p.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    void put(const std::string &p, const std::string &content)
    {
        HANDLE h = create(p);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        ASSERT_TRUE(F().write(h, content.data(), (DWORD)content.size(), &done, nullptr));
        ASSERT_EQ(done, content.size());
        ASSERT_TRUE(F().close(h));
    }
    std::string contents(const std::string &p)
    {
        int fd = open(p.c_str(), O_RDONLY);
        std::string s;
        if (fd < 0)
            return "<missing>";
        char buf[256];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            s.append(buf, (size_t)n);
        close(fd);
        return s;
    }
};

TEST_F(PosixFiles, CreateWritesAndReadsBack)
{
    std::string p = path("VOLTANIS.SET");
    HANDLE h = create(p);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_NE(h, (HANDLE) nullptr);
    DWORD done = 99;
    EXPECT_TRUE(F().write(h, "\x06\x00\x00\x10", 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_TRUE(F().close(h));

    h = openRead(p);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[168];
    EXPECT_TRUE(F().read(h, buf, sizeof buf, &done, nullptr));
    EXPECT_EQ(done, 4u); /* a shorter file reads short */
    EXPECT_EQ(std::string(buf, 4), std::string("\x06\x00\x00\x10", 4));
    EXPECT_TRUE(F().read(h, buf, 1, &done, nullptr));
    EXPECT_EQ(done, 0u); /* end of file: success, no byte */
    EXPECT_TRUE(F().close(h));
}

TEST_F(PosixFiles, CreateAlwaysEmptiesAnExistingFile)
{
    std::string p = path("VOLTANIS.REC");
    put(p, "old recording");
    HANDLE h = create(p);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(contents(p), "");
    DWORD done = 0;
    EXPECT_TRUE(F().write(h, "new", 3, &done, nullptr));
    EXPECT_TRUE(F().close(h));
    EXPECT_EQ(contents(p), "new");
}

TEST_F(PosixFiles, OpeningRefused)
{
    struct Case {
        const char *what;
        std::string name;
        DWORD access, creation;
    } cases[] = {
        {"missing file", path("nothere.syx"), GENERIC_READ, OPEN_EXISTING},
        {"empty name", "", GENERIC_READ, OPEN_EXISTING},
        {"directory", dir, GENERIC_READ, OPEN_EXISTING},
        {"directory for writing", dir, GENERIC_WRITE, CREATE_ALWAYS},
        {"in a missing directory", path("no/such.rec"), GENERIC_WRITE, CREATE_ALWAYS},
        {"no access asked", path("x"), 0, CREATE_ALWAYS},
        {"an unsupported creation rule", path("x"), GENERIC_WRITE, 4},
    };
    for (const Case &c : cases) {
        HANDLE h =
            F().create(c.name.c_str(), c.access, 0, nullptr, c.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.what;
        if (h != INVALID_HANDLE_VALUE)
            F().close(h);
    }
    EXPECT_EQ(F().create(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(contents(path("x")), "<missing>");
}

/* What the MIDI file log and the SysEx folder also need: writes back into
   the file and on to its end again, flushed to the disk; a new folder. */
TEST_F(PosixFiles, WritingBackAndNewFolders)
{
    HANDLE h = F().create(
        path("log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done;
    EXPECT_TRUE(F().write(h, "abcdef", 6, &done, nullptr));
    EXPECT_EQ(F().seek(h, 2, nullptr, FILE_BEGIN), 2u);
    EXPECT_TRUE(F().write(h, "X", 1, &done, nullptr));
    EXPECT_EQ(F().seek(h, 0, nullptr, FILE_END), 6u);
    EXPECT_TRUE(F().write(h, "g", 1, &done, nullptr));
    EXPECT_TRUE(F().flush(h));
    EXPECT_TRUE(F().close(h));
    EXPECT_EQ(contents(path("log")), "abXdefg");
    EXPECT_EQ(F().seek(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER); /* closed */
    EXPECT_TRUE(F().createDir(path("sub").c_str(), nullptr));
    EXPECT_EQ(F().attributes(path("sub").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(F().createDir(path("sub").c_str(), nullptr));
    EXPECT_FALSE(F().createDir(path("no/sub").c_str(), nullptr));
}

/* Share mode 0: while one handle is open, every other open of the same
   file fails, and a refused CREATE_ALWAYS empties nothing. */
TEST_F(PosixFiles, NoSharingWithinTheProcess)
{
    std::string p = path("song.syx");
    put(p, "F0 7D F7");
    struct Case {
        const char *first, *second;
        bool firstWrites, secondWrites;
    } cases[] = {
        {"read", "read", false, false},
        {"read", "create", false, true},
        {"create", "read", true, false},
        {"create", "create", true, true},
    };
    for (const Case &c : cases) {
        if (c.firstWrites)
            put(p, "F0 7D F7");
        HANDLE a = c.firstWrites ? create(p) : openRead(p);
        ASSERT_NE(a, INVALID_HANDLE_VALUE) << c.first;
        if (c.firstWrites) {
            DWORD done;
            F().write(a, "held", 4, &done, nullptr);
        }
        std::string before = contents(p);
        HANDLE b = c.secondWrites ? create(p) : openRead(p);
        EXPECT_EQ(b, INVALID_HANDLE_VALUE) << c.first << " then " << c.second;
        EXPECT_EQ(contents(p), before) << c.first << " then " << c.second;
        EXPECT_TRUE(F().close(a));
        HANDLE again = c.secondWrites ? create(p) : openRead(p);
        EXPECT_NE(again, INVALID_HANDLE_VALUE) << "after close: " << c.second;
        F().close(again);
    }
}

TEST_F(PosixFiles, SharedOpensStandTogetherButNotBesideAnExclusiveOne)
{
    std::string p = path("shared");
    put(p, "abc");
    HANDLE a = openRead(p, 1), b = openRead(p, 1);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openRead(p, 0), INVALID_HANDLE_VALUE);
    F().close(a);
    F().close(b);
    HANDLE x = openRead(p, 0);
    EXPECT_NE(x, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openRead(p, 1), INVALID_HANDLE_VALUE);
    F().close(x);
}

/* Another process holds the file: no open, and no emptying. */
TEST_F(PosixFiles, NoSharingWithAnotherProcess)
{
    std::string p = path("VOLTANIS.REC");
    put(p, "recorded bytes");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int fd = open(p.c_str(), O_RDONLY);
        char c = (fd >= 0 && flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1)
            _exit(2);
        if (read(release[0], &c, 1) < 0)
            _exit(3);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(create(p), INVALID_HANDLE_VALUE);
    EXPECT_EQ(openRead(p), INVALID_HANDLE_VALUE);
    EXPECT_EQ(contents(p), "recorded bytes");
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HANDLE h = create(p);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    F().close(h);
    EXPECT_EQ(contents(p), "");
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
}

TEST_F(PosixFiles, FullDiskWritesShort)
{
    HANDLE h = create("/dev/full");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 99;
    EXPECT_FALSE(F().write(h, "_PaUsE_", 7, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_TRUE(F().close(h));
}

/* A write cut part-way (here by a file size limit) reports the bytes that
   really went, not the bytes asked for, and the limit as the reason, not a
   full disk. */
TEST_F(PosixFiles, PartialWriteReportsWhatWent)
{
    std::string p = path("limited");
    HANDLE h = create(p);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    struct rlimit old, small = {10, 0};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    small.rlim_max = old.rlim_max;
    void (*oldXfsz)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    DWORD done = 0;
    BOOL ok = F().write(h, "0123456789abcdefghijklmnop", 26, &done, nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldXfsz);
    EXPECT_FALSE(ok);
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_FILE_TOO_LARGE);
    F().close(h);
    EXPECT_EQ(contents(p), "0123456789");
}

/* Nothing is held back in the process: a kill right after the write
   loses nothing. */
TEST_F(PosixFiles, WrittenDataSurvivesAKill)
{
    std::string p = path("VOLTANIS.REC");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        HANDLE h = create(p);
        DWORD done = 0;
        F().write(h, "\x90\x3c\x40", 3, &done, nullptr);
        raise(SIGKILL);
        _exit(1);
    }
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(contents(p), "\x90\x3c\x40");
}

TEST_F(PosixFiles, ForeignAndStaleHandlesRefused)
{
    char buf[4];
    DWORD done = 77;
    HANDLE bogus[] = {nullptr, INVALID_HANDLE_VALUE, (HANDLE)buf};
    for (HANDLE b : bogus) {
        done = 77;
        EXPECT_FALSE(F().read(b, buf, 4, &done, nullptr));
        EXPECT_EQ(done, 0u);
        done = 77;
        EXPECT_FALSE(F().write(b, "x", 1, &done, nullptr));
        EXPECT_EQ(done, 0u);
        EXPECT_FALSE(F().close(b));
    }
    HANDLE h = create(path("once"));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(F().close(h));
    EXPECT_FALSE(F().close(h));
    EXPECT_FALSE(F().write(h, "x", 1, &done, nullptr));
}

TEST_F(PosixFiles, WrongDirectionFails)
{
    std::string p = path("f");
    put(p, "abc");
    HANDLE r = openRead(p);
    DWORD done = 5;
    EXPECT_FALSE(F().write(r, "x", 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    F().close(r);
    HANDLE w = create(p);
    char c;
    EXPECT_FALSE(F().read(w, &c, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    F().close(w);
}

/* A name that is created or emptied is never followed through a link:
   what the link points to stays as it was, and a dangling link makes no
   file.  Reading follows a link as usual. */
TEST_F(PosixFiles, CreationNeverGoesThroughALink)
{
    put(path("victim"), "another user's data");
    struct Case {
        const char *what, *target;
        DWORD creation, error;
    } cases[] = {
        {"emptying through a link", "victim", CREATE_ALWAYS, ERROR_CANT_RESOLVE_FILENAME},
        {"emptying through a dangling link", "made", CREATE_ALWAYS, ERROR_CANT_RESOLVE_FILENAME},
        {"emptying through a link to a device", "/dev/null", CREATE_ALWAYS, ERROR_CANT_RESOLVE_FILENAME},
        {"creating anew through a link", "victim", CREATE_NEW, ERROR_FILE_EXISTS},
        {"creating anew through a dangling link", "made", CREATE_NEW, ERROR_FILE_EXISTS},
    };
    for (const Case &c : cases) {
        std::string link = path("VOLTANIS.REC");
        unlink(link.c_str());
        ASSERT_EQ(symlink(c.target, link.c_str()), 0);
        HANDLE h =
            F().create(link.c_str(), GENERIC_WRITE, 0, nullptr, c.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(F().lastError(), c.error) << c.what;
        if (h != INVALID_HANDLE_VALUE)
            F().close(h);
        EXPECT_EQ(contents(path("victim")), "another user's data") << c.what;
        EXPECT_EQ(contents(path("made")), "<missing>") << c.what;
    }
    HANDLE r = openRead(path("VOLTANIS.REC"));
    EXPECT_EQ(r, INVALID_HANDLE_VALUE) << "dangling";
    ASSERT_EQ(unlink(path("VOLTANIS.REC").c_str()), 0);
    ASSERT_EQ(symlink("victim", path("VOLTANIS.REC").c_str()), 0);
    r = openRead(path("VOLTANIS.REC"));
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    char buf[8];
    DWORD done = 0;
    EXPECT_TRUE(F().read(r, buf, 7, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "another");
    F().close(r);
}

/* Why an open failed, as GetLastError tells it. */
TEST_F(PosixFiles, RefusalsSayWhy)
{
    put(path("held"), "x");
    HANDLE holder = openRead(path("held"));
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    put(path("exists"), "x");
    std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char *what;
        std::string name;
        DWORD access, creation, error;
    } cases[] = {
        {"missing", path("nothere"), GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"empty name", "", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"in a missing folder", path("no/such.rec"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"a folder", dir, GENERIC_READ, OPEN_EXISTING, ERROR_DIRECTORY},
        {"a folder for writing", dir, GENERIC_WRITE, CREATE_ALWAYS, ERROR_DIRECTORY},
        {"held by another open", path("held"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
        {"created anew where one is", path("exists"), GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"a FIFO nobody reads", fifo, GENERIC_WRITE, OPEN_EXISTING, ERROR_PIPE_NOT_CONNECTED},
    };
    for (const Case &c : cases) {
        HANDLE h =
            F().create(c.name.c_str(), c.access, 0, nullptr, c.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.what;
        EXPECT_EQ(F().lastError(), c.error) << c.what;
        if (h != INVALID_HANDLE_VALUE)
            F().close(h);
    }
    EXPECT_EQ(contents(path("held")), "x");
    F().close(holder);
}

/* A FIFO whose writer stays open never holds the reader: no byte yet is
   ERROR_NO_DATA at once, a read takes what is there, and the end comes
   when the writer goes. */
TEST_F(PosixFiles, PipeReadsNeverWait)
{
    std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int writer = open(fifo.c_str(), O_RDWR); /* open for good, never blocks */
    ASSERT_GE(writer, 0);
    HANDLE h = openRead(fifo);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[8];
    DWORD done = 99;
    EXPECT_FALSE(F().read(h, buf, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_NO_DATA);
    ASSERT_EQ(write(writer, "abc", 3), 3);
    EXPECT_TRUE(F().read(h, buf, 1, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "a");
    EXPECT_TRUE(F().read(h, buf, 5, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "bc") << "what is there, without waiting for more";
    EXPECT_FALSE(F().read(h, buf, 1, &done, nullptr));
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_NO_DATA);
    ASSERT_EQ(write(writer, "d", 1), 1);
    close(writer);
    EXPECT_TRUE(F().read(h, buf, 4, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "d");
    EXPECT_TRUE(F().read(h, buf, 1, &done, nullptr));
    EXPECT_EQ(done, 0u) << "the writer has gone: the end";
    F().close(h);
}

/* Reading ahead in blocks changes nothing of what is read, whatever the
   sizes asked. */
TEST_F(PosixFiles, ReadAheadGivesTheFileAsItIs)
{
    std::string data(200000, 0);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 7 + i / 251);
    put(path("big"), data);
    const std::vector<DWORD> patterns[] = {{1}, {1, 65536, 3}, {70000, 1, 64}, {168, 200000}};
    for (const std::vector<DWORD> &sizes : patterns) {
        HANDLE h = openRead(path("big"));
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::string got;
        std::vector<char> buf(200000);
        for (size_t k = 0;; k++) {
            DWORD done = 0;
            ASSERT_TRUE(F().read(h, buf.data(), sizes[k % sizes.size()], &done, nullptr));
            if (done == 0)
                break;
            got.append(buf.data(), done);
        }
        EXPECT_TRUE(got == data) << "pattern starting " << sizes[0] << ": " << got.size() << " bytes";
        F().close(h);
    }
}

/* Attributes tell of the name itself. */
TEST_F(PosixFiles, AttributesOfTheNameItself)
{
    put(path("plain"), "x");
    put(path("readonly"), "x");
    ASSERT_EQ(chmod(path("readonly").c_str(), 0444), 0);
    ASSERT_EQ(symlink("plain", path("link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", path("dangling").c_str()), 0);
    ASSERT_EQ(symlink(".", path("dirlink").c_str()), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    struct Case {
        std::string name;
        DWORD attributes;
    } cases[] = {
        {path("plain"), FILE_ATTRIBUTE_NORMAL},
        {path("readonly"), FILE_ATTRIBUTE_READONLY},
        {dir, FILE_ATTRIBUTE_DIRECTORY},
        {path("link"), FILE_ATTRIBUTE_REPARSE_POINT},
        {path("dangling"), FILE_ATTRIBUTE_REPARSE_POINT},
        {path("dirlink"), FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY}, /* as Windows has it */
        {path("fifo"), FILE_ATTRIBUTE_DEVICE},
        {"/dev/null", FILE_ATTRIBUTE_DEVICE},
        {path("nothere"), INVALID_FILE_ATTRIBUTES},
    };
    for (const Case &c : cases)
        EXPECT_EQ(F().attributes(c.name.c_str()), c.attributes) << c.name;
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

/* A move replaces the name, never what a link of that name points to, and
   leaves a read-only file in place as Windows does. */
TEST_F(PosixFiles, MoveReplacesTheNameItself)
{
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    put(path("victim"), "kept");
    struct Case {
        const char *what;
        const char *before; /* shell command in the folder */
        DWORD flags;
        bool moved;
        DWORD error;
    } cases[] = {
        {"nothing there", "true", replace, true, 0},
        {"a regular file", "echo old > target", replace, true, 0},
        {"a link", "ln -s victim target", replace, true, 0},
        {"a read-only file", "echo old > target && chmod a-w target", replace, false, ERROR_ACCESS_DENIED},
        {"a folder", "mkdir target", replace, false, ERROR_DIRECTORY},
        {"a file, not to be replaced", "echo old > target", 0, false, ERROR_FILE_EXISTS},
        {"a link, not to be replaced", "ln -s victim target", 0, false, ERROR_FILE_EXISTS},
        {"a dangling link, not to be replaced", "ln -s gone target", 0, false, ERROR_FILE_EXISTS},
        {"nothing there, not to be replaced", "true", 0, true, 0},
    };
    for (const Case &c : cases) {
        std::string cmd = "cd '" + dir + "' && rm -rf target && " + c.before;
        ASSERT_EQ(system(cmd.c_str()), 0) << c.what;
        put(path("new"), "new");
        BOOL ok = F().move(path("new").c_str(), path("target").c_str(), c.flags);
        EXPECT_EQ(ok != 0, c.moved) << c.what;
        if (c.moved) {
            struct stat st;
            ASSERT_EQ(lstat(path("target").c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << c.what;
            EXPECT_EQ(contents(path("target")), "new") << c.what;
        } else {
            EXPECT_EQ(F().lastError(), c.error) << c.what;
            EXPECT_EQ(contents(path("new")), "new") << c.what;
        }
        EXPECT_EQ(contents(path("victim")), "kept") << c.what;
    }
    ASSERT_EQ(symlink("victim", path("link").c_str()), 0);
    EXPECT_TRUE(F().remove(path("link").c_str()));
    EXPECT_EQ(contents(path("victim")), "kept");
    EXPECT_FALSE(F().remove(path("link").c_str()));
    EXPECT_EQ(F().lastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

/* The console the keys come from is no file: the controlling terminal by
   any name, and the pipe standard input is.  Run in a child that has a
   pseudo-terminal of its own as controlling terminal. */
TEST_F(PosixFiles, TheKeyboardIsNoFile)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string pts = ptsname(master);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failed = 0, bit = 1;
        auto refused = [&](const char *name, DWORD access, DWORD creation) {
            HANDLE h = F().create(name, access, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE || F().lastError() != ERROR_VT_KEYBOARD)
                failed |= bit;
            bit <<= 1;
        };
        int slave = -1;
        if (setsid() < 0 || (slave = open(pts.c_str(), O_RDWR)) < 0 || ioctl(slave, TIOCSCTTY, 0) != 0)
            _exit(255);
        dup2(slave, 0);
        refused("/dev/tty", GENERIC_READ, OPEN_EXISTING);
        refused(pts.c_str(), GENERIC_READ, OPEN_EXISTING);
        refused("/dev/stdin", GENERIC_READ, OPEN_EXISTING);
        refused("/dev/tty", GENERIC_WRITE, OPEN_EXISTING);
        int p[2];
        if (pipe(p) != 0)
            _exit(254);
        dup2(p[0], 0);
        refused("/dev/stdin", GENERIC_READ, OPEN_EXISTING);
        /* an ordinary device still opens */
        HANDLE null = F().create("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (null == INVALID_HANDLE_VALUE)
            failed |= bit;
        _exit(failed);
    }
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "bit n: case n failed (255: no terminal)";
}

#ifdef __linux__
/* Descriptors do not leak into programs this one might start. */
TEST_F(PosixFiles, ClosedOnExec)
{
    std::string p = path("cloexec");
    HANDLE h = create(p);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int found = 0;
    DIR *d = opendir("/proc/self/fd");
    ASSERT_NE(d, nullptr);
    while (struct dirent *e = readdir(d)) {
        char target[512];
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = 0;
        if (p == target) {
            int fd = atoi(e->d_name);
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
            found++;
        }
    }
    closedir(d);
    EXPECT_EQ(found, 1);
    F().close(h);
}
#endif

} // namespace
