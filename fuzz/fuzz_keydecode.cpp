/*
 * The terminal key decoder on arbitrary bytes, with the ESC wait running
 * out at arbitrary places.
 *
 * Checked after every byte and every timeout:
 * - never more than two key bytes; two are always a prefix (0 or 0xE0)
 *   and one of the scan codes the main loop knows for it;
 * - a single key byte is never a prefix 0 (the byte after it would be
 *   eaten as a scan code), never DEL (it becomes Backspace), and ESC comes
 *   out only when the wait runs out on a lone ESC;
 * - nothing is pending after a timeout, and the kept parameters stay
 *   inside their array;
 * - a stream without ESC passes unchanged, but for DEL as Backspace and
 *   NUL dropped.
 */
#include "fuzz_common.h"

#include "platform/posix/keydecode.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <string.h>

#include <vector>

namespace {

bool knownScan(uint8_t prefix, uint8_t scan)
{
    if (prefix == 0x00)
        return (scan >= 0x3B && scan <= 0x44) || scan == 0x85 || scan == 0x86;
    static const uint8_t edit[] = {0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53};
    for (uint8_t e : edit)
        if (scan == e)
            return true;
    return false;
}

void checkKeys(
    const VtKeyDecoder &d, const uint8_t *out, unsigned n, bool fromTimeout, std::vector<uint8_t> &keys)
{
    FUZZ_CHECK(n <= VT_KEY_OUT_MAX, "%u key bytes at once", n);
    FUZZ_CHECK(d.nparam <= VT_KEY_PARAM_MAX, "%u parameters kept", d.nparam);
    if (n == 2) {
        FUZZ_CHECK(out[0] == 0x00 || out[0] == 0xE0, "two bytes without a prefix: %02x %02x", out[0], out[1]);
        FUZZ_CHECK(knownScan(out[0], out[1]), "unknown scan code %02x %02x", out[0], out[1]);
    } else if (n == 1) {
        FUZZ_CHECK(out[0] != 0x00, "a lone prefix 00 would eat the next key");
        FUZZ_CHECK(out[0] != 0x7F, "DEL not turned into Backspace");
        if (out[0] == 0x1B)
            FUZZ_CHECK(fromTimeout, "ESC out before the wait ran out");
    }
    for (unsigned i = 0; i < n; i++)
        keys.push_back(out[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    /* one bit per byte: does the wait run out after it */
    uint64_t waits = in.ConsumeIntegral<uint64_t>();
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();

    VtKeyDecoder d;
    vtKeyInit(&d);
    std::vector<uint8_t> keys;
    bool anyEsc = false;
    for (size_t i = 0; i < bytes.size(); i++) {
        uint8_t out[VT_KEY_OUT_MAX + 2];
        memset(out, 0xCC, sizeof out);
        unsigned n = vtKeyFeed(&d, bytes[i], out);
        FUZZ_CHECK(out[VT_KEY_OUT_MAX] == 0xCC && out[VT_KEY_OUT_MAX + 1] == 0xCC, "written past the keys");
        checkKeys(d, out, n, false, keys);
        anyEsc |= bytes[i] == 0x1B;
        if (((waits >> (i % 64)) & 1) && vtKeyPending(&d)) {
            n = vtKeyTimeout(&d, out);
            checkKeys(d, out, n, true, keys);
            FUZZ_CHECK(!vtKeyPending(&d), "still pending after the wait ran out");
        }
    }
    uint8_t out[VT_KEY_OUT_MAX];
    checkKeys(d, out, vtKeyTimeout(&d, out), true, keys);
    FUZZ_CHECK(!vtKeyPending(&d), "still pending after the wait ran out");

    if (!anyEsc) {
        std::vector<uint8_t> want;
        for (uint8_t b : bytes)
            if (b != 0x00) /* a typed NUL (CTRL-@) is dropped */
                want.push_back(b == 0x7F ? 0x08 : b);
        FUZZ_CHECK(keys == want, "a stream without ESC changed: %s -> %s",
            fuzzHex(bytes.data(), bytes.size()).c_str(), fuzzHex(keys.data(), keys.size()).c_str());
    }
    return 0;
}
