// The transfer queue in the main window against real servers: whole trees
// down and back up, and a hostile server's listing that tries to lead the
// run out of its target folder or around in circles.

#include "QueueWindow.h"
#include "RealServers.h"
#include "ScriptServer.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "console/cxGraphics.h"
#include "session/TransferPool.h"
#include "widgets/QueueView.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

namespace {

// Three levels, 1,000 files, names with blanks and Chinese, one empty folder.
void makeTree(const QString& root)
{
    ASSERT_TRUE(QDir().mkpath(root));
    int n = 0;
    auto file = [&](const QString& dir) {
        QByteArray bytes;
        const int size = (n * 397) % 7000;
        bytes.reserve(size);
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>((i * 31 + n) & 0xff));
        WriteTestFile(dir + QStringLiteral("/文件 %1.bin").arg(n++), bytes);
    };
    for (int i = 0; i < 10; ++i)
        file(root);
    for (const QString& a : {QStringLiteral("a b"), QStringLiteral("中文"), QStringLiteral("c")}) {
        const QString level2 = root + "/" + a;
        ASSERT_TRUE(QDir().mkpath(level2));
        for (int i = 0; i < 30; ++i)
            file(level2);
        for (int s = 0; s < 3; ++s) {
            const QString level3 = level2 + QStringLiteral("/子 %1").arg(s);
            ASSERT_TRUE(QDir().mkpath(level3));
            for (int i = 0; i < 100; ++i)
                file(level3);
        }
    }
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/中文/空的")));
    ASSERT_EQ(n, 1000);
}

class QueueTree : public ::testing::TestWithParam<const char*> {};

