/* For the benchmarks of the system code alone: an output port that takes
   every long message at once and does nothing with it, and a console whose
   output goes nowhere but, as in the program, unbuffered. */
#ifndef VOLTANIS_BENCH_NULL_H
#define VOLTANIS_BENCH_NULL_H

#include <stdint.h>
#include <stdio.h>

/* Installs the null port as the MIDI service and opens it as gOutHandle. */
void benchNullPortInstall(void);
/* Bytes the null port was handed since the install. */
uint64_t benchNullPortBytes(void);

/* For the time of its life, printf goes to /dev/null, unbuffered as the
   program's console is (every print one write). */
class BenchQuietConsole {
public:
    BenchQuietConsole();
    ~BenchQuietConsole();

private:
    FILE *saved_;
    FILE *null_;
};

#endif
