// Transfers and commands against real servers, passive and active: contents
// compared byte for byte.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ServerFn = const ServerInfo& (*)();

struct RealServerCase {
    const char* name;
    ServerFn server;
};

QByteArray makeData(qint64 size)
{
    QByteArray d(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        d[i] = static_cast<char>((static_cast<quint64>(i) * 2654435761u) >> 13);
    return d;
}

}  // namespace

class RealTransfer : public ::testing::TestWithParam<std::tuple<RealServerCase, bool>> {
protected:
    TFTPclient ftp;
    FtpRecorder rec{ftp};
    QTemporaryDir local;
    QString home;  // the user's directory on the server, seen from the file system
    QString work;  // a directory of this test inside it
    int& done = rec.done;
    bool& doneSuccess = rec.doneSuccess;

    void SetUp() override
    {
        const auto& [server, passive] = GetParam();
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = server.server().port;
        ftp.UserName = RealServers::User;
        ftp.UserPassword = RealServers::Password;
        ftp.UsePasv = passive;
        home = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest");
        ftp.Connect();
        ASSERT_TRUE(WaitFor([&] { return rec.loggedIn > 0 || rec.quit > 0 || rec.has(fiAttemptsExhausted); }));
        ASSERT_TRUE(rec.loggedInSuccess) << rec.dump();
        // Each test works in a directory of its own, made through the server.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string dirName =
            "t" + std::to_string(::getpid()) + "_" + std::to_string(std::hash<std::string>{}(name) % 100000);
        run([&] { ftp.MakeDir(dirName); });
        run([&] { ftp.ChangeDir(dirName); });
        ASSERT_TRUE(doneSuccess);
        work = home + "/" + QString::fromStdString(dirName);
        ASSERT_TRUE(QDir(work).exists()) << work.toStdString();
    }

    // Starts an operation and waits for its event.
    void run(const std::function<void()>& start, int ms = 30000)
    {
        done = 0;
        start();
        ASSERT_TRUE(WaitFor([&] { return done > 0 || rec.quit > 0; }, ms)) << rec.dump();
    }

