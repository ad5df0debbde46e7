#include "frontend.h"

int main(void)
{
    platformInit();
    return voltanisMain();
}
