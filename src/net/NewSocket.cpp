#include "net/NewSocket.h"

#include "net/EventDispatch.h"
#include "net/SocketErrors.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <set>
#include <utility>

namespace {

constexpr size_t RecvBufferSize = 256 * 1024;
// Work done for one readiness notice at most; the level-triggered notice
// brings the rest, so a fast peer cannot hold the event loop for a whole file.
constexpr size_t MaxBytesPerNotice = 4 * 1024 * 1024;

int lastSocketCode()
{
    return SocketCodeFromErrno(errno);
}

// An IPv4 or IPv6 address (brackets allowed around IPv6); empty: any IPv4.
bool fillAddress(const std::string& host, uint16_t port, sockaddr_storage& storage, socklen_t& length)
{
    storage = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    if (host.empty()) {
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1)
        return true;
    std::string text = host;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    storage = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1;
}

// Errors of sendfile(2) that belong to the socket; anything else is the file's.
bool socketSideError(int err)
{
    switch (err) {
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case ENOBUFS:
        case ENOMEM:
            return true;
        default:
            return false;
    }
}

// An address as text: dotted IPv4, or IPv6 (an IPv4-mapped one as IPv4).
std::string addressText(const sockaddr_storage& storage)
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            in_addr v4{};
            std::memcpy(&v4, v6.sin6_addr.s6_addr + 12, 4);
            inet_ntop(AF_INET, &v4, buf, sizeof buf);
        } else {
            inet_ntop(AF_INET6, &v6.sin6_addr, buf, sizeof buf);
        }
        return buf;
    }
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(storage).sin_addr, buf, sizeof buf);
    return buf;
}

uint16_t portOf(const sockaddr_storage& storage)
{
    return ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
}

}  // namespace

namespace {
uint32_t ticksOf(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}
}  // namespace

uint32_t TickCount()
{
    return ticksOf(CLOCK_MONOTONIC);
}

uint32_t CoarseTickCount()
{
    return ticksOf(CLOCK_MONOTONIC_COARSE);
}

bool IsDottedAddress(const std::string& text)
{
    in_addr a{};
    return !text.empty() && inet_pton(AF_INET, text.c_str(), &a) == 1;
}

bool IsIPv6Address(const std::string& text)
{
    in6_addr a{};
    std::string bare = text;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    return !bare.empty() && inet_pton(AF_INET6, bare.c_str(), &a) == 1;
}

// A peer that closes while we write would otherwise kill the whole process:
// sendfile(2) cannot be told MSG_NOSIGNAL, so the signal is ignored for good
// (once, before the first socket) and EPIPE is handled as the error it is.
static void ignoreBrokenPipe()
{
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

TCustomCorvSocket::TCustomCorvSocket(QObject* owner) : QObject(owner)
{
    ignoreBrokenPipe();
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { GuardedDispatch([this] { OnTimerTick(); }); });
}

TCustomCorvSocket::~TCustomCorvSocket()
{
    OnError = nullptr;
    // Listeners of other events must not run during destruction either.
    OnLine = nullptr;
    OnStreamDone = nullptr;
    OnProgress = nullptr;
    OnClose = nullptr;
    Disconnect();
}

void TCustomCorvSocket::SetMode(TSocketMode mode)
{
    m_mode = mode;
    // A read notice that found nothing to do switched reading off; whatever
    // the new mode is may consume the waiting bytes.
    if (m_readNotifier && !m_listening && !m_connectPending)
        m_readNotifier->setEnabled(true);
}

std::string TCustomCorvSocket::ErrorText(int code)
{
    return SocketErrorText(code);
}

void TCustomCorvSocket::SocketError(int code, bool disconnectFirst, const char* operation)
{
    if (code == SocketCode::NoError || code == SocketCode::WouldBlock || code == SocketCode::NotSocket)
        return;
    QPointer<TCustomCorvSocket> alive(this);
    if (disconnectFirst)
        Disconnect();
    if (alive && OnError)
        OnError(this, code, std::string(operation) + ": " + ErrorText(code));
}

// ---------------------------------------------------------------- connect

void TCustomCorvSocket::Connect()
{
    if (Port == 0 || Host.empty())
        return;
    if (m_connecting || m_fd >= 0)
        Disconnect();
    m_connecting = true;
    m_socksResolving = false;
    m_socksGranted = false;
    m_tlsAfterSocks = false;
    StartTimeoutTimer();
    if (IsDottedAddress(Host) || (IsIPv6Address(Host) && SocksVersion == 0))
        OpenSocket();
    else
        ResolveHost(Host);
}

void TCustomCorvSocket::ResolveHost(const std::string& name)
{
    if (m_resolveId >= 0)
        QHostInfo::abortHostLookup(m_resolveId);
    m_resolveId = QHostInfo::lookupHost(QString::fromStdString(name), this, [this](const QHostInfo& info) {
        GuardedDispatch([&] { HostResolved(info); });
    });
    if (m_resolveId < 0)
        SocketError(SocketCode::NoRecovery, true, "ResolveHost");
}

void TCustomCorvSocket::HostResolved(const QHostInfo& info)
{
    m_resolveId = -1;
    int code = SocketCode::NoError;
    std::string address;
    if (info.error() == QHostInfo::HostNotFound)
        code = SocketCode::HostNotFound;
    else if (info.error() != QHostInfo::NoError)
        code = SocketCode::NoRecovery;
    else {
        // IPv4 first; IPv6 when the name has no IPv4 address (a SOCKS 4
        // request can carry only IPv4).
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                address = a.toString().toStdString();
                break;
            }
        }
        for (const QHostAddress& a : info.addresses())
            if (address.empty() && !m_socksResolving && a.protocol() == QAbstractSocket::IPv6Protocol &&
                a.scopeId().isEmpty())
                address = a.toString().toStdString();
        if (address.empty())
            code = SocketCode::NoData;
    }
    if (code != SocketCode::NoError) {
        SocketError(code, m_connecting, "HostResolved");
        return;
    }
    QPointer<TCustomCorvSocket> alive(this);
    if (OnResolved)
        OnResolved(this, address, m_connecting, info.hostName().toStdString());
    if (!alive || !m_connecting)
        return;
    if (m_socksResolving) {
        SocksDestHost = address;
        SendSocksRequest();
    } else {
        Host = address;
        OpenSocket();
    }
}

