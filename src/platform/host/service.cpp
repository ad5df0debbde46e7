/*
 * The real console and files behind the contract on POSIX; the MIDI ports
 * come from the port host (host.cpp).
 */
#include "../common/service.h"
#include "../posix/posix.h"

const VtConsole *vtRealConsole(void) { return vtPosixConsole(); }
const VtFiles *vtRealFiles(void) { return vtPosixFiles(); }
