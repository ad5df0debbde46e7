/*
 * The strings of --json: whatever bytes a port's name or an explanation
 * holds, the text is valid JSON and valid UTF-8, and nothing in it acts on
 * a terminal.
 */
#include "extras/json.h"

#include <gtest/gtest.h>

#include <string>

TEST(Json, StringsAreEscapedWhateverTheBytes)
{
    const struct {
        const char *text, *escaped;
    } cases[] = {
        {"Voltanis Loopback", "Voltanis Loopback"},
        {"say \"hi\" \\ there", "say \\\"hi\\\" \\\\ there"},
        {"tab\there\nESC\x1b[2J", "tab\\u0009here\\u000aESC\\u001b[2J"},
        {"del\x7f", "del\\u007f"},
        {"C1 \xc2\x9b" "31m", "C1 \\u009b31m"},                  /* CSI as UTF-8 */
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9"},
        {"latin1 \xe9t\xe9", "latin1 \\ufffdt\\ufffd"},          /* no UTF-8 */
        {"cut \xe2\x82", "cut \\ufffd\\ufffd"},                  /* a character cut short */
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},               /* a surrogate */
        {"\xc0\xaf", "\\ufffd\\ufffd"},                          /* an overlong '/' */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char out[200];
        size_t n = jsonEscape(c.text, out, sizeof out);
        EXPECT_EQ(std::string(out), c.escaped);
        EXPECT_EQ(n, strlen(c.escaped));
    }
}

TEST(Json, WhatDoesNotFitIsLeftOutNeverHalfAnEscape)
{
    const struct {
        size_t size;
        const char *kept;
    } cases[] = {{1, ""}, {3, "ab"}, {4, "ab"}, {9, "ab\\u0001"}, {12, "ab\\u0001\\\""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        char out[16];
        jsonEscape("ab\x01\"\xc3\xa9", out, c.size);
        EXPECT_EQ(std::string(out), c.kept);
    }
}
