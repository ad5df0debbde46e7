/*
 * What the sequencer backend decides on its own, kept apart from the
 * sequencer handle so that it runs (and is tested) on plain data: which
 * ports are offered and under what name, how bytes become sequencer events
 * and back, and which open input port an arriving event goes to.
 */
#ifndef VOLTANIS_PLATFORM_ALSA_SEQLOGIC_H
#define VOLTANIS_PLATFORM_ALSA_SEQLOGIC_H

#include "../common/backend.h"

#include <alsa/asoundlib.h>

#include <stddef.h>
#include <stdint.h>

#include <mutex>

namespace vt {
namespace seq {

/* One port of the sequencer as a snapshot reads it. */
struct PortDesc {
    int client;
    int port;
    unsigned caps; /* SND_SEQ_PORT_CAP_* */
    char name[64]; /* the sequencer's own port name, zero-terminated */
};

enum Direction { kOutput, kInput };

/* The ports offered for one direction, copied to `out` (at most `max`),
   ordered by client number, then port number: those of other clients that
   can be written to (output) or read from (input) and subscribed to.  The
   System client, `self` (this program's client) and ports not meant for
   routing (SND_SEQ_PORT_CAP_NO_EXPORT) are left out.  Returns the count. */
unsigned pickPorts(const PortDesc *all, unsigned n, int self, Direction dir, PortDesc *out, unsigned max);

/* The name a port goes by in the lists and in presets: the sequencer port
   name cut to 31 bytes, and cut back further rather than end in the middle
   of a UTF-8 character.  It carries no client number, which changes from
   one start to the next, so a preset finds the port again. */
void portName(const char *seqName, char name[32]);

/* The port a vanished one is followed to: the first in `list` (ordered
   by address, as pickPorts gives it) whose name (portName) is `name`;
   *alike says how many have it.  -1 when none. */
int findByName(const PortDesc *list, unsigned n, const char *name, unsigned *alike);

/* The ports and clients that went away, as the announcements tell, for
   the open ports to ask whether theirs is among them since they were
   opened: a client's number is given to the next client that starts, so
   a port that is there now at the same address may be another.  Locked:
   the reader records, the main thread asks. */
class ExitLog {
public:
    static constexpr unsigned kKept = 64;
    /* port -1: the whole client */
    void record(int client, int port);
    /* What has been recorded so far, to ask about later. */
    uint64_t mark();
    /* Whether client:port (or its client) went away after `mark`.  When
       more went than are kept, any port counts as gone: it is then looked
       for again by name, which finds it if it is there. */
    bool goneSince(uint64_t mark, int client, int port);

private:
    struct Exit {
        int client;
        int port;
    };
    std::mutex mx_;
    uint64_t count_ = 0;
    Exit kept_[kKept] = {};
};

/* Sequencer events back to the bytes a cable would carry: status always
   present (no running status), SysEx events passed through as they come,
   in chunks that the receiver joins. */
class EventDecoder {
public:
    EventDecoder();
    ~EventDecoder();
    EventDecoder(const EventDecoder &) = delete;
    EventDecoder &operator=(const EventDecoder &) = delete;

    bool ok() const { return dev_ != nullptr; }
    /* Hands the bytes of `ev` to the sink; returns how many.  Events that
       carry no MIDI message (announcements, echoes) give 0. */
    size_t deliver(const snd_seq_event_t *ev, InputSink *sink);

private:
    snd_midi_event_t *dev_;
};

/* Bytes as a cable carries them to sequencer events.  One encoder per open
   output port keeps its state from one call to the next, so that a
   message split between two transmissions leaves whole, and running status
   goes on across them.  Channel, system common and real time messages go
   through libasound's encoder; SysEx leaves in chunks, each a SysEx event,
   the first starting with F0 and the last ending with F7. */
class EventEncoder {
public:
    /* Takes one complete event (its SysEx data valid only during the call);
       false stops the encoding. */
    typedef bool (*Emit)(void *ctx, const snd_seq_event_t *ev);
    /* SysEx leaves in events of at most this many bytes: small enough for
       a receiver with the sequencer's default pool. */
    static constexpr size_t kChunk = 256;

    EventEncoder();
    ~EventEncoder();
    EventEncoder(const EventEncoder &) = delete;
    EventEncoder &operator=(const EventEncoder &) = delete;

    bool ok() const { return dev_ != nullptr; }
    /* Forgets any message in progress. */
    void reset();
    /* Emits every event the bytes complete, in order.  Returns false when
       an emit failed; the encoder is then reset. */
    bool encode(const uint8_t *p, size_t n, Emit emit, void *ctx);

private:
    bool emitHeld(Emit emit, void *ctx);
    bool beginSysex();
    bool emitEncoded(uint8_t b, Emit emit, void *ctx);
    bool encodeByte(uint8_t b, Emit emit, void *ctx);

    snd_midi_event_t *dev_;
    bool sysex_;     /* inside a SysEx */
    size_t held_;    /* SysEx bytes gathered in copy_, not yet emitted */
    uint8_t status_; /* running channel status, 0 none */
    uint8_t common_; /* data bytes a system common message still takes */
    uint8_t copy_[kChunk];
};

/* The open input ports of the client: every event read from the sequencer
   goes to the port it is addressed to, decoded, while that port is
   started.  route() runs on the reader thread, the rest on the caller's;
   once stop() or remove() returned, that port's sink is not running and is
   not called again. */
class InputRouter {
public:
    static constexpr unsigned kPorts = 12; /* the inputs of one merged input and the offered port */

    /* false when all places are taken or the decoder cannot be made */
    bool add(int port, InputSink *sink);
    void remove(int port);
    bool start(int port);
    void stop(int port);
    unsigned count();

    void route(const snd_seq_event_t *ev);
    /* The sequencer's input queue overflowed `times` times (and was
       emptied): every started port is told. */
    void overrun(unsigned times);

private:
    struct Slot {
        int port = -1;
        InputSink *sink = nullptr;
        bool started = false;
        EventDecoder dec;
    };
    Slot *find(int port);

    std::mutex mx_;
    Slot slots_[kPorts];
};

} // namespace seq
} // namespace vt

#endif
