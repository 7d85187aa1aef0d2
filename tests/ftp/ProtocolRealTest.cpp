// The protocol of today's servers against real ones: what FEAT names, MLSD
// where offered (LIST where not), names in UTF-8.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <unistd.h>
#include <utime.h>

namespace {

struct ProtocolServer {
    const char* name;
    const ServerInfo& (*server)();
    bool mlsd;  // offers MLSD
    bool mfmt;  // offers MFMT
};

const ProtocolServer protocolServers[] = {
    {"vsftpd", &RealServers::vsftpd, false, false},
    {"pureftpd", &RealServers::pureFtpd, true, true},
    {"proftpd", &RealServers::proftpd, true, true},
    {"pyftpdlib", &RealServers::pyftpdlib, true, true},
};

}  // namespace

class ProtocolReal : public ::testing::TestWithParam<ProtocolServer> {
protected:
    TFTPclient ftp;
    FtpRecorder rec{ftp};
    QString home = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest");
    std::string dirName;
    QString work;

    void SetUp() override
    {
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = GetParam().server().port;
        ftp.UserName = RealServers::User;
        ftp.UserPassword = RealServers::Password;
        ftp.ServerDetect = true;
        ftp.Connect();
        ASSERT_TRUE(WaitFor([&] { return rec.loggedIn > 0 || rec.quit > 0 || rec.has(fiAttemptsExhausted); }));
        ASSERT_TRUE(rec.loggedInSuccess) << rec.dump();
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dirName = "p" + std::to_string(::getpid()) + "_" + std::to_string(std::hash<std::string>{}(test) % 100000);
        work = home + QLatin1Char('/') + QString::fromStdString(dirName);
        QDir(work).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(work));
        // Servers that run as the user write only where it may.
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("ftptest"), work});
        run([&] { ftp.ChangeDir(dirName); });
        ASSERT_TRUE(rec.doneSuccess) << rec.dump();
    }
    void TearDown() override { QDir(work).removeRecursively(); }

    void run(const std::function<void()>& start, int ms = 30000)
    {
        rec.done = 0;
        start();
        ASSERT_TRUE(WaitFor([&] { return rec.done > 0 || rec.quit > 0; }, ms)) << rec.dump();
    }

    std::vector<TRemoteEntry> list()
    {
        run([&] { ftp.List(); });
        EXPECT_TRUE(rec.doneSuccess) << rec.dump();
        std::vector<TRemoteEntry> entries;
        TListParser parser;
        parser.BeginListing();
        for (const std::string_view line : ftp.ListingLines) {
            TRemoteEntry e;
            if (parser.ParseLine(ftp.ServerType, ftp.ListingLines.Mlsd, std::string(line), e) && e.Name != "." &&
                e.Name != "..")
                entries.push_back(e);
        }
        return entries;
    }
};

