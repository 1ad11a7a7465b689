// Test main for the emulator link: re-executes itself under umockdev's preload library, then runs the tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "simemulator.h"

int main(int argc, char** argv)
{
    if (!InMockEnvironment()) {
        std::string preload = "libumockdev-preload.so.0";
        if (const char* old = std::getenv("LD_PRELOAD"); old && *old)
            preload += std::string(":") + old;
        setenv("LD_PRELOAD", preload.c_str(), 1);
        std::string asan = "verify_asan_link_order=0";
        if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old)
            asan = std::string(old) + ":" + asan;
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        execv("/proc/self/exe", argv);
        std::perror("re-exec under umockdev");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
