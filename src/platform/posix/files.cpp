/*
 * Files on POSIX calls, with the rules the system's file users rely on:
 *
 * - GENERIC_READ with OPEN_EXISTING opens an existing file for reading;
 *   GENERIC_WRITE with CREATE_ALWAYS creates the file or empties it, with
 *   CREATE_NEW creates it only where no file of that name is.  Other
 *   creation rules are refused.  A directory is refused as Windows does.
 * - A name that is created or emptied is never followed through a symbolic
 *   link (O_NOFOLLOW, O_EXCL): a link planted under the name of the record
 *   file cannot have the file it points to emptied.  Only a regular file
 *   is ever emptied, and only once this process holds it (below), never at
 *   the open.
 * - The console the keys come from is never opened as a file: neither the
 *   controlling terminal, by whatever name, nor the pipe standard input
 *   reads (/dev/stdin).  Reading it would take the user's keys away.
 * - Share mode 0 means nobody else may have the file open meanwhile: an
 *   exclusive advisory lock (flock), taken before anything is emptied, so
 *   that creating a file someone holds never truncates it under them.  A
 *   second open by this process is refused the same way, and a table of
 *   the files this process holds open guards that also where flock is
 *   only emulated.  A
 *   non-zero share mode takes a shared lock: it stands beside other sharers
 *   but not beside an exclusive holder.
 * - Writes go straight to the descriptor, nothing is held back in this
 *   process: what WriteFile reported written survives a crash or kill.
 *   Short writes are continued; the count reported is what really went
 *   (fewer bytes when the disk is full).
 * - A handle opened for reading only reads ahead in blocks, so that the
 *   one-byte reads of a send file cost a copy rather than a system call.
 *   A pipe or a device read stays non-blocking: with no byte there yet,
 *   ReadFile fails with ERROR_NO_DATA at once instead of waiting, so the
 *   caller can go on minding the keyboard.  A regular file never does.
 * - Devices and FIFOs are opened without a lock: they are there to be
 *   shared.  Opens never block on them; descriptors are closed on exec.
 * - GetLastError tells, as a Windows error code, why the last failing
 *   file operation of this thread failed.
 *
 * A handle is a small heap record, looked up in the table before use, so a
 * stale or foreign handle is refused instead of touching some other file.
 * What is done to names rather than handles is filenames.cpp's.
 */
#include "files_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint32_t kAhead = 64 * 1024;

struct VtFile {
    int fd;
    bool exclusive;
    bool readOnly;
    dev_t dev;
    ino_t ino;
    uint8_t *ahead; /* read-ahead block, allocated at the first read */
    uint32_t aheadPos, aheadLen;
    VtFile *next;
};

std::mutex gLock;
VtFile *gOpen = nullptr;
thread_local DWORD tLastError = 0;

} // namespace

void vtposix::setError(DWORD code) { tLastError = code; }

/* The Windows error code nearest to errno e; fallback when none fits. */
DWORD vtposix::fromErrno(int e, DWORD fallback)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EISDIR: return ERROR_DIRECTORY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_DISK_QUOTA_EXCEEDED;
    case EFBIG: return ERROR_FILE_TOO_LARGE;     /* the file size limit (ulimit -f) */
    case ENXIO: return ERROR_PIPE_NOT_CONNECTED; /* a FIFO nobody reads */
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return fallback;
    }
}

