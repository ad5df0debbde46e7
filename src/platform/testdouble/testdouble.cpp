/*
 * The scriptable double of the ports, the console keyboard and the files.
 *
 * The ports are a backend of the real port host (host/host.cpp): its
 * scripted ports are the only ones the host offers while the double is
 * installed, so the system code meets the host's own handles, header
 * rules and input queue.  What is the double's own:
 * - the port lists, each port with an address of its own (a new one each
 *   time a port appears, as a program that starts again gets a new client
 *   number); ports that vanish and come back, told to the host as the
 *   sequencer's announcements are (or not, as winmm tells nothing);
 * - at most one open output, and each input port open once (a second open
 *   answers MMSYSERR_ALLOCATED); several inputs are open at once when they
 *   are merged;
 * - every sent long message recorded;
 * - notifications delivered into the open input on a thread of their own,
 *   as a real port's thread would: short messages and invalid bytes as
 *   they are, long messages straight into the first queued header;
 * - injected failures: a failing capability query or open is the port's
 *   own refusal (the host then answers as it does for such a port), every
 *   other failing operation answers MMSYSERR_ERROR before the host is
 *   asked, so it changes nothing; the calls of each operation are counted.
 *
 * The keyboard is a queue of scripted keys, its line input the shared line
 * editor; with endOfInput off and no key queued, _getch and readLine
 * answer -1 (a real keyboard would block, which no test wants).  The files
 * are the real ones with faults on demand.
 */
#include "testdouble.h"

#include "../common/backend.h"
#include "../common/lineedit.h"
#include "../common/service.h"
#include "../host/host.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace td {
namespace {

const int kOps = VT_MIDI_OP_COUNT;

struct Failures {
    bool all[kOps] = {};
    std::vector<int> ports[kOps];
};

class DoubleOut;
class DoubleIn;

struct State {
    std::vector<std::string> outNames;
    std::vector<std::string> inNames;
    std::vector<int> outAddr; /* each port's address, beside its name */
    std::vector<int> inAddr;
    int nextAddr = 20;
    bool notifies = true;
    Failures fail;
    int stillPlaying = 0;
    int calls[kOps] = {};
    std::vector<std::vector<uint8_t>> sent;
    DoubleOut *out = nullptr;     /* the open output port, if any */
    DoubleIn *in = nullptr;       /* the input port opened first, if any */
    std::vector<DoubleIn *> ins;  /* every open input port */
};

std::mutex gMx;        /* guards gState; never held while a sink or callback runs */
std::mutex gDeliverMx; /* one delivery at a time; a closing input waits for it */
State gState;

bool perPort(int op) { return op == OutCaps || op == InCaps || op == OutOpen || op == InOpen; }

/* gMx held */
bool failing(int op, int port)
{
    const Failures &f = gState.fail;
    if (f.all[op])
        return true;
    for (int p : f.ports[op])
        if (p == port)
            return true;
    return false;
}

void clearFailures()
{
    for (int i = 0; i < kOps; i++) {
        gState.fail.all[i] = false;
        gState.fail.ports[i].clear();
    }
    gState.stillPlaying = 0;
}

/* ---- the scripted ports, a backend of the host ------------------------ */

class DoubleOut : public vt::OutPort {
public:
    explicit DoubleOut(int addr) : addr_(addr) {}
    ~DoubleOut() override
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.out = nullptr;
    }
    bool send(const uint8_t *p, size_t n) override
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (gone_)
            return false;
        gState.sent.emplace_back(p, p + n);
        return true;
    }
    bool gone() override
    {
        std::lock_guard<std::mutex> lk(gMx);
        return gone_;
    }
    /* gMx held */
    int addr() const { return addr_; }
    void vanish() { gone_ = true; }

private:
    int addr_;
    bool gone_ = false;
};

class DoubleIn : public vt::InPort {
public:
    DoubleIn(vt::InputSink *sink, int addr, const std::string &name) : sink_(sink), addr_(addr), name_(name) {}
    ~DoubleIn() override
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (size_t i = 0; i < gState.ins.size(); i++)
            if (gState.ins[i] == this)
                gState.ins.erase(gState.ins.begin() + (long)i--);
        if (gState.in == this)
            gState.in = gState.ins.empty() ? nullptr : gState.ins[0];
    }
    bool gone() override
    {
        std::lock_guard<std::mutex> lk(gMx);
        return gone_;
    }
    /* gMx held */
    int addr() const { return addr_; }
    const std::string &name() const { return name_; }
    void vanish() { gone_ = true; }
    bool start() override { return true; }
    void stop() override
    {
        std::lock_guard<std::mutex> dl(gDeliverMx);
        std::lock_guard<std::mutex> lk(gMx);
        live_ = false;
    }
    /* gMx held */
    vt::InputSink *liveSink() const { return live_ ? sink_ : nullptr; }

