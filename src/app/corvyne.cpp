#include "app/About.h"
#include "app/Application.h"
#include "app/DataDirectory.h"
#include "app/Main.h"
#include "app/VersionInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    // Without a display the program still runs (offscreen), so that
    // unattended command lines work on a headless machine.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EnsureHomeDirectory();  // before Qt reads it
    TCorvApplication app(argc, argv);
    InstallQtTranslations(app);
    QApplication::setApplicationName(QStringLiteral("corvyne"));
    QApplication::setApplicationVersion(QStringLiteral(CORVYNE_VERSION));
    ProgramVersionBlock();

    const QStringList parameters = QApplication::arguments();
    const bool noSplash =
        parameters.size() > 1 && (parameters[1].compare(QLatin1String("/nosplash"), Qt::CaseInsensitive) == 0 ||
                                  parameters[1].compare(QLatin1String("--nosplash"), Qt::CaseInsensitive) == 0);
    // The splash window lives until the main window has built itself.
    std::unique_ptr<TfrmSplash> splash;
    if (!noSplash) {
        splash = std::make_unique<TfrmSplash>();
        splash->show();
        QApplication::processEvents();
    }
    QStringList arguments = CollectArguments(parameters);
    QString error;
    const QString dataDir = ResolveDataDirectory(arguments, error);
    // A run without a user never goes on with the user's own settings when
    // the folder it named is missing (the folder is not made: a mistyped
    // path would be): it says so and ends.
    if (!error.isEmpty() && RunsWithoutUser(arguments)) {
        std::fprintf(stderr, "corvyne: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    TfrmMain window(dataDir);
    if (!error.isEmpty())
        window.Prompt().ShowMessage(MessageKind::Error, error.toStdString());
    window.show();
    splash.reset();

    // Ended by the session or a terminal: a close without questions.
    QObject::connect(&app, &TCorvApplication::TerminationRequested, &window, [&window] {
        window.CloseWithoutQuestions();
        QApplication::quit();  // also when the window was hidden to the tray
    });
    app.WatchTerminationSignals();

    window.HandOffCommandLine(arguments);
    const int status = app.exec();
    return status != 0 ? status : window.ExitStatus();
}
