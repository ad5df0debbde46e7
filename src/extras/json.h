/*
 * JSON text for the lines of --json: strings that any bytes may reach (a
 * port's name, an explanation) written so that every parser reads them
 * back, and nothing in them can act on a terminal.
 */
#ifndef VOLTANIS_EXTRAS_JSON_H
#define VOLTANIS_EXTRAS_JSON_H

#include <stddef.h>

/* text as the inside of a JSON string, into out (size bytes, always ended
   with a 0; what does not fit is left out, never half an escape): '"' and
   '\\' escaped, control characters (C1 ones and DEL too) as \u00XX, well-
   formed UTF-8 as it is, each byte of anything else as \ufffd.  Returns
   the length written. */
size_t jsonEscape(const char *text, char *out, size_t size);

#endif
