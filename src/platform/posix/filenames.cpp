/*
 * What the POSIX files do to names rather than handles (files.cpp): their
 * attributes, moves, removal, folders made, removed and listed, and the
 * current folder.
 *
 * - MoveFileExA without MOVEFILE_REPLACE_EXISTING takes the new name with
 *   a hard link, which fails when the name is there, so a name that
 *   appears meanwhile is not replaced either; then the old name goes.
 */
#include "files_internal.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

namespace {

using vtposix::fromErrno;
using vtposix::setError;

/* Makes what was done to the folder of name durable. */
void syncFolderOf(const char *name)
{
    char dir[PATH_MAX];
    const char *slash = strrchr(name, '/');
    size_t len = slash ? (size_t)(slash - name) : 0;
    if (len >= sizeof dir)
        return;
    if (slash) {
        memcpy(dir, name, len);
        dir[len] = 0;
    }
    int fd = open(slash ? (len ? dir : "/") : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool renamed(LPCSTR existing, LPCSTR newName)
{
    if (rename(existing, newName) == 0)
        return true;
    setError(fromErrno(errno, ERROR_ACCESS_DENIED));
    return false;
}

/* A move that never replaces: link(2) fails with EEXIST where the name
   is.  A file system without hard links gets a look, then rename(2). */
bool moveToNewName(LPCSTR existing, LPCSTR newName)
{
    if (link(existing, newName) == 0) {
        unlink(existing);
        return true;
    }
    struct stat st;
    if (errno == EEXIST || lstat(newName, &st) == 0) {
        setError(ERROR_FILE_EXISTS);
        return false;
    }
    return renamed(existing, newName);
}

/* Of the name itself (in the folder at, or the current one): a symbolic
   link is not followed. */
DWORD attributesAt(int at, const char *name)
{
    struct stat st;
    if (!name || fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        setError(name ? fromErrno(errno, ERROR_GEN_FAILURE) : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(st.st_mode)) {
        /* a link to a folder is both, as on Windows */
        struct stat to;
        bool folder = fstatat(at, name, &to, 0) == 0 && S_ISDIR(to.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISREG(st.st_mode))
        return FILE_ATTRIBUTE_DEVICE;
    /* read-only as Windows has it: nobody may write, whatever the rights */
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

/* A listing under way: a handle of its own kind, which CloseHandle and the
   file operations refuse (they know only their own records). */
struct VtFind {
    DIR *dir;
};

/* The next name of the listing that fits a record; false at the end (or
   on an error), with the reason set. */
bool nextName(VtFind *f, LPWIN32_FIND_DATAA found)
{
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(f->dir);
        if (!e) {
            setError(errno ? fromErrno(errno, ERROR_READ_FAULT) : ERROR_NO_MORE_FILES);
            return false;
        }
        size_t len = strlen(e->d_name);
        if (len >= sizeof found->cFileName)
            continue; /* no Windows name is that long */
        memcpy(found->cFileName, e->d_name, len + 1);
        found->dwFileAttributes = attributesAt(dirfd(f->dir), e->d_name);
        if (found->dwFileAttributes == INVALID_FILE_ATTRIBUTES)
            continue; /* gone since the listing was read */
        return true;
    }
}

} // namespace

DWORD vtposix::fileAttributes(LPCSTR name) { return attributesAt(AT_FDCWD, name); }

/* rename(2), which replaces the name itself (a link there included) in one
   step; like Windows it leaves a read-only file in place.  With
   MOVEFILE_WRITE_THROUGH the file's content and the new name are on the
   disk before it returns. */
BOOL vtposix::fileMove(LPCSTR existing, LPCSTR newName, DWORD flags)
{
    if (!existing || !newName) {
        setError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    struct stat st;
    if (replace && lstat(newName, &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
        setError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (flags & MOVEFILE_WRITE_THROUGH) {
        int fd = open(existing, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    if (!(replace ? renamed(existing, newName) : moveToNewName(existing, newName)))
        return 0;
    if (flags & MOVEFILE_WRITE_THROUGH)
        syncFolderOf(newName);
    return 1;
}

BOOL vtposix::fileRemove(LPCSTR name)
{
    if (!name || unlink(name) != 0) {
        setError(name ? fromErrno(errno, ERROR_ACCESS_DENIED) : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return 1;
}

BOOL vtposix::dirCreate(LPCSTR name, void *)
{
    if (!name || mkdir(name, 0777) != 0) {
        setError(name ? fromErrno(errno, ERROR_PATH_NOT_FOUND) : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return 1;
}

BOOL vtposix::dirRemove(LPCSTR name)
{
    if (!name || rmdir(name) != 0) {
        setError(name ? fromErrno(errno, ERROR_ACCESS_DENIED) : ERROR_INVALID_PARAMETER);
        return 0;
    }
    return 1;
}

/* The pattern is a folder's name, a separator and "*", or "*" alone for
   the current folder: every name in it. */
HANDLE vtposix::findFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    size_t len = pattern ? strlen(pattern) : 0;
    if (!found || len == 0 || pattern[len - 1] != '*' || (len > 1 && pattern[len - 2] != '/')) {
        setError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    char dir[PATH_MAX];
    if (len - 1 >= sizeof dir) {
        setError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    if (len == 1) {
        strcpy(dir, ".");
    } else {
        memcpy(dir, pattern, len - 1);
        dir[len - 1] = 0; /* "/" stays "/" */
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        setError(
            errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : fromErrno(errno, ERROR_GEN_FAILURE));
        return INVALID_HANDLE_VALUE;
    }
    VtFind *f = new (std::nothrow) VtFind;
    DIR *d = f ? fdopendir(fd) : nullptr;
    if (!d) {
        setError(f ? fromErrno(errno, ERROR_GEN_FAILURE) : ERROR_NOT_ENOUGH_MEMORY);
        close(fd);
        delete f;
        return INVALID_HANDLE_VALUE;
    }
    f->dir = d;
    if (!nextName(f, found)) {
        closedir(d);
        delete f;
        setError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return f;
}

BOOL vtposix::findNext(HANDLE h, LPWIN32_FIND_DATAA found)
{
    if (!h || h == INVALID_HANDLE_VALUE || !found) {
        setError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return nextName(static_cast<VtFind *>(h), found) ? 1 : 0;
}

BOOL vtposix::findClose(HANDLE h)
{
    if (!h || h == INVALID_HANDLE_VALUE) {
        setError(ERROR_INVALID_HANDLE);
        return 0;
    }
    VtFind *f = static_cast<VtFind *>(h);
    closedir(f->dir);
    delete f;
    return 1;
}

DWORD vtposix::processId(void) { return (DWORD)getpid(); }

int vtSameFolder(LPCSTR a, LPCSTR b)
{
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && S_ISDIR(sa.st_mode) && S_ISDIR(sb.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

/* A name that is there but no folder is ERROR_DIRECTORY, as Windows has
   it. */
BOOL SetCurrentDirectoryA(LPCSTR dir)
{
    if (!dir) {
        setError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (chdir(dir) != 0) {
        setError(errno == ENOTDIR ? ERROR_DIRECTORY : fromErrno(errno, ERROR_PATH_NOT_FOUND));
        return 0;
    }
    return 1;
}
