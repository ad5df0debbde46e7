/*
 * Checks of the sequencer backend against a real kernel sequencer (run in
 * the test machine by inside.sh).  A second client of this process, the
 * "peer", plays the other programs: it makes ports appear and vanish,
 * receives what the backend sends and sends to it.  Ends with the line
 * "seqcheck: N passed, N failed"; exit status 1 when any failed.
 *
 * "seqcheck --peer NAME..." is a helper for the program's own tests
 * instead: a client with a read/write port for each NAME, which stay until
 * it is killed (a port that vanishes while the program has it open, ports
 * that share a name or take the loopback's), printing the bytes it
 * receives ("got 90 3c 40").  Lines on its standard input make its first
 * port send: "send 90 3c 40" (bytes in hex), "sysex N" (a SysEx of N bytes,
 * F0 7D and a count, in events of 256 bytes, a pause after each), "notes N"
 * (N note-ons, a pause after each); "said" is printed when it is done.
 */
#include "platform/alsa/alsa.h"
#include "platform/posix/pausewatch.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* What the backend tells the port host: ports came or went. */
std::atomic<int> gChanged{0};
namespace vt {
void portsChanged() { gChanged++; }
} // namespace vt

namespace {

int gPassed = 0, gFailed = 0;

void check(bool ok, const std::string &what)
{
    printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    fflush(stdout);
    (ok ? gPassed : gFailed)++;
}

typedef std::vector<uint8_t> Bytes;

std::string hex(const Bytes &b, size_t max = 24)
{
    std::string s;
    char t[4];
    for (size_t i = 0; i < b.size() && i < max; i++) {
        snprintf(t, sizeof t, "%02x ", b[i]);
        s += t;
    }
    if (b.size() > max)
        s += "... (" + std::to_string(b.size()) + " bytes)";
    return s;
}

Bytes sysex(size_t total, unsigned seed)
{
    Bytes b(total);
    b[0] = 0xF0;
    for (size_t i = 1; i + 1 < total; i++)
        b[i] = (uint8_t)((i * 7 + seed) & 0x7F);
    b[total - 1] = 0xF7;
    return b;
}

void sleepMs(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&ts, nullptr);
}

/* What an open input delivers, for the checks to wait on. */
class Sink : public vt::InputSink {
public:
    void bytes(const uint8_t *p, size_t n) override
    {
        if (hold_.load()) {
            std::unique_lock<std::mutex> lk(gateMx_);
            gate_.wait(lk, [this] { return !hold_.load(); });
        }
        std::lock_guard<std::mutex> lk(mx_);
        got_.insert(got_.end(), p, p + n);
        calls_++;
        cv_.notify_all();
    }
    void overrun(unsigned count) override
    {
        std::lock_guard<std::mutex> lk(mx_);
        overruns_ += count;
        cv_.notify_all();
    }
    /* waits up to ms for at least n bytes */
    Bytes wait(size_t n, long ms)
    {
        std::unique_lock<std::mutex> lk(mx_);
        cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return got_.size() >= n; });
        return got_;
    }
    Bytes take()
    {
        std::lock_guard<std::mutex> lk(mx_);
        Bytes b;
        b.swap(got_);
        return b;
    }
    unsigned overruns()
    {
        std::lock_guard<std::mutex> lk(mx_);
        return overruns_;
    }
    void hold(bool on)
    {
        {
            std::lock_guard<std::mutex> lk(gateMx_);
            hold_.store(on);
        }
        gate_.notify_all();
    }

private:
    std::mutex mx_;
    std::condition_variable cv_;
    Bytes got_;
    unsigned calls_ = 0;
    unsigned overruns_ = 0;
    std::atomic<bool> hold_{false};
    std::mutex gateMx_;
    std::condition_variable gate_;
};

/* The other program. */
struct Peer {
    snd_seq_t *seq = nullptr;
    int client = -1;

