/*
 * The input parser on an arbitrary byte stream, its SysEx kept by the port
 * host's long-message queue (host/longinput.h) in input headers of an
 * arbitrary small size: some queued at the start, more at a place in the
 * stream, so that messages are held meanwhile (in a small store, which
 * fills) and handed over then.
 *
 * Checked:
 * - every short message is well formed: a status byte, data bytes below
 *   0x80 as many as the status takes, the unused bytes and bits 24-31
 *   zero; an invalid-byte notice holds one data byte alone;
 * - every header handed back was queued, comes back once, in queue order,
 *   with no more bytes recorded than it holds; a SysEx starts with F0 (a
 *   piece without it only after a full one), its bytes in between are data
 *   bytes, and only MIM_LONGDATA may end in F7; a header is never written
 *   once handed back, nor past its length;
 * - the stream fed whole, byte by byte, or cut at any place gives the same
 *   notifications in the same order;
 * - no byte is counted twice: the data bytes shown in short messages,
 *   invalid-byte notices and headers never outnumber those fed;
 * - no byte is invented or lost unsaid: the pieces handed back, joined,
 *   are the stream's SysEx messages in order (real time left out), each
 *   ended as it was (MIM_LONGERROR once for one cut off by a status byte)
 *   or, when its rest was dropped, its beginning; every message passed
 *   over was counted dropped.
 * - what -x says of each message (extras/explain.h) is printable ASCII
 *   without a semicolon that fits its buffer, and a SysEx is explained from a copy of exactly
 *   its bytes, so that a read past it stops the run.
 */
#include "fuzz_common.h"

#include "extras/explain.h"
#include "platform/common/inparser.h"
#include "platform/host/longinput.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const unsigned kMaxHeaders = 4; /* queued at the start, and as many later */
const unsigned kMaxHeaderSize = 40;
const size_t kHeldBytes = 300; /* what may wait: small, so that it fills */

enum End { Open, Whole, Cut };

struct Sysex {
    std::vector<uint8_t> bytes;
    End end;
};

/* The SysEx messages of a stream, read plainly: F0 starts one, data bytes
   go on, F7 ends it, any other status byte but real time cuts it off. */
std::vector<Sysex> sysexOf(const std::vector<uint8_t> &stream)
{
    std::vector<Sysex> all;
    for (uint8_t b : stream) {
        bool in = !all.empty() && all.back().end == Open;
        if (b >= 0xF8 || (!in && b != 0xF0))
            continue;
        if (in && (b < 0x80 || b == 0xF7))
            all.back().bytes.push_back(b);
        if (in && b >= 0x80)
            all.back().end = b == 0xF7 ? Whole : Cut;
        if (b == 0xF0)
            all.push_back(Sysex{{b}, Open});
    }
    return all;
}

struct Note {
    UINT kind;
    DWORD word;                 /* short messages */
    int header;                 /* long messages: which header */
    std::vector<uint8_t> bytes; /* long messages: what it held */
    bool operator==(const Note &o) const
    {
        return kind == o.kind && word == o.word && header == o.header && bytes == o.bytes;
    }
};

/* an explanation as the display would print it */
void checkExplanation(const char *text, size_t n, size_t size, const char *of)
{
    FUZZ_CHECK(n < size && text[n] == 0, "explanation of %s: %zu of %zu", of, n, size);
    for (size_t i = 0; i < n; i++)
        FUZZ_CHECK(text[i] >= 0x20 && text[i] <= 0x7E && text[i] != ';', "byte %02x in the explanation of %s",
            (uint8_t)text[i], of);
}

unsigned dataBytesOf(uint8_t s)
{
    if (s < 0xF0)
        return (s & 0xE0) == 0xC0 ? 1 : 2;
    if (s == 0xF1 || s == 0xF3)
        return 1;
    if (s == 0xF2)
        return 2;
    return 0;
}

class Target : public vt::InParserTarget, public vt::LongInputTarget {
public:
    Target(unsigned early, unsigned headerSize) : early_(early), size_(headerSize)
    {
        for (unsigned i = 0; i < 2 * kMaxHeaders; i++) {
            memset(&hdr_[i], 0, sizeof hdr_[i]);
            memset(buf_[i], 0xEE, sizeof buf_[i]);
            hdr_[i].lpData = (LPSTR)buf_[i];
            hdr_[i].dwBufferLength = size_;
        }
        queue(early_);
    }

    /* the headers queued later, at one place in the stream */
    void queueLate() { queue(kMaxHeaders); }

