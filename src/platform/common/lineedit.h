/*
 * The one line editor behind readLine, on every console: the POSIX
 * terminal and pipe, the Windows pipe, and the test double's keyboard.
 * Each gives it a source of keys and a place to echo to.
 *
 * Characters are kept and echoed while they fit; a character of several
 * UTF-8 bytes is kept whole or not at all, and Backspace rubs out a whole
 * character.  Control characters, function and cursor keys are passed
 * over.  Enter (13 or 10) ends the line and echoes a line end; input that
 * ends in the middle of a line gives that line, with no line end echoed;
 * input that ends before any character is kept gives -1.
 */
#ifndef VOLTANIS_PLATFORM_LINEEDIT_H
#define VOLTANIS_PLATFORM_LINEEDIT_H

#include <stddef.h>

namespace vt {

/* Marks the first byte of a function or cursor key; its scan code comes as
   the next key. */
const int kKeyPrefixed = 0x100;
/* What a key source answers at the end of its input, every time asked. */
const int kKeyEnd = -1;

class LineKeys {
public:
    virtual ~LineKeys() {}
    /* The next key (a byte, perhaps marked kKeyPrefixed), waiting for it;
       kKeyEnd at the end of the input.  Backspace is 8. */
    virtual int next() = 0;
    /* Shows what the editor echoes; a source nobody watches drops it. */
    virtual void echo(const char *p, size_t n) = 0;
};

/* Reads one line into buf, at most size-1 bytes and a terminating zero.
   Returns the number of bytes kept, or -1 at the end of the input (buf
   then holds an empty line). */
int editLine(LineKeys &keys, char *buf, unsigned size);

} // namespace vt

#endif