private:
    vt::InputSink *sink_;
    int addr_;
    std::string name_;
    bool live_ = true;
    bool gone_ = false;
};

/* The port of that name at the lowest address, as the sequencer's
   would be found; gMx held */
int firstNamed(const std::vector<std::string> &names, const std::vector<int> &addrs, const char *name,
    unsigned *alike)
{
    int first = -1;
    *alike = 0;
    for (size_t i = 0; i < names.size(); i++) {
        if (names[i].substr(0, 31) != name)
            continue;
        if (first < 0 || addrs[i] < addrs[(size_t)first])
            first = (int)i;
        ++*alike;
    }
    return first;
}

/* gMx held */
bool inOpenAt(int addr)
{
    for (DoubleIn *in : gState.ins)
        if (in->addr() == addr)
            return true;
    return false;
}

/* The scripted lists are always the latest: a port a test adds can be
   opened at once, with no count taken in between. */
class DoubleBackend : public vt::Backend {
public:
    void snapshot() override {}
    unsigned outCount() override { return listed(gState.outNames); }
    unsigned inCount() override { return listed(gState.inNames); }
    bool outName(unsigned i, char name[32]) override { return portName(OutCaps, gState.outNames, i, name); }
    bool inName(unsigned i, char name[32]) override { return portName(InCaps, gState.inNames, i, name); }

    vt::OutPort *openOut(unsigned i) override
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (i >= gState.outNames.size() || failing(OutOpen, (int)i) || gState.out)
            return nullptr;
        gState.out = new DoubleOut(gState.outAddr[i]);
        return gState.out;
    }

    vt::InPort *openIn(unsigned i, vt::InputSink *sink) override
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (i >= gState.inNames.size() || failing(InOpen, (int)i) || inOpenAt(gState.inAddr[i]))
            return nullptr;
        DoubleIn *in = new DoubleIn(sink, gState.inAddr[i], gState.inNames[i]);
        gState.ins.push_back(in);
        if (!gState.in)
            gState.in = in;
        return in;
    }

    vt::OutPort *openOutNamed(const char *name, vt::FoundPort *where) override
    {
        unsigned alike;
        int i;
        {
            std::lock_guard<std::mutex> lk(gMx);
            i = firstNamed(gState.outNames, gState.outAddr, name, &alike);
        }
        vt::OutPort *o = i < 0 ? nullptr : openOut((unsigned)i);
        if (o)
            found(gState.outAddr[(size_t)i], alike, where);
        return o;
    }

    vt::InPort *openInNamed(const char *name, vt::InputSink *sink, vt::FoundPort *where) override
    {
        unsigned alike;
        int i;
        {
            std::lock_guard<std::mutex> lk(gMx);
            i = firstNamed(gState.inNames, gState.inAddr, name, &alike);
        }
        vt::InPort *in = i < 0 ? nullptr : openIn((unsigned)i, sink);
        if (in)
            found(gState.inAddr[(size_t)i], alike, where);
        return in;
    }

    bool notifies() override
    {
        std::lock_guard<std::mutex> lk(gMx);
        return gState.notifies;
    }

private:
    static void found(int addr, unsigned alike, vt::FoundPort *where)
    {
        where->hasAddress = true;
        where->at.client = addr;
        where->at.port = 0;
        where->alike = alike;
    }

    static unsigned listed(const std::vector<std::string> &names)
    {
        std::lock_guard<std::mutex> lk(gMx);
        return (unsigned)names.size();
    }

    static bool portName(Op op, const std::vector<std::string> &names, unsigned i, char name[32])
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (i >= names.size() || failing(op, (int)i))
            return false;
        strncpy(name, names[i].c_str(), 31);
        name[31] = 0;
        return true;
    }
};

DoubleBackend gBackend;

/* Runs give(sink) on a thread of its own, as a port's thread would, and
   waits for it; false when no input is open or the host did not take what
   was given (not started, no header queued). */
