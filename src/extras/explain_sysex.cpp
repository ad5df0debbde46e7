/*
 * The meaning of a SysEx message: the manufacturer by its ID, then what
 * the rule for that ID reads from the rest (the universal messages, the
 * manufacturers' checksums).  Every byte is read through Body::at, which
 * knows where the message ends.
 */
#include "explain.h"

#include "textout.h"

namespace {

/* What follows the ID, up to the F7 (excluded) or the end of the piece. */
struct Body {
    const uint8_t *p;
    size_t n;
    bool whole; /* the message ends here: a checksum can be checked */
    /* byte i, or -1 past the end */
    int at(size_t i) const { return i < n ? p[i] : -1; }
};

/* "41", "00 20 29": the ID as it came */
void addId(TextOut &t, const uint8_t *id, size_t n)
{
    for (size_t i = 0; i < n; i++)
        t.add(i ? " %02x" : "%02x", id[i]);
}

/* The manufacturer of an ID at p (one byte, or three from a 00), by name
   or by number; returns the length of the ID, 0 when it is cut off. */
size_t addManufacturer(TextOut &t, const Body &b, size_t i)
{
    int first = b.at(i);
    if (first < 0 || (first == 0 && b.at(i + 2) < 0))
        return 0;
    const char *name = first != 0 ? manufacturerName((uint8_t)first)
                                  : extendedManufacturerName((uint8_t)b.at(i + 1), (uint8_t)b.at(i + 2));
    size_t n = first != 0 ? 1 : 3;
    if (name) {
        t.add("%s", name);
    } else {
        t.add("ID ");
        addId(t, b.p + i, n);
        t.add(" (not in the list)");
    }
    return n;
}

/* The checksum verdict of the bytes from `from` to the end, the checksum
   last: their sum must be a multiple of 128. */
void addChecksum(TextOut &t, const Body &b, size_t from)
{
    if (!b.whole) {
        t.add(", checksum not checked (the message came in pieces)");
        return;
    }
    if (b.n < from + 1) {
        t.add(", too short for its checksum");
        return;
    }
    unsigned sum = 0;
    for (size_t i = from; i + 1 < b.n; i++)
        sum += b.p[i];
    unsigned want = (128 - (sum & 0x7F)) & 0x7F;
    if (b.p[b.n - 1] == want)
        t.add(", checksum ok");
    else
        t.add(", checksum WRONG, should be %02x", want);
}

/* hh:mm:ss:ff from an hours byte that carries the frame rate in bits 5-6 */
void addTimeCode(TextOut &t, const Body &b, size_t i, bool subframes)
{
    static const char *const kRates[4] = {"24 fps", "25 fps", "30 fps drop-frame", "30 fps"};
    int last = b.at(i + (subframes ? 4 : 3));
    if (last < 0) {
        t.add(" (cut short)");
        return;
    }
    t.add(" %02u:%02u:%02u:%02u", b.p[i] & 0x1F, b.p[i + 1], b.p[i + 2], b.p[i + 3]);
    if (subframes)
        t.add(".%02u", (unsigned)last);
    t.add(", %s", kRates[(b.p[i] >> 5) & 3]);
}

/* 14 bits, LSB first, of two bytes known to be there */
unsigned word14(const Body &b, size_t i) { return (unsigned)(b.p[i] | b.p[i + 1] << 7); }

/* a name from a list of (sub-ID, name) */
struct SubName {
    uint8_t id;
    const char *name;
};
template <size_t N> const char *nameOf(const SubName (&list)[N], int id)
{
    for (const SubName &s : list)
        if (s.id == id)
            return s.name;
    return nullptr;
}

/* The start of a universal message, F0 7E|7F device sub-ID#1 ...:
   ", device 10: "; returns the name of sub-ID#1 in the list, null when
   the message ends before it or the list has none (said as a number). */
template <size_t N> const char *universal(TextOut &t, const Body &b, const SubName (&list)[N])
{
    int device = b.at(0), sub1 = b.at(1);
    if (device < 0)
        return nullptr;
    t.add(device == 0x7F ? ", device %02x (all)" : ", device %02x", device);
    const char *name = nameOf(list, sub1);
    if (sub1 >= 0 && !name)
        t.add(": sub-ID %02x", sub1);
    if (name)
        t.add(": ");
    return name;
}

/* ---- universal non-real time: F0 7E device sub-ID#1 sub-ID#2 ... ------ */

const SubName kNonRealTime[] = {{0x01, "Sample Dump Header"}, {0x02, "Sample Data Packet"},
    {0x03, "Sample Dump Request"}, {0x04, "MTC Cueing"}, {0x05, "Sample Dump Extensions"},
    {0x06, "General Information"}, {0x07, "File Dump"}, {0x08, "MIDI Tuning"}, {0x09, "General MIDI"},
    {0x0A, "Downloadable Sounds"}, {0x0B, "File Reference"}, {0x0C, "MIDI Visual Control"}, {0x0D, "MIDI-CI"},
    {0x7B, "EOF"}, {0x7C, "Wait"}, {0x7D, "Cancel"}, {0x7E, "NAK"}, {0x7F, "ACK"}};

const SubName kMidiCi[] = {{0x10, "Initiate Protocol Negotiation"},
    {0x11, "Reply to Initiate Protocol Negotiation"}, {0x12, "Set New Selected Protocol"},
    {0x13, "Test New Protocol Initiator to Responder"}, {0x14, "Test New Protocol Responder to Initiator"},
    {0x15, "Confirmation New Protocol Established"}, {0x20, "Profile Inquiry"},
    {0x21, "Reply to Profile Inquiry"}, {0x22, "Set Profile On"}, {0x23, "Set Profile Off"},
    {0x24, "Profile Enabled Report"}, {0x25, "Profile Disabled Report"}, {0x26, "Profile Added Report"},
    {0x27, "Profile Removed Report"}, {0x28, "Profile Details Inquiry"},
    {0x29, "Reply to Profile Details Inquiry"}, {0x2F, "Profile Specific Data"},
    {0x30, "Property Exchange Capabilities Inquiry"}, {0x31, "Reply to Property Exchange Capabilities"},
    {0x34, "Get Property Data"}, {0x35, "Reply to Get Property Data"}, {0x36, "Set Property Data"},
    {0x37, "Reply to Set Property Data"}, {0x38, "Subscription"}, {0x39, "Reply to Subscription"},
    {0x3F, "Notify"}, {0x40, "Process Inquiry Capabilities"}, {0x41, "Reply to Process Inquiry Capabilities"},
    {0x42, "MIDI Message Report"}, {0x43, "Reply to MIDI Message Report"},
    {0x44, "End of MIDI Message Report"}, {0x70, "Discovery"}, {0x71, "Reply to Discovery"},
    {0x72, "Endpoint Information Inquiry"}, {0x73, "Reply to Endpoint Information"}, {0x7D, "ACK"},
    {0x7E, "Invalidate MUID"}, {0x7F, "NAK"}};

void identityReply(TextOut &t, const Body &b)
{
    t.add("Identity Reply: ");
    size_t id = addManufacturer(t, b, 3);
    if (id == 0 || b.at(3 + id + 7) < 0) {
        t.add(id ? " (cut short)" : "(cut short)");
        return;
    }
    const uint8_t *f = b.p + 3 + id;
    t.add(", family %02x%02x, model %02x%02x, version %02x %02x %02x %02x", f[1], f[0], f[3], f[2], f[4],
        f[5], f[6], f[7]);
}

void sampleDumpHeader(TextOut &t, const Body &b)
{
    if (b.at(17) < 0) {
        t.add(" (cut short)");
        return;
    }
    unsigned period = (unsigned)(b.p[5] | b.p[6] << 7 | b.p[7] << 14);
    t.add(", sample %u, %u bits", word14(b, 2), b.p[4]);
    if (period)
        t.add(", %.1f kHz", 1e6 / period);
    t.add(", %u words", (unsigned)(b.p[8] | b.p[9] << 7 | b.p[10] << 14));
}

/* the tuning dumps and their requests: F0 7E device 08 sub-ID#2 ... */
void tuning(TextOut &t, const Body &b)
{
    int sub2 = b.at(2);
    if (sub2 == 0x00 && b.at(3) >= 0) {
        t.add(" bulk dump request, program %u", b.p[3]);
    } else if (sub2 == 0x01 && b.at(3 + 16) >= 0) {
        t.add(" bulk dump, program %u, '", b.p[3]);
        t.visible(b.p + 4, 16);
        t.add("'");
    } else if (sub2 == 0x03 && b.at(4) >= 0) {
        t.add(" dump request, bank %u, program %u", b.p[3], b.p[4]);
    } else if (sub2 >= 0) {
        t.add(" message %02x", sub2);
    }
}

void universalNonRealTime(TextOut &t, const Body &b)
{
    const char *name = universal(t, b, kNonRealTime);
    if (!name)
        return;
    int sub2 = b.at(2);
    switch (b.p[1]) {
    case 0x01:
        t.add("%s", name);
        sampleDumpHeader(t, b);
        return;
    case 0x02:
        t.add("%s", name);
        if (sub2 >= 0)
            t.add(" %d", sub2);
        return;
    case 0x03:
        t.add("%s", name);
        if (b.at(3) >= 0)
            t.add(", sample %u", word14(b, 2));
        return;
    case 0x06:
        if (sub2 == 0x01)
            t.add("Identity Request");
        else if (sub2 == 0x02)
            identityReply(t, b);
        else
            t.add("%s", name);
        return;
    case 0x08:
        t.add("%s", name);
        tuning(t, b);
        return;
    case 0x09:
        t.add("%s", sub2 == 1   ? "GM System On"
                    : sub2 == 2 ? "GM System Off"
                    : sub2 == 3 ? "GM2 System On"
                                : name);
        return;
    case 0x0D: {
        const char *ci = nameOf(kMidiCi, sub2);
        t.add("MIDI-CI %s", ci ? ci : "message");
        return;
    }
    case 0x7B:
    case 0x7C:
    case 0x7D:
    case 0x7E:
    case 0x7F:
        t.add("%s", name);
        if (sub2 >= 0)
            t.add(", packet %d", sub2);
        return;
    default: t.add("%s", name); return;
    }
}

/* ---- universal real time: F0 7F device sub-ID#1 sub-ID#2 ... ---------- */

const SubName kRealTime[] = {{0x01, "MIDI Time Code"}, {0x02, "MIDI Show Control"},
    {0x03, "Notation Information"}, {0x04, "Device Control"}, {0x05, "MTC Cueing"},
    {0x06, "MIDI Machine Control"}, {0x07, "MIDI Machine Control response"}, {0x08, "MIDI Tuning"},
    {0x09, "Controller Destination Setting"}, {0x0A, "Key-Based Instrument Control"},
    {0x0B, "Scalable Polyphony MIP"}, {0x0C, "Mobile Phone Control"}};

const SubName kMachineControl[] = {{0x01, "Stop"}, {0x02, "Play"}, {0x03, "Deferred Play"},
    {0x04, "Fast Forward"}, {0x05, "Rewind"}, {0x06, "Record Strobe"}, {0x07, "Record Exit"},
    {0x08, "Record Pause"}, {0x09, "Pause"}, {0x0A, "Eject"}, {0x0B, "Chase"}, {0x0C, "Command Error Reset"},
    {0x0D, "MMC Reset"}, {0x40, "Write"}, {0x41, "Masked Write"}, {0x42, "Read"}, {0x43, "Update"},
    {0x44, "Locate"}, {0x45, "Variable Play"}, {0x46, "Search"}, {0x47, "Shuttle"}, {0x48, "Step"},
    {0x49, "Assign System Master"}, {0x4A, "Generator Command"}, {0x4B, "MTC Command"}, {0x4C, "Move"},
    {0x4D, "Add"}, {0x4E, "Subtract"}, {0x4F, "Drop Frame Adjust"}, {0x50, "Procedure"}, {0x51, "Event"},
    {0x52, "Group"}, {0x53, "Command Segment"}, {0x54, "Deferred Variable Play"},
    {0x55, "Record Strobe Variable"}, {0x7C, "Wait"}, {0x7F, "Resume"}};

void deviceControl(TextOut &t, const Body &b)
{
    int sub2 = b.at(2);
    if (sub2 >= 1 && sub2 <= 4 && b.at(4) < 0) {
        t.add("Device Control (cut short)");
        return;
    }
    unsigned v = sub2 >= 1 && sub2 <= 4 ? word14(b, 3) : 0;
    switch (sub2) {
    case 1: t.add("Master Volume = %u of 16383", v); break;
    case 2: t.add("Master Balance = %+d", (int)v - 8192); break;
    case 3: t.add("Master Fine Tuning = %+.2f cents", ((int)v - 8192) * 100.0 / 8192); break;
    case 4: t.add("Master Coarse Tuning = %+d semitones", (int)(v >> 7) - 64); break;
    case 5: t.add("Global Parameter Control"); break;
    default: t.add("Device Control"); break;
    }
}

void universalRealTime(TextOut &t, const Body &b)
{
    const char *name = universal(t, b, kRealTime);
    if (!name)
        return;
    int sub2 = b.at(2);
    switch (b.p[1]) {
    case 0x01:
        if (sub2 == 0x01) {
            t.add("MTC Full Frame");
            addTimeCode(t, b, 3, false);
        } else {
            t.add("%s", sub2 == 0x02 ? "MTC User Bits" : name);
        }
        return;
    case 0x04: deviceControl(t, b); return;
    case 0x06: {
        const char *command = nameOf(kMachineControl, sub2);
        t.add("MMC %s", command ? command : "command");
        if (sub2 == 0x44 && b.at(3) == 0x06 && b.at(4) == 0x01)
            addTimeCode(t, b, 5, true);
        return;
    }
    default: t.add("%s", name); return;
    }
}

/* ---- the manufacturers' own ------------------------------------------- */

/* Roland: F0 41 device model command ...; the model is one byte, or more
   that start with 00.  DT1 (12) sets data at an address, RQ1 (11) asks for
   a size of it; both end with a checksum over address and the rest. */
void roland(TextOut &t, const Body &b)
{
    int device = b.at(0);
    size_t model = 1;
    while (b.at(model) == 0)
        model++;
    int command = b.at(model + 1);
    if (device < 0 || command < 0)
        return;
    const bool shortModel = model == 1;
    size_t at = model + 2; /* the address */
    size_t rest = b.n - at;
    if (command == 0x12 || command == 0x11)
        t.add(": %s, device %02x, model ", command == 0x12 ? "DT1 data set" : "RQ1 data request", device);
    else
        t.add(": device %02x, model ", device);
    addId(t, b.p + 1, model);
    if (command != 0x12 && command != 0x11) {
        t.add(", command %02x", command);
        return;
    }
    /* the address is as long as the models of its kind have it; a request
       has a size as long as its address */
    size_t address = command == 0x11 && b.whole && rest % 2 == 1 ? rest / 2 : shortModel ? 3 : 4;
    if (b.at(at + address - 1) < 0) {
        t.add(", cut short");
        return;
    }
    t.add(", address ");
    addId(t, b.p + at, address);
    if (command == 0x11 && b.at(at + 2 * address - 1) >= 0) {
        t.add(", size ");
        addId(t, b.p + at + address, address);
    }
    if (command == 0x12 && b.whole && rest >= address + 1) {
        size_t data = rest - address - 1;
        t.add(", %u byte%s", (unsigned)data, data == 1 ? "" : "s");
        static const uint8_t kGsReset[] = {0x40, 0x00, 0x7F, 0x00};
        if (shortModel && b.p[1] == 0x42 && data == 1 && b.p[at] == kGsReset[0] &&
            b.p[at + 1] == kGsReset[1] && b.p[at + 2] == kGsReset[2] && b.p[at + 3] == kGsReset[3])
            t.add(" (GS Reset)");
    }
    addChecksum(t, b, at);
}

/* Yamaha: F0 43 tn ... with t the kind (0 bulk dump, 1 parameter change,
   2 dump request, 3 parameter request) and n the device number.  A bulk
   dump is format, byte count (2), data, checksum; the checksum of the
   classic formats covers the data, that of the XG format (4c), which has
   an address before its data, also the count and the address. */
void yamaha(TextOut &t, const Body &b)
{
    static const char *const kKinds[4] = {
        "bulk dump", "parameter change", "dump request", "parameter request"};
    int first = b.at(0), format = b.at(1);
    if (first < 0 || (first >> 4) > 3)
        return;
    t.add(": %s, device %u", kKinds[first >> 4], first & 0x0F);
    if (format < 0)
        return;
    const bool xg = format == 0x4C;
    if (xg)
        t.add(", XG");
    else
        t.add(", format %02x", format);
    if ((first >> 4) == 1 && xg && b.at(4) >= 0) {
        t.add(", address %02x %02x %02x", b.p[2], b.p[3], b.p[4]);
        if (b.at(2) == 0 && b.at(3) == 0 && b.at(4) == 0x7E && b.at(5) == 0)
            t.add(" (XG System On)");
    }
    if ((first >> 4) != 0)
        return;
    size_t data = xg ? 7 : 4; /* after the count, and the address of XG */
    if (b.whole && b.n > data) {
        size_t count = b.n - data - 1;
        t.add(", %u data byte%s", (unsigned)count, count == 1 ? "" : "s");
    }
    addChecksum(t, b, xg ? 2 : 4);
}

/* What each ID's messages say beyond the manufacturer; an ID without an
   entry shows its name alone.  A new rule: one function above, one line
   here. */
const struct {
    uint8_t id;
    void (*explain)(TextOut &t, const Body &b);
} kRules[] = {
    {0x7E, universalNonRealTime},
    {0x7F, universalRealTime},
    {0x41, roland},
    {0x43, yamaha},
};

} // namespace

size_t explainSysex(const uint8_t *p, size_t n, char *out, size_t size)
{
    TextOut t(out, size);
    if (n < 2 || p[0] != 0xF0)
        return 0; /* a later piece of a message: its first piece said it */
    const bool whole = p[n - 1] == 0xF7;
    Body all = {p + 1, n - 1 - (whole ? 1 : 0), whole};
    size_t id = addManufacturer(t, all, 0);
    if (id != 1)
        return t.length();
    Body rest = {all.p + 1, all.n - 1, whole};
    for (const auto &r : kRules)
        if (r.id == p[1])
            r.explain(t, rest);
    return t.length();
}
