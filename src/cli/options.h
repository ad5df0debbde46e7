/*
 * The command line: GNU-style options (short and long forms, values
 * attached or separate), read into one record before anything starts.
 */
#ifndef VOLTANIS_CLI_OPTIONS_H
#define VOLTANIS_CLI_OPTIONS_H

#include "../extras/filters.h"

#include <stdio.h>

#include <string>
#include <vector>

struct CliOptions {
    enum Action { Run, Help, Version, List, Error };
    Action action = Run;
    const char *out = nullptr;      /* --out PORT, as given */
    const char *in = nullptr;       /* --in PORT, the first */
    std::vector<const char *> ins;  /* every --in PORT, in order */
    const char *virtualName = nullptr; /* --virtual[=NAME]: the port offered */
    const char *dir = nullptr;      /* --dir DIR */
    std::vector<const char *> send; /* --send LINE, in order */
    bool timestamps = false;        /* -t */
    const char *syxDir = nullptr;   /* --syx DIR */
    long gapMs = 0;                 /* --gap MS */
    const char *smfFile = nullptr;  /* --smf FILE */
    bool force = false;             /* --force: --smf may replace FILE */
    bool explain = false;           /* -x */
    ViewFilter filter;              /* --hide, --only, --channel */
    const char *sendFile = nullptr; /* --send-file FILE */
    bool slow = false;              /* --slow: the send file as F6 sends it */
    bool verbose = false;           /* -v: the session's texts as without options */
    bool quiet = false;             /* -q: piped input as quiet as --send */
    bool listen = false;            /* --listen */
    bool json = false;              /* --json */
    enum Color { ColorNever, ColorAuto, ColorAlways };
    Color color = ColorNever;       /* --color */
    const char *record = nullptr;   /* --record FILE */
    long waitMs = -1;               /* --wait MS; -1: not given */
    long expect = 0;                /* --expect N; 0: not given */
    long expectSysex = 0;           /* --expect-sysex N */
    long timeoutMs = -1;            /* --timeout MS */
    std::string error;              /* with Error: one line, no line end */
};

/* The longest name of the port --virtual offers, in bytes. */
const size_t kMaxVirtualName = 63;

/* The largest --gap, in milliseconds. */
const long kMaxGapMs = 60000;
/* The largest --wait and --timeout, and --expect. */
const long kMaxWaitMs = 600000;
const long kMaxExpect = 1000000;

/* Reads argv[1..argc-1].  --help and --version end the reading where they
   stand; so does the first error. */
CliOptions parseOptions(int argc, const char *const *argv);

void printUsage(FILE *to);

#endif
