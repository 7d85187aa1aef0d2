#pragma once
// One run of the transfer queue: takes the head entry, moves it over the
// FTP client, removes it and goes on until the queue is empty or the user
// stops. Folders are expanded when they reach the head, so a run walks a
// tree depth first. Each step starts one client operation and returns; the
// client's event (directory entered, listing done, folder made, file
// received or stored) takes the next step.

#include "session/Connection.h"
#include "session/TransferPool.h"
#include "common/Prompt.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"
#include "transfer/TransferProgress.h"
#include "transfer/TransferQueue.h"
#include "transfer/TransferRules.h"

#include <QElapsedTimer>
#include <QObject>

#include <sys/types.h>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// A pane row as a run reads it.
// A name as the other side writes it: a server's name (its bytes) as the
// local UTF-8 name of its download, a local name as the server's bytes.
std::string TargetName(const TFTPclient& ftp, const std::string& name, bool download);

struct TPaneItem {
    std::string name;
    bool folder = false;
    int64_t size = -1;
    TListingDate date;
};

// Which entries of a listing become rows: the pane's filter and its links.
struct TRemoteRowRules {
    QString filter = QStringLiteral("*.*");
    bool filterFolders = false;  // folders must match the filter too
    bool showLinks = true;
};

// What a run needs of the window: the panes and the status line.
class IQueueHost {
public:
    virtual ~IQueueHost() = default;
    virtual std::string LocalDirectory() const = 0;  // ends with "/"
    // Makes dir (which exists) the local pane's folder and lists it.
    virtual void ShowLocalDirectory(const std::string& dir) = 0;
    // Lists the local pane's folder again soon: a burst of received files
    // costs one listing, not one per file.
    virtual void RefreshLocalSoon() { ShowLocalDirectory(LocalDirectory()); }
    virtual std::vector<TPaneItem> LocalRows() const = 0;   // without ".."
    // Another local folder's rows, as the local pane would show them (a run
    // that walks its folders off the panes).
    virtual std::vector<TPaneItem> LocalRowsOf(const std::string& dir) const;
    // Which listed remote entries a run takes, as the remote pane would show them.
    virtual TRemoteRowRules RemoteRowRules() const { return {}; }
    virtual std::vector<TPaneItem> RemoteRows() const = 0;  // without ".."
    // The first remote row of that name, letter case ignored.
    virtual std::optional<TPaneItem> FindRemoteRow(const std::string& name) const = 0;
    virtual std::string RemoteDirectory() const = 0;  // ends with "/"
    virtual void Status(const std::string& text) = 0;
    // After the run: close the window (completion actions that quit).
    virtual void CloseWindow() = 0;
};

// An entry a run gave up on, and why.
struct TFailedEntry {
    TQueueEntry Entry;
    std::string Reason;
};

// What the run does when it ends by itself.
enum class TCompletionAction : int { Idle = 0, Disconnect = 1, HangUp = 2, Quit = 3, PowerOff = 4, HangUpQuit = 5 };

// Powering the machine off, behind an interface that tests replace.
class IPowerBackend {
public:
    virtual ~IPowerBackend() = default;
    virtual bool PowerOff() = 0;  // true when the request was accepted
};

class TQueueRun : public QObject {
    Q_OBJECT

public:
    TQueueRun(TFTPclient& client, TConnectionWorkflow& workflow, TSettings& settings, TTransferQueue& queue,
              IQueueHost& host, IPrompt& prompt, QObject* parent = nullptr);

    void SetPrompt(IPrompt& prompt) { m_prompt = &prompt; }
    // The run's state: the browsing connection's, except while a run walks
    // its folders on transfer connections and leaves that one free.
    SessionState State() const { return m_detached ? m_detachedState : m_workflow.State(); }
    bool Detached() const { return m_detached; }
    // Transfer connections for the run's files ("MaxTransfers" above 1);
    // without, every file moves over the browsing connection.
    void SetPool(TTransferPool* pool);
    TTransferPool* Pool() const { return m_pool; }
    // Files on transfer connections back at the head of the queue, those
    // connections closed (the window closes: the queue is saved whole).
    void TakeBackInFlight();
    void SetPowerBackend(IPowerBackend* backend) { m_power = backend; }
    // The progress display, its hang and stall checks, the transfer log.
    void SetProgress(TTransferProgress* progress);
    // The failed-entries list changed (an entry failed, or it was cleared).
    std::function<void()> OnFailuresChanged;
    // After each finished file while a site is current.
    std::function<void(bool upload, int64_t bytes)> OnStatistics;
    // A folder made while no upload runs (the user's own command).
    std::function<void()> DirectoryCreatedElsewhere;
    // The run ended (the window puts its own title back).
    std::function<void()> OnFinished;

