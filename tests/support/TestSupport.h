#pragma once
#include "ftp/Ftp.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

// A free loopback port, for a server of the test's own to listen on.
quint16 ClosedLoopbackPort();
// A loopback port that refuses connections for as long as this lives: bound
// and never listened on, so no other socket (not even a client's own
// ephemeral port, which would connect to itself) can take it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

// "227 Entering Passive Mode (127,0,0,1,hi,lo)" for a loopback port.
std::string PassiveReplyFor(quint16 port);

// A file of the test written whole (not being able to is a test failure),
// and read whole ("<missing>" when it cannot be read).
void WriteTestFile(const QString& path, const QByteArray& data);
std::string ReadTestFile(const QString& path);

// Runs the event loop until cond() holds or ms milliseconds have passed;
// returns cond().
bool WaitFor(const std::function<bool()>& cond, int ms = 10000);

// A file system of 1 MiB (tmpfs) mounted on a temporary folder, to fill up;
// mounted is false where the tests may not mount (not root).
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    SmallDisk();
    ~SmallDisk();
};

// A loopback port whose connects never complete (a listener with a full
// accept queue drops further SYNs). Closed with the object.
class BlackholePort {
public:
    BlackholePort();
    ~BlackholePort();
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_fillers;
};

// Records what a TFTPclient reports: every information and error event as
// "KIND\tTEXT", the login, quit and operation events, and sent commands.
struct FtpRecorder {
    explicit FtpRecorder(TFTPclient& client);
    std::vector<std::string> events;    // "KIND\tTEXT" for info and error
    std::vector<std::string> commands;  // texts of information 5
    std::vector<int> kinds;             // kinds in order
    int loggedIn = 0, quit = 0;
    bool loggedInSuccess = false;
    // Operation events (transfers, listings, file and directory commands):
    // how many came, and whether the last one succeeded.
    int done = 0;
    bool doneSuccess = false;

    bool has(int kind) const;
    bool has(int kind, const std::string& text) const;
    int count(int kind) const;
    // Kinds in order, without reply lines (4) and multi-line markers (24-26).
    std::vector<int> flow() const;
    std::string dump() const;
};

// The SHA-256 of a file's content in hex; "<missing>" when it cannot be read.
QByteArray FileSha256(const QString& path);

// size bytes of a pattern that differs with seed.
inline QByteArray pattern(int size, uint32_t seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(((static_cast<uint32_t>(i) + seed) * 7919u) >> 5);
    return data;
}
