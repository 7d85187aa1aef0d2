// TCustomCorvSocket against real peers on loopback (Qt sockets in the test,
// dante for SOCKS 4).
#include "RealServers.h"
#include "TestSupport.h"
#include "net/EventDispatch.h"
#include "net/NewSocket.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Peer {
    QTcpServer server;
    QTcpSocket* socket = nullptr;
    Peer()
    {
        server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] { socket = server.nextPendingConnection(); });
    }
    quint16 port() const { return server.serverPort(); }
    bool waitConnected()
    {
        return WaitFor([this] { return socket != nullptr; });
    }
};

struct Events {
    std::vector<std::string> log;  // event names in order
    std::vector<std::string> lines;
    std::vector<std::pair<int, std::string>> errors;
    int64_t progress = 0;
    int streamDone = 0;
    std::string resolved;

    explicit Events(TCustomCorvSocket& s)
    {
        s.OnResolved = [this](TCustomCorvSocket*, const std::string& a, bool, const std::string&) {
            resolved = a;
            log.push_back("resolved");
        };
        s.OnConnect = [this](TCustomCorvSocket*, int) { log.push_back("connect"); };
        s.OnLine = [this](TCustomCorvSocket*, const std::string& l) { lines.push_back(l); };
        s.OnClose = [this](TCustomCorvSocket*) { log.push_back("close"); };
        s.OnTimeout = [this](TCustomCorvSocket*) { log.push_back("timeout"); };
        s.OnError = [this](TCustomCorvSocket*, int code, const std::string& text) {
            errors.emplace_back(code, text);
            log.push_back("error");
        };
        s.OnProgress = [this](TCustomCorvSocket*, int64_t n) { progress += n; };
        s.OnStreamDone = [this](TCustomCorvSocket*) { ++streamDone; };
        s.OnAccept = [this](TCustomCorvSocket*, int) { log.push_back("accept"); };
    }
    bool saw(const std::string& name) const { return std::find(log.begin(), log.end(), name) != log.end(); }
};

// Connects s to the peer and waits until both sides stand.
bool connectTo(Peer& peer, TCustomCorvSocket& s, Events& ev, TSocketMode mode)
{
    s.Host = "127.0.0.1";
    s.Port = peer.port();
    s.SetMode(mode);
    s.Connect();
    return peer.waitConnected() && WaitFor([&] { return ev.saw("connect"); });
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((static_cast<unsigned>(i) * 131u + static_cast<unsigned>(i) / 4096u) & 0xffu);
    return data;
}

}  // namespace

TEST(Socket, ConnectWithoutPortOrHostDoesNothing)
{
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = 0;
    s.Connect();
    s.Host.clear();
    s.Port = 21;
    s.Connect();
    QCoreApplication::processEvents();
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.IsConnecting());
    EXPECT_TRUE(ev.log.empty());
}

TEST(Socket, DottedAddressConnectsWithoutResolving)
{
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = peer.port();
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("connect"); }));
    EXPECT_EQ(ev.log, std::vector<std::string>{"connect"});
    EXPECT_TRUE(s.IsConnected());
    EXPECT_EQ(s.LocalAddress(), "127.0.0.1");
    EXPECT_GT(s.LocalPort(), 0);
    EXPECT_NE(s.LastActivity, 0u);
}

TEST(Socket, NameIsResolvedBeforeConnect)
{
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "localhost";
    s.Port = peer.port();
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("connect") || ev.saw("error"); }));
    EXPECT_EQ(ev.log, (std::vector<std::string>{"resolved", "connect"}));
    EXPECT_EQ(ev.resolved, "127.0.0.1");
    EXPECT_EQ(s.Host, "127.0.0.1");
}

TEST(Socket, UnresolvableNameReportsHostNotFound)
{
    TCustomCorvSocket s;
    Events ev(s);
    // Not a valid host name: rejected by the resolver without any query.
    s.Host = "no such host";
    s.Port = 21;
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("error"); }));
    EXPECT_EQ(ev.errors.front(), std::make_pair(11001, std::string("HostResolved: 主机没找到")));
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.IsConnecting());
}

