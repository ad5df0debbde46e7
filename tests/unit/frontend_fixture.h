/* Shared set-up for the front-end tests: the common ground of
   scratch_test.h, and keys handed to the key handling. */
#ifndef VOLTANIS_TEST_FRONTEND_FIXTURE_H
#define VOLTANIS_TEST_FRONTEND_FIXTURE_H

#include "preset/preset.h"
#include "scratch_test.h"

#include <gtest/gtest.h>

#include <string>

class FrontendTest : public ScratchTest {
protected:
    static void typeKeys(const std::string &keys)
    {
        for (unsigned char c : keys)
            processKey(c);
    }
};

#endif
