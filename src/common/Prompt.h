#pragma once
// Every question or message for the user goes through this interface, so
// that a person, a script or a test can answer the same flow.

#include <string>
#include <vector>

enum class MessageKind { Information, Warning, Error };

class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
    // A yes/no question; true for yes.
    virtual bool Confirm(const std::string& text) = 0;

    // The login prompt: credentials for a site, a user name only, or the
    // answer to a one-time-password challenge. False when cancelled.
    struct LoginRequest {
        enum Mode { Credentials = 0, UserOnly = 1, Challenge = 2 } mode = Credentials;
        std::string user, password, challenge;
        bool savePassword = false;
    };
    virtual bool AskLogin(LoginRequest&) { return false; }

    // A file to save to (title, filter such as "文本文档 (*.txt)"); false when cancelled.
    virtual bool AskSaveFile(const std::string& title, const std::string& filter, std::string& path)
    {
        (void)title;
        (void)filter;
        (void)path;
        return false;
    }

    // A printer: its name, or a PDF file to print into; false when cancelled.
    struct PrinterChoice {
        std::string printerName;
        std::string outputFile;
    };
    virtual bool AskPrinter(PrinterChoice& choice)
    {
        (void)choice;
        return false;
    }

    // A transfer's target exists already: what to do with it. name is the
    // file's name; source and target describe each side ("远程文件: 1,234 字节 , date").
    // A rename answer puts the new name (a full local path for a download,
    // a remote name for an upload) into newName.
    struct ExistingFileRequest {
        bool upload = false;
        std::string name, source, target;
        bool resumeAllowed = false;
        int countdownSeconds = 0;  // 0: no countdown; else overwrite when it ends
        std::string newName;
    };
    enum class ExistingFileAnswer { Overwrite, Resume, Rename, Skip, SkipAll, OverwriteAll, Cancel };
    // Without an answerer nothing is overwritten.
    virtual ExistingFileAnswer AskExistingFile(ExistingFileRequest& request)
    {
        (void)request;
        return ExistingFileAnswer::Skip;
    }

    // A remote item's properties ("属性"), its permissions editable: mode
    // is the sum of 400/200/100, 40/20/10, 4/2/1 (755 for rwxr-xr-x). True
    // for OK, with the mode as left.
    struct PropertiesRequest {
        std::string name, type, size, date, owner, group;
        int mode = 0;
    };
    virtual bool EditProperties(PropertiesRequest& request)
    {
        (void)request;
        return false;
    }

    // A file to open (title, filters such as "Corvyne 队列 (*.cqf)"); filter
    // is the index of the one chosen. False when cancelled.
    virtual bool AskOpenFile(const std::string& title, const std::vector<std::string>& filters, std::string& path,
                             int& filter)
    {
        (void)title;
        (void)filters;
        (void)path;
        (void)filter;
        return false;
    }

    // A folder (the chooser: a caption, the folder it starts in); false when cancelled.
    virtual bool AskFolder(const std::string& caption, const std::string& initialDir, std::string& folder)
    {
        (void)caption;
        (void)initialDir;
        (void)folder;
        return false;
    }

    // Something failed that may work a second time: true to try again.
    virtual bool AskRetry(const std::string& text)
    {
        (void)text;
        return false;
    }

    // "添加站点": a name for the site and one of the groups (an index into
    // groups). False when cancelled.
    struct AddSiteRequest {
        std::string name;
        std::vector<std::string> groups;
        int group = 0;
    };
    virtual bool AskAddSite(AddSiteRequest& request)
    {
        (void)request;
        return false;
    }

    // A yes/no/cancel question. Without an answerer: no (nothing changes).
    enum class Answer { Yes, No, Cancel };
    virtual Answer AskYesNoCancel(const std::string& text)
    {
        (void)text;
        return Answer::No;
    }

    // "保存队列...": the form (with host data, ".csq", or without, ".cqf"),
    // the host data, what the run does at its end, and the path. False when
    // cancelled.
    struct SaveQueueRequest {
        bool hostData = true;
        bool hostAvailable = true;  // false: disconnected without a site; only the plain form
        std::string host, port, user, password;
        bool anonymous = false;
        std::vector<std::string> dialEntries;  // offered after "<无>"
        std::string dial;                      // the one chosen; empty: none
        bool hangUp = false, quit = false;
        std::string path;
    };
    virtual bool AskSaveQueue(SaveQueueRequest& request)
    {
        (void)request;
        return false;
    }

    // A server's certificate that the system does not trust: what it says,
    // why it is not trusted, and whether another one was trusted for this
    // server before (a loud warning: someone may stand in between).
    struct CertificateRequest {
        std::string server;  // "host:port"
        std::string subject, issuer, notBefore, notAfter, sha256, problem;
        std::string trustedBefore;  // the fingerprint trusted before, when it changed
    };
    enum class CertificateAnswer { Refuse, TrustOnce, TrustAlways };
    // Without an answerer nothing is trusted.
    virtual CertificateAnswer AskCertificate(const CertificateRequest& request)
    {
        (void)request;
        return CertificateAnswer::Refuse;
    }

    // An SSH server's host key that known_hosts does not hold yet.
    struct HostKeyRequest {
        std::string server;   // "host:port"
        std::string keyType;  // "ssh-ed25519", ...
        std::string sha256;   // "SHA256:..." as OpenSSH prints it
    };
    // True: trust the key and keep it in known_hosts. Without an answerer
    // nothing is trusted.
    virtual bool AskHostKey(const HostKeyRequest& request)
    {
        (void)request;
        return false;
    }

    // A secret typed unseen (a key's passphrase, a server's login question);
    // false when cancelled.
    virtual bool AskSecret(const std::string& title, const std::string& prompt, std::string& secret)
    {
        (void)title;
        (void)prompt;
        (void)secret;
        return false;
    }

    // A line of text (title, prompt, and the text prefilled); false when cancelled.
    virtual bool AskText(const std::string& title, const std::string& prompt, std::string& text)
    {
        (void)title;
        (void)prompt;
        (void)text;
        return false;
    }
};