    // queTransferClick: from Idle with entries.
    bool TransferQueue();
    // After a login that should start or resume the queue: a run when
    // entries are queued.
    bool StartAfterLogin();
    void StartQueue();
    void ProcessQueueHead();
    void SkipQueueHead(int kind, const std::string& name);  // 0 file, 1 folder, 2 empty folder
    void RemoveQueueHead()
    {
        m_queue.RemoveHead();
        m_headRelogged = false;
    }
    void FinishQueue(bool returnHome);
    // One file by name (relative to the remote folder, or absolute) into the
    // local folder, outside the queue; the queued entries stay as they are.
    void ManualDownload(const std::string& remote);
    void Halt() { HaltRequested = true; }
    // btnAbortClick while transferring.
    void Abort();

    // From the connection workflow: a listing ended, or a change of
    // directory failed, while transferring.
    void Listed();
    void DirectoryFailed();

    std::string QueueStartLocalDir, QueueStartRemoteDir;
    TExistingAnswer ExistingFileAnswer = TExistingAnswer::Ask;
    bool DeleteAfterUpload = false;
    bool HangUpWhenDone = false;  // set by a site-queue file
    bool HaltRequested = false;
    bool ScriptRunning = false;
    bool NoUser = false;  // nobody answers questions (a script, QUIT=YES): decide as a script does
    bool SessionRenameRules = true;
    TCompletionAction CompletionAction = TCompletionAction::Idle;
    int64_t CurrentFileSize = 0;
    int Failures = 0;   // files that failed and errors logged, since the program started
    int Completed = 0;  // files moved whole, since the program started
    // The entries given up on since the list was last cleared, oldest first,
    // for the user to retry or clear.
    const std::vector<TFailedEntry>& FailedEntries() const { return m_failed; }
    // Failed entries back at the end of the queue (all when rows is empty),
    // and out of the list.
    void RetryFailed(const std::vector<size_t>& rows);
    void ClearFailed(const std::vector<size_t>& rows);
    // Folders deeper than this below an entry the user queued are skipped:
    // a server that lists a folder inside itself cannot lead a run on forever.
    static constexpr int MaxTreeDepth = 64;

private:
    // The local file a download writes: the name cleaned as the client
    // cleans it, and never a file this run wrote from another source.
    std::string localTarget(const std::string& path, const std::string& source);
    void processHead();
    void downloadHeadFile();
    void uploadHeadFile();
    void expandDownload();
    void expandUpload();
    bool refusedLocally() const;
    void fileDone(bool upload);
    void hung();
    void fileReceived();
    void fileStored();
    void directoryCreated();
    bool ensureLocalDirectory(const std::string& dir, const TQueueEntry& entry);
    // An entry given up on: logged, counted, kept in the failed list.
    void failed(const TQueueEntry& entry, const std::string& reason);
    bool reloginForTlsSession();
    // The site's transfer connections, else the preference's.
    int maxTransfers() const;
    // The file goes to a transfer connection (false: the browsing one moves it).
    bool poolTakes() const;
    // It cannot start yet (no free connection, or its name is being written):
    // the run waits for a transfer connection's file to end.
    bool waitForPool(const std::string& localPath, const std::string& remotePath);
    void handOff(TTransferJob job);
    void jobDone(const TTransferJob& job, const TJobResult& result);
    // A folder listed or made on a transfer connection (a detached run).
    void walked(const TTransferJob& job, const TJobResult& result);
    // The sides the run works on: the panes and the browsing connection, or,
    // detached, its own folders and the transfer connections.
    void setBusy(SessionState s);
    std::string remoteDir() const { return m_detached ? m_walkDir : m_host.RemoteDirectory(); }
    std::vector<TPaneItem> remoteRows() const { return m_detached ? m_walkRows : m_host.RemoteRows(); }
    std::optional<TPaneItem> findRemoteRow(const std::string& name) const;
    std::string localDir() const { return m_detached ? m_localDir : m_host.LocalDirectory(); }
    void showLocal(const std::string& dir);
    std::vector<TPaneItem> localRows() const
    {
        return m_detached ? m_host.LocalRowsOf(m_localDir) : m_host.LocalRows();
    }
    void enterRemote(const std::string& dir);
    void makeRemote(const std::string& dir);
    void folderJob(TJobKind kind, const std::string& dir);  // on a transfer connection
    std::string lastRefusal() const { return m_detached ? m_walkRefusal : m_ftp.LastRefusal(); }
    void walkRows(const TListingLines& lines);
    // No transfer connection logs in: the browsing connection walks and moves the rest.
    void attach();
    void reconnectAndGoOn();  // a new login, then the same run goes on
    void log(const std::string& text, int colour = lcNormal)
    {
        if (colour == lcError)
            ++Failures;
        m_workflow.LogLine(text, colour);
    }
    bool unsafeName(const std::string& name, const std::string& where);
    TFileAction askExisting(bool upload, const std::string& name, int64_t sourceSize, int64_t targetSize,
                            const TListingDate& remoteDate, const std::string& localPath);
    // Skip and Cancel end this file's step (false); the others go on.
    bool goOn(TFileAction action);
    bool skippedFolder(const TQueueEntry& head);
    // "~/..." from the folder the run began in.
    std::string fromRunStart(const std::string& remote) const;
    bool tooDeep(const TQueueEntry& head, const std::string& folder);
    // A listed folder's rows as entries one level below, unsafe names left out.
    std::vector<TQueueEntry> childEntries(const std::vector<TPaneItem>& rows, const std::string& source,
                                          const std::string& target, bool download, int depth);

