/*
 * Ports by name for the command line: the port lists of --list, and the
 * port an --out or --in value means.
 */
#ifndef VOLTANIS_CLI_PORTS_H
#define VOLTANIS_CLI_PORTS_H

#include "../platform/platform.h"

#include <stdio.h>

#include <vector>

struct PortEntry {
    unsigned number; /* as the selection shows it */
    char name[32];   /* as the selection and the preset use it */
    bool hasAddress;
    VtPortAddress addr;
};

/* The ports of one direction, from a fresh count of the port service. */
std::vector<PortEntry> readPorts(bool out);

struct PortMatch {
    enum Kind { Found, None, Several, SameName };
    Kind kind;
    unsigned index;                /* with Found */
    std::vector<unsigned> several; /* with Several: the ports the text is part of;
                                      with SameName: the ports of that name */
};

/* What a PORT value means, tried in this order: a number below the count;
   an address client:port; the exact name; a part of the name, in any case,
   that one port only has.  A name that several ports have means none of
   them: only the number or the address tells them apart.  An empty value
   means no port. */
PortMatch matchPort(const std::vector<PortEntry> &ports, const char *want);

/* Text from ports and the command line, shown as the interactive lists
   show names (shownText): every control character, C1 ones included, and
   every byte that is no well-formed UTF-8 as '?', so that none of them
   reaches the terminal.  Returns the characters shown. */
int printVisible(FILE *to, const char *text);
void printPortLine(FILE *to, const PortEntry &p);

/* Both port lists under their headings. */
void listPorts(FILE *to);

/* The number of the port `want` means for the direction; false, with the
   reason and the candidates on stderr, when it means none or several. */
bool findPort(bool out, const char *want, uint32_t *number);

#endif