    bool open()
    {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
            return false;
        snd_seq_set_client_name(seq, "seqcheck peer");
        client = snd_seq_client_id(seq);
        return true;
    }
    int port(const char *name, unsigned caps)
    {
        return snd_seq_create_simple_port(
            seq, name, caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    /* everything that arrived by now, decoded with status always present */
    Bytes read()
    {
        Bytes out;
        snd_midi_event_t *dec;
        snd_midi_event_new(16, &dec);
        snd_midi_event_no_status(dec, 1);
        for (;;) {
            snd_seq_event_t *ev;
            int r = snd_seq_event_input(seq, &ev);
            if (r < 0 && r != -ENOSPC)
                break;
            if (r < 0)
                continue;
            if (ev->type == SND_SEQ_EVENT_SYSEX) {
                const uint8_t *p = (const uint8_t *)ev->data.ext.ptr;
                out.insert(out.end(), p, p + ev->data.ext.len);
                continue;
            }
            unsigned char buf[16];
            long n = snd_midi_event_decode(dec, buf, sizeof buf, ev);
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
        }
        snd_midi_event_free(dec);
        return out;
    }
};

/* Port numbers of the backend's lists by name; -1 when not listed. */
int findOut(vt::Backend *b, const char *name)
{
    char n[32];
    for (unsigned i = 0; i < b->outCount(); i++)
        if (b->outName(i, n) && strcmp(n, name) == 0)
            return (int)i;
    return -1;
}

int findIn(vt::Backend *b, const char *name)
{
    char n[32];
    for (unsigned i = 0; i < b->inCount(); i++)
        if (b->inName(i, n) && strcmp(n, name) == 0)
            return (int)i;
    return -1;
}

/* The input port of that name opened and started for the sink, as a fresh
   snapshot lists it; null when there is none to open. */
vt::InPort *openIn(vt::Backend *b, const char *name, Sink &sink, const std::string &what)
{
    b->snapshot();
    int i = findIn(b, name);
    vt::InPort *in = i >= 0 ? b->openIn((unsigned)i, &sink) : nullptr;
    check(in && in->start(), what);
    return in;
}

std::vector<std::string> outNames(vt::Backend *b)
{
    std::vector<std::string> v;
    char n[32];
    for (unsigned i = 0; i < b->outCount(); i++)
        v.push_back(b->outName(i, n) ? n : "?");
    return v;
}

/* The kernel's own account of a client (its pools), from /proc. */
std::string procClient(const char *name)
{
    FILE *f = fopen("/proc/asound/seq/clients", "r");
    if (!f)
        return "";
    std::string all, block;
    char line[512];
    bool in = false;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "Client ", 7) == 0)
            in = strstr(line, name) != nullptr;
        if (in)
            block += line;
    }
    fclose(f);
    return block;
}

