#pragma once
// TfrmQueue: "保存队列..." — the queue to a file, with the host data (a site
// queue that connects and transfers on its own) or without (the entries only).

#include "common/Prompt.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TfrmQueue : public QDialog {
    Q_OBJECT

public:
    // choosePath(filter, path): the file chooser; false when cancelled.
    using PathChooser = std::function<bool(const std::string& filter, std::string& path)>;
    TfrmQueue(const IPrompt::SaveQueueRequest& request, PathChooser choosePath, QWidget* parent = nullptr);
    void Result(IPrompt::SaveQueueRequest& request) const;

    QGroupBox* grpHost = nullptr;
    QLineEdit *txtHost = nullptr, *txtPort = nullptr, *txtUser = nullptr, *txtPass = nullptr;
    QCheckBox* chkAnonymous = nullptr;
    QRadioButton *rdoCSQ = nullptr, *rdoCQF = nullptr;
    QLineEdit* txtPathname = nullptr;
    QPushButton *btnBrowse = nullptr, *btnSave = nullptr, *btnAdvanced = nullptr;
    QGroupBox* grpAdvanced = nullptr;
    QComboBox* cboDial = nullptr;
    QCheckBox *chkHangUp = nullptr, *chkQuit = nullptr;

    void btnBrowseClick();
    void btnAdvancedClick();

private:
    void follow();  // enabling after every change

    PathChooser m_choosePath;
    bool m_hostAvailable;
};
