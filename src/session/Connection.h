#pragma once
// The connection workflow of the main window: turns the quick-connect fields,
// a site or an ftp:// address into one session on the FTP client, and the
// client's events into log lines, status texts and the next step. It holds
// the session state every command handler consults, and says what happened
// as signals: the parts of the window that show it connect to them.

#include "common/Prompt.h"
#include "session/ConnectLogic.h"
#include "session/Session.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <set>
#include <string>
#include <vector>

// Log colours: 0 window text, 1 green (commands), 2 navy (replies), 3 red.
enum LogColour { lcNormal = 0, lcCommand = 1, lcReply = 2, lcError = 3, lcLocalOnly = -1 };
// The log line of a client's error.
std::string FtpErrorText(::FtpError kind, const std::string& text);

struct TQuickConnectFields {
    std::string server, user, password, port = "21";
    int historyIndex = -1;  // the drop-down item chosen, -1 when typed
};

class TConnectionWorkflow : public QObject {
    Q_OBJECT

public:
    TConnectionWorkflow(TFTPclient& client, TSettings& settings, TIniFile& settingsFile, TSiteDatabase& sites,
                        IPrompt& prompt, QObject* parent = nullptr);

    // The panes' own ways to list the remote folder and to show one just
    // entered (with their cache); without them the workflow lists directly.
    void SetRemotePane(std::function<void()> list, std::function<void()> show)
    {
        m_listRemote = std::move(list);
        m_showRemote = std::move(show);
    }
    // The first listing after a login that should start the queue (or
    // resume it after a drop): true when a run began.
    void SetQueueStarter(std::function<bool()> start) { m_startQueue = std::move(start); }

    SessionState State() const { return m_state; }
    void SetPrompt(IPrompt& prompt) { m_prompt = &prompt; }
    AfterLoginAction AfterLogin = AfterLoginAction::None;
    std::string CurrentSite;
    bool ConnectionDirty = true;
    bool IdleEnabled = false;   // the anti-idle menu check
    int TransferModePanel = 2;  // the mode the panel shows: 0 ASCII, 1 binary, 2 automatic
    TSessionOptions Session;
    const std::vector<std::string>& History() const { return m_history; }
    void ReloadHistory();

    // btnConnectClick: prepares and starts a connection from the fields (which
    // it rewrites as the server field is read). A prepared connect (a queue
    // file, a restored queue) keeps what is to happen after the login.
    void Connect(TQuickConnectFields& fields, bool prepared = false);
    void Disconnect();
    // Disconnects and connects again with the same settings; resumeQueue:
    // the first listing after the login resumes the queue (a hung or
    // stalled transfer).
    void Reconnect(bool resumeQueue = false);
    void Refresh();  // list the remote directory again
    void PlaySound(int sound, const std::string& wave)
    {
        if (sound != 0)
            Q_EMIT SoundRequested(sound, wave);
    }
    void StartList();  // the client's listing, nothing else
    // The refresh command: from Idle, state Refreshing and a fresh listing.
    bool UserRefresh();
    // A listing filled from the cache: finish as a listing from the server.
    void ListingFromCache();
    // Enter a remote directory (a name, or ".." for the parent) from Idle.
    bool ChangeRemoteDirectory(const std::string& name);
    void GoDisconnected();
    void GoIdle();
    // The idle count starts again and the keep-alive runs (while a file is
    // open in an editor).
    void RestartIdleTimer();
    // A long operation begins (a queue run's step): no idle count meanwhile.
    void SetBusy(SessionState s);
    void LogLine(const std::string& text, int colour);

    static constexpr const char* ProgramTitle = "Corvyne 2.7.5";

    // What happened, for every part of the window that shows or follows it.
Q_SIGNALS:
    void LineLogged(const std::string& text, int colour);
    void StatusShown(const std::string& text);   // first status panel
    void Status2Shown(const std::string& text);  // second status panel
    void CaptionShown(const std::string& caption);
    void LogCleared();
    void RemoteCleared();
    void ListingLine(const std::string& line);
    void ListingDone(bool success);
    void StateChanged();
    void HistoryChanged(const std::vector<std::string>& items);
    void DirectoryEntered();  // a change of directory ended
    // Server (login) or directory messages for the message window; closed
    // when all connections close.
    void MessagesArrived(bool serverMessages, const std::vector<std::string>& lines);
    void MessagesClosed();
    void SoundRequested(int sound, const std::string& wave);
    // A site's panes at connect: its local folder (empty: stay) and the two
    // panes' filters.
    void SitePanesChosen(const std::string& localDir, const std::string& localFilter, const std::string& remoteFilter);
    // A queue run's steps: a listing ended, or a change of directory failed,
    // while transferring; the same for a remote delete.
    void TransferListed();
    void TransferDirectoryFailed();
    void DeleteListed();
    void DeleteDirectoryFailed();
    // While transferring: the data connection stood, or the server announced
    // the incoming file's size; the line dropped in the middle of a file.
    void TransferInfo(::FtpInfo kind, const std::string& text);
    void TransferCut(bool upload);
    void TransferModeShown(int mode);                        // 0 ASCII, 1 binary, 2 automatic
    // The session is encrypted (TLS: version and cipher) or no longer.
    void EncryptionShown(bool encrypted, const std::string& description);
    void HomeBookmarkChanged(const std::string& directory);  // "<主目录>"; empty: none
    void SiteChosen();  // the site (CurrentSite, maybe none) is chosen: its bookmarks

private:
    bool m_continuingRun = false;  // a new login in the middle of a run: what it learnt stays
    void Prepare(TQuickConnectFields& fields);
    bool ApplySite(TQuickConnectFields& fields, std::string& startDirectory);
    void SetState(SessionState s);
    void ShowStatus(int code, const std::string& attempt = {});
    void FtpInfo(FtpInfo kind, const std::string& text);
    void FtpError(FtpError kind, const std::string& text);
    void CertificateOffered(const TCertificateInfo& certificate);
    void LoggedIn();
    void FtpQuit();
    void ListingFinished();
    void IdleTick();
    void ShowMessageBuffer(bool serverMessages, const std::string& text);
    void RestartTick();

    TFTPclient& m_ftp;
    TSettings& m_settings;
    TIniFile& m_settingsFile;
    TSiteDatabase& m_sites;
    IPrompt* m_prompt;
    std::function<void()> m_listRemote, m_showRemote;
    std::function<bool()> m_startQueue;
    SessionState m_state = SessionState::Disconnected;
    std::vector<std::string> m_history;
    std::vector<std::string> m_serverMessages;
    QTimer m_idleTimer;
    int m_idleCount = 0;
    QTimer m_restartTimer;
    int m_restartTicks = 0;
    uint32_t m_lastByteCount = 0;  // tick of the last "bytes received" status
    // Certificates trusted once in this run ("host:port fingerprint").
    std::set<std::string> m_trustedOnce;
};
