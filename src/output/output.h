/*
 * MIDI output: the output buffer and its transmission, the repeat of the
 * last message, and the send file.
 */
#ifndef VOLTANIS_OUTPUT_H
#define VOLTANIS_OUTPUT_H

#include "../platform/platform.h"

#include <stdint.h>

#define SBUF_SIZE 65536

extern uint8_t gSbuf[SBUF_SIZE];
extern int32_t gOutPtr;
extern int32_t gMsgLength;
extern uint8_t gStatus;
extern MIDIHDR gMidiOutHdr;

void sendMidiMsg_1(void);
void sendMidiMsg_2(void);
void sendMidiMsg_3(void);
void sendMidiByte(int b);
void sendLongMsg(int n);
void repeatLastMsg(void);

/* send file */
extern HANDLE ghSendFile;
extern int32_t gTXCol;
void SendFile(uint8_t pace);
/* The transfer of the file name, once it is chosen: 1 when all of it was
   sent, 0 when it could not be opened or read, or F8 stopped it. */
int sendFileNamed(const char *name, uint8_t pace);
/* A pause between blocks of a transfer, kept to the clock however often the
   platform's pause ends early; 1 when F8 was typed meanwhile (the pause ends
   at once), 0 when the time has passed. */
int transferPause(unsigned ms);
/* One block of the send file into gSbuf, gTXCol bytes: 1 when full, 255 at
   the end of the file, 0 when a read failed, SEND_NOT_YET when a pipe or a
   device has no byte yet (the block holds what came before). */
#define SEND_NOT_YET 2
int ReadSendLine(void);

#endif
