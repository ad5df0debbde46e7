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
/* What never reached the display, each reported in a line of its own once
   the display has caught up, and never forgotten unsaid: messages the
   capture could not keep (the ring held 8191 unread entries) or that a port
   change left unread; long messages the port layer dropped
   (MIM_VT_LONGLOST); overflows of the system's input queue, which drop an
   unknown number (MIM_VT_OVERRUN). */
extern std::atomic<uint32_t> gRLost, gRLongLost, gROverflows;

void CALLBACK midiCallback(HMIDIIN h, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
void inputSetup(void); /* ring emptied; with an input port: start, prepare, add */
void inputStop(void);  /* reset, unprepare while still playing, close */
/* 1 while a queue of what arrives is more than half full: the ring, the
   invalid-byte notices, or the long messages the port layer holds for the
   buffer (midiInVtHeldLoad).  Work that can wait (keys from a pipe) waits
   then, until they have been shown. */
int receiveBacklogHigh(void);
/* When the oldest message arrived that the display takes only after the
   short messages now waiting (a complete SysEx or a piece of one, a wild
   byte): 1 with *arrivalUs, 0 when none waits.  For the tools that follow
   the order of arrival rather than the display's (extras/). */
int waitingBehindShorts(int64_t *arrivalUs);

/* display of what was received */
int showOneEntry(void);          /* 1 when a ring entry was shown */
int receiveIdleChecks(void);     /* completed SysEx, invalid byte, losses; 1 when any */
void decodeChannelMessage(void); /* gReceived (of gReceivedUs): recorded and shown */
/* Everything waiting, shown and recorded as the passes of the main loop
   would, before a key acts on the ports or the record file (a bounded
   number of passes: a source that never stops cannot hold the key up). */
void showAllReceived(void);

/* record file */
extern HANDLE ghRecFile;
extern int32_t gbRecFileOpen, gbRecRecv, gbRecQuiet;
extern uint32_t gByteCount;
void StartRecReceive(void);
void PauseRecReceive(void);
void closeRecFile(void); /* F12 */

#endif
