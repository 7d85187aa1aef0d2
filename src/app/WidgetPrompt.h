#pragma once
// The window's questions: message boxes, the login dialog, the file and
// folder choosers, the file-exists question, the queue-file and add-site
// dialogs. Tests and unattended runs put their own IPrompt in its place.

#include "common/Prompt.h"

class QWidget;

// Questions through message boxes and the login dialog.
class TWidgetPrompt : public IPrompt {
public:
    explicit TWidgetPrompt(QWidget* parent) : m_parent(parent) {}
    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool AskLogin(LoginRequest& request) override;
    bool AskText(const std::string& title, const std::string& prompt, std::string& text) override;
    bool AskPrinter(PrinterChoice& choice) override;
    ExistingFileAnswer AskExistingFile(ExistingFileRequest& request) override;
    bool EditProperties(PropertiesRequest& request) override;
    bool AskSaveFile(const std::string& title, const std::string& filter, std::string& path) override;
    bool AskOpenFile(const std::string& title, const std::vector<std::string>& filters, std::string& path,
                     int& filter) override;
    Answer AskYesNoCancel(const std::string& text) override;
    bool AskSaveQueue(SaveQueueRequest& request) override;
    bool AskFolder(const std::string& caption, const std::string& initialDir, std::string& folder) override;
    bool AskRetry(const std::string& text) override;
    bool AskAddSite(AddSiteRequest& request) override;
    CertificateAnswer AskCertificate(const CertificateRequest& request) override;
    bool AskHostKey(const HostKeyRequest& request) override;
    bool AskSecret(const std::string& title, const std::string& prompt, std::string& secret) override;

private:
    QWidget* m_parent;
};