    void download(const std::string& remote, const QString& target, bool resume = false)
    {
        ftp.RemoteFile = remote;
        ftp.LocalFile = target.toStdString();
        run([&] { ftp.Download(resume, false, 0); });
    }
    void upload(const QString& source, const std::string& remote, int64_t resumeAt = 0)
    {
        ftp.LocalFile = source.toStdString();
        ftp.RemoteFile = remote;
        ftp.ResumePos = resumeAt;
        run([&] { ftp.Upload(false); });
    }
    // Names in the current remote directory, from a listing.
    std::vector<std::string> names()
    {
        run([&] { ftp.List(); });
        // LIST or MLSD, as the server offers.
        std::vector<std::string> out;
        TListParser parser;
        for (const std::string_view l : ftp.ListingLines) {
            TRemoteEntry e;
            if (parser.ParseLine(ftp.ServerType, ftp.ListingLines.Mlsd, std::string(l), e) && e.Name != "." &&
                e.Name != "..")
                out.push_back(e.Name);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_P(RealTransfer, UploadDownloadAndListInBinaryAndAscii)
{
    const QByteArray data = makeData(3 * 1024 * 1024 + 17);
    WriteTestFile(local.filePath(QStringLiteral("src.bin")), data);
    upload(local.filePath(QStringLiteral("src.bin")), "data.bin");
    ASSERT_TRUE(doneSuccess) << rec.dump();
    EXPECT_EQ(FileSha256(work + "/data.bin"), FileSha256(local.filePath(QStringLiteral("src.bin"))));
    EXPECT_EQ(ftp.TransferBytes, data.size());
    EXPECT_TRUE(rec.has(fiDataConnected, ""));

    download("data.bin", local.filePath(QStringLiteral("back.bin")));
    ASSERT_TRUE(doneSuccess) << rec.dump();
    EXPECT_EQ(FileSha256(local.filePath(QStringLiteral("back.bin"))), FileSha256(work + "/data.bin"));
    EXPECT_GT(ftp.PacketCount, 0);

    WriteTestFile(local.filePath(QStringLiteral("text.txt")), "line one\nline two\n");
    ftp.TransferMode = AsciiTransfer;
    upload(local.filePath(QStringLiteral("text.txt")), "text.txt");
    ASSERT_TRUE(doneSuccess);
    download("text.txt", local.filePath(QStringLiteral("text-back.txt")));
    ASSERT_TRUE(doneSuccess);
    QFile back(local.filePath(QStringLiteral("text-back.txt")));
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    // pyftpdlib sends CR LF, vsftpd its own LF: the copy here has LF either way.
    EXPECT_EQ(back.readAll(), QByteArray("line one\nline two\n"));
    EXPECT_EQ(rec.commands.back(), "RETR text.txt");
    EXPECT_NE(std::find(rec.commands.begin(), rec.commands.end(), "TYPE A"), rec.commands.end());

    EXPECT_EQ(names(), (std::vector<std::string>{"data.bin", "text.txt"}));
    EXPECT_TRUE(doneSuccess);
}

TEST_P(RealTransfer, ResumedDownloadAndUploadsAreByteIdentical)
{
    const QByteArray data = makeData(2 * 1024 * 1024);
    WriteTestFile(local.filePath(QStringLiteral("full.bin")), data);
    upload(local.filePath(QStringLiteral("full.bin")), "full.bin");
    ASSERT_TRUE(doneSuccess);

    // A download cut in the middle, resumed from the local length.
    WriteTestFile(local.filePath(QStringLiteral("part.bin")), data.left(777777));
    download("full.bin", local.filePath(QStringLiteral("part.bin")), true);
    ASSERT_TRUE(doneSuccess) << rec.dump();
    EXPECT_NE(std::find(rec.commands.begin(), rec.commands.end(), "REST 777777"), rec.commands.end());
    EXPECT_EQ(FileSha256(local.filePath(QStringLiteral("part.bin"))),
              FileSha256(local.filePath(QStringLiteral("full.bin"))));
    EXPECT_EQ(ftp.TransferBytes, data.size() - 777777);

    // An upload cut in the middle, restarted with REST + STOR, then with APPE.
    for (bool appe : {false, true}) {
        const std::string remote = appe ? "appe.bin" : "rest.bin";
        WriteTestFile(local.filePath(QStringLiteral("half.bin")), data.left(1000000));
        upload(local.filePath(QStringLiteral("half.bin")), remote);
        ASSERT_TRUE(doneSuccess);
        ftp.UseAppe = appe;
        upload(local.filePath(QStringLiteral("full.bin")), remote, 1000000);
        ASSERT_TRUE(doneSuccess) << rec.dump();
        EXPECT_EQ(rec.commands.back(), appe ? "APPE " + remote : "STOR " + remote);
        EXPECT_EQ(FileSha256(work + "/" + QString::fromStdString(remote)),
                  FileSha256(local.filePath(QStringLiteral("full.bin"))))
            << remote;
    }
}

TEST_P(RealTransfer, AbortInTheMiddleWithBothMethods)
{
    // Sparse files: large enough to be caught moving, nothing on disk.
    const qint64 size = 1024LL * 1024 * 1024;
    QFile big(work + "/big.bin");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(size));
    big.close();
    for (bool sync : {true, false}) {
        ftp.RemoteFile = "big.bin";
        ftp.LocalFile = local.filePath(QStringLiteral("big-dl.bin")).toStdString();
        done = 0;
        ftp.TransferBytes = 0;
        ftp.Download(false, false, 0);
        ASSERT_TRUE(WaitFor([&] { return (ftp.TransferBytes > 0 && ftp.ReplyState() == rsTransfer) || done > 0; }));
        ASSERT_EQ(done, 0) << "finished before it could be aborted";
        sync ? ftp.AbortWithSync() : ftp.Abort();
        ASSERT_TRUE(WaitFor([&] { return done > 0 || rec.quit > 0; }, 30000)) << rec.dump();
        EXPECT_EQ(doneSuccess, sync) << (sync ? "AbortWithSync" : "Abort");
        EXPECT_LT(ftp.TransferBytes, size);
        EXPECT_FALSE(ftp.DataSocket().IsConnected());
        // The session goes on: a listing works after the abort.
        EXPECT_EQ(names().size(), 1u);
        EXPECT_TRUE(doneSuccess) << rec.dump().substr(rec.dump().size() > 3000 ? rec.dump().size() - 3000 : 0);
    }
}

// An abort that comes once the file is already whole (the user's click a
// moment late): the server's answer to ABOR comes after the transfer's, and
// must not be taken for the answer to what follows; the next download gets
// its file.
TEST_P(RealTransfer, AnAbortAfterTheFileIsWholeLeavesTheNextTransferItsAnswers)
{
    WriteTestFile(work + "/a.txt", "first\n");
    WriteTestFile(work + "/b.txt", "second\n");
    QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("644"), work + "/a.txt", work + "/b.txt"});
    download("a.txt", local.filePath(QStringLiteral("a.txt")));
    ASSERT_TRUE(doneSuccess) << rec.dump();
    for (const bool sync : {false, true}) {
        done = 0;
        sync ? ftp.AbortWithSync() : ftp.Abort();
        WaitFor([&] { return done > 0 || rec.quit > 0; }, 2000);  // the abort may report at once or never
        QFile::remove(local.filePath(QStringLiteral("b.txt")));
        download("b.txt", local.filePath(QStringLiteral("b.txt")));
        EXPECT_TRUE(doneSuccess) << rec.dump();
        EXPECT_EQ(ReadTestFile(local.filePath(QStringLiteral("b.txt"))), "second\n") << rec.dump();
        EXPECT_EQ(names().size(), 2u) << rec.dump();
    }
}

