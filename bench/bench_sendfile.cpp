/*
 * The send file's path, without the pauses of the slow pace: a file of
 * 10 MB read by ReadSendLine, one one-byte ReadFile call per byte as the
 * system makes them, through the real files of the platform, and each
 * block of 64 bytes handed to a port that takes it at once.  The best of
 * three runs, as seconds for the file and megabytes per second.
 */
#include "bench_null.h"

#include "frontend/frontend.h"
#include "output/output.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <vector>

namespace {

const size_t kFileBytes = 10u * 1000 * 1000;

double nowS()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

bool makeFile(const char *path)
{
    std::vector<unsigned char> data(kFileBytes);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(0x90 + i % 3);
    FILE *f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

/* Seconds for the whole file, or -1 when it did not go whole. */
double sendOnce(const char *path)
{
    uint64_t before = benchNullPortBytes();
    double t0 = nowS();
    ghSendFile = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ghSendFile == INVALID_HANDLE_VALUE)
        return -1;
    int r;
    do {
        r = ReadSendLine();
        if (r != 0)
            sendLongMsg(gTXCol);
    } while (r == 1);
    CloseHandle(ghSendFile);
    ghSendFile = INVALID_HANDLE_VALUE;
    double took = nowS() - t0;
    return r == 255 && benchNullPortBytes() - before == kFileBytes ? took : -1;
}

} // namespace

int main()
{
    char path[] = "/tmp/vt-bench-send-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || close(fd) != 0 || !makeFile(path)) {
        fprintf(stderr, "bench_sendfile: cannot make %s\n", path);
        return 1;
    }
    benchNullPortInstall();
    double best = -1;
    for (int run = 0; run < 3; run++) {
        double s = sendOnce(path);
        if (s < 0) {
            fprintf(stderr, "bench_sendfile: the file did not go whole\n");
            unlink(path);
            return 1;
        }
        if (best < 0 || s < best)
            best = s;
    }
    unlink(path);
    char value[64];
    snprintf(value, sizeof value, "%.3f s (%.1f MB/s)", best, kFileBytes / 1e6 / best);
    printf("RESULT\tsend file of 10 MB, fast pace, to a port that takes it at once\t%s\t< 1 s\t%s\n", value,
        best < 1.0 ? "yes" : "no");
    return 0;
}
