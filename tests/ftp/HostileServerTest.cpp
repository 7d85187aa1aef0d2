// The engine against servers and local files that misbehave: dropped and
// reset data connections, silent servers, foreign peers, unwritable and
// special local files. Every outcome must be reported truthfully, without a
// crash or a hang.
#include "LoginFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

std::string randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xff);
    return s;
}

bool sent(const ScriptServer& server, const std::string& prefix, size_t connection = 0)
{
    for (const std::string& c : server.transcript(connection))
        if (c.rfind(prefix, 0) == 0)
            return true;
    return false;
}

// A client of the test user's for the scripted server on port.
void pointAt(TFTPclient& c, quint16 port, int timeout)
{
    c.FtpServer = "127.0.0.1";
    c.Port = port;
    c.UserName = "bob";
    c.UserPassword = "pw";
    c.Timeout = timeout;
}

// A disk that fails under a file being sent: once armed, sendfile(2) from
// the file with this inode moves readFaultAfter bytes and then fails with EIO.
ino_t readFaultInode = 0;
off_t readFaultAfter = 0;

}  // namespace

extern "C" ssize_t sendfile(int outFd, int inFd, off_t* offset, size_t count)
{
    using Real = ssize_t (*)(int, int, off_t*, size_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sendfile"));
    struct stat st {};
    if (readFaultInode != 0 && ::fstat(inFd, &st) == 0 && st.st_ino == readFaultInode) {
        const off_t pos = ::lseek(inFd, 0, SEEK_CUR);
        if (pos >= readFaultAfter) {
            errno = EIO;
            return -1;
        }
        count = std::min(count, static_cast<size_t>(readFaultAfter - pos));
    }
    return real(outFd, inFd, offset, count);
}

// ---------------------------------------------------------------- dropped data connections

// The server breaks the data connection of a download at a random point
// (reset, then a 426 or a lying 226) or sends it whole: Success is true
// exactly when the local file is the server's file, byte for byte.
TEST_F(ScriptedTransfer, DownloadsCutAtRandomPointsReportWhatReachedTheDisk)
{
    std::mt19937 gen(20261207);
    const std::string payload = randomBytes(300 * 1024, 7);
    int whole = 0, cut = 0;
    for (int run = 0; run < 100; ++run) {
        ScriptServer s;
        s.payload = payload;
        const size_t at = gen() % (payload.size() + payload.size() / 4);
        std::string data;
        if (at >= payload.size())
            data = "150 here\n<payload>\n226 done";
        else
            data = "150 here\n<payload-cut:" + std::to_string(at) + ">\n" + (gen() % 2 ? "426 broken" : "226 lying");
        s.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", data}})});
        TFTPclient c;
        FtpRecorder r(c);
        pointAt(c, s.port(), 5);
        c.Connect();
        ASSERT_TRUE(WaitFor([&] { return r.loggedIn > 0; })) << run;
        const QString target = local("cut.bin");
        c.RemoteFile = "f";
        c.LocalFile = target.toStdString();
        c.Download(false, false, 0);
        ASSERT_TRUE(WaitFor([&] { return r.done > 0; })) << "run " << run << " cut at " << at << "\n" << r.dump();
        const bool same = ReadTestFile(target) == payload;
        EXPECT_EQ(r.doneSuccess, same) << "run " << run << " cut at " << at;
        (same ? whole : cut) += 1;
        QFile::remove(target);
    }
    EXPECT_GT(whole, 5);
    EXPECT_GT(cut, 50);
}

// Uploads whose data connection the server resets after a random count of
// bytes: never a crash (the broken pipe), never a success.
TEST_F(ScriptedTransfer, UploadsResetAtRandomPointsFailWithoutKillingTheProgram)
{
    std::mt19937 gen(7);
    const QString source = local("up.bin");
    const std::string payload = randomBytes(4 * 1024 * 1024, 11);
    WriteTestFile(source, QByteArray::fromStdString(payload));
    for (int run = 0; run < 100; ++run) {
        ScriptServer s;
        const size_t at = gen() % (payload.size() + 1);
        const std::string data = at >= payload.size() ? "150 go\n<recv>\n226 stored"
                                                      : "150 go\n<recv-cut:" + std::to_string(at) + ">\n426 broken";
        s.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"STOR", data}})});
        TFTPclient c;
        FtpRecorder r(c);
        pointAt(c, s.port(), 5);
        c.Connect();
        ASSERT_TRUE(WaitFor([&] { return r.loggedIn > 0; })) << run;
        c.RemoteFile = "f";
        c.LocalFile = source.toStdString();
        c.Upload(false);
        ASSERT_TRUE(WaitFor([&] { return r.done > 0; })) << "run " << run << " cut at " << at << "\n" << r.dump();
        EXPECT_EQ(r.doneSuccess, s.dataReceived() == payload) << "run " << run << " cut at " << at;
    }
}

