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

const VtFiles kRealFiles = {realCreate, realRead, realWrite, realClose};

} // namespace

const VtFiles *vtRealFiles(void) { return &kRealFiles; }
