/*
 * The tools of runs from a script (script.h) and their hooks of extras.h:
 * where standard output goes, the JSON object of a message, the colour of
 * a line and the count of the answers.
 */
#include "extras.h"

#include "json.h"
#include "script.h"
#include "view.h"

#include "../frontend/frontend.h"
#include "../input/input.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

bool gQuiet = false;
bool gListening = false;
bool gJson = false;
bool gColor = false;
bool gCounting = false;
uint32_t gExpectMessages = 0, gExpectSysex = 0;
uint32_t gMessages = 0, gSysex = 0;
bool gColored = false; /* the line being shown has a colour to end */

/* the message taken last */
enum Taken { TakenShort, TakenSysex, TakenOther };
Taken gTaken = TakenOther;
uint32_t gWord = 0;
const uint8_t *gBytes = nullptr;
uint32_t gLength = 0;
bool gCut = false;
int64_t gArrivalUs = 0;

/* ---- JSON --------------------------------------------------------------- */

/* the message types, named for scripts */
const char *shortType(uint8_t status)
{
    switch (status & 0xF0) {
    case 0x80: return "note-off";
    case 0x90: return "note-on";
    case 0xA0: return "poly-pressure";
    case 0xB0: return "control-change";
    case 0xC0: return "program-change";
    case 0xD0: return "channel-pressure";
    case 0xE0: return "pitch-bend";
    default: break;
    }
    switch (status) {
    case 0xF1: return "mtc-quarter-frame";
    case 0xF2: return "song-position";
    case 0xF3: return "song-select";
    case 0xF6: return "tune-request";
    case 0xF7: return "eox";
    case 0xF8: return "clock";
    case 0xFA: return "start";
    case 0xFB: return "continue";
    case 0xFC: return "stop";
    case 0xFE: return "active-sensing";
    case 0xFF: return "reset";
    default: return "undefined";
    }
}

/* the fields that follow "type": channel and data, decoded */
void shortFields(uint8_t status, uint8_t d1, uint8_t d2)
{
    if (status < 0xF0)
        printf(",\"channel\":%u", (status & 0x0Fu) + 1);
    switch (status & 0xF0) {
    case 0x80:
    case 0x90: printf(",\"note\":%u,\"velocity\":%u", d1, d2); return;
    case 0xA0: printf(",\"note\":%u,\"pressure\":%u", d1, d2); return;
    case 0xB0: printf(",\"controller\":%u,\"value\":%u", d1, d2); return;
    case 0xC0: printf(",\"program\":%u", d1); return;
    case 0xD0: printf(",\"pressure\":%u", d1); return;
    case 0xE0: printf(",\"value\":%u,\"bend\":%d", d1 | d2 << 7, (int)(d1 | d2 << 7) - 8192); return;
    default: break;
    }
    if (status == 0xF1)
        printf(",\"piece\":%u,\"value\":%u", d1 >> 4, d1 & 0x0Fu);
    else if (status == 0xF2)
        printf(",\"position\":%u", d1 | d2 << 7);
    else if (status == 0xF3)
        printf(",\"song\":%u", d1);
}

void jsonString(const char *name, const char *text)
{
    static char escaped[2048];
    jsonEscape(text, escaped, sizeof escaped);
    printf(",\"%s\":\"%s\"", name, escaped);
}

void hexBytes(const uint8_t *p, uint32_t n)
{
    fputs(",\"bytes\":\"", stdout);
    for (uint32_t i = 0; i < n; i++)
        printf("%02x", p[i]);
    putchar('"');
}

/* {"time":..., "source":...  and the rest is the caller's */
void objectBegins(int64_t atUs)
{
    int64_t us = atUs - extrasOriginUs();
    const char *sign = us < 0 ? "-" : "";
    if (us < 0)
        us = -us;
    printf("{\"time\":%s%lld.%06lld", sign, (long long)(us / 1000000), (long long)(us % 1000000));
    const char *source = receivedSourceName();
    if (source)
        jsonString("source", source);
}

