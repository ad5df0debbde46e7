/*
 * Ports that come and go, told in lines (portnews.cpp): a chosen port that
 * vanished or came back, a program that connected to the offered port.  A
 * port that keeps vanishing and coming back gets one line a second, and a
 * count of the rest.  And the tag that names the source of each line while
 * several input ports are merged.
 */
#ifndef VOLTANIS_EXTRAS_PORTNEWS_H
#define VOLTANIS_EXTRAS_PORTNEWS_H

#include "../platform/platform.h"

#include <stddef.h>
#include <stdint.h>

/* One port's lines: at most one a second; what came meanwhile is counted
   and told in one line when the second is over. */
class NewsPace {
public:
    static const int64_t kQuietUs = 1000000;
    static const int kPorts = 32;

    /* Whether the news of (isOut, name) gets a line now; otherwise it is
       counted (its kind, and the SysEx it cut). */
    bool take(const VtPortEvent &e, int64_t nowUs);
    /* A port whose second is over with news counted: its record, to be
       told; the count starts again.  false when none. */
    bool due(int64_t nowUs, VtPortEvent *last, unsigned *more, unsigned *cut);
    /* When the next count is due; -1 for none. */
    int64_t dueUs() const;
    void clear();

private:
    struct Port {
        bool used;
        int key; /* isOut; 2 + isOut for a connection */
        char name[32];
        int64_t lineUs;
        unsigned more;
        unsigned cut;
        VtPortEvent last;
    };
    Port *find(const VtPortEvent &e);
    Port ports_[kPorts] = {};
};

/* The tag that starts a line of a merged input: the source's number from
   1 and the first 8 characters of its name as names are shown, padded to
   a fixed width ("2:Keys    "); "?:" and blanks for a source unknown
   (number 0). */
const size_t kSourceTagSize = 48;
void formatSourceTag(int number, const char *name, char out[kSourceTagSize]);

/* The lines of the news that vtPortsFollow gives, on stdout, and the
   markers of the SMF log (through `marker`, which may be null). */
void portNewsWork(void (*marker)(const char *text));
int64_t portNewsDueUs(void);
void portNewsOffered(const char *name);
void portNewsOff(void);

#endif
