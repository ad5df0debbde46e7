/*
 * The preset loader on arbitrary files, then the status report on what it
 * loaded, and a save that must read back the same.
 *
 * Checked on every file:
 * - a file the loader refuses changes no setting, no port name, no send
 *   file name and no selected port;
 * - a file it takes is at least one whole record with version 6, a channel
 *   of 0 to 15 and a mode of 0 to 3, whose two port names are present
 *   ports, the selected port numbers are those ports, every name is
 *   zero-terminated inside its array, and the settings are the record's
 *   fields;
 * - the status report runs on whatever was loaded (odd modes and bases
 *   included) and prints the port lines it must;
 * - saving and loading again gives the same settings.
 */
#include "fuzz_common.h"

#include "entry/entry.h"
#include "frontend/frontend.h"
#include "input/input.h"
#include "output/output.h"
#include "platform/testdouble/testdouble.h"
#include "preset/preset.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

/* Ports of the test double.  One of each list goes by the built-in
   loopback's name, so the lists offer it as "Voltanis Loopback (external)":
   the names a preset can find are the offered ones, read back in setUp. */
const char *const kAddedOut[] = {"Voltanis Loopback", "Synth A", "Synth A", "Out 31 characters long........."};
const char *const kAddedIn[] = {"Keyboard", "Voltanis Loopback", "In"};
char offeredOut[4][32], offeredIn[3][32];

struct Settings {
    int32_t mode;
    uint8_t base, channel;
    int32_t block;
    uint8_t id[4];
    uint32_t outSel, inSel;
    char outName[64], inName[64], sendName[32];

    static Settings now()
    {
        Settings s;
        s.mode = gMode;
        s.base = gNumBase;
        s.channel = gChannel;
        s.block = gbBlockRealTime;
        memcpy(s.id, gIdStr, 4);
        s.outSel = goSelDev;
        s.inSel = giSelDev;
        memcpy(s.outName, gMidiOutName, 64);
        memcpy(s.inName, gMidiInName, 64);
        memcpy(s.sendName, gSendFileName, 32);
        return s;
    }
    bool operator==(const Settings &o) const
    {
        return mode == o.mode && base == o.base && channel == o.channel && block == o.block &&
               memcmp(id, o.id, 4) == 0 && outSel == o.outSel && inSel == o.inSel &&
               strcmp(outName, o.outName) == 0 && strcmp(inName, o.inName) == 0 &&
               strcmp(sendName, o.sendName) == 0;
    }
};

void setUp(void)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    /* the preset file in a directory of its own; the fuzzer's own paths
       are relative, so the working directory stays */
    char dir[] = "/tmp/vtfz-XXXXXX";
    if (!mkdtemp(dir))
        abort();
    snprintf(gPresetFileName, sizeof gPresetFileName, "%s/VOLTANIS.SET", dir);
    static char made[sizeof dir];
    memcpy(made, dir, sizeof dir);
    atexit([] {
        unlink(gPresetFileName);
        rmdir(made);
    });
    td::install();
    td::endOfInput(false);
    for (const char *n : kAddedOut)
        td::addOutPort(n);
    for (const char *n : kAddedIn)
        td::addInPort(n);
    for (UINT i = 0; i < 4; i++) {
        if (midiOutGetDevCapsA(i, &gMoc, sizeof gMoc) != MMSYSERR_NOERROR)
            abort();
        memcpy(offeredOut[i], gMoc.szPname, 32);
    }
    for (UINT i = 0; i < 3; i++) {
        if (midiInGetDevCapsA(i, &gMic, sizeof gMic) != MMSYSERR_NOERROR)
            abort();
        memcpy(offeredIn[i], gMic.szPname, 32);
    }
    fillNoteNames();
}

/* settings at something other than the defaults, so that a refused file
   that still touched one would show */