void TCustomCorvSocket::OpenSocket()
{
    sockaddr_storage addr{};
    socklen_t length = 0;
    const bool usable = fillAddress(Host, Port, addr, length);
    m_fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_fd = -1;
        SocketError(lastSocketCode(), true, "OpenSocket");
        return;
    }
    if (!usable) {
        SocketError(SocketCode::AddressNotAvailable, true, "OpenSocket[2]");
        return;
    }
    m_connectPending = true;
    CreateNotifiers(false);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 && errno != EINPROGRESS) {
        SocketError(lastSocketCode(), true, "OpenSocket[2]");
        return;
    }
    // Completion (or failure) arrives as a write notice.
}

// ---------------------------------------------------------------- listen / accept

bool TCustomCorvSocket::Listen()
{
    if (m_connecting || m_fd >= 0)
        return false;
    sockaddr_storage addr{};
    socklen_t length = 0;
    const bool usable = fillAddress(Host, Port, addr, length);
    m_fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_fd = -1;
        SocketError(lastSocketCode(), true, "Listen");
        return false;
    }
    m_listening = true;
    CreateNotifiers(true);
    int code = SocketCode::AddressNotAvailable;
    if (usable)
        code = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 ? 0 : lastSocketCode();
    if (code != 0) {
        SocketError(code, true, "Listen[2]");
        return false;
    }
    if (::listen(m_fd, 5) != 0) {
        Disconnect();
        return false;
    }
    return true;
}

bool TCustomCorvSocket::Accept(TCustomCorvSocket& listener, const std::string& requiredPeer, std::string* refusedPeer)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(listener.m_fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        SocketError(lastSocketCode(), true, "Accept");
        return false;
    }
    if (!requiredPeer.empty() && addressText(peer) != requiredPeer) {
        ::close(fd);
        if (refusedPeer)
            *refusedPeer = addressText(peer);
        return false;
    }
    if (m_fd >= 0 || m_connecting)
        Disconnect();
    m_fd = fd;
    m_socksGranted = true;  // a connection that came to us: no proxy in between
    m_tlsAfterSocks = false;
    Host = addressText(peer);
    CreateNotifiers(false);
    return true;
}

// ---------------------------------------------------------------- disconnect

void TCustomCorvSocket::Disconnect()
{
    StopTimeoutTimer();
    QPointer<TCustomCorvSocket> alive(this);
    if (m_mode == smLine && m_fd >= 0 && !m_listening && !m_connectPending && !m_noDrain) {
        // Deliver the complete lines still buffered; a listener that
        // disconnects from inside must not start this again.
        m_noDrain = true;
        while (alive && m_fd >= 0 && ReadLines() > 0) {
        }
        if (!alive)
            return;
    }
    if (m_recvFd >= 0) {
        CloseReceiveFile();
    } else if (m_sendFd >= 0) {
        CloseSendFile();
        if (OnStreamDone)
            OnStreamDone(this);
    }
    if (!alive)
        return;
    m_connecting = false;
    m_socksResolving = false;
    m_connectPending = false;
    if (m_resolveId >= 0) {
        QHostInfo::abortHostLookup(m_resolveId);
        m_resolveId = -1;
    }
    if (m_fd >= 0) {
        DropNotifiers();
        const bool lingering = dropTls();
        int fd = m_fd;
        m_fd = -1;
        m_listening = false;
        m_pendingLine.clear();
        m_lineStart = 0;
        m_socksReply.clear();
        m_noDrain = false;
        if (!lingering && ::close(fd) != 0)
            SocketError(lastSocketCode(), false, "Disconnect");
    }
    m_noDrain = false;
}

void TCustomCorvSocket::Reset()
{
    if (m_fd >= 0 && !m_listening) {
        linger lg{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        m_noDrain = true;
        m_tlsNoShutdown = true;  // broken off: no close_notify says "complete"
    }
    Disconnect();
}

// ---------------------------------------------------------------- addresses

std::string TCustomCorvSocket::LocalAddress() const
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return "127.0.0.1";
    return addressText(addr);
}

int TCustomCorvSocket::LocalPort() const
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    return portOf(addr);
}

// ---------------------------------------------------------------- raw reads and writes

int64_t TCustomCorvSocket::BytesAvailable() const
{
    if (m_fd < 0)
        return -1;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

int TCustomCorvSocket::RecvBuffer(char* buffer, int size)
{
    if (m_fd < 0 || size <= 0)
        return -1;
    int code = 0;
    const long n = streamRead(buffer, static_cast<size_t>(size), code);
    if (n < 0) {
        SocketError(code, true, "RecvBuffer");
        return -1;
    }
    return static_cast<int>(n);
}

int TCustomCorvSocket::GetBuffer(char* buffer, int size)
{
    if (size == -1)
        return static_cast<int>(BytesAvailable());
    if (m_fd < 0 || size <= 0)
        return -1;
    int code = 0;
    const long n = streamRead(buffer, static_cast<size_t>(size), code);
    if (n < 0) {
        SocketError(code, true, "GetBuffer");
        return -1;
    }
    return static_cast<int>(n);
}

int TCustomCorvSocket::SendBuf(const char* data, int length)
{
    if (m_fd < 0 || length <= 0)
        return 0;
    int code = 0;
    const long n = streamWrite(data, static_cast<size_t>(length), code);
    if (n < 0) {
        SocketError(code, true, "SendBuf");
        return -1;
    }
    return static_cast<int>(n);
}

int TCustomCorvSocket::SendUrgent(const char* data, int length)
{
    // Urgent bytes would land inside the TLS records and break the stream.
    if (m_fd < 0 || m_ssl)
        return 0;
    ssize_t n = ::send(m_fd, data, static_cast<size_t>(length), MSG_OOB | MSG_NOSIGNAL);
    if (n < 0) {
        SocketError(lastSocketCode(), true, "SendBuf");
        return -1;
    }
    return static_cast<int>(n);
}

std::string TCustomCorvSocket::PeerAddress() const
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return addressText(addr);
}

