#pragma once
// The application object: exceptions that escape an event handler are caught
// here and handed to the central handler (the crash log) instead of ending
// the program. SIGTERM and SIGHUP (a desktop session ending, a terminal
// closing) arrive as the TerminationRequested signal in the event loop, so
// that the program can save and clean up as on a normal close.

#include <QApplication>

class TCorvApplication : public QApplication {
    Q_OBJECT

public:
    TCorvApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
    // Routes SIGTERM and SIGHUP to TerminationRequested; false when the
    // signals cannot be watched.
    bool WatchTerminationSignals();

Q_SIGNALS:
    void TerminationRequested();
};

// Qt's own texts (buttons of message boxes, the file dialog, the edit menu
// of text fields) in Simplified Chinese, from the translations installed
// with Qt; how many translation files were loaded.
int InstallQtTranslations(QCoreApplication& app);
