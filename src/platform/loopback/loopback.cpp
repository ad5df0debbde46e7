/*
 * Loopback port.  The sender copies its bytes into a fixed ring and returns
 * as soon as they are in it; the input's own delivery thread takes them out
 * and hands them to the sink, so the sink never runs on the sender's stack
 * (a sender that is also the input's reader cannot then deadlock on
 * itself).  A full ring makes the sender wait: a cable drops nothing.
 * While no input is listening, sent bytes go nowhere, as on a cable with
 * nothing plugged in at the other end.  The bytes of each send arrive at
 * the time they were sent, however late the delivery thread takes them,
 * as over a cable: what was sent apart never shares an arrival time.
 */
#include "loopback.h"

#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

/* A cable holds little, and so does this one: what a sender has sent and
   the input has not taken yet is never more than the ring and the chunk
   under way, 128 bytes.  A receiver that looks at its queues between two
   sends (a program taking keys from a pipe) then never finds more than
   that arriving at once, however late the delivery thread gets to run;
   a ring of kilobytes would let thousands of messages land together and
   overflow the queues behind it.  A sender of more waits for room. */
const size_t kRing = 64;
const size_t kChunk = 64; /* most bytes handed to the sink in one call */

class Loopback;

class LoopOut : public vt::OutPort {
public:
    explicit LoopOut(Loopback *lb) : lb_(lb) {}
    bool send(const uint8_t *p, size_t n) override;

private:
    Loopback *lb_;
};

class LoopIn : public vt::InPort {
public:
    LoopIn(Loopback *lb, vt::InputSink *sink) : lb_(lb), sink_(sink) {}
    ~LoopIn() override;
    bool start() override;
    void stop() override;

private:
    Loopback *lb_;
    vt::InputSink *sink_;
};

class Loopback : public vt::Backend {
public:
    void snapshot() override {}
    unsigned outCount() override { return 1; }
    unsigned inCount() override { return 1; }
    bool outName(unsigned i, char name[32]) override { return portName(i, name); }
    bool inName(unsigned i, char name[32]) override { return portName(i, name); }

    vt::OutPort *openOut(unsigned i) override { return i == 0 ? new LoopOut(this) : nullptr; }

    vt::InPort *openIn(unsigned i, vt::InputSink *sink) override
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (i != 0 || !sink || inOpen_)
            return nullptr; /* one listener at a time, like one cable end */
        inOpen_ = true;
        return new LoopIn(this, sink);
    }

    bool send(const uint8_t *p, size_t n)
    {
        std::unique_lock<std::mutex> lk(mx_);
        /* A cable carries one send after another: two sends within one
           microsecond still arrive one after the other, so that what
           orders by arrival (the MIDI file log) keeps the order sent. */
        int64_t sentUs = vtClockUs();
        if (sentUs <= lastSentUs_)
            sentUs = lastSentUs_ + 1;
        lastSentUs_ = sentUs;
        while (n > 0 && listening_) {
            notFull_.wait(lk, [this] { return count_ < kRing || !listening_; });
            if (!listening_)
                break;
            size_t room = kRing - count_;
            size_t tail = (head_ + count_) % kRing;
            size_t k = n < room ? n : room;
            if (k > kRing - tail)
                k = kRing - tail; /* up to the end of the ring; the loop does the rest */
            memcpy(ring_ + tail, p, k);
            count_ += k;
            mark(k, sentUs);
            p += k;
            n -= k;
            notEmpty_.notify_one();
        }
        return true;
    }

    bool start(vt::InputSink *sink)
    {
        std::lock_guard<std::mutex> lk(mx_);
        if (listening_)
            return true;
        head_ = count_ = 0;
        sendFirst_ = sendCount_ = 0;
        sink_ = sink;
        listening_ = true;
        try {
            thread_ = std::thread(&Loopback::deliver, this);
        } catch (...) {
            listening_ = false;
            return false;
        }
        return true;
    }

    void stop()
    {
        std::thread t;
        {
            std::lock_guard<std::mutex> lk(mx_);
            if (!listening_)
                return;
            listening_ = false;
            count_ = 0; /* what was not delivered yet falls off the cable */
            sendCount_ = 0;
            t.swap(thread_);
        }
        notEmpty_.notify_all();
        notFull_.notify_all();
        t.join();
    }

    void closeIn()
    {
        stop();
        std::lock_guard<std::mutex> lk(mx_);
        inOpen_ = false;
    }

private:
    static bool portName(unsigned i, char name[32])
    {
        if (i != 0)
            return false;
        strncpy(name, VT_LOOPBACK_NAME, 31);
        name[31] = 0;
        return true;
    }

    void deliver()
    {
        for (;;) {
            size_t n;
            int64_t at;
            vt::InputSink *sink;
            {
                std::unique_lock<std::mutex> lk(mx_);
                notEmpty_.wait(lk, [this] { return count_ > 0 || !listening_; });
                if (!listening_)
                    return;
                n = count_ < kChunk ? count_ : kChunk;
                if (n > kRing - head_)
                    n = kRing - head_;
                Sent &first = sends_[sendFirst_];
                if (n > first.left)
                    n = first.left;
                at = first.atUs;
                memcpy(chunk_, ring_ + head_, n);
                head_ = (head_ + n) % kRing;
                count_ -= n;
                first.left -= n;
                if (first.left == 0) {
                    sendFirst_ = (sendFirst_ + 1) % kSends;
                    sendCount_--;
                }
                sink = sink_;
            }
            notFull_.notify_all();
            sink->bytesAt(chunk_, n, at);
        }
    }

    /* k more bytes in the ring, sent at sentUs: of the latest send's
       record when they are of the same send (or no record is left) */
    void mark(size_t k, int64_t sentUs)
    {
        if (sendCount_ > 0) {
            Sent &last = sends_[(sendFirst_ + sendCount_ - 1) % kSends];
            if (last.atUs == sentUs || sendCount_ == kSends) {
                last.left += k;
                return;
            }
        }
        sends_[(sendFirst_ + sendCount_++) % kSends] = Sent{k, sentUs};
    }

    std::mutex mx_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    uint8_t ring_[kRing];
    size_t head_ = 0;
    size_t count_ = 0;
    uint8_t chunk_[kChunk]; /* the delivery thread's alone */
    /* the bytes in the ring, send by send, oldest first */
    struct Sent {
        size_t left;
        int64_t atUs;
    };
    static const size_t kSends = 1024;
    Sent sends_[kSends];
    size_t sendFirst_ = 0, sendCount_ = 0;
    int64_t lastSentUs_ = -1;
    bool inOpen_ = false;
    bool listening_ = false;
    vt::InputSink *sink_ = nullptr;
    std::thread thread_;
};

bool LoopOut::send(const uint8_t *p, size_t n) { return lb_->send(p, n); }

LoopIn::~LoopIn() { lb_->closeIn(); }
bool LoopIn::start() { return lb_->start(sink_); }
void LoopIn::stop() { lb_->stop(); }

} // namespace

vt::Backend *vtLoopbackBackend(void)
{
    /* Never destroyed: an input left open at exit keeps its thread, which
       must not find the ring torn down under it. */
    static Loopback *lb = new Loopback;
    return lb;
}
