#include "app/About.h"
#include "app/Main.h"
#include "app/VersionInfo.h"
#include "app/verslab.h"

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    // Without a display the program still runs (offscreen), so that
    // unattended command lines work on a headless machine.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvyne"));
    QApplication::setApplicationVersion(QStringLiteral(CORVYNE_VERSION));
    ProgramVersionBlock();
    // The splash window lives until the main window has built itself.
    std::unique_ptr<TfrmSplash> splash;
    if (argc < 2 || (std::strcmp(argv[1], "/nosplash") != 0 && std::strcmp(argv[1], "--nosplash") != 0)) {
        splash = std::make_unique<TfrmSplash>();
        splash->show();
        QApplication::processEvents();
    }
    TfrmMain window;
    window.show();
    splash.reset();
    return app.exec();
}
