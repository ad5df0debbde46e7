/*
 * The three services behind the platform contract, as tables of operations.
 * The contract functions forward to the installed table, so that the tests
 * can put the test double in place of the real port service, console and
 * files without the system code knowing.
 */
#ifndef VOLTANIS_PLATFORM_SERVICE_H
#define VOLTANIS_PLATFORM_SERVICE_H

#include "../platform.h"

/* The operations of the port service, one line each, in the order of its
   table: X(name, result, (parameters), (arguments)).  The table's fields,
   the port host's table and the test double's are all made from this
   list, so an operation is added in one place. */
#define VT_MIDI_OPERATIONS(X)                                                                                \
    X(outGetNumDevs, UINT, (void), ())                                                                       \
    X(outGetDevCaps, MMRESULT, (UINT id, LPMIDIOUTCAPSA caps, UINT size), (id, caps, size))                  \
    X(outOpen, MMRESULT, (LPHMIDIOUT ph, UINT id, DWORD_PTR cb, DWORD_PTR instance, DWORD flags),            \
        (ph, id, cb, instance, flags))                                                                       \
    X(outPrepareHeader, MMRESULT, (HMIDIOUT h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                    \
    X(outLongMsg, MMRESULT, (HMIDIOUT h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                          \
    X(outUnprepareHeader, MMRESULT, (HMIDIOUT h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                  \
    X(outClose, MMRESULT, (HMIDIOUT h), (h))                                                                 \
    X(inGetNumDevs, UINT, (void), ())                                                                        \
    X(inGetDevCaps, MMRESULT, (UINT id, LPMIDIINCAPSA caps, UINT size), (id, caps, size))                    \
    X(inOpen, MMRESULT, (LPHMIDIIN ph, UINT id, DWORD_PTR cb, DWORD_PTR instance, DWORD flags),              \
        (ph, id, cb, instance, flags))                                                                       \
    X(inStart, MMRESULT, (HMIDIIN h), (h))                                                                   \
    X(inPrepareHeader, MMRESULT, (HMIDIIN h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                      \
    X(inAddBuffer, MMRESULT, (HMIDIIN h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                          \
    X(inReset, MMRESULT, (HMIDIIN h), (h))                                                                   \
    X(inUnprepareHeader, MMRESULT, (HMIDIIN h, LPMIDIHDR hdr, UINT size), (h, hdr, size))                    \
    X(inClose, MMRESULT, (HMIDIIN h), (h))                                                                   \
    X(inHeldLoad, MMRESULT, (HMIDIIN h, UINT *percent), (h, percent))

#define VT_MIDI_FIELD(name, result, params, args) result(*name) params;
struct VtMidiService {
    VT_MIDI_OPERATIONS(VT_MIDI_FIELD)
};
#undef VT_MIDI_FIELD

/* Each operation's place in the table, for what is kept per operation
   (the double counts and fails them): VT_MIDI_OP_outOpen and so on. */
#define VT_MIDI_INDEX(name, result, params, args) VT_MIDI_OP_##name,
enum VtMidiOp { VT_MIDI_OPERATIONS(VT_MIDI_INDEX) VT_MIDI_OP_COUNT };
#undef VT_MIDI_INDEX

/* A table of the functions in scope that bear the operations' names:
   const VtMidiService k = {VT_MIDI_OPERATIONS(VT_MIDI_ENTRY)}; */
#define VT_MIDI_ENTRY(name, result, params, args) name,

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
    BOOL (*removeDir)(LPCSTR);
    HANDLE (*findFirst)(LPCSTR, LPWIN32_FIND_DATAA);
    BOOL (*findNext)(HANDLE, LPWIN32_FIND_DATAA);
    BOOL (*findClose)(HANDLE);
    DWORD (*processId)(void); /* for names that are one run's own */
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
