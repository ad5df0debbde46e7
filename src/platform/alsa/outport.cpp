/*
 * An open output: a port of this client connected to the chosen port.
 *
 * The bytes go through the port's encoder and leave as events addressed
 * straight to the chosen port, delivered when the write returns (no queue:
 * the kernel hands a direct event to its receiver inside the write).
 * Addressing the port itself rather than "the subscribers" is what makes a
 * vanished port an error instead of a silent send to nobody.  Before each
 * send the port is asked whether its port is still the one chosen: a
 * client's number is given to the next program that starts, and what is
 * typed never goes to that one.
 *
 * The offered port (virtual.cpp) is the exception: it sends to whoever
 * subscribed to it, which may be nobody.
 */
#include "internal.h"

#include <errno.h>
#include <time.h>

#include <new>

namespace vt {
namespace alsa {

namespace {

const long kStallMs = 5000; /* a receiver that takes nothing this long has failed */
const int kCellBytes = 28;  /* what one pool cell holds (an event's size) */

long nowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

class SeqOut : public vt::OutPort {
public:
    SeqOut(SeqBackend *b, snd_seq_t *seq, int port, const vt::seq::PortDesc &dest, bool offered)
        : b_(b), seq_(seq), port_(port), offered_(offered), mark_(b->exitMark())
    {
        dest_.client = (unsigned char)dest.client;
        dest_.port = (unsigned char)dest.port;
        vt::seq::portName(dest.name, name_);
    }
    ~SeqOut() override;
    bool ok() const { return enc_.ok(); }
    bool send(const uint8_t *p, size_t n) override;
    bool gone() override
    {
        if (offered_)
            return false;
        if (!gone_)
            gone_ = b_->goneSince(mark_, dest_.client, dest_.port, name_);
        return gone_;
    }

private:
    static bool emit(void *ctx, const snd_seq_event_t *ev);
    bool flush();

    SeqBackend *b_;
    snd_seq_t *seq_;
    int port_;
    bool offered_;
    uint64_t mark_; /* the exits before the open */
    bool gone_ = false;
    char name_[32];
    snd_seq_addr_t dest_;
    vt::seq::EventEncoder enc_;
};

SeqOut::~SeqOut()
{
    snd_seq_drop_output(seq_);
    if (offered_)
        return; /* the port stays offered */
    snd_seq_disconnect_to(seq_, port_, dest_.client, dest_.port);
    snd_seq_delete_simple_port(seq_, port_);
}

bool SeqOut::emit(void *ctx, const snd_seq_event_t *ev)
{
    SeqOut *o = (SeqOut *)ctx;
    snd_seq_event_t e = *ev;
    snd_seq_ev_set_source(&e, o->port_);
    if (o->offered_)
        snd_seq_ev_set_subs(&e);
    else
        snd_seq_ev_set_dest(&e, o->dest_.client, o->dest_.port);
    snd_seq_ev_set_direct(&e);
    for (;;) {
        int r = snd_seq_event_output_buffer(o->seq_, &e);
        if (r >= 0)
            return true;
        if (r != -EAGAIN || !o->flush())
            return false; /* -EAGAIN: the buffer is full, write it out first */
    }
}

/* Writes out everything buffered.
 *
 * A receiver's pool that fills up is the kernel's undoing of a burst: it
 * refuses the event (-EAGAIN, -ENOMEM), counts an overflow, and at the
 * receiver's next read throws away all that waits there.  So first, while
 * this client has an input open (what it sends may come back to it, as
 * through "Midi Through", the common test set-up), the write waits until
 * the reader has made room for it in this client's own pool, for at most
 * kStallMs.  A refusal all the same is waited out and the event sent again,
 * as a cable waits for its bytes to leave, as long as the receiver keeps
 * taking some.  Any other refusal (the port or its client is gone) is a
 * failure. */
bool SeqOut::flush()
{
    long since = nowMs();
    int left = snd_seq_event_output_pending(seq_);
    while (left > 0 && !b_->inputRoom(left / kCellBytes + 1) && nowMs() - since <= kStallMs) {
        struct timespec ts = {0, 200 * 1000};
        nanosleep(&ts, nullptr);
    }
    since = nowMs();
    for (;;) {
        int r = snd_seq_drain_output(seq_);
        if (r == 0)
            return true;
        if (r > 0 || r == -EAGAIN || r == -ENOMEM) {
            int now = snd_seq_event_output_pending(seq_);
            if (now < left) {
                left = now;
                since = nowMs();
            } else if (nowMs() - since > kStallMs) {
                return false;
            }
            struct timespec ts = {0, 200 * 1000};
            nanosleep(&ts, nullptr);
            continue;
        }
        return false;
    }
}

bool SeqOut::send(const uint8_t *p, size_t n)
{
    if (enc_.encode(p, n, emit, this) && flush())
        return true;
    /* nothing half-sent stays behind for the next call */
    snd_seq_drop_output(seq_);
    enc_.reset();
    return false;
}

} // namespace

/* The port of the snapshot, if it is still there under its name: its
   address may have been given to another program since. */
vt::OutPort *SeqBackend::openOut(unsigned i)
{
    if (i >= nOut_)
        return nullptr;
    vt::seq::PortDesc now = outs_[i];
    if (!stillThere(vt::seq::kOutput, outs_[i], &now))
        return nullptr;
    return openOutAt(now);
}

vt::OutPort *SeqBackend::openOutAt(const vt::seq::PortDesc &d)
{
    watch();
    if (offered(d.client, d.port)) {
        SeqOut *o = new (std::nothrow) SeqOut(this, seq_, virt_, d, true);
        if (o && o->ok())
            return o;
        delete o;
        return nullptr;
    }
    int port = newPort("Voltanis Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    if (port < 0)
        return nullptr;
    /* The connection is what opens a hardware port's device in the kernel,
       and it shows in every connection list. */
    if (snd_seq_connect_to(seq_, port, d.client, d.port) < 0) {
        snd_seq_delete_simple_port(seq_, port);
        return nullptr;
    }
    SeqOut *o = new (std::nothrow) SeqOut(this, seq_, port, d, false);
    if (o && o->ok())
        return o;
    if (o) {
        delete o; /* disconnects and deletes the port */
    } else {
        snd_seq_disconnect_to(seq_, port, d.client, d.port);
        snd_seq_delete_simple_port(seq_, port);
    }
    return nullptr;
}

} // namespace alsa
} // namespace vt
