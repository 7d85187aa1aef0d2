#pragma once
// TfrmInput: the login prompt, for site credentials, a user name only, or the
// answer to a one-time-password challenge.

#include "common/Prompt.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

class TfrmInput : public QDialog {
    Q_OBJECT

public:
    explicit TfrmInput(const IPrompt::LoginRequest& request, QWidget* parent = nullptr);
    void Result(IPrompt::LoginRequest& request) const;

    QLineEdit* txtUsername = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLabel* lblKey = nullptr;
    QLabel* lblPassword = nullptr;
    QLabel* lblSkey = nullptr;
    QCheckBox* chkSaveInfo = nullptr;
};
