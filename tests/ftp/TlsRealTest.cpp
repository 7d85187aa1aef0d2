// FTPS against real servers: vsftpd, pure-ftpd and proftpd with TLS required
// for logins and data (vsftpd and proftpd also requiring session reuse on
// data connections), explicit and implicit, passive and active; the certificate question before anything of the login is sent; a
// server without TLS when TLS is required or only wanted.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool sentLogin(const FtpRecorder& rec)
{
    for (const std::string& c : rec.commands)
        if (c.rfind("USER", 0) == 0 || c.rfind("PASS", 0) == 0)
            return true;
    return false;
}

struct Client {
    TFTPclient ftp;
    FtpRecorder rec{ftp};
    int certificateAsked = 0;
    TCertificateInfo offered;
    bool trust = true;

    Client(quint16 port, TFtpTls tls)
    {
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = port;
        ftp.UserName = RealServers::User;
        ftp.UserPassword = RealServers::Password;
        ftp.Tls = tls;
        ftp.OnCertificate = [this](TFTPclient* c, const TCertificateInfo& info) {
            ++certificateAsked;
            offered = info;
            c->AnswerCertificate(trust);
        };
    }
    bool login()
    {
        ftp.Connect();
        return WaitFor([&] { return rec.loggedIn > 0 || rec.quit > 0 || rec.has(fiAttemptsExhausted); }, 30000) &&
               rec.loggedInSuccess;
    }
    void run(const std::function<void()>& start)
    {
        rec.done = 0;
        start();
        ASSERT_TRUE(WaitFor([&] { return rec.done > 0 || rec.quit > 0; }, 30000)) << rec.dump();
    }
};

}  // namespace

enum class TlsServer { vsftpd, pureFtpd, proftpd };

struct FtpsCase {
    TlsServer server;
    bool implicit;
    bool passive;
};

const ServerInfo& serverFor(TlsServer server, bool implicit)
{
    switch (server) {
        case TlsServer::vsftpd:
            return RealServers::vsftpdTls(implicit);
        case TlsServer::pureFtpd:
            return RealServers::pureFtpdTls();
        case TlsServer::proftpd:
            break;
    }
    return RealServers::proftpdTls(implicit);
}

class FtpsReal : public ::testing::TestWithParam<FtpsCase> {};

// Login, listing, upload and download of a few megabytes over TLS, the
// certificate asked about once (self-signed), data connections resuming the
// control connection's session (vsftpd and proftpd refuse them otherwise).
TEST_P(FtpsReal, LoginListUploadDownloadAllInTls)
{
    const auto [server, implicit, passive] = GetParam();
    Client c(serverFor(server, implicit).port, implicit ? tlsImplicit : tlsExplicit);
    c.ftp.UsePasv = passive;
    ASSERT_TRUE(c.login()) << c.rec.dump();
    EXPECT_EQ(c.certificateAsked, 1);
    EXPECT_NE(c.offered.Subject.find("CN=localhost"), std::string::npos) << c.offered.Subject;
    EXPECT_EQ(c.offered.Sha256.size(), 95u);  // 32 bytes as "AB:..."
    EXPECT_FALSE(c.offered.VerifyText.empty());
    EXPECT_TRUE(c.ftp.Encrypted());
    EXPECT_TRUE(c.ftp.DataProtected());
    EXPECT_TRUE(c.rec.has(fiTlsStarted)) << c.rec.dump();
    // Nothing of the login went out before TLS stood.
    bool tlsSeen = implicit;
    for (const std::string& e : c.rec.events) {
        if (e.rfind(std::to_string(fiTlsStarted) + "\t", 0) == 0)
            tlsSeen = true;
        if (e.find("\tUSER ") != std::string::npos) {
            EXPECT_TRUE(tlsSeen) << c.rec.dump();
        }
    }

    c.run([&] { c.ftp.List(); });
    ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    bool hello = false;
    for (const std::string_view l : c.ftp.ListingLines)
        hello = hello || l.ends_with(" hello.txt");
    EXPECT_TRUE(hello) << c.ftp.ListingLines.size() << " lines; " << c.rec.dump();

    QTemporaryDir local;
    const QByteArray data = pattern(3 * 1024 * 1024 + 5, 7);
    WriteTestFile(local.filePath(QStringLiteral("up.bin")), data);
    const std::string remote = "tls_" + std::to_string(::getpid()) + "_" + std::to_string(static_cast<int>(server)) +
                               (implicit ? "_i" : "_e") + (passive ? "p" : "a");
    c.ftp.LocalFile = local.filePath(QStringLiteral("up.bin")).toStdString();
    c.ftp.RemoteFile = remote;
    c.ftp.ResumePos = 0;
    c.run([&] { c.ftp.Upload(false); });
    ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    const QString onServer = QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(remote);
    EXPECT_EQ(FileSha256(onServer), FileSha256(local.filePath(QStringLiteral("up.bin"))));

    c.ftp.LocalFile = local.filePath(QStringLiteral("back.bin")).toStdString();
    c.run([&] { c.ftp.Download(false, false, data.size()); });
    ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    EXPECT_EQ(FileSha256(local.filePath(QStringLiteral("back.bin"))), FileSha256(onServer));
    EXPECT_TRUE(c.ftp.DataSocket().TlsClosedCleanly() || c.ftp.TransferBytes == data.size());
    QFile::remove(onServer);
}