TEST(Socket, RefusedConnectReportsErrorAndCloses)
{
    const RefusingPort refusing;
    const quint16 port = refusing.port();
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = port;
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("error"); }));
    EXPECT_EQ(ev.errors.front(), std::make_pair(10061, std::string("SocketMsgProc: 连接被拒绝")));
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(ev.saw("connect"));
}

TEST(Socket, LineReaderSplitsOnLineFeedAndDeliversUnterminatedTailAtClose)
{
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smLine));
    peer.socket->write("a\r\nb\nx\ry\r\r\n");
    ASSERT_TRUE(WaitFor([&] { return ev.lines.size() == 3; }));
    EXPECT_EQ(ev.lines, (std::vector<std::string>{"a", "b", "x\ry\r"}));
    // Split across writes: the pending part waits for its line feed.
    peer.socket->write("par");
    peer.socket->flush();
    ASSERT_TRUE(WaitFor([&] { return s.BytesAvailable() == 0; }));
    QCoreApplication::processEvents();
    peer.socket->write("t\nc");
    peer.socket->flush();
    ASSERT_TRUE(WaitFor([&] { return ev.lines.size() == 4; }));
    EXPECT_EQ(ev.lines.back(), "part");
    QCoreApplication::processEvents();
    EXPECT_EQ(ev.lines.size(), 4u);  // "c" waits for its line feed...
    peer.socket->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("close"); }));
    s.Disconnect();
    ASSERT_EQ(ev.lines.size(), 5u);  // ...or for the end of the stream
    EXPECT_EQ(ev.lines.back(), "c");
}

TEST(Socket, DisconnectDeliversBufferedCompleteLines)
{
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smLine));
    peer.socket->write("one\ntwo\nthr");
    peer.socket->flush();
    ASSERT_TRUE(WaitFor([&] { return s.BytesAvailable() == 11; }));
    // No event processing in between: Disconnect itself reads what is there.
    s.Disconnect();
    EXPECT_EQ(ev.lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(s.IsConnected());
}

TEST(Socket, OverlongLineIsAProtocolErrorNotUnboundedMemory)
{
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smLine));
    peer.socket->write("ok\n");
    peer.socket->write(QByteArray(TCustomCorvSocket::MaxLineLength + 10, 'x'));
    ASSERT_TRUE(WaitFor([&] { return ev.saw("error"); }));
    EXPECT_EQ(ev.lines, std::vector<std::string>{"ok"});
    EXPECT_EQ(ev.errors.front(), std::make_pair(10040, std::string("ReadLines: 信息太长")));
    EXPECT_FALSE(s.IsConnected());
}

TEST(Socket, ConnectPhaseTimeoutClosesAndReports)
{
    BlackholePort hole;
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = hole.port();
    s.Timeout = 1;
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("timeout") || ev.saw("connect"); }, 5000));
    EXPECT_EQ(ev.log, std::vector<std::string>{"timeout"});
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.IsConnecting());
}

TEST(Socket, AcceptFromAnotherAddressIsRefused)
{
    TCustomCorvSocket listener;
    Events lev(listener);
    listener.Host = "127.0.0.1";
    ASSERT_TRUE(listener.Listen());
    // A stranger on another loopback address comes first.
    QTcpSocket stranger;
    stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")));
    stranger.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(listener.LocalPort()));
    ASSERT_TRUE(WaitFor([&] { return lev.saw("accept"); }));
    TCustomCorvSocket data;
    EXPECT_FALSE(data.Accept(listener, "127.0.0.1"));
    EXPECT_FALSE(data.IsConnected());
    ASSERT_TRUE(WaitFor([&] { return stranger.state() == QAbstractSocket::UnconnectedState; }));
    // The listener still waits for the right peer.
    lev.log.clear();
    QTcpSocket server;
    server.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(listener.LocalPort()));
    ASSERT_TRUE(WaitFor([&] { return lev.saw("accept"); }));
    EXPECT_TRUE(data.Accept(listener, "127.0.0.1"));
    EXPECT_EQ(data.Host, "127.0.0.1");
}