// Over TLS too (the servers require it, the client uses it because they
// offer it): proftpd sends no TLS 1.3 session ticket on upload connections,
// and refuses the third upload in a row; the queue logs in again in TLS 1.2
// and goes on.
TEST_P(QueueTree, ATreeGoesDownAndBackUpByteForByte)
{
    // "-4": four transfer connections beside the browsing one.
    std::string server = GetParam();
    const int connections = server.ends_with("-4") ? 4 : 1;
    if (connections > 1)
        server.resize(server.size() - 2);
    const quint16 port = server == "vsftpd"        ? RealServers::vsftpd().port
                         : server == "pyftpdlib"   ? RealServers::pyftpdlib().port
                         : server == "vsftpd-tls" ? RealServers::vsftpdTls(false).port
                                                   : RealServers::proftpdTls(false).port;
    const bool tls = server.ends_with("-tls");
    const QString home = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest");
    const QString base = QStringLiteral("queue_%1_%2").arg(GetParam()).arg(::getpid());
    struct Remove {
        QString dir;
        ~Remove() { QDir(dir).removeRecursively(); }
    } remove{home + "/" + base};
    makeTree(home + "/" + base + QStringLiteral("/树"));
    ASSERT_TRUE(QDir().mkpath(home + "/" + base + QStringLiteral("/back")));
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), home + "/" + base});

    QueueWindow t;
    t.prompt.certificate = IPrompt::CertificateAnswer::TrustOnce;
    t.w->Settings().MaxTransfers = connections;
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1|%1:ftptest:ftppass:%2").arg(base).arg(port));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle()) << t.logText();
    const std::string start = t.w->RemotePane().Directory();
    EXPECT_EQ(t.w->FTP().DataProtected(), tls);

    // Down: the folder row, through the queue.
    const int tree = t.row(t.w->RemotePane().View(), QStringLiteral("树"));
    ASSERT_GE(tree, 0);
    t.w->RemotePane().View()->SetSelected(tree, true);
    t.w->QueuePanel().mnuDownloadClick();
    size_t peak = 0;  // files moving at once on transfer connections
    ASSERT_TRUE(WaitFor(
        [&] {
            if (const TTransferPool* pool = t.w->QueuePanel().Run().Pool())
                peak = std::max(peak, pool->Running().size());
            return RunOver(*t.w);
        },
        250000));
    EXPECT_EQ(treeOf(local.path() + QStringLiteral("/树")), treeOf(home + "/" + base + QStringLiteral("/树")));
    EXPECT_TRUE(QDir(local.path() + QStringLiteral("/树/中文/空的")).exists());
    // Both panes back where the run began.
    EXPECT_EQ(t.w->LocalPane().Directory(), local.path() + "/");
    EXPECT_EQ(t.w->RemotePane().Directory(), start);
    EXPECT_GE(t.row(t.w->LocalPane().View(), QStringLiteral("树")), 0);
    EXPECT_GE(t.row(t.w->RemotePane().View(), QStringLiteral("树")), 0);
    if (connections > 1) {
        // Several at once, never more than asked for. (Not by the log's "[n]"
        // marks: the log keeps its last lines only, and a connection given up
        // under load is replaced by one numbered on.)
        EXPECT_GE(peak, 2u);
        EXPECT_LE(peak, static_cast<size_t>(connections));
        // The run walked the tree on them: the browsing connection entered none of its folders.
        const auto log = t.log();
        EXPECT_FALSE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
            return l.rfind("CWD ", 0) == 0 && l.find("树") != std::string::npos;
        }));
    }

    // Up again, into the folder "back": local rows dropped onto its row.
    const int back = t.row(t.w->RemotePane().View(), QStringLiteral("back"));
    ASSERT_GE(back, 0);
    t.w->LocalPane().View()->ClearSelection();
    t.w->LocalPane().View()->SetSelected(t.row(t.w->LocalPane().View(), QStringLiteral("树")), true);
    t.w->QueuePanel().mnuUploadClick("back");
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 250000))
        << [&] {
               std::string s;
               for (const std::string& l : t.log())
                   s += l + "\n";
               return s;
           }();
    EXPECT_EQ(treeOf(home + "/" + base + QStringLiteral("/back/树")), treeOf(local.path() + QStringLiteral("/树")));
    EXPECT_EQ(t.w->RemotePane().Directory(), start);
    EXPECT_EQ(t.w->LocalPane().Directory(), local.path() + "/");
    EXPECT_EQ(t.w->FTP().DataProtected(), tls);
    // proftpd: one new login, in TLS 1.2 (the server's log says so); with
    // transfer connections, the browsing one uploads nothing.
    EXPECT_EQ(t.w->FTP().TlsUpTo12, server == "proftpd-tls" && connections == 1);
    if (server == "proftpd-tls" && connections == 1) {
        const std::string tlsLog = ReadTestFile(QString::fromStdString(RealServers::root()) +
                                                QStringLiteral("/../proftpd-tls/tls.log"));
        size_t logins12 = 0;
        for (size_t at = 0; (at = tlsLog.find("TLSv1.2 connection accepted", at)) != std::string::npos; ++at)
            ++logins12;
        EXPECT_EQ(logins12, 1u);
    }
    EXPECT_TRUE(t.prompt.asked.size() <= 1u);  // the certificate, once
}

std::string queueTreeName(const ::testing::TestParamInfo<const char*>& info)
{
    std::string name = info.param;
    std::erase(name, '-');
    return name;
}
INSTANTIATE_TEST_SUITE_P(Servers, QueueTree, ::testing::Values("vsftpd", "pyftpdlib", "vsftpd-tls", "proftpd-tls", "vsftpd-4",
                                                           "pyftpdlib-4", "proftpd-tls-4"),
                         queueTreeName);

