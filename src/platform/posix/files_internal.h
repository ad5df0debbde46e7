/*
 * Inside the POSIX files: what files.cpp (handles) and filenames.cpp
 * (names) share.
 */
#ifndef VOLTANIS_POSIX_FILES_INTERNAL_H
#define VOLTANIS_POSIX_FILES_INTERNAL_H

#include "posix.h"

namespace vtposix {

/* What GetLastError answers on this thread from now on. */
void setError(DWORD code);
/* The Windows error code nearest to errno e; fallback when none fits. */
DWORD fromErrno(int e, DWORD fallback);

/* The table's entries that work on names (filenames.cpp). */
DWORD fileAttributes(LPCSTR name);
BOOL fileMove(LPCSTR existing, LPCSTR newName, DWORD flags);
BOOL fileRemove(LPCSTR name);
BOOL dirCreate(LPCSTR name, void *security);
BOOL dirRemove(LPCSTR name);
HANDLE findFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL findNext(HANDLE h, LPWIN32_FIND_DATAA found);
BOOL findClose(HANDLE h);
DWORD processId(void);

} // namespace vtposix

#endif
