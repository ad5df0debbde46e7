/*
 * An open input: a port of this client that the chosen port is connected
 * to.  Every open input shares the client's one reader (reader.cpp); the
 * router hands each event read to the sink of the port it is addressed
 * to, while that port is started.
 */
#include "internal.h"

#include <new>

namespace vt {
namespace alsa {

namespace {

class SeqIn : public vt::InPort {
public:
    SeqIn(SeqBackend *b, int port, const vt::seq::PortDesc &src, bool offered)
        : b_(b), port_(port), src_(src), offered_(offered), mark_(b->exitMark())
    {
        vt::seq::portName(src.name, name_);
    }
    ~SeqIn() override;
    bool start() override;
    void stop() override;
    bool gone() override
    {
        if (offered_)
            return false;
        if (!gone_)
            gone_ = b_->goneSince(mark_, src_.client, src_.port, name_);
        return gone_;
    }

private:
    SeqBackend *b_;
    int port_;
    vt::seq::PortDesc src_;
    bool offered_;
    uint64_t mark_;
    bool gone_ = false;
    char name_[32];
};

SeqIn::~SeqIn()
{
    b_->router().remove(port_); /* from here on no sink call */
    if (!offered_) {
        snd_seq_disconnect_from(b_->seq(), port_, src_.client, src_.port);
        snd_seq_delete_simple_port(b_->seq(), port_);
    }
    b_->readerIdle();
}

bool SeqIn::start() { return b_->router().start(port_); }

void SeqIn::stop() { b_->router().stop(port_); }

} // namespace

vt::InPort *SeqBackend::openIn(unsigned i, vt::InputSink *sink)
{
    if (i >= nIn_ || !sink)
        return nullptr;
    vt::seq::PortDesc now = ins_[i];
    if (!stillThere(vt::seq::kInput, ins_[i], &now))
        return nullptr;
    return openInAt(now, sink);
}

/* The offered port takes what other programs send to it: it is the
   router's place, with no connection of its own. */
vt::InPort *SeqBackend::openInAt(const vt::seq::PortDesc &d, vt::InputSink *sink)
{
    watch();
    if (offered(d.client, d.port)) {
        if (!router_.add(virt_, sink))
            return nullptr;
        SeqIn *in = nullptr;
        if (readerUp())
            in = new (std::nothrow) SeqIn(this, virt_, d, true);
        if (!in) {
            router_.remove(virt_);
            readerIdle();
        }
        return in;
    }
    int port = newPort("Voltanis In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    if (port < 0)
        return nullptr;
    if (!router_.add(port, sink)) {
        snd_seq_delete_simple_port(seq_, port);
        return nullptr;
    }
    SeqIn *in = nullptr;
    if (readerUp() && snd_seq_connect_from(seq_, port, d.client, d.port) == 0)
        in = new (std::nothrow) SeqIn(this, port, d, false);
    if (!in) {
        router_.remove(port);
        snd_seq_disconnect_from(seq_, port, d.client, d.port);
        snd_seq_delete_simple_port(seq_, port);
        readerIdle();
    }
    return in;
}

} // namespace alsa
} // namespace vt