TEST_P(RealTransfer, EveryFileAndDirectoryCommand)
{
    WriteTestFile(local.filePath(QStringLiteral("f.txt")), "x");
    upload(local.filePath(QStringLiteral("f.txt")), "file with blanks.txt");
    run([&] { ftp.MakeDir("sub dir"); });
    EXPECT_TRUE(QDir(work + "/sub dir").exists());
    const std::string here = ftp.InitialDirectory;
    run([&] { ftp.ChangeDir("sub dir"); });
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.InitialDirectory, here + "/sub dir");
    EXPECT_EQ(ftp.LastDirectory(), "sub dir");
    run([&] { ftp.ChangeDirUp(); });
    EXPECT_EQ(ftp.InitialDirectory, here);
    run([&] { ftp.ChangeDir("missing"); });
    EXPECT_FALSE(doneSuccess);
    EXPECT_EQ(ftp.InitialDirectory, here);  // what the server says is current

    run([&] { ftp.Rename("file with blanks.txt", "renamed.txt"); });
    EXPECT_TRUE(doneSuccess);
    EXPECT_TRUE(QFile::exists(work + "/renamed.txt"));
    run([&] { ftp.Rename("nothing.txt", "x.txt"); });
    EXPECT_FALSE(doneSuccess);
    EXPECT_NE(rec.commands.back(), "RNTO x.txt");

    int chmods = 0;
    ftp.OnFileCHMOD = [&](TFTPclient*) { ++chmods; };
    ftp.Chmod("renamed.txt", "600");
    ASSERT_TRUE(WaitFor([&] { return chmods > 0; }));
    EXPECT_EQ(rec.commands.back(), "SITE CHMOD 600 renamed.txt");
    struct stat st {};
    ASSERT_EQ(::stat((work + "/renamed.txt").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    int raws = 0;
    ftp.OnRawCommand = [&](TFTPclient*) { ++raws; };
    const int before = rec.count(fiMultiLineInner);
    ftp.SendRawCommand("HELP");
    ASSERT_TRUE(WaitFor([&] { return raws > 0; }));
    EXPECT_GT(rec.count(fiMultiLineInner), before);
    EXPECT_EQ(raws, 1);

    ftp.KeepAlive("NOOP");
    run([&] { ftp.ChangeDir("sub dir"); });  // deferred until the NOOP's reply
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(rec.commands[rec.commands.size() - 3], "NOOP");
    run([&] { ftp.ChangeDirUp(); });

    run([&] { ftp.DeleteRemoteFile("renamed.txt"); });
    EXPECT_FALSE(QFile::exists(work + "/renamed.txt"));
    run([&] { ftp.RemoveDir("sub dir"); });
    EXPECT_FALSE(QDir(work + "/sub dir").exists());

    ftp.Quit();
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; }));
    EXPECT_TRUE(rec.has(fiDisconnected, "Disconnected"));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTransfer,
                         ::testing::Combine(::testing::Values(RealServerCase{"vsftpd", &RealServers::vsftpd},
                                                              RealServerCase{"pyftpdlib", &RealServers::pyftpdlib}),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<RealServerCase, bool>>& i) {
                             return std::string(std::get<0>(i.param).name) +
                                    (std::get<1>(i.param) ? "_passive" : "_active");
                         });

