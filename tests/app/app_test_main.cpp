// SPDX-License-Identifier: MIT
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

#include "simemulator.h"

int main(int argc, char** argv)
{
    ReexecUnderUmockdev(argv);
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
