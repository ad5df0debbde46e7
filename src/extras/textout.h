/*
 * A text built piece by piece into a buffer that always ends in a 0 and
 * never overflows: what does not fit is left out.
 */
#ifndef VOLTANIS_EXTRAS_TEXTOUT_H
#define VOLTANIS_EXTRAS_TEXTOUT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(__GNUC__) && !defined(_WIN32)
#define VT_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define VT_PRINTF_LIKE(f, a)
#endif

class TextOut {
public:
    TextOut(char *out, size_t size) : p_(out), size_(size)
    {
        if (size_ > 0)
            p_[0] = 0;
    }

    void add(const char *format, ...) VT_PRINTF_LIKE(2, 3)
    {
        if (len_ + 1 >= size_)
            return;
        va_list args;
        va_start(args, format);
        int n = vsnprintf(p_ + len_, size_ - len_, format, args);
        va_end(args);
        if (n > 0)
            len_ = (size_t)n < size_ - len_ ? len_ + (size_t)n : size_ - 1;
    }

    /* bytes that came as text: printable ASCII as it is, anything else
       as '?', and so is a semicolon, which no explanation holds (a script
       finds where one starts by the last "  ; " of a line) */
    void visible(const uint8_t *bytes, size_t n)
    {
        for (size_t i = 0; i < n && len_ + 1 < size_; i++) {
            uint8_t b = bytes[i];
            p_[len_++] = b >= 0x20 && b <= 0x7E && b != ';' ? (char)b : '?';
        }
        if (size_ > 0)
            p_[len_] = 0;
    }

    size_t length() const { return len_; }

private:
    char *p_;
    size_t size_;
    size_t len_ = 0;
};

#endif
