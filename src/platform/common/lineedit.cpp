#include "lineedit.h"

#include <stdint.h>

namespace vt {

namespace {

unsigned utf8Length(uint8_t lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

bool isContinuation(uint8_t c) { return (c & 0xC0) == 0x80; }

} // namespace

int editLine(LineKeys &keys, char *buf, unsigned size)
{
    const unsigned limit = size ? size - 1 : 0;
    unsigned count = 0;
    bool dropping = false; /* the rest of a character that did not fit */
    for (;;) {
        int key = keys.next();
        if (key == kKeyEnd) {
            if (count == 0) {
                if (size)
                    buf[0] = 0;
                return -1;
            }
            break;
        }
        if (key & kKeyPrefixed) {
            keys.next(); /* its scan code */
            continue;
        }
        uint8_t c = (uint8_t)key;
        if (c == 13 || c == 10) {
            keys.echo("\n", 1);
            break;
        }
        if (c == 8) {
            if (count) {
                do
                    count--;
                while (count && isContinuation((uint8_t)buf[count]));
                keys.echo("\b \b", 3);
            }
            dropping = false;
            continue;
        }
        if (c < 0x20)
            continue;
        if (isContinuation(c)) {
            if (dropping || count >= limit)
                continue;
        } else {
            dropping = count + utf8Length(c) > limit;
            if (dropping)
                continue;
        }
        buf[count++] = (char)c;
        keys.echo((const char *)&c, 1);
    }
    if (size)
        buf[count] = 0;
    return (int)count;
}

} // namespace vt
