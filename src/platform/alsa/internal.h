/*
 * The sequencer backend object, shared by the files of this folder (see
 * alsa.h for which file does what).
 *
 * One sequencer client, "Voltanis", opened at the first use, non-blocking.
 * Each open port is a port of this client connected to the chosen one.
 * The main thread writes and manages ports while input is read: libasound
 * keeps the input and output sides of a handle apart, and the kernel
 * serialises the rest.
 */
#ifndef VOLTANIS_PLATFORM_ALSA_INTERNAL_H
#define VOLTANIS_PLATFORM_ALSA_INTERNAL_H

#include "../posix/pausewatch.h"
#include "seqlogic.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace vt {
namespace alsa {

const unsigned kMaxSeen = 512; /* ports read in one snapshot */
const unsigned kMaxList = 256; /* ports offered per direction */

class SeqBackend : public vt::Backend, public vt::PauseWatch {
public:
    /* backend.cpp */
    bool open();
    snd_seq_t *seq() { return seq_; }
    /* Whether this client's input pool has `cells` free (and some to
       spare); always when no input is open. */
    bool inputRoom(int cells);
    /* A new port of this client, with the capabilities `caps`; its number,
       or negative. */
    int newPort(const char *name, unsigned caps);

    /* portlist.cpp */
    void snapshot() override;
    unsigned outCount() override { return nOut_; }
    unsigned inCount() override { return nIn_; }
    bool outName(unsigned i, char name[32]) override;
    bool inName(unsigned i, char name[32]) override;
    bool address(bool out, unsigned i, VtPortAddress *addr) override;

    /* outport.cpp, inport.cpp */
    vt::OutPort *openOut(unsigned i) override;
    vt::InPort *openIn(unsigned i, vt::InputSink *sink) override;
    vt::seq::InputRouter &router() { return router_; }
    vt::OutPort *openOutAt(const vt::seq::PortDesc &d);
    vt::InPort *openInAt(const vt::seq::PortDesc &d, vt::InputSink *sink);

    /* portlist.cpp: following ports by name */
    vt::OutPort *openOutNamed(const char *name, vt::FoundPort *where) override;
    vt::InPort *openInNamed(const char *name, vt::InputSink *sink, vt::FoundPort *where) override;
    bool notifies() override { return true; }
    /* Whether the port at d's address is there now under d's name; else
       *now is filled with the first port of that name (false when none). */
    bool stillThere(vt::seq::Direction dir, const vt::seq::PortDesc &d, vt::seq::PortDesc *now);
    /* Whether the port at client:port went away since `mark`, or another
       port took its address. */
    bool goneSince(uint64_t mark, int client, int port, const char *name);
    uint64_t exitMark() { return exits_.mark(); }

    /* virtual.cpp: the port other programs connect to, and the news the
       announcements bring about it */
    bool offer(const char *name);
    bool offered(int client, int port) const { return client == self_ && port == virt_ && virt_ >= 0; }
    int takeNews(VtPortEvent *ev, int max) override;
    void announced(const snd_seq_event_t *ev);

    /* reader.cpp: the reader runs while any input is open, and from the
       first open of a port on, for the announcements */
    bool watch();
    bool readerUp();
    void readerIdle();
    int pauseBegins(struct pollfd *fds, int max) override;
    bool ready(bool failed) override;
    void pauseEnds() override;
    void pauseWatching() override;
    void mainBusy(int64_t awayUs) override;
    /* Puts the reader on duty (reader.cpp). */
    void handOver();

private:
    void readLoop(unsigned pausesSeen);
    int drainInput(); /* the MIDI events it read (announcements aside) */
    bool watchSequencer();
    void wakeReader();
    enum { kOffDuty, kOnDuty, kRecalled }; /* duty_: kRecalled is on duty, asked again */

    unsigned scan(vt::seq::PortDesc *seen, unsigned max);
    void appendOffered();
    bool findNow(vt::seq::Direction dir, const char *name, vt::seq::PortDesc *found, unsigned *alike);

    snd_seq_t *seq_ = nullptr;
    int self_ = -1;
    std::atomic<int> watchPort_{-1}; /* subscribed to the System's announcements */
    int virt_ = -1;       /* the offered port */
    char virtName_[64] = {0};
    vt::seq::ExitLog exits_;
    vt::seq::PortDesc scanSeen_[kMaxSeen]; /* main thread: a look at the ports now */
    vt::seq::PortDesc scanList_[kMaxList];
    std::mutex newsMx_;
    static constexpr int kNews = 32;
    VtPortEvent news_[kNews];
    int newsN_ = 0;
    unsigned newsLost_ = 0;
    int lastType_ = -1; /* the connection told last (reader side) */
    snd_seq_connect_t lastConnect_ = {};
    vt::seq::PortDesc seen_[kMaxSeen];
    vt::seq::PortDesc outs_[kMaxList];
    vt::seq::PortDesc ins_[kMaxList];
    unsigned nOut_ = 0;
    unsigned nIn_ = 0;

    vt::seq::InputRouter router_;
    std::thread reader_;
    bool readerRunning_ = false;
    int wake_ = -1;              /* ends the reader's wait */
    int ep_ = -1;                /* the reader's epoll set */
    bool exclusive_ = false;     /* the reader waits in it; else in poll, and the pause not */
    struct pollfd fds_[8];       /* the sequencer's descriptors */
    int nFds_ = 0;
    std::mutex reading_;         /* held by whoever reads */
    std::atomic<bool> quit_{false};
    std::atomic<int> duty_{kOnDuty};      /* the reader reads what comes while the main thread is away */
    std::atomic<unsigned> pauses_{0};     /* pauses the main thread began */
    std::atomic<unsigned> calledAt_{0};   /* pauses_ when the reader was last called on duty */
};

} // namespace alsa
} // namespace vt

#endif
