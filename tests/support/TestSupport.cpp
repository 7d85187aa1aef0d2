#include <stdexcept>
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>
#include <QFile>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

namespace {
// A socket bound to a free loopback port (throws when there is none).
int boundLoopbackSocket(sockaddr_in& a)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free loopback port");
    return fd;
}
}  // namespace

BlackholePort::BlackholePort()
{
    sockaddr_in a;
    m_fd = boundLoopbackSocket(a);
    ::listen(m_fd, 0);
    m_port = ntohs(a.sin_port);
    for (int i = 0; i < 3; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        m_fillers.push_back(f);
    }
}

BlackholePort::~BlackholePort()
{
    for (int f : m_fillers)
        ::close(f);
    ::close(m_fd);
}

quint16 ClosedLoopbackPort()
{
    sockaddr_in a;
    ::close(boundLoopbackSocket(a));  // bound, never listened: the port is free and closed
    return ntohs(a.sin_port);
}

RefusingPort::RefusingPort()
{
    sockaddr_in a;
    m_fd = boundLoopbackSocket(a);
    m_port = ntohs(a.sin_port);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

std::string PassiveReplyFor(quint16 port)
{
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff) +
           ")";
}

bool WaitFor(const std::function<bool()>& cond, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void WriteTestFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(data), data.size()) << path.toStdString();
}

std::string ReadTestFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}

FtpRecorder::FtpRecorder(TFTPclient& client)
{
    client.OnFtpInfo = [this](TFTPclient*, FtpInfo info, const std::string& text) {
        events.push_back(std::to_string(info) + "\t" + text);
        kinds.push_back(info);
        if (info == fiCommandSent)
            commands.push_back(text);
    };
    client.OnFtpError = [this](TFTPclient*, FtpError error, const std::string& text) {
        events.push_back(std::to_string(error) + "\t" + text);
        kinds.push_back(error);
    };
    client.OnLoggedIn = [this](TFTPclient* c) {
        ++loggedIn;
        loggedInSuccess = c->Success();
    };
    client.OnFtpQuit = [this](TFTPclient*) { ++quit; };
    for (TFTPclient::Notify* event :
         {&client.OnDirectoryChanged, &client.OnDirectoryCreated, &client.OnDirectoryDeleted, &client.OnFileDeleted,
          &client.OnFileReceived, &client.OnFileStored, &client.OnListingDone, &client.OnFileRenamed,
          &client.OnFileCHMOD, &client.OnRawCommand})
        *event = [this](TFTPclient* c) {
            ++done;
            doneSuccess = c->Success();
        };
}

bool FtpRecorder::has(int kind) const
{
    return count(kind) > 0;
}

bool FtpRecorder::has(int kind, const std::string& text) const
{
    return std::find(events.begin(), events.end(), std::to_string(kind) + "\t" + text) != events.end();
}

int FtpRecorder::count(int kind) const
{
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

std::vector<int> FtpRecorder::flow() const
{
    std::vector<int> out;
    for (int k : kinds)
        if (k != fiReplyLine && (k < fiMultiLineFirst || k > fiMultiLineInner))
            out.push_back(k);
    return out;
}

std::string FtpRecorder::dump() const
{
    std::string out;
    for (const auto& e : events)
        out += e + "\n";
    return out;
}

SmallDisk::SmallDisk()
{
    mounted = QProcess::execute(QStringLiteral("mount"),
                                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                 QStringLiteral("size=1m"), QStringLiteral("tmpfs"), dir.path()}) == 0;
}

SmallDisk::~SmallDisk()
{
    QDir::setCurrent(QDir::rootPath());  // a window may have made the folder the process's current one
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {dir.path()});
}

QByteArray FileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}
