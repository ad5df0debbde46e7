/*
 * The receive path as a user sees it: messages enter the built-in loopback
 * port (the producer thread writes them to its cable end, as a sender on
 * the other side of a cable would), the port layer parses them and calls
 * the program's input callback, and the program's own main loop
 * (runMainLoop, the real console with its wake-up pause) shows them.
 * Standard output is a pipe read by a thread of this driver; a message
 * counts as shown when its whole line ("  MIDI Note ON ... )\n") has come
 * out of the pipe.
 *
 * Every message carries its sequence number (the channel nibble and the
 * two data bytes of a note-on, 18 bits).  Three times are taken per
 * message: when the producer sends it, when the port layer calls the
 * program's callback (a wrapper of the callback takes the time, then calls
 * midiCallback), and when its line is read from the pipe.  The delay
 * reported is callback to line; send to line is reported beside it.
 *
 * Phases: a paced stream at 1,000 and at 10,000 messages per second;
 * 50,000 messages as fast as the port takes them (throughput and loss);
 * a burst of 8,000 messages written to the port at once (all shown? time
 * to drain).
 */
#include "frontend/frontend.h"
#include "input/input.h"
#include "platform/common/service.h"
#include "platform/loopback/loopback.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint32_t kSeqs = 1u << 18;
int64_t gSend[kSeqs], gCallback[kSeqs], gShown[kSeqs];
std::atomic<uint32_t> gShownCount{0};
std::atomic<uint32_t> gLostReported{0};
uint32_t gNextSeq = 0;

int64_t nowNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

/* ---- the callback, timed ------------------------------------------------ */

VtMidiInProc gProgramCallback = nullptr;
VtMidiService gTimed;

void CALLBACK timedCallback(HMIDIIN h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2)
{
    if (msg == MIM_DATA && (p1 & 0xF0) == 0x90) {
        uint32_t seq = (uint32_t)((p1 & 0x0F) << 14 | ((p1 >> 8) & 0x7F) << 7 | ((p1 >> 16) & 0x7F));
        gCallback[seq] = nowNs();
    }
    gProgramCallback(h, msg, inst, p1, p2);
}

MMRESULT timedInOpen(LPHMIDIIN ph, UINT id, DWORD_PTR cb, DWORD_PTR inst, DWORD flags)
{
    gProgramCallback = (VtMidiInProc)cb;
    return vtRealMidi()->inOpen(ph, id, (DWORD_PTR)timedCallback, inst, flags);
}

/* ---- the console, read back --------------------------------------------- */

void readConsole(int fd)
{
    static char buf[1 << 16];
    std::string line;
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        int64_t t = nowNs();
        for (ssize_t i = 0; i < n; i++) {
            if (buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            size_t at = line.find("MIDI Note ON");
            unsigned s, d1, d2, lost;
            if (at != std::string::npos && sscanf(line.c_str() + at + 12, "%x %x %x", &s, &d1, &d2) == 3) {
                uint32_t seq = (s & 0x0F) << 14 | (d1 & 0x7F) << 7 | (d2 & 0x7F);
                gShown[seq] = t;
                gShownCount.fetch_add(1, std::memory_order_release);
            } else if (sscanf(line.c_str(), "ERROR MIDI IN: %u messages lost", &lost) == 1) {
                gLostReported.fetch_add(lost);
            }
            line.clear();
        }
    }
}

/* ---- the producer -------------------------------------------------------- */

vt::OutPort *gCable = nullptr;

void encode(uint32_t seq, uint8_t *m)
{
    m[0] = (uint8_t)(0x90 | (seq >> 14));
    m[1] = (uint8_t)((seq >> 7) & 0x7F);
    m[2] = (uint8_t)(seq & 0x7F);
}

