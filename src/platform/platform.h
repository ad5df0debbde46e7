/*
 * The platform contract: the operating-system operations the system code
 * calls, by their Windows names and with their Windows contracts.
 *
 * The MIDI ports come from the port host on every platform: those of the
 * ALSA sequencer (Linux) or winmm (Windows), then the built-in loopback
 * port.  The keyboard and the files are the console's and the system's:
 * conio and kernel32 on Windows (declared through win/winapi.h), a raw
 * terminal and POSIX calls elsewhere.  Nothing outside src/platform
 * includes an operating-system header; the system code includes only this
 * file.
 */
#ifndef VOLTANIS_PLATFORM_H
#define VOLTANIS_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include "win/winapi.h"
#else

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef int32_t LONG;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef uintptr_t DWORD_PTR;
typedef UINT MMRESULT;
typedef UINT MMVERSION;
typedef void *HANDLE;

struct HMIDIOUT__;
struct HMIDIIN__;
typedef struct HMIDIOUT__ *HMIDIOUT;
typedef struct HMIDIIN__ *HMIDIIN;
typedef HMIDIOUT *LPHMIDIOUT;
typedef HMIDIIN *LPHMIDIIN;

#define CALLBACK

/* long-message header, laid out as the Windows one */
typedef struct midihdr_tag {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    struct midihdr_tag *lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
} MIDIHDR, *LPMIDIHDR;

/* capability records: 52 bytes out, 44 bytes in, as on Windows */
typedef struct {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
} MIDIOUTCAPSA, *LPMIDIOUTCAPSA;

typedef struct {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    DWORD dwSupport;
} MIDIINCAPSA, *LPMIDIINCAPSA;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define MIDIERR_UNPREPARED 64
#define MIDIERR_STILLPLAYING 65
#define MIDIERR_NOTREADY 67

#define MIM_OPEN 961
#define MIM_CLOSE 962
#define MIM_DATA 963
#define MIM_LONGDATA 964
#define MIM_ERROR 965
#define MIM_LONGERROR 966
#define MIM_MOREDATA 972

#define MHDR_DONE 0x00000001
#define MHDR_PREPARED 0x00000002
#define MHDR_INQUEUE 0x00000004

#define CALLBACK_NULL 0x00000000
#define CALLBACK_FUNCTION 0x00030000
#define MIDI_IO_STATUS 0x00000020

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_DEVICE 0x40
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MOVEFILE_REPLACE_EXISTING 0x1
#define FILE_BEGIN 0
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define MOVEFILE_WRITE_THROUGH 0x8
#define MAX_PATH 260

/* one name of a folder's listing (FindFirstFileA, FindNextFileA): the
   fields of the Windows record that this system reads */
