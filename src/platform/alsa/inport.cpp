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
    SeqIn(SeqBackend *b, int port, const vt::seq::PortDesc &src) : b_(b), port_(port), src_(src) {}
    ~SeqIn() override;
    bool start() override;
    void stop() override;

private:
    SeqBackend *b_;
    int port_;
    vt::seq::PortDesc src_;
};

SeqIn::~SeqIn()
{
    b_->router().remove(port_); /* from here on no sink call */
    snd_seq_disconnect_from(b_->seq(), port_, src_.client, src_.port);
    snd_seq_delete_simple_port(b_->seq(), port_);
    b_->readerIdle();
}

bool SeqIn::start() { return b_->router().start(port_); }

void SeqIn::stop() { b_->router().stop(port_); }

} // namespace

vt::InPort *SeqBackend::openIn(unsigned i, vt::InputSink *sink)
{
    if (i >= nIn_ || !sink)
        return nullptr;
    int port = newPort("Voltanis In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    if (port < 0)
        return nullptr;
    if (!router_.add(port, sink)) {
        snd_seq_delete_simple_port(seq_, port);
        return nullptr;
    }
    SeqIn *in = nullptr;
    if (readerUp() && snd_seq_connect_from(seq_, port, ins_[i].client, ins_[i].port) == 0)
        in = new (std::nothrow) SeqIn(this, port, ins_[i]);
    if (!in) {
        router_.remove(port);
        snd_seq_disconnect_from(seq_, port, ins_[i].client, ins_[i].port);
        snd_seq_delete_simple_port(seq_, port);
        readerIdle();
    }
    return in;
}

} // namespace alsa
} // namespace vt
