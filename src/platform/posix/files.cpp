/*
 * Files on POSIX calls, with the rules the system's file users rely on:
 *
 * - GENERIC_READ with OPEN_EXISTING opens an existing file for reading;
 *   GENERIC_WRITE with CREATE_ALWAYS creates the file or empties it, with
 *   CREATE_NEW creates it only where no name is (O_EXCL: a symbolic link
 *   there is not followed but refused).  Other creation rules are refused.
 *   A directory is refused as Windows does.
 * - Share mode 0 means nobody else may have the file open meanwhile: an
 *   exclusive advisory lock (flock), taken before anything is emptied, so
 *   that creating a file someone holds never truncates it under them.  A
 *   second open by this process is refused the same way, and a table of
 *   our own open files guards that also where flock is only emulated.  A
 *   non-zero share mode takes a shared lock: it stands beside other sharers
 *   but not beside an exclusive holder.
 * - Writes go straight to the descriptor, nothing is held back in this
 *   process: what WriteFile reported written survives a crash or kill.
 *   Short writes are continued; the count reported is what really went
 *   (fewer bytes when the disk is full).
 * - Devices and FIFOs are opened without a lock: they are there to be
 *   shared.  Opens never block on them; descriptors are closed on exec.
 *
 * A handle is a small heap record, looked up in the table before use, so a
 * stale or foreign handle is refused instead of touching some other file.
 */
#include "posix.h"

#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct VtFile {
    int fd;
    bool exclusive;
    dev_t dev;
    ino_t ino;
    VtFile *next;
};

std::mutex gLock;
VtFile *gOpen = nullptr;

/* The descriptor of a handle we gave out, -1 for anything else. */
int lookup(HANDLE h)
{
    std::lock_guard<std::mutex> hold(gLock);
    for (VtFile *f = gOpen; f; f = f->next)
        if (f == h)
            return f->fd;
    return -1;
}

bool takenHere(const struct stat &st, bool exclusive)
{
    for (VtFile *f = gOpen; f; f = f->next)
        if (f->exclusive || exclusive)
            if (f->dev == st.st_dev && f->ino == st.st_ino)
                return true;
    return false;
}

HANDLE refuse(int fd)
{
    if (fd >= 0)
        close(fd);
    return INVALID_HANDLE_VALUE;
}

HANDLE fileCreate(LPCSTR name, DWORD access, DWORD share, void *, DWORD creation, DWORD, HANDLE)
{
    if (!name || !*name)
        return INVALID_HANDLE_VALUE;
    int flags;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags = O_RDWR;
    else if (access & GENERIC_WRITE)
        flags = O_WRONLY;
    else if (access & GENERIC_READ)
        flags = O_RDONLY;
    else
        return INVALID_HANDLE_VALUE;
    if (creation == CREATE_ALWAYS || creation == CREATE_NEW) {
        if (flags == O_RDONLY)
            return INVALID_HANDLE_VALUE; /* could not create or empty it */
        flags |= creation == CREATE_NEW ? O_CREAT | O_EXCL : O_CREAT;
    } else if (creation != OPEN_EXISTING) {
        return INVALID_HANDLE_VALUE;
    }

    int fd;
    do
        fd = open(name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;

    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))
        return refuse(fd);

    /* devices (/dev/null, a serial line) and FIFOs are there to be shared */
    bool regular = S_ISREG(st.st_mode);
    bool exclusive = share == 0;
    if (regular) {
        int r;
        do
            r = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
        while (r != 0 && errno == EINTR);
        /* a file system without flock still has the table below */
        if (r != 0 && (errno == EWOULDBLOCK || errno == EAGAIN))
            return refuse(fd);
    }

    VtFile *f = new (std::nothrow) VtFile;
    if (!f)
        return refuse(fd);
    std::lock_guard<std::mutex> hold(gLock);
    if (regular && takenHere(st, exclusive)) {
        delete f;
        return refuse(fd);
    }
    /* emptied only now that it is ours alone */
    if (creation == CREATE_ALWAYS && regular && ftruncate(fd, 0) != 0) {
        delete f;
        return refuse(fd);
    }
    int fl = fcntl(fd, F_GETFL);
    if (fl != -1)
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    f->fd = fd;
    f->exclusive = regular && exclusive;
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    f->next = gOpen;
    gOpen = f;
    return f;
}