// pure-ftpd as Debian builds it has no implicit TLS.
const FtpsCase ftpsCases[] = {
    {TlsServer::vsftpd, false, true},  {TlsServer::vsftpd, false, false},  {TlsServer::vsftpd, true, true},
    {TlsServer::vsftpd, true, false},  {TlsServer::pureFtpd, false, true}, {TlsServer::pureFtpd, false, false},
    {TlsServer::proftpd, false, true}, {TlsServer::proftpd, false, false}, {TlsServer::proftpd, true, true},
    {TlsServer::proftpd, true, false},
};
std::string ftpsCaseName(const ::testing::TestParamInfo<FtpsCase>& info)
{
    static const char* const names[] = {"Vsftpd", "PureFtpd", "Proftpd"};
    return std::string(names[static_cast<int>(info.param.server)]) + (info.param.implicit ? "Implicit" : "Explicit") +
           (info.param.passive ? "Passive" : "Active");
}
INSTANTIATE_TEST_SUITE_P(Modes, FtpsReal, ::testing::ValuesIn(ftpsCases), ftpsCaseName);

// A certificate refused (or one naming another host, refused too): the
// connection ends and no user name or password was sent; no second attempt.
TEST(FtpsRealRefusals, AnUntrustedCertificateRefusedSendsNothingOfTheLogin)
{
    for (const bool otherHost : {false, true}) {
        Client c(RealServers::vsftpdTls(false, otherHost).port, tlsExplicit);
        c.ftp.Retry = 3;
        c.trust = false;
        EXPECT_FALSE(c.login());
        EXPECT_EQ(c.certificateAsked, 1);
        EXPECT_FALSE(sentLogin(c.rec)) << c.rec.dump();
        EXPECT_TRUE(c.rec.has(feTls)) << c.rec.dump();
        EXPECT_EQ(c.ftp.ConnectAttempt(), 1);
        if (otherHost) {
            EXPECT_NE(c.offered.Subject.find("other.example"), std::string::npos);
        }
    }
    // Without anyone to ask, an untrusted certificate is refused.
    Client silent(RealServers::vsftpdTls(false).port, tlsExplicit);
    silent.ftp.OnCertificate = nullptr;
    EXPECT_FALSE(silent.login());
    EXPECT_FALSE(sentLogin(silent.rec));
}

// A server without TLS: a site that requires it sends no password in the
// clear; one that only wants it goes on in the clear, and says so.
TEST(FtpsRealRefusals, AServerWithoutTlsIsRefusedOrUsedInTheClearAsAsked)
{
    const quint16 port = RealServers::pyftpdlib().port;
    Client required(port, tlsExplicit);
    EXPECT_FALSE(required.login());
    EXPECT_FALSE(sentLogin(required.rec)) << required.rec.dump();
    EXPECT_TRUE(required.rec.has(feTls));

    Client wanted(port, tlsIfOffered);
    ASSERT_TRUE(wanted.login()) << wanted.rec.dump();
    EXPECT_TRUE(wanted.rec.has(fiTlsNotOffered));
    EXPECT_FALSE(wanted.ftp.Encrypted());
    EXPECT_EQ(wanted.certificateAsked, 0);
    wanted.run([&] { wanted.ftp.List(); });
    EXPECT_TRUE(wanted.rec.doneSuccess);
}