void sleepUntil(int64_t t)
{
    struct timespec ts = {(time_t)(t / 1000000000), (long)(t % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

/* waits until `want` messages in all were shown; false after the limit */
bool waitShown(uint32_t want, double seconds)
{
    int64_t end = nowNs() + (int64_t)(seconds * 1e9);
    while (gShownCount.load(std::memory_order_acquire) < want) {
        if (nowNs() > end)
            return false;
        usleep(1000);
    }
    usleep(20000); /* stragglers and the loss line, should there be one */
    return true;
}

struct Range {
    uint32_t first, count;
    double cpu; /* CPU time of the whole process over the phase, in cores */
};

double cpuSeconds()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

Range paced(unsigned rate, double seconds)
{
    Range r = {gNextSeq, (uint32_t)(rate * seconds), 0};
    double c0 = cpuSeconds();
    int64_t w0 = nowNs();
    int64_t period = 1000000000LL / rate;
    int64_t t0 = nowNs() + 1000000;
    for (uint32_t k = 0; k < r.count; k++) {
        sleepUntil(t0 + k * period);
        uint8_t m[3];
        uint32_t seq = gNextSeq++;
        encode(seq, m);
        gSend[seq] = nowNs();
        gCable->send(m, 3);
    }
    r.cpu = (cpuSeconds() - c0) / ((double)(nowNs() - w0) / 1e9);
    waitShown(r.first + r.count, 10);
    return r;
}

Range flood(uint32_t count, uint32_t perSend)
{
    Range r = {gNextSeq, count, 0};
    std::vector<uint8_t> buf(3 * perSend);
    for (uint32_t k = 0; k < count; k += perSend) {
        uint32_t n = std::min(perSend, count - k);
        int64_t t = nowNs();
        for (uint32_t j = 0; j < n; j++) {
            uint32_t seq = gNextSeq++;
            encode(seq, &buf[3 * j]);
            gSend[seq] = t;
        }
        gCable->send(buf.data(), 3 * n);
    }
    waitShown(r.first + r.count, 30);
    return r;
}

/* ---- figures -------------------------------------------------------------- */

struct Stats {
    uint32_t shown = 0;
    double medianUs = 0, p99Us = 0, maxUs = 0, e2eMedianUs = 0, e2eP99Us = 0;
    int64_t firstSend = 0, firstCallback = 0, lastShown = 0;
};

double pick(std::vector<double> &v, double q)
{
    if (v.empty())
        return 0;
    size_t i = (size_t)(q * (double)(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), v.begin() + (long)i, v.end());
    return v[i];
}

Stats stats(Range r)
{
    Stats s;
    std::vector<double> d, e;
    s.firstSend = gSend[r.first];
    s.firstCallback = INT64_MAX;
    for (uint32_t q = r.first; q < r.first + r.count; q++) {
        if (gCallback[q])
            s.firstCallback = std::min(s.firstCallback, gCallback[q]);
        if (!gShown[q])
            continue;
        s.shown++;
        s.lastShown = std::max(s.lastShown, gShown[q]);
        d.push_back((double)(gShown[q] - gCallback[q]) / 1000.0);
        e.push_back((double)(gShown[q] - gSend[q]) / 1000.0);
    }
    s.medianUs = pick(d, 0.5);
    s.p99Us = pick(d, 0.99);
    s.maxUs = pick(d, 1.0);
    s.e2eMedianUs = pick(e, 0.5);
    s.e2eP99Us = pick(e, 0.99);
    return s;
}

FILE *gReport;

void result(const char *measure, const std::string &value, const char *target, const char *met)
{
    fprintf(gReport, "RESULT\t%s\t%s\t%s\t%s\n", measure, value.c_str(), target, met);
}

std::string fmt(const char *f, double v)
{
    char b[64];
    snprintf(b, sizeof b, f, v);
    return b;
}

} // namespace

int main()
{
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0); /* 1 us: pacing at 10 kHz */

    /* the program's console: output into a pipe read here, keys from a
       pipe written here; this driver reports on the original output */
    int reportFd = dup(1);
    gReport = fdopen(reportFd, "w");
    setvbuf(gReport, nullptr, _IOLBF, 0);
    int outPipe[2], keyPipe[2];
    if (pipe(outPipe) != 0 || pipe(keyPipe) != 0)
        return 1;
    fcntl(outPipe[1], F_SETPIPE_SZ, 1 << 20);
    dup2(outPipe[1], 1);
    close(outPipe[1]);
    dup2(keyPipe[0], 0);
    close(keyPipe[0]);

    gTimed = *vtRealMidi();
    gTimed.inOpen = timedInOpen;
    vtInstallMidi(&gTimed);
    platformInit();
    initSettings();
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
    bool outFound = false, inFound = false;
    for (uint32_t i = 0; i < goNumDevs && !outFound; i++)
        if (midiOutGetDevCapsA(i, &gMoc, sizeof gMoc) == 0 && strcmp(gMoc.szPname, VT_LOOPBACK_NAME) == 0) {
            goSelDev = i;
            outFound = true;
        }
    for (uint32_t i = 0; i < giNumDevs && !inFound; i++)
        if (midiInGetDevCapsA(i, &gMic, sizeof gMic) == 0 && strcmp(gMic.szPname, VT_LOOPBACK_NAME) == 0) {
            giSelDev = i;
            inFound = true;
        }
    if (!outFound || !inFound) {
        fprintf(gReport, "no loopback port\n");
        return 1;
    }
    gCable = vtLoopbackBackend()->openOut(0);

    std::thread reader(readConsole, outPipe[0]);
    statusReport();

    Range r1k, r10k, rFlood, rBurst;
    int64_t burstStart = 0;
    std::thread controller([&] {
        paced(1000, 0.2); /* warm-up */
        r1k = paced(1000, 5);
        r10k = paced(10000, 3);
        rFlood = flood(50000, 64);
        usleep(200000);
        burstStart = nowNs();
        rBurst = flood(8000, 8000);
        if (write(keyPipe[1], "\x1b\r", 2) != 2)
            abort();
    });
    runMainLoop();
    controller.join();
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1); /* the pipe's last writer gone: the reader ends */
    reader.join();

    Stats s1 = stats(r1k), s10 = stats(r10k), sf = stats(rFlood), sb = stats(rBurst);
    fprintf(gReport,
        "receive path: loopback port -> port layer -> callback -> ring -> main loop -> console pipe\n");
    for (auto &p : {std::make_pair("1,000 msg/s", &s1), std::make_pair("10,000 msg/s", &s10)}) {
        const Stats &s = *p.second;
        uint32_t sent = p.second == &s1 ? r1k.count : r10k.count;
        fprintf(gReport,
            "  paced %-13s %6u sent %6u shown; callback->line median %7.1f us p99 %7.1f us max %8.1f us;"
            " send->line median %7.1f us p99 %7.1f us; CPU of all threads %.0f%% of one core\n",
            p.first, sent, s.shown, s.medianUs, s.p99Us, s.maxUs, s.e2eMedianUs, s.e2eP99Us,
            100 * (p.second == &s1 ? r1k.cpu : r10k.cpu));
    }
    double floodSecs = (double)(sf.lastShown - sf.firstSend) / 1e9;
    fprintf(gReport, "  flood: %u sent, %u shown in %.3f s = %.0f msg/s; loss %u (reported lost %u)\n",
        rFlood.count, sf.shown, floodSecs, sf.shown / floodSecs, rFlood.count - sf.shown,
        gLostReported.load());
    double drainMs = (double)(sb.lastShown - sb.firstCallback) / 1e6;
    double burstMs = (double)(sb.lastShown - burstStart) / 1e6;
    fprintf(gReport,
        "  burst: %u written at once, %u shown; drained %.1f ms after the first callback"
        " (%.1f ms after the write)\n",
        rBurst.count, sb.shown, drainMs, burstMs);

    result("delay callback->console at 1,000 msg/s, median", fmt("%.1f us", s1.medianUs), "", "");
    result("delay callback->console at 1,000 msg/s, p99", fmt("%.1f us", s1.p99Us), "< 200 us",
        s1.p99Us < 200 && s1.shown == r1k.count ? "yes" : "NO");
    result("delay callback->console at 10,000 msg/s, median", fmt("%.1f us", s10.medianUs), "", "");
    result("delay callback->console at 10,000 msg/s, p99", fmt("%.1f us", s10.p99Us), "", "");
    result("loss at 1,000 / 10,000 msg/s",
        std::to_string(r1k.count - s1.shown) + " / " + std::to_string(r10k.count - s10.shown), "0",
        r1k.count == s1.shown && r10k.count == s10.shown ? "yes" : "NO");
    result("receive throughput (50,000 messages, as fast as the port takes them)",
        fmt("%.0f msg/s", sf.shown / floodSecs), "", "");
    result("loss in the flood", std::to_string(rFlood.count - sf.shown), "", "");
    result("burst of 8,000 at once: shown", std::to_string(sb.shown) + " of 8000",
        "all (no loss up to the ring's 8191)", sb.shown == 8000 ? "yes" : "NO");
    result("burst of 8,000 at once: time to drain", fmt("%.1f ms", drainMs), "", "");
    return 0;
}
