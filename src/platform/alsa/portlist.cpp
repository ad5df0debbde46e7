/*
 * Which ports the sequencer has: a snapshot of every client's ports, the
 * ones offered per direction, their names and addresses.  The ports'
 * names and addresses come from the snapshot, so they hold until the next
 * one whatever the sequencer does meanwhile.
 */
#include "internal.h"

#include <string.h>

namespace vt {
namespace alsa {

void SeqBackend::snapshot()
{
    unsigned n = 0;
    snd_seq_client_info_t *ci;
    snd_seq_port_info_t *pi;
    snd_seq_client_info_alloca(&ci);
    snd_seq_port_info_alloca(&pi);
    snd_seq_client_info_set_client(ci, -1);
    while (n < kMaxSeen && snd_seq_query_next_client(seq_, ci) >= 0) {
        int client = snd_seq_client_info_get_client(ci);
        snd_seq_port_info_set_client(pi, client);
        snd_seq_port_info_set_port(pi, -1);
        while (n < kMaxSeen && snd_seq_query_next_port(seq_, pi) >= 0) {
            vt::seq::PortDesc &d = seen_[n++];
            d.client = client;
            d.port = snd_seq_port_info_get_port(pi);
            d.caps = snd_seq_port_info_get_capability(pi);
            const char *name = snd_seq_port_info_get_name(pi);
            strncpy(d.name, name ? name : "", sizeof d.name - 1);
            d.name[sizeof d.name - 1] = '\0';
        }
    }
    nOut_ = vt::seq::pickPorts(seen_, n, self_, vt::seq::kOutput, outs_, kMaxList);
    nIn_ = vt::seq::pickPorts(seen_, n, self_, vt::seq::kInput, ins_, kMaxList);
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
