/*
 * The program started with arguments: the options read, then a port list,
 * the help, the version, or a session with the ports, folder and lines the
 * options give.
 */
#ifndef VOLTANIS_CLI_H
#define VOLTANIS_CLI_H

/* Returns the exit status: 0, 1 (see exitStatus) or 2 (a wrong command
   line: unknown option, missing value, no such port or folder). */
int cliMain(int argc, const char *const *argv);

#endif
