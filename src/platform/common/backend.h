/*
 * Inside the POSIX port layer: what one backend (ALSA sequencer, loopback)
 * contributes.  The port host (host.cpp) numbers the ports of all backends
 * one after another (ALSA first, loopback last), keeps the winmm-shaped
 * handles and headers, and turns the raw bytes an input port delivers into
 * the notifications of the input callback.
 */
#ifndef VOLTANIS_PLATFORM_BACKEND_H
#define VOLTANIS_PLATFORM_BACKEND_H

#include "../platform.h"

#include <stddef.h>
#include <stdint.h>

namespace vt {

/* Where an open input port delivers what arrives: raw MIDI bytes in the
   order a cable would carry them (running status allowed, real-time bytes
   anywhere).  Called from the backend's own thread, never from the caller
   of a port operation. */
class InputSink {
public:
    virtual ~InputSink() {}
    virtual void bytes(const uint8_t *p, size_t n) = 0;
    /* the backend lost `count` messages before it could deliver them */
    virtual void overrun(unsigned count) = 0;
};

class OutPort {
public:
    virtual ~OutPort() {}
    /* Sends the bytes, synchronously: on return they have left.  Bytes may
       end in the middle of a message; the next call goes on from there.
       Returns false when the port failed (for instance it vanished). */
    virtual bool send(const uint8_t *p, size_t n) = 0;
};

class InPort {
public:
    virtual ~InPort() {}
    /* Nothing reaches the sink before start(). */
    virtual bool start() = 0;
    /* Stops delivery; when it returns, no sink call is running or will run. */
    virtual void stop() = 0;
};

class Backend {
public:
    virtual ~Backend() {}
    /* Takes a fresh list of the ports; counts, names and opens refer to it. */
    virtual void snapshot() = 0;
    virtual unsigned outCount() = 0;
    virtual unsigned inCount() = 0;
    /* Port name, at most 31 characters and a terminating zero. */
    virtual bool outName(unsigned i, char name[32]) = 0;
    virtual bool inName(unsigned i, char name[32]) = 0;
    /* nullptr when the port cannot be opened */
    virtual OutPort *openOut(unsigned i) = 0;
    virtual InPort *openIn(unsigned i, InputSink *sink) = 0;
    /* Where the port lives, for the port lists (midiPortAddress); false
       when this backend's ports have no address. */
    virtual bool address(bool /*out*/, unsigned /*i*/, VtPortAddress * /*addr*/) { return false; }
};

} // namespace vt

#endif
