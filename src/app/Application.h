#pragma once
// The application object: exceptions that escape an event handler are caught
// here and handed to the central handler (the crash log) instead of ending
// the program.

#include <QApplication>

class TCorvApplication : public QApplication {
    Q_OBJECT

public:
    TCorvApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};
