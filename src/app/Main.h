#pragma once
// The main window. For now a frame with the two panes, the queue and the log
// area laid out as they will be; the behaviour arrives with the window's own
// work (connection workflow, panes, queue).

#include <QMainWindow>

class QLineEdit;
class QPlainTextEdit;

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit TfrmMain(QWidget* parent = nullptr);

private:
    QLineEdit* txtFTPServer = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPass = nullptr;
    QLineEdit* txtPort = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
};