// Through a SOCKS 4 proxy: TLS starts once the proxy has connected through,
// for the control connection and each data connection.
TEST(FtpsRealThroughSocks, LoginAndListingInTlsThroughDante)
{
    const ServerInfo& socks = RealServers::dante();
    for (const bool implicit : {false, true}) {
        Client c(socks.port, implicit ? tlsImplicit : tlsExplicit);
        c.ftp.FirewallType = fwSocks;
        c.ftp.SocksHost = "127.0.0.1";
        c.ftp.SocksPort = RealServers::vsftpdTls(implicit).port;
        c.ftp.ProxyPort = socks.port;
        c.ftp.UsePasv = true;
        ASSERT_TRUE(c.login()) << c.rec.dump();
        EXPECT_TRUE(c.ftp.Encrypted());
        c.run([&] { c.ftp.List(); });
        ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        EXPECT_EQ(c.ftp.DataSocket().SocksVersion, 1);
        bool hello = false;
        for (const std::string_view l : c.ftp.ListingLines)
            hello = hello || l.ends_with(" hello.txt");
        EXPECT_TRUE(hello) << c.rec.dump();
    }
}

// Over TLS a download resumes where the local part ends (REST on a data
// connection that resumes the session), and the session goes on.
TEST(FtpsRealTransfers, ResumeOverTls)
{
    Client c(RealServers::vsftpdTls(false).port, tlsExplicit);
    c.ftp.UsePasv = true;
    ASSERT_TRUE(c.login()) << c.rec.dump();
    const QByteArray data = pattern(8 * 1024 * 1024, 3);
    const std::string name = "tls_resume_" + std::to_string(::getpid());
    const QString onServer = QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(name);
    WriteTestFile(onServer, data);
    QFile::setPermissions(onServer, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                        QFileDevice::ReadGroup);
    QTemporaryDir local;
    const QString part = local.filePath(QStringLiteral("part.bin"));
    WriteTestFile(part, data.left(3 * 1024 * 1024 + 11));
    c.ftp.RemoteFile = name;
    c.ftp.LocalFile = part.toStdString();
    c.ftp.ResumePos = 3 * 1024 * 1024 + 11;
    c.run([&] { c.ftp.Download(true, false, data.size()); });
    ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    EXPECT_EQ(FileSha256(part), FileSha256(onServer));
    EXPECT_EQ(c.ftp.TransferBytes, data.size() - (3 * 1024 * 1024 + 11));

    // The session goes on: a listing and a whole download after the resume.
    c.run([&] { c.ftp.List(); });
    EXPECT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    const QString again = local.filePath(QStringLiteral("again.bin"));
    c.ftp.LocalFile = again.toStdString();
    c.ftp.ResumePos = 0;
    c.run([&] { c.ftp.Download(false, false, data.size()); });
    EXPECT_TRUE(c.rec.doneSuccess) << c.rec.dump();
    EXPECT_EQ(FileSha256(again), FileSha256(onServer));
    QFile::remove(onServer);
}

