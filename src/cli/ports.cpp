/*
 * Ports by name for the command line.  The lists come from the same calls
 * as the selection's, so numbers and names are the ones it shows.
 */
#include "ports.h"

#include "../frontend/frontend.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const int kNameColumn = 32; /* a name has at most 31 characters */
const int kAddressColumn = 8;

void readName(bool out, unsigned i, char name[32])
{
    MMRESULT r;
    if (out) {
        MIDIOUTCAPSA caps;
        r = midiOutGetDevCapsA(i, &caps, sizeof caps);
        memcpy(name, caps.szPname, 32);
    } else {
        MIDIINCAPSA caps;
        r = midiInGetDevCapsA(i, &caps, sizeof caps);
        memcpy(name, caps.szPname, 32);
    }
    if (r != MMSYSERR_NOERROR)
        name[0] = 0;
    name[31] = 0;
}

bool isNumber(const char *s, size_t maxDigits)
{
    size_t n = strspn(s, "0123456789");
    return n > 0 && n <= maxDigits && s[n] == '\0';
}

/* "14:0" */
bool parseAddress(const char *s, int *client, int *port)
{
    const char *colon = strchr(s, ':');
    if (!colon)
        return false;
    std::string left(s, (size_t)(colon - s));
    if (!isNumber(left.c_str(), 5) || !isNumber(colon + 1, 5))
        return false;
    *client = atoi(left.c_str());
    *port = atoi(colon + 1);
    return true;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool containsIgnoringCase(const char *text, const char *part)
{
    size_t n = strlen(part);
    for (; *text; text++) {
        size_t k = 0;
        while (k < n && text[k] && lower(text[k]) == lower(part[k]))
            k++;
        if (k == n)
            return true;
    }
    return false;
}

/* the characters of well-formed UTF-8 */
int characters(const char *s)
{
    int n = 0;
    for (; *s; s++)
        n += ((unsigned char)*s & 0xC0) != 0x80;
    return n;
}

void listOne(FILE *to, bool out)
{
    fputs(out ? "MIDI OUT ports:\n" : "MIDI IN ports:\n", to);
    std::vector<PortEntry> ports = readPorts(out);
    if (ports.empty())
        fputs("  none\n", to);
    for (const PortEntry &p : ports)
        printPortLine(to, p);
}

} // namespace

std::vector<PortEntry> readPorts(bool out)
{
    UINT count = out ? midiOutGetNumDevs() : midiInGetNumDevs();
    std::vector<PortEntry> ports(count);
    for (UINT i = 0; i < count; i++) {
        PortEntry &p = ports[i];
        p.number = i;
        readName(out, i, p.name);
        p.hasAddress = midiPortAddress(out, i, &p.addr) != 0;
        if (!p.hasAddress)
            memset(&p.addr, 0, sizeof p.addr);
        p.addr.clientName[sizeof p.addr.clientName - 1] = 0;
    }
    return ports;
}

PortMatch matchPort(const std::vector<PortEntry> &ports, const char *want)
{
    PortMatch m = {PortMatch::None, 0, {}};
    if (want[0] == '\0')
        return m;
    if (isNumber(want, 9) && (unsigned long)atol(want) < ports.size()) {
        m.kind = PortMatch::Found;
        m.index = (unsigned)atol(want);
        return m;
    }
    int client, port;
    if (parseAddress(want, &client, &port)) {
        for (const PortEntry &p : ports) {
            if (p.hasAddress && p.addr.client == client && p.addr.port == port) {
                m.kind = PortMatch::Found;
                m.index = p.number;
                return m;
            }
        }
    }
    for (const PortEntry &p : ports)
        if (strcmp(p.name, want) == 0)
            m.several.push_back(p.number);
    if (m.several.size() == 1) {
        m.kind = PortMatch::Found;
        m.index = m.several[0];
        m.several.clear();
        return m;
    }
    if (m.several.size() > 1) {
        m.kind = PortMatch::SameName;
        return m;
    }
    for (const PortEntry &p : ports)
        if (containsIgnoringCase(p.name, want))
            m.several.push_back(p.number);
    if (m.several.size() == 1) {
        m.kind = PortMatch::Found;
        m.index = m.several[0];
        m.several.clear();
    } else if (m.several.size() > 1) {
        m.kind = PortMatch::Several;
    }
    return m;
}

int printVisible(FILE *to, const char *text)
{
    std::string shown(strlen(text) + 1, '\0');
    shownText(&shown[0], shown.size(), text);
    fputs(shown.c_str(), to);
    return characters(shown.c_str());
}

void printPortLine(FILE *to, const PortEntry &p)
{
    fprintf(to, "%3u  ", p.number);
    int shown = printVisible(to, p.name);
    if (p.hasAddress) {
        fprintf(to, "%*s", shown < kNameColumn ? kNameColumn - shown : 1, "");
        char address[24];
        snprintf(address, sizeof address, "%d:%d", p.addr.client, p.addr.port);
        fprintf(to, "%-*s", kAddressColumn, address);
        printVisible(to, p.addr.clientName);
    }
    fputc('\n', to);
}

void listPorts(FILE *to)
{
    listOne(to, true);
    listOne(to, false);
}

bool findPort(bool out, const char *want, uint32_t *number)
{
    const char *dir = out ? "MIDI OUT" : "MIDI IN";
    std::vector<PortEntry> ports = readPorts(out);
    PortMatch m = matchPort(ports, want);
    if (m.kind == PortMatch::Found) {
        *number = m.index;
        return true;
    }
    fputs("voltanis: ", stderr);
    if (m.kind == PortMatch::Several || m.kind == PortMatch::SameName) {
        fputc('\'', stderr);
        printVisible(stderr, want);
        fprintf(stderr,
            m.kind == PortMatch::SameName ? "' is the name of several %s ports:\n"
                                          : "' is part of the names of several %s ports:\n",
            dir);
        for (unsigned i : m.several)
            printPortLine(stderr, ports[i]);
        return false;
    }
    fprintf(stderr, "no %s port is '", dir);
    printVisible(stderr, want);
    if (ports.empty()) {
        fprintf(stderr, "': there is no %s port\n", dir);
        return false;
    }
    fprintf(stderr, "'; the %s ports are:\n", dir);
    for (const PortEntry &p : ports)
        printPortLine(stderr, p);
    return false;
}
