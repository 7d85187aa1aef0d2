#pragma once
// TfrmMessageWindow: server messages (the login greeting), directory
// messages, or a raw listing, in a read-only text window.

#include <QDialog>

#include <functional>

class QCheckBox;
class QPlainTextEdit;

class TfrmMessageWindow : public QDialog {
    Q_OBJECT

public:
    explicit TfrmMessageWindow(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1 = nullptr;
    QCheckBox* chkOption = nullptr;
    bool ServerMessages = true;  // false: directory messages
    // "确定(&O)": the check box ticked, and the size to keep.
    std::function<void(bool dontShowAgain, QSize size)> OnOK;
    void btnOKClick();
};