int TCustomCorvSocket::SendLine(const std::string& text)
{
    std::string line = text + "\r\n";
    return SendBuf(line.data(), static_cast<int>(line.size()));
}

// ---------------------------------------------------------------- files

bool TCustomCorvSocket::CanOpenFile(const std::string& name, bool forWriting)
{
    int fd = ::open(name.c_str(), (forWriting ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool TCustomCorvSocket::OpenReceiveFile(const std::string& name, int64_t offset, bool text)
{
    CloseRecvFile();
    m_recvText = text;
    m_recvCR = false;
    // Never written through a link: the target is the path itself.
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::lseek(fd, offset, SEEK_SET) < 0) {
        ::close(fd);
        return false;
    }
    m_recvFd = fd;
    if (m_readNotifier && !m_listening && !m_connectPending)
        m_readNotifier->setEnabled(true);
    return true;
}

bool TCustomCorvSocket::StartSendFile(const std::string& name, int64_t offset)
{
    if (m_fd < 0 || m_sendFd >= 0)
        return false;
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::lseek(fd, offset, SEEK_SET) < 0) {
        ::close(fd);
        return false;
    }
    m_sendFd = fd;
    m_sendChunk.clear();
    m_sendPos = 0;
    m_sendByKernel = true;
    SendDataBuffer();
    return true;
}

void TCustomCorvSocket::CloseRecvFile()
{
    if (m_recvFd >= 0 && m_recvText && m_recvCR) {
        // A CR at the very end was no line end: it is the file's.
        m_recvCR = false;
        while (::write(m_recvFd, "\r", 1) < 0 && errno == EINTR) {
        }
    }
    if (m_recvFd >= 0) {
        ::close(m_recvFd);
        m_recvFd = -1;
    }
}

void TCustomCorvSocket::CloseSendFile()
{
    if (m_sendFd >= 0) {
        ::close(m_sendFd);
        m_sendFd = -1;
    }
    m_sendChunk.clear();
    m_sendPos = 0;
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void TCustomCorvSocket::FileFailed(int err)
{
    CloseRecvFile();
    CloseSendFile();
    if (OnFileError)
        OnFileError(this, err);
}

void TCustomCorvSocket::CloseReceiveFile()
{
    CloseRecvFile();
    if (OnStreamDone)
        OnStreamDone(this);
}

void TCustomCorvSocket::StopSending(bool disconnect)
{
    CloseSendFile();
    QPointer<TCustomCorvSocket> alive(this);
    if (disconnect)
        Disconnect();
    if (alive && OnStreamDone)
        OnStreamDone(this);
}

// ---------------------------------------------------------------- timer

void TCustomCorvSocket::StartTimeoutTimer()
{
    if (Timeout <= 0)
        return;
    m_timer->stop();
    m_tickCount = 0;
    m_timer->start();
}

void TCustomCorvSocket::StopTimeoutTimer()
{
    m_timer->stop();
}

void TCustomCorvSocket::OnTimerTick()
{
    if (++m_tickCount < Timeout)
        return;
    QPointer<TCustomCorvSocket> alive(this);
    Disconnect();
    if (alive && OnTimeout)
        OnTimeout(this);
}

// ---------------------------------------------------------------- notices

void TCustomCorvSocket::CreateNotifiers(bool listening)
{
    DropNotifiers();
    // The notifiers of the last connection serve the next: a run of small
    // files opens a data connection per file, and each notifier made, armed
    // or dropped wakes the event loop once more.
    auto take = [this](QSocketNotifier*& spare, QSocketNotifier::Type type, void (TCustomCorvSocket::*handler)()) {
        QSocketNotifier* n = std::exchange(spare, nullptr);
        if (!n) {
            n = new QSocketNotifier(type, this);
            connect(n, &QSocketNotifier::activated, this,
                    [this, handler] { GuardedDispatch([this, handler] { (this->*handler)(); }); });
        }
        n->setSocket(m_fd);  // disabled until armed below
        return n;
    };
    m_readNotifier = take(m_spareRead, QSocketNotifier::Read, &TCustomCorvSocket::OnReadReady);
    if (listening) {
        m_readNotifier->setEnabled(true);
        return;
    }
    m_writeNotifier = take(m_spareWrite, QSocketNotifier::Write, &TCustomCorvSocket::OnWriteReady);
    // While the connect is pending only its completion (a write notice) matters;
    // afterwards the write notice is wanted only when a send would block.
    m_readNotifier->setEnabled(!m_connectPending);
    m_writeNotifier->setEnabled(m_connectPending);
}

void TCustomCorvSocket::DropNotifiers()
{
    // The notifiers may be the very objects whose signal is being handled:
    // they are disabled and kept for the next connection, never deleted here.
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_spareRead = std::exchange(m_readNotifier, nullptr);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_spareWrite = std::exchange(m_writeNotifier, nullptr);
    }
}

void TCustomCorvSocket::OnReadReady()
{
    if (m_fd < 0)
        return;
    if (m_listening) {
        SocketNotice(evAccept, 0);
        return;
    }
    if (m_ssl) {
        tlsReadReady();
        return;
    }
    if (BytesAvailable() > 0) {
        SocketNotice(evRead, 0);
        return;
    }
    char probe = 0;
    ssize_t n = ::recv(m_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        SocketNotice(evRead, 0);
    } else if (n == 0) {
        // Orderly close by the peer after all its data: report once.
        m_readNotifier->setEnabled(false);
        SocketNotice(evClose, 0);
    } else if (errno != EAGAIN && errno != EINTR) {
        m_readNotifier->setEnabled(false);
        SocketNotice(evClose, lastSocketCode());
    }
}

void TCustomCorvSocket::OnWriteReady()
{
    if (m_fd < 0)
        return;
    if (m_connectPending) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err == EINPROGRESS || err == EALREADY)
            return;
        m_connectPending = false;
        m_writeNotifier->setEnabled(false);
        m_readNotifier->setEnabled(true);
        SocketNotice(evConnect, SocketCodeFromErrno(err));
        return;
    }
    if (m_tlsHandshaking) {
        tlsHandshakeStep();
        return;
    }
    // While a file is being sent the write notice stays on (the pump pauses
    // only on would-block); otherwise it is wanted once.
    if (m_sendFd < 0)
        m_writeNotifier->setEnabled(false);
    SocketNotice(evWrite, 0);
}

