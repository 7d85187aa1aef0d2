// FTPS against real servers: vsftpd with TLS required for logins and data
// and session reuse on data connections, explicit and implicit, passive and
// active; the certificate question before anything of the login is sent; a
// server without TLS when TLS is required or only wanted.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
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

class FtpsReal : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

// Login, listing, upload and download of a few megabytes over TLS, the
// certificate asked about once (self-signed), data connections resuming the
// control connection's session (vsftpd refuses them otherwise).
TEST_P(FtpsReal, LoginListUploadDownloadAllInTls)
{
    const auto [implicit, passive] = GetParam();
    Client c(RealServers::vsftpdTls(implicit).port, implicit ? tlsImplicit : tlsExplicit);
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
    const std::string remote = "tls_" + std::to_string(::getpid()) + (implicit ? "_i" : "_e") + (passive ? "p" : "a");
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

INSTANTIATE_TEST_SUITE_P(Modes, FtpsReal,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                             return std::string(std::get<0>(info.param) ? "Implicit" : "Explicit") +
                                    (std::get<1>(info.param) ? "Passive" : "Active");
                         });

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
