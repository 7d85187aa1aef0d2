#pragma once
// Viewing and editing files of either pane. A local file goes to a program
// at once; a remote one is fetched into a private folder of this run first,
// handed over, and after editing sent back over the same session.

#include "session/Connection.h"
#include "ftp/Ftp.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTemporaryDir;

// The program of the "Editors" section ("e1", "e2", ... until one is
// missing; each ".txt .htm,program") whose extensions hold the file's;
// empty when none does. Extensions compare without case.
std::string EditorForExtension(const TIniFile& settings, const std::string& file);

class TViewEdit : public QObject {
    Q_OBJECT

public:
    struct Host {
        std::function<std::string()> RemoteDirectory;  // the client's, with "/"
        std::function<void(const std::string& text)> Status;
        std::function<void(const std::string& text)> Status2;
        std::function<void(const std::string& dir)> DropCache;
        std::function<void()> ShowRemote;
        std::function<void()> ResetProgress;
        // Starts program with the file; false when it could not start.
        std::function<bool(const std::string& program, const std::string& file)> OpenWith;
        // The desktop's program for the file; false when there is none.
        std::function<bool(const std::string& file)> OpenDefault;
        std::function<void(const std::string& file)> BuiltInViewer;
        // Modal; true when the user chose to send the file back.
        std::function<bool(const std::string& file)> BuiltInEditor;
        std::function<IPrompt&()> Prompt;
        std::function<void(const std::string& text, int colour)> Log;
    };

    TViewEdit(TFTPclient& client, TConnectionWorkflow& workflow, const TSettings& settings,
              const TIniFile& settingsFile, Host host, QObject* parent = nullptr);
    ~TViewEdit() override;

    void ViewLocal(const std::vector<std::string>& paths);
    void EditLocal(const std::string& path);
    // From Idle; false when nothing started (busy, or a name that cannot be
    // a file name here).
    bool ViewRemote(const std::string& name, int64_t size);
    bool EditRemote(const std::string& name, int64_t size);

    // The private folder the remote copies go to (mode 0700, removed when
    // the program ends); empty when it cannot be made.
    std::string CopyFolder();

private:
    bool fetch(SessionState state, const std::string& remote, const std::string& name, int64_t size);
    void view(const std::string& file);
    void received();
    void stored();
    void upload();
    bool startEditor(const std::string& file);

    TFTPclient& m_ftp;
    TConnectionWorkflow& m_workflow;
    const TSettings& m_settings;
    const TIniFile& m_settingsFile;
    Host m_host;
    std::unique_ptr<QTemporaryDir> m_copies;
    std::string m_file;  // the copy on its way or open in an editor
};