void TCustomCorvSocket::SocketNotice(int event, int errorCode)
{
    if (errorCode != 0) {
        SocketError(errorCode, true, "SocketMsgProc");
        return;
    }
    StopTimeoutTimer();
    LastActivity = TickCount();
    QPointer<TCustomCorvSocket> alive(this);
    switch (event) {
        case evRead:
            switch (m_mode) {
                case smLine:
                    ReadLines();
                    break;
                case smStream:
                    RecvStreamSegment();
                    break;
                case smSocks:
                    ReadSocks();
                    break;
            }
            break;
        case evWrite:
            if (m_mode == smStream && m_sendFd >= 0)
                SendDataBuffer();
            break;
        case evAccept:
            if (OnAccept)
                OnAccept(this, m_fd);
            break;
        case evConnect:
            m_pendingLine.clear();
            m_lineStart = 0;
            m_connecting = false;
            if (OnConnect)
                OnConnect(this, m_fd);
            if (alive && m_fd >= 0 && SocksVersion != 0) {
                m_socksResolving = true;
                if (SocksVersion == 1)
                    SendSocksRequest();
            }
            break;
        case evClose:
            if (m_mode == smLine)
                FlushPartialLine();
            if (alive && OnClose)
                OnClose(this);
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- line reader

int TCustomCorvSocket::ReadLines()
{
    if (m_ssl)
        return readTlsLines();
    int64_t avail = BytesAvailable();
    if (avail <= 0)
        return static_cast<int>(avail);
    // Bounded per call; the level-triggered notice brings the rest. One
    // buffer for every read: FeedLineBytes copies the bytes out at once, so
    // a read made from inside a listener cannot spoil them.
    if (m_recvBuffer.size() < RecvBufferSize)
        m_recvBuffer.resize(RecvBufferSize);
    ssize_t n = ::recv(m_fd, m_recvBuffer.data(), std::min(static_cast<size_t>(avail), m_recvBuffer.size()), 0);
    if (n < 0) {
        int code = lastSocketCode();
        if (code != SocketCode::WouldBlock)
            SocketError(code, true, "ReadLines");
        return -1;
    }
    FeedLineBytes(m_recvBuffer.data(), static_cast<size_t>(n));
    return static_cast<int>(n);
}

void TCustomCorvSocket::FeedLineBytes(const char* data, size_t length)
{
    m_pendingLine.append(data, length);
    QPointer<TCustomCorvSocket> alive(this);
    // Lines are handed out from an offset and the buffer is compacted once
    // at the end: erasing each line from the front would move the rest of a
    // large read again for every line. A listener may disconnect (which
    // empties the buffer) or feed more lines from inside OnLine.
    struct Depth {
        QPointer<TCustomCorvSocket> s;
        explicit Depth(TCustomCorvSocket* sock) : s(sock) { ++s->m_feedDepth; }
        ~Depth()
        {
            if (s)
                --s->m_feedDepth;
        }
    };
    {
        Depth depth(this);
        // One string for every line of this call (a listener gets it for the
        // length of its call only): no allocation per line of a large listing.
        std::string line;
        while (true) {
            const size_t lf = m_pendingLine.find('\n', m_lineStart);
            if (lf == std::string::npos)
                break;
            const size_t end = (lf > m_lineStart && m_pendingLine[lf - 1] == '\r') ? lf - 1 : lf;
            if (end - m_lineStart > MaxLineLength) {
                // Too long whether it came in one read or many: the same
                // answer whatever the timing.
                m_pendingLine.clear();
                m_lineStart = 0;
                m_noDrain = true;
                SocketError(SocketCode::MessageTooLong, true, "ReadLines");
                return;
            }
            line.assign(m_pendingLine, m_lineStart, end - m_lineStart);
            m_lineStart = lf + 1;
            if (OnLine) {
                OnLine(this, line);
                if (!alive)
                    return;
            }
        }
    }
    if (m_feedDepth == 0) {
        m_pendingLine.erase(0, m_lineStart);
        m_lineStart = 0;
        if (m_pendingLine.size() > MaxLineLength) {
            m_pendingLine.clear();
            m_noDrain = true;  // the rest of the stream is not worth reading
            SocketError(SocketCode::MessageTooLong, true, "ReadLines");
        }
    }
}

// The peer closed after a last line without a line end: it is a line too.
void TCustomCorvSocket::FlushPartialLine()
{
    if (m_feedDepth > 0 || m_lineStart >= m_pendingLine.size())
        return;
    std::string line = m_pendingLine.substr(m_lineStart);
    m_pendingLine.clear();
    m_lineStart = 0;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (OnLine)
        OnLine(this, line);
}

// ---------------------------------------------------------------- SOCKS 4

void TCustomCorvSocket::SendSocksRequest()
{
    m_connecting = true;
    if (!IsDottedAddress(SocksDestHost)) {
        ResolveHost(SocksDestHost);
        return;
    }
    in_addr dest{};
    inet_pton(AF_INET, SocksDestHost.c_str(), &dest);
    unsigned char request[9];
    request[0] = 4;
    request[1] = 1;
    request[2] = static_cast<unsigned char>((SocksPort >> 8) & 0xff);
    request[3] = static_cast<unsigned char>(SocksPort & 0xff);
    std::memcpy(request + 4, &dest.s_addr, 4);  // already in network order
    request[8] = 0;
    m_savedMode = m_mode;
    m_mode = smSocks;
    m_socksReply.clear();
    SendBuf(reinterpret_cast<const char*>(request), sizeof request);
}

void TCustomCorvSocket::ReadSocks()
{
    // The reply is 8 bytes; collect them even if they come in pieces.
    char buf[8];
    ssize_t n = ::recv(m_fd, buf, 8 - m_socksReply.size(), 0);
    if (n < 0) {
        SocketError(lastSocketCode(), true, "ReadSocks");
        return;
    }
    m_socksReply.append(buf, static_cast<size_t>(n));
    if (m_socksReply.size() < 8)
        return;
    m_socksResolving = false;
    m_connecting = false;
    const bool granted = static_cast<unsigned char>(m_socksReply[1]) == 90;
    m_socksReply.clear();
    m_mode = m_savedMode;
    if (!granted) {
        SocketError(SocketCode::SocksRefused, true, "ReadSocks");
        return;
    }
    m_socksGranted = true;
    // TLS asked for while the proxy was still being asked starts now, with
    // the server at the other end.
    if (m_tlsAfterSocks) {
        m_tlsAfterSocks = false;
        StartTls(m_tlsAfterSocksHost, m_tlsAfterSocksResume);
    }
}

// ---------------------------------------------------------------- file pumps

void TCustomCorvSocket::RecvStreamSegment()
{
    if (m_recvFd < 0) {
        if (m_ssl) {
            // TLS with nothing to receive: what comes is TLS's own (TLS 1.3's
            // session tickets for the next data connection); read, or the
            // close would find it unread and reset the connection.
            char scratch[4096];
            int code = 0;
            while (streamRead(scratch, sizeof scratch, code) > 0) {
            }
            return;
        }
        // Nothing consumes the bytes now; stop read notices until a receive
        // file or another mode is set, or the loop would spin.
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        return;
    }
    if (m_recvBuffer.size() < RecvBufferSize)
        m_recvBuffer.resize(RecvBufferSize);
    QPointer<TCustomCorvSocket> alive(this);
    ssize_t got = 0;
    size_t total = 0;
    do {
        size_t want = m_recvBuffer.size();
        if (!m_ssl) {
            const int64_t avail = BytesAvailable();
            if (avail < 0)
                break;
            want = std::min(static_cast<size_t>(avail), want);
        }
        size_t granted = want;
        if (RateLimit && want > 0) {
            granted = static_cast<size_t>(RateLimit->Take(static_cast<int64_t>(want)));
            if (granted == 0) {
                rateWait(false);
                return;
            }
            want = granted;
        }
        int code = 0;
        got = streamRead(m_recvBuffer.data(), want, code);
        // TLS hands out a record (16 KiB at most) a read: the records already
        // here are gathered, so the file gets one write per buffer, not one
        // per record. A broken stream behind them fails the transfer once
        // the records before it (authentic) are written.
        bool brokenBehind = false;
        while (m_ssl && got > 0 && static_cast<size_t>(got) + 16384 <= want) {
            int more = 0;
            const long n = streamRead(m_recvBuffer.data() + got, want - static_cast<size_t>(got), more);
            brokenBehind = n < 0 && more == SocketCode::TlsFailed;
            if (n <= 0)
                break;
            got += n;
        }
        if (RateLimit && want > 0)
            RateLimit->GiveBack(static_cast<int64_t>(want) - std::max<int64_t>(got, 0));
        if (got < 0) {
            std::string op = "RecvStreamSegment (" + std::to_string(want) + ")";
            if (code == SocketCode::TlsFailed)
                tlsFailed(op.c_str());
            else if (code != SocketCode::WouldBlock)
                SocketError(code, true, op.c_str());
            return;
        }
        if (got > 0) {
            const char* p = m_recvBuffer.data();
            size_t left = static_cast<size_t>(got);
            if (m_recvText) {
                // CR LF becomes LF; a CR before anything else stays.
                m_textBuffer.resize(left + 1);
                size_t n = 0;
                for (size_t i = 0; i < left; ++i) {
                    const char c = p[i];
                    if (m_recvCR && c != '\n')
                        m_textBuffer[n++] = '\r';
                    m_recvCR = c == '\r';
                    if (!m_recvCR)
                        m_textBuffer[n++] = c;
                }
                p = m_textBuffer.data();
                left = n;
            }
            while (left > 0) {
                ssize_t w = ::write(m_recvFd, p, left);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0) {
                    // What was received and not written would be lost
                    // silently: the transfer cannot go on.
                    FileFailed(w < 0 ? errno : ENOSPC);
                    return;
                }
                p += w;
                left -= static_cast<size_t>(w);
            }
            if (OnProgress)
                OnProgress(this, got);
            if (!alive || m_fd < 0 || m_recvFd < 0)
                return;
            if (brokenBehind) {
                tlsFailed("RecvStreamSegment");
                return;
            }
            total += static_cast<size_t>(got);
        }
    } while (got > 0 && total < MaxBytesPerNotice);
}

// The shared budget is spent: no notices until it is back, then the pump
// goes on by itself (TLS may hold bytes no notice would announce).
void TCustomCorvSocket::rateWait(bool sending)
{
    QSocketNotifier* n = sending ? m_writeNotifier : m_readNotifier;
    if (n)
        n->setEnabled(false);
    if (m_rateWaiting)
        return;
    m_rateWaiting = true;
    QPointer<TCustomCorvSocket> alive(this);
    QTimer::singleShot(RateLimit ? RateLimit->WaitMs() : 1, this, [this, alive, sending] {
        if (!alive)
            return;
        m_rateWaiting = false;
        if (m_fd < 0)
            return;
        if (sending) {
            if (m_sendFd >= 0)
                SendDataBuffer();
        } else if (m_recvFd >= 0) {
            if (m_readNotifier)
                m_readNotifier->setEnabled(true);
            RecvStreamSegment();
        }
    });
}

void TCustomCorvSocket::SendDataBuffer()
{
    // The file goes out once TLS stands (the handshake's end enables the
    // write notice): an empty file must not end the connection mid-handshake.
    if (m_ssl && m_tlsHandshaking)
        return;
    QPointer<TCustomCorvSocket> alive(this);
    int error = 0;
    size_t total = 0;
    while (m_sendFd >= 0 && m_fd >= 0) {
        if (total >= MaxBytesPerNotice) {
            // Yield to the loop; the write notice continues the pump.
            error = SocketCode::WouldBlock;
            break;
        }
        if (m_sendByKernel && !m_ssl) {
            // The kernel moves the next chunk from the file straight to the
            // socket: the same 32 KiB steps without a copy through memory.
            size_t chunk = SendChunkSize;
            if (RateLimit) {
                chunk = static_cast<size_t>(RateLimit->Take(static_cast<int64_t>(chunk)));
                if (chunk == 0) {
                    rateWait(true);
                    return;
                }
            }
            ssize_t s = ::sendfile(m_fd, m_sendFd, nullptr, chunk);
            if (RateLimit)
                RateLimit->GiveBack(static_cast<int64_t>(chunk) - std::max<ssize_t>(s, 0));
            if (s < 0 && (errno == EINVAL || errno == ENOSYS) && total == 0) {
                m_sendByKernel = false;  // this file cannot be sent that way
                continue;
            }
            if (s == 0) {
                StopSending(true);
                return;
            }
            if (s < 0) {
                if (errno != EAGAIN && !socketSideError(errno)) {
                    FileFailed(errno);
                    return;
                }
                error = lastSocketCode();
                break;
            }
            total += static_cast<size_t>(s);
            if (OnProgress)
                OnProgress(this, s);
            if (!alive)
                return;
            continue;
        }
        if (m_sendPos >= m_sendChunk.size()) {
            m_sendChunk.resize(SendChunkSize);
            ssize_t r = ::read(m_sendFd, m_sendChunk.data(), SendChunkSize);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                FileFailed(errno);
                return;
            }
            if (r == 0) {
                StopSending(true);
                return;
            }
            m_sendChunk.resize(static_cast<size_t>(r));
            m_sendPos = 0;
        }
        size_t length = m_sendChunk.size() - m_sendPos;
        if (RateLimit) {
            length = static_cast<size_t>(RateLimit->Take(static_cast<int64_t>(length)));
            if (length == 0) {
                rateWait(true);
                return;
            }
        }
        int code = 0;
        const long s = streamWrite(m_sendChunk.data() + m_sendPos, length, code);
        if (RateLimit)
            RateLimit->GiveBack(static_cast<int64_t>(length) - std::max<long>(s, 0));
        if (s < 0) {
            error = code;
            break;
        }
        m_sendPos += static_cast<size_t>(s);
        total += static_cast<size_t>(s);
        if (OnProgress)
            OnProgress(this, s);
        if (!alive)
            return;
    }
    if (error == SocketCode::WouldBlock) {
        if (m_writeNotifier && !m_writeNotifier->isEnabled())
            m_writeNotifier->setEnabled(true);
        return;
    }
    if (error == SocketCode::TlsFailed)
        tlsFailed("SendDataBuffer");
    else if (error != 0)
        SocketError(error, true, "SendDataBuffer");
}

