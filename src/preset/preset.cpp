/*
 * The preset file: one 168-byte record with the settings and the names of
 * the chosen ports, which are found again by name at the next start.
 */
#include "preset.h"

#include "../frontend/frontend.h"

#include <stdio.h>
#include <string.h>

enum {
    OFS_VERSION = 0,
    OFS_MODE = 1,
    OFS_CHANNEL = 2,
    OFS_BASE = 3,
    OFS_ID = 4,
    OFS_OUT_NAME = 8,
    OFS_IN_NAME = 72,
    OFS_SEND_NAME = 136,
    NAME_FIELD = 64,
    SEND_FIELD = 32
};

#define MODE_SHOWS_REALTIME 0x80

/* a field is copied up to its terminator and zero-filled behind it */
static void putName(uint8_t *field, const char *name, size_t size)
{
    memset(field, 0, size);
    size_t len = strnlen(name, size);
    memcpy(field, name, len);
}

int savePreset(void)
{
    uint8_t rec[PRESET_SIZE];
    rec[OFS_VERSION] = PRESET_VERSION;
    rec[OFS_MODE] = (uint8_t)gMode;
    if (!gbBlockRealTime)
        rec[OFS_MODE] |= MODE_SHOWS_REALTIME;
    rec[OFS_CHANNEL] = gChannel;
    rec[OFS_BASE] = gNumBase;
    memcpy(rec + OFS_ID, gIdStr, 4);
    putName(rec + OFS_OUT_NAME, gMidiOutName, NAME_FIELD);
    putName(rec + OFS_IN_NAME, gMidiInName, NAME_FIELD);
    putName(rec + OFS_SEND_NAME, gSendFileName, SEND_FIELD);

    HANDLE h =
        CreateFileA(gPresetFileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    if (!WriteFile(h, rec, PRESET_SIZE, &written, NULL) || written != PRESET_SIZE) {
        /* a short file is never taken for a preset: the loader wants all
           168 bytes */
        printf("disk write error\n");
        CloseHandle(h);
        return 0;
    }
    CloseHandle(h);
    return 1;
}

/* Port names are at most 31 characters; a stored name without its
   terminator inside that can match no port, so it is simply not found. */
static int storedNameFits(const uint8_t *field) { return memchr(field, 0, 32) != NULL; }

static int findOutPort(const uint8_t *field, uint32_t *port)
{
    if (!storedNameFits(field))
        return 0;
    for (uint32_t i = 0; i < goNumDevs; i++) {
        if (midiOutGetDevCapsA(i, &gMoc, sizeof gMoc) != MMSYSERR_NOERROR)
            return 0;
        if (strncmp(gMoc.szPname, (const char *)field, sizeof gMoc.szPname) == 0) {
            *port = i;
            return 1;
        }
    }
    return 0;
}

static int findInPort(const uint8_t *field, uint32_t *port)
{
    if (!storedNameFits(field))
        return 0;
    for (uint32_t i = 0; i < giNumDevs; i++) {
        if (midiInGetDevCapsA(i, &gMic, sizeof gMic) != MMSYSERR_NOERROR)
            return 0;
        if (strncmp(gMic.szPname, (const char *)field, sizeof gMic.szPname) == 0) {
            *port = i;
            return 1;
        }
    }
    return 0;
}

/* copies a field into a setting of the same size, always terminated */
static void takeName(char *dst, const uint8_t *field, size_t size)
{
    memcpy(dst, field, size);
    dst[size - 1] = 0;
}

int loadPreset(void) { return loadPresetKeeping(0, 0); }

int loadPresetKeeping(int keepOut, int keepIn)
{
    HANDLE h =
        CreateFileA(gPresetFileName, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    uint8_t rec[PRESET_SIZE];
    DWORD got = 0;
    if (!ReadFile(h, rec, PRESET_SIZE, &got, NULL) || got != PRESET_SIZE) {
        printf("disk read error\n");
        CloseHandle(h);
        return 0;
    }
    CloseHandle(h);

    if (rec[OFS_VERSION] != PRESET_VERSION) {
        printf("ERROR: incompatible version, VOLTANIS.SET ignored\n");
        return 0;
    }
    uint32_t outPort = goSelDev, inPort = giSelDev;
    if (!keepOut && !findOutPort(rec + OFS_OUT_NAME, &outPort)) {
        printf("Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n");
        return 0;
    }
    if (!keepIn && !findInPort(rec + OFS_IN_NAME, &inPort)) {
        printf("Preset ERROR: stored MIDI IN device not available, VOLTANIS.SET ignored\n");
        return 0;
    }

    if (!keepOut)
        takeName(gMidiOutName, rec + OFS_OUT_NAME, NAME_FIELD);
    if (!keepIn)
        takeName(gMidiInName, rec + OFS_IN_NAME, NAME_FIELD);
    takeName(gSendFileName, rec + OFS_SEND_NAME, SEND_FIELD);
    goSelDev = outPort;
    giSelDev = inPort;
    gMode = rec[OFS_MODE] & ~MODE_SHOWS_REALTIME;
    gbBlockRealTime = (rec[OFS_MODE] & MODE_SHOWS_REALTIME) ? 0 : 1;
    gChannel = rec[OFS_CHANNEL];
    gNumBase = rec[OFS_BASE];
    memcpy(gIdStr, rec + OFS_ID, 4);
    return 1;
}