    void shortMessage(UINT kind, DWORD word) override
    {
        uint8_t s = word & 0xFF, d1 = (word >> 8) & 0xFF, d2 = (word >> 16) & 0xFF;
        FUZZ_CHECK((word >> 24) == 0, "bits 24-31 set in %08x", (unsigned)word);
        if (kind == MIM_ERROR) {
            FUZZ_CHECK(s < 0x80 && d1 == 0 && d2 == 0, "invalid-byte notice %06x", (unsigned)word);
            dataShown_ += 1;
        } else {
            FUZZ_CHECK(kind == MIM_DATA, "short notification kind %u", kind);
            FUZZ_CHECK(s >= 0x80 && s != 0xF0, "status %02x", s);
            unsigned need = s >= 0xF8 ? 0 : dataBytesOf(s);
            FUZZ_CHECK(need >= 1 ? d1 < 0x80 : d1 == 0, "first data byte of %06x", (unsigned)word);
            FUZZ_CHECK(need >= 2 ? d2 < 0x80 : d2 == 0, "second data byte of %06x", (unsigned)word);
            dataShown_ += need;
            explain(word);
        }
        notes_.push_back(Note{kind, word, -1, {}});
    }

    void sysexBytes(const uint8_t *p, size_t n) override
    {
        checkUntouched();
        long_.bytes(p, n, ++clock_);
    }

    void sysexEnd(UINT kind) override { long_.end(kind, ++clock_); }

    void headerBack(LPMIDIHDR h, UINT kind, int64_t atUs) override
    {
        /* messages come back in the order they arrived, so their times
           never go back, held or not */
        FUZZ_CHECK(atUs >= lastAt_, "a message of %lld handed back after one of %lld", (long long)atUs,
            (long long)lastAt_);
        lastAt_ = atUs;
        FUZZ_CHECK(next_ < added_ && h == &hdr_[next_], "header handed back out of order");
        FUZZ_CHECK(kind == MIM_LONGDATA || kind == MIM_LONGERROR, "long notification kind %u", kind);
        DWORD n = h->dwBytesRecorded;
        const uint8_t *b = (const uint8_t *)h->lpData;
        if (resetting_) {
            FUZZ_CHECK(n == 0 && kind == MIM_LONGDATA, "the reset handed back %u bytes", n);
            memcpy(back_[next_], buf_[next_], sizeof back_[next_]);
            next_++;
            return;
        }
        /* empty only as the end of a message cut off right after a full
           piece */
        FUZZ_CHECK(n <= size_ && (n >= 1 || (kind == MIM_LONGERROR && continued_)),
            "%u bytes recorded in a header of %u", n, size_);
        /* a message that filled a header goes on in the next one: only the
           first piece starts with F0 */
        DWORD start = 1;
        if (n == 0 || b[0] != 0xF0) {
            FUZZ_CHECK(continued_, "SysEx starts with %02x", n ? b[0] : 0);
            start = 0;
        } else if (continued_) {
            got_.push_back(Sysex{joined_, Open}); /* the rest of it was dropped */
            joined_.clear();
        }
        for (DWORD i = start; i < n; i++) {
            bool last = i == n - 1;
            if (last && b[i] == 0xF7) {
                FUZZ_CHECK(kind == MIM_LONGDATA, "a broken-off SysEx ends in F7");
                continue;
            }
            FUZZ_CHECK(b[i] < 0x80, "byte %02x inside a SysEx at %u of %u", b[i], i, n);
        }
        bool full = n == size_ && b[n - 1] != 0xF7;
        continued_ = full && kind == MIM_LONGDATA;
        FUZZ_CHECK(kind == MIM_LONGERROR || full || b[n - 1] == 0xF7, "a SysEx handed back without its end");
        joined_.insert(joined_.end(), b, b + n);
        if (!continued_) {
            got_.push_back(Sysex{joined_, kind == MIM_LONGERROR ? Cut : Whole});
            joined_.clear();
        }
        dataShown_ += n;
        if (explaining_) {
            std::vector<uint8_t> exact(b, b + n);
            char text[96];
            checkExplanation(text, explainSysex(exact.data(), n, text, sizeof text), sizeof text, "a SysEx");
        }
        memcpy(back_[next_], buf_[next_], sizeof back_[next_]);
        notes_.push_back(Note{kind, 0, (int)next_, std::vector<uint8_t>(b, b + n)});
        next_++;
    }

    /* a header handed back belongs to the program: the queue keeps off */
    void checkUntouched() const
    {
        for (unsigned i = 0; i < next_; i++)
            FUZZ_CHECK(
                memcmp(back_[i], buf_[i], sizeof buf_[i]) == 0, "header %u written after it went back", i);
        for (unsigned i = next_; i < 2 * kMaxHeaders; i++)
            for (unsigned j = i < added_ ? size_ : 0; j < kMaxHeaderSize; j++)
                FUZZ_CHECK(buf_[i][j] == 0xEE, "header %u written past its length at %u", i, j);
    }

    /* At the end of the stream: the port's reset, which counts what was
       still held, and the message of the last pieces, if it never ended. */
    void finish()
    {
        resetting_ = true;
        dropped_ += long_.reset();
        if (continued_)
            got_.push_back(Sysex{joined_, Open});
    }

