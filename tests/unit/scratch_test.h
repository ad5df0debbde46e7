/* The common ground of the unit-test fixtures: the test double in place of
   the port service, the keyboard and the files; a fresh scratch directory as
   the current directory, so that preset, record and send files of one test
   never meet another's; and the capture of what the program prints. */
#ifndef VOLTANIS_TEST_SCRATCH_TEST_H
#define VOLTANIS_TEST_SCRATCH_TEST_H

#include "platform/testdouble/testdouble.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        td::install();
        td::endOfInput(false);
        ASSERT_NE(getcwd(oldDir_, sizeof oldDir_), nullptr);
        strcpy(tmpDir_, "/tmp/vt-test-XXXXXX");
        ASSERT_NE(mkdtemp(tmpDir_), nullptr);
        ASSERT_EQ(chdir(tmpDir_), 0);
    }

    /* fixtures close what they opened first, then call this */
    void TearDown() override
    {
        td::uninstall();
        EXPECT_EQ(chdir(oldDir_), 0);
        std::string cmd = std::string("rm -rf ") + tmpDir_;
        EXPECT_EQ(system(cmd.c_str()), 0);
    }

    /* runs f with the console captured and returns what it printed */
    template <class F> static std::string printed(F f)
    {
        fflush(stdout);
        testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

private:
    char oldDir_[4096];
    char tmpDir_[64];
};

#endif
