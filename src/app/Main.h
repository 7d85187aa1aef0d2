#pragma once
// The main window: a frame that makes the parts (the quick-connect bar, the
// two panes, the queue panel, the log, the status line, the menus, and the
// parts without widgets of their own: file commands, site commands, the
// script host), lays them out, restores and saves the layout, and closes.
// It owns the session (client, workflow, cache, queue, settings, sites) the
// parts share through TWindowParts.

#include "app/FileCommands.h"
#include "app/LocalPane.h"
#include "app/MenuBar.h"
#include "app/QueuePanel.h"
#include "app/QuickConnect.h"
#include "app/RemotePane.h"
#include "app/ScriptHost.h"
#include "app/SiteCommands.h"
#include "app/StatusLine.h"
#include "app/WidgetPrompt.h"
#include "app/WindowParts.h"
#include "dialogs/MessageWindow.h"
#include "ftp/Ftp.h"
#include "session/Connection.h"
#include "session/ListingCache.h"
#include "session/RunReport.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"
#include "transfer/TransferQueue.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QKeyEvent;
class QSplitter;
class QSystemTrayIcon;
class QToolBar;
class TKeyringVault;
class TWinConsole;
class TfrmPref;

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    // dataDirectory ends with "/". The command line comes later, through
    // HandOffCommandLine, once the window is shown.
    explicit TfrmMain(const QString& dataDirectory, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Every question goes here; tests and scripts put their own answerer in.
    void SetPrompt(IPrompt* prompt);
    IPrompt& Prompt() { return *m_prompt; }
    // Errors and the final summary on the standard error output (a run
    // nobody watches).
    TRunReport& Report() { return m_report; }

    // ---- handlers
    void mnuAboutClick();
    // Headers, sort order, row selection, font, proxy and log file from the
    // settings file (at start, and after the preferences are saved).
    void ApplyViewSettings();
    // Acts on the collected command-line arguments once the window is up.
    void HandOffCommandLine(const QStringList& arguments);
    void mnuHideClick();  // to the notification area (or minimized where there is none)
    void tryRestoreClick();
    void tryExitClick();
    // Closes as the user would, without the closing questions (the session
    // is ending): settings and layout saved, the listing cache removed.
    void CloseWithoutQuestions();
    void trayActivated(int reason);
    bool HiddenToTray() const { return m_hiddenToTray; }
    void LogLine(const std::string& text, int colour);

    // ---- what the window holds itself, named as the program names it
    TFTPclient& FTP() { return m_ftp; }
    TWinConsole* Memo1() const { return m_log; }  // the coloured log
    TfrmMessageWindow* MessageWindow() const { return m_messageWindow; }

    // ---- the transfer queue
    TQueuePanel& QueuePanel() { return *m_queuePanel; }
    TTransferQueue& QueueEntries() { return m_transferQueue; }
    TQueueRun& QueueRun() { return m_queuePanel->Run(); }
    // ---- file commands, viewing and editing
    TFileCommands& FileCommands() { return *m_files; }
    // ---- the site commands and bookmarks
    TSiteCommands& SiteCommands() { return *m_siteCommands; }
    // ---- the menus, the command toolbar and the custom commands
    TMenuBar& MenuBar() { return *m_menus; }
    void mnuPreferencesClick();  // TfrmPref: written, loaded again and applied on OK
    // Instead of the modal run of the preferences (true: OK); tests put their own in.
    void SetPreferencesOpened(std::function<bool(TfrmPref& dialog)> run) { m_preferencesOpened = std::move(run); }
    // The window title and tray tip: the session's, or the run's progress.
    void ShowSessionTitle(const std::string& title);
    void ShowApplicationTitle(const QString& title);
    const QString& SessionTitle() const { return m_sessionTitle; }

    // ---- the parts, each with its own widgets
    TLocalPane& LocalPane() { return *m_local; }
    TRemotePane& RemotePane() { return *m_remote; }
    TStatusLine& StatusLine() { return *m_status; }
    TQuickConnect& QuickConnect() { return *m_quick; }
    TFilePane& ActivePart() const { return *m_activePart; }
    // ---- panes
    // ---- without a user: scripts, the keyword command line, the automation link
    TScriptHost& Scripts() { return *m_scripts; }
    TCorvListView* ActivePane() const;
    void SetActivePane(TCorvListView* pane);
    void SetActivePart(TFilePane& pane);
    void PaneDragDrop(TCorvListView* pane, int sourceTag, int row);
    // Pane rows dropped: moved within a pane, or sent to the other one.
    struct TPaneDrop {
        enum Kind { Move, Download, Upload } kind;
        TCorvListView* source;
        QString folder;  // the folder row dropped onto; empty for the current directory
    };
    // What a drop does; tests put their own in.
    const std::function<void(const TPaneDrop&)>& PaneDropHandler() const { return m_onPaneDrop; }
    void SetPaneDropHandler(std::function<void(const TPaneDrop&)> run) { m_onPaneDrop = std::move(run); }

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public:
    TListingCache& ListingCache() { return m_cache; }

    TConnectionWorkflow& Workflow() { return *m_workflow; }
    bool FirstRun() const { return m_firstRun; }
    // The crash handler: error.log and the message; the program goes on.
    void AppException(const std::string& what);
    TSettings& Settings() { return m_settings; }
    TIniFile& SettingsFile() { return m_settingsFile; }
    TSiteDatabase& Sites() { return m_sites; }
    const QString& DataDirectory() const { return m_dataDir; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildWidgets();
    void buildQuickConnectBar();
    void buildPanes();
    void buildBottom(QSplitter* panes);
    void fileDoubleClick(TCorvListView* pane);
    void applySortSettings();
    void restoreLayout();
    void saveLayout();
    void connectLogAndStatus();
    void fillParts();
    void connectMessages();

    QString m_dataDir;
    TFTPclient m_ftp;
    TWinConsole* m_log = nullptr;
    QSplitter* MiddleSplitter = nullptr;
    QSplitter* BottomSplitter = nullptr;
    QSplitter* QueueSplitter = nullptr;
    QToolBar* ToolBar = nullptr;                  // the command buttons
    QPointer<TfrmMessageWindow> m_messageWindow;  // the one server or directory message window
    std::function<bool(TfrmPref& dialog)> m_preferencesOpened;
    std::function<void(const TPaneDrop&)> m_onPaneDrop;
    TIniFile m_settingsFile;
    TSettings m_settings;
    std::unique_ptr<TKeyringVault> m_keyring;  // the site and proxy passwords' home when one is running
    TSiteDatabase m_sites;
    std::unique_ptr<TWidgetPrompt> m_widgetPrompt;
    IPrompt* m_prompt = nullptr;
    std::unique_ptr<TConnectionWorkflow> m_workflow;
    TListingCache m_cache;
    TTransferQueue m_transferQueue;
    TWindowParts m_parts;
    TLocalPane* m_local = nullptr;
    TRemotePane* m_remote = nullptr;
    TStatusLine* m_status = nullptr;
    TQuickConnect* m_quick = nullptr;
    TQueuePanel* m_queuePanel = nullptr;
    TFileCommands* m_files = nullptr;
    TSiteCommands* m_siteCommands = nullptr;
    class TMenuFrame;
    std::unique_ptr<TMenuFrame> m_menuFrame;
    TMenuBar* m_menus = nullptr;
    TFilePane* m_activePart = nullptr;
    class TScriptWindow;
    std::unique_ptr<TScriptWindow> m_scriptWindow;
    TScriptHost* m_scripts = nullptr;
    TRunReport m_report;
    QString m_sessionTitle;
    bool m_firstRun = false;
    bool m_halveSplits = false;  // no saved pane sizes: halve at the first show
    bool m_closeWithoutQuestions = false;
    bool m_hiddenToTray = false;
    QSystemTrayIcon* m_tray = nullptr;
};