namespace {

using vtposix::fromErrno;
using vtposix::setError;

/* The record of a handle this file gave out, nullptr for anything else.  A
   handle is used by one thread at a time, so its record may be read
   outside the lock until that thread closes it. */
VtFile *find(HANDLE h)
{
    std::lock_guard<std::mutex> hold(gLock);
    for (VtFile *f = gOpen; f; f = f->next)
        if (f == h)
            return f;
    return nullptr;
}

bool takenHere(const struct stat &st, bool exclusive)
{
    for (VtFile *f = gOpen; f; f = f->next)
        if (f->exclusive || exclusive)
            if (f->dev == st.st_dev && f->ino == st.st_ino)
                return true;
    return false;
}

HANDLE refuse(int fd, DWORD code)
{
    if (fd >= 0)
        close(fd);
    setError(code);
    return INVALID_HANDLE_VALUE;
}

/* The keys come from here: the controlling terminal (/dev/tty, or the
   terminal by its own name), the terminal on standard input, or the pipe
   standard input is. */
bool isTheKeyboard(int fd, const struct stat &st)
{
    bool tty = isatty(fd) != 0;
    if (tty && tcgetpgrp(fd) != -1)
        return true;
    struct stat in;
    if (fstat(STDIN_FILENO, &in) != 0)
        return false;
    if (tty && S_ISCHR(in.st_mode) && in.st_rdev == st.st_rdev)
        return true;
    bool pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    return pipe && in.st_dev == st.st_dev && in.st_ino == st.st_ino;
}

/* The open(2) flags of an access and creation rule; -1 when refused. */
int openFlags(DWORD access, DWORD creation)
{
    int flags;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags = O_RDWR;
    else if (access & GENERIC_WRITE)
        flags = O_WRONLY;
    else if (access & GENERIC_READ)
        flags = O_RDONLY;
    else
        return -1;
    switch (creation) {
    case OPEN_EXISTING: return flags;
    case CREATE_ALWAYS: return flags == O_RDONLY ? -1 : flags | O_CREAT | O_NOFOLLOW;
    case CREATE_NEW: return flags == O_RDONLY ? -1 : flags | O_CREAT | O_EXCL;
    default: return -1;
    }
}

HANDLE fileCreate(LPCSTR name, DWORD access, DWORD share, void *, DWORD creation, DWORD, HANDLE)
{
    int flags = openFlags(access, creation);
    if (!name || flags < 0)
        return refuse(-1, ERROR_INVALID_PARAMETER);
    if (!*name)
        return refuse(-1, ERROR_PATH_NOT_FOUND); /* as Windows answers */

    int fd;
    do
        fd = open(name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        /* a missing name where one is being created: its folder is gone */
        int e = errno;
        return refuse(
            -1, e == ENOENT && (flags & O_CREAT) ? ERROR_PATH_NOT_FOUND : fromErrno(e, ERROR_GEN_FAILURE));
    }

    struct stat st;
    if (fstat(fd, &st) != 0)
        return refuse(fd, fromErrno(errno, ERROR_GEN_FAILURE));
    if (S_ISDIR(st.st_mode))
        return refuse(fd, ERROR_DIRECTORY);
    if (isTheKeyboard(fd, st))
        return refuse(fd, ERROR_VT_KEYBOARD);

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
            return refuse(fd, ERROR_SHARING_VIOLATION);
    }

    VtFile *f = new (std::nothrow) VtFile;
    if (!f)
        return refuse(fd, ERROR_NOT_ENOUGH_MEMORY);
    std::lock_guard<std::mutex> hold(gLock);
    if (regular && takenHere(st, exclusive)) {
        delete f;
        return refuse(fd, ERROR_SHARING_VIOLATION);
    }
    /* emptied only now that this handle alone holds it */
    if (creation == CREATE_ALWAYS && regular && ftruncate(fd, 0) != 0) {
        int e = errno;
        delete f;
        return refuse(fd, fromErrno(e, ERROR_WRITE_FAULT));
    }
    /* a pipe or a device read without waiting: see fileRead */
    bool readOnly = (flags & O_ACCMODE) == O_RDONLY;
    if (regular || !readOnly) {
        int fl = fcntl(fd, F_GETFL);
        if (fl != -1)
            fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    f->fd = fd;
    f->exclusive = regular && exclusive;
    f->readOnly = readOnly;
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    f->ahead = nullptr;
    f->aheadPos = f->aheadLen = 0;
    f->next = gOpen;
    gOpen = f;
    return f;
}

/* Takes what the read-ahead block still holds; the count taken. */
DWORD takeAhead(VtFile *f, char *dst, DWORD want)
{
    DWORD have = f->aheadLen - f->aheadPos;
    DWORD take = want < have ? want : have;
    memcpy(dst, f->ahead + f->aheadPos, take);
    f->aheadPos += take;
    return take;
}

/* One read(2): into the read-ahead block when a small read is asked of a
   handle that only reads (then 0 bytes count as taken), else straight
   into the caller's buffer.  The result of read(2). */
ssize_t readOnce(VtFile *f, char *dst, DWORD want, DWORD *took)
{
    *took = 0;
    if (f->readOnly && want < kAhead && !f->ahead)
        f->ahead = new (std::nothrow) uint8_t[kAhead];
    if (!f->readOnly || want >= kAhead || !f->ahead) {
        ssize_t r = read(f->fd, dst, want);
        if (r > 0)
            *took = (DWORD)r;
        return r;
    }
    ssize_t r = read(f->fd, f->ahead, kAhead);
    if (r > 0) {
        f->aheadPos = 0;
        f->aheadLen = (uint32_t)r;
        *took = takeAhead(f, dst, want);
    }
    return r;
}

BOOL fileRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *)
{
    DWORD got = 0;
    VtFile *f = find(h);
    bool ok = f && (buf || n == 0);
    if (!ok)
        setError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    while (ok && got < n) {
        char *dst = (char *)buf + got;
        if (f->aheadPos < f->aheadLen) {
            got += takeAhead(f, dst, n - got);
            continue;
        }
        DWORD took;
        ssize_t r = readOnce(f, dst, n - got, &took);
        if (r > 0) {
            got += took;
            continue;
        }
        if (r == 0)
            break; /* end of file */
        if (errno == EINTR)
            continue;
        /* what was read stands; the error shows again next time */
        if (got == 0)
            setError(
                errno == EAGAIN || errno == EWOULDBLOCK ? ERROR_NO_DATA : fromErrno(errno, ERROR_READ_FAULT));
        ok = got > 0;
        break;
    }
    if (done)
        *done = got;
    return ok ? 1 : 0;
}

