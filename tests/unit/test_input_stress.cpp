/*
 * The capture under load, with the callback on a thread of its own and the
 * main thread draining as the main loop does: nothing that was not counted
 * lost may be missing, doubled or out of order.  Built with
 * -DVOLTANIS_SANITIZE=thread these also show that the hand-over is free of
 * data races.
 */
#include "test_input_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class InputStress : public InputTest {};

uint32_t waiting() { return (gRHead.load() - gRTail.load()) & (RING_SIZE - 1); }

TEST_F(InputStress, AMillionShortMessagesArriveInOrderOrAreCountedLost)
{
    const uint32_t kTotal = 1200000;
    std::atomic<bool> done{false};
    gbRecQuiet = 1; /* nothing shown: the drain runs at full speed */

    /* the whole 24 bits of each word count up, so any message out of place
       is seen; every fourth burst waits for the reader so that the run has
       stretches without loss as well as overruns */
    std::thread producer([&] {
        for (uint32_t i = 0; i < kTotal; i++) {
            if (i % 20000 == 0 && (i / 20000) % 4 == 0)
                while (waiting() != 0)
                    std::this_thread::yield();
            midiCallback(0, MIM_DATA, 0, i & 0xFFFFFF, 0);
        }
        done.store(true, std::memory_order_release);
    });

    uint32_t next = 0, received = 0, firstBad = 0;
    bool bad = false;
    for (;;) {
        bool finished = done.load(std::memory_order_acquire);
        if (showOneEntry()) {
            if (!bad && gReceived < next) {
                bad = true;
                firstBad = gReceived;
            }
            next = gReceived + 1;
            received++;
            continue;
        }
        if (finished)
            break;
        std::this_thread::yield();
    }
    producer.join();

    EXPECT_FALSE(bad) << "message " << firstBad << " came again or out of order";
    EXPECT_LE(next, kTotal);
    uint32_t lost = gRLost.load();
    EXPECT_EQ(received + lost, kTotal);
    EXPECT_GT(received, (uint32_t)RING_SIZE);
    RecordProperty("lost", (int)lost);

    char line[128] = "";
    if (lost)
        snprintf(line, sizeof line, "\nERROR MIDI IN: %u messages lost, receive buffer full\n", lost);
    EXPECT_EQ(printed(receiveIdleChecks), line);
    EXPECT_EQ(gRLost.load(), 0u);
}

TEST_F(InputStress, ShortLongAndErrorNotificationsInterleavedLoseNothing)
{
    const uint32_t kNotes = 16000; /* fits the 14 bits of two data bytes */
    openInput();
    gMode = 0;
    std::atomic<bool> done{false};
    std::atomic<bool> stuck{false};
    uint32_t sysexSent = 0, errorsSent = 0;

    std::thread producer([&] {
        for (uint32_t i = 0; i < kNotes && !stuck; i++) {
            /* a service's port would lose what does not fit; this one waits,
               so that every message must arrive */
            while (waiting() > RING_SIZE - 100)
                std::this_thread::yield();
            midiCallback(0, MIM_DATA, 0, 0x90 | ((i >> 7) & 0x7F) << 8 | (i & 0x7F) << 16, 0);
            if (i % 400 == 7) {
                char text[16];
                int len = snprintf(text, sizeof text, "S%u", sysexSent);
                std::vector<uint8_t> msg((size_t)len + 3);
                msg[0] = 0xF0;
                msg[1] = 0x7D;
                for (int k = 0; k < len; k++)
                    msg[(size_t)k + 2] = (uint8_t)text[k];
                msg[(size_t)len + 2] = 0xF7;
                /* the one buffer comes back only once the last SysEx was
                   taken; a lost hand-back would leave it out for good */
                auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!td::deliverLong(msg)) {
                    if (std::chrono::steady_clock::now() > until) {
                        stuck = true;
                        break;
                    }
                    std::this_thread::yield();
                }
                sysexSent++;
            }
            if (i % 777 == 5) {
                midiCallback(0, MIM_ERROR, 0, errorsSent & 0x7F, 0);
                errorsSent++;
            }
        }
        done.store(true, std::memory_order_release);
    });

    std::string out = printed([&] {
        for (;;) {
            bool finished = done.load(std::memory_order_acquire);
            if (showOneEntry())
                continue;
            receiveIdleChecks();
            if (finished) {
                /* what the last notifications left */
                for (int i = 0; i < 300; i++)
                    receiveIdleChecks();
                break;
            }
            std::this_thread::yield();
        }
    });
    producer.join();
    ASSERT_FALSE(stuck) << "the input buffer was never queued again";

    uint32_t notes = 0, sysex = 0, errors = 0, other = 0;
    bool inOrder = true;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        unsigned a, b, c;
        if (sscanf(line.c_str(), "  MIDI Note ON     %x %x %x", &a, &b, &c) == 3) {
            inOrder = inOrder && a == 0x90 && (b << 7 | c) == notes;
            notes++;
        } else if (sscanf(line.c_str(), "  SysEx( 7d ) S%u EOX", &a) == 1) {
            inOrder = inOrder && a == sysex;
            sysex++;
        } else if (sscanf(line.c_str(), "  wild byte      %x", &a) == 1) {
            inOrder = inOrder && a == (errors & 0x7F);
            errors++;
        } else {
            other++;
        }
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(notes, kNotes);
    EXPECT_EQ(sysex, sysexSent);
    EXPECT_EQ(errors, errorsSent);
    EXPECT_EQ(other, 0u);
    EXPECT_GT(sysexSent, 30u);
    EXPECT_EQ(gRLost.load(), 0u);
}

} // namespace
