#pragma once
// An SFTP session over libssh. libssh's calls block, so the session runs on
// a thread of its own: the window's thread queues operations and hears their
// ends as queued signals, never waiting on the network. Questions (an unknown
// host key, a key's passphrase) are asked on the window's thread while the
// session's thread waits for the answer.

#include "common/Prompt.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TSftpLogin {
    std::string Host;
    int Port = 22;
    std::string User;
    std::string Password;  // empty: none offered
    // Keys (id_ed25519, id_ecdsa, id_rsa) and known_hosts are read here;
    // empty: ~/.ssh.
    std::string SshDir;
    bool UseAgent = true;  // SSH_AUTH_SOCK's agent, when there is one
    int TimeoutSeconds = 30;
};

// How the server's host key compares with known_hosts.
enum class THostKeyState : uint8_t { Known, Unknown, Changed };

struct THostKey {
    std::string Host;
    int Port = 22;
    std::string Type;    // "ssh-ed25519", ...
    std::string Sha256;  // "SHA256:..." as OpenSSH prints it
    THostKeyState State = THostKeyState::Unknown;
};

enum class TSftpOp : uint8_t { Connect, List, Download, Upload, MakeDir, RemoveDir, Remove, Rename, Chmod, Size, Enter };

// A folder's entry as the server's attributes give it.
struct TSftpEntry {
    std::string Name;  // the server's bytes
    bool IsDir = false;
    bool IsLink = false;
    int64_t Size = -1;         // -1: not given
    int64_t ModifiedUtc = -1;  // seconds since 1970, UTC; -1: not given
    int Mode = -1;             // the permission bits' octal digits (640); -1: not given
    std::string Owner, Group;
};

// How an operation ended.
struct TSftpResult {
    TSftpOp Op = TSftpOp::Connect;
    bool Success = false;
    std::string Error;  // the server's or libssh's words, when it failed
    std::string Path;   // the operation's (absolute) remote path; Connect: the home folder; Enter: the folder
    std::vector<TSftpEntry> Entries;    // List
    int64_t Bytes = 0;                  // Download/Upload: moved by this operation; Size: the size
    bool Lost = false;                  // failed because the session is gone: a drop, not a refusal
};

class TSftpSession : public QObject {
    Q_OBJECT

public:
    explicit TSftpSession(QObject* parent = nullptr);
    ~TSftpSession() override;

    // Asked on the window's thread. True: trust the key from now on (it is
    // added to known_hosts). Not set: an unknown key is refused.
    std::function<bool(const THostKey& key)> AskHostKey;
    // A passphrase or a keyboard-interactive answer; nullopt: cancelled.
    std::function<std::optional<std::string>(const std::string& prompt, bool echo)> AskSecret;

    // Both questions through the prompt interface (a window's dialogs, an
    // unattended run's refusals).
    void AskThrough(IPrompt& prompt);

    void Connect(const TSftpLogin& login);
    // The folder's entries (without "." and ".."), names as the server's bytes.
    void List(const std::string& path);
    // A speed limit, asked on the session's thread before each block moves:
    // how many of the bytes asked for may move now (the rest are asked for
    // again shortly). Empty: no limit.
    using TPace = std::function<int64_t(int64_t bytes)>;
    // offset above 0: go on from there (the local file keeps its first bytes).
    // size: the file's size as listed (above 0), which spares asking the server for it.
    void Download(const std::string& remote, const std::string& local, int64_t offset = 0, TPace pace = {},
                  int64_t size = -1);
    void Upload(const std::string& local, const std::string& remote, int64_t offset = 0, TPace pace = {});
    void MakeDir(const std::string& path);
    void RemoveDir(const std::string& path);
    void Remove(const std::string& path);
    void Rename(const std::string& from, const std::string& to);
    void Chmod(const std::string& path, int mode);
    void Size(const std::string& path);
    // The folder path names, made absolute and canonical; fails unless it is a folder.
    void Enter(const std::string& path);
    // Ends the file that moves now (its operation fails); later ones still run.
    void Abort() { m_abort = true; }
    // The session closes; queued operations are dropped.
    void Disconnect();

    bool LoggedIn() const { return m_loggedIn; }
    // The server's home folder once logged in (absolute).
    std::string Home() const;
    // Bytes moved by the operation that runs now (any thread).
    int64_t Moved() const { return m_moved; }

    // Requests in flight per download (OpenSSH's sftp keeps 64 of 32 KiB).
    static constexpr int ReadsInFlight = 32;
    static constexpr uint32_t ReadSize = 64 * 1024;
    // Uploads write one block at a time (libssh 0.10 has no asynchronous
    // write), so blocks are as large as the server takes: OpenSSH's takes
    // messages of 256 KiB; any server takes 32 KiB.
    static constexpr uint32_t WriteSize = 240 * 1024;
    static constexpr uint32_t SmallWriteSize = 32 * 1024;

Q_SIGNALS:
    void Done(const TSftpResult& result);
    void LogLine(const QString& text, bool error);

private:
    struct Session;
    void queue(std::function<void()> job);
    void worker();
    void finish(TSftpResult r);
    void log(const std::string& text, bool error = false);
    std::optional<std::string> ask(const std::string& prompt, bool echo);
    bool askHostKey(const THostKey& key);
    TSftpResult connect(const TSftpLogin& login);
    bool checkHostKey(const TSftpLogin& login, std::string& error);
    bool authenticate(const TSftpLogin& login, std::string& error);
    TSftpResult list(const std::string& path);
    TSftpResult download(const std::string& remote, const std::string& local, int64_t offset, const TPace& pace,
                         int64_t size);
    TSftpResult upload(const std::string& local, const std::string& remote, int64_t offset, const TPace& pace);
    // Waits until pace lets bytes move; false when aborted meanwhile.
    bool paced(const TPace& pace, int64_t bytes);
    std::string error() const;
    void close();

    std::unique_ptr<Session> m_s;  // used on the session's thread only
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    bool m_running = false;  // a job runs on the thread (under m_lock)
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_loggedIn{false};
    std::atomic<int64_t> m_moved{0};
    mutable std::mutex m_homeLock;
    std::string m_home;
};

Q_DECLARE_METATYPE(TSftpResult)
