#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Test discovery runs the binary at build time, without a display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The program writes into the user's configuration and data folders
    // (the default data directory, the .csq file type): tests use their own.
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
