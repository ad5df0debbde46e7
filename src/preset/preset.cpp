/*
 * The preset file: one 168-byte record with the settings and the names of
 * the chosen ports, which are found again by name at the next start.  A
 * name that several ports have by then cannot say which one was meant, so
 * such a preset is not used, as one whose port is missing.
 *
 * A save is written whole to a new file beside the preset and then renamed
 * over it, so the preset is always the old record or the new one, never a
 * mix, and a failed save leaves the old one as it was.  Only a regular file
 * that may be written is replaced: a link, a folder, a device or a
 * read-only file under the name is left alone, and the save says so.  A
 * record whose channel or I/O mode could not have been saved is refused as
 * a whole, as one of another version is.
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
#define HIGHEST_CHANNEL 15
#define HIGHEST_MODE 3

/* a field is copied up to its terminator and zero-filled behind it */
static void putName(uint8_t *field, const char *name, size_t size)
{
    memset(field, 0, size);
    size_t len = strnlen(name, size);
    memcpy(field, name, len);
}

/* Why the file under the preset's name must not be replaced; 0 when it
   may be (a writable regular file, or none at all). */
static DWORD replaceRefusal(void)
{
    DWORD a = GetFileAttributesA(gPresetFileName);
    if (a == INVALID_FILE_ATTRIBUTES)
        return 0; /* nothing there; anything else shows when it is created */
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_CANT_RESOLVE_FILENAME;
    if (a & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_DIRECTORY;
    if (a & FILE_ATTRIBUTE_DEVICE)
        return ERROR_BAD_FILE_TYPE;
    if (a & FILE_ATTRIBUTE_READONLY)
        return ERROR_FILE_READ_ONLY;
    return 0;
}

static void reportNotSaved(DWORD why)
{
    printf("preset not saved in file %s: %s\n", gPresetFileName, fileErrorText(why));
}

/* A new file of that name, created for writing; one left behind by a save
   that was cut short is removed first (removing a name never touches what
   a link of that name points to). */
static HANDLE createTemporary(const char *name)
{
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        DeleteFileA(name);
        h = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    return h;
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

    DWORD why = replaceRefusal();
    if (why) {
        reportNotSaved(why);
        return 0;
    }
    char temp[sizeof gPresetFileName + 4];
    snprintf(temp, sizeof temp, "%s.tmp", gPresetFileName);
    HANDLE h = createTemporary(temp);
    if (h == INVALID_HANDLE_VALUE) {
        reportNotSaved(GetLastError());
        return 0;
    }
    DWORD written = 0;
    int whole = WriteFile(h, rec, PRESET_SIZE, &written, NULL) && written == PRESET_SIZE;
    if (!CloseHandle(h))
        whole = 0;
    if (!whole) {
        printf("disk write error\n");
        DeleteFileA(temp);
        return 0;
    }
    if (!MoveFileExA(temp, gPresetFileName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = GetLastError();
        DeleteFileA(temp);
        reportNotSaved(why);
        return 0;
    }
    return 1;
}

/* Port names are at most 31 characters; a stored name without its
   terminator inside that can match no port, so it is simply not found. */
static int storedNameFits(const uint8_t *field) { return memchr(field, 0, 32) != NULL; }

/* Whether the stored name is that of one port (*port then its number):
   PORT_ONE; PORT_NONE when no port has it, PORT_SEVERAL when more than one
   does, since the preset cannot say which of them was meant.  A failing
   capability query ends the search with what was found before it. */
enum { PORT_NONE, PORT_ONE, PORT_SEVERAL };

static int findPort(int isOut, const uint8_t *field, uint32_t *port)
{
    if (!storedNameFits(field))
        return PORT_NONE;
    uint32_t count = isOut ? goNumDevs : giNumDevs;
    int found = PORT_NONE;
    for (uint32_t i = 0; i < count; i++) {
        const char *name;
        if (isOut) {
            if (midiOutGetDevCapsA(i, &gMoc, sizeof gMoc) != MMSYSERR_NOERROR)
                break;
            name = gMoc.szPname;
        } else {
            if (midiInGetDevCapsA(i, &gMic, sizeof gMic) != MMSYSERR_NOERROR)
                break;
            name = gMic.szPname;
        }
        if (strncmp(name, (const char *)field, sizeof gMoc.szPname) != 0)
            continue;
        if (found == PORT_ONE)
            return PORT_SEVERAL;
        found = PORT_ONE;
        *port = i;
    }
    return found;
}

/* Why the stored port of a direction cannot be used, said; 0 then. */
static int storedPortUsable(int isOut, const uint8_t *field, uint32_t *port)
{
    switch (findPort(isOut, field, port)) {
    case PORT_ONE: return 1;
    case PORT_NONE:
        printf(isOut ? "Preset ERROR: stored MIDI OUT device not available, VOLTANIS.SET ignored\n"
                     : "Preset ERROR: stored MIDI IN device not available, VOLTANIS.SET ignored\n");
        return 0;
    default: {
        char shown[SHOWN_NAME_SIZE];
        printf("Preset ERROR: several MIDI %s devices are named '%s', VOLTANIS.SET ignored\n",
            isOut ? "OUT" : "IN", shownName(shown, (const char *)field));
        return 0;
    }
    }
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
    /* a channel above 16 would change the kind of every message typed, a
       mode above 3 would show nothing ever; the number base only changes
       how numbers read, so it is taken over as it is */
    if (rec[OFS_CHANNEL] > HIGHEST_CHANNEL) {
        printf("ERROR: MIDI channel out of range, VOLTANIS.SET ignored\n");
        return 0;
    }
    if ((rec[OFS_MODE] & ~MODE_SHOWS_REALTIME) > HIGHEST_MODE) {
        printf("ERROR: I/O mode out of range, VOLTANIS.SET ignored\n");
        return 0;
    }
    uint32_t outPort = goSelDev, inPort = giSelDev;
    if (!keepOut && !storedPortUsable(1, rec + OFS_OUT_NAME, &outPort))
        return 0;
    if (!keepIn && !storedPortUsable(0, rec + OFS_IN_NAME, &inPort))
        return 0;

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
