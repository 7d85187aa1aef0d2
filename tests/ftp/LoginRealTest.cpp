// Logins against real servers on loopback: vsftpd and pyftpdlib directly, as
// the local user and anonymously; through dante (SOCKS 4) and ftp-proxy.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"

#include <gtest/gtest.h>

namespace {

struct Login {
    TFTPclient ftp;
    FtpRecorder rec{ftp};

    Login(const std::string& user, const std::string& password)
    {
        ftp.UserName = user;
        ftp.UserPassword = password;
        ftp.ServerDetect = true;
        ftp.Timeout = 10;
    }
    void direct(quint16 port)
    {
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = port;
    }
    void through(TFirewallType type, quint16 proxyPort, const std::string& host, quint16 port)
    {
        ftp.FirewallType = type;
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = proxyPort;
        ftp.SocksHost = host;
        ftp.SocksPort = port;
    }
    bool run()
    {
        ftp.Connect();
        return WaitFor([&] { return rec.loggedIn > 0 || rec.has(fiAttemptsExhausted) || rec.quit > 0; }, 20000);
    }
};

using ServerFn = const ServerInfo& (*)();

struct RealCase {
    const char* name;
    ServerFn server;
    bool absoluteHome;  // PWD of the local user is the absolute home
};

}  // namespace

class RealLogin : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealLogin, LocalUserLogsIn)
{
    const RealCase& c = GetParam();
    Login l(RealServers::User, RealServers::Password);
    l.direct(c.server().port);
    ASSERT_TRUE(l.run()) << l.rec.dump();
    ASSERT_TRUE(l.rec.loggedInSuccess) << l.rec.dump();
    EXPECT_EQ(l.ftp.ServerType, ftpstUNIX);
    EXPECT_EQ(l.ftp.SystemType(), "UNIX TYPE: L8");
    // vsftpd accepts "REST 100" before "TYPE I"; pyftpdlib refuses it in ASCII
    // mode only ("501 Resuming transfers not allowed in ASCII mode"): both resume.
    EXPECT_TRUE(l.ftp.ResumeSupported) << l.rec.dump();
    EXPECT_TRUE(l.rec.has(fiCommandSent, "REST 100"));
    EXPECT_EQ(l.ftp.InitialDirectory, c.absoluteHome ? RealServers::root() + "/ftptest" : "/");
    EXPECT_EQ(l.rec.flow().front(), fiAttemptStart);
    EXPECT_TRUE(l.rec.has(fiSystReply, ""));
}

TEST_P(RealLogin, AnonymousLogsIn)
{
    Login l("anonymous", "guest@example.org");
    l.direct(GetParam().server().port);
    ASSERT_TRUE(l.run()) << l.rec.dump();
    ASSERT_TRUE(l.rec.loggedInSuccess) << l.rec.dump();
    EXPECT_EQ(l.ftp.InitialDirectory, "/");
    EXPECT_EQ(l.ftp.ServerType, ftpstUNIX);
}

TEST_P(RealLogin, WrongPasswordSendsQuitAndGivesUp)
{
    Login l(RealServers::User, "wrong");
    l.direct(GetParam().server().port);
    l.ftp.Retry = 2;
    ASSERT_TRUE(l.run()) << l.rec.dump();
    EXPECT_EQ(l.rec.loggedIn, 0);
    EXPECT_EQ(l.rec.count(fiRetryScheduled), 1);
    EXPECT_EQ(l.rec.count(fiCommandSent), 2 * 3);  // USER, PASS, QUIT twice
    EXPECT_EQ(l.ftp.ConnectAttempt(), 2);
}

TEST_P(RealLogin, InitialDirectoryIsEntered)
{
    Login l(RealServers::User, RealServers::Password);
    l.direct(GetParam().server().port);
    l.ftp.InitialDirectory = GetParam().absoluteHome ? RealServers::root() + "/ftptest/子目录" : "/子目录";
    const std::string wanted = l.ftp.InitialDirectory;
    ASSERT_TRUE(l.run()) << l.rec.dump();
    EXPECT_TRUE(l.rec.has(fiLoginDirectory, "登录"));
    EXPECT_FALSE(l.rec.has(fiInitialDirRefused));
    EXPECT_EQ(l.ftp.InitialDirectory, wanted);

    Login missing(RealServers::User, RealServers::Password);
    missing.direct(GetParam().server().port);
    missing.ftp.InitialDirectory = "/no/such/dir";
    ASSERT_TRUE(missing.run());
    EXPECT_TRUE(missing.rec.has(fiInitialDirRefused, ""));
    EXPECT_TRUE(missing.rec.loggedInSuccess);
}

TEST_P(RealLogin, ThroughSocks4)
{
    const ServerInfo& socks = RealServers::dante();
    Login l(RealServers::User, RealServers::Password);
    l.through(fwSocks, socks.port, "127.0.0.1", GetParam().server().port);
    ASSERT_TRUE(l.run()) << l.rec.dump();
    EXPECT_TRUE(l.rec.loggedInSuccess) << l.rec.dump();
    EXPECT_EQ(l.rec.events.front(), "32\t");
    EXPECT_EQ(l.ftp.ServerType, ftpstUNIX);
}

TEST_P(RealLogin, ListingThroughSocks4UsesTheProxyForData)
{
    const ServerInfo& socks = RealServers::dante();
    Login l(RealServers::User, RealServers::Password);
    l.through(fwSocks, socks.port, "127.0.0.1", GetParam().server().port);
    l.ftp.ProxyPort = socks.port;
    ASSERT_TRUE(l.run());
    int listed = 0;
    l.ftp.OnListingDone = [&](TFTPclient*) { ++listed; };
    l.ftp.List();
    ASSERT_TRUE(WaitFor([&] { return listed > 0; })) << l.rec.dump();
    EXPECT_TRUE(l.ftp.Success());
    EXPECT_TRUE(std::any_of(l.ftp.ListingLines.begin(), l.ftp.ListingLines.end(),
                            [](std::string_view line) { return line.find("hello.txt") != std::string::npos; }));
    EXPECT_EQ(l.ftp.DataSocket().SocksVersion, 1);
}

TEST_P(RealLogin, ThroughFtpProxyWithUserAtHostPort)
{
    const ServerInfo& proxy = RealServers::ftpProxy();
    Login l(RealServers::User, RealServers::Password);
    const quint16 port = GetParam().server().port;
    l.through(fwUserHost, proxy.port, "127.0.0.1", port);
    ASSERT_TRUE(l.run()) << l.rec.dump();
    EXPECT_TRUE(l.rec.loggedInSuccess) << l.rec.dump();
    EXPECT_TRUE(l.rec.has(fiCommandSent, "USER ftptest@127.0.0.1:" + std::to_string(port)));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealLogin,
                         ::testing::Values(RealCase{"vsftpd", &RealServers::vsftpd, true},
                                           RealCase{"pyftpdlib", &RealServers::pyftpdlib, false}),
                         [](const ::testing::TestParamInfo<RealCase>& i) { return std::string(i.param.name); });

TEST(RealSocks, RefusedDestinationGivesTheProxyErrorText)
{
    const ServerInfo& socks = RealServers::dante();
    Login l(RealServers::User, RealServers::Password);
    l.through(fwSocks, socks.port, "127.0.0.2", RealServers::vsftpd().port);
    ASSERT_TRUE(l.run()) << l.rec.dump();
    EXPECT_TRUE(l.rec.has(feSocket, "代理服务器不能连接到远程主机")) << l.rec.dump();
    EXPECT_EQ(l.rec.quit, 1);
}