// ---------------------------------------------------------------- local files

// The disk fails with EIO a megabyte into an upload: the upload ends as
// failed with the file's name and the system's reason, the data connection is
// reset rather than closed (so the server cannot take the part for the whole)
// and the session is ready for the next command.
TEST_F(ScriptedTransfer, AReadErrorInTheMiddleOfAnUploadFailsIt)
{
    const QString source = local("failing.bin");
    const std::string payload = randomBytes(4 * 1024 * 1024, 5);
    WriteTestFile(source, QByteArray::fromStdString(payload));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(source).constData(), &st), 0);
    server.addSession({{"220 hi"},
                       loginThen({{"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"STOR", "150 go\n<recv>\n426 connection reset"},
                                  {"NOOP", "200 still here"}})});
    ASSERT_TRUE(login());
    readFaultInode = st.st_ino;
    readFaultAfter = 1024 * 1024;
    ftp.RemoteFile = "f";
    ftp.LocalFile = source.toStdString();
    ftp.Upload(false);
    const bool finished = waitDone();
    readFaultInode = 0;
    ASSERT_TRUE(finished) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_NE(rec.dump().find(std::string("failing.bin: ") + std::strerror(EIO)), std::string::npos) << rec.dump();
    EXPECT_LE(server.dataReceived().size(), 1024u * 1024u);
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
    done = 0;
    ftp.SendCommand("NOOP", rsIdle);
    EXPECT_TRUE(WaitFor([&] { return sent(server, "NOOP"); }));
}

TEST_F(ScriptedTransfer, DownloadIntoAMissingFolderIsRefusedBeforeAnythingIsFetched)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", "150 x"}})});
    ASSERT_TRUE(login());
    ftp.RemoteFile = "hello.txt";
    ftp.LocalFile = local("no/such/folder/hello.txt").toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(rec.has(feLocalWrite, ftp.LocalFile)) << rec.dump();
    QCoreApplication::processEvents();
    EXPECT_FALSE(sent(server, "TYPE"));
    EXPECT_FALSE(sent(server, "RETR"));
    EXPECT_FALSE(ftp.Success());
}

