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

    /* reader.cpp: the reader runs while any input is open */
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
    int drainInput();
    bool watchSequencer();
    void wakeReader();
    enum { kOffDuty, kOnDuty, kRecalled }; /* duty_: kRecalled is on duty, asked again */

    snd_seq_t *seq_ = nullptr;
    int self_ = -1;
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