    TFTPclient& m_ftp;
    TConnectionWorkflow& m_workflow;
    TSettings& m_settings;
    TTransferQueue& m_queue;
    IQueueHost& m_host;
    IPrompt* m_prompt;
    IPowerBackend* m_power = nullptr;
    TTransferProgress* m_progress = nullptr;
    std::string m_pendingDir;  // the remote folder an upload makes and enters
    bool m_inHead = false;     // inside ProcessQueueHead
    bool m_headAgain = false;  // the next head was asked for meanwhile
    bool m_manual = false;     // the file that moves is a manual download
    bool m_headRelogged = false;  // the head failed once for want of a TLS session
    bool m_runGoesOn = false;     // the next start after a login continues the run
    // Local files this run wrote, and the remote file each came from.
    std::unordered_map<std::string, std::string> m_written;
    std::vector<TFailedEntry> m_failed;
    // The real local folders (device, inode) this run uploaded: a link back
    // into one is not followed again.
    std::set<std::pair<dev_t, ino_t>> m_uploadedDirs;
    // This run's files that ended (moved, skipped or failed) and its failures.
    int m_runEnded = 0;
    std::vector<std::string> m_runFailed;
    TTransferPool* m_pool = nullptr;
    bool m_waitingForPool = false;          // the head waits for a transfer connection
    std::optional<bool> m_finishWhenPoolEnds;  // FinishQueue's returnHome, once the last file ends
    // Detached: started by the user with transfer connections, the run lists
    // and makes folders on them and never uses the browsing connection, so
    // the user browses while it runs.
    bool m_detached = false;
    SessionState m_detachedState = SessionState::Idle;
    std::string m_walkDir;               // the remote folder listed last, with its rows
    std::vector<TPaneItem> m_walkRows;
    std::unordered_map<std::string, size_t> m_walkIndex;  // exact name to row
    std::string m_walkRefusal;           // why a folder could not be entered
    std::string m_localDir;              // the local folder the run is in
    QElapsedTimer m_poolClock;  // since the run's first file went to a transfer connection
    int64_t m_poolBytes = 0;    // what its files that ended moved
    std::shared_ptr<TRateLimit> m_downloadLimit = std::make_shared<TRateLimit>();
    std::shared_ptr<TRateLimit> m_uploadLimit = std::make_shared<TRateLimit>();
};
