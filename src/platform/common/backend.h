/*
 * What one backend contributes to the port host: the ports of one MIDI
 * system (the ALSA sequencer, winmm, the built-in loopback).
 *
 * A guide for implementers
 * ------------------------
 * The port host (host/host.cpp) is the one port service of every platform.
 * It numbers the ports of all its backends one after another per direction,
 * owns the handles, the header rules (common/midihdr.h) and the queue of
 * input headers, and calls the system's input callback.  A backend only
 * lists ports, sends bytes and delivers what arrives; it never sees a
 * handle or a header.  To add one (JACK, CoreMIDI, ...):
 *
 *   1. Make a folder src/platform/<name>/ shaped like alsa/: <name>.h
 *      declares one function, `vt::Backend *vt<Name>Backend(void)`, and the
 *      .cpp files implement Backend, OutPort and InPort below.
 *   2. Register it with one line in the backend list of host/host.cpp, at
 *      the place its ports should be numbered (the loopback stays last),
 *      under the condition the build defines when it builds the folder
 *      (see the top CMakeLists.txt: VOLTANIS_HAVE_ALSA, VOLTANIS_HAVE_WINMM).
 *   3. When its system is missing (no server, no device file, no library),
 *      vt<Name>Backend returns nullptr, or a backend with no ports: the
 *      backend then offers nothing and says nothing.  Nothing a backend
 *      does may print; every failure is an answer (false, nullptr).
 *   4. An open input delivers what arrives to its InputSink as raw bytes
 *      in cable order (InputSink::bytes); the host's shared stream parser
 *      (common/inparser.h) makes short messages and fills the headers, so
 *      running status, real-time bytes inside SysEx and SysEx across
 *      several deliveries are handled once for all backends.  A system that
 *      takes the stream apart itself may hand a short message over as it is
 *      (InputSink::message), as the winmm backend does with an invalid byte.
 *
 * Threads: the host calls a backend from the main thread only, never from
 * inside a sink call.  A backend delivers from a thread of its own (never
 * from inside one of its own port calls), and InPort::stop waits until no
 * sink call is running.
 */
#ifndef VOLTANIS_PLATFORM_BACKEND_H
#define VOLTANIS_PLATFORM_BACKEND_H

#include "../platform.h"

#include <stddef.h>
#include <stdint.h>

namespace vt {

/* Where an open input port delivers what arrives.  The host's own sink
   answers every call; the defaults are for sinks of tests that take bytes
   only. */
class InputSink {
public:
    virtual ~InputSink() {}
    /* Raw MIDI bytes in the order a cable carries them (running status
       allowed, real-time bytes anywhere), for the shared parser. */
    virtual void bytes(const uint8_t *p, size_t n) = 0;
    /* The same bytes with the time the MIDI system itself stamped them
       with, on the clock of vtClockUs; bytes() means they arrived now. */
    virtual void bytesAt(const uint8_t *p, size_t n, int64_t arrivalUs)
    {
        (void)arrivalUs;
        bytes(p, n);
    }
    /* The system's input queue overflowed `times` times and what it held
       was thrown away before it could be delivered; how many messages went
       the system does not say. */
    virtual void overrun(unsigned times) = 0;
    /* One notification of a system that parses for itself, handed on as it
       is: MIM_DATA with the packed message, MIM_ERROR with the byte.  False
       when nobody listens (before midiInStart, after midiInReset). */
    virtual bool message(unsigned kind, uint32_t word)
    {
        (void)kind;
        (void)word;
        return false;
    }
    /* A long message collected elsewhere, ended as `kind` (MIM_LONGDATA or
       MIM_LONGERROR): it comes back in the queued headers, or waits for
       one, as a parsed SysEx does.  False when nobody listens.  Not mixed
       with bytes() on one port while a SysEx is in progress there. */
    virtual bool longMessage(unsigned kind, const uint8_t *p, size_t n)
    {
        (void)kind;
        (void)p;
        (void)n;
        return false;
    }
};

class OutPort {
public:
    virtual ~OutPort() {}
    /* Sends the bytes, synchronously: on return they have left.  Bytes may
       end in the middle of a message; the next call goes on from there.
       Returns false when the port failed (for instance it vanished). */
    virtual bool send(const uint8_t *p, size_t n) = 0;
    /* True once the port this one is connected to has vanished (its
       program quit, its device was unplugged), also when another port has
       taken its address since.  Main thread. */
    virtual bool gone() { return false; }
};

class InPort {
public:
    /* Deleting the port closes it; stop() has been called before. */
    virtual ~InPort() {}
    /* Nothing reaches the sink before start(). */
    virtual bool start() = 0;
    /* Stops delivery; when it returns, no sink call is running or will run. */
    virtual void stop() = 0;
    /* As OutPort::gone. */
    virtual bool gone() { return false; }
};

/* Where a port reopened by its name was found: its address (when ports
   have one), and how many ports go by that name (the first, by address,
   is taken). */
struct FoundPort {
    VtPortAddress at;
    bool hasAddress;
    unsigned alike;
};

class Backend {
public:
    virtual ~Backend() {}
    /* Takes a fresh list of the ports; counts, names and opens refer to it. */
    virtual void snapshot() = 0;
    virtual unsigned outCount() = 0;
    virtual unsigned inCount() = 0;
    /* Port name, at most 31 characters and a terminating zero; false when
       the port is gone since the snapshot. */
    virtual bool outName(unsigned i, char name[32]) = 0;
    virtual bool inName(unsigned i, char name[32]) = 0;
    /* nullptr when the port cannot be opened */
    virtual OutPort *openOut(unsigned i) = 0;
    virtual InPort *openIn(unsigned i, InputSink *sink) = 0;
    /* Where the port lives, for the port lists (midiPortAddress); false
       when this backend's ports have no address. */
    virtual bool address(bool /*out*/, unsigned /*i*/, VtPortAddress * /*addr*/) { return false; }

    /* Following a port that vanished, by its name (the name outName gave):
       the ports as they are now, without a new snapshot (the numbering
       stays), the first of that name opened.  nullptr when none has it, and
       always for a backend whose ports never vanish. */
    virtual OutPort *openOutNamed(const char * /*name*/, FoundPort * /*where*/) { return nullptr; }
    virtual InPort *openInNamed(const char * /*name*/, InputSink * /*sink*/, FoundPort * /*where*/)
    {
        return nullptr;
    }
    /* True when the backend tells of ports coming and going by itself
       (vtHostPortsChanged); otherwise a vanished port is looked for once a
       second. */
    virtual bool notifies() { return false; }
    /* Lines of news of its own (a program connected to the port offered
       to others), up to max; how many.  Main thread. */
    virtual int takeNews(VtPortEvent * /*ev*/, int /*max*/) { return 0; }
};

/* A backend's news, from any thread: ports came or went, or an open port
   failed.  The main thread looks at its open ports at its next pass. */
void portsChanged();

} // namespace vt

#endif