void objectEnds(void)
{
    const char *meaning = receivedMeaning();
    if (*meaning)
        jsonString("explain", meaning);
    puts("}");
}

void showJson(void)
{
    objectBegins(gArrivalUs);
    if (gTaken == TakenShort) {
        const uint8_t b[3] = {(uint8_t)gWord, (uint8_t)(gWord >> 8), (uint8_t)(gWord >> 16)};
        const uint8_t status = b[0];
        uint32_t n = status < 0x80 || status == 0xF0 ? 3 : 1 + vtMidiDataBytes(status);
        hexBytes(b, n);
        printf(",\"type\":\"%s\"", shortType(status));
        shortFields(status, b[1], b[2]);
    } else if (gTaken == TakenSysex) {
        hexBytes(gBytes, gLength);
        fputs(",\"type\":\"sysex\"", stdout);
        bool first = gLength > 0 && gBytes[0] == 0xF0;
        if (first && gLength > 1) {
            /* a one-byte ID, or 00 and two more */
            uint32_t idLength = gBytes[1] != 0 ? 1 : 3;
            fputs(",\"id\":\"", stdout);
            for (uint32_t i = 1; i <= idLength && i < gLength; i++)
                printf("%02x", gBytes[i]);
            putchar('"');
        }
        if (!first)
            fputs(",\"continued\":true", stdout);
        if (gCut)
            fputs(",\"cut\":true", stdout);
        else if (gLength == RBUF_SIZE && gBytes[gLength - 1] != 0xF7)
            fputs(",\"continues\":true", stdout);
    } else {
        const uint8_t b = (uint8_t)gWord;
        hexBytes(&b, 1);
        fputs(",\"type\":\"wild-byte\"", stdout);
    }
    objectEnds();
}

/* ---- colour ------------------------------------------------------------- */

const char kReset[] = "\x1b[0m";

/* the SGR colour of the line of the message taken last; null for a
   message that has no line of its own */
const char *lineColor(void)
{
    if (gTaken == TakenOther || (gTaken == TakenSysex && gCut))
        return "\x1b[31m"; /* errors: a wild byte, a SysEx cut off */
    if (gTaken == TakenSysex)
        return "\x1b[35m";
    const uint8_t status = (uint8_t)gWord;
    if (status < 0xB0)
        return "\x1b[32m"; /* notes and their pressure */
    if (status < 0xF0)
        return "\x1b[36m"; /* controllers, programs, pressure, bend */
    switch (status) {
    case 0xF0:
    case 0xF4:
    case 0xF5:
    case 0xF9:
    case 0xFD: return nullptr;
    default: return "\x1b[33m"; /* system messages */
    }
}

/* ---- what is counted ---------------------------------------------------- */

void count(void)
{
    if (gTaken == TakenShort && gMessages < UINT32_MAX)
        gMessages++;
    if (gTaken != TakenSysex || gCut || gLength == 0)
        return;
    /* a message counts once, as it ends (its last piece ends with F7) */
    if (gBytes[gLength - 1] == 0xF7) {
        if (gMessages < UINT32_MAX)
            gMessages++;
        if (gSysex < UINT32_MAX)
            gSysex++;
    }
}

} // namespace

void quietOn(void)
{
    gQuiet = true;
    vtRouteStdout(VT_OUT_NONE);
}

void quietListening(int on)
{
    gListening = on != 0;
    if (gQuiet)
        vtRouteStdout(gListening ? VT_OUT_SHOWN : VT_OUT_NONE);
}

void jsonOn(void) { gJson = true; }
void colorOn(void) { gColor = true; }

void expectOn(uint32_t messages, uint32_t sysex)
{
    gCounting = messages != 0 || sysex != 0;
    gExpectMessages = messages;
    gExpectSysex = sysex;
}

int expectMet(void)
{
    return gCounting && (gExpectMessages == 0 || gMessages >= gExpectMessages) &&
           (gExpectSysex == 0 || gSysex >= gExpectSysex);
}