// Uploads one after another, then downloads. TLS 1.3 tickets serve once on
// vsftpd's and proftpd's side; proftpd 1.3.8 sends none on an upload
// connection, so its third upload in a row finds no ticket left and is
// refused (the queue logs in again for it; see the window's test). Until
// then, and on the other servers throughout, every data connection resumes
// with a ticket not used before: the ones of the control connection first,
// then those each data connection brings, late ones included.
TEST(FtpsRealTransfers, UploadsInARowThenDownloadsEachResumeTheSession)
{
    for (const TlsServer server : {TlsServer::vsftpd, TlsServer::pureFtpd, TlsServer::proftpd}) {
        SCOPED_TRACE(static_cast<int>(server));
        Client c(serverFor(server, false).port, tlsExplicit);
        c.ftp.UsePasv = true;
        ASSERT_TRUE(c.login()) << c.rec.dump();
        QTemporaryDir local;
        // proftpd: two control tickets, one upload, then downloads that each
        // bring one.
        const int files = server == TlsServer::proftpd ? 1 : 6;
        auto remote = [](int i) { return "row_" + std::to_string(::getpid()) + "_" + std::to_string(i); };
        for (int i = 0; i < files; ++i) {
            const QString path = local.filePath(QStringLiteral("up%1").arg(i));
            WriteTestFile(path, pattern(200000 + i, i));
            c.ftp.LocalFile = path.toStdString();
            c.ftp.RemoteFile = remote(i);
            c.ftp.ResumePos = 0;
            c.run([&] { c.ftp.Upload(false); });
            ASSERT_TRUE(c.rec.doneSuccess) << i << c.rec.dump();
        }
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < files; ++i) {
                const QString back = local.filePath(QStringLiteral("back%1").arg(i));
                c.ftp.LocalFile = back.toStdString();
                c.ftp.RemoteFile = remote(i);
                c.run([&] { c.ftp.Download(false, false, 200000 + i); });
                ASSERT_TRUE(c.rec.doneSuccess) << i << c.rec.dump();
                EXPECT_EQ(FileSha256(back), FileSha256(local.filePath(QStringLiteral("up%1").arg(i))));
                // pure-ftpd neither asks for nor offers resumption on data.
                EXPECT_EQ(c.ftp.DataSessionNotResumed(), server == TlsServer::pureFtpd);
            }
        }
        if (server == TlsServer::proftpd) {
            // An upload after the downloads: their tickets serve.
            c.ftp.LocalFile = local.filePath(QStringLiteral("up0")).toStdString();
            c.ftp.RemoteFile = remote(files);
            c.run([&] { c.ftp.Upload(false); });
            EXPECT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        }
        for (int i = 0; i <= files; ++i)
            QFile::remove(QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(remote(i)));
    }
}

// An empty file over TLS: the data connection's handshake still finishes
// and ends with close_notify (ended mid-handshake, vsftpd broke the control
// connection off), and the session goes on; the empty file comes back empty.
TEST(FtpsRealTransfers, AnEmptyFileGoesUpAndDownAndTheSessionGoesOn)
{
    for (const TlsServer server : {TlsServer::vsftpd, TlsServer::pureFtpd, TlsServer::proftpd}) {
        SCOPED_TRACE(static_cast<int>(server));
        Client c(serverFor(server, false).port, tlsExplicit);
        c.ftp.UsePasv = true;
        ASSERT_TRUE(c.login()) << c.rec.dump();
        QTemporaryDir local;
        const std::string remote = "empty_" + std::to_string(::getpid()) + "_" + std::to_string(static_cast<int>(server));
        WriteTestFile(local.filePath(QStringLiteral("empty")), QByteArray());
        // proftpd: two uploads would use both of its tickets (see above).
        for (int i = 0; i < (server == TlsServer::proftpd ? 1 : 2); ++i) {
            c.ftp.LocalFile = local.filePath(QStringLiteral("empty")).toStdString();
            c.ftp.RemoteFile = remote;
            c.ftp.ResumePos = 0;
            c.run([&] { c.ftp.Upload(false); });
            ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        }
        const QString onServer = QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(remote);
        EXPECT_TRUE(QFileInfo::exists(onServer));
        EXPECT_EQ(QFileInfo(onServer).size(), 0);
        c.ftp.LocalFile = local.filePath(QStringLiteral("back")).toStdString();
        c.run([&] { c.ftp.Download(false, false, 0); });
        ASSERT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        EXPECT_TRUE(QFileInfo::exists(local.filePath(QStringLiteral("back"))));
        c.run([&] { c.ftp.List(); });
        EXPECT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        QFile::remove(onServer);
    }
}

// How a TLS download ends decides whether it counts: close_notify, or the
// announced size reached; a stream cut short, one without a size, and one
// that drops TLS mid-transfer (bytes in the clear) fail, and say why.
TEST(FtpsHostileEnds, ADownloadCountsOnlyWhenItsEndProvesItWhole)
{
    struct Case {
        const char* mode;
        bool counts;
        const char* said;  // part of the error, when it fails
    };
    const Case cases[] = {{"clean", true, ""},
                          {"exact", true, ""},
                          {"short", false, "close_notify"},
                          {"nosize", false, "close_notify"},
                          {"plaintext", false, "wrong version number"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.mode);
        RealServers::MisbehavingFtps server(QString::fromLatin1(k.mode));
        Client c(server.port, tlsExplicit);
        c.ftp.UsePasv = true;
        ASSERT_TRUE(c.login()) << c.rec.dump();
        QTemporaryDir local;
        c.ftp.LocalFile = local.filePath(QStringLiteral("f")).toStdString();
        c.ftp.RemoteFile = "f";
        c.run([&] { c.ftp.Download(false, false, 0); });
        EXPECT_EQ(c.rec.doneSuccess, k.counts) << c.rec.dump();
        if (k.counts) {
            EXPECT_EQ(QFileInfo(local.filePath(QStringLiteral("f"))).size(), RealServers::MisbehavingFtps::DownloadSize);
        } else {
            EXPECT_NE(c.rec.dump().find(k.said), std::string::npos) << c.rec.dump();
        }
    }
}

