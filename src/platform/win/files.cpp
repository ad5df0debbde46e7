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

HANDLE realCreate(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ)
{
    return CreateFileA(
        name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security), creation, attributes, templ);
}

/* Windows wants a count to write into unless the call is overlapped; a
   caller that does not care gets a scratch one rather than a crash. */
BOOL realRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    return ReadFile(h, buf, n, done ? done : &scratch, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD scratch = 0;
    return WriteFile(h, buf, n, done ? done : &scratch, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL realClose(HANDLE h) { return CloseHandle(h); }

DWORD realSeek(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    return SetFilePointer(h, distance, distanceHigh, method);
}

BOOL realFlush(HANDLE h) { return FlushFileBuffers(h); }
DWORD realAttributes(LPCSTR name) { return GetFileAttributesA(name); }

BOOL realCreateDir(LPCSTR name, void *security)
{
    return CreateDirectoryA(name, static_cast<LPSECURITY_ATTRIBUTES>(security));
}

/* without MOVEFILE_REPLACE_EXISTING Windows itself refuses a name that is
   there */
BOOL realMove(LPCSTR existing, LPCSTR newName, DWORD flags) { return MoveFileExA(existing, newName, flags); }
BOOL realRemove(LPCSTR name) { return DeleteFileA(name); }

const VtFiles kRealFiles = {realCreate, realRead, realWrite, realClose, realSeek, realFlush, realAttributes,
    realCreateDir, realMove, realRemove};

} // namespace

const VtFiles *vtRealFiles(void) { return &kRealFiles; }
