/*
 * A scriptable test double of the MIDI ports, the console keyboard and the
 * files, for running the system code without MIDI hardware or a terminal.
 * The ports are served by the real port host, so the handles, the header
 * rules and the input queue are the program's own.  Tests only: a library
 * of its own (voltanis_testdouble), never linked into the program.
 */
#ifndef VOLTANIS_TESTDOUBLE_H
#define VOLTANIS_TESTDOUBLE_H

#include "../common/service.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace td {

/* Routes the MIDI ports, the console and the files through the double and
   resets it: no ports, no keys, no failures, nothing captured.  Ports a
   test left open are dropped. */
void install();
/* Puts the real services back. */
void uninstall();

/* A port appears, at a new address (told to the host at once, as the
   sequencer announces it, unless portsNotify is off). */
void addOutPort(const char *name);
void addInPort(const char *name);
/* A port of both directions at this address. */
void addPortAt(const char *name, int addr);
/* The first port of this name vanishes, in each direction that has it;
   the open ports at its address fail from now on (sends answer an error). */
void removePort(const char *name);
/* Off: the ports come and go without a word, as winmm's do (the host
   then looks for a vanished port once a second).  On by default. */
void portsNotify(bool on);

/* The port operations that are counted and can be made to fail, by their
   place in the service's table. */
enum Op {
    OutCaps = VT_MIDI_OP_outGetDevCaps,
    InCaps = VT_MIDI_OP_inGetDevCaps,
    OutOpen = VT_MIDI_OP_outOpen,
    InOpen = VT_MIDI_OP_inOpen,
    InStart = VT_MIDI_OP_inStart,
    InPrepare = VT_MIDI_OP_inPrepareHeader,
    InAdd = VT_MIDI_OP_inAddBuffer,
    OutPrepare = VT_MIDI_OP_outPrepareHeader,
    OutLongMsg = VT_MIDI_OP_outLongMsg,
    OutUnprepare = VT_MIDI_OP_outUnprepareHeader,
    InReset = VT_MIDI_OP_inReset,
    InUnprepare = VT_MIDI_OP_inUnprepareHeader,
    InClose = VT_MIDI_OP_inClose,
    OutClose = VT_MIDI_OP_outClose
};
/* Every later call of op fails (a non-zero result; a failing open leaves the
   handle 0) and changes nothing.  For the capability queries and the opens,
   port chooses the port number the failure applies to, -1 all ports: the
   port itself refuses, and the host answers as it does then. */
void fail(Op op, int port = -1);
/* The next `times` unprepare calls of the input header answer 65 (still
   playing) before the one that succeeds. */
void inUnprepareStillPlaying(int times);
/* Clears all failures. */
void heal();

/* Every midiOutLongMsg that succeeded, in order, as the bytes it sent. */
const std::vector<std::vector<uint8_t>> &sent();
void clearSent();
/* How many times each operation was called since install. */
int calls(Op op);

bool outIsOpen();
bool inIsOpen();
bool inIsStarted();
int queuedHeaders();

/* A notification for the open input's callback (MIM_DATA, MIM_ERROR), or
   the port's overflows (MIM_VT_OVERRUN, parameter 1 of them), delivered by the port on another thread; returns once
   the callback has returned.  False when no input is open or started (then
   nothing is delivered).  Parameter 2 is the host's own time stamp. */
bool deliver(UINT msg, DWORD_PTR param1, DWORD_PTR param2 = 0);
bool deliverShort(uint8_t status, uint8_t d1 = 0, uint8_t d2 = 0);
/* A long message handed over whole, as a port that collects long messages
   itself does: the host puts it into the first queued header, or holds it
   until one is queued (in pieces when it is longer than the header), and
   notifies MIM_LONGDATA with the header's address.  False when the input
   is not started. */
bool deliverLong(const std::vector<uint8_t> &bytes);
/* The same, notified as MIM_LONGERROR. */
bool deliverLongError(const std::vector<uint8_t> &bytes);
/* Bytes as a cable carries them, through the host's own stream parser
   (running status, a SysEx cut off by a status byte, wild bytes). */
bool deliverBytes(const std::vector<uint8_t> &bytes);
/* The same, from the open input port of this name (one of a merged
   input). */
bool deliverBytesFrom(const char *port, const std::vector<uint8_t> &bytes);

/* Keys for _kbhit/_getch, appended to the queue; readLine takes its line
   from the same queue with the shared line editor, echoing as a console
   does (0 and the next byte are a function or cursor key there, DEL is
   Backspace, CR, LF and CR LF are each one Enter). */
void keys(const std::string &bytes);
/* Characters typed, appended to the same queue: never a key prefix, even
   a byte 0xE0 (the first byte of a UTF-8 character); lastKeyIsCharacter
   answers 1 for each.  After keys(), a 0 or 0xE0 is a prefix and the byte
   after it its scan code, and lastKeyIsCharacter answers 0 for both. */
void textKeys(const std::string &bytes);
/* On (the default): once the queue is empty, the keyboard behaves as a
   piped input at its end does (keys ESC, Enter, ESC, Enter ...; readLine
   answers -1), so that a whole run ends through the exit prompt.  Off: an
   empty queue means no key is waiting. */
void endOfInput(bool on);
/* On (the default): the keyboard is a console with a person at it.  Off: it
   is a pipe or a file. */
void keyboardIsConsole(bool on);
/* _sleep calls since install, and their milliseconds added up; the double
   does not really pause. */
unsigned sleeps();
unsigned long sleptMs();
/* The double's clock (vtClockUs) starts at 0 at install and advances only
   by the pauses asked for and by this. */
void advanceClock(int64_t us);
/* Every pause ends after at most ms (0: as asked), as a real one does when a
   key or a notification comes first; sleptMs() counts what really passed. */
void pausesEndAfter(unsigned long ms);

/* The files are the real ones, with faults on demand: once `bytes` bytes
   have been written (read) through the double in all, every further write
   (read) fails: the write reports fewer bytes than asked (GetLastError:
   ERROR_DISK_FULL), the read returns FALSE (ERROR_READ_FAULT).  -1 (the
   default) never. */
void failFileWriteAfter(long bytes);
void failFileReadAfter(long bytes);

} // namespace td

#endif