template <class Give> bool intoInput(Give give, const char *port = nullptr)
{
    std::lock_guard<std::mutex> dl(gDeliverMx);
    vt::InputSink *sink = nullptr;
    {
        std::lock_guard<std::mutex> lk(gMx);
        if (!port)
            sink = gState.in ? gState.in->liveSink() : nullptr;
        for (DoubleIn *in : gState.ins)
            if (port && !sink && in->name() == port)
                sink = in->liveSink();
    }
    if (!sink)
        return false;
    bool taken = false;
    std::thread t([&] { taken = give(sink); });
    t.join();
    return taken;
}

/* The open input as the host sees it. */
void inputState(bool *started, int *queued)
{
    vt::InputSink *sink;
    {
        std::lock_guard<std::mutex> lk(gMx);
        sink = gState.in ? gState.in->liveSink() : nullptr;
    }
    vtHostInputState(sink, started, queued);
}

/* ---- injected failures, in front of the host -------------------------- */

const VtMidiService &host() { return *vtRealMidi(); }

/* Counts the call of op; a result other than 0 answers it in place of the
   host: an injected failure (MMSYSERR_ERROR, and nothing changes), or the
   still-playing answer asked for the input header's unprepare.  The
   capability queries and the opens are only counted: they fail in the
   backend, as a port's own refusal.  Counting the ports never fails: no
   Op names it. */
MMRESULT refusal(int op)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.calls[op]++;
    if (perPort(op))
        return MMSYSERR_NOERROR;
    if (failing(op, -1))
        return MMSYSERR_ERROR;
    if (op == InUnprepare && gState.stillPlaying > 0) {
        gState.stillPlaying--;
        return MIDIERR_STILLPLAYING;
    }
    return MMSYSERR_NOERROR;
}

/* Every operation of the service: the host's, unless refused. */
#define TD_IN_FRONT(name, result, params, args)                                                              \
    result name params                                                                                       \
    {                                                                                                        \
        if (MMRESULT r = refusal(VT_MIDI_OP_##name))                                                         \
            return r;                                                                                        \
        return host().name args;                                                                             \
    }
VT_MIDI_OPERATIONS(TD_IN_FRONT)
#undef TD_IN_FRONT

const VtMidiService kMidi = {VT_MIDI_OPERATIONS(VT_MIDI_ENTRY)};

/* ---- console --------------------------------------------------------- */

std::mutex gConsoleMx;
std::string gKeys;
std::vector<bool> gKeyIsText; /* per byte of gKeys: queued by textKeys */
size_t gKeyPos = 0;
bool gLastIsChar = true; /* what lastKeyIsCharacter answers */
bool gAfterPrefix = false;
bool gEndOfInput = true;
bool gKeyboardIsConsole = true;
unsigned gEndPhase = 0; /* even: ESC next, odd: Enter next */
std::atomic<unsigned> gSleeps{0};
std::atomic<unsigned long> gSleptMs{0};
std::atomic<int64_t> gClockUs{0};
std::atomic<unsigned long> gPauseCap{0};

bool keyWaiting() { return gKeyPos < gKeys.size(); }

/* Notes whether the byte handed out was typed as a character: not a
   prefix (0 or 0xE0 queued by keys), nor the scan code after one. */
void noteKey(bool prefix)
{
    gLastIsChar = !prefix && !gAfterPrefix;
    gAfterPrefix = prefix;
}

int nextKey()
{
    if (keyWaiting()) {
        bool text = gKeyIsText[gKeyPos];
        int c = (unsigned char)gKeys[gKeyPos++];
        noteKey(!text && (c == 0 || c == 0xE0));
        return c;
    }
    noteKey(false);
    if (!gEndOfInput)
        return -1;
    return (gEndPhase++ & 1) ? '\r' : 27;
}

void consoleInit(void) {}

int consoleKbhit(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return keyWaiting() || gEndOfInput;
}

int consoleGetch(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return nextKey();
}

void consoleSleep(unsigned long ms)
{
    gSleeps++;
    unsigned long cap = gPauseCap;
    if (cap && ms > cap)
        ms = cap; /* ended early, as by a key or a notification */
    gSleptMs += ms;
    gClockUs += (int64_t)ms * 1000;
    /* lets a test's delivering thread get its turn, as a real pause would */
    std::this_thread::yield();
}

/* The queued keys as a console's line input reads them, echoed to the
   standard output: 0 starts a function or cursor key (0xE0 is a byte of
   typed text here, as in UTF-8), DEL is Backspace, CR LF is one Enter.  The
   end of the queue is the end of the input. */
class QueuedKeys : public vt::LineKeys {
public:
    int next() override
    {
        if (!keyWaiting())
            return vt::kKeyEnd;
        bool text = gKeyIsText[gKeyPos];
        unsigned char c = (unsigned char)gKeys[gKeyPos++];
        if (c == '\r' && keyWaiting() && gKeys[gKeyPos] == '\n')
            gKeyPos++;
        /* 0 queued by keys() starts a function or cursor key, and so does
           0xE0 unless it begins a UTF-8 character, as from a pipe;
           textKeys() queues both as typed text */
        bool utf8 =
            c == 0xE0 && keyWaiting() && (uint8_t)gKeys[gKeyPos] >= 0xA0 && (uint8_t)gKeys[gKeyPos] <= 0xBF;
        if ((c == 0 || (c == 0xE0 && !utf8)) && !text)
            return vt::kKeyPrefixed;
        if (c == '\n')
            return '\r';
        return c == 127 ? 8 : c;
    }
    void echo(const char *p, size_t n) override { fwrite(p, 1, n, stdout); }
};

int consoleReadLine(char *buf, unsigned size)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    QueuedKeys keys;
    int n = vt::editLine(keys, buf, size);
    fflush(stdout);
    return n;
}

int64_t consoleClockUs(void) { return gClockUs; }

int consoleIsConsole(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return gKeyboardIsConsole ? 1 : 0;
}

int consoleLastKeyIsCharacter(void)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    return gLastIsChar ? 1 : 0;
}

