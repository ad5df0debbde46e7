/*
 * The ALSA sequencer backend.
 *
 * One sequencer client, "Voltanis", opened at the first use, non-blocking.
 * An open output is a port of this client connected to the chosen port;
 * the bytes go through the port's encoder and leave as events addressed
 * straight to the chosen port, delivered when the write returns (no queue:
 * the kernel hands a direct event to its receiver inside the write).
 * Addressing the port itself rather than "the subscribers" is what makes a
 * vanished port an error instead of a silent send to nobody.
 *
 * An open input is a port of this client that the chosen port is connected
 * to.  What arrives is read as soon as it can be, everything there is at
 * once, and each event routed to its port.  The input pool is taken as
 * large as the kernel gives, since the default overflows in any burst.  The
 * main thread writes and manages ports while input is read: libasound keeps
 * the input and output sides of a handle apart, and the kernel serialises
 * the rest.
 *
 * Who reads: while the main thread sleeps in the console's pause, the
 * pause itself (pausewatch.h), so that a message arriving alone wakes one
 * thread, not two.  Otherwise a reader thread, running while any input is
 * open: it takes over when the main thread has been out of the pause for
 * kTakeOverMs (a timer the main thread sets as it leaves the pause and
 * clears as it comes back, which costs no wake-up while messages keep the
 * main thread going), and parks again at the next pause.  So input is read
 * even while the main thread is busy or blocked on a slow terminal, and a
 * burst still fills the program's ring, not the kernel's pool.
 */
#include "alsa.h"
#include "seqlogic.h"

#include <alsa/asoundlib.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "../posix/pausewatch.h"

#include <atomic>
#include <mutex>
#include <new>
#include <thread>

namespace {

using vt::seq::PortDesc;

const unsigned kMaxSeen = 512; /* ports read in one snapshot */
const unsigned kMaxList = 256; /* ports offered per direction */
const long kStallMs = 5000;    /* a receiver that takes nothing this long has failed */
const size_t kInBuf = 65536;   /* libasound's input buffer */
/* The output buffer, and so the most one write delivers: small enough
   that one write cannot fill a receiver's pool on its own (4 KB: at most
   about 160 cells of the 2000 an input pool holds). */
const size_t kOutBuf = 4096;
const int kCellBytes = 28;                   /* what one pool cell holds (an event's size) */
const int kSpareCells = 100;                 /* room left for what others send meanwhile */
const unsigned kPools[] = {2000, 1000, 500}; /* input pool sizes to try, largest first */
const unsigned kMaxFds = 8;
const long kTakeOverMs = 2; /* the main thread out of the pause this long: the reader reads */

/* libasound prints its errors on stderr, into the middle of the console;
   every failure here is reported through a result instead. */
void quiet(const char *, int, const char *, int, const char *, ...) {}

long nowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

class SeqBackend;

class SeqOut : public vt::OutPort {
public:
    SeqOut(SeqBackend *b, snd_seq_t *seq, int port, const PortDesc &dest) : b_(b), seq_(seq), port_(port)
    {
        dest_.client = (unsigned char)dest.client;
        dest_.port = (unsigned char)dest.port;
    }
    ~SeqOut() override;
    bool ok() const { return enc_.ok(); }
    bool send(const uint8_t *p, size_t n) override;

private:
    static bool emit(void *ctx, const snd_seq_event_t *ev);
    bool flush();

    SeqBackend *b_;
    snd_seq_t *seq_;
    int port_;
    snd_seq_addr_t dest_;
    vt::seq::EventEncoder enc_;
};

class SeqIn : public vt::InPort {
public:
    SeqIn(SeqBackend *b, int port, const PortDesc &src) : b_(b), port_(port), src_(src) {}
    ~SeqIn() override;
    bool start() override;
    void stop() override;

private:
    SeqBackend *b_;
    int port_;
    PortDesc src_;
};

class SeqBackend : public vt::Backend, public vt::PauseWatch {
public:
    bool open();

    void snapshot() override;
    unsigned outCount() override { return nOut_; }
    unsigned inCount() override { return nIn_; }
    bool outName(unsigned i, char name[32]) override;
    bool inName(unsigned i, char name[32]) override;
    vt::OutPort *openOut(unsigned i) override;
    vt::InPort *openIn(unsigned i, vt::InputSink *sink) override;
    bool address(bool out, unsigned i, VtPortAddress *addr) override;

    snd_seq_t *seq() { return seq_; }
    vt::seq::InputRouter &router() { return router_; }
    /* Whether this client's input pool has `cells` free (and some to
       spare); always when no input is open. */
    bool inputRoom(int cells);
    /* the reader runs while any input is open */
    bool readerUp();
    void readerIdle();

    int pauseBegins(struct pollfd *fds, int max) override;
    bool ready(bool failed) override;
    void pauseEnds() override;

private:
    void readLoop();
    void drainInput();
    bool startTimer(long ms);