// ---------------------------------------------------------------- TLS

void TCustomCorvSocket::StartTls(const std::string& host, const TCustomCorvSocket* resumeFrom)
{
    if (m_fd < 0 || m_ssl)
        return;
    if (SocksVersion != 0 && !m_socksGranted) {
        // The proxy has not yet connected us to the server.
        m_tlsAfterSocks = true;
        m_tlsAfterSocksHost = host;
        m_tlsAfterSocksResume = resumeFrom;
        return;
    }
    m_ssl = SSL_new(Tls::ClientContext());
    SSL_set_fd(m_ssl, m_fd);
    if (TlsUpTo12)
        SSL_set_max_proto_version(m_ssl, TLS1_2_VERSION);
    if (resumeFrom && resumeFrom->m_ssl) {
        // Only a session of the same version resumes: a TLS 1.2 session
        // offered where TLS 1.3 is agreed starts a new one.
        SSL_set_min_proto_version(m_ssl, SSL_version(resumeFrom->m_ssl));
        SSL_set_max_proto_version(m_ssl, SSL_version(resumeFrom->m_ssl));
    }
    if (IsDottedAddress(host) || IsIPv6Address(host)) {
        const std::string bare = host.front() == '[' ? host.substr(1, host.size() - 2) : host;
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), bare.c_str());
    } else {
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
    }
    // The newest unused session of the family: a TLS 1.3 ticket may serve
    // once, and each data connection brings the next. Without one, the
    // resumed connection's own (a TLS 1.2 session, or a ticket the server
    // takes again).
    m_sessions = resumeFrom && resumeFrom->m_sessions ? resumeFrom->m_sessions
                                                      : std::make_shared<Tls::TSessionFamily>();
    Tls::SetSessionFamily(m_ssl, m_sessions.get());
    if (resumeFrom) {
        if (SSL_SESSION* session = m_sessions->TakeNewest()) {
            SSL_set_session(m_ssl, session);
            SSL_SESSION_free(session);
        } else if (resumeFrom->m_ssl) {
            if (SSL_SESSION* current = SSL_get1_session(resumeFrom->m_ssl)) {
                SSL_set_session(m_ssl, current);
                SSL_SESSION_free(current);
            }
        }
    }
    SSL_set_connect_state(m_ssl);
    // Bytes that came in the clear behind the line that started TLS are
    // someone's injection, never a reply that TLS protected: dropped.
    m_pendingLine.clear();
    m_lineStart = 0;
    m_tlsHandshaking = true;
    m_tlsEof = m_tlsCleanEnd = m_tlsEofReported = m_tlsNoShutdown = false;
    m_tlsError.clear();
    m_peerCert = TCertificateInfo();
    StartTimeoutTimer();  // a handshake that never ends is a time-out
    tlsHandshakeStep();
}

