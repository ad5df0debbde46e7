/*
 * Input capture: the callback and its queues.
 *
 * midiCallback runs on the port service's thread and only stores; the
 * display (display.cpp) takes from the queues on the main thread, where
 * every print and every record write happens.  Nothing is locked: each
 * queue below has exactly one writer (the callback) and one reader (the
 * main loop), and each index is published with a release store and read
 * with an acquire load.
 */
#include "inputpriv.h"
#include "../frontend/frontend.h"

#include <stdio.h>
#include <string.h>

uint32_t gRecvBuf[RING_SIZE];
std::atomic<uint32_t> gRHead{0}, gRTail{0};
std::atomic<uint32_t> gMsg{0};
std::atomic<DWORD_PTR> gParam1{0};
uint8_t gRbuf1[RBUF_SIZE], gRbuf2[RBUF_SIZE];
MIDIHDR gMidiInHdr;
uint32_t gReceived;
int64_t gReceivedUs;
std::atomic<uint32_t> gRLost{0}, gRLongLost{0}, gROverflows{0};

/* Beside each queue, the arrival time of each entry (vtClockUs, as the port
   layer stamped it), written before the entry is published. */
static int64_t sRecvTime[RING_SIZE];

/* The latest-notification slot is overwritten by every notification, so a
   returned long-message buffer is announced here as well, where nothing
   but its own hand-back can overwrite it: MIM_LONGDATA or MIM_LONGERROR
   while the buffer waits on the main thread, 0 while the service has it.
   There is only one buffer, so at most one hand-back can be pending. */
static std::atomic<uint32_t> sLongBack{0};
static int64_t sLongTime;

/* Between the set-up and the stop: the buffer goes back to the port after
   each message.  After the stop a message still waiting is shown, and the
   buffer stays. */
static int sInputOpen;

/* Invalid-byte notices in order of arrival, each with its own parameter,
   so that a burst of them is neither merged nor lost to the single slot. */
#define ERRQ_SIZE 256
static uint32_t sErrQ[ERRQ_SIZE];
static int64_t sErrTime[ERRQ_SIZE];
static std::atomic<uint32_t> sErrHead{0}, sErrTail{0};

static inline uint32_t ringNext(uint32_t i) { return (i + 1) & (RING_SIZE - 1); }

