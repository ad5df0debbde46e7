/* Bytes as hexadecimal text, "90 3c 40", for comparisons whose failure
   messages a person can read. */
#ifndef VOLTANIS_TEST_HEX_TEXT_H
#define VOLTANIS_TEST_HEX_TEXT_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

inline std::string hexOf(const uint8_t *p, size_t n)
{
    std::string s;
    char tmp[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(tmp, sizeof tmp, i ? " %02x" : "%02x", p[i]);
        s += tmp;
    }
    return s;
}

inline std::string hexOf(const std::string &s) { return hexOf((const uint8_t *)s.data(), s.size()); }

inline std::string hexOf(const std::vector<uint8_t> &b) { return hexOf(b.data(), b.size()); }

/* "[90 3c 40][c0 05]": each transmission apart */
inline std::string hexOf(const std::vector<std::vector<uint8_t>> &sends)
{
    std::string out;
    for (const std::vector<uint8_t> &b : sends)
        out += "[" + hexOf(b) + "]";
    return out;
}

#endif
