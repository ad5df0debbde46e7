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
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

/* What the SysEx folder and the MIDI file log rely on: a name created only
   where none is (a planted link is refused, never followed), moves that
   never replace, names told apart as themselves, writes back into a file. */
TEST_F(PosixFiles, NewNamesMovesAndLinks)
{
    put(path("victim"), "keep");
    ASSERT_EQ(symlink(path("victim").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(symlink(dir.c_str(), path("dirlink").c_str()), 0);
    put(path("taken"), "old");
    struct Case {
        const char *name;
        bool created;
        DWORD attributes;
    } cases[] = {
        {"fresh", true, FILE_ATTRIBUTE_NORMAL},
        {"taken", false, FILE_ATTRIBUTE_NORMAL},
        {"link", false, FILE_ATTRIBUTE_REPARSE_POINT},
        {"dirlink", false, FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
    };
    for (const Case &c : cases) {
        HANDLE h = F().create(
            path(c.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.created) << c.name;
        if (h != INVALID_HANDLE_VALUE)
            F().close(h);
        EXPECT_EQ(F().attributes(path(c.name).c_str()), c.attributes) << c.name;
    }
    EXPECT_EQ(contents(path("victim")), "keep");
    EXPECT_EQ(F().attributes(dir.c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(F().attributes("/dev/null"), (DWORD)FILE_ATTRIBUTE_DEVICE);
    EXPECT_EQ(F().attributes(path("none").c_str()), INVALID_FILE_ATTRIBUTES);

    put(path("a"), "aaa");
    EXPECT_FALSE(F().move(path("a").c_str(), path("taken").c_str(), 0));
    EXPECT_FALSE(F().move(path("a").c_str(), path("link").c_str(), 0));
    EXPECT_EQ(contents(path("taken")) + contents(path("victim")), "oldkeep");
    EXPECT_TRUE(F().move(path("a").c_str(), path("b").c_str(), 0));
    EXPECT_EQ(contents(path("a")) + " " + contents(path("b")), "<missing> aaa");
    EXPECT_TRUE(F().move(path("b").c_str(), path("taken").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(contents(path("taken")), "aaa");
    EXPECT_TRUE(F().remove(path("link").c_str()));
    EXPECT_EQ(contents(path("victim")), "keep");
    EXPECT_TRUE(F().createDir(path("sub").c_str(), nullptr));
    EXPECT_FALSE(F().createDir(path("sub").c_str(), nullptr));

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
    EXPECT_TRUE(F().close(h));
}

/* A write cut part-way (here by a file size limit) reports the bytes that
   really went, not the bytes asked for. */
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