// Special files at the target are refused with error 22 and left as they
// were; a link is replaced by the file and its target left alone.
TEST_F(ScriptedTransfer, DownloadOntoASpecialFileLeavesItAlone)
{
    const QString fifo = local("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    const QString folder = local("folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString sock = local("sock");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.toLocal8Bit().constData(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A device needs no root to be met: the null device itself is one.
    for (const QString& target : {fifo, folder, sock, QStringLiteral("/dev/null")}) {
        struct stat before {};
        ASSERT_EQ(::lstat(target.toLocal8Bit().constData(), &before), 0);
        for (bool resume : {false, true}) {
            rec.events.clear();
            ftp.LocalFile = target.toStdString();
            ftp.RemoteFile = "x";
            ftp.Download(resume, false, 0);
            EXPECT_TRUE(rec.has(feLocalWrite, target.toStdString())) << target.toStdString();
            struct stat after {};
            ASSERT_EQ(::lstat(target.toLocal8Bit().constData(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode) << target.toStdString();
            EXPECT_EQ(after.st_ino, before.st_ino) << target.toStdString();
            EXPECT_EQ(after.st_rdev, before.st_rdev) << target.toStdString();
        }
    }
    ::close(fd);

    // A link: replaced by the downloaded file; what it pointed to is untouched.
    const QString elsewhere = local("elsewhere.txt");
    WriteTestFile(elsewhere, "keep me");
    const QString link = local("link.txt");
    ASSERT_TRUE(QFile::link(elsewhere, link));
    server.addSession(
        {{"220 hi"},
         loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", "150 here\n<data:new text>\n226 done"}})});
    ASSERT_TRUE(login());
    ftp.LocalFile = link.toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadTestFile(link), "new text");
    EXPECT_EQ(ReadTestFile(elsewhere), "keep me");
}

// A write that fails half-way (here: the file-size limit, as a full disk
// would) ends the transfer with error 22 and Success false, not a hang.
TEST_F(ScriptedTransfer, AWriteErrorHalfWayEndsTheDownload)
{
    server.payload = randomBytes(5 * 1024 * 1024, 3);
    server.addSession(
        {{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", "150 here\n<payload>\n226 done"}})});
    ASSERT_TRUE(login());
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ftp.RemoteFile = "big";
    ftp.LocalFile = local("big.bin").toStdString();
    ftp.Download(false, false, 0);
    const bool ended = waitDone();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(ended) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_EQ(rec.count(feLocalWrite), 1) << rec.dump();
    EXPECT_FALSE(rec.has(fiTransferComplete, "传输完成:"));
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
}

TEST_F(ScriptedTransfer, UploadOfAFolderOrAFifoIsRefusedBeforeAnythingIsSent)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"STOR", "150 go"}})});
    ASSERT_TRUE(login());
    const QString fifo = local("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    for (const QString& source : {dir.path(), fifo, local("missing")}) {
        ftp.LocalFile = source.toStdString();
        ftp.RemoteFile = "x";
        ftp.Upload(false);
        EXPECT_TRUE(rec.has(feLocalRead, source.toStdString())) << source.toStdString();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(sent(server, "TYPE"));
    EXPECT_FALSE(sent(server, "STOR"));
}

// ---------------------------------------------------------------- passive and active addresses

TEST_F(ScriptedTransfer, AnUnterminatedLastListingLineIsKept)
{
    server.addSession(
        {{"220 hi"},
         loginThen(
             {{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"LIST", "150 here\n<data:a\\nb\\nlast without end>\n226 ok"}})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.Lines(), (std::vector<std::string>{"a", "b", "last without end"}));
    EXPECT_FALSE(rec.has(fiPassiveAddressIgnored));  // the reply named the server itself
}

TEST_F(ScriptedTransfer, APassiveReplyNamingAThirdHostIsNotFollowed)
{
    // A listener on 127.0.0.1 and a reply naming 127.0.0.2 with its port.
    QTcpServer data;
    ASSERT_TRUE(data.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    std::string reply = PassiveReplyFor(data.serverPort());
    reply.replace(reply.find("127,0,0,1"), 9, "127,0,0,2");
    QTcpSocket* accepted = nullptr;
    QObject::connect(&data, &QTcpServer::newConnection, [&] {
        accepted = data.nextPendingConnection();
        accepted->write("-rw-r--r-- 1 a b 5 Jan 12 2003 x.txt\r\n");
        accepted->disconnectFromHost();
    });
    server.addSession({{"220 hi"},
                       loginThen({{"TYPE", "200 ok"},
                                  {"PASV", reply},
                                  {"LIST", "150 here\n226 ok"},
                                  {"TYPE", "200 ok"},
                                  {"PASV", reply},
                                  {"LIST", "150 here\n226 ok"}})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_TRUE(rec.has(fiPassiveAddressIgnored, "被动模式地址 127.0.0.2 与服务器地址不符, 改用 127.0.0.1"));
    EXPECT_EQ(ftp.ListingLines.size(), 1u);

    // With the named address wanted, the client goes there (and finds nothing).
    done = 0;
    ftp.UsePasvAddress = true;
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_TRUE(rec.has(feSocket, "[数据]: 连接被拒绝"));
}

TEST_F(ScriptedTransfer, APassiveReplyWithoutParenthesesIsUnderstood)
{
    server.addSession(
        {{"220 hi"},
         loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv-bare>"}, {"LIST", "150 here\n<data:one\\n>\n226 ok"}})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.Lines(), std::vector<std::string>{"one"});
}

// In active mode only the server may connect; a stranger is refused and
// logged, and when the server never comes the transfer times out.
TEST_F(ScriptedTransfer, ActiveModeRefusesStrangersAndTimesOut)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PORT", "200 ok"}, {"LIST", "150 here"}})});
    ftp.UsePasv = false;
    ftp.ListenSocket().Timeout = 1;  // 30 s in the product
    ASSERT_TRUE(login());
    QTcpSocket stranger;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (const std::string& c : server.transcript()) {
            if (c.rfind("PORT ", 0) != 0 || stranger.state() != QAbstractSocket::UnconnectedState)
                continue;
            int h[6];
            ASSERT_EQ(std::sscanf(c.c_str() + 5, "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &h[4], &h[5]), 6);
            stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")));
            stranger.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(h[4] * 256 + h[5]));
        }
    });
    poll.start(10);
    ftp.List();
    ASSERT_TRUE(waitDone(8000)) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_TRUE(rec.has(feSocket, "[数据]: 拒绝来自 127.0.0.2 的数据连接")) << rec.dump();
    EXPECT_TRUE(rec.has(feSocket, "数据连接超时."));
}

// ---------------------------------------------------------------- silent servers

TEST_F(ScriptedTransfer, AServerThatStopsAnsweringEndsTheSession)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "<silent>"}})});
    ftp.Timeout = 1;
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; }, 5000)) << rec.dump();
    EXPECT_TRUE(rec.has(feSocket, "服务器响应超时."));
    EXPECT_TRUE(rec.has(fiDisconnected, "Disconnected"));
    EXPECT_FALSE(ftp.IsConnected());
    EXPECT_EQ(done, 0);  // no false completion

    // During the login a silent step is a failed attempt.
    ScriptServer s2;
    s2.addSession({{"220 hi"}, {{"USER", "331 pw"}, {"PASS", "<silent>"}}});
    TFTPclient c;
    FtpRecorder r(c);
    pointAt(c, s2.port(), 1);
    c.Connect();
    ASSERT_TRUE(WaitFor([&] { return r.has(fiAttemptsExhausted); }, 5000)) << r.dump();
    EXPECT_TRUE(r.has(feSocket, "服务器响应超时."));
}

