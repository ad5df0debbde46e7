#include "seqlogic.h"

#include <string.h>

#include <algorithm>

namespace vt {
namespace seq {

int findByName(const PortDesc *list, unsigned n, const char *name, unsigned *alike)
{
    int first = -1;
    *alike = 0;
    for (unsigned i = 0; i < n; i++) {
        char shown[32];
        portName(list[i].name, shown);
        if (strcmp(shown, name) != 0)
            continue;
        if (first < 0)
            first = (int)i;
        ++*alike;
    }
    return first;
}

void ExitLog::record(int client, int port)
{
    std::lock_guard<std::mutex> lk(mx_);
    kept_[count_ % kKept] = Exit{client, port};
    count_++;
}

uint64_t ExitLog::mark()
{
    std::lock_guard<std::mutex> lk(mx_);
    return count_;
}

bool ExitLog::goneSince(uint64_t mark, int client, int port)
{
    std::lock_guard<std::mutex> lk(mx_);
    if (count_ - mark > kKept)
        return true;
    for (uint64_t i = mark; i < count_; i++) {
        const Exit &e = kept_[i % kKept];
        if (e.client == client && (e.port < 0 || e.port == port))
            return true;
    }
    return false;
}

unsigned pickPorts(const PortDesc *all, unsigned n, int self, Direction dir, PortDesc *out, unsigned max)
{
    const unsigned need = dir == kOutput ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                         : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    unsigned k = 0;
    for (unsigned i = 0; i < n; i++) {
        const PortDesc &d = all[i];
        if (d.client == SND_SEQ_CLIENT_SYSTEM || d.client == self)
            continue;
        if ((d.caps & need) != need || (d.caps & SND_SEQ_PORT_CAP_NO_EXPORT))
            continue;
        /* Keep the lowest addresses when there are more ports than room:
           the list is then the same at every count, whatever order the
           sequencer reported them in. */
        if (k == max) {
            PortDesc *last = std::max_element(out, out + k, [](const PortDesc &a, const PortDesc &b) {
                return a.client != b.client ? a.client < b.client : a.port < b.port;
            });
            if (k == 0 || last->client < d.client || (last->client == d.client && last->port < d.port))
                continue;
            *last = d;
        } else {
            out[k++] = d;
        }
    }
    std::sort(out, out + k, [](const PortDesc &a, const PortDesc &b) {
        return a.client != b.client ? a.client < b.client : a.port < b.port;
    });
    return k;
}

void portName(const char *seqName, char name[32])
{
    size_t n = strnlen(seqName, 31);
    if (n == 31 && seqName[31] != '\0') {
        /* Cut inside a multibyte character?  Step back over its
           continuation bytes and its lead byte unless it is complete. */
        size_t lead = n;
        while (lead > 0 && ((uint8_t)seqName[lead - 1] & 0xC0) == 0x80)
            lead--;
        if (lead > 0 && ((uint8_t)seqName[lead - 1] & 0x80)) {
            uint8_t c = (uint8_t)seqName[lead - 1];
            size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
            if (lead - 1 + len > n)
                n = lead - 1;
        }
    }
    memcpy(name, seqName, n);
    name[n] = '\0';
}

EventDecoder::EventDecoder() : dev_(nullptr)
{
    if (snd_midi_event_new(16, &dev_) < 0)
        dev_ = nullptr;
    else
        snd_midi_event_no_status(dev_, 1);
}

EventDecoder::~EventDecoder()
{
    if (dev_)
        snd_midi_event_free(dev_);
}

size_t EventDecoder::deliver(const snd_seq_event_t *ev, InputSink *sink)
{
    if (ev->type == SND_SEQ_EVENT_SYSEX) {
        /* A chunk of a SysEx, of any length: its bytes as they are. */
        if ((ev->flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE || !ev->data.ext.ptr ||
            ev->data.ext.len == 0)
            return 0;
        sink->bytes((const uint8_t *)ev->data.ext.ptr, ev->data.ext.len);
        return ev->data.ext.len;
    }
    if (!dev_)
        return 0;
    /* Up to four messages: a 14-bit controller or a parameter number
       event unfolds into several controller messages. */
    unsigned char buf[16];
    long n = snd_midi_event_decode(dev_, buf, sizeof buf, ev);
    if (n <= 0)
        return 0;
    sink->bytes(buf, (size_t)n);
    return (size_t)n;
}

EventEncoder::EventEncoder() : dev_(nullptr), sysex_(false), held_(0), status_(0), common_(0)
{
    if (snd_midi_event_new(kChunk, &dev_) < 0)
        dev_ = nullptr;
}

EventEncoder::~EventEncoder()
{
    if (dev_)
        snd_midi_event_free(dev_);
}

void EventEncoder::reset()
{
    if (dev_)
        snd_midi_event_reset_encode(dev_);
    sysex_ = false;
    held_ = 0;
    status_ = 0;
    common_ = 0;
}

bool EventEncoder::emitHeld(Emit emit, void *ctx)
{
    if (held_ == 0)
        return true;
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_sysex(&ev, held_, copy_);
    held_ = 0;
    return emit(ctx, &ev);
}

bool EventEncoder::encode(const uint8_t *p, size_t n, Emit emit, void *ctx)
{
    if (!dev_)
        return false;
    for (size_t i = 0; i < n; i++) {
        uint8_t b = p[i];
        bool ok = true;
        if (b >= 0xF8) {
            /* Real time leaves at once; what a SysEx has gathered so far
               leaves before it, so that the receiver sees the bytes in the
               order they were sent. */
            ok = emitHeld(emit, ctx) && emitEncoded(b, emit, ctx);
        } else if (sysex_) {
            if (b < 0x80 || b == 0xF7) {
                copy_[held_++] = b;
                if (b == 0xF7)
                    sysex_ = false;
                if (b == 0xF7 || held_ == kChunk)
                    ok = emitHeld(emit, ctx);
            } else {
                /* A status byte cuts the SysEx short, as on a cable: the
                   receiver sees it end without F7; the status byte starts
                   its own message (F0 a new SysEx). */
                sysex_ = false;
                ok = emitHeld(emit, ctx) && (b == 0xF0 ? beginSysex() : encodeByte(b, emit, ctx));
            }
        } else if (b == 0xF0) {
            beginSysex();
        } else {
            ok = encodeByte(b, emit, ctx);
        }
        if (!ok) {
            reset();
            return false;
        }
    }
    return true;
}

bool EventEncoder::beginSysex()
{
    /* SysEx goes in chunks of its own, never through the encoder, which
       would hold it back behind real time bytes.  It cancels running
       status. */
    sysex_ = true;
    status_ = 0;
    common_ = 0;
    snd_midi_event_reset_encode(dev_);
    copy_[0] = 0xF0;
    held_ = 1;
    return true;
}

bool EventEncoder::emitEncoded(uint8_t b, Emit emit, void *ctx)
{
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    if (snd_midi_event_encode_byte(dev_, b, &ev) <= 0 || ev.type == SND_SEQ_EVENT_NONE)
        return true; /* not complete yet, or nothing the sequencer carries (F4, F5, F9, FD) */
    return emit(ctx, &ev);
}

bool EventEncoder::encodeByte(uint8_t b, Emit emit, void *ctx)
{
    if (b & 0x80) {
        if (b < 0xF0) {
            status_ = b;
            common_ = 0;
        } else {
            /* system common cancels running status */
            status_ = 0;
            common_ = vtMidiDataBytes(b);
        }
    } else if (status_ == 0 && common_ == 0) {
        /* A data byte that belongs to no message goes nowhere: fed to the
           encoder after a reset it would become a Note Off. */
        return true;
    } else if (common_ > 0) {
        common_--;
    }
    return emitEncoded(b, emit, ctx);
}

InputRouter::Slot *InputRouter::find(int port)
{
    for (Slot &s : slots_)
        if (s.port == port && s.sink)
            return &s;
    return nullptr;
}

bool InputRouter::add(int port, InputSink *sink)
{
    std::lock_guard<std::mutex> lk(mx_);
    if (!sink || port < 0 || find(port))
        return false;
    for (Slot &s : slots_) {
        if (!s.sink) {
            if (!s.dec.ok())
                return false;
            s.port = port;
            s.sink = sink;
            s.started = false;
            return true;
        }
    }
    return false;
}

void InputRouter::remove(int port)
{
    std::lock_guard<std::mutex> lk(mx_);
    if (Slot *s = find(port)) {
        s->port = -1;
        s->sink = nullptr;
        s->started = false;
    }
}

bool InputRouter::start(int port)
{
    std::lock_guard<std::mutex> lk(mx_);
    Slot *s = find(port);
    if (!s)
        return false;
    s->started = true;
    return true;
}

void InputRouter::stop(int port)
{
    std::lock_guard<std::mutex> lk(mx_);
    if (Slot *s = find(port))
        s->started = false;
}

unsigned InputRouter::count()
{
    std::lock_guard<std::mutex> lk(mx_);
    unsigned k = 0;
    for (Slot &s : slots_)
        k += s.sink != nullptr;
    return k;
}

void InputRouter::route(const snd_seq_event_t *ev)
{
    /* The lock is held while the sink runs: that is what lets stop()
       promise that no sink call is running once it returns. */
    std::lock_guard<std::mutex> lk(mx_);
    Slot *s = find(ev->dest.port);
    if (s && s->started)
        s->dec.deliver(ev, s->sink);
}

void InputRouter::overrun(unsigned times)
{
    std::lock_guard<std::mutex> lk(mx_);
    for (Slot &s : slots_)
        if (s.sink && s.started)
            s.sink->overrun(times);
}

} // namespace seq
} // namespace vt