// The server is killed in the middle of a download and started again, twenty
// times at growing points of the file: each new session resumes from what
// reached the disk, and the file ends byte-identical.
TEST(RealResume, ServerKilledMidDownloadTwentyTimesThenTheResumedFileIsWhole)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("ftptest"));
    ASSERT_TRUE(QDir().mkpath(home));
    // While kills are due the server is throttled hard, so that little is in
    // flight when it dies: a round moves about rate x the delay until the
    // kill lands, and under the sanitizers with the suite beside it that
    // delay came near a second (at 8 and 16 MiB/s twenty rounds then ate the
    // whole file). The last round runs unthrottled.
    const qint64 size = 128 * 1024 * 1024;
    const int killRoundRate = 2 * 1024 * 1024;
    WriteTestFile(home + QStringLiteral("/big.bin"), makeData(size));
    const QString target = dir.filePath(QStringLiteral("big.local"));
    const quint16 port = ClosedLoopbackPort();
    int kills = 0;
    for (int round = 0; round < 40 && !QFile::exists(target + QStringLiteral(".done")); ++round) {
        auto server = RealServers::startOwnPyftpdlib(port, home, kills < 20 ? killRoundRate : 0);
        TFTPclient ftp;
        FtpRecorder rec(ftp);
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = port;
        ftp.UserName = RealServers::User;
        ftp.UserPassword = RealServers::Password;
        ftp.Timeout = 10;
        ftp.Connect();
        ASSERT_TRUE(WaitFor([&] { return rec.loggedIn > 0; })) << rec.dump();
        ftp.RemoteFile = "big.bin";
        ftp.LocalFile = target.toStdString();
        const qint64 had = QFileInfo(target).size();
        ftp.Download(true, false, size);
        // The kill comes as soon as data flows, until twenty kills are done.
        const qint64 killAt = kills < 20 ? 64 * 1024 : size * 2;
        bool killed = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!killed && ftp.PendingOperation() == poFileReceived && ftp.TransferBytes >= killAt) {
                server->kill();
                killed = true;
                ++kills;
            }
        });
        watch.start(0);
        ASSERT_TRUE(WaitFor([&] { return rec.done > 0 || rec.quit > 0; }, 60000)) << rec.dump();
        watch.stop();
        if (rec.done > 0 && rec.doneSuccess) {
            ASSERT_EQ(kills, 20) << "completed before every kill";
            EXPECT_EQ(ftp.ResumePos, had);
            QFile(target + QStringLiteral(".done")).open(QIODevice::WriteOnly);
        } else {
            EXPECT_GT(QFileInfo(target).size(), had) << "round " << round << " made no progress";
        }
        server->kill();
        server->waitForFinished(5000);
    }
    EXPECT_EQ(kills, 20);
    ASSERT_TRUE(QFile::exists(target + QStringLiteral(".done")));
    EXPECT_EQ(FileSha256(target), FileSha256(home + QStringLiteral("/big.bin")));
}