// Data that keeps trickling is a live transfer, however slow: the reply
// watch does not cut it off.
TEST_F(ScriptedTransfer, ATricklingDataConnectionIsNotTakenForASilentServer)
{
    server.addSession({{"220 hi"},
                       loginThen({{"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"RETR", "150 here\n<data-trickle:250:slow data>\n<later:2800:226 ok>"}})});
    ftp.Timeout = 1;
    ASSERT_TRUE(login());
    ftp.RemoteFile = "slow";
    ftp.LocalFile = local("slow.txt").toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(waitDone(8000)) << rec.dump();
    EXPECT_TRUE(doneSuccess) << rec.dump();
    EXPECT_EQ(ReadTestFile(local("slow.txt")), "slow data");
}

// A transfer cut off by the server's drop must not be reported by the next
// connection's failed login.
TEST_F(ScriptedTransfer, ATransferCutOffByADropIsNotCompletedByTheNextLogin)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", "150 here\n<close>"}})});
    server.addSession({{"530 go away"}, {}});
    ASSERT_TRUE(login());
    ftp.RemoteFile = "f";
    ftp.LocalFile = local("f").toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; })) << rec.dump();
    ftp.Connect();
    ASSERT_TRUE(WaitFor([&] { return rec.has(fiAttemptsExhausted); })) << rec.dump();
    QCoreApplication::processEvents();
    EXPECT_EQ(done, 0);
    EXPECT_FALSE(rec.has(fiTransferComplete));
}

TEST_F(ScriptedTransfer, RepliesOf421AfterEveryCommandNeverHang)
{
    server.addSession({{"220 hi"}, loginThen({{"TYPE", "421 closing\n<close>"}})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; })) << rec.dump();
    EXPECT_FALSE(ftp.IsConnected());
    EXPECT_EQ(done, 0);

    // Before login a 421 is a refused attempt, however often it comes.
    ScriptServer s2;
    s2.addSession({{"421 busy"}, {}});
    TFTPclient c;
    FtpRecorder r(c);
    pointAt(c, s2.port(), c.Timeout);
    c.Retry = 3;
    c.Connect();
    ASSERT_TRUE(WaitFor([&] { return r.has(fiAttemptsExhausted); })) << r.dump();
    EXPECT_EQ(s2.connections(), 3);
}

// ---------------------------------------------------------------- hostile listings

// Names with "/", "..", control characters pass through verbatim (what they
// may do to local paths is the caller's to refuse); a line longer than the
// reader's cap fails the listing instead of growing memory or passing for a
// whole listing, however the line is split into reads. A long name within the
// cap (64 KiB) is still a line.
TEST_F(ScriptedTransfer, HostileListingNamesPassVerbatimAndAnEndlessLineFailsTheListing)
{
    const std::vector<std::string> names = {
        "-rw-r--r-- 1 a b 5 Jan 12 2003 ../../etc/passwd", "-rw-r--r-- 1 a b 5 Jan 12 2003 a/b",
        std::string("-rw-r--r-- 1 a b 5 Jan 12 2003 bell\x07\x1b[2Jname"), "drwxr-xr-x 1 a b 0 Jan 12 2003 .."};
    std::string listing;
    for (const std::string& n : names)
        listing += n + "\r\n";
    server.payload = listing;
    std::vector<ScriptReply> replies;
    for (int i = 0; i < 4; ++i)
        replies.insert(replies.end(),
                       {{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"LIST", "150 here\n<payload>\n226 ok"}});
    server.addSession({{"220 hi"}, loginThen(replies)});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.Lines(), names);

    done = 0;
    const std::string longName = "-rw-r--r-- 1 a b 5 Jan 12 2003 " + std::string(60000, 'x');
    server.payload = names[0] + "\r\n" + longName + "\r\nlast\r\n";
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.Lines(), (std::vector<std::string>{names[0], longName, "last"}));

    done = 0;
    server.payload = names[0] + "\r\n-rw-r--r-- 1 a b 5 Jan 12 2003 " + std::string(100000, 'x') + "\r\nlast\r\n";
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_FALSE(doneSuccess);

    done = 0;
    server.payload = names[0] + "\r\n" + std::string(4 * 1024 * 1024, 'y');  // a line that never ends
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_TRUE(ftp.FatalError());
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
}

