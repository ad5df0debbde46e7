#include "syxfiles.h"

#include "../platform/platform.h"

#include <stdio.h>
#include <string.h>

namespace {

const size_t kPath = 4096;
const unsigned kMinDigits = 4;
const unsigned kMaxDigits = 18; /* 10^18 still fits the count */

bool gOn = false;
char gGiven[kPath]; /* the folder as given */
char gDir[kPath];   /* the same with a separator at its end */
bool gCreated = false;
unsigned gDigits = kMinDigits;
uint64_t gLimit = 10000; /* 10^gDigits: the first number too wide */
uint64_t gNext = 0;
char gName[kPath];
char gTemp[kPath];
HANDLE gFile = INVALID_HANDLE_VALUE; /* gTemp, while a message is in progress */
DWORD gError = 0;

/* '/' separates on every system; a backslash only on Windows, which takes
   a '/' after it as well */
bool endsWithSeparator(const char *s, size_t len) { return len > 0 && s[len - 1] == '/'; }

/* The number of a name NNNN.syx (any count of digits; the extension in
   any case, as Windows would take it); false for any other name.  *digits
   says how many, more than kMaxDigits for a number too long to count. */
bool numberOf(const char *name, uint64_t *number, unsigned *digits)
{
    unsigned n = 0;
    uint64_t v = 0;
    while (name[n] >= '0' && name[n] <= '9') {
        if (n < kMaxDigits)
            v = v * 10 + (uint64_t)(name[n] - '0');
        n++;
    }
    const char *ext = name + n;
    if (n == 0 || ext[0] != '.' || (ext[1] | 0x20) != 's' || (ext[2] | 0x20) != 'y' ||
        (ext[3] | 0x20) != 'x' || ext[4] != 0)
        return false;
    *number = v;
    *digits = n;
    return true;
}

/* The highest number in the folder and the most digits of one, from a
   listing of its names; false when it cannot be listed (gError). */
bool scan(bool *any, uint64_t *highest, unsigned *widest)
{
    char pattern[kPath + 1];
    size_t len = strlen(gDir);
    memcpy(pattern, gDir, len);
    memcpy(pattern + len, "*", 2);
    *any = false;
    *highest = 0;
    *widest = 0;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern, &found);
    if (h == INVALID_HANDLE_VALUE) {
        gError = GetLastError();
        return gError == ERROR_FILE_NOT_FOUND; /* an empty folder */
    }
    do {
        uint64_t number;
        unsigned digits;
        if (!numberOf(found.cFileName, &number, &digits))
            continue;
        if (!*any || number > *highest)
            *highest = number;
        if (digits > *widest)
            *widest = digits;
        *any = true;
    } while (FindNextFileA(h, &found));
    gError = GetLastError();
    FindClose(h);
    return gError == ERROR_NO_MORE_FILES;
}

unsigned digitsOf(uint64_t v)
{
    unsigned n = 1;
    while (v >= 10) {
        v /= 10;
        n++;
    }
    return n;
}

/* The temporary file, created only where no name is.  The name is this
   run's alone (no other process running has its number), so one left
   there is what a killed run of the same number left, and goes. */