    snd_seq_t *seq_ = nullptr;
    int self_ = -1;
    PortDesc seen_[kMaxSeen];
    PortDesc outs_[kMaxList];
    PortDesc ins_[kMaxList];
    unsigned nOut_ = 0;
    unsigned nIn_ = 0;

    vt::seq::InputRouter router_;
    std::thread reader_;
    bool readerRunning_ = false;
    int wake_ = -1;
    int timer_ = -1;        /* the take-over timer */
    bool timerSet_ = false; /* the main thread's own */
    std::mutex reading_;    /* held by whoever reads */
    std::atomic<bool> quit_{false};
    std::atomic<bool> pausing_{false};      /* the main thread reads, in its pause */
    std::atomic<bool> readerWatches_{true}; /* the reader waits on the sequencer */
};

/* ---- output ----------------------------------------------------------- */

SeqOut::~SeqOut()
{
    snd_seq_drop_output(seq_);
    snd_seq_disconnect_to(seq_, port_, dest_.client, dest_.port);
    snd_seq_delete_simple_port(seq_, port_);
}

bool SeqOut::emit(void *ctx, const snd_seq_event_t *ev)
{
    SeqOut *o = (SeqOut *)ctx;
    snd_seq_event_t e = *ev;
    snd_seq_ev_set_source(&e, o->port_);
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

/* ---- input ------------------------------------------------------------ */

SeqIn::~SeqIn()
{
    b_->router().remove(port_); /* from here on no sink call */
    snd_seq_disconnect_from(b_->seq(), port_, src_.client, src_.port);
    snd_seq_delete_simple_port(b_->seq(), port_);
    b_->readerIdle();
}

bool SeqIn::start() { return b_->router().start(port_); }

void SeqIn::stop() { b_->router().stop(port_); }

/* ---- the backend ------------------------------------------------------ */

bool SeqBackend::open()
{
    snd_lib_error_set_handler(quiet);
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        seq_ = nullptr;
        return false;
    }
    snd_seq_set_client_name(seq_, "Voltanis");
    self_ = snd_seq_client_id(seq_);
    snd_seq_set_output_buffer_size(seq_, kOutBuf);
    snd_seq_set_input_buffer_size(seq_, kInBuf);
    /* The kernel ignores a size beyond its limit without a word: read it
       back and step down until one holds. */
    for (unsigned size : kPools) {
        if (snd_seq_set_client_pool_input(seq_, size) < 0)
            continue;
        snd_seq_client_pool_t *pool;
        snd_seq_client_pool_alloca(&pool);
        if (snd_seq_get_client_pool(seq_, pool) == 0 && snd_seq_client_pool_get_input_pool(pool) >= size)
            break;
    }
    return true;
}

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
            PortDesc &d = seen_[n++];
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
    const PortDesc &d = out ? outs_[i] : ins_[i];
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

vt::OutPort *SeqBackend::openOut(unsigned i)
{
    if (i >= nOut_)
        return nullptr;
    int port =
        snd_seq_create_simple_port(seq_, "Voltanis Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0)
        return nullptr;
    /* The connection is what opens a hardware port's device in the kernel,
       and it shows in every connection list. */
    if (snd_seq_connect_to(seq_, port, outs_[i].client, outs_[i].port) < 0) {
        snd_seq_delete_simple_port(seq_, port);
        return nullptr;
    }
    SeqOut *o = new (std::nothrow) SeqOut(this, seq_, port, outs_[i]);
    if (o && o->ok())
        return o;
    if (o) {
        delete o; /* disconnects and deletes the port */
    } else {
        snd_seq_disconnect_to(seq_, port, outs_[i].client, outs_[i].port);
        snd_seq_delete_simple_port(seq_, port);
    }
    return nullptr;
}

vt::InPort *SeqBackend::openIn(unsigned i, vt::InputSink *sink)
{
    if (i >= nIn_ || !sink)
        return nullptr;
    int port =
        snd_seq_create_simple_port(seq_, "Voltanis In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
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

bool SeqBackend::inputRoom(int cells)
{
    if (router_.count() == 0)
        return true;
    snd_seq_client_pool_t *pool;
    snd_seq_client_pool_alloca(&pool);
    if (snd_seq_get_client_pool(seq_, pool) < 0)
        return true;
    int room = (int)snd_seq_client_pool_get_input_free(pool);
    int size = (int)snd_seq_client_pool_get_input_pool(pool);
    int spare = kSpareCells < size / 4 ? kSpareCells : size / 4;
    return room >= cells + spare || room == size;
}

bool SeqBackend::readerUp()
{
    if (readerRunning_)
        return true;
    if (wake_ < 0)
        wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (timer_ < 0)
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (wake_ < 0)
        return false;
    quit_.store(false);
    pausing_.store(false);
    /* Signals stay with the main thread: the thread starts with them all
       blocked. */
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        reader_ = std::thread([this] { readLoop(); });
        readerRunning_ = true;
    } catch (...) {
        readerRunning_ = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    /* without a timer the reader alone reads, as it cannot be told when
       to take over */
    if (readerRunning_ && timer_ >= 0)
        vt::setPauseWatch(this);
    return readerRunning_;
}

void SeqBackend::readerIdle()
{
    if (!readerRunning_ || router_.count() > 0)
        return;
    if (vt::pauseWatch() == this)
        vt::setPauseWatch(nullptr);
    startTimer(0);
    quit_.store(true);
    uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        /* the counter is full: a wake-up is pending anyway */
    }
    reader_.join();
    readerRunning_ = false;
}

void SeqBackend::drainInput()
{
    for (;;) {
        snd_seq_event_t *ev = nullptr;
        int r = snd_seq_event_input(seq_, &ev);
        if (r == -ENOSPC) {
            /* The kernel refused events for want of room and emptied the
               queue; how many went it does not say. */
            router_.overrun(1);
            continue;
        }
        if (r < 0)
            return; /* -EAGAIN: nothing more for now */
        if (ev)
            router_.route(ev);
        /* libasound answers 1 for an event whatever is left: when its
           buffer is empty, what was read is done, and poll says when more
           comes (one read per message, not a second one that finds
           nothing) */
        if (snd_seq_event_input_pending(seq_, 0) == 0)
            return;
    }
}

/* Arms the take-over timer for `ms` from now, or clears it (0). */
bool SeqBackend::startTimer(long ms)
{
    if (timer_ < 0 || (ms == 0 && !timerSet_))
        return false;
    struct itimerspec t = {};
    t.it_value.tv_sec = ms / 1000;
    t.it_value.tv_nsec = (ms % 1000) * 1000000L;
    timerSet_ = ms != 0;
    return timerfd_settime(timer_, 0, &t, nullptr) == 0;
}

/* The pause begins: the reader parks, and the pause waits on the
   sequencer.  Either the reader sees the pause, or the pause sees the
   reader still waiting and wakes it to park (both stored, then the other
   loaded); should both read at once, the lock keeps them apart. */
int SeqBackend::pauseBegins(struct pollfd *fds, int max)
{
    if (!readerRunning_ || router_.count() == 0)
        return 0;
    startTimer(0);
    pausing_.store(true);
    if (readerWatches_.load()) {
        uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            /* the counter is full: a wake-up is pending anyway */
        }
    }
    int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
    if (n > max)
        n = max;
    return snd_seq_poll_descriptors(seq_, fds, n, POLLIN);
}

bool SeqBackend::ready(bool failed)
{
    {
        std::lock_guard<std::mutex> hold(reading_);
        drainInput();
    }
    /* a descriptor in error is left to the reader, which waits it out */
    if (failed)
        pauseEnds();
    return !failed;
}

/* The pause is over: should the main thread not come back to it soon,
   the reader takes over (at once without a timer). */
void SeqBackend::pauseEnds()
{
    if (!pausing_.load())
        return;
    pausing_.store(false);
    if (!startTimer(kTakeOverMs)) {
        uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            /* the counter is full: a wake-up is pending anyway */
        }
    }
}

void SeqBackend::readLoop()
{
    /* the wake-up and the timer first, then the sequencer's */
    struct pollfd fds[kMaxFds + 2];
    int fixed = 0;
    fds[fixed++] = {wake_, POLLIN, 0};
    if (timer_ >= 0)
        fds[fixed++] = {timer_, POLLIN, 0};
    int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
    if (n > (int)kMaxFds)
        n = kMaxFds;
    n = snd_seq_poll_descriptors(seq_, fds + fixed, n, POLLIN);
    while (!quit_.load()) {
        readerWatches_.store(true);
        bool watch = !pausing_.load();
        readerWatches_.store(watch);
        if (watch) {
            std::lock_guard<std::mutex> hold(reading_);
            drainInput();
        }
        int r = poll(fds, watch ? fixed + n : fixed, -1);
        if (r < 0 && errno != EINTR)
            poll(fds, 1, 100); /* something is wrong: no faster than this */
        for (int i = 0; i < fixed; i++) {
            if (fds[i].revents & POLLIN) {
                uint64_t v;
                if (read(fds[i].fd, &v, sizeof v) < 0) {
                    /* nothing to take: another wake-up got it */
                }
            }
        }
        if (!watch)
            continue;
        for (int i = fixed; i < fixed + n; i++) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                poll(fds, 1, 100);
                break;
            }
        }
    }
}

/* Made once and never destroyed: at exit the process ends with the
   client (a reader thread still running then must not be joined by a
   static destructor). */
SeqBackend *gBackend = nullptr;
bool gTried = false;

} // namespace

vt::Backend *vtAlsaBackend(void)
{
    if (!gTried) {
        gTried = true;
        SeqBackend *b = new (std::nothrow) SeqBackend;
        if (b && b->open())
            gBackend = b;
        else
            delete b;
    }
    return gBackend;
}