void lists(vt::Backend *b, Peer &peer)
{
    b->snapshot();
    std::vector<std::string> outs = outNames(b);
    check(!outs.empty() && outs[0] == "Midi Through Port-0",
        "output list starts with Midi Through Port-0 (" + std::to_string(outs.size()) + " ports)");
    char n[32];
    check(b->inCount() > 0 && b->inName(0, n) && strcmp(n, "Midi Through Port-0") == 0,
        "input list starts with Midi Through Port-0");
    bool sys = false;
    for (auto &s : outs)
        sys |= s == "Timer" || s == "Announce";
    check(!sys, "the System client's ports are not offered");
    check(findOut(b, "VirMIDI 0-0") > findOut(b, "Midi Through Port-0") &&
              findOut(b, "VirMIDI 0-1") > findOut(b, "VirMIDI 0-0"),
        "ports ordered by client number (14, then 16, 17)");

    /* ports plugged in later show at the next count, with their caps */
    int both = peer.port("Peer Both", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    int wonly = peer.port("Peer Write Only", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    int nosub = peer.port("Peer No Subscribe", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_READ);
    int hidden = peer.port(
        "Peer Hidden", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT);
    int longp = peer.port("A port name that is longer than thirty-one characters",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    check(findOut(b, "Peer Both") < 0, "a port made after the snapshot is not in it yet");
    b->snapshot();
    check(findOut(b, "Peer Both") >= 0 && findIn(b, "Peer Both") >= 0,
        "a new read/write port is in both lists");
    check(findOut(b, "Peer Write Only") >= 0 && findIn(b, "Peer Write Only") < 0,
        "a write-only port is an output only");
    check(findOut(b, "Peer No Subscribe") < 0 && findIn(b, "Peer No Subscribe") < 0,
        "a port without subscription rights is not offered");
    check(findOut(b, "Peer Hidden") < 0, "a NO_EXPORT port is not offered");
    check(findOut(b, "A port name that is longer th") >= 0 ||
              findOut(b, "A port name that is longer than") >= 0,
        "a long name is cut to 31 characters");
    char cut[32];
    int li = findOut(b, "A port name that is longer than");
    check(li >= 0 && b->outName((unsigned)li, cut) && strlen(cut) == 31, "the cut name has 31 characters");
    /* own ports are never offered, even while open */
    vt::OutPort *o = b->openOut((unsigned)findOut(b, "Peer Both"));
    b->snapshot();
    check(o && findIn(b, "Voltanis Out") < 0, "the program's own ports are not offered");
    delete o;
    int pb = findOut(b, "Peer Both"), pw = findOut(b, "Peer Write Only");
    check(pb > findOut(b, "VirMIDI 0-1") && pw == pb + 1,
        "the peer client (numbered after the kernel's) sorts after them, its ports in order");
    for (int p : {both, wonly, nosub, hidden, longp})
        snd_seq_delete_simple_port(peer.seq, p);
    b->snapshot();
    check(findOut(b, "Peer Both") < 0 && findIn(b, "Peer Both") < 0,
        "a removed port is gone at the next count");
    std::string self = procClient("\"Voltanis\"");
    check(!self.empty(), "the client is named \"Voltanis\"");
    size_t at = self.find("Input pool");
    at = at == std::string::npos ? at : self.find("Pool size", at);
    int pool = at == std::string::npos ? -1 : atoi(self.c_str() + self.find(':', at) + 1);
    check(pool == 2000, "input pool taken as large as the kernel allows: " + std::to_string(pool));
}

/* Output and input through "Midi Through", which sends back what it gets. */
void throughLoop(vt::Backend *b)
{
    b->snapshot();
    int ot = findOut(b, "Midi Through Port-0"), it = findIn(b, "Midi Through Port-0");
    Sink sink;
    vt::OutPort *out = ot >= 0 ? b->openOut((unsigned)ot) : nullptr;
    vt::InPort *in = it >= 0 ? b->openIn((unsigned)it, &sink) : nullptr;
    check(out && in, "Midi Through opens for output and input");
    if (!out || !in) {
        delete out;
        delete in;
        return;
    }
    const uint8_t note[] = {0x90, 0x3C, 0x40};
    check(out->send(note, 3), "send before start succeeds");
    Bytes early = sink.wait(1, 300);
    check(early.empty(), "nothing is delivered before start (" + hex(early) + ")");
    check(in->start(), "start");

    struct Case {
        const char *what;
        std::vector<Bytes> sends; /* one transmission each */
        Bytes expect;
    };
    std::vector<Case> cases = {
        {"note on", {{0x90, 0x3C, 0x40}}, {0x90, 0x3C, 0x40}},
        {"running status comes back with status", {{0x90, 0x3C, 0x40, 0x3E, 0x41}},
            {0x90, 0x3C, 0x40, 0x90, 0x3E, 0x41}},
        {"several messages in one transmission",
            {{0xB0, 0x07, 0x64, 0xC1, 0x05, 0xE2, 0x00, 0x40, 0xD3, 0x22, 0xA4, 0x3C, 0x10}},
            {0xB0, 0x07, 0x64, 0xC1, 0x05, 0xE2, 0x00, 0x40, 0xD3, 0x22, 0xA4, 0x3C, 0x10}},
        {"a message split between two transmissions", {{0x90, 0x3C}, {0x40}}, {0x90, 0x3C, 0x40}},
        {"running status across transmissions", {{0x80, 0x3C, 0x00}, {0x3E, 0x00}},
            {0x80, 0x3C, 0x00, 0x80, 0x3E, 0x00}},
        {"note on with velocity 0 stays note on", {{0x91, 0x40, 0x00}}, {0x91, 0x40, 0x00}},
        {"system common and real time", {{0xF2, 0x10, 0x20, 0xF3, 0x05, 0xF6, 0xF8, 0xFA, 0xFC, 0xFE, 0xFF}},
            {0xF2, 0x10, 0x20, 0xF3, 0x05, 0xF6, 0xF8, 0xFA, 0xFC, 0xFE, 0xFF}},
        {"stray data bytes go nowhere", {{0x3C, 0x40, 0xF0, 0x01, 0xF7, 0x3C, 0x40, 0x90, 0x3C, 0x40}},
            {0xF0, 0x01, 0xF7, 0x90, 0x3C, 0x40}},
        {"a SysEx cut short by a status byte", {{0xF0, 0x7D, 0x01, 0x02, 0x90, 0x3C, 0x40}},
            {0xF0, 0x7D, 0x01, 0x02, 0x90, 0x3C, 0x40}},
        {"real time inside a SysEx", {{0xF0, 0x7D, 0x01, 0xF8, 0x02, 0xF7}},
            {0xF0, 0x7D, 0x01, 0xF8, 0x02, 0xF7}},
        {"a SysEx split over transmissions", {{0xF0, 0x7D}, {0x01, 0x02}, {0x03, 0xF7}},
            {0xF0, 0x7D, 0x01, 0x02, 0x03, 0xF7}},
        {"300-byte SysEx", {sysex(300, 1)}, sysex(300, 1)},
        {"100,000-byte SysEx", {sysex(100000, 2)}, sysex(100000, 2)},
    };
    /* the send file's way: a long SysEx in 64-byte blocks */
    Bytes file = sysex(5000, 3);
    Case blocks{"a 5000-byte SysEx in 64-byte blocks", {}, file};
    for (size_t i = 0; i < file.size(); i += 64)
        blocks.sends.push_back(
            Bytes(file.begin() + (long)i, file.begin() + (long)std::min(file.size(), i + 64)));
    cases.push_back(blocks);

    for (const Case &c : cases) {
        sink.take();
        bool sent = true;
        for (const Bytes &s : c.sends)
            sent = sent && out->send(s.data(), s.size());
        Bytes got = sink.wait(c.expect.size(), 20000);
        check(sent && got == c.expect,
            std::string(c.what) + (got == c.expect ? "" : ": got " + hex(got) + " want " + hex(c.expect)));
    }

    /* a burst at full speed: the receiver's pool would overflow; the
       sender waits for room instead and nothing is lost */
    sink.take();
    const int kBurst = 8000;
    Bytes burst;
    for (int i = 0; i < kBurst; i++) {
        burst.push_back(0x90 | (i & 0x0F));
        burst.push_back((uint8_t)(i & 0x7F));
        burst.push_back((uint8_t)((i >> 7) & 0x7F));
    }
    bool sent = out->send(burst.data(), burst.size());
    Bytes got = sink.wait(burst.size(), 60000);
    check(sent && got == burst && sink.overruns() == 0, "8000 messages at full speed all arrive, in order (" +
                                                            std::to_string(got.size() / 3) + " arrived, " +
                                                            std::to_string(sink.overruns()) + " overruns)");

    /* stop: nothing after it returns; start again: delivery resumes */
    in->stop();
    sink.take();
    out->send(note, 3);
    check(sink.wait(1, 300).empty(), "nothing is delivered after stop");
    in->start();
    out->send(note, 3);
    check(sink.wait(3, 5000) == Bytes(note, note + 3), "delivery resumes at the next start");
    delete in;
    sink.take();
    check(out->send(note, 3), "output still works with the input closed");
    check(sink.wait(1, 300).empty(), "nothing is delivered after close");
    delete out;
}

/* Sends reach the receiver before send() returns. */
void deliveredOnReturn(vt::Backend *b, Peer &peer)
{
    int p = peer.port("Peer In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    b->snapshot();
    int i = findOut(b, "Peer In");
    vt::OutPort *out = i >= 0 ? b->openOut((unsigned)i) : nullptr;
    check(out != nullptr, "a peer's port opens for output");
    if (!out)
        return;
    Bytes msg = {0xB0, 0x07, 0x64, 0x90, 0x3C, 0x40};
    Bytes sx = sysex(1000, 4);
    msg.insert(msg.end(), sx.begin(), sx.end());
    bool ok = out->send(msg.data(), msg.size());
    Bytes got = peer.read(); /* no waiting: it must be there already */
    check(ok && got == msg, "everything sent is at the receiver when send returns (" + hex(got) + ")");

    /* the port vanishes while open: an error, no crash, no hang */
    snd_seq_delete_simple_port(peer.seq, p);
    const uint8_t note[] = {0x90, 0x3C, 0x40};
    check(!out->send(note, 3), "sending to a vanished port fails");
    check(!out->send(note, 3), "and keeps failing");
    check(out->gone(), "an output knows its port vanished");
    /* another port takes the address: still gone, nothing goes there */
    int other = peer.port("Someone Else", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    check(out->gone(), std::string("a port of another name at ") + (other == p ? "the same" : "another") +
                           " address does not bring it back");
    delete out;
    b->snapshot();
    check(findOut(b, "Peer In") < 0, "the vanished port is no longer offered");
    /* back under the same name at another address: found by the name */
    int back = peer.port("Peer In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    vt::FoundPort where = {};
    out = b->openOutNamed("Peer In", &where);
    check(out && where.hasAddress && where.at.port == back && where.alike == 1,
        "a port that came back is found by its name at its new address");
    peer.read();
    if (out && out->send(note, 3))
        check(peer.read() == Bytes(note, note + 3), "and what is sent reaches it");
    delete out;
    snd_seq_delete_simple_port(peer.seq, other);
    snd_seq_delete_simple_port(peer.seq, back);
}

/* An input whose port vanishes; a peer that floods a stalled reader. */
void inputTroubles(vt::Backend *b, Peer &peer)
{
    int p = peer.port("Peer Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    Sink sink;
    vt::InPort *in = openIn(b, "Peer Out", sink, "a peer's port opens for input");
    if (!in)
        return;
    /* events the peer sends to its subscribers come in */
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, p);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_controller(&ev, 2, 7, 99);
    snd_seq_event_output_direct(peer.seq, &ev);
    check(sink.wait(3, 5000) == Bytes({0xB2, 0x07, 0x63}), "a peer's control change arrives");

    /* the reader is held up while the peer floods: the kernel drops and
       the backend reports an overrun */
    sink.take();
    sink.hold(true);
    snd_seq_event_output_direct(peer.seq, &ev); /* the reader blocks in this one */
    sleepMs(200);
    int refused = 0;
    for (int k = 0; k < 5000; k++) {
        snd_seq_ev_set_noteon(&ev, 0, k & 0x7F, 1);
        if (snd_seq_event_output_direct(peer.seq, &ev) < 0)
            refused++;
    }
    sink.hold(false);
    for (int t = 0; t < 100 && sink.overruns() == 0; t++)
        sleepMs(100);
    check(refused > 0 && sink.overruns() > 0, "a flood past the pool is reported as overrun (" +
                                                  std::to_string(refused) + " refused, " +
                                                  std::to_string(sink.overruns()) + " reported)");
    Bytes after = sink.take();
    check(after.size() % 3 == 0, "what arrives around an overrun is whole messages");

    /* the source vanishes while open */
    int told = gChanged.load();
    snd_seq_delete_simple_port(peer.seq, p);
    sleepMs(100);
    for (int t = 0; t < 50 && gChanged.load() == told; t++)
        sleepMs(100);
    check(gChanged.load() > told, "the announcement of a vanished port is heard");
    check(in->gone(), "an input knows its port vanished");
    b->snapshot();
    check(findIn(b, "Peer Out") < 0, "a vanished input port is no longer offered");
    in->stop();
    delete in;
    check(true, "closing an input whose port vanished returns");
}

/* Context switches of every thread of this process but the main one (the
   backend's reader is the only other). */
long otherThreadSwitches()
{
    long sum = 0;
    char path[300];
    DIR *d = opendir("/proc/self/task");
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.' || atoi(e->d_name) == (int)getpid())
            continue;
        snprintf(path, sizeof path, "/proc/self/task/%s/status", e->d_name);
        FILE *f = fopen(path, "r");
        if (!f)
            continue;
        char line[128];
        long v;
        while (fgets(line, sizeof line, f))
            if (sscanf(line, "voluntary_ctxt_switches: %ld", &v) == 1 ||
                sscanf(line, "nonvoluntary_ctxt_switches: %ld", &v) == 1)
                sum += v;
        fclose(f);
    }
    if (d)
        closedir(d);
    return sum;
}

/* While the console's pause waits on the sequencer, what arrives wakes the
   pause alone, which reads it; the reader thread sleeps on, since it
   registers after the pause each time the pause has registered.  Here this
   thread plays the pause, with an exclusive epoll set as the console's. */
void pauseReadsAlone(vt::Backend *b, Peer &peer)
{
    int p = peer.port("Peer Quiet", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    Sink sink;
    vt::InPort *in = openIn(b, "Peer Quiet", sink, "a source for the pause opens for input");
    vt::PauseWatch *w[vt::kMaxPauseWatches];
    int nw = in ? vt::pauseWatches(w, vt::kMaxPauseWatches) : 0;
    check(nw == 1, "an open input gives the pause one source");
    if (nw == 1 && in->start()) {
        struct pollfd fds[8];
        int n = w[0]->pauseBegins(fds, 8);
        int ep = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < n; i++) {
            struct epoll_event ev = {};
            ev.events = EPOLLIN | EPOLLEXCLUSIVE;
            epoll_ctl(ep, EPOLL_CTL_ADD, fds[i].fd, &ev);
        }
        w[0]->pauseWatching();
        sleepMs(100); /* the reader back in its wait */
        long before = otherThreadSwitches();
        const int kNotes = 20;
        int woken = 0;
        for (int k = 0; k < kNotes; k++) {
            std::thread sender([&] { /* while this thread waits in the pause */
                sleepMs(20);
                snd_seq_event_t ev;
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_source(&ev, p);
                snd_seq_ev_set_subs(&ev);
                snd_seq_ev_set_direct(&ev);
                snd_seq_ev_set_noteon(&ev, 0, k, 64);
                snd_seq_event_output_direct(peer.seq, &ev);
            });
            struct epoll_event got;
            if (epoll_wait(ep, &got, 1, 2000) == 1) {
                woken++;
                w[0]->ready(false);
            }
            sender.join();
        }
        w[0]->pauseEnds();
        long after = otherThreadSwitches();
        Bytes got = sink.wait(3 * kNotes, 2000);
        check(woken == kNotes && got.size() == 3 * kNotes,
            std::to_string(kNotes) + " notes that come while the pause waits wake the pause, which reads them (" +
                std::to_string(woken) + " wake-ups, " + std::to_string(got.size()) + " bytes)");
        check(after == before, "the reader thread sleeps through them (" + std::to_string(after - before) +
                                   " context switches)");
        close(ep);
    }
    delete in;
    snd_seq_delete_simple_port(peer.seq, p);
}

/* The reader goes off duty once the main thread keeps up (back in the
   pause, it left no burst for the reader), and comes back on when a pause
   finds a burst waiting: then what comes while the main thread is away is
   read at once.  Off duty, what comes while the main thread is away waits
   for it. */
void burstCallsTheReader(vt::Backend *b, Peer &peer)
{
    int p = peer.port("Peer Bursts", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    Sink sink;
    vt::InPort *in = openIn(b, "Peer Bursts", sink, "a burst source for the pause opens for input");
    vt::PauseWatch *w[vt::kMaxPauseWatches];
    if (!in || vt::pauseWatches(w, vt::kMaxPauseWatches) != 1 || !in->start()) {
        check(false, "the burst source gives the pause one source");
        delete in;
        return;
    }
    auto send = [&](int count) {
        if (count == 1)
            sleepMs(50); /* one that comes while the pause waits */
        for (int k = 0; k < count; k++) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            snd_seq_ev_set_source(&ev, p);
            snd_seq_ev_set_subs(&ev);
            snd_seq_ev_set_direct(&ev);
            snd_seq_ev_set_noteon(&ev, 0, k, 64);
            snd_seq_event_output_direct(peer.seq, &ev);
        }
        sleepMs(50);
    };
    struct pollfd fds[8];
    int n = w[0]->pauseBegins(fds, 8);
    int ep = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < n; i++) {
        struct epoll_event ev = {};
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        epoll_ctl(ep, EPOLL_CTL_ADD, fds[i].fd, &ev);
    }
    w[0]->pauseWatching();
    /* the reader outlives the inputs (it also takes the System's
       announcements): what they left waiting is read in a pause */
    sleepMs(50);
    w[0]->pauseBegins(fds, 8);
    w[0]->ready(false);
    w[0]->pauseEnds();
    /* the main thread's pause: reads what waits, or what `comes` sends
       while it waits */
    auto pause = [&](int waiting, int comes) {
        w[0]->pauseBegins(fds, 8);
        std::thread sender([&] {
            if (comes)
                send(comes);
        });
        struct epoll_event got;
        bool woke = epoll_wait(ep, &got, 1, 2000) == 1;
        if (woke)
            w[0]->ready(false);
        sender.join();
        w[0]->pauseEnds();
        Bytes b = sink.wait(3 * (size_t)(waiting + comes), 2000);
        sink.take();
        return woke && b.size() == 3 * (size_t)(waiting + comes);
    };
    w[0]->pauseEnds();
    /* and its duty is as the checks before left it: settled off duty (a
       note in a pause, then one while away, twice), then called on, as a
       new input's reader starts */
    for (int k = 0; k < 2; k++) {
        pause(0, 1);
        send(1);
        if (sink.wait(3, 300).size() < 3)
            pause(1, 0);
        sink.take();
    }
    w[0]->mainBusy(INT64_MAX);
    sleepMs(20);
    bool ok = pause(0, 1);
    send(1); /* the main thread away: the reader, still on duty, reads it */
    ok = ok && sink.wait(3, 2000).size() == 3;
    sink.take();
    send(5);
    Bytes left = sink.wait(15, 300);
    check(ok && left.empty(), "the main thread keeping up, the reader goes off duty (" +
                                  std::to_string(left.size() / 3) + " of 5 read while away)");
    ok = pause(5, 0);
    send(20);
    ok = ok && pause(20, 0);
    send(5);
    Bytes after = sink.wait(15, 2000);
    check(ok && after.size() == 15, "a pause that finds 20 notes waiting calls the reader (" +
                                        std::to_string(after.size() / 3) + " of 5 read while away)");
    /* the main thread out of the pause for 2 ms or more (or waiting
       elsewhere) calls the reader; a shorter stretch does not */
    const struct {
        int64_t awayUs;
        size_t readAway; /* of 5 */
    } busy[] = {{1000, 0}, {3000, 5}, {INT64_MAX, 5}};
    sink.take();
    /* the reader off duty: one note in a pause and one while away, which
       the reader reads if on duty, going off duty then */
    auto offDuty = [&] {
        bool settled = pause(0, 1);
        send(1);
        if (sink.wait(3, 300).size() < 3)
            settled = settled && pause(1, 0);
        sink.take();
        return settled;
    };
    for (const auto &c : busy) {
        ok = offDuty();
        w[0]->mainBusy(c.awayUs);
        send(5);
        size_t away = sink.wait(15, c.readAway ? 2000 : 300).size() / 3;
        sink.take();
        if (away < 5)
            ok = ok && pause((int)(5 - away), 0);
        check(ok && away == c.readAway, "the main thread away for " + std::to_string(c.awayUs) +
                                            " us: " + std::to_string(away) + " of 5 read meanwhile");
    }
    /* what this client sends comes back to it through Midi Through: a send
       that waits for room in its own input pool calls the reader, and a
       burst arrives whole at once */
    b->snapshot();
    int ot = findOut(b, "Midi Through Port-0"), it = findIn(b, "Midi Through Port-0");
    Sink through;
    vt::OutPort *out = ot >= 0 ? b->openOut((unsigned)ot) : nullptr;
    vt::InPort *loop = it >= 0 ? b->openIn((unsigned)it, &through) : nullptr;
    ok = out && loop && loop->start() && offDuty();
    Bytes burst;
    for (int i = 0; i < 3000; i++)
        burst.insert(burst.end(), {0x90, (uint8_t)(i & 0x7F), (uint8_t)(i >> 7 & 0x7F)});
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    bool sent = ok && out->send(burst.data(), burst.size());
    clock_gettime(CLOCK_MONOTONIC, &t1);
    long tookMs = (t1.tv_sec - t0.tv_sec) * 1000 + (t1.tv_nsec - t0.tv_nsec) / 1000000;
    Bytes back = through.wait(burst.size(), 3000);
    check(sent && back == burst && tookMs < 3000,
        "a send of 3000 notes to this client's own input, the reader off duty: " +
            std::to_string(back.size() / 3) + " back, in " + std::to_string(tookMs) + " ms");
    delete loop;
    delete out;
    close(ep);
    delete in;
    snd_seq_delete_simple_port(peer.seq, p);
}

/* Another program sends 8000 notes at full speed, taking no notice of the
   kernel refusing some.  The reader drains its pool as they come; whatever
   the kernel throws away all the same is reported, never lost silently, and
   what arrives comes in order. */
void externalBurst(vt::Backend *b, Peer &peer)
{
    int p = peer.port("Peer Burst", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    Sink sink;
    vt::InPort *in = openIn(b, "Peer Burst", sink, "the burst source opens for input");
    if (!in)
        return;
    const int kBurst = 8000;
    int refused = 0;
    for (int k = 0; k < kBurst; k++) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, p);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_noteon(&ev, 0, k & 0x7F, (k >> 7) & 0x7F);
        if (snd_seq_event_output_direct(peer.seq, &ev) < 0)
            refused++;
    }
    /* until nothing more comes */
    size_t had = 0;
    for (;;) {
        Bytes now = sink.wait(had + 1, 2000);
        if (now.size() == had)
            break;
        had = now.size();
    }
    Bytes got = sink.take();
    bool whole = got.size() % 3 == 0, inOrder = true;
    int last = -1;
    for (size_t k = 0; whole && k < got.size(); k += 3) {
        int seq = got[k + 2] * 128 + got[k + 1];
        inOrder = inOrder && got[k] == 0x90 && seq > last;
        last = seq;
    }
    int arrived = (int)got.size() / 3;
    check(whole && inOrder, "a burst from another program arrives whole and in order");
    check(arrived == kBurst || sink.overruns() > 0,
        "of 8000 notes at full speed " + std::to_string(arrived) + " arrived, the kernel refused " +
            std::to_string(refused) + ", overruns reported " + std::to_string(sink.overruns()) +
            ": no loss goes unreported");
    delete in;
    snd_seq_delete_simple_port(peer.seq, p);
}

/* One event from the peer's first port to its subscribers. */
void peerSend(Peer &peer, snd_seq_event_t &ev)
{
    snd_seq_ev_set_source(&ev, 0);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    while (snd_seq_event_output_direct(peer.seq, &ev) == -EAGAIN)
        sleepMs(1);
}

/* A line of the peer's standard input (see the top). */
void peerSays(Peer &peer, const std::string &line)
{
    snd_seq_event_t ev;
    unsigned n = 0;
    if (line.compare(0, 5, "send ") == 0) {
        Bytes b;
        for (const char *p = line.c_str() + 5; *p;) {
            char *end;
            unsigned long v = strtoul(p, &end, 16);
            if (end == p)
                break;
            b.push_back((uint8_t)v);
            p = end;
        }
        snd_midi_event_t *enc;
        snd_midi_event_new(b.size() + 1, &enc);
        for (uint8_t x : b) {
            snd_seq_ev_clear(&ev);
            if (snd_midi_event_encode_byte(enc, x, &ev) == 1)
                peerSend(peer, ev);
        }
        snd_midi_event_free(enc);
    } else if (sscanf(line.c_str(), "sysex %u", &n) == 1 && n >= 4) {
        Bytes m(n);
        m[0] = 0xF0;
        m[1] = 0x7D;
        for (unsigned i = 2; i + 1 < n; i++)
            m[i] = (uint8_t)(i % 100);
        m[n - 1] = 0xF7;
        for (unsigned at = 0; at < n; at += 256) {
            snd_seq_ev_clear(&ev);
            snd_seq_ev_set_sysex(&ev, n - at < 256 ? n - at : 256, m.data() + at);
            peerSend(peer, ev);
            sleepMs(2);
        }
    } else if (sscanf(line.c_str(), "notes %u", &n) == 1) {
        for (unsigned i = 0; i < n; i++) {
            snd_seq_ev_clear(&ev);
            snd_seq_ev_set_noteon(&ev, 9, 36 + i % 40, 100);
            peerSend(peer, ev);
            sleepMs(3);
        }
    }
    printf("said\n");
    fflush(stdout);
}

/* The port other programs connect to: last in both lists; a program that
   connects is news; what it sends comes in, what is sent reaches it. */
void offered(vt::Backend *b, Peer &peer)
{
    check(vtAlsaOffer("Seqcheck Offer"), "a port is offered");
    b->snapshot();
    check(findOut(b, "Seqcheck Offer") == (int)b->outCount() - 1 &&
              findIn(b, "Seqcheck Offer") == (int)b->inCount() - 1,
        "the offered port ends both lists");
    int p = peer.port("Peer Both Ways", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                            SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    Sink sink;
    vt::InPort *in = openIn(b, "Seqcheck Offer", sink, "the offered port opens for input");
    vt::OutPort *out = b->openOut((unsigned)findOut(b, "Seqcheck Offer"));
    check(out != nullptr, "the offered port opens for output");
    int self = -1;
    {
        VtPortAddress a;
        if (b->address(true, (unsigned)findOut(b, "Seqcheck Offer"), &a))
            self = a.client;
    }
    VtPortEvent news[8];
    sleepMs(200);
    while (b->takeNews(news, 8) > 0) {
        /* news of ports of this client that had the offered port's number
           before: not the offered port's */
    }
    snd_seq_addr_t me = {(unsigned char)self, 0};
    snd_seq_port_info_t *pi;
    snd_seq_port_info_alloca(&pi);
    for (int port = 0; port < 64; port++)
        if (snd_seq_get_any_port_info(peer.seq, self, port, pi) == 0 &&
            strcmp(snd_seq_port_info_get_name(pi), "Seqcheck Offer") == 0)
            me.port = (unsigned char)port;
    check(snd_seq_connect_from(peer.seq, p, me.client, me.port) == 0 &&
              snd_seq_connect_to(peer.seq, p, me.client, me.port) == 0,
        "another program connects to it both ways");
    int n = 0;
    for (int t = 0; t < 50 && n < 2; t++) {
        sleepMs(100);
        n += b->takeNews(news + n, 8 - n);
    }
    std::string told;
    for (int k = 0; k < n; k++)
        told += std::string(" [") + std::to_string(news[k].kind) + " " + std::to_string(news[k].isOut) + " " +
                news[k].name + "]";
    check(n == 2 && news[0].kind == VT_PORT_LINKED && strcmp(news[0].name, "Peer Both Ways") == 0 &&
              news[0].isOut == 1 && news[1].isOut == 0,
        "each connection is news once, naming the other program's port:" + told);
    const uint8_t note[] = {0x90, 0x3C, 0x40};
    if (out && out->send(note, 3)) {
        sleepMs(100);
        check(peer.read() == Bytes(note, note + 3), "what is sent reaches the program connected");
    }
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, p);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_controller(&ev, 0, 7, 99);
    snd_seq_event_output_direct(peer.seq, &ev);
    if (in)
        check(sink.wait(3, 5000) == Bytes({0xB0, 0x07, 0x63}), "what it sends comes in");
    if (in)
        in->stop();
    delete in;
    delete out;
    snd_seq_delete_simple_port(peer.seq, p);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--peer") == 0) {
        Peer peer;
        if (!peer.open())
            return 1;
        for (int i = 2; i < argc; i++)
            if (peer.port(argv[i], SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE) < 0)
                return 1;
        printf("ready\n");
        fflush(stdout);
        std::string line;
        for (;;) {
            Bytes got = peer.read();
            if (!got.empty()) {
                printf("got %s\n", hex(got).c_str());
                fflush(stdout);
            }
            struct pollfd in = {0, POLLIN, 0};
            char c;
            while (poll(&in, 1, 0) > 0 && read(0, &c, 1) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                peerSays(peer, line);
                line.clear();
            }
            sleepMs(50);
        }
    }
    vt::Backend *b = vtAlsaBackend();
    check(b != nullptr, "the sequencer opens");
    Peer peer;
    check(peer.open(), "the peer client opens");
    if (b && peer.seq) {
        lists(b, peer);
        throughLoop(b);
        deliveredOnReturn(b, peer);
        inputTroubles(b, peer);
        pauseReadsAlone(b, peer);
        burstCallsTheReader(b, peer);
        externalBurst(b, peer);
    }
    if (b && peer.seq)
        offered(b, peer);
    if (peer.seq)
        snd_seq_close(peer.seq);
    printf("seqcheck: %d passed, %d failed\n", gPassed, gFailed);
    fflush(stdout);
    return gFailed ? 1 : 0;
}