const VtConsole kConsole = {consoleInit, consoleKbhit, consoleGetch, consoleSleep, consoleReadLine,
    consoleIsConsole, consoleClockUs, consoleLastKeyIsCharacter};

/* ---- files ----------------------------------------------------------- */

std::mutex gFilesMx;
long gWriteLimit = -1;
long gReadLimit = -1;
long gWritten = 0;
long gRead = 0;
/* the error of a failure made here rather than by the real files */
thread_local DWORD tInjectedError = 0;

HANDLE fileCreate(
    LPCSTR name, DWORD access, DWORD share, void *sec, DWORD creation, DWORD attributes, HANDLE templ)
{
#ifdef _WIN32
    /* The tests read a file the system still holds open for writing (to see
       that each write went straight through); Windows refuses that unless
       the writer shares the file for reading.  Readers stay exclusive, as a
       test of a file held elsewhere needs. */
    if (access & GENERIC_WRITE)
        share |= FILE_SHARE_READ;
#endif
    tInjectedError = 0;
    return vtRealFiles()->create(name, access, share, sec, creation, attributes, templ);
}

BOOL fileRead(HANDLE h, void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD local = 0;
    if (!done)
        done = &local;
    DWORD allowed = n;
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        if (gReadLimit >= 0) {
            long left = gReadLimit - gRead;
            if (left <= 0) {
                *done = 0;
                tInjectedError = ERROR_READ_FAULT;
                return 0;
            }
            if ((unsigned long)left < n)
                allowed = (DWORD)left;
        }
    }
    tInjectedError = 0;
    BOOL ok = vtRealFiles()->read(h, buf, allowed, done, overlapped);
    std::lock_guard<std::mutex> lk(gFilesMx);
    gRead += (long)*done;
    return ok;
}

BOOL fileWrite(HANDLE h, const void *buf, DWORD n, DWORD *done, void *overlapped)
{
    DWORD local = 0;
    if (!done)
        done = &local;
    DWORD allowed = n;
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        if (gWriteLimit >= 0) {
            long left = gWriteLimit - gWritten;
            if (left < 0)
                left = 0;
            if ((unsigned long)left < n)
                allowed = (DWORD)left;
        }
    }
    BOOL ok = 1;
    *done = 0;
    tInjectedError = 0;
    if (allowed)
        ok = vtRealFiles()->write(h, buf, allowed, done, overlapped);
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWritten += (long)*done;
    /* a full disk: what fitted is written and reported, the call fails */
    if (allowed < n && ok)
        tInjectedError = ERROR_DISK_FULL;
    return allowed < n ? 0 : ok;
}

BOOL fileClose(HANDLE h)
{
    tInjectedError = 0;
    return vtRealFiles()->close(h);
}

DWORD fileLastError(void) { return tInjectedError ? tInjectedError : vtRealFiles()->lastError(); }

DWORD fileAttributes(LPCSTR name)
{
    tInjectedError = 0;
    return vtRealFiles()->attributes(name);
}

BOOL fileMove(LPCSTR existing, LPCSTR newName, DWORD flags)
{
    tInjectedError = 0;
    return vtRealFiles()->move(existing, newName, flags);
}

