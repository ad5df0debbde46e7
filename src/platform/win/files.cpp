/*
 * The real files behind the contract on Windows: kernel32.  winapi.h turns
 * the system's calls of CreateFileA and the rest into the vt_ forwarders of
 * common/forward.cpp, which call these unless a test has installed the
 * double.  (The ports are the port host's, the keyboard is console.cpp.)
 */
#define VOLTANIS_WIN_REAL_API 1
#include "../common/service.h"

namespace {

/* --- kernel32 files ------------------------------------------------------ */

/* The rules of the contract that kernel32 does not keep by itself: a name
   is not written through a symbolic link, and the console is no file. */
HANDLE realCreate(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ)
{
    /* (CREATE_NEW fails on any name that is there, a link included) */
    if (creation == CREATE_ALWAYS) {
        DWORD a = name ? GetFileAttributesA(name) : INVALID_FILE_ATTRIBUTES;
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            SetLastError(ERROR_CANT_RESOLVE_FILENAME);
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE h = CreateFileA(
        name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security), creation, attributes, templ);
    DWORD mode;
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        CloseHandle(h);
        SetLastError(ERROR_VT_KEYBOARD);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

/* Windows wants a count to write into unless the call is overlapped; a
   caller that does not care gets a scratch one rather than a crash.  A
   pipe is read without waiting: nothing there yet is ERROR_NO_DATA, and a
   pipe whose writer has gone is at its end. */
BOOL realRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    if (!done)
        done = &scratch;
    if (!overlapped && GetFileType(h) == FILE_TYPE_PIPE) {
        DWORD avail = 0;
        *done = 0;
        if (!PeekNamedPipe(h, NULL, 0, NULL, &avail, NULL))
            return GetLastError() == ERROR_BROKEN_PIPE ? TRUE : FALSE;
        if (avail == 0 && n > 0) {
            SetLastError(ERROR_NO_DATA);
            return FALSE;
        }
        if (n > avail)
            n = avail;
    }
    return ReadFile(h, buf, n, done, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    return WriteFile(h, buf, n, done ? done : &scratch, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realClose(HANDLE h) { return CloseHandle(h); }

DWORD realLastError(void) { return GetLastError(); }

DWORD realAttributes(LPCSTR name) { return GetFileAttributesA(name); }

/* without MOVEFILE_REPLACE_EXISTING Windows itself refuses a name that is
   there */
BOOL realMove(LPCSTR existing, LPCSTR newName, DWORD flags) { return MoveFileExA(existing, newName, flags); }

BOOL realRemove(LPCSTR name) { return DeleteFileA(name); }

DWORD realSeek(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    return SetFilePointer(h, distance, distanceHigh, method);
}

BOOL realFlush(HANDLE h) { return FlushFileBuffers(h); }

BOOL realCreateDir(LPCSTR name, void *security)
{
    return CreateDirectoryA(name, static_cast<LPSECURITY_ATTRIBUTES>(security));
}

BOOL realRemoveDir(LPCSTR name) { return RemoveDirectoryA(name); }

HANDLE realFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) { return FindFirstFileA(pattern, found); }

BOOL realFindNext(HANDLE h, LPWIN32_FIND_DATAA found) { return FindNextFileA(h, found); }

BOOL realFindClose(HANDLE h) { return FindClose(h); }

DWORD realProcessId(void) { return GetCurrentProcessId(); }

const VtFiles kRealFiles = {realCreate, realRead, realWrite, realClose, realLastError, realAttributes,
    realMove, realRemove, realSeek, realFlush, realCreateDir, realRemoveDir, realFindFirst, realFindNext,
    realFindClose, realProcessId};

} // namespace

const VtFiles *vtRealFiles(void) { return &kRealFiles; }

/* From the console's control handler, a thread of its own while the main
   thread waits outside its sections: the handle written at an offset. */
BOOL vtWriteFileAtOnSignal(HANDLE h, DWORD offset, const void *p, DWORD n)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD done = 0;
    return WriteFile(h, p, n, &done, &at) && done == n;
}

BOOL vtFlushFileOnSignal(HANDLE h) { return FlushFileBuffers(h); }

namespace {

/* A folder's identity: its volume and its index there. */
bool folderIdentity(LPCSTR name, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(h, info) && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return ok;
}

} // namespace

int vtSameFolder(LPCSTR a, LPCSTR b)
{
    BY_HANDLE_FILE_INFORMATION x, y;
    return a && b && folderIdentity(a, &x) && folderIdentity(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}
