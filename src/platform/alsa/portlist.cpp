/*
 * Which ports the sequencer has: a snapshot of every client's ports, the
 * ones offered per direction, their names and addresses.  The ports'
 * names and addresses come from the snapshot, so they hold until the next
 * one whatever the sequencer does meanwhile.
 */
#include "internal.h"

#include <stdio.h>
#include <string.h>

namespace vt {
namespace alsa {

unsigned SeqBackend::scan(vt::seq::PortDesc *seen, unsigned max)
{
    unsigned n = 0;
    snd_seq_client_info_t *ci;
    snd_seq_port_info_t *pi;
    snd_seq_client_info_alloca(&ci);
    snd_seq_port_info_alloca(&pi);
    snd_seq_client_info_set_client(ci, -1);
    while (n < max && snd_seq_query_next_client(seq_, ci) >= 0) {
        int client = snd_seq_client_info_get_client(ci);
        snd_seq_port_info_set_client(pi, client);
        snd_seq_port_info_set_port(pi, -1);
        while (n < max && snd_seq_query_next_port(seq_, pi) >= 0) {
            vt::seq::PortDesc &d = seen[n++];
            d.client = client;
            d.port = snd_seq_port_info_get_port(pi);
            d.caps = snd_seq_port_info_get_capability(pi);
            const char *name = snd_seq_port_info_get_name(pi);
            strncpy(d.name, name ? name : "", sizeof d.name - 1);
            d.name[sizeof d.name - 1] = '\0';
        }
    }
    return n;
}

void SeqBackend::snapshot()
{
    unsigned n = scan(seen_, kMaxSeen);
    nOut_ = vt::seq::pickPorts(seen_, n, self_, vt::seq::kOutput, outs_, kMaxList);
    nIn_ = vt::seq::pickPorts(seen_, n, self_, vt::seq::kInput, ins_, kMaxList);
    appendOffered();
}

/* The offered port ends both lists (the loopback comes after it). */
void SeqBackend::appendOffered()
{
    if (virt_ < 0)
        return;
    vt::seq::PortDesc d;
    memset(&d, 0, sizeof d);
    d.client = self_;
    d.port = virt_;
    d.caps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE;
    snprintf(d.name, sizeof d.name, "%s", virtName_);
    if (nOut_ < kMaxList)
        outs_[nOut_++] = d;
    if (nIn_ < kMaxList)
        ins_[nIn_++] = d;
}

/* The first port of the direction named `name` now, by a fresh look that
   leaves the snapshot (and so the numbering) alone. */
bool SeqBackend::findNow(vt::seq::Direction dir, const char *name, vt::seq::PortDesc *found, unsigned *alike)
{
    unsigned n = scan(scanSeen_, kMaxSeen);
    unsigned k = vt::seq::pickPorts(scanSeen_, n, self_, dir, scanList_, kMaxList);
    int at = vt::seq::findByName(scanList_, k, name, alike);
    if (at < 0)
        return false;
    *found = scanList_[at];
    return true;
}

bool SeqBackend::stillThere(vt::seq::Direction dir, const vt::seq::PortDesc &d, vt::seq::PortDesc *now)
{
    if (d.client == self_)
        return true; /* the offered port */
    char want[32];
    vt::seq::portName(d.name, want);
    snd_seq_port_info_t *pi;
    snd_seq_port_info_alloca(&pi);
    if (snd_seq_get_any_port_info(seq_, d.client, d.port, pi) == 0) {
        char have[32];
        const char *seqName = snd_seq_port_info_get_name(pi);
        vt::seq::portName(seqName ? seqName : "", have);
        if (strcmp(have, want) == 0)
            return true;
    }
    unsigned alike;
    return findNow(dir, want, now, &alike);
}

bool SeqBackend::goneSince(uint64_t mark, int client, int port, const char *name)
{
    if (exits_.goneSince(mark, client, port))
        return true;
    snd_seq_port_info_t *pi;
    snd_seq_port_info_alloca(&pi);
    if (snd_seq_get_any_port_info(seq_, client, port, pi) < 0)
        return true;
    char have[32];
    const char *seqName = snd_seq_port_info_get_name(pi);
    vt::seq::portName(seqName ? seqName : "", have);
    return strcmp(have, name) != 0;
}

namespace {

void foundAt(const vt::seq::PortDesc &d, unsigned alike, vt::FoundPort *where)
{
    if (!where)
        return;
    where->hasAddress = true;
    where->at.client = d.client;
    where->at.port = d.port;
    where->at.clientName[0] = '\0';
    where->alike = alike;
}

} // namespace

vt::OutPort *SeqBackend::openOutNamed(const char *name, vt::FoundPort *where)
{
    vt::seq::PortDesc d;
    unsigned alike;
    if (!findNow(vt::seq::kOutput, name, &d, &alike))
        return nullptr;
    vt::OutPort *o = openOutAt(d);
    if (o)
        foundAt(d, alike, where);
    return o;
}

vt::InPort *SeqBackend::openInNamed(const char *name, vt::InputSink *sink, vt::FoundPort *where)
{
    vt::seq::PortDesc d;
    unsigned alike;
    if (!findNow(vt::seq::kInput, name, &d, &alike))
        return nullptr;
    vt::InPort *in = openInAt(d, sink);
    if (in)
        foundAt(d, alike, where);
    return in;
}

bool SeqBackend::outName(unsigned i, char name[32])
{
    if (i >= nOut_)
        return false;
    vt::seq::portName(outs_[i].name, name);
    return true;
}

bool SeqBackend::inName(unsigned i, char name[32])
{
    if (i >= nIn_)
        return false;
    vt::seq::portName(ins_[i].name, name);
    return true;
}

/* The address is the snapshot's, as the name is; the client's name is only
   shown, so it is asked for now (empty when the client has gone since). */
bool SeqBackend::address(bool out, unsigned i, VtPortAddress *addr)
{
    if (i >= (out ? nOut_ : nIn_))
        return false;
    const vt::seq::PortDesc &d = out ? outs_[i] : ins_[i];
    addr->client = d.client;
    addr->port = d.port;
    addr->clientName[0] = '\0';
    snd_seq_client_info_t *ci;
    snd_seq_client_info_alloca(&ci);
    if (snd_seq_get_any_client_info(seq_, d.client, ci) == 0) {
        const char *name = snd_seq_client_info_get_name(ci);
        strncpy(addr->clientName, name ? name : "", sizeof addr->clientName - 1);
        addr->clientName[sizeof addr->clientName - 1] = '\0';
    }
    return true;
}

} // namespace alsa
} // namespace vt
