/*
 * The program: with arguments the command line takes over, without them
 * the session starts at once.  It stands above both, so the system code
 * never reaches up to the command line.
 */
#include "cli/cli.h"
#include "frontend/frontend.h"

int main(int argc, char **argv)
{
    if (argc > 1)
        return cliMain(argc, argv);
    platformInit();
    return voltanisMain();
}
