/*
 * The sequencer client: opened once, non-blocking, with buffers and pools
 * sized for bursts; the ports it makes; and the entry point.
 *
 * The input pool is taken as large as the kernel gives, since the default
 * overflows in any burst.
 */
#include "alsa.h"
#include "internal.h"

#include <new>

namespace {

const size_t kInBuf = 65536; /* libasound's input buffer */
/* The output buffer, and so the most one write delivers: small enough
   that one write cannot fill a receiver's pool on its own (4 KB: at most
   about 160 cells of the 2000 an input pool holds). */
const size_t kOutBuf = 4096;
const int kSpareCells = 100;                 /* room left for what others send meanwhile */
const unsigned kPools[] = {2000, 1000, 500}; /* input pool sizes to try, largest first */

/* libasound prints its errors on stderr, into the middle of the console;
   every failure here is reported through a result instead. */
void quiet(const char *, int, const char *, int, const char *, ...) {}

} // namespace

namespace vt {
namespace alsa {

bool SeqBackend::open()
{
    snd_lib_error_set_handler(quiet);
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        seq_ = nullptr;
        return false;
    }
    snd_seq_set_client_name(seq_, "Voltanis");
    self_ = snd_seq_client_id(seq_);
    snd_seq_set_output_buffer_size(seq_, kOutBuf);
    snd_seq_set_input_buffer_size(seq_, kInBuf);
    /* The kernel ignores a size beyond its limit without a word: read it
       back and step down until one holds. */
    for (unsigned size : kPools) {
        if (snd_seq_set_client_pool_input(seq_, size) < 0)
            continue;
        snd_seq_client_pool_t *pool;
        snd_seq_client_pool_alloca(&pool);
        if (snd_seq_get_client_pool(seq_, pool) == 0 && snd_seq_client_pool_get_input_pool(pool) >= size)
            break;
    }
    return true;
}

bool SeqBackend::inputRoom(int cells)
{
    if (router_.count() == 0)
        return true;
    snd_seq_client_pool_t *pool;
    snd_seq_client_pool_alloca(&pool);
    if (snd_seq_get_client_pool(seq_, pool) < 0)
        return true;
    int room = (int)snd_seq_client_pool_get_input_free(pool);
    int size = (int)snd_seq_client_pool_get_input_pool(pool);
    int spare = kSpareCells < size / 4 ? kSpareCells : size / 4;
    if (room >= cells + spare || room == size)
        return true;
    /* the sender waits for this client's own input to be read: by the
       reader, since the main thread is the one sending */
    handOver();
    return false;
}

int SeqBackend::newPort(const char *name, unsigned caps)
{
    return snd_seq_create_simple_port(seq_, name, caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
}

} // namespace alsa
} // namespace vt

namespace {

/* Made once and never destroyed: at exit the process ends with the
   client (a reader thread still running then must not be joined by a
   static destructor). */
vt::alsa::SeqBackend *gBackend = nullptr;
bool gTried = false;

} // namespace

vt::Backend *vtAlsaBackend(void)
{
    if (!gTried) {
        gTried = true;
        vt::alsa::SeqBackend *b = new (std::nothrow) vt::alsa::SeqBackend;
        if (b && b->open())
            gBackend = b;
        else
            delete b;
    }
    return gBackend;
}
