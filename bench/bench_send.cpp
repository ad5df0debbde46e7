/*
 * A paced sender for bench/syscalls.sh: N note-ons to one sequencer port,
 * each at its own time on the monotonic clock (a late one does not shift
 * the rest), as a device playing at a steady rate would send them.  A
 * sequencer queue would deliver them on its timer's ticks (4 ms with the
 * system timer), several at once.
 *
 *   bench_send CLIENT:PORT N RATE
 */
#include <alsa/asoundlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: bench_send CLIENT:PORT N RATE\n");
        return 2;
    }
    long n = atol(argv[2]);
    double rate = atof(argv[3]);
    snd_seq_t *seq;
    snd_seq_addr_t dest;
    if (n < 1 || rate <= 0 || snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0 ||
        snd_seq_parse_address(seq, &dest, argv[1]) < 0) {
        fprintf(stderr, "bench_send: no sequencer, or no port %s\n", argv[1]);
        return 1;
    }
    snd_seq_set_client_name(seq, "bench_send");
    int port = snd_seq_create_simple_port(seq, "out", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_APPLICATION);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long period = (long long)(1e9 / rate);
    for (long k = 0; k < n; k++) {
        long long due = (long long)start.tv_sec * 1000000000LL + start.tv_nsec + k * period;
        struct timespec at = {(time_t)(due / 1000000000LL), (long)(due % 1000000000LL)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
        }
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, port);
        snd_seq_ev_set_dest(&ev, dest.client, dest.port);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_noteon(&ev, 0, (int)(k % 128), (int)(1 + k % 127));
        snd_seq_event_output_direct(seq, &ev);
    }
    snd_seq_close(seq);
    return 0;
}