TEST(QueueHostile, NamesThatLeaveTheTargetAndALoopingFolderStayInside)
{
    // Every folder lists the same entries: names that climb out or hide a
    // line end, a good file, and a folder "loop" that is itself again.
    const std::string listing =
        "drwxr-xr-x 1 a b 0 Jan 12 2003 ..\\n"
        "-rw-r--r-- 1 a b 3 Jan 12 2003 a/../../x\\n"
        "-rw-r--r-- 1 a b 3 Jan 12 2003 bad\x01name\\n"
        "-rw-r--r-- 1 a b 3 Jan 12 2003 good.txt\\n"
        "drwxr-xr-x 1 a b 0 Jan 12 2003 loop\\n";
    std::vector<ScriptReply> replies = {{"USER", "331 pw"},
                                        {"PASS", "230 ok"},
                                        {"SYST", "215 UNIX Type: L8"},
                                        {"REST", "502 no"},
                                        {"PWD", "257 \"/\""}};
    // The first listing; then the walk down: folders come first (the pane
    // sorts them first), so it enters loop/ until the bound stops it; then
    // back up, a good.txt per level, each from the listing already cached.
    replies.push_back({"TYPE", "200 ok"});
    replies.push_back({"PASV", "<pasv>"});
    replies.push_back({"LIST", "150 here\n<data:" + listing + ">\n226 done"});
    auto loops = [](int n) {
        std::string p;
        for (int i = 0; i < n; ++i)
            p += "/loop";
        return p;
    };
    for (int d = 0; d <= TQueueRun::MaxTreeDepth; ++d) {
        replies.push_back({"CWD", "250 ok"});
        replies.push_back({"PWD", "257 \"" + loops(d + 1) + "\""});
        replies.push_back({"TYPE", "200 ok"});
        replies.push_back({"PASV", "<pasv>"});
        replies.push_back({"LIST", "150 here\n<data:" + listing + ">\n226 done"});
    }
    for (int j = TQueueRun::MaxTreeDepth; j >= 1; --j) {
        replies.push_back({"CWD", "250 ok"});
        replies.push_back({"PWD", "257 \"" + loops(j) + "\""});
        replies.push_back({"TYPE", "200 ok"});
        replies.push_back({"PASV", "<pasv>"});
        replies.push_back({"RETR", "150 here\n<data:abc>\n226 done"});
    }
    // Home again at the end.
    replies.push_back({"CWD", "250 ok"});
    replies.push_back({"PWD", "257 \"/\""});
    replies.push_back({"TYPE", "200 ok"});
    replies.push_back({"PASV", "<pasv>"});
    replies.push_back({"LIST", "150 here\n<data:" + listing + ">\n226 done"});
    ScriptServer server;
    server.addSession({{"220 hostile"}, replies});

    QueueWindow t;
    QTemporaryDir outside;
    const QString target = outside.path() + QStringLiteral("/in");
    ASSERT_TRUE(QDir().mkpath(target));
    t.w->LocalPane().SetDirectory(target);
    t.w->Settings().ReceiveRefresh = false;
    t.w->Memo1()->SetMaxRecords(32768);  // the whole walk stays in the log
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:bob:pw:%1").arg(server.port()));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    t.w->RemotePane().View()->SelectWhere([&](int r) { return t.w->RemotePane().View()->Text(r, 0) == QStringLiteral("loop"); });
    t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 60000))
        << [&] {
               std::string s;
               const auto l = t.log();
               for (size_t i = 0; i < std::min<size_t>(l.size(), 60); ++i)
                   s += l[i] + "\n";
               const auto tr = server.transcript();
               for (size_t i = 0; i < std::min<size_t>(tr.size(), 60); ++i)
                   s += "> " + tr[i].substr(0, 40) + "\n";
               return s;
           }();
    // Nothing beside the target folder; inside it only good.txt and loop/.
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"in"});
    QDirIterator it(target, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    int depth = 0;
    while (it.hasNext()) {
        const QString rel = QDir(target).relativeFilePath(it.next());
        const QString name = it.fileName();
        EXPECT_TRUE(name == "loop" || name == "good.txt") << rel.toStdString();
        depth = std::max(depth, static_cast<int>(rel.count('/')));
    }
    // The bound stopped the walk, and said so.
    EXPECT_EQ(depth, TQueueRun::MaxTreeDepth);
    const auto log = t.log();
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [](const std::string& l) { return l.rfind("目录层次超过 64, 跳过: ", 0) == 0; }),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "跳过不安全的名称: /loop/bad\\x01name"), log.end());
}

}  // namespace

