// SPDX-License-Identifier: MIT
// main() of the hex editor widget tests: offscreen Qt unless a platform is chosen, then GoogleTest.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv); // must exist before any widget and outlive the tests
    return RUN_ALL_TESTS();
}