bool createTemp(void)
{
    gFile = CreateFileA(gTemp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (gFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileA(gTemp))
        gFile = CreateFileA(gTemp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (gFile == INVALID_HANDLE_VALUE) {
        gError = GetLastError();
        return false;
    }
    return true;
}

/* The message in progress goes, with its temporary file. */
void dropTemp(void)
{
    if (gFile == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(gFile);
    gFile = INVALID_HANDLE_VALUE;
    DeleteFileA(gTemp);
}

SyxSaved fail(DWORD why)
{
    dropTemp();
    gError = why;
    gOn = false;
    return SyxFailed;
}

SyxStart refuse(SyxStart why)
{
    DWORD error = gError;
    syxUndoStart();
    gError = error;
    return why;
}

/* DIR/NNNN.syx into gName, the number in gDigits digits (the start made
   sure that the name fits) */
void nameNext(void)
{
    size_t at = strlen(gDir);
    memcpy(gName, gDir, at);
    uint64_t v = gNext;
    for (unsigned i = gDigits; i > 0; i--) {
        gName[at + i - 1] = (char)('0' + v % 10);
        v /= 10;
    }
    memcpy(gName + at + gDigits, ".syx", 5);
}

/* The finished temporary file goes to the next number free.  A number
   taken meanwhile is passed over to the one after the highest in the
   folder now, so the order of arrival holds among several runs too. */
SyxSaved publish(void)
{
    for (;;) {
        if (gNext >= gLimit) {
            DeleteFileA(gTemp);
            return fail(SYX_NO_NUMBER_LEFT);
        }
        nameNext();
        if (MoveFileExA(gTemp, gName, 0)) {
            gNext++;
            return SyxWritten;
        }
        DWORD why = GetLastError();
        if (GetFileAttributesA(gName) == INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(gTemp);
            return fail(why); /* not refused for the name: the folder is gone or locked */
        }
        bool any;
        uint64_t highest;
        unsigned widest;
        gNext = scan(&any, &highest, &widest) && any && highest > gNext ? highest + 1 : gNext + 1;
    }
}

} // namespace

SyxStart syxStart(const char *dir)
{
    syxStop();
    gCreated = false;
    gError = 0;
    size_t len = strlen(dir);
    if (len + kMaxDigits + 40 >= kPath)
        return SyxNameTooLong;
    memcpy(gGiven, dir, len + 1);
    memcpy(gDir, dir, len + 1);
    DWORD a = GetFileAttributesA(dir);
    if (a == INVALID_FILE_ATTRIBUTES) {
        if (CreateDirectoryA(dir, NULL)) {
            gCreated = true;
        } else {
            gError = GetLastError();
            a = GetFileAttributesA(dir); /* another run may have made it meanwhile */
            if (a == INVALID_FILE_ATTRIBUTES)
                return SyxCannotCreate;
        }
    }
    if (!gCreated && !(a & FILE_ATTRIBUTE_DIRECTORY))
        return SyxNotAFolder;
    if (!endsWithSeparator(gDir, len))
        memcpy(gDir + len, "/", 2);
    snprintf(gTemp, sizeof gTemp, "%s.syx-%lu.tmp", gDir, (unsigned long)GetCurrentProcessId());

    bool any;
    uint64_t highest;
    unsigned widest;
    if (!scan(&any, &highest, &widest))
        return refuse(SyxCannotList);
    gNext = any ? highest + 1 : 0;
    gDigits = kMinDigits;
    if (widest > gDigits)
        gDigits = widest;
    if (digitsOf(gNext) > gDigits)
        gDigits = digitsOf(gNext);
    if (gDigits > kMaxDigits)
        return refuse(SyxNoNumberLeft);
    gLimit = 1;
    for (unsigned i = 0; i < gDigits; i++)
        gLimit *= 10;

    /* a folder no file can be made in is found now, not at the first SysEx */
    if (!createTemp())
        return refuse(SyxCannotWrite);
    dropTemp();
    gOn = true;
    return SyxReady;
}

void syxUndoStart(void)
{
    syxStop();
    if (gCreated)
        RemoveDirectoryA(gGiven); /* only while empty */
    gCreated = false;
}

SyxSaved syxSave(const uint8_t *p, uint32_t n)
{
    if (!gOn || n == 0)
        return SyxNotSaved;
    if (p[0] == 0xF0) {
        dropTemp(); /* a message begun and never ended */
        nameNext(); /* the name it is meant for, for an error line */
        if (!createTemp())
            return fail(gError);
    } else if (gFile == INVALID_HANDLE_VALUE) {
        return SyxNotSaved; /* the rest of a message whose start was not taken */
    }
    DWORD written = 0;
    if (!WriteFile(gFile, p, n, &written, NULL) || written != n)
        return fail(GetLastError());
    if (p[n - 1] != 0xF7)
        return SyxNotSaved; /* more of it follows */
    HANDLE h = gFile;
    gFile = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) {
        DWORD why = GetLastError();
        DeleteFileA(gTemp);
        return fail(why);
    }
    return publish();
}

void syxCut(void) { dropTemp(); }

const char *syxLastName(void) { return gName; }
DWORD syxLastError(void) { return gError; }
const char *syxFolder(void) { return gDir; }
unsigned syxDigits(void) { return gDigits; }

void syxStop(void)
{
    dropTemp();
    gOn = false;
}
