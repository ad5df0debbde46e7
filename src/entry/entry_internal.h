/*
 * Helpers shared by the files of message entry only.
 */
#ifndef VOLTANIS_ENTRY_INTERNAL_H
#define VOLTANIS_ENTRY_INTERNAL_H

#include <stdint.h>

/* the character of gCmdStr at pos; 0 outside the line */
uint8_t entryCharAt(int32_t pos);
/* 0 to 15 for a hexadecimal digit of either case, else -1 */
int entryHexDigit(uint8_t c);

#endif