// A listing of ten million lines: the client keeps at most its bound of lines,
// breaks the data connection off there and reports the listing as failed
// instead of growing until the machine runs out of memory; a long listing
// under the bound arrives whole.
TEST_F(ScriptedTransfer, AListingOfTenMillionLinesStopsAtTheBound)
{
    server.payload = "-rw-r--r--   1 owner    group        1234 Jan 12  2003 file-name.txt\r\n";
    server.addSession({{"220 hi"},
                       loginThen({{"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"LIST", "150 here\n<payload-repeat:200000>\n226 ok"},
                                  {"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"LIST", "150 here\n<payload-repeat:10000000>\n226 ok"}})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone(60000)) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.size(), 200000u);

    done = 0;
    ftp.List();
    ASSERT_TRUE(waitDone(120000)) << rec.dump();
    EXPECT_FALSE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.size(), TFTPclient::MaxListingLines);
    EXPECT_NE(rec.dump().find("列表超过"), std::string::npos) << rec.dump();
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
}

// TLS from servers that misbehave: one that accepts "AUTH TLS" and then
// never answers the handshake, one that answers it with plain text, and an
// implicit-TLS port that speaks plain FTP. The login ends within the time-out
// or at once, truthfully, and nothing of it is sent.
TEST_F(ScriptedLogin, TlsHandshakesThatNeverFinishOrAreNotTlsEndTheLoginWithoutSendingIt)
{
    ftp.Timeout = 1;
    ftp.Tls = tlsExplicit;
    server.addSession({{"220 hi"}, {{"AUTH", "234 go ahead"}}});  // then silence
    ASSERT_TRUE(login(8000)) << rec.dump();
    EXPECT_FALSE(rec.loggedInSuccess);
    EXPECT_FALSE(sent(server, "USER"));
    EXPECT_FALSE(ftp.IsConnected());

    // A reply injected in the clear behind the "234" is dropped, never read
    // as if TLS had protected it; the handshake then never comes.
    ScriptServer plainAnswer;
    plainAnswer.addSession({{"220 hi"}, {{"AUTH", "234 go ahead\n230 injected login"}}});
    TFTPclient second;
    FtpRecorder rec2(second);
    second.FtpServer = "127.0.0.1";
    second.Port = plainAnswer.port();
    second.Tls = tlsExplicit;
    second.Timeout = 1;
    second.UserName = "bob";
    second.UserPassword = "secret";
    second.Connect();
    ASSERT_TRUE(WaitFor([&] { return rec2.quit > 0 || rec2.has(fiAttemptsExhausted); }, 8000)) << rec2.dump();
    EXPECT_FALSE(rec2.has(fiReplyLine, "230 injected login")) << rec2.dump();
    EXPECT_FALSE(rec2.loggedInSuccess);
    EXPECT_FALSE(sent(plainAnswer, "USER"));
    EXPECT_FALSE(sent(plainAnswer, "SYST"));

    ScriptServer implicitPlain;
    implicitPlain.addSession({{"220 plain FTP on the TLS port"}, {}});
    TFTPclient third;
    FtpRecorder rec3(third);
    third.FtpServer = "127.0.0.1";
    third.Port = implicitPlain.port();
    third.Tls = tlsImplicit;
    third.Timeout = 2;
    third.Connect();
    ASSERT_TRUE(WaitFor([&] { return rec3.quit > 0 || rec3.has(fiAttemptsExhausted); }, 8000)) << rec3.dump();
    EXPECT_FALSE(rec3.loggedInSuccess);
    EXPECT_FALSE(sent(implicitPlain, "USER"));  // the server saw only the TLS hello
    EXPECT_TRUE(rec3.has(feTls)) << rec3.dump();
}
