// Test main for the application: re-executes under umockdev's preload library (so tests can
// attach simulated emulators), isolates the profile, and runs the tests inside a QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The recent-file list and the rest of the profile go to a folder of this run.
    QTemporaryDir profileDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(profileDir.path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profileDir.path());

    ::testing::InitGoogleTest(&argc, argv);
    Q_INIT_RESOURCE(tarvex);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
