#include "app/Main.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Without a display the program still runs (offscreen), so that
    // unattended command lines work on a headless machine.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvyne"));
    QApplication::setApplicationVersion(QStringLiteral(CORVYNE_VERSION));
    TfrmMain window;
    window.show();
    return app.exec();
}