void presetSettings(void)
{
    gMode = 1;
    gNumBase = 10;
    gChannel = 5;
    gbBlockRealTime = 0;
    gIdStr[0] = 0x41;
    gIdStr[1] = gIdStr[2] = gIdStr[3] = 0xFF;
    goSelDev = 2;
    giSelDev = 1;
    strcpy(gMidiOutName, "before out");
    strcpy(gMidiInName, "before in");
    strcpy(gSendFileName, "before.syx");
    goNumDevs = midiOutGetNumDevs();
    giNumDevs = midiInGetNumDevs();
}

bool terminated(const char *s, size_t n) { return memchr(s, 0, n) != nullptr; }

void writeFile(const uint8_t *data, size_t size)
{
    FILE *f = fopen(gPresetFileName, "wb");
    if (!f)
        abort();
    if (size && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    setUp();
    presetSettings();
    writeFile(data, size);
    Settings before = Settings::now();

    int loaded;
    {
        OutputCapture cap;
        loaded = loadPreset();
        std::string out = cap.text();
        if (!loaded && size < PRESET_SIZE)
            FUZZ_CHECK(out == "disk read error\n", "short file, printed [%s]", out.c_str());
    }
    FUZZ_CHECK(loaded == 0 || loaded == 1, "result %d", loaded);
    if (!loaded) {
        FUZZ_CHECK(Settings::now() == before, "a refused file changed the settings");
        return 0;
    }

    FUZZ_CHECK(size >= PRESET_SIZE && data[0] == PRESET_VERSION, "took a file of %zu bytes, version %u", size,
        size ? data[0] : 0);
    FUZZ_CHECK(
        data[2] <= 15 && (data[1] & 0x7F) <= 3, "took channel byte %u, mode byte %u", data[2], data[1]);
    FUZZ_CHECK(terminated(gMidiOutName, 64) && terminated(gMidiInName, 64) && terminated(gSendFileName, 32),
        "a name without its terminator");
    FUZZ_CHECK(goSelDev < goNumDevs && giSelDev < giNumDevs, "ports %u %u", goSelDev, giSelDev);
    FUZZ_CHECK(strcmp(gMidiOutName, offeredOut[goSelDev]) == 0, "out name [%s] for port %u [%s]", gMidiOutName,
        goSelDev, offeredOut[goSelDev]);
    FUZZ_CHECK(strcmp(gMidiInName, offeredIn[giSelDev]) == 0, "in name [%s] for port %u", gMidiInName, giSelDev);
    /* the lower of two ports with the same name */
    for (uint32_t i = 0; i < goSelDev; i++)
        FUZZ_CHECK(strcmp(offeredOut[i], gMidiOutName) != 0, "took port %u, %u has the name too", goSelDev, i);
    FUZZ_CHECK(gMode == (data[1] & 0x7F) && gbBlockRealTime == !(data[1] & 0x80) && gChannel == data[2] &&
                   gNumBase == data[3] && memcmp(gIdStr, data + 4, 4) == 0,
        "settings differ from the record");
    FUZZ_CHECK(strncmp(gSendFileName, (const char *)data + 136, 31) == 0, "send name differs");

    /* the status report on whatever came in, then the ports closed again */
    {
        OutputCapture cap;
        statusReport();
        std::string out = cap.text();
        char line[160];
        snprintf(line, sizeof line, "\nMIDI OUT: #%d  %s\n", (int)goSelDev, gMidiOutName);
        FUZZ_CHECK(out.find(line) == 0, "status report begins [%.80s]", out.c_str());
        snprintf(line, sizeof line, "\nVOLTANIS mode %d:", (int)gMode);
        FUZZ_CHECK(out.find(line) != std::string::npos, "no mode heading in [%s]", out.c_str());
        closePorts();
        gOutHandle = 0;
        gInHandle = 0;
    }

    Settings loadedSettings = Settings::now();
    {
        OutputCapture cap;
        FUZZ_CHECK(savePreset() == 1, "save failed");
        presetSettings();
        FUZZ_CHECK(loadPreset() == 1, "a saved preset does not load");
    }
    FUZZ_CHECK(Settings::now() == loadedSettings, "save and load changed the settings");
    return 0;
}
