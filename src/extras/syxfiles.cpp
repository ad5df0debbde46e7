#include "syxfiles.h"

#include "../platform/platform.h"

#include <stdio.h>
#include <string.h>

namespace {

const size_t kPath = 4096;
const unsigned kTries = 1000; /* numbers one message may find taken */

bool gOn = false;
char gDir[kPath]; /* the folder with a separator at its end */
unsigned gNext = 0;
char gName[kPath];
char gTemp[kPath];
DWORD gError = 0; /* why the latest save failed */

/* DIR/<prefix>NNNN<suffix> into out; false when it does not fit */
bool numbered(char *out, const char *prefix, unsigned number, const char *suffix)
{
    int n = snprintf(out, kPath, "%s%s%04u%s", gDir, prefix, number, suffix);
    return n > 0 && (size_t)n < kPath;
}

bool taken(const char *name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

bool endsWithSeparator(const char *s, size_t len)
{
    return len > 0 && (s[len - 1] == '/' || s[len - 1] == '\\');
}

/* Creates gTemp, only where no name is; a temporary file a killed run left
   behind is removed first (removing a name never touches what a link of
   that name points to). */
HANDLE createTemp(void)
{
    HANDLE h = CreateFileA(gTemp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        DeleteFileA(gTemp);
        h = CreateFileA(gTemp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    return h;
}

SyxSaved fail(DWORD why)
{
    gError = why;
    gOn = false;
    return SyxFailed;
}

/* All n bytes in gTemp, or no gTemp at all (then gError says why). */
bool writeTemp(const uint8_t *p, uint32_t n)
{
    HANDLE h = createTemp();
    if (h == INVALID_HANDLE_VALUE) {
        gError = GetLastError();
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, p, n, &written, NULL) && written == n;
    DWORD why = ok ? 0 : GetLastError();
    if (!CloseHandle(h) && ok) {
        ok = false;
        why = GetLastError();
    }
    if (!ok) {
        DeleteFileA(gTemp);
        gError = why;
    }
    return ok;
}

} // namespace

SyxStart syxStart(const char *dir)
{
    gOn = false;
    size_t len = strlen(dir);
    if (len + 32 >= kPath)
        return SyxNameTooLong;
    memcpy(gDir, dir, len + 1);
    DWORD a = GetFileAttributesA(dir);
    if (a == INVALID_FILE_ATTRIBUTES && !CreateDirectoryA(dir, NULL))
        return SyxCannotCreate;
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY))
        return SyxNotAFolder;
    if (!endsWithSeparator(gDir, len))
        memcpy(gDir + len, "/", 2);
    gNext = 0;
    while (numbered(gName, "", gNext, ".syx") && taken(gName))
        gNext++;
    gOn = true;
    return SyxReady;
}

int syxWhole(const uint8_t *p, uint32_t n) { return n >= 2 && p[0] == 0xF0 && p[n - 1] == 0xF7; }

SyxSaved syxSave(const uint8_t *p, uint32_t n)
{
    if (!gOn || !syxWhole(p, n))
        return SyxNotSaved;
    for (unsigned tries = 0; tries < kTries; tries++, gNext++) {
        if (!numbered(gName, "", gNext, ".syx") || !numbered(gTemp, ".", gNext, ".syx.tmp"))
            return fail(ERROR_FILENAME_EXCED_RANGE);
        if (taken(gName))
            continue;
        if (!writeTemp(p, n))
            return fail(gError);
        if (MoveFileExA(gTemp, gName, 0)) {
            gNext++;
            return SyxWritten;
        }
        DWORD why = GetLastError();
        DeleteFileA(gTemp);
        if (why != ERROR_FILE_EXISTS)
            return fail(why); /* not refused for the name: the folder is gone or locked */
    }
    return fail(ERROR_FILE_EXISTS);
}

const char *syxLastName(void) { return gName; }
DWORD syxLastError(void) { return gError; }

void syxStop(void) { gOn = false; }
