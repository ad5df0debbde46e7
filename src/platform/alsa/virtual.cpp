/*
 * The port other programs connect to (--virtual): a port of this client
 * that anyone may subscribe to, both ways.  It is listed last in each
 * direction; opened as an output it sends to its subscribers, opened as
 * an input it takes what is sent to it (outport.cpp, inport.cpp).
 *
 * And what the System's announcements say (reader.cpp hands them here):
 * ports and clients that exit go to the exit log, which the open ports
 * ask; a connection to or from the offered port is news for a line.
 * Anything else only tells the main thread to look at its open ports.
 */
#include "alsa.h"
#include "internal.h"

#include <stdio.h>
#include <string.h>

namespace vt {
namespace alsa {

bool SeqBackend::offer(const char *name)
{
    if (virt_ >= 0)
        return true;
    int port = snd_seq_create_simple_port(seq_, name,
        SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_READ |
            SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_DUPLEX,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0)
        return false;
    snprintf(virtName_, sizeof virtName_, "%s", name);
    virt_ = port;
    /* connections are told from now on */
    watch();
    return true;
}

void SeqBackend::announced(const snd_seq_event_t *ev)
{
    switch (ev->type) {
    case SND_SEQ_EVENT_PORT_EXIT:
        exits_.record(ev->data.addr.client, ev->data.addr.port);
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        exits_.record(ev->data.addr.client, -1);
        break;
    case SND_SEQ_EVENT_PORT_SUBSCRIBED:
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
        const snd_seq_connect_t &c = ev->data.connect;
        bool toUs = offered(c.dest.client, c.dest.port);
        bool fromUs = offered(c.sender.client, c.sender.port);
        if (toUs == fromUs)
            break; /* not the offered port's, or its own loop */
        /* told once, however many ways it comes */
        if (ev->type == lastType_ && memcmp(&c, &lastConnect_, sizeof c) == 0)
            break;
        lastType_ = ev->type;
        lastConnect_ = c;
        const snd_seq_addr_t &other = toUs ? c.sender : c.dest;
        VtPortEvent e;
        memset(&e, 0, sizeof e);
        e.kind = ev->type == SND_SEQ_EVENT_PORT_SUBSCRIBED ? VT_PORT_LINKED : VT_PORT_UNLINKED;
        e.isOut = fromUs;
        e.hasAddress = 1;
        e.at.client = other.client;
        e.at.port = other.port;
        snd_seq_port_info_t *pi;
        snd_seq_port_info_alloca(&pi);
        if (snd_seq_get_any_port_info(seq_, other.client, other.port, pi) == 0) {
            const char *n = snd_seq_port_info_get_name(pi);
            vt::seq::portName(n ? n : "", e.name);
        }
        std::lock_guard<std::mutex> lk(newsMx_);
        if (newsN_ < kNews)
            news_[newsN_++] = e;
        else
            newsLost_++;
        break;
    }
    default:
        break;
    }
    vt::portsChanged();
}

int SeqBackend::takeNews(VtPortEvent *ev, int max)
{
    std::lock_guard<std::mutex> lk(newsMx_);
    int n = newsN_ < max ? newsN_ : max;
    memcpy(ev, news_, sizeof *ev * (size_t)n);
    memmove(news_, news_ + n, sizeof *news_ * (size_t)(newsN_ - n));
    newsN_ -= n;
    return n;
}

} // namespace alsa
} // namespace vt

bool vtAlsaOffer(const char *name)
{
    vt::alsa::SeqBackend *b = static_cast<vt::alsa::SeqBackend *>(vtAlsaBackend());
    return b && b->offer(name);
}
