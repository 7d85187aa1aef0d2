#pragma once
// The file commands on the active pane: new folder, delete (to the trash
// locally), rename, move, permissions, properties, run, raw commands, and
// viewing and editing (the remote file fetched, handed to a program or the
// built-in editor, and sent back when changed). Remote commands are chains
// of FTP commands in TRemoteFileOps; viewing and editing are TViewEdit.

#include "app/WindowParts.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QUrl;
class TCorvListView;
class TViewEdit;

class TFileCommands : public QObject {
    Q_OBJECT

public:
    explicit TFileCommands(TWindowParts& parts);
    ~TFileCommands() override;

    void popNewFoldClick();
    void popDeleteClick();
    void popRenameClick();
    void popMoveClick(const std::string& folder = {});  // folder: a row dropped onto
    void popCHMODClick();
    void mnuRawCmdClick();
    void popPropertiesClick();    // remote rows: TfrmProperties; local: the file manager's, or ours
    void mnuRawDirectoryClick();  // the raw listing in a message window
    void popExecuteClick();       // a local file: run it, or open it with its program
    void popViewClick();
    void popEditClick();

    // Starts a program (detached), opens a file or address with the
    // desktop's program for it, or shows a file in the built-in viewer.
    bool Launch(const QString& program, const QStringList& arguments);
    bool OpenUrl(const QUrl& url);
    bool OpenDefault(const QString& path);
    void BuiltInViewer(const QString& file);
    bool BuiltInEditor(const QString& file);  // modal; true: send it back

    // Instead of the modal editor, the desktop and new processes; tests put their own in.
    std::function<bool(const QString& file)> RunEditor;
    std::function<bool(const QUrl& file)> OpenUrlHook;
    std::function<bool(const QString& program, const QStringList& arguments)> LaunchProgram;

private:
    void buildFileOps();
    void buildViewEdit();
    bool remoteBusy(const TCorvListView* pane) const;  // the remote pane, and the session not idle
    void localMove(const std::vector<std::string>& names, const QString& folder);
    void localProperties(const QString& path);
    void localPropertiesDialog(const QString& path);

    TWindowParts& m_parts;
    std::unique_ptr<TRemoteFileOps> m_fileOps;
    std::unique_ptr<TViewEdit> m_viewEdit;
};