namespace {
TEST(QueueRunLength, ALongRunOfSkippedFilesDoesNotDeepenTheStack)
{
    // Each skipped file hands on to the next: a hundred thousand in a row
    // must not nest a call per file.
    QueueWindow t;
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:ftptest:ftppass:%1").arg(RealServers::pyftpdlib().port));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    t.w->Settings().SkipEnabled = true;
    t.w->Settings().SkipPatterns = {"*.skip"};
    const std::string remote = t.w->RemotePane().CurrentPath();
    const std::string target = local.path().toStdString() + "/";
    std::vector<TQueueEntry> entries;
    for (int i = 0; i < 100000; ++i) {
        const std::string name = "f" + std::to_string(i) + ".skip";
        entries.push_back({TEntryKind::DownloadFile, remote + name, 10, target + name});
    }
    t.w->QueueEntries().Append(std::move(entries));
    t.w->QueuePanel().queTransferClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 60000));
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "跳过文件: f99999.skip"), log.end());
    EXPECT_TRUE(QDir(local.path()).isEmpty());
}
}  // namespace

namespace {
TEST(QueueLocalFaults, AFileThatCannotBeWrittenOrReadEndsAndTheRunGoesOn)
{
    // Down: the first target is a folder (never replaced); up: the first
    // source is a FIFO (never read). Each fault is logged, that file ends,
    // and the next one moves.
    const QString home = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest");
    const QString base = QStringLiteral("queue_faults_%1").arg(::getpid());
    struct Remove {
        QString dir;
        ~Remove() { QDir(dir).removeRecursively(); }
    } remove{home + "/" + base};
    ASSERT_TRUE(QDir().mkpath(home + "/" + base));
    WriteTestFile(home + "/" + base + "/a.bin", "first");
    WriteTestFile(home + "/" + base + "/b.bin", "second");
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), home + "/" + base});

    QueueWindow t;
    t.oneConnection();
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->QuickConnect().ServerField()->setEditText(
        QStringLiteral("127.0.0.1|%1:ftptest:ftppass:%2").arg(base).arg(RealServers::pyftpdlib().port));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    const std::string remote = t.w->RemotePane().CurrentPath();
    const std::string target = local.path().toStdString() + "/";
    ASSERT_TRUE(QDir().mkpath(local.path() + "/a.bin"));
    t.w->QueueEntries().Append({{TEntryKind::DownloadFile, remote + "a.bin", 5, target + "a.bin"},
                                {TEntryKind::DownloadFile, remote + "b.bin", 6, target + "b.bin"}});
    t.w->Settings().ResumeMode = 2;  // the folder "exists": overwrite it, which must fail
    t.w->QueuePanel().queTransferClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 20000));
    EXPECT_TRUE(QFileInfo(local.path() + "/a.bin").isDir());
    EXPECT_EQ(ReadTestFile(local.path() + "/b.bin"), "second");

    const QString fifo = local.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    WriteTestFile(local.path() + "/c.bin", "third");
    t.w->QueueEntries().Append({{TEntryKind::UploadFile, fifo.toStdString(), 0, remote + "pipe"},
                                {TEntryKind::UploadFile, target + "c.bin", 5, remote + "c.bin"}});
    t.w->QueuePanel().queTransferClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 20000));
    EXPECT_FALSE(QFileInfo::exists(home + "/" + base + "/pipe"));
    EXPECT_EQ(ReadTestFile(home + "/" + base + "/c.bin"), "third");
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "错误: 无法写入到本地文件 (" + target + "a.bin)."), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "错误:无法打开本地文件来读取 (" + fifo.toStdString() + ")."),
              log.end());
}
}  // namespace