typedef struct {
    DWORD dwFileAttributes;
    CHAR cFileName[MAX_PATH];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

/* the system error codes the file operations leave for GetLastError */
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_WRITE_PROTECT 19
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_BAD_FILE_TYPE 222
#define ERROR_FILE_TOO_LARGE 223
#define ERROR_NO_DATA 232
#define ERROR_PIPE_NOT_CONNECTED 233
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_DIRECTORY 267
#define ERROR_CANT_RESOLVE_FILENAME 1921
#define ERROR_FILE_READ_ONLY 6009

UINT midiOutGetNumDevs(void);
MMRESULT midiOutGetDevCapsA(UINT uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc);
MMRESULT midiOutOpen(
    LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutClose(HMIDIOUT hmo);

UINT midiInGetNumDevs(void);
MMRESULT midiInGetDevCapsA(UINT uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic);
MMRESULT midiInOpen(
    LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT midiInStart(HMIDIIN hmi);
MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInReset(HMIDIIN hmi);
MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInClose(HMIDIIN hmi);

/* console keyboard: is a key waiting (never blocks); one byte, no echo */
int _kbhit(void);
int _getch(void);

/* pause; the platform may end it early when a key or a MIDI notification
   arrives, so that what arrives is shown at once */
void _sleep(unsigned long ms);

HANDLE CreateFileA(
    LPCSTR name, DWORD access, DWORD share, void *security, DWORD creation, DWORD attributes, HANDLE templ);
BOOL ReadFile(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped);
BOOL WriteFile(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped);
BOOL CloseHandle(HANDLE h);
DWORD GetLastError(void);
DWORD GetFileAttributesA(LPCSTR name);
DWORD SetFilePointer(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method);
BOOL FlushFileBuffers(HANDLE h);
BOOL CreateDirectoryA(LPCSTR name, void *security);
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
BOOL DeleteFileA(LPCSTR name);
BOOL RemoveDirectoryA(LPCSTR name);
/* The names in a folder ("." and ".." may be among them): the pattern is the
   folder's name, a separator and "*".  The first name, each next one
   (FALSE with ERROR_NO_MORE_FILES after the last), the end. */
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA found);
BOOL FindClose(HANDLE h);
/* this process's number, which no other process running has */
DWORD GetCurrentProcessId(void);

/* the folder that relative file names start from */
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);

#endif /* !_WIN32 */

/*
 * Extensions, the same on every platform.
 */

/*
 * The files, as the system relies on them everywhere:
 * - a name is never written through a symbolic link: CREATE_ALWAYS and
 *   CREATE_NEW refuse one (ERROR_CANT_RESOLVE_FILENAME), and only a regular
 *   file is ever emptied;
 * - the console the keys come from is never opened as a file, for reading
 *   or writing (ERROR_VT_KEYBOARD below);
 * - GetFileAttributesA tells of the name itself, not of what a link at it
 *   points to (FILE_ATTRIBUTE_REPARSE_POINT, with FILE_ATTRIBUTE_DIRECTORY
 *   when it leads to a folder, as Windows has it); anything that is neither
 *   a regular file nor a folder has FILE_ATTRIBUTE_DEVICE;
 * - MoveFileExA without MOVEFILE_REPLACE_EXISTING never replaces a name
 *   that is there, also one that appears while it runs;
 * - FlushFileBuffers returns once what was written is on the disk;
 * - a read that finds no byte yet (a pipe or a device whose writer has not
 *   written) does not wait: ReadFile fails and GetLastError says
 *   ERROR_NO_DATA, as for a pipe in no-wait mode.  The end of a file is a
 *   read that succeeds with no byte; a regular file never answers
 *   ERROR_NO_DATA.
 */

/* A system error code that not every Windows SDK names. */
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295
#endif

/* The file named is the console the keys come from.  (Bit 29 marks an
   error code of the application's own.) */
#define ERROR_VT_KEYBOARD 0x20000001u

/* Notification kinds of the port layer's own losses, sent to the input
   callback:
   - MIM_VT_OVERRUN: the system's input queue overflowed and was emptied,
     and the system does not say how many messages went with it;
     parameter 1 is how many times that happened.
   - MIM_VT_LONGLOST: long messages that arrived while the program held its
     buffer and found no room to wait in were dropped whole; parameter 1 is
     how many.  Sent once those that did wait have been handed over, or at
     the reset. */
#define MIM_VT_OVERRUN 0x3F0
#define MIM_VT_LONGLOST 0x3F1

/* A midiInOpen flag of this port service: parameter 2 of each notification
   is the time the message arrived, on the clock of vtClockUs (taken by the
   port layer as it arrives, or the MIDI system's own time stamp), instead
   of milliseconds since midiInStart.  vtArrivalUs reads it. */
#define MIDI_IO_VT_ARRIVAL_US 0x00800000

/* How full the port layer's store of the long messages that wait for an
   input buffer of hmi is (those that arrive while the program holds its
   buffers), in percent of the nearer of its bounds, messages or bytes; a
   message that finds no room is dropped whole (MIM_VT_LONGLOST).  A
   program that can put its own work off (keys from a pipe) takes what
   waits first while the store is more than half full.
   MMSYSERR_INVALHANDLE for a handle that is not open. */
MMRESULT midiInVtHeldLoad(HMIDIIN hmi, UINT *percent);

/* How many data bytes follow a status byte: vtMidiDataBytes. */
#include "common/midibytes.h"

/* The signature of the input callback the system passes to midiInOpen. */
typedef void(CALLBACK *VtMidiInProc)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

/* Prepares the console once at start: every print reaches it at once, the
   keyboard delivers single unechoed keys; all is restored at exit. */
void platformInit(void);

/* Line input with echo up to Enter, bounded: at most size-1 characters are
   kept and the line is zero-terminated; what is typed beyond that is not
   stored.  Returns the number of characters kept, or -1 at the end of the
   input (then buf holds an empty line). */
int readLine(char *buf, unsigned size);

/* 1 when the keys come from a person at a console, 0 when the keyboard is a
   pipe or a file, where nobody is there to answer a question. */
int keyboardIsConsole(void);

/* A monotonic clock in microseconds from an arbitrary start, for pauses
   kept to a deadline and for times of arrival.  It runs with _sleep: in the
   tests the double's clock advances by what its pauses were asked for. */
int64_t vtClockUs(void);

/* The arrival time (vtClockUs microseconds) that parameter 2 of a
   notification of an input opened with MIDI_IO_VT_ARRIVAL_US holds; where
   DWORD_PTR has 32 bits only, it is widened with the clock, which is right
   for a notification read within 35 minutes of its arrival. */
int64_t vtArrivalUs(DWORD_PTR param2);

/* The keyboard types these lines instead of reading standard input: the
   characters of each (a line feed in one is Enter), then Enter; after the
   last, once a short quiet time has passed, it ends as a pipe does (ESC,
   Enter, ...; line input reports the end), and keyboardIsConsole() is 0.
   Called before platformInit; the lines stay valid until the exit. */
void keyboardFromLines(const char *const *lines, unsigned count);

/* 1 when standard input is a pipe or a file and holds bytes that no key
   was taken from: the keys came from keyboardFromLines, and what was
   piped in went unread.  0 for a terminal, a device (/dev/null, NUL) and
   an input that is empty or at its end.  Reads nothing. */
int standardInputUnread(void);

/* Where a port lives in the port service, for showing and finding it: an
   ALSA sequencer port's client:port address and its client's name. */
typedef struct {
    int client;
    int port;
    char clientName[64]; /* zero-terminated */
} VtPortAddress;

/* 1 with *addr filled for port id (as midiOutGetDevCapsA/midiInGetDevCapsA
   number it, after the latest count) of the real port service; 0 when the
   port has no such address (the loopback, every Windows port). */
int midiPortAddress(int isOut, UINT id, VtPortAddress *addr);

/* Ports that vanish and come back.  The open ports are followed by their
   names: when one vanishes, its handle stays open and sending to it fails;
   when a port of that name appears again (anywhere, under any address) it
   is reopened behind the same handle.  An address is never used again
   unless the port there has the name.  The news, one record each: */
enum {
    VT_PORT_GONE = 1, /* an open port vanished */
    VT_PORT_BACK,     /* and was reopened */
    VT_PORT_LINKED,   /* a program connected to the port offered (vtOfferPort) */
    VT_PORT_UNLINKED  /* and disconnected */
};
typedef struct {
    int kind;
    int isOut;      /* the direction of the open port; for LINKED, 1 when
                       the program reads what is sent */
    char name[32];  /* the port's name as the lists give it (LINKED: the
                       other program's port) */
    int hasAddress; /* BACK, LINKED: at holds where it is */
    VtPortAddress at;
    unsigned alike; /* BACK: how many ports go by the name (the first by
                       address was taken) */
    unsigned cut;   /* GONE of an input: SysEx messages it cut off */
} VtPortEvent;

/* Main thread: what became of the open ports since the last call, up to
   max records; how many.  Costs nothing while no backend told of a change
   and nothing is due. */
int vtPortsFollow(VtPortEvent *ev, int max);
/* When vtPortsFollow has to look again although nobody tells (a vanished
   port of a backend without notifications is looked for once a second),
   on the clock of vtClockUs; -1 for never. */
int64_t vtPortsFollowDueUs(void);

/* Several input ports as one input: from the next midiInOpen on, the
   input opened also takes these ports (numbers of the latest count; the
   one opened and repeats are taken once), all in one stream of
   notifications; n = 0 goes back to one port.  A message of one port is
   never split by another's: what another port sends while a SysEx
   arrives waits for its end.  Returns how many further ports were kept
   (VT_MAX_INPUTS - 1 at most). */
#define VT_MAX_INPUTS 8
int vtMidiInAlso(const UINT *ids, int n);
/* The ports of the input opened last: how many (1 for one port), each
   one's name (zero-terminated, as the lists give it), from 0. */
int vtMidiInSources(void);
const char *vtMidiInSourceName(int i);
/* Where a message taken from a merged input came from (0 based), -1 for
   one port: a MIM_DATA word carries it in bits 24-31 (source + 1, only
   while several ports are merged); each long message handed back with
   bytes, or cut off, is asked for once, in order, when it is taken. */
int vtMidiInWordSource(DWORD word);
int vtMidiInLongSource(void);

/* A port of this program that other programs connect to, in both
   directions, under this name: listed in each direction just before the
   built-in loopback.  1 when it is there; 0 when it could not be made; -1
   where the MIDI system cannot offer one (winmm, no sequencer). */
int vtOfferPort(const char *name);

/* 1 when the byte the last _getch returned is a character typed, whatever
   its value (a character whose first UTF-8 byte is 0xE0, say); 0 when it
   is the prefix or the scan code of a function or cursor key.  From a pipe
   or a file a byte 0 or 0xE0 is a prefix, except a 0xE0 that begins a
   UTF-8 character (the next byte is 0xA0 to 0xBF). */
int lastKeyIsCharacter(void);

/* At a signal that ends the program (CTRL-C, a kill, a hang-up, a broken
   pipe, a fault; on Windows the console's CTRL-C, CTRL-BREAK and close), fn
   runs once before the program ends by the signal as it would have without
   fn; the terminal is given back as always.  fn may run on any thread,
   inside a signal handler: it calls only async-signal-safe functions (such
   as the two below).  nullptr: nothing runs.  Until the console is set up
   (platformInit) a signal takes its default course. */
void vtAtFatalSignal(void (*fn)(void));

/* Main thread: 1 begins, 0 ends a section (sections nest) that the
   function above never cuts into, so that it never finds what it reads
   half changed: a signal that comes meanwhile waits for the end of the
   outermost section.  Once the function has begun on another thread, a
   section that begins waits there for the end of the program.  A real
   fault inside a section ends the program without the function. */
void vtHoldFatalSignals(int hold);

/* For the function above: n bytes written at offset of a file that
   CreateFileA opened (and is still open), and what was written put on the
   disk; async-signal-safe (no lock, no allocation, nothing held back).
   TRUE when it all went. */
BOOL vtWriteFileAtOnSignal(HANDLE h, DWORD offset, const void *p, DWORD n);
BOOL vtFlushFileOnSignal(HANDLE h);

/* 1 when a and b both name one existing folder, by whatever path. */
int vtSameFolder(LPCSTR a, LPCSTR b);

/* ---- runs from a script (the command line's quiet modes) -------------- */

/* Where standard output goes from now on, for a run whose session texts
   nobody reads: VT_OUT_SHOWN the standard output the program was given,
   VT_OUT_NONE nowhere.  What was printed before goes out where it was
   meant to.  Main thread. */
#define VT_OUT_SHOWN 0
#define VT_OUT_NONE 1
void vtRouteStdout(int where);

/* 1 when the standard output the program was given is a terminal. */
int vtStdoutIsTerminal(void);

/* From now on CTRL-C and SIGTERM (on Windows CTRL-C, CTRL-BREAK) no longer
   end the program: they are noted, and the pause ends at once, for a run
   that ends itself in order (a listener, a transfer from the command
   line).  Every other signal keeps its course. */
void vtStopOnSignals(void);
/* 1 once such a signal came. */
int vtStopSignalled(void);

/* For the keyboard of keyboardFromLines: after the last line, the end of
   the keys counts as a key only once ms milliseconds have passed
   (VT_LINES_NEVER: never; by default a short moment). */
#define VT_LINES_NEVER (-1L)
void keyboardLinesEndAfter(long ms);
/* vtClockUs of the moment the last line's Enter was taken (at once for no
   lines); -1 before. */
int64_t keyboardLinesDoneUs(void);
/* The keys come from standard input again, after keyboardFromLines. */
void keyboardFromConsole(void);

#endif /* VOLTANIS_PLATFORM_H */
