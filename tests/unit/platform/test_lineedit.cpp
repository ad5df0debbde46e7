/*
 * The line editor every console's readLine uses: what is kept of the keys
 * typed, what is echoed, and the bounds of the buffer.
 */
#include "platform/common/lineedit.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

class Script : public vt::LineKeys {
public:
    explicit Script(std::vector<int> keys) : keys_(keys) {}
    int next() override { return at_ < keys_.size() ? keys_[at_++] : vt::kKeyEnd; }
    void echo(const char *p, size_t n) override { echoed.append(p, n); }
    std::string echoed;

private:
    std::vector<int> keys_;
    size_t at_ = 0;
};

std::vector<int> text(const std::string &s)
{
    std::vector<int> k;
    for (unsigned char c : s)
        k.push_back(c);
    return k;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const int BS = 8;
const std::vector<int> kF1 = {vt::kKeyPrefixed, 0x3B};
const std::vector<int> kUp = {vt::kKeyPrefixed | 0xE0, 0x48};

TEST(LineEdit, KeysKeptAndEchoed)
{
    const struct {
        const char *what;
        std::vector<int> keys;
        unsigned size;
        int ret;
        std::string line, echo;
    } rows[] = {
        {"Enter ends the line", text("ab\r"), 16, 2, "ab", "ab\n"},
        {"a line feed too", text("ab\ncd"), 16, 2, "ab", "ab\n"},
        {"the end of the input gives the line", text("ab"), 16, 2, "ab", "ab"},
        {"an empty line", text("\r"), 16, 0, "", "\n"},
        {"control and function keys pass", text("a\x01\t") + kF1 + kUp + text("b\x1b\r"), 16, 2, "ab",
            "ab\n"},
        {"bytes past the room are dropped", text("abcdef\r"), 4, 3, "abc", "abc\n"},
        {"Backspace rubs out one character", text("ab\bc\r"), 16, 2, "ac", "ab\b \bc\n"},
        {"Backspace with nothing to rub out", text("\b\ba\r"), 16, 1, "a", "a\n"},
        /* UTF-8: a character is kept whole or not at all */
        {"a whole character fits", text("\xc3\xa9\r"), 4, 2, "\xc3\xa9", "\xc3\xa9\n"},
        {"one that does not fit is dropped whole", text("ab\xc3\xa9x\r"), 4, 3, "abx", "abx\n"},
        {"three bytes led by E0", text("\xe0\xa4\x85\r"), 4, 3, "\xe0\xa4\x85", "\xe0\xa4\x85\n"},
        {"Backspace takes the whole character", text("a\xe2\x82\xac") + std::vector<int>{BS} + text("b\r"),
            16, 2, "ab", "a\xe2\x82\xac\b \bb\n"},
        {"Backspace after a dropped one", text("abc\xc3\xa9") + std::vector<int>{BS} + text("\xc3\xa9\r"), 5,
            4, "ab\xc3\xa9", "abc\b \b\xc3\xa9\n"},
    };
    for (const auto &r : rows) {
        Script keys(r.keys);
        char buf[32];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(r.ret, vt::editLine(keys, buf, r.size)) << r.what;
        EXPECT_EQ(r.line, std::string(buf)) << r.what;
        EXPECT_EQ(r.echo, keys.echoed) << r.what;
        EXPECT_EQ('Z', buf[r.size]) << r.what << ": written past the buffer";
    }
}

TEST(LineEdit, TheEndBeforeAnyCharacterIsMinusOne)
{
    const std::vector<std::vector<int>> inputs = {{}, text("\x01"), kF1, text("\b")};
    for (const std::vector<int> &keys : inputs) {
        Script s(keys);
        char buf[8] = "old";
        EXPECT_EQ(-1, vt::editLine(s, buf, sizeof buf));
        EXPECT_STREQ("", buf);
    }
    Script none(text("abc\r"));
    char one = 'Z';
    EXPECT_EQ(0, vt::editLine(none, &one, 1)) << "room for the terminator only";
    EXPECT_EQ(0, one);
}

} // namespace
