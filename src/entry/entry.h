/*
 * Message entry: number fields, command interpreter, line and byte entry.
 */
#ifndef VOLTANIS_ENTRY_H
#define VOLTANIS_ENTRY_H

#include <stdint.h>

extern uint8_t gData1, gData2, gNibble;

/* number readers and field readers: 1 valid, 0 invalid or missing */
int32_t parseHexByte(uint8_t *value);
int32_t parseDeziByte(uint8_t *value);
int32_t parseNibble(void);
int32_t parseChannel(void);
int32_t parseID(void);
int32_t parseData1(void);
int32_t parseData2(void);

/* command interpreter */
void executeCmdStr(void);
int32_t parseSysEx(void);

/* typed-input handling: one character not consumed by the key dispatch */
void enterChar(uint8_t c);
/* digit state of byte entry back to empty (start-up) */
void clearDigitState(void);

#endif
