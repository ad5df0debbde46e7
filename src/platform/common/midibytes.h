/*
 * How many data bytes follow a status byte: the one answer the input
 * parser, the ALSA encoder, the display and the MIDI file log all use.
 * Exported to the system code through platform.h.
 */
#ifndef VOLTANIS_PLATFORM_MIDIBYTES_H
#define VOLTANIS_PLATFORM_MIDIBYTES_H

#include <stdint.h>

/* The data bytes of the message that this status byte starts: 2 for note
   off and on, poly pressure, control change, pitch bend and song position;
   1 for program change, channel pressure, time code and song select; 0 for
   tune request, a lone F7, real time and the undefined F4, F5, F9, FD.
   Also 0 for F0, whose data bytes run on to its F7, and for a byte below
   0x80, which is no status at all. */
inline unsigned vtMidiDataBytes(uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 1 : 2; /* program change, channel pressure */
    switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

#endif
