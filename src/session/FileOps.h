#pragma once
// The remote file commands of the main window as chains of single FTP
// commands: make a folder, delete (a whole tree: files first, folders from
// the deepest up), rename, move, change permissions, a raw command. Each
// command's completion event takes the next step; the chain ends by showing
// the remote folder again (or idle).

#include "session/Connection.h"
#include "ftp/Ftp.h"
#include "sites/Settings.h"

#include <QObject>

#include <deque>
#include <functional>
#include <string>
#include <vector>

// A row of the remote pane as the commands see it.
struct TRemoteRow {
    std::string name;
    bool folder = false;
};

// What the properties dialog shows of a listed item: the last line of the
// raw listing with that name. found is false when no line has it.
struct TRemoteProperties {
    bool found = false;
    IPrompt::PropertiesRequest shown;
};
TRemoteProperties RemoteProperties(const TListingLines& listing, TFTPServerType serverType, const std::string& name);
// "-rwxr-x---" -> 750: any character but "-" in places 2..10 sets its bit.
int PermissionMode(const std::string& permissions);

class TRemoteFileOps : public QObject {
    Q_OBJECT

public:
    // What the commands need of the window.
    struct Host {
        std::function<std::string()> RemoteDirectory;         // the client's, with "/"
        std::function<std::vector<TRemoteRow>()> RemoteRows;  // without ".."
        std::function<void(const std::string& dir)> DropCache;
        std::function<void(const std::string& text)> Status;   // first status panel
        std::function<void(const std::string& text)> Status2;  // second
        std::function<std::string()> StatusText;               // the first panel's text now
        std::function<void()> ShowRemote;                      // list the remote folder again
        std::function<IPrompt&()> Prompt;                      // whoever answers questions now
    };

    TRemoteFileOps(TFTPclient& client, TConnectionWorkflow& workflow, const TSettings& settings, Host host,
                   QObject* parent = nullptr);

    // Each starts from Idle and returns false when it started nothing.
    bool MakeDirectory(const std::string& name);
    bool Delete(const std::vector<TRemoteRow>& selected);
    bool Rename(const std::string& from, const std::string& to);
    bool Move(const std::vector<std::string>& names, const std::string& target);
    bool Chmod(const std::vector<std::string>& names, const std::string& mode);
    bool RawCommand(const std::string& text);
    // Custom command lines, each sent after the reply to the one before;
    // none: nothing is sent.
    bool CustomCommands(std::vector<std::string> lines);

    // From the connection workflow while a delete runs: the entered folder
    // was listed, or could not be entered.
    void Listed();
    void DirectoryFailed();
    // Not uploading: a folder made by the user's command.
    void DirectoryCreated();

private:
    void deleteStep();
    void renameStep();
    void moveProbed();  // the answer to whether the next moved name is in the target
    void chmodStep();
    void customStep();
    void showDirectory();
    bool begin(SessionState state);

    TFTPclient& m_ftp;
    TConnectionWorkflow& m_workflow;
    const TSettings& m_settings;
    Host m_host;
    std::deque<std::string> m_pending;   // files to delete, names to rename or chmod
    bool m_probing = false;              // a move asked whether its next name is in the target
    std::deque<std::string> m_toVisit;   // folders a delete still enters
    std::vector<std::string> m_visited;  // entered, in order; removed from the end
    std::string m_startDir, m_target, m_mode;
};
