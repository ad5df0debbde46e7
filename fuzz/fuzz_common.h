/*
 * Shared by the fuzz targets: a check that stops the run with a message
 * when an invariant breaks, and a capture of the console output of one run
 * into a fixed buffer, so that what the code printed can be judged too.
 */
#ifndef VOLTANIS_FUZZ_COMMON_H
#define VOLTANIS_FUZZ_COMMON_H

#include "frontend/frontend.h"
#include "platform/testdouble/testdouble.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#define FUZZ_CHECK(cond, ...)                                                                                \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fprintf(stderr, "invariant broken at %s:%d: %s\n  ", __FILE__, __LINE__, #cond);                 \
            fprintf(stderr, __VA_ARGS__);                                                                    \
            fprintf(stderr, "\n");                                                                           \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)

/* The system code prints with printf to stdout; for the length of one run
   stdout is a stream over this buffer.  (glibc lets stdout be assigned.) */
class OutputCapture {
public:
    OutputCapture()
    {
        saved_ = stdout;
        f_ = fmemopen(buf_, sizeof buf_ - 1, "w");
        if (!f_)
            abort();
        setvbuf(f_, nullptr, _IOFBF, 0);
        stdout = f_;
    }
    ~OutputCapture() { finish(); }

    /* what was printed so far; ends the capture */
    std::string text()
    {
        finish();
        return std::string(buf_, len_);
    }
    /* the capture buffer ran full: the text is cut */
    bool cut() const { return len_ >= sizeof buf_ - 2; }

private:
    void finish()
    {
        if (!f_)
            return;
        fflush(f_);
        long n = ftell(f_);
        len_ = n < 0 ? 0 : (size_t)n;
        if (len_ > sizeof buf_ - 1)
            len_ = sizeof buf_ - 1;
        fclose(f_);
        f_ = nullptr;
        stdout = saved_;
    }

    static char buf_[1 << 20];
    FILE *f_ = nullptr;
    FILE *saved_ = nullptr;
    size_t len_ = 0;
};

inline char OutputCapture::buf_[1 << 20];

/* "90 3c 40" for messages */
inline std::string fuzzHex(const unsigned char *p, size_t n)
{
    std::string s;
    char tmp[4];
    for (size_t i = 0; i < n && i < 64; i++) {
        snprintf(tmp, sizeof tmp, i ? " %02x" : "%02x", p[i]);
        s += tmp;
    }
    if (n > 64)
        s += " ...";
    return s;
}

/* The test double once per process, with one output port for the system's
   transmissions to land in. */
inline void fuzzSetUpOutputPort(void)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    td::install();
    td::endOfInput(false);
    td::addOutPort("Fuzz Out");
    fillNoteNames();
}

#endif