namespace {
// The server dies in the middle of a throttled transfer and comes back on
// the same port: the restart timer logs in again, the run goes on with the
// same file, resumed from what arrived, and it ends whole.
class QueueDroppedConnection : public ::testing::TestWithParam<bool> {};

TEST_P(QueueDroppedConnection, ATransferCutByAServerKillResumesAfterTheReconnect)
{
    const bool upload = GetParam();
    QTemporaryDir root;
    const QString home = root.path() + QStringLiteral("/ftptest");
    ASSERT_TRUE(QDir().mkpath(home));
    QTemporaryDir local;
    QByteArray data(4 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((static_cast<uint32_t>(i) * 7919u) >> 5);
    const QString source = (upload ? local.path() : home) + "/big.bin";
    const QString target = (upload ? home : local.path()) + "/big.bin";
    WriteTestFile(source, data);
    const quint16 port = ClosedLoopbackPort();
    auto server = RealServers::startOwnPyftpdlib(port, home, 512 * 1024);

    QueueWindow t;
    t.oneConnection();
    t.w->Settings().RestoreState = false;  // reconnect after six seconds
    t.addResumingSite("Dies", port);
    t.w->LocalPane().SetDirectory(local.path());
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("Dies"));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    TCorvListView* pane = upload ? t.w->LocalPane().View() : t.w->RemotePane().View();
    pane->SelectWhere([&](int r) { return pane->Text(r, 0) == QStringLiteral("big.bin"); });
    if (upload)
        t.w->QueuePanel().mnuUploadClick();
    else
        t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(target).size() >= 256 * 1024; }, 20000));
    server->kill();
    server->waitForFinished();
    ASSERT_TRUE(WaitFor([&] { return t.w->Workflow().State() == SessionState::ConnectionLost; }, 20000));
    const qint64 had = QFileInfo(target).size();
    EXPECT_LT(had, data.size());
    server = RealServers::startOwnPyftpdlib(port, home);
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 60000))
        << [&] {
               std::string s;
               for (const std::string& l : t.log())
                   s += l + "\n";
               return s;
           }();
    EXPECT_EQ(ReadTestFile(target), data.toStdString());
    EXPECT_TRUE(t.prompt.asked.empty());
    // Resumed, not moved again from the start.
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "REST " + std::to_string(had)), log.end());
    server->kill();
    server->waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(Directions, QueueDroppedConnection, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Upload" : "Download"; });
}  // namespace

// The same tree over SFTP (OpenSSH's server), on three transfer connections:
// down and back up byte for byte, the tree walked on the transfer
// connections (the panes stay where they are), and the host key asked about
// once, by the browsing session.
TEST(SftpQueue, ATreeGoesDownAndBackUpOnTransferConnections)
{
    RealServers::OwnSshd server;
    QTemporaryDir remote, local, ssh;
    makeTree(remote.path() + QStringLiteral("/树"));
    ASSERT_TRUE(QDir().mkpath(remote.path() + QStringLiteral("/back")));
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), remote.path()});

    QueueWindow t;
    t.w->Settings().MaxTransfers = 3;
    t.w->LocalPane().SetDirectory(local.path());
    ASSERT_TRUE(t.sftpLogin(server.port, remote.path(), ssh.path()));

    t.w->RemotePane().View()->SetSelected(t.row(t.w->RemotePane().View(), QStringLiteral("树")), true);
    t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return RunOver(*t.w); }, 250000)) << t.logText();
    EXPECT_EQ(treeOf(local.path() + QStringLiteral("/树")), treeOf(remote.path() + QStringLiteral("/树")));
    EXPECT_TRUE(QDir(local.path() + QStringLiteral("/树/中文/空的")).exists());
    const std::string log = t.logText();
    EXPECT_NE(log.find("传输连接 3: 已接收"), std::string::npos) << log;
    EXPECT_EQ(log.find("传输连接 4: "), std::string::npos);
    EXPECT_EQ(t.w->RemotePane().Directory(), remote.path().toStdString() + "/");

    t.w->LocalPane().View()->ClearSelection();
    t.w->LocalPane().View()->SetSelected(t.row(t.w->LocalPane().View(), QStringLiteral("树")), true);
    t.w->QueuePanel().mnuUploadClick("back");
    ASSERT_TRUE(WaitFor([&] { return RunOver(*t.w); }, 250000)) << t.logText();
    EXPECT_EQ(treeOf(remote.path() + QStringLiteral("/back/树")), treeOf(local.path() + QStringLiteral("/树")));
    EXPECT_TRUE(t.w->QueuePanel().Run().FailedEntries().empty());
    EXPECT_EQ(t.prompt.asked.size(), 1u);
}