BOOL fileRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *)
{
    DWORD got = 0;
    int fd = lookup(h);
    bool ok = fd >= 0 && (buf || n == 0);
    while (ok && got < n) {
        ssize_t r = read(fd, (char *)buf + got, n - got);
        if (r > 0) {
            got += (DWORD)r;
            continue;
        }
        if (r == 0)
            break; /* end of file */
        if (errno == EINTR)
            continue;
        ok = got > 0; /* what was read stands; the error shows again next time */
        break;
    }
    if (done)
        *done = got;
    return ok ? 1 : 0;
}

BOOL fileWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *)
{
    DWORD put = 0;
    int fd = lookup(h);
    bool ok = fd >= 0 && (buf || n == 0);
    while (ok && put < n) {
        ssize_t w = write(fd, (const char *)buf + put, n - put);
        if (w > 0)
            put += (DWORD)w;
        else if (w < 0 && errno == EINTR)
            continue;
        else
            ok = false; /* disk full, device error, ... */
    }
    if (done)
        *done = put;
    return ok ? 1 : 0;
}

BOOL fileClose(HANDLE h)
{
    VtFile *f = nullptr;
    {
        std::lock_guard<std::mutex> hold(gLock);
        for (VtFile **p = &gOpen; *p; p = &(*p)->next)
            if (*p == h) {
                f = *p;
                *p = f->next;
                break;
            }
    }
    if (!f)
        return 0;
    /* the lock goes with the descriptor; EINTR still closed it on Linux */
    int r = close(f->fd);
    bool ok = r == 0 || errno == EINTR;
    delete f;
    return ok ? 1 : 0;
}

DWORD fileSeek(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    int fd = lookup(h);
    if (fd < 0 || (method != FILE_BEGIN && method != FILE_END))
        return INVALID_SET_FILE_POINTER;
    int64_t to =
        distanceHigh ? (int64_t)((uint64_t)(uint32_t)*distanceHigh << 32 | (uint32_t)distance) : distance;
    off_t at = lseek(fd, (off_t)to, method == FILE_BEGIN ? SEEK_SET : SEEK_END);
    if (at < 0)
        return INVALID_SET_FILE_POINTER;
    if (distanceHigh)
        *distanceHigh = (LONG)((uint64_t)at >> 32);
    return (DWORD)at;
}

BOOL fileFlush(HANDLE h)
{
    int fd = lookup(h);
    if (fd < 0)
        return 0;
    int r;
    do
        r = fsync(fd);
    while (r != 0 && errno == EINTR);
    /* a pipe or a terminal has nothing to put on a disk */
    return r == 0 || errno == EINVAL || errno == EROFS ? 1 : 0;
}

/* lstat: a symbolic link is reported as itself, as Windows reports a
   reparse point */
DWORD fileAttributes(LPCSTR name)
{
    struct stat st;
    if (!name || lstat(name, &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    if (S_ISLNK(st.st_mode)) {
        struct stat to;
        bool folder = stat(name, &to) == 0 && S_ISDIR(to.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return S_ISREG(st.st_mode) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DEVICE;
}

BOOL dirCreate(LPCSTR name, void *) { return name && *name && mkdir(name, 0777) == 0 ? 1 : 0; }

/* Without MOVEFILE_REPLACE_EXISTING the new name must be free: a hard link
   takes it in one step or fails because it is taken, then the old name
   goes.  A file system without hard links gets a look, then rename(2). */
BOOL fileMove(LPCSTR existing, LPCSTR newName, DWORD flags)
{
    if (!existing || !newName)
        return 0;
    if (flags & MOVEFILE_REPLACE_EXISTING)
        return rename(existing, newName) == 0 ? 1 : 0;
    if (link(existing, newName) == 0) {
        unlink(existing);
        return 1;
    }
    if (errno == EEXIST)
        return 0;
    struct stat st;
    if (lstat(newName, &st) == 0)
        return 0;
    return rename(existing, newName) == 0 ? 1 : 0;
}

BOOL fileRemove(LPCSTR name) { return name && unlink(name) == 0 ? 1 : 0; }

const VtFiles kFiles = {fileCreate, fileRead, fileWrite, fileClose, fileSeek, fileFlush, fileAttributes,
    dirCreate, fileMove, fileRemove};

} // namespace

const VtFiles *vtRealFiles(void) { return &kFiles; }

BOOL SetCurrentDirectoryA(LPCSTR dir) { return dir && chdir(dir) == 0 ? 1 : 0; }
