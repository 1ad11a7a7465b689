// SPDX-License-Identifier: MIT
// Test main for the emulator link: re-executes itself under umockdev's preload library, then runs the tests.
#include <gtest/gtest.h>

#include "simemulator.h"

int main(int argc, char** argv)
{
    ReexecUnderUmockdev(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
