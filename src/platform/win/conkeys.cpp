/*
 * Keys and lines from a console on the standard input of the Windows
 * console (console.cpp).  The keys come from conio (_kbhit, _getch:
 * function keys as 0 or 0xE0 and the scan code) and a line from the
 * console's own line editing, which echoes as it is typed.  ESC and F1 to
 * F12 handed over without a character (as wine's terminal console does)
 * are turned into the same bytes here, since conio would pass them over.
 */
#define VOLTANIS_WIN_REAL_API 1
#include "console_internal.h"
#include "internal.h"

namespace {

using namespace vtwin;

/* conio hands out the second byte of a function or cursor key on the next
   call: until then the keys come from conio alone */
bool gConioOwes;
/* the second byte of a key handed out here */
int gOwnSecond = -1;

/* Shift, Ctrl, Alt and the lock keys arrive as key events that _getch
   passes over without returning anything. */
bool isModifier(WORD vk)
{
    switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU: return true;
    default: return false;
    }
}

/* Drops, from the front of the console input, the events _getch would
   pass over (key releases, modifiers, mouse, focus, window size), so that
   the input handle is signalled only while a key is really waiting and the
   pause does not spin on them.  True when a key is waiting. */
bool dropIdleEvents(void)
{
    INPUT_RECORD rec;
    DWORD n = 0;
    while (PeekConsoleInputA(gIn, &rec, 1, &n) && n == 1) {
        if (rec.EventType == KEY_EVENT && rec.Event.KeyEvent.bKeyDown &&
            !isModifier(rec.Event.KeyEvent.wVirtualKeyCode))
            return true;
        if (!ReadConsoleInputA(gIn, &rec, 1, &n))
            break;
    }
    return false;
}

} // namespace

/* Keys whose event carries no character, which conio passes over on a
   terminal console (wine's hands ESC and F1..F12 over that way, where a
   Windows console gives ESC its character 27 and conio maps the F keys
   itself): the bytes a PC console keyboard gives for them, the same as
   conio's.  With Shift, Ctrl or Alt held they stay conio's. */
int vtwin::ownKey(const KEY_EVENT_RECORD &k, int *second)
{
    if (!k.bKeyDown || k.uChar.AsciiChar != 0)
        return -1;
    if (k.dwControlKeyState &
        (SHIFT_PRESSED | LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED))
        return -1;
    WORD vk = k.wVirtualKeyCode;
    if (vk == VK_ESCAPE) {
        *second = -1;
        return kEsc;
    }
    if (vk >= VK_F1 && vk <= VK_F10) {
        *second = 0x3B + (vk - VK_F1);
        return 0;
    }
    if (vk == VK_F11 || vk == VK_F12) {
        *second = vk == VK_F11 ? 0x85 : 0x86;
        return 0xE0;
    }
    return -1;
}

namespace {

/* The first byte of the key at the front of the console input when it is
   one this layer hands out itself (ownKey), else -1.  With `take` the event is read off and the second
   byte, if any, kept for the next call. */
int frontOwnKey(bool take)
{
    dropIdleEvents();
    INPUT_RECORD rec;
    DWORD n = 0;
    if (!PeekConsoleInputA(gIn, &rec, 1, &n) || n != 1 || rec.EventType != KEY_EVENT)
        return -1;
    int second = -1;
    int first = vtwin::ownKey(rec.Event.KeyEvent, &second);
    if (first >= 0 && take) {
        ReadConsoleInputA(gIn, &rec, 1, &n);
        gOwnSecond = second;
    }
    return first;
}

} // namespace

int vtwin::consoleKbhit(void)
{
    if (gOwnSecond >= 0 || gConioOwes)
        return 1;
    /* A terminal console (wine's) takes in what was typed only when its
       input handle is waited on; on Windows the zero wait changes nothing. */
    WaitForSingleObject(gIn, 0);
    if (frontOwnKey(false) >= 0)
        return 1;
    return _kbhit();
}

namespace {

/* The key event in front carries a character: conio hands that over as
   it is, even when its code is 0xE0, never as a key prefix. */
bool frontIsCharacter(void)
{
    INPUT_RECORD rec;
    DWORD n = 0;
    return PeekConsoleInputA(gIn, &rec, 1, &n) && n == 1 && rec.EventType == KEY_EVENT &&
           rec.Event.KeyEvent.uChar.AsciiChar != 0;
}

} // namespace

int vtwin::consoleGetch(void)
{
    if (gOwnSecond >= 0) {
        int b = gOwnSecond;
        gOwnSecond = -1;
        noteKey(false);
        return b;
    }
    if (!gConioOwes) {
        for (;;) {
            int first = frontOwnKey(true);
            if (first >= 0) {
                noteKey(first != kEsc);
                return first;
            }
            DWORD n = 0;
            if (GetNumberOfConsoleInputEvents(gIn, &n) && n > 0)
                break; /* a key for conio is in front */
            if (WaitForSingleObject(gIn, INFINITE) != WAIT_OBJECT_0)
                break;
        }
    }
    bool owed = gConioOwes;
    bool character = !owed && frontIsCharacter();
    int b = _getch();
    gConioOwes = !owed && !character && (b == 0 || b == 0xE0);
    noteKey(gConioOwes);
    return b;
}

int vtwin::consoleReadLine(char *buf, unsigned size)
{
    /* the console's line mode (on by default; _getch leaves it so) echoes
       and edits the line and hands it over ending in CR LF */
    unsigned n = 0;
    char chunk[128];
    for (;;) {
        DWORD got = 0;
        if (!ReadConsoleA(gIn, chunk, sizeof chunk, &got, NULL) || got == 0) {
            if (size)
                buf[n] = 0;
            return n ? static_cast<int>(n) : -1;
        }
        for (DWORD i = 0; i < got; i++) {
            char c = chunk[i];
            if (c == '\n') {
                if (size)
                    buf[n] = 0;
                return static_cast<int>(n);
            }
            if (c != '\r' && n + 1 < size)
                buf[n++] = c;
        }
    }
}

void vtwin::consoleSleep(unsigned long ms)
{
    LARGE_INTEGER freq, start, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    HANDLE both[2] = {wakeEvent(), gIn};
    for (;;) {
        if (dropIdleEvents())
            return;
        QueryPerformanceCounter(&now);
        unsigned long long elapsed = static_cast<unsigned long long>(now.QuadPart - start.QuadPart) * 1000u /
                                     static_cast<unsigned long long>(freq.QuadPart);
        if (elapsed >= ms)
            return;
        DWORD r = WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(ms - elapsed));
        if (r != WAIT_OBJECT_0 + 1)
            return; /* woken, timed out, or the wait failed */
    }
}