void TCustomCorvSocket::tlsHandshakeStep()
{
    ERR_clear_error();
    const int r = SSL_do_handshake(m_ssl);
    if (r == 1) {
        m_tlsHandshaking = false;
        StopTimeoutTimer();
        LastActivity = TickCount();
        if (X509* cert = SSL_get1_peer_certificate(m_ssl)) {
            Tls::Describe(cert, m_peerCert);
            m_peerCert.VerifyResult = SSL_get_verify_result(m_ssl);
            X509_free(cert);
        } else {
            m_peerCert.VerifyResult = X509_V_ERR_UNSPECIFIED;
        }
        m_peerCert.VerifyText = m_peerCert.VerifyResult == X509_V_OK
                                    ? std::string()
                                    : X509_verify_cert_error_string(m_peerCert.VerifyResult);
        if (m_writeNotifier)
            m_writeNotifier->setEnabled(m_sendFd >= 0);
        if (m_readNotifier)
            m_readNotifier->setEnabled(true);
        if (OnTlsReady)
            OnTlsReady(this);
        return;
    }
    switch (SSL_get_error(m_ssl, r)) {
        case SSL_ERROR_WANT_READ:
            m_readNotifier->setEnabled(true);
            m_writeNotifier->setEnabled(false);
            return;
        case SSL_ERROR_WANT_WRITE:
            m_writeNotifier->setEnabled(true);
            return;
        default:
            m_tlsError = Tls::LastErrorText();
            tlsFailed("TLS handshake");
    }
}

