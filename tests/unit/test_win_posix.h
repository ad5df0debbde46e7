/*
 * Included ahead of every unit test source in the Windows build (see
 * tests/CMakeLists.txt): the few POSIX calls the test fixtures use for their
 * scratch folders, done with the Windows C runtime.
 *   mkdtemp("/tmp/name-XXXXXX")   the folder under \tmp of the current drive
 *                                 (under wine, with the build on Z:, that is
 *                                 the Linux /tmp)
 *   system("rm -rf <folder>")     removes the folder and all in it
 * Any other command goes to the real system().
 */
#ifndef VOLTANIS_TEST_WIN_POSIX_H
#define VOLTANIS_TEST_WIN_POSIX_H

#ifdef _WIN32

#include <direct.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

inline char *mkdtemp(char *tmpl)
{
    if (strncmp(tmpl, "/tmp/", 5) == 0)
        _mkdir("/tmp"); /* may exist already */
    if (!_mktemp(tmpl))
        return nullptr;
    return _mkdir(tmpl) == 0 ? tmpl : nullptr;
}

inline int vtTestSystem(const char *cmd)
{
    if (cmd && strncmp(cmd, "rm -rf ", 7) == 0) {
        std::error_code ec;
        std::filesystem::remove_all(cmd + 7, ec);
        return ec ? 1 : 0;
    }
    return std::system(cmd);
}

/* every header that declares system() is in already */
#define system vtTestSystem

#endif /* _WIN32 */

#endif
