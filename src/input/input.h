/*
 * MIDI input: capture (callback and queues), display of what was received,
 * record file.
 */
#ifndef VOLTANIS_INPUT_H
#define VOLTANIS_INPUT_H

#include "../platform/platform.h"

#include <atomic>
#include <stdint.h>

#define RING_SIZE 8192
#define RBUF_SIZE 524288

/* capture */
extern uint32_t gRecvBuf[RING_SIZE];
extern std::atomic<uint32_t> gRHead, gRTail;
extern std::atomic<uint32_t> gMsg;
extern std::atomic<DWORD_PTR> gParam1;
extern uint8_t gRbuf1[RBUF_SIZE], gRbuf2[RBUF_SIZE];
extern MIDIHDR gMidiInHdr;
extern uint32_t gReceived;
extern int64_t gReceivedUs; /* when gReceived arrived (vtClockUs) */
/* Messages the capture could not keep: dropped while the ring held 8191
   unread entries, or reported lost by the port layer (MIM_VT_OVERRUN).
   Reported in one line once the display has caught up. */
extern std::atomic<uint32_t> gRLost;

void CALLBACK midiCallback(HMIDIIN h, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
void inputSetup(void); /* ring emptied; with an input port: start, prepare, add */
void inputStop(void);  /* reset, unprepare while still playing, close */

/* display of what was received */
int showOneEntry(void);          /* 1 when a ring entry was shown */
void receiveIdleChecks(void);    /* completed SysEx, invalid byte, losses */
void decodeChannelMessage(void); /* gReceived (of gReceivedUs): recorded and shown */

/* record file */
extern HANDLE ghRecFile;
extern int32_t gbRecFileOpen, gbRecRecv, gbRecQuiet;
extern uint32_t gByteCount;
void StartRecReceive(void);
void PauseRecReceive(void);
void closeRecFile(void); /* F12 */

#endif