BOOL fileRemove(LPCSTR name)
{
    tInjectedError = 0;
    return vtRealFiles()->remove(name);
}

DWORD fileSeek(HANDLE h, LONG distance, LONG *distanceHigh, DWORD method)
{
    tInjectedError = 0;
    return vtRealFiles()->seek(h, distance, distanceHigh, method);
}

BOOL fileFlush(HANDLE h)
{
    tInjectedError = 0;
    return vtRealFiles()->flush(h);
}

BOOL dirCreate(LPCSTR name, void *security)
{
    tInjectedError = 0;
    return vtRealFiles()->createDir(name, security);
}

BOOL dirRemove(LPCSTR name)
{
    tInjectedError = 0;
    return vtRealFiles()->removeDir(name);
}

HANDLE findFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    tInjectedError = 0;
    return vtRealFiles()->findFirst(pattern, found);
}

BOOL findNext(HANDLE h, LPWIN32_FIND_DATAA found)
{
    tInjectedError = 0;
    return vtRealFiles()->findNext(h, found);
}

BOOL findClose(HANDLE h)
{
    tInjectedError = 0;
    return vtRealFiles()->findClose(h);
}

DWORD processId(void) { return vtRealFiles()->processId(); }

const VtFiles kFiles = {fileCreate, fileRead, fileWrite, fileClose, fileLastError, fileAttributes, fileMove,
    fileRemove, fileSeek, fileFlush, dirCreate, dirRemove, findFirst, findNext, findClose, processId};

} // namespace

/* ---- the scripting side ---------------------------------------------- */

void install()
{
    vt::Backend *ports[] = {&gBackend};
    vtHostSetBackends(ports, 1); /* drops whatever a test left open */
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.outNames.clear();
        gState.inNames.clear();
        gState.outAddr.clear();
        gState.inAddr.clear();
        gState.nextAddr = 20;
        gState.notifies = true;
        clearFailures();
        for (int &c : gState.calls)
            c = 0;
        gState.sent.clear();
    }
    {
        std::lock_guard<std::mutex> lk(gConsoleMx);
        gKeys.clear();
        gKeyIsText.clear();
        gKeyPos = 0;
        gLastIsChar = true;
        gAfterPrefix = false;
        gEndOfInput = true;
        gKeyboardIsConsole = true;
        gEndPhase = 0;
        gSleeps = 0;
        gSleptMs = 0;
        gClockUs = 0;
        gPauseCap = 0;
    }
    {
        std::lock_guard<std::mutex> lk(gFilesMx);
        gWriteLimit = gReadLimit = -1;
        gWritten = gRead = 0;
    }
    vtInstallMidi(&kMidi);
    vtInstallConsole(&kConsole);
    vtInstallFiles(&kFiles);
}

void uninstall()
{
    vtInstallMidi(nullptr);
    vtInstallConsole(nullptr);
    vtInstallFiles(nullptr);
    vtHostSetBackends(nullptr, 0);
}

/* A port appears: the sequencer would announce it. */
void appeared()
{
    bool tell;
    {
        std::lock_guard<std::mutex> lk(gMx);
        tell = gState.notifies;
    }
    if (tell)
        vt::portsChanged();
}

void addOutPort(const char *name)
{
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.outNames.push_back(name);
        gState.outAddr.push_back(gState.nextAddr++);
    }
    appeared();
}

void addInPort(const char *name)
{
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.inNames.push_back(name);
        gState.inAddr.push_back(gState.nextAddr++);
    }
    appeared();
}

void addPortAt(const char *name, int addr)
{
    {
        std::lock_guard<std::mutex> lk(gMx);
        gState.outNames.push_back(name);
        gState.outAddr.push_back(addr);
        gState.inNames.push_back(name);
        gState.inAddr.push_back(addr);
    }
    appeared();
}

/* An open port that fails tells of it even where nothing is announced
   (winmm closes an input whose device went, a send fails). */