void TCustomCorvSocket::tlsReadReady()
{
    if (m_tlsHandshaking) {
        tlsHandshakeStep();
        return;
    }
    QPointer<TCustomCorvSocket> alive(this);
    SocketNotice(evRead, 0);
    if (!alive || m_fd < 0 || !m_ssl)
        return;
    if (m_tlsEof) {
        if (!m_tlsEofReported) {
            m_tlsEofReported = true;
            if (m_readNotifier)
                m_readNotifier->setEnabled(false);
            SocketNotice(evClose, 0);
        }
        return;
    }
    // Records OpenSSL read ahead and holds bring no notice of their own.
    if (SSL_has_pending(m_ssl) == 1 && m_readNotifier && m_readNotifier->isEnabled())
        QTimer::singleShot(0, this, [this] {
            if (m_ssl && m_fd >= 0)
                GuardedDispatch([this] { tlsReadReady(); });
        });
}

int TCustomCorvSocket::readTlsLines()
{
    if (m_recvBuffer.size() < RecvBufferSize)
        m_recvBuffer.resize(RecvBufferSize);
    // TLS gives a record (16 KiB at most) a read: gather a buffer's worth
    // before the lines are handed out.
    size_t total = 0;
    int code = 0;
    while (total < m_recvBuffer.size()) {
        const long n = streamRead(m_recvBuffer.data() + total, m_recvBuffer.size() - total, code);
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    if (total > 0)
        FeedLineBytes(m_recvBuffer.data(), total);
    if (total == 0 && code == SocketCode::TlsFailed) {
        tlsFailed("ReadLines");
        return -1;
    }
    if (total == 0 && code != 0 && code != SocketCode::WouldBlock) {
        SocketError(code, true, "ReadLines");
        return -1;
    }
    return total > 0 ? static_cast<int>(total) : (code == SocketCode::WouldBlock ? -1 : 0);
}

long TCustomCorvSocket::streamRead(char* buffer, size_t size, int& code)
{
    code = 0;
    if (!m_ssl) {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n < 0)
            code = lastSocketCode();
        return n;
    }
    if (m_tlsEof)
        return 0;
    ERR_clear_error();
    errno = 0;
    const int n = SSL_read(m_ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (n > 0)
        return n;
    const int error = SSL_get_error(m_ssl, n);
    switch (error) {
        case SSL_ERROR_WANT_READ:
            code = SocketCode::WouldBlock;
            return -1;
        case SSL_ERROR_WANT_WRITE:
            if (m_writeNotifier)
                m_writeNotifier->setEnabled(true);
            code = SocketCode::WouldBlock;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            m_tlsEof = m_tlsCleanEnd = true;
            return 0;
        default:
            break;
    }
    // The connection closed without close_notify: the end of the stream,
    // but not one that proves the data whole.
    if ((error == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) ||
        (error == SSL_ERROR_SYSCALL && errno == 0)) {
        ERR_clear_error();
        m_tlsEof = true;
        return 0;
    }
    if (error == SSL_ERROR_SYSCALL && errno != 0) {
        code = lastSocketCode();
        return -1;
    }
    m_tlsError = Tls::LastErrorText();
    code = SocketCode::TlsFailed;
    return -1;
}

long TCustomCorvSocket::streamWrite(const char* data, size_t size, int& code)
{
    code = 0;
    if (!m_ssl) {
        const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (n < 0)
            code = lastSocketCode();
        return n;
    }
    if (m_tlsHandshaking) {
        code = SocketCode::WouldBlock;
        return -1;
    }
    ERR_clear_error();
    errno = 0;
    const int n = SSL_write(m_ssl, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (n > 0)
        return n;
    switch (SSL_get_error(m_ssl, n)) {
        case SSL_ERROR_WANT_WRITE:
        case SSL_ERROR_WANT_READ:
            code = SocketCode::WouldBlock;
            return -1;
        case SSL_ERROR_SYSCALL:
            if (errno != 0) {
                code = lastSocketCode();
                return -1;
            }
            break;
        default:
            break;
    }
    m_tlsError = Tls::LastErrorText();
    code = SocketCode::TlsFailed;
    return -1;
}

void TCustomCorvSocket::tlsFailed(const char* operation)
{
    QPointer<TCustomCorvSocket> alive(this);
    const std::string detail = m_tlsError.empty() ? std::string() : " (" + m_tlsError + ")";
    m_tlsNoShutdown = true;
    Disconnect();
    if (alive && OnError)
        OnError(this, SocketCode::TlsFailed,
                std::string(operation) + ": " + ErrorText(SocketCode::TlsFailed) + detail);
}

namespace {
// A TLS connection ended by this side: close_notify sent and the sending
// half shut, it reads (and drops) what the peer still sends until the peer
// closes or a time passes, and only then closes. Closed at once, a socket
// that then receives anything (TLS 1.3 session tickets sent late, the
// peer's own close_notify) answers with a reset, and a reset makes the peer
// drop what it had not read yet: the end of an upload.
class TLingeringClose : public QObject {
public:
    TLingeringClose(int fd, SSL* ssl, std::shared_ptr<Tls::TSessionFamily> family)
        : m_fd(fd), m_ssl(ssl), m_family(std::move(family)), m_notifier(fd, QSocketNotifier::Read)
    {
        all().insert(this);
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [this] { readSome(); });
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { finish(); });
        m_timer.start(10000);
    }
    ~TLingeringClose() override
    {
        all().erase(this);
        SSL_free(m_ssl);
        ::close(m_fd);
    }
    // Closes whatever still lingers (the program ends).
    static void closeAll()
    {
        while (!all().empty())
            delete *all().begin();
    }

private:
    static std::set<TLingeringClose*>& all()
    {
        static std::set<TLingeringClose*> set;
        return set;
    }
    void readSome()
    {
        char scratch[4096];
        while (true) {
            ERR_clear_error();
            const int n = SSL_read(m_ssl, scratch, sizeof scratch);
            if (n > 0)
                continue;
            if (SSL_get_error(m_ssl, n) != SSL_ERROR_WANT_READ)
                finish();  // the peer closed, or the stream broke: done
            ERR_clear_error();
            return;
        }
    }
    void finish()
    {
        m_notifier.setEnabled(false);
        m_timer.stop();
        deleteLater();
    }
    int m_fd;
    SSL* m_ssl;
    std::shared_ptr<Tls::TSessionFamily> m_family;  // a ticket sent as the server closes still serves
    QSocketNotifier m_notifier;
    QTimer m_timer;
};
}  // namespace

