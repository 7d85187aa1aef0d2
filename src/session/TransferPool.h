#pragma once
// Transfer connections: more logins to the browsing connection's server,
// each moving one file at a time, so several files move at once while the
// browsing connection walks folders. A run hands a file over once its rules
// are decided (name, resume, file exists); the pool logs in on demand up to
// its limit, learns a lower limit from a server that refuses another
// connection, and gives a file whose connection dropped to another one
// (resumed where it can be).

#include "ftp/Ftp.h"
#include "ftp/Parser.h"
#include "transfer/TransferQueue.h"

#include <QObject>

class QTimer;

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What a transfer connection is asked to do: move a file, or, for a run
// that walks its folders off the browsing connection, list or make a folder.
enum class TJobKind : uint8_t { File, ListFolder, MakeFolder };

// A file handed to a transfer connection, with every decision made.
struct TTransferJob {
    TJobKind Kind = TJobKind::File;
    TQueueEntry Entry;        // as queued: for the failed list and the saved queue
    bool Upload = false;
    std::string RemotePath;   // absolute, the server's bytes (a folder's for ListFolder and MakeFolder)
    std::string LocalPath;
    bool Resume = false;      // download: go on from the local file's end
    int64_t ResumePos = 0;    // upload: the server's size to go on from
    int64_t Size = 0;         // the expected size; 0 unknown
    TTransferType Mode = BinaryTransfer;
    bool AskFileTime = false;      // download: "MDTM" once whole
    int64_t UploadTime = 0;        // upload: the time to set once whole; 0 none
    TListingDate ListedDate;       // download: the listing's date of the file
    bool ViaTemporaryName = false; // upload: under a hidden name, renamed at the end
    bool InScript = false;
    int Attempts = 0;              // connections it was on so far
    bool Entered = false;          // ListFolder: the folder was entered (its listing may still fail)
};

// How a job ended.
struct TJobResult {
    bool Success = false;
    std::string Reason;        // the server's refusal or the client's error, when it failed
    int64_t Bytes = 0;
    uint32_t Milliseconds = 0;
    int64_t ReceivedTime = -1; // download: the server's time of the file ("MDTM"), -1 none
    int Connection = 0;        // 1-based number of the transfer connection
    TListingLines Lines;       // ListFolder: the folder's listing
};

// A running file, for the queue list.
struct TRunningFile {
    const TTransferJob* Job = nullptr;
    int Connection = 0;
    int64_t Bytes = 0;       // moved so far in this attempt
    uint32_t Milliseconds = 0;
    int ControlPort = 0;     // the connection's own port, as the server sees it
};

class TTransferPool : public QObject {
    Q_OBJECT

public:
    explicit TTransferPool(QObject* parent = nullptr);
    ~TTransferPool() override;

    // A run starts: connections log in as login does, at most limit at once
    // (1 to 10, and no more than the server took before). Connections of
    // another server or login are closed.
    void Begin(const TFTPclient& login, int limit);
    // Watching the connections' files, as the browsing connection's are
    // watched: data that stops for packetTimeout seconds (stallProtection)
    // is a dropped connection; a final reply that does not come hangMs after
    // the data ended counts the file as done.
    void Watch(bool stallProtection, int packetTimeout, int hangMs);
    // The limit in force (lowered when the server refused a connection).
    int Limit() const { return m_limit; }
    // A job may start now: a logged-in connection is free, or another may be opened.
    bool HasFree() const;
    // Jobs running or waiting for a connection.
    bool Busy() const;
    // Files wait their turn; a folder job goes before them (the run waits for it).
    void Start(TTransferJob job);
    // Every running job is aborted; each ends (failed) through OnJobDone.
    void AbortAll();
    // The connections log out (the run ended: the server's slots are freed).
    void Close();
    std::vector<TRunningFile> Running() const;
    // Entries handed over and not ended: the queue to save when the window closes.
    std::vector<TQueueEntry> InFlight() const;
    // A job writes this local file or this remote one now: another file of
    // the same name waits for it.
    bool Touches(const std::string& localPath, const std::string& remotePath) const;

    std::function<void(const TTransferJob& job, const TJobResult& result)> OnJobDone;
    // Jobs no connection can take (the server refused every new login): the run moves them itself.
    std::function<void(std::vector<TTransferJob> jobs)> OnJobsReturned;
    std::function<void(const std::string& text, int colour)> OnLog;

    // A file whose connection dropped is tried on this many connections.
    static constexpr int MaxAttempts = 3;

private:
    struct Worker;
    Worker* freeWorker() const;
    Worker* byNumber(int number) const;
    Worker* openWorker();
    void run(Worker& w);
    void loginEnded(Worker& w, bool success);
    void jobEnded(Worker& w);
    void connectionLost(Worker& w);
    void dispatch();
    void remove(Worker& w);
    void log(const std::string& text, int colour);
    void reportRefusal();
    void watchTick();

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::deque<TTransferJob> m_waiting;  // no connection took them yet
    const TFTPclient* m_login = nullptr;
    std::string m_loginKey;  // server, port and user the connections belong to
    int m_limit = 1;
    int m_serverLimit = 10;  // what the server showed it takes, for the session
    std::string m_refusal;   // the server's words, logged once the limit settles
    bool m_aborting = false; // AbortAll: no job is tried again elsewhere
    bool m_tlsUpTo12 = false; // the server ran out of TLS 1.3 tickets: new connections use TLS 1.2
    QTimer* m_watch = nullptr;
    bool m_stallProtection = false;
    int m_packetTimeout = 60;
    int m_hangMs = 3000;
    int m_nextNumber = 1;
};
