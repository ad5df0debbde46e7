#include "frontend.h"

#include "../cli/cli.h"

int main(int argc, char **argv)
{
    if (argc > 1)
        return cliMain(argc, argv);
    platformInit();
    return voltanisMain();
}
