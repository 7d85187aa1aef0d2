#pragma once
// TfrmBrowseServer: "浏览" — a second, independent connection to the server
// of the session, in a window of its own: walk the tree, view or edit a
// file, queue entries into the main window's queue. Its client (FTP2) and
// the main window's never share state.

#include "common/Prompt.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"
#include "session/QueueRun.h"

#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QMenu;
class TCorvListView;
class TWinConsole;

class TfrmBrowseServer : public QWidget {
    Q_OBJECT

public:
    // What it takes from the session it browses beside.
    struct Session {
        const TFTPclient* login = nullptr;  // the main connection: this one logs in as it did
        std::string initialDirectory;
        bool showLinks = true, resolveFile = false, selectLine = false;
        std::string viewer;  // the "Viewer" setting; empty: the desktop's program
    };
    TfrmBrowseServer(const Session& session, IPrompt& prompt, QWidget* parent = nullptr);
    ~TfrmBrowseServer() override;

    // ---- what the main window supplies
    // Rows handed to the main queue, as if dragged onto it.
    std::function<void(const std::string& remoteDir, const std::vector<TPaneItem>& rows)> OnQueue;
    // The built-in editor (true: saved, send it back) and a viewer.
    std::function<bool(const QString& file)> RunEditor;
    std::function<void(const QString& file)> RunViewer;

    // ---- parts
    TFTPclient FTP2;
    QComboBox* BrowsePathBox = nullptr;
    TCorvListView* Browse = nullptr;
    TWinConsole* Memo1 = nullptr;
    QLabel* StatusBar = nullptr;
    QMenu* mnuBrowse = nullptr;

    // ---- handlers
    void BrowseDblClick(int row);
    void mnuQueueClick();
    void mnuViewClick();
    void mnuEditClick();
    void mnuChangeDirClick();
    void mnuCloseClick();
    void BrowsePathBoxChange(int index);

    const std::string& CurrentPath() const { return m_path; }
    bool Busy() const { return m_busy; }
    bool IsLoggedIn() const { return m_loggedIn; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setBusy(bool busy);
    void status(const QString& text);
    void list();
    void changeDir(const std::string& dir);
    void fetch(bool edit);
    void ftpInfo(FtpInfo kind, const std::string& text);
    void listingDone();
    void fileReceived();
    void fail();

    IPrompt& m_prompt;
    Session m_session;
    TListParser m_parser;
    std::vector<QString> m_sharedTexts;  // permission strings the rows share
    QTemporaryDir m_temp;                // viewed and edited copies, private to this window
    std::string m_path = "/";
    bool m_busy = false, m_loggedIn = false, m_editMode = false, m_closing = false;
};