TEST_P(ProtocolReal, FeatNamesWhatTheServerOffersAndTheListingUsesMlsdOnlyWhereOffered)
{
    const ProtocolServer& s = GetParam();
    EXPECT_TRUE(rec.has(fiCommandSent, "FEAT"));
    EXPECT_EQ(ftp.Features().Offered(TFeature::Mlsd), s.mlsd) << ftp.Features().Summary();
    EXPECT_EQ(ftp.Features().Offered(TFeature::Mfmt), s.mfmt) << ftp.Features().Summary();
    EXPECT_TRUE(ftp.ServerUsesUtf8()) << ftp.Features().Summary();

    // A file of a size no column guess could take for another number, an
    // old date, a folder, a dot file and a name with a blank and Chinese.
    QFile f(work + QStringLiteral("/报告 2021.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(123457, 'x'));
    f.close();
    const QDateTime stamp(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    const struct utimbuf times {stamp.toSecsSinceEpoch(), stamp.toSecsSinceEpoch()};
    ASSERT_EQ(::utime(f.fileName().toLocal8Bit().constData(), &times), 0);
    ASSERT_TRUE(QDir(work).mkdir(QStringLiteral("子目录")));
    QFile hidden(work + QStringLiteral("/.hidden"));
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.close();

    const std::vector<TRemoteEntry> entries = list();
    EXPECT_EQ(ftp.ListingLines.Mlsd, s.mlsd);
    EXPECT_TRUE(rec.has(fiCommandSent, s.mlsd ? "MLSD" : "LIST"));
    ASSERT_EQ(entries.size(), 2u) << ftp.ListingLines.Lines().size();
    const auto file = std::find_if(entries.begin(), entries.end(), [](const TRemoteEntry& e) { return !e.IsDir; });
    const auto dir = std::find_if(entries.begin(), entries.end(), [](const TRemoteEntry& e) { return e.IsDir; });
    ASSERT_NE(file, entries.end());
    ASSERT_NE(dir, entries.end());
    EXPECT_EQ(file->Name, "报告 2021.bin");
    EXPECT_EQ(dir->Name, "子目录");
    EXPECT_EQ(file->Size, 123457);
    const QDateTime local = stamp.toLocalTime();
    if (s.mlsd) {
        // MLSD: the exact moment, to the second, from UTC.
        EXPECT_EQ(file->Date, TListingDate::Of(local.date(), local.time())) << ListText::DateKey(file->Date);
    } else {
        // LIST of an old file: the day only.
        EXPECT_EQ(file->Date.Kind, TListingDate::Day);
        EXPECT_EQ(file->Date.Value().date(), local.date());
    }
}

TEST_P(ProtocolReal, AnUploadKeepsItsTimeWhereTheServerSetsTimesAndADownloadLearnsTheExactTime)
{
    const ProtocolServer& s = GetParam();
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("up.bin"));
    WriteTestFile(source, QByteArray(5000, 'u'));
    const QDateTime stamp(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
    ftp.LocalFile = source.toStdString();
    ftp.RemoteFile = "up.bin";
    ftp.UploadTime = stamp.toSecsSinceEpoch();
    run([&] { ftp.Upload(false); });
    ASSERT_TRUE(rec.doneSuccess) << rec.dump();
    EXPECT_EQ(ftp.UploadTime, 0);  // one upload's
    const QDateTime onServer = QFileInfo(work + QStringLiteral("/up.bin")).lastModified().toUTC();
    if (s.mfmt) {
        EXPECT_TRUE(rec.has(fiCommandSent, "MFMT 20200102030405 up.bin")) << rec.dump();
        EXPECT_EQ(onServer, stamp);
    } else {
        EXPECT_NE(onServer, stamp);  // vsftpd: no way to set it
    }

    // The server's exact time of a file, to the second.
    const QDateTime old(QDate(2019, 6, 7), QTime(8, 9, 10), Qt::UTC);
    const struct utimbuf times {old.toSecsSinceEpoch(), old.toSecsSinceEpoch()};
    ASSERT_EQ(::utime((work + QStringLiteral("/up.bin")).toLocal8Bit().constData(), &times), 0);
    ftp.LocalFile = local.filePath(QStringLiteral("down.bin")).toStdString();
    ftp.AskFileTime = true;
    run([&] { ftp.Download(false, false, 5000); });
    ASSERT_TRUE(rec.doneSuccess) << rec.dump();
    EXPECT_EQ(ftp.ReceivedTime(), old.toSecsSinceEpoch()) << rec.dump();
    EXPECT_FALSE(ftp.AskFileTime);
}

INSTANTIATE_TEST_SUITE_P(Servers, ProtocolReal, ::testing::ValuesIn(protocolServers),
                         [](const auto& info) { return std::string(info.param.name); });

// IPv6: a server listening on ::1 only, reached by its address; passive
// data by EPSV, active by EPRT (neither PASV nor PORT can name IPv6).
TEST(ProtocolIPv6, LoginListAndTransfersBothWaysOverIPv6)
{
    QTemporaryDir root;
    const QString home = root.path() + QStringLiteral("/ftptest");
    ASSERT_TRUE(QDir().mkpath(home));
    WriteTestFile(home + QStringLiteral("/six.bin"), QByteArray(200000, '6'));
    const quint16 port = ClosedLoopbackPort();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, logging\n"
                                 "from pyftpdlib.authorizers import DummyAuthorizer\n"
                                 "from pyftpdlib.handlers import FTPHandler\n"
                                 "from pyftpdlib.servers import FTPServer\n"
                                 "logging.basicConfig(level=logging.WARNING)\n"
                                 "a = DummyAuthorizer(); a.add_user('ftptest', 'ftppass', sys.argv[2], perm='elradfmwMT')\n"
                                 "FTPHandler.authorizer = a\n"
                                 "FTPServer(('::1', int(sys.argv[1])), FTPHandler).serve_forever()\n"),
                  QString::number(port), home});
    ASSERT_TRUE(server.waitForStarted(5000));
    struct Stop {
        QProcess& p;
        ~Stop()
        {
            p.kill();
            p.waitForFinished();
        }
    } stop{server};
    ASSERT_TRUE(WaitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHostIPv6, port);
            return probe.waitForConnected(200);
        },
        10000))
        << "pyftpdlib did not listen on ::1";

    for (bool passive : {true, false}) {
        TFTPclient ftp;
        FtpRecorder rec{ftp};
        ftp.FtpServer = "::1";
        ftp.Port = port;
        ftp.UserName = RealServers::User;
        ftp.UserPassword = RealServers::Password;
        ftp.UsePasv = passive;
        ftp.Connect();
        ASSERT_TRUE(WaitFor([&] { return rec.loggedIn > 0 || rec.has(fiAttemptsExhausted); }, 20000)) << rec.dump();
        ASSERT_TRUE(rec.loggedInSuccess) << rec.dump();
        EXPECT_EQ(ftp.PeerAddress(), "::1");
        auto run = [&](const std::function<void()>& start) {
            rec.done = 0;
            start();
            return WaitFor([&] { return rec.done > 0 || rec.quit > 0; }, 20000);
        };
        ASSERT_TRUE(run([&] { ftp.List(); })) << rec.dump();
        EXPECT_TRUE(rec.doneSuccess) << rec.dump();
        EXPECT_EQ(ftp.ListingLines.size(), passive ? 1u : 2u);  // the passive round's upload too
        EXPECT_EQ(rec.has(fiCommandSent, "EPSV"), passive) << rec.dump();

        QTemporaryDir local;
        ftp.LocalFile = local.filePath(QStringLiteral("six.bin")).toStdString();
        ftp.RemoteFile = "six.bin";
        ASSERT_TRUE(run([&] { ftp.Download(false, false, 200000); })) << rec.dump();
        EXPECT_TRUE(rec.doneSuccess) << rec.dump();
        EXPECT_EQ(ReadTestFile(local.filePath(QStringLiteral("six.bin"))), std::string(200000, '6'));
        ftp.RemoteFile = passive ? "up-passive.bin" : "up-active.bin";
        ASSERT_TRUE(run([&] { ftp.Upload(false); })) << rec.dump();
        EXPECT_TRUE(rec.doneSuccess) << rec.dump();
        EXPECT_EQ(ReadTestFile(home + "/" + QString::fromStdString(ftp.RemoteFile)), std::string(200000, '6'));
        bool eprt = false;
        for (const std::string& c : rec.commands)
            eprt = eprt || c.rfind("EPRT |2|::1|", 0) == 0;
        EXPECT_EQ(eprt, !passive) << rec.dump();
        EXPECT_EQ(std::count(rec.commands.begin(), rec.commands.end(), std::string("PASV")), 0) << rec.dump();
        ftp.Close();
    }
}
