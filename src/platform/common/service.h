/*
 * The three services behind the platform contract, as tables of operations.
 * The contract functions forward to the installed table, so that the tests
 * can put the test double in place of the real port service, console and
 * files without the system code knowing.
 */
#ifndef VOLTANIS_PLATFORM_SERVICE_H
#define VOLTANIS_PLATFORM_SERVICE_H

#include "../platform.h"

struct VtMidiService {
    UINT (*outGetNumDevs)(void);
    MMRESULT (*outGetDevCaps)(UINT, LPMIDIOUTCAPSA, UINT);
    MMRESULT (*outOpen)(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT (*outPrepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT (*outLongMsg)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT (*outUnprepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
    MMRESULT (*outClose)(HMIDIOUT);
    UINT (*inGetNumDevs)(void);
    MMRESULT (*inGetDevCaps)(UINT, LPMIDIINCAPSA, UINT);
    MMRESULT (*inOpen)(LPHMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT (*inStart)(HMIDIIN);
    MMRESULT (*inPrepareHeader)(HMIDIIN, LPMIDIHDR, UINT);
    MMRESULT (*inAddBuffer)(HMIDIIN, LPMIDIHDR, UINT);
    MMRESULT (*inReset)(HMIDIIN);
    MMRESULT (*inUnprepareHeader)(HMIDIIN, LPMIDIHDR, UINT);
    MMRESULT (*inClose)(HMIDIIN);
};

struct VtConsole {
    void (*init)(void);
    int (*kbhit)(void);
    int (*getch)(void);
    void (*sleep)(unsigned long ms);
    int (*readLine)(char *buf, unsigned size);
    int (*isConsole)(void);
    int64_t (*clockUs)(void);
    int (*lastKeyIsCharacter)(void);
};

struct VtFiles {
    HANDLE (*create)(LPCSTR, DWORD, DWORD, void *, DWORD, DWORD, HANDLE);
    BOOL (*read)(HANDLE, void *, DWORD, DWORD *, void *);
    BOOL (*write)(HANDLE, const void *, DWORD, DWORD *, void *);
    BOOL (*close)(HANDLE);
    DWORD (*lastError)(void);
    DWORD (*attributes)(LPCSTR);
    BOOL (*move)(LPCSTR, LPCSTR, DWORD);
    BOOL (*remove)(LPCSTR);
    DWORD (*seek)(HANDLE, LONG, LONG *, DWORD);
    BOOL (*flush)(HANDLE);
    BOOL (*createDir)(LPCSTR, void *);
};

/* Installing nullptr puts the real service back. */
void vtInstallMidi(const VtMidiService *s);
void vtInstallConsole(const VtConsole *c);
void vtInstallFiles(const VtFiles *f);
const VtMidiService *vtRealMidi(void);
const VtConsole *vtRealConsole(void);
const VtFiles *vtRealFiles(void);

/* Wakes a pause of the real console (_sleep) at once; safe from any thread,
   never blocks.  The port layer calls it after each notification. */
void vtWake(void);

#endif