BOOL fileWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *)
{
    DWORD put = 0;
    VtFile *f = find(h);
    bool ok = f && (buf || n == 0);
    if (!ok)
        setError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    while (ok && put < n) {
        ssize_t w = write(f->fd, (const char *)buf + put, n - put);
        if (w > 0) {
            put += (DWORD)w;
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            /* disk full, file size limit, device error, ... */
            setError(w < 0 ? fromErrno(errno, ERROR_WRITE_FAULT) : ERROR_WRITE_FAULT);
            ok = false;
        }
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
    if (!f) {
        setError(ERROR_INVALID_HANDLE);
        return 0;
    }
    /* the lock goes with the descriptor; EINTR still closed it on Linux */
    int r = close(f->fd);
    bool ok = r == 0 || errno == EINTR;
    if (!ok)
        setError(fromErrno(errno, ERROR_WRITE_FAULT));
    delete[] f->ahead;
    delete f;
    return ok ? 1 : 0;
}

DWORD fileLastError(void) { return tLastError; }

/* Also the start of a new read: what was read ahead is let go. */
DWORD fileSeek(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    VtFile *f = find(h);
    if (!f || (method != FILE_BEGIN && method != FILE_END)) {
        setError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t to =
        distanceHigh ? (int64_t)((uint64_t)(uint32_t)*distanceHigh << 32 | (uint32_t)distance) : distance;
    off_t at = lseek(f->fd, (off_t)to, method == FILE_BEGIN ? SEEK_SET : SEEK_END);
    if (at < 0) {
        setError(fromErrno(errno, ERROR_INVALID_PARAMETER));
        return INVALID_SET_FILE_POINTER;
    }
    f->aheadPos = f->aheadLen = 0;
    if (distanceHigh)
        *distanceHigh = (LONG)((uint64_t)at >> 32);
    return (DWORD)at;
}

BOOL fileFlush(HANDLE h)
{
    VtFile *f = find(h);
    if (!f) {
        setError(ERROR_INVALID_HANDLE);
        return 0;
    }
    int r;
    do
        r = fsync(f->fd);
    while (r != 0 && errno == EINTR);
    /* a pipe or a device has nothing to put on a disk */
    if (r != 0 && errno != EINVAL && errno != EROFS) {
        setError(fromErrno(errno, ERROR_WRITE_FAULT));
        return 0;
    }
    return 1;
}

const VtFiles kFiles = {fileCreate, fileRead, fileWrite, fileClose, fileLastError, vtposix::fileAttributes,
    vtposix::fileMove, vtposix::fileRemove, fileSeek, fileFlush, vtposix::dirCreate, vtposix::dirRemove,
    vtposix::findFirst, vtposix::findNext, vtposix::findClose, vtposix::processId};

} // namespace

const VtFiles *vtRealFiles(void) { return &kFiles; }

/* In a signal handler: the handle is the record itself (it stays open, so
   it needs no look-up, which would take the table's lock), and the calls
   are pwrite and fsync, which are async-signal-safe. */
BOOL vtWriteFileAtOnSignal(HANDLE h, DWORD offset, const void *p, DWORD n)
{
    const VtFile *f = static_cast<const VtFile *>(h);
    if (!f || h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD put = 0;
    while (put < n) {
        ssize_t w = pwrite(f->fd, (const char *)p + put, n - put, (off_t)offset + put);
        if (w > 0)
            put += (DWORD)w;
        else if (!(w < 0 && errno == EINTR))
            return 0;
    }
    return 1;
}

BOOL vtFlushFileOnSignal(HANDLE h)
{
    const VtFile *f = static_cast<const VtFile *>(h);
    if (!f || h == INVALID_HANDLE_VALUE)
        return 0;
    int r;
    do
        r = fsync(f->fd);
    while (r != 0 && errno == EINTR);
    return r == 0 || errno == EINVAL || errno == EROFS;
}
