/*
 * The platform contract on Windows: the real winmm, conio and kernel32
 * declarations, with the contract names turned into the layer's own
 * forwarding functions (vt_...).  They call the installed services
 * (common/service.h): the port host, the console and kernel32's files, or
 * the double in a test, so the system code compiles the same calls on
 * every platform and can run against either.
 *
 * Included by platform.h only; nothing else includes it.
 */
#ifndef VOLTANIS_WINAPI_H
#define VOLTANIS_WINAPI_H

/* Keep windows.h from defining min/max, ERROR and the other GDI names that
   would clash with ordinary identifiers in the system code. */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef NOGDI
#define NOGDI
#endif

#include <windows.h>
#include <mmsystem.h>
#include <conio.h>
/* Every header that declares one of the names redirected below is included
   now, before the macros exist, so that a later include of it by the system
   code declares nothing under the redirected name. */
#include <stdlib.h>
#include <stdio.h>

UINT vt_midiOutGetNumDevs(void);
MMRESULT vt_midiOutGetDevCapsA(UINT uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc);
MMRESULT vt_midiOutOpen(
    LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT vt_midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiOutClose(HMIDIOUT hmo);

UINT vt_midiInGetNumDevs(void);
MMRESULT vt_midiInGetDevCapsA(UINT uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic);
MMRESULT vt_midiInOpen(
    LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT vt_midiInStart(HMIDIIN hmi);
MMRESULT vt_midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiInReset(HMIDIIN hmi);
MMRESULT vt_midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT vt_midiInClose(HMIDIIN hmi);

int vt_kbhit(void);
int vt_getch(void);
void vt_sleep(unsigned long ms);

HANDLE vt_CreateFileA(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ);
BOOL vt_ReadFile(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped);
BOOL vt_WriteFile(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped);
BOOL vt_CloseHandle(HANDLE h);
DWORD vt_GetLastError(void);
DWORD vt_GetFileAttributesA(LPCSTR name);
DWORD vt_SetFilePointer(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method);
BOOL vt_FlushFileBuffers(HANDLE h);
BOOL vt_CreateDirectoryA(LPCSTR name, void *security);
BOOL vt_MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
BOOL vt_DeleteFileA(LPCSTR name);
BOOL vt_RemoveDirectoryA(LPCSTR name);
HANDLE vt_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL vt_FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA found);
BOOL vt_FindClose(HANDLE h);
DWORD vt_GetCurrentProcessId(void);

/* The layer's own source (win/, winmm/) calls the real functions under
   these names, so it defines VOLTANIS_WIN_REAL_API and sees no
   redirection. */
#ifndef VOLTANIS_WIN_REAL_API
#define midiOutGetNumDevs vt_midiOutGetNumDevs
#define midiOutGetDevCapsA vt_midiOutGetDevCapsA
#define midiOutOpen vt_midiOutOpen
#define midiOutPrepareHeader vt_midiOutPrepareHeader
#define midiOutLongMsg vt_midiOutLongMsg
#define midiOutUnprepareHeader vt_midiOutUnprepareHeader
#define midiOutClose vt_midiOutClose
#define midiInGetNumDevs vt_midiInGetNumDevs
#define midiInGetDevCapsA vt_midiInGetDevCapsA
#define midiInOpen vt_midiInOpen
#define midiInStart vt_midiInStart
#define midiInPrepareHeader vt_midiInPrepareHeader
#define midiInAddBuffer vt_midiInAddBuffer
#define midiInReset vt_midiInReset
#define midiInUnprepareHeader vt_midiInUnprepareHeader
#define midiInClose vt_midiInClose
#define _kbhit vt_kbhit
#define _getch vt_getch
#define _sleep vt_sleep
#define CreateFileA vt_CreateFileA
#define ReadFile vt_ReadFile
#define WriteFile vt_WriteFile
#define CloseHandle vt_CloseHandle
#define GetLastError vt_GetLastError
#define GetFileAttributesA vt_GetFileAttributesA
#define SetFilePointer vt_SetFilePointer
#define FlushFileBuffers vt_FlushFileBuffers
#define CreateDirectoryA vt_CreateDirectoryA
#define MoveFileExA vt_MoveFileExA
#define DeleteFileA vt_DeleteFileA
#define RemoveDirectoryA vt_RemoveDirectoryA
#define FindFirstFileA vt_FindFirstFileA
#define FindNextFileA vt_FindNextFileA
#define FindClose vt_FindClose
#define GetCurrentProcessId vt_GetCurrentProcessId
#endif

#endif /* VOLTANIS_WINAPI_H */
