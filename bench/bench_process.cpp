/*
 * The real program on a pseudo-terminal, as a user starts it: start-up
 * time, idle CPU of the main loop, resident memory.
 *
 * Each run starts the voltanis binary in a fresh directory holding a
 * preset that names the built-in loopback port both ways, so that no
 * selection is asked, with the pseudo-terminal as its controlling terminal
 * and standard input and output.
 * - start-up: from just before fork to the moment the last line of the
 *   status report (the real-time filter line) has been read from the
 *   terminal; that line is printed right before the main loop begins.
 *   Several runs; median and worst.
 * - idle CPU: after start-up and one settling second, the CPU time of all
 *   the program's threads (/proc/<pid>/task/<tid>/schedstat, nanoseconds)
 *   over 10 s with nothing typed and nothing received, and the wake-ups
 *   (context switches) over the same time.
 * - resident memory: VmHWM (peak resident set) and VmRSS from
 *   /proc/<pid>/status after the idle time, and again after some work:
 *   a send file of 30,000 bytes sent through the loopback and shown, and
 *   a SysEx line.
 */
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char *const kLoopback = "Voltanis Loopback";
const char *const kReady = "(change with CTRL-G)";

double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

[[noreturn]] void die(const char *what)
{
    perror(what);
    exit(1);
}

struct Run {
    pid_t pid = -1;
    int master = -1;
    std::string out;
    std::string dir;

    void start(const char *binary)
    {
        char tmpl[] = "/tmp/voltanis-bench-XXXXXX";
        if (!mkdtemp(tmpl))
            die("mkdtemp");
        dir = tmpl;
        unsigned char rec[168] = {6, 0, 0, 16, 0x7D, 0xFF, 0xFF, 0xFF};
        memcpy(rec + 8, kLoopback, strlen(kLoopback));
        memcpy(rec + 72, kLoopback, strlen(kLoopback));
        FILE *f = fopen((dir + "/VOLTANIS.SET").c_str(), "wb");
        if (!f || fwrite(rec, 1, sizeof rec, f) != sizeof rec)
            die("preset");
        fclose(f);

        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            die("pty");
        const char *slaveName = ptsname(master);
        struct winsize ws = {24, 80, 0, 0};
        pid = fork();
        if (pid < 0)
            die("fork");
        if (pid == 0) {
            setsid();
            int slave = open(slaveName, O_RDWR);
            if (slave < 0)
                _exit(126);
            ioctl(slave, TIOCSCTTY, 0);
            ioctl(slave, TIOCSWINSZ, &ws);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
            if (slave > 2)
                close(slave);
            close(master);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            execl(binary, binary, (char *)nullptr);
            _exit(127);
        }
    }

    /* reads what is there within the time; true when `want` has appeared */
    bool readUntil(const char *want, double seconds)
    {
        double end = now() + seconds;
        while (out.find(want) == std::string::npos) {
            double left = end - now();
            if (left <= 0)
                return false;
            struct pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, (int)(left * 1000) + 1) <= 0)
                continue;
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                return false;
            out.append(buf, (size_t)n);
        }
        return true;
    }

    void drain(double seconds) { readUntil("\x01never\x01", seconds); }

    void send(const std::string &keys)
    {
        if (write(master, keys.data(), keys.size()) != (ssize_t)keys.size())
            die("write");
    }

    /* ESC (alone, so a pause after it), then Enter at the exit prompt */
    int quit()
    {
        send("\x1b");
        readUntil("EXIT?", 5);
        send("\r");
        int st = 0;
        double end = now() + 10;
        while (waitpid(pid, &st, WNOHANG) == 0) {
            drain(0.05);
            if (now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, &st, 0);
                break;
            }
        }
        close(master);
        std::string cmd = "rm -rf " + dir;
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir.c_str());
        return st;
    }
};

/* CPU time of all threads, nanoseconds, and their context switches */
void cpuOf(pid_t pid, long long *ns, long long *switches)
{
    *ns = 0;
    *switches = 0;
    std::string base = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(base.c_str());
    if (!d)
        return;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        FILE *f = fopen((base + "/" + e->d_name + "/schedstat").c_str(), "r");
        long long run = 0, wait = 0, slices = 0;
        if (f && fscanf(f, "%lld %lld %lld", &run, &wait, &slices) == 3) {
            *ns += run;
            *switches += slices;
        }
        if (f)
            fclose(f);
    }
    closedir(d);
}

long statusKb(pid_t pid, const char *field)
{
    FILE *f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, field, n) == 0 && line[n] == ':')
            kb = atol(line + n + 1);
    fclose(f);
    return kb;
}

