/*
 * Ports that vanish and come back: the main thread looks at the open
 * ports when a backend told of a change (an announcement, a failed send),
 * and once a second while a port of a backend that tells nothing is gone.
 * Nothing is looked at otherwise, so an idle program stays asleep.
 */
#include "hostpriv.h"

#include <atomic>

namespace vt {

namespace {

std::atomic<bool> gChanged{false};
const int64_t kLookEveryUs = 1000000;
int64_t gNextLookUs = 0;

} // namespace

void portsChanged()
{
    gChanged.store(true, std::memory_order_release);
    vtWake();
}

} // namespace vt

int vtPortsFollow(VtPortEvent *ev, int max)
{
    using namespace vt::host;
    bool changed = vt::gChanged.exchange(false, std::memory_order_acq_rel);
    int64_t now = 0;
    bool due = false;
    if (!changed) {
        if (vt::gNextLookUs == 0)
            return 0;
        now = vtClockUs();
        due = now >= vt::gNextLookUs;
        if (!due)
            return 0;
    }
    std::lock_guard<std::mutex> lk(gPortsMx);
    int n = backendNews(ev, max);
    n += followOutputs(ev + n, max - n, true);
    n += followInputs(ev + n, max - n, true);
    /* a gone port of a backend that tells nothing: look again in a second */
    if (outputsGone(true) || inputsGone(true)) {
        if (now == 0)
            now = vtClockUs();
        if (due || vt::gNextLookUs == 0)
            vt::gNextLookUs = now + vt::kLookEveryUs;
    } else {
        vt::gNextLookUs = 0;
    }
    if (n == max)
        vt::portsChanged(); /* more to tell at the next pass */
    return n;
}

int64_t vtPortsFollowDueUs(void)
{
    if (vt::gChanged.load(std::memory_order_acquire))
        return vtClockUs();
    return vt::gNextLookUs ? vt::gNextLookUs : -1;
}

int vtMidiInAlso(const UINT *ids, int n) { return vt::host::inAlso(ids, n > 0 ? n : 0); }
int vtMidiInSources(void) { return vt::host::lastSources(); }
const char *vtMidiInSourceName(int i) { return vt::host::lastSourceName(i); }

int vtMidiInWordSource(DWORD word)
{
    unsigned tag = (unsigned)(word >> 24) & 0xFF;
    return tag ? (int)tag - 1 : -1;
}

int vtMidiInLongSource(void) { return vt::host::lastLongSource(); }