void expectSayMissing(long timeoutMs)
{
    if (gExpectMessages != 0 && gMessages < gExpectMessages)
        fprintf(stderr, "voltanis: no answer: %u of %u messages came within %ld ms\n", (unsigned)gMessages,
                (unsigned)gExpectMessages, timeoutMs);
    if (gExpectSysex != 0 && gSysex < gExpectSysex)
        fprintf(stderr, "voltanis: no answer: %u of %u SysEx messages came within %ld ms\n", (unsigned)gSysex,
                (unsigned)gExpectSysex, timeoutMs);
}

void scriptOff(void)
{
    if (gQuiet)
        vtRouteStdout(VT_OUT_SHOWN);
    gQuiet = gListening = gJson = gColor = gCounting = false;
    gMessages = gSysex = gExpectMessages = gExpectSysex = 0;
}

void scriptShortTaken(uint32_t word, int64_t arrivalUs)
{
    gTaken = TakenShort;
    gWord = word;
    gArrivalUs = arrivalUs;
}

void scriptSysexTaken(const uint8_t *p, uint32_t n, int cut, int64_t arrivalUs)
{
    gTaken = TakenSysex;
    gBytes = p;
    gLength = n;
    gCut = cut != 0;
    gArrivalUs = arrivalUs;
}

void scriptOtherTaken(uint32_t word, int64_t arrivalUs)
{
    gTaken = TakenOther;
    gWord = word;
    gArrivalUs = arrivalUs;
}

int receivedDisplayBegins(int shown)
{
    if (shown && gCounting)
        count();
    if (gJson) {
        if (shown) {
            if (gQuiet && !gListening)
                vtRouteStdout(VT_OUT_SHOWN);
            showJson();
            if (gQuiet && !gListening)
                vtRouteStdout(VT_OUT_NONE);
        }
        return 0;
    }
    if (gQuiet && !gListening)
        vtRouteStdout(VT_OUT_SHOWN);
    const char *color = gColor && shown && (gMode == 0 || gMode == 2) ? lineColor() : nullptr;
    gColored = color != nullptr;
    if (color)
        fputs(color, stdout);
    return 1;
}

void receivedDisplayEnds(void)
{
    if (gColored)
        fputs(kReset, stdout);
    gColored = false;
    if (gQuiet && !gListening)
        vtRouteStdout(VT_OUT_NONE);
}

int lossDisplayBegins(uint32_t lost, uint32_t longLost, uint32_t overflows)
{
    if (gJson) {
        if (gQuiet && !gListening)
            vtRouteStdout(VT_OUT_SHOWN);
        int64_t now = vtClockUs();
        if (lost != 0) {
            objectBegins(now);
            printf(",\"lost\":%u}\n", lost);
        }
        if (longLost != 0) {
            objectBegins(now);
            printf(",\"lost\":%u,\"sysex\":true}\n", longLost);
        }
        if (overflows != 0) {
            objectBegins(now);
            printf(",\"lost\":\"unknown\",\"overflows\":%u}\n", overflows);
        }
        if (gQuiet && !gListening)
            vtRouteStdout(VT_OUT_NONE);
        return 0;
    }
    if (gQuiet && !gListening)
        vtRouteStdout(VT_OUT_SHOWN);
    gColored = gColor;
    if (gColored)
        fputs("\x1b[1;31m", stdout);
    return 1;
}

void errorLine(const char *format, ...)
{
    char text[600];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (!gQuiet) {
        fputs(text, stdout);
        return;
    }
    /* one line of its own, without the blank lines and blanks around it
       that set it apart on the screen */
    const char *from = text;
    while (*from == '\n' || *from == '\r' || *from == ' ')
        from++;
    size_t n = strlen(from);
    while (n > 0 && (from[n - 1] == '\n' || from[n - 1] == '\r' || from[n - 1] == ' '))
        n--;
    if (n == 0)
        return;
    fflush(stdout);
    fprintf(stderr, "%.*s\n", (int)n, from);
}