int threadsOf(pid_t pid) { return (int)statusKb(pid, "Threads"); }

void result(const char *measure, const std::string &value, const char *target, const char *met)
{
    printf("RESULT\t%s\t%s\t%s\t%s\n", measure, value.c_str(), target, met);
}

std::string fmt(const char *f, double v)
{
    char b[64];
    snprintf(b, sizeof b, f, v);
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    const char *binary = argc > 1 ? argv[1] : VOLTANIS_BINARY;
    int runs = 20;
    double idleSeconds = 10;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    /* start-up */
    std::vector<double> startup;
    for (int i = 0; i < runs; i++) {
        Run r;
        double t0 = now();
        r.start(binary);
        if (!r.readUntil(kReady, 10)) {
            fprintf(stderr, "the program did not reach its main loop; it printed:\n%s\n", r.out.c_str());
            return 1;
        }
        startup.push_back((now() - t0) * 1000);
        if (r.out.find("Preset loaded:") == std::string::npos)
            fprintf(stderr, "warning: the preset was not loaded\n");
        r.quit();
    }
    std::sort(startup.begin(), startup.end());
    double median = startup[startup.size() / 2];
    printf("start-up to the main loop (fork, exec, banner, preset, ports opened, status report), %d runs:"
           " min %.2f ms, median %.2f ms, max %.2f ms\n",
        runs, startup.front(), median, startup.back());

    /* idle CPU and memory */
    Run r;
    r.start(binary);
    if (!r.readUntil(kReady, 10))
        return 1;
    r.drain(1.0);
    long long ns0, sw0, ns1, sw1;
    cpuOf(r.pid, &ns0, &sw0);
    double w0 = now();
    r.drain(idleSeconds);
    cpuOf(r.pid, &ns1, &sw1);
    double wall = now() - w0;
    double idlePct = 100.0 * (double)(ns1 - ns0) / 1e9 / wall;
    long hwmIdle = statusKb(r.pid, "VmHWM"), rssIdle = statusKb(r.pid, "VmRSS");
    printf("idle for %.1f s: CPU %.3f%% of one core (%.1f ms), %.0f wake-ups/s, %d threads;"
           " VmHWM %ld KiB, VmRSS %ld KiB\n",
        wall, idlePct, (double)(ns1 - ns0) / 1e6, (double)(sw1 - sw0) / wall, threadsOf(r.pid), hwmIdle,
        rssIdle);

    /* some work: a send file through the loopback, shown as it comes back */
    {
        std::string path = r.dir + "/flood.mid";
        FILE *f = fopen(path.c_str(), "wb");
        for (int i = 0; i < 10000; i++) {
            unsigned char m[3] = {0x90, (unsigned char)(i % 128), 0x40};
            fwrite(m, 1, 3, f);
        }
        fclose(f);
        r.send("\x1b[18~"); /* F7 as an xterm sends it */
        r.readUntil("finish with <ENTER>:", 5);
        r.send("flood.mid\r");
        r.readUntil("Ready", 30);
        r.drain(1.0);
        r.send("S ");
        r.send(std::string(400, 'x') + "\r");
        r.readUntil("EOX", 5);
        r.drain(0.5);
    }
    long hwmWork = statusKb(r.pid, "VmHWM"), rssWork = statusKb(r.pid, "VmRSS");
    printf("after a send file of 30,000 bytes shown back and a SysEx line: VmHWM %ld KiB, VmRSS %ld KiB\n",
        hwmWork, rssWork);
    int st = r.quit();
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
        fprintf(stderr, "warning: the program ended with status 0x%x\n", st);

    result("start-up to the main loop, loopback port (median of 20)", fmt("%.2f ms", median), "< 20 ms",
        median < 20 ? "yes" : "NO");
    result("start-up, worst of 20", fmt("%.2f ms", startup.back()), "", "");
    result("idle CPU of the main loop over 10 s", fmt("%.3f %% of one core", idlePct), "< 1 %",
        idlePct < 1 ? "yes" : "NO");
    result("idle wake-ups", fmt("%.0f /s", (double)(sw1 - sw0) / wall), "", "");
    result("resident memory, peak (VmHWM) idle", fmt("%.2f MiB", hwmIdle / 1024.0), "< 8 MiB",
        hwmIdle < 8 * 1024 ? "yes" : "NO");
    result("resident memory, peak (VmHWM) after work", fmt("%.2f MiB", hwmWork / 1024.0), "< 8 MiB",
        hwmWork < 8 * 1024 ? "yes" : "NO");
    return 0;
}