    std::vector<Note> notes_;
    size_t dataShown_ = 0;
    std::vector<Sysex> got_; /* the SysEx messages handed back, pieces joined */
    unsigned dropped_ = 0;
    bool explaining_ = false; /* the run whose messages -x explains */

private:
    void explain(DWORD word)
    {
        if (!explaining_)
            return;
        char text[64];
        /* ticks at a pace the data bytes choose */
        at_ += 1000 + 300 * ((word >> 8) & 0x7F);
        explainer_.take(word, at_);
        checkExplanation(text, explainer_.shortText(word, text, sizeof text), sizeof text, "a message");
        if ((word & 0xFF) == 0xF8)
            checkExplanation(text, explainer_.tempoNews(text, sizeof text), sizeof text, "the tempo");
    }

    Explainer explainer_;
    int64_t at_ = 0;
    void queue(unsigned k)
    {
        for (unsigned i = 0; i < k && added_ < 2 * kMaxHeaders; i++) {
            unsigned lost = long_.add(&hdr_[added_++]);
            dropped_ += lost;
            notes_.push_back(Note{0, 0, (int)added_ - 1, {(uint8_t)lost}});
        }
    }

    vt::LongInput long_{this, kHeldBytes};
    unsigned early_, size_;
    unsigned added_ = 0;
    unsigned next_ = 0;
    bool continued_ = false;
    bool resetting_ = false;
    std::vector<uint8_t> joined_; /* the pieces so far of a message that goes on */
    int64_t clock_ = 0;           /* a time for each call of the parser's */
    int64_t lastAt_ = 0;          /* of the header handed back last */
    MIDIHDR hdr_[2 * kMaxHeaders];
    uint8_t buf_[2 * kMaxHeaders][kMaxHeaderSize];
    uint8_t back_[2 * kMaxHeaders][kMaxHeaderSize];
};

/* Feeds the stream in pieces ending at each of `cuts` (byte by byte with
   `single`), queueing the late headers where the stream reaches `late`. */
void run(Target &t, const std::vector<uint8_t> &bytes, std::vector<size_t> cuts, size_t late, bool single)
{
    vt::InParser p(&t);
    cuts.push_back(late);
    cuts.push_back(bytes.size());
    std::sort(cuts.begin(), cuts.end());
    size_t from = 0;
    for (size_t c : cuts) {
        if (single)
            for (; from < c; from++)
                p.feed(bytes[from]);
        else if (c > from)
            p.feed(bytes.data() + from, c - from);
        from = std::max(from, c);
        if (c == late) {
            t.queueLate();
            late = (size_t)-1;
        }
    }
    t.finish();
}

/* Each message handed back is the next of the stream's that it equals,
   ended the same way (or, when its rest was dropped, begins); those passed
   over were counted dropped (the one still open at the end perhaps too,
   when its drop began). */
void checkSysex(const Target &t, const std::vector<uint8_t> &stream)
{
    std::vector<Sysex> sent = sysexOf(stream);
    size_t at = 0;
    unsigned passed = 0;
    for (const Sysex &g : t.got_) {
        for (;; passed += sent[at++].end != Open) {
            FUZZ_CHECK(at < sent.size(), "a SysEx of %zu bytes handed back, never sent", g.bytes.size());
            const Sysex &s = sent[at];
            bool begins = g.bytes.size() <= s.bytes.size() &&
                          std::equal(g.bytes.begin(), g.bytes.end(), s.bytes.begin());
            if (begins && (g.end == Open || (g.end == s.end && g.bytes.size() == s.bytes.size())))
                break;
        }
        passed += g.end == Open && sent[at].end != Open;
        at++;
    }
    for (; at < sent.size(); at++)
        passed += sent[at].end != Open;
    bool open = !sent.empty() && sent.back().end == Open;
    FUZZ_CHECK(t.dropped_ == passed || (open && t.dropped_ == passed + 1),
        "%u passed over, %u counted dropped", passed, t.dropped_);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    unsigned headers = in.ConsumeIntegralInRange<unsigned>(0, kMaxHeaders);
    unsigned headerSize = in.ConsumeIntegralInRange<unsigned>(1, kMaxHeaderSize);
    size_t cut = in.ConsumeIntegral<uint16_t>();
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    if (cut > bytes.size())
        cut = bytes.size();
    size_t late = bytes.size() - cut; /* somewhere else than the cut, mostly */

    Target whole(headers, headerSize);
    whole.explaining_ = true;
    run(whole, bytes, {}, late, false);
    whole.checkUntouched();

    size_t fedData = 0;
    for (uint8_t b : bytes)
        fedData += b < 0x80 || b == 0xF0 || b == 0xF7;
    FUZZ_CHECK(whole.dataShown_ <= fedData, "%zu bytes shown of %zu fed", whole.dataShown_, fedData);
    checkSysex(whole, bytes);

    Target single(headers, headerSize);
    run(single, bytes, {}, late, true);
    FUZZ_CHECK(single.notes_ == whole.notes_, "byte by byte differs from whole");

    Target split(headers, headerSize);
    run(split, bytes, {cut}, late, false);
    FUZZ_CHECK(split.notes_ == whole.notes_, "cut at %zu differs from whole", cut);
    return 0;
}