bool TCustomCorvSocket::dropTls()
{
    if (!m_ssl)
        return false;
    // close_notify tells the peer the stream is whole. What TLS sent and
    // nobody read goes first, then the socket lingers until the peer closes.
    bool lingering = false;
    if (!m_tlsHandshaking && !m_tlsNoShutdown) {
        char scratch[4096];
        int code = 0;
        while (!m_tlsEof && streamRead(scratch, sizeof scratch, code) > 0) {
        }
        SSL_shutdown(m_ssl);
        if (!m_tlsEof && QCoreApplication::instance()) {
            // What still lingers when the application ends is closed then,
            // while Qt is there to take its notifiers down.
            static const bool cleanup = [] {
                qAddPostRoutine(TLingeringClose::closeAll);
                return true;
            }();
            (void)cleanup;
            ::shutdown(m_fd, SHUT_WR);
            new TLingeringClose(m_fd, m_ssl, m_sessions);
            lingering = true;
        }
    }
    if (!lingering)
        SSL_free(m_ssl);
    m_ssl = nullptr;
    m_tlsHandshaking = false;
    m_tlsNoShutdown = false;
    m_sessions.reset();
    return lingering;
}

void TCustomCorvSocket::ForgetTlsSessions()
{
    if (!m_ssl || !m_sessions)
        return;
    m_sessions->Forget(m_ssl);
    Tls::SetSessionFamily(m_ssl, nullptr);
}

bool TCustomCorvSocket::TlsResumed() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}

std::string TCustomCorvSocket::TlsDescription() const
{
    if (!m_ssl)
        return {};
    return std::string(SSL_get_version(m_ssl)) + ", " + SSL_get_cipher_name(m_ssl);
}