TEST(Socket, ListenAcceptAndExchange)
{
    TCustomCorvSocket listener;
    Events lev(listener);
    listener.Host = "127.0.0.1";
    listener.Port = 0;
    ASSERT_TRUE(listener.Listen());
    EXPECT_FALSE(listener.Listen());  // already open: false, nothing changes
    EXPECT_TRUE(listener.IsConnected());
    const int port = listener.LocalPort();
    ASSERT_GT(port, 0);

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    ASSERT_TRUE(WaitFor([&] { return lev.saw("accept"); }));
    TCustomCorvSocket accepted;
    Events aev(accepted);
    ASSERT_TRUE(accepted.Accept(listener));
    EXPECT_EQ(accepted.Host, "127.0.0.1");
    client.write("hello\r\n");
    ASSERT_TRUE(WaitFor([&] { return !aev.lines.empty(); }));
    EXPECT_EQ(aev.lines.front(), "hello");
    EXPECT_EQ(accepted.SendLine("back"), 6);
    ASSERT_TRUE(WaitFor([&] { return client.canReadLine(); }));
    EXPECT_EQ(client.readLine(), QByteArray("back\r\n"));
    client.disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return aev.saw("close"); }));
}

TEST(Socket, ListenOnForeignAddressFails)
{
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "192.0.2.1";  // documentation range: never a local address
    s.Port = 0;
    EXPECT_FALSE(s.Listen());
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors.front(), std::make_pair(10049, std::string("Listen[2]: 地址不可用")));
    EXPECT_FALSE(s.IsConnected());
    EXPECT_EQ(s.LocalAddress(), "127.0.0.1");
    EXPECT_EQ(s.LocalPort(), -1);
}

TEST(Socket, ClosedSocketCallsAreHarmless)
{
    TCustomCorvSocket s;
    char buf[4];
    EXPECT_EQ(s.BytesAvailable(), -1);
    EXPECT_EQ(s.RecvBuffer(buf, 4), -1);
    EXPECT_EQ(s.SendBuf("x", 1), 0);
    EXPECT_FALSE(s.StartSendFile("/etc/hostname", 0));
    s.Disconnect();
    s.Disconnect();
    EXPECT_FALSE(s.IsConnected());
}

class SendPump : public ::testing::TestWithParam<int> {};

TEST_P(SendPump, SendsWholeFileThenDisconnectsOnce)
{
    const int size = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("src.bin"));
    const QByteArray data = pattern(size);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smStream));
    QByteArray received;
    bool peerClosed = false;
    QObject::connect(peer.socket, &QTcpSocket::readyRead, [&] { received += peer.socket->readAll(); });
    QObject::connect(peer.socket, &QTcpSocket::disconnected, [&] { peerClosed = true; });
    ASSERT_TRUE(s.StartSendFile(path.toStdString(), 0));
    ASSERT_TRUE(WaitFor([&] { return peerClosed; }, 30000));
    received += peer.socket->readAll();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
    EXPECT_EQ(ev.progress, size);
    EXPECT_EQ(ev.streamDone, 1);
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(s.SendFileOpen());
}

// Empty, exactly two chunks, and large enough to fill the socket buffers so
// the pump pauses on would-block and resumes on the write notice.
INSTANTIATE_TEST_SUITE_P(Sizes, SendPump, ::testing::Values(0, 2 * 32768, 100000, 24 * 1024 * 1024));

TEST(Socket, SendFileFromOffset)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("src.bin"));
    const QByteArray data = pattern(70000);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smStream));
    QByteArray received;
    bool closed = false;
    QObject::connect(peer.socket, &QTcpSocket::readyRead, [&] { received += peer.socket->readAll(); });
    QObject::connect(peer.socket, &QTcpSocket::disconnected, [&] { closed = true; });
    EXPECT_FALSE(s.StartSendFile(dir.filePath(QStringLiteral("missing")).toStdString(), 0));
    ASSERT_TRUE(s.StartSendFile(path.toStdString(), 1000));
    EXPECT_FALSE(s.StartSendFile(path.toStdString(), 0));  // one send file at a time
    ASSERT_TRUE(WaitFor([&] { return closed; }));
    received += peer.socket->readAll();
    EXPECT_TRUE(received == data.mid(1000));
}