void CALLBACK midiCallback(HMIDIIN h, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2)
{
    (void)h;
    (void)instance;
    const int64_t arrivalUs = vtArrivalUs(param2);

    gMsg.store(msg, std::memory_order_release);
    gParam1.store(param1, std::memory_order_release);

    if (msg == MIM_DATA || msg == MIM_MOREDATA) {
        uint32_t head = gRHead.load(std::memory_order_relaxed);
        uint32_t next = ringNext(head);
        /* 8191 waiting is full: one more would look like an empty ring.
           The newest message is dropped and counted, never waited for. */
        if (next == gRTail.load(std::memory_order_acquire)) {
            gRLost.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        gRecvBuf[head] = (uint32_t)param1;
        sRecvTime[head] = arrivalUs;
        gRHead.store(next, std::memory_order_release);
    } else if (msg == MIM_LONGDATA || msg == MIM_LONGERROR) {
        /* release: the service filled gRbuf1 and the header before this */
        sLongTime = arrivalUs;
        sLongBack.store(msg, std::memory_order_release);
    } else if (msg == MIM_ERROR) {
        uint32_t head = sErrHead.load(std::memory_order_relaxed);
        uint32_t next = (head + 1) % ERRQ_SIZE;
        if (next == sErrTail.load(std::memory_order_acquire)) {
            gRLost.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        sErrQ[head] = (uint32_t)param1;
        sErrTime[head] = arrivalUs;
        sErrHead.store(next, std::memory_order_release);
    } else if (msg == MIM_VT_LONGLOST) {
        gRLongLost.fetch_add((uint32_t)param1, std::memory_order_relaxed);
    } else if (msg == MIM_VT_OVERRUN) {
        gROverflows.fetch_add((uint32_t)param1, std::memory_order_relaxed);
    }
}

/* Empties the queues for a new port; what a previous port left in them
   unshown (the display normally shows it all at the close) is counted lost,
   never forgotten unsaid.  Only while no callback can run: before input
   starts, or after the port was closed. */
static void clearCapture(void)
{
    uint32_t left =
        (gRHead.load(std::memory_order_acquire) - gRTail.load(std::memory_order_acquire)) & (RING_SIZE - 1);
    left +=
        (sErrHead.load(std::memory_order_acquire) + ERRQ_SIZE - sErrTail.load(std::memory_order_acquire)) %
        ERRQ_SIZE;
    gRLost.fetch_add(left, std::memory_order_relaxed);
    /* a message whole or cut off, either would have been shown */
    uint32_t back = sLongBack.load(std::memory_order_acquire);
    if ((back == MIM_LONGDATA && gMidiInHdr.dwBytesRecorded > 0) || back == MIM_LONGERROR)
        gRLongLost.fetch_add(1, std::memory_order_relaxed);
    gRHead.store(0, std::memory_order_release);
    gRTail.store(0, std::memory_order_release);
    sErrHead.store(0, std::memory_order_release);
    sErrTail.store(0, std::memory_order_release);
    sLongBack.store(0, std::memory_order_release);
}

void inputSetup(void)
{
    clearCapture();
    if (gInHandle == 0)
        return;
    sInputOpen = 1;

    gMidiInHdr.lpData = (LPSTR)gRbuf1;
    gMidiInHdr.dwBufferLength = RBUF_SIZE;
    gMidiInHdr.dwFlags = 0;

    if (midiInStart(gInHandle) != MMSYSERR_NOERROR)
        printf("\nERROR MIDI IN START\n");
    if (midiInPrepareHeader(gInHandle, &gMidiInHdr, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        printf("\nERROR MIDI IN PREPARE\n");
    if (midiInAddBuffer(gInHandle, &gMidiInHdr, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        printf("\nERROR MIDI IN ADDBUFFER\n");
}

void inputStop(void)
{
    if (gInHandle == 0)
        return;
    midiInReset(gInHandle);
    /* the service may still hold the buffer for a moment after the reset */
    while (midiInUnprepareHeader(gInHandle, &gMidiInHdr, sizeof(MIDIHDR)) == MIDIERR_STILLPLAYING) {
    }
    midiInClose(gInHandle);
    /* What arrived before the reset stays to be shown: the short messages,
       the invalid bytes, and a message in the buffer if it came back full
       (the reset's own hand-back is empty, and no message). */
    sInputOpen = 0;
}

int takeShortMessage(uint32_t *word, int64_t *arrivalUs)
{
    uint32_t tail = gRTail.load(std::memory_order_relaxed);
    if (tail == gRHead.load(std::memory_order_acquire))
        return 0;
    *word = gRecvBuf[tail];
    *arrivalUs = sRecvTime[tail];
    gRTail.store(ringNext(tail), std::memory_order_release);
    return 1;
}

static void requeueInputBuffer(void)
{
    gMidiInHdr.lpData = (LPSTR)gRbuf1;
    gMidiInHdr.dwBytesRecorded = 0;
    if (midiInAddBuffer(gInHandle, &gMidiInHdr, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        printf("\nERROR MIDI IN ADDBUFFER\n");
}

int takeSysex(uint32_t *len, int *cut, int64_t *arrivalUs)
{
    uint32_t kind = sLongBack.load(std::memory_order_acquire);
    if (kind == 0)
        return 0;
    *arrivalUs = sLongTime;

    uint32_t n = gMidiInHdr.dwBytesRecorded;
    if (n > RBUF_SIZE)
        n = RBUF_SIZE;
    if (n > 0)
        memcpy(gRbuf2, gRbuf1, n);

    /* Cleared before the buffer goes back: once queued, the service may
       return it again at any moment. */
    sLongBack.store(0, std::memory_order_release);
    uint32_t expected = kind;
    gMsg.compare_exchange_strong(expected, 0);

    /* The service hands the buffer back empty only when input is reset,
       that is when the port is being stopped: no message, and queueing it
       again would keep the port from letting go of it. */
    if (kind == MIM_LONGDATA && n == 0)
        return 0;
    if (sInputOpen)
        requeueInputBuffer();
    /* A broken-off message comes with the bytes it had, none when it came
       in pieces and broke off right after one. */
    *cut = kind == MIM_LONGERROR;
    *len = n;
    return 1;
}

int sysexCameFirst(void)
{
    uint32_t tail = sErrTail.load(std::memory_order_relaxed);
    if (tail == sErrHead.load(std::memory_order_acquire))
        return 0;
    if (sLongBack.load(std::memory_order_acquire) == 0)
        return 0;
    return sLongTime <= sErrTime[tail];
}

int takeWildByte(uint32_t *word, int64_t *arrivalUs)
{
    uint32_t tail = sErrTail.load(std::memory_order_relaxed);
    if (tail == sErrHead.load(std::memory_order_acquire))
        return 0;
    *word = sErrQ[tail];
    *arrivalUs = sErrTime[tail];
    sErrTail.store((tail + 1) % ERRQ_SIZE, std::memory_order_release);
    uint32_t expected = MIM_ERROR;
    gMsg.compare_exchange_strong(expected, 0);
    return 1;
}

int receiveBacklogHigh(void)
{
    uint32_t ring =
        (gRHead.load(std::memory_order_acquire) - gRTail.load(std::memory_order_relaxed)) & (RING_SIZE - 1);
    uint32_t wild =
        (sErrHead.load(std::memory_order_acquire) + ERRQ_SIZE - sErrTail.load(std::memory_order_relaxed)) %
        ERRQ_SIZE;
    /* the notices' queue is small: a quarter of it leaves room for all
       that may be on its way at once (each byte can be a notice) */
    if (ring > RING_SIZE / 2 || wild > ERRQ_SIZE / 4)
        return 1;
    UINT held = 0;
    return gInHandle != 0 && midiInVtHeldLoad(gInHandle, &held) == MMSYSERR_NOERROR && held > 50;
}

int waitingBehindShorts(int64_t *arrivalUs)
{
    int any = 0;
    /* the header is the main thread's while it is handed back */
    if (sLongBack.load(std::memory_order_acquire) != 0 && gMidiInHdr.dwBytesRecorded > 0) {
        *arrivalUs = sLongTime;
        any = 1;
    }
    uint32_t tail = sErrTail.load(std::memory_order_relaxed);
    if (tail != sErrHead.load(std::memory_order_acquire) && (!any || sErrTime[tail] < *arrivalUs)) {
        *arrivalUs = sErrTime[tail];
        any = 1;
    }
    return any;
}

int takeLosses(uint32_t *lost, uint32_t *longLost, uint32_t *overflows)
{
    *lost = *longLost = *overflows = 0;
    if (gRTail.load(std::memory_order_relaxed) != gRHead.load(std::memory_order_acquire))
        return 0;
    *lost = gRLost.exchange(0, std::memory_order_acq_rel);
    *longLost = gRLongLost.exchange(0, std::memory_order_acq_rel);
    *overflows = gROverflows.exchange(0, std::memory_order_acq_rel);
    return *lost || *longLost || *overflows;
}