// Aborting a TLS download and a TLS upload in the middle, with both abort
// methods: the data connection goes, the session goes on in TLS, and the
// next download over TLS is whole.
TEST(FtpsRealTransfers, AbortInTheMiddleAndTheSessionGoesOn)
{
    for (const TlsServer server : {TlsServer::vsftpd, TlsServer::proftpd}) {
        SCOPED_TRACE(static_cast<int>(server));
        Client c(serverFor(server, false).port, tlsExplicit);
        c.ftp.UsePasv = true;
        ASSERT_TRUE(c.login()) << c.rec.dump();
        const std::string name = "tls_abort_" + std::to_string(::getpid()) + "_" + std::to_string(static_cast<int>(server));
        const QString onServer = QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(name);
        {
            QFile big(onServer);  // sparse: large enough to be caught moving
            ASSERT_TRUE(big.open(QIODevice::WriteOnly));
            ASSERT_TRUE(big.resize(1024LL * 1024 * 1024));
        }
        QFile::setPermissions(onServer, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QTemporaryDir local;
        for (const bool sync : {true, false}) {
            c.rec.done = 0;
            c.ftp.RemoteFile = name;
            c.ftp.LocalFile = local.filePath(QStringLiteral("big")).toStdString();
            c.ftp.TransferBytes = 0;
            c.ftp.Download(false, false, 0);
            ASSERT_TRUE(WaitFor([&] { return (c.ftp.TransferBytes > 0 && c.ftp.ReplyState() == rsTransfer) || c.rec.done > 0; }));
            ASSERT_EQ(c.rec.done, 0) << "finished before it could be aborted" << c.rec.dump();
            sync ? c.ftp.AbortWithSync() : c.ftp.Abort();
            ASSERT_TRUE(WaitFor([&] { return c.rec.done > 0 || c.rec.quit > 0; }, 30000)) << c.rec.dump();
            EXPECT_EQ(c.rec.quit, 0) << c.rec.dump();
            EXPECT_LT(c.ftp.TransferBytes, 1024LL * 1024 * 1024);
            EXPECT_FALSE(c.ftp.DataSocket().IsConnected());
        }
        // An upload aborted too.
        const QByteArray data = pattern(64 * 1024 * 1024, 5);
        WriteTestFile(local.filePath(QStringLiteral("up")), data);
        c.rec.done = 0;
        c.ftp.LocalFile = local.filePath(QStringLiteral("up")).toStdString();
        c.ftp.RemoteFile = name + "_up";
        c.ftp.ResumePos = 0;
        c.ftp.TransferBytes = 0;
        c.ftp.Upload(false);
        ASSERT_TRUE(WaitFor([&] { return c.ftp.TransferBytes > 0 || c.rec.done > 0; }));
        c.ftp.Abort();
        ASSERT_TRUE(WaitFor([&] { return c.rec.done > 0 || c.rec.quit > 0; }, 30000)) << c.rec.dump();
        EXPECT_EQ(c.rec.quit, 0) << c.rec.dump();
        // The session goes on in TLS: a small file comes down whole.
        const QString small = QString::fromStdString(RealServers::root()) + "/ftptest/" + QString::fromStdString(name) + "_s";
        WriteTestFile(small, pattern(100000, 9));
        QFile::setPermissions(small, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        c.ftp.RemoteFile = name + "_s";
        c.ftp.LocalFile = local.filePath(QStringLiteral("small")).toStdString();
        c.run([&] { c.ftp.Download(false, false, 100000); });
        EXPECT_TRUE(c.rec.doneSuccess) << c.rec.dump();
        EXPECT_EQ(FileSha256(local.filePath(QStringLiteral("small"))), FileSha256(small));
        EXPECT_TRUE(c.ftp.Encrypted());
        for (const QString& f : {onServer, onServer + "_up", small})
            QFile::remove(f);
    }
}