TEST(Socket, ReceiveFileAtOffsetThenPeerClose)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("dst.bin")).toStdString();
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("HEADxxxx");
    }
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smStream));
    ASSERT_TRUE(s.OpenReceiveFile(path, 4));
    const QByteArray data = pattern(3 * 1024 * 1024);
    peer.socket->write(data);
    peer.socket->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("close"); }, 30000));
    s.Disconnect();  // closes the receive file
    EXPECT_EQ(ev.streamDone, 1);
    EXPECT_EQ(ev.progress, data.size());
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == QByteArray("HEAD") + data);
    EXPECT_FALSE(s.OpenReceiveFile(dir.filePath(QStringLiteral("no/such/dir/f")).toStdString(), 0));
    EXPECT_FALSE(s.ReceiveFileOpen());
}

TEST(Socket, StreamModeWithoutReceiveFileWaitsForOne)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("late.bin")).toStdString();
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    ASSERT_TRUE(connectTo(peer, s, ev, smStream));
    peer.socket->write("early bytes");
    peer.socket->flush();
    ASSERT_TRUE(WaitFor([&] { return s.BytesAvailable() == 11; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(ev.progress, 0);  // nothing read without a receive file
    ASSERT_TRUE(s.OpenReceiveFile(path, 0));
    ASSERT_TRUE(WaitFor([&] { return ev.progress == 11; }));
}

TEST(Socket, ListenerExceptionGoesToCentralHandlerAndSocketCarriesOn)
{
    std::vector<std::string> caught;
    SetApplicationExceptionHandler([&](const std::string& what) { caught.push_back(what); });
    Peer peer;
    TCustomCorvSocket s;
    std::vector<std::string> lines;
    s.OnLine = [&](TCustomCorvSocket*, const std::string& l) {
        lines.push_back(l);
        if (l == "boom")
            throw std::runtime_error("listener failed");
    };
    s.Host = "127.0.0.1";
    s.Port = peer.port();
    s.Connect();
    ASSERT_TRUE(peer.waitConnected());
    peer.socket->write("boom\n");
    ASSERT_TRUE(WaitFor([&] { return !caught.empty(); }));
    peer.socket->write("after\n");
    ASSERT_TRUE(WaitFor([&] { return lines.size() == 2; }));
    EXPECT_EQ(caught, std::vector<std::string>{"listener failed"});
    EXPECT_TRUE(s.IsConnected());
    SetApplicationExceptionHandler(nullptr);
}

// ---- SOCKS 4 through a real dante

TEST(Socks4, ConnectsThroughDanteThenReadsInSavedMode)
{
    const ServerInfo& socks = RealServers::dante();
    Peer peer;
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = socks.port;
    s.SocksVersion = 1;
    s.SocksDestHost = "localhost";  // a name: resolved before the request
    s.SocksPort = peer.port();
    s.Connect();
    ASSERT_TRUE(peer.waitConnected());
    peer.socket->write("220 through socks\r\n");
    ASSERT_TRUE(WaitFor([&] { return !ev.lines.empty() || ev.saw("error"); }));
    EXPECT_EQ(ev.lines, std::vector<std::string>{"220 through socks"});
    EXPECT_EQ(s.SocksDestHost, "127.0.0.1");
    EXPECT_EQ(s.Mode(), smLine);
    EXPECT_FALSE(s.IsConnecting());
}

TEST(Socks4, RefusedRequestGivesError1027)
{
    const ServerInfo& socks = RealServers::dante();
    TCustomCorvSocket s;
    Events ev(s);
    s.Host = "127.0.0.1";
    s.Port = socks.port;
    s.SocksVersion = 1;
    s.SocksDestHost = "127.0.0.2";  // dante refuses every destination but 127.0.0.1
    s.SocksPort = 21;
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return ev.saw("error"); }));
    EXPECT_EQ(ev.errors.front(), std::make_pair(1027, std::string("ReadSocks: 代理服务器不能连接到远程主机")));
    EXPECT_FALSE(s.IsConnected());
}