void removePort(const char *name)
{
    bool openOne = false;
    {
        std::lock_guard<std::mutex> lk(gMx);
        unsigned alike;
        int i = firstNamed(gState.outNames, gState.outAddr, name, &alike);
        if (i >= 0) {
            if (gState.out && gState.out->addr() == gState.outAddr[(size_t)i]) {
                gState.out->vanish();
                openOne = true;
            }
            gState.outNames.erase(gState.outNames.begin() + i);
            gState.outAddr.erase(gState.outAddr.begin() + i);
        }
        i = firstNamed(gState.inNames, gState.inAddr, name, &alike);
        if (i >= 0) {
            for (DoubleIn *in : gState.ins) {
                if (in->addr() == gState.inAddr[(size_t)i]) {
                    in->vanish();
                    openOne = true;
                }
            }
            gState.inNames.erase(gState.inNames.begin() + i);
            gState.inAddr.erase(gState.inAddr.begin() + i);
        }
    }
    if (openOne)
        vt::portsChanged();
    else
        appeared();
}

void portsNotify(bool on)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.notifies = on;
}

void fail(Op op, int port)
{
    std::lock_guard<std::mutex> lk(gMx);
    if (port < 0 || !perPort(op))
        gState.fail.all[op] = true;
    else
        gState.fail.ports[op].push_back(port);
}

void inUnprepareStillPlaying(int times)
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.stillPlaying = times > 0 ? times : 0;
}

void heal()
{
    {
        std::lock_guard<std::mutex> lk(gMx);
        clearFailures();
    }
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWriteLimit = gReadLimit = -1;
}

const std::vector<std::vector<uint8_t>> &sent() { return gState.sent; }

void clearSent()
{
    std::lock_guard<std::mutex> lk(gMx);
    gState.sent.clear();
}

int calls(Op op)
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.calls[op];
}

bool outIsOpen()
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.out != nullptr;
}

bool inIsOpen()
{
    std::lock_guard<std::mutex> lk(gMx);
    return gState.in != nullptr;
}

bool inIsStarted()
{
    bool started;
    int queued;
    inputState(&started, &queued);
    return started;
}

int queuedHeaders()
{
    bool started;
    int queued;
    inputState(&started, &queued);
    return queued;
}

bool deliver(UINT msg, DWORD_PTR param1, DWORD_PTR)
{
    return intoInput([&](vt::InputSink *s) { return s->message(msg, (uint32_t)param1); });
}

bool deliverShort(uint8_t status, uint8_t d1, uint8_t d2)
{
    return deliver(MIM_DATA, (DWORD_PTR)status | (DWORD_PTR)d1 << 8 | (DWORD_PTR)d2 << 16);
}

bool deliverLong(const std::vector<uint8_t> &bytes)
{
    return intoInput(
        [&](vt::InputSink *s) { return s->longMessage(MIM_LONGDATA, bytes.data(), bytes.size()); });
}

bool deliverLongError(const std::vector<uint8_t> &bytes)
{
    return intoInput(
        [&](vt::InputSink *s) { return s->longMessage(MIM_LONGERROR, bytes.data(), bytes.size()); });
}

bool deliverBytes(const std::vector<uint8_t> &bytes)
{
    return intoInput([&](vt::InputSink *s) {
        s->bytes(bytes.data(), bytes.size());
        return true;
    });
}

bool deliverBytesFrom(const char *port, const std::vector<uint8_t> &bytes)
{
    return intoInput(
        [&](vt::InputSink *s) {
            s->bytes(bytes.data(), bytes.size());
            return true;
        },
        port);
}

namespace {

void queueKeys(const std::string &bytes, bool text)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gKeys.erase(0, gKeyPos);
    gKeyIsText.erase(gKeyIsText.begin(), gKeyIsText.begin() + (long)gKeyPos);
    gKeyPos = 0;
    gKeys += bytes;
    gKeyIsText.insert(gKeyIsText.end(), bytes.size(), text);
    gEndPhase = 0;
}

} // namespace

void keys(const std::string &bytes) { queueKeys(bytes, false); }

void textKeys(const std::string &bytes) { queueKeys(bytes, true); }

void keyboardIsConsole(bool on)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gKeyboardIsConsole = on;
}

void endOfInput(bool on)
{
    std::lock_guard<std::mutex> lk(gConsoleMx);
    gEndOfInput = on;
    gEndPhase = 0;
}

unsigned sleeps() { return gSleeps; }
unsigned long sleptMs() { return gSleptMs; }
void advanceClock(int64_t us) { gClockUs += us; }
void pausesEndAfter(unsigned long ms) { gPauseCap = ms; }

void failFileWriteAfter(long bytes)
{
    std::lock_guard<std::mutex> lk(gFilesMx);
    gWriteLimit = bytes;
    gWritten = 0;
}

void failFileReadAfter(long bytes)
{
    std::lock_guard<std::mutex> lk(gFilesMx);
    gReadLimit = bytes;
    gRead = 0;
}

} // namespace td
