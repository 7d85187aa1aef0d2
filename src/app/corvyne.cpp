#include "app/Application.h"
#include "app/DataDirectory.h"
#include "app/Main.h"
#include "dialogs/About.h"
#include "session/RunReport.h"
#include "widgets/VersionInfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {
// The splash window, unless the first argument asks for none.
std::unique_ptr<TfrmSplash> showSplash(const QStringList& parameters)
{
    const bool noSplash =
        parameters.size() > 1 && (parameters[1].compare(QLatin1String("/nosplash"), Qt::CaseInsensitive) == 0 ||
                                  parameters[1].compare(QLatin1String("--nosplash"), Qt::CaseInsensitive) == 0);
    if (noSplash)
        return nullptr;
    auto splash = std::make_unique<TfrmSplash>();
    splash->show();
    QApplication::processEvents();
    return splash;
}

// Before Qt starts: without a display the program still runs (offscreen), so
// that unattended command lines work on a headless machine; HOME is set.
// True when there is no display.
bool prepareEnvironment()
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EnsureHomeDirectory();
    const bool headless = qgetenv("QT_QPA_PLATFORM") == "offscreen";
    if (headless)
        TRunReport::FilterQtNoise();
    return headless;
}
}  // namespace

int main(int argc, char** argv)
{
    const bool headless = prepareEnvironment();
    TCorvApplication app(argc, argv);
    // Ended by the session or a terminal, whatever is open (a dialog waiting
    // in its own event loop included): a close without questions. Watched
    // from the start, as a dialog may open before the main loop runs.
    bool terminated = false;
    TfrmMain* window = nullptr;
    QObject::connect(&app, &TCorvApplication::TerminationRequested, &app, [&] {
        const bool first = !std::exchange(terminated, true);
        if (first && window)
            window->CloseWithoutQuestions();
        // exit(), not quit(): quit() does nothing before the main loop runs,
        // and a dialog's loop must end too.
        QCoreApplication::exit(0);
    });
    app.WatchTerminationSignals();
    InstallQtTranslations(app);
    QApplication::setApplicationName(QStringLiteral("corvyne"));
    QApplication::setApplicationVersion(QStringLiteral(CORVYNE_VERSION));
    ProgramVersionBlock();

    const QStringList parameters = QApplication::arguments();
    std::unique_ptr<TfrmSplash> splash = showSplash(parameters);  // until the main window has built itself
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
    TfrmMain mainWindow(dataDir);
    const bool endedBeforeTheWindow = terminated;
    window = &mainWindow;
    mainWindow.Report().SetEnabled(headless || RunsWithoutUser(arguments));
    if (!error.isEmpty() && !terminated)
        mainWindow.Prompt().ShowMessage(MessageKind::Error, error.toStdString());
    if (!terminated)
        mainWindow.show();
    splash.reset();
    if (!terminated)
        mainWindow.HandOffCommandLine(arguments);
    // The main loop would not see a quit asked for before it started.
    if (terminated) {
        if (endedBeforeTheWindow)
            mainWindow.CloseWithoutQuestions();
        return mainWindow.Scripts().ExitStatus();
    }
    const int status = app.exec();
    return status != 0 ? status : mainWindow.Scripts().ExitStatus();
}
