// Firewall login forms, server-type detection, "PWD" parsing and no-proxy
// matching.
#include "LoginFixture.h"

using Strings = std::vector<std::string>;

namespace {

struct FirewallCase {
    TFirewallType type;
    int socksPort;
    std::vector<ScriptReply> replies;   // after the greeting
    std::vector<std::string> expected;  // the exact transcript
};

// The login's firewall part in order, then its end by command.
std::vector<ScriptReply> with(const std::vector<std::string>& head)
{
    std::vector<ScriptReply> r(head.begin(), head.end());
    r.insert(r.end(),
             {{"SYST", "215 UNIX Type: L8"}, {"REST 100", "350 r"}, {"REST 0", "350 r"}, {"PWD", "257 \"/\""}});
    return r;
}

std::vector<std::string> expect(std::vector<std::string> head)
{
    for (const char* c : {"SYST", "REST 100", "REST 0", "PWD"})
        head.push_back(c);
    return head;
}

}  // namespace

class FirewallLogin : public ScriptedLogin, public ::testing::WithParamInterface<FirewallCase> {};

TEST_P(FirewallLogin, SendsTheCommandsOfItsType)
{
    const FirewallCase& c = GetParam();
    server.addSession({{"220 gateway"}, c.replies});
    ftp.FirewallType = c.type;
    ftp.SocksHost = "ftp.example.org";
    ftp.SocksPort = c.socksPort;
    ftp.ProxyUser = "puser";
    ftp.ProxyPass = "ppass";
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.transcript(), c.expected);
    EXPECT_TRUE(rec.loggedInSuccess);
    // Through a firewall the attempt is announced with empty text.
    EXPECT_EQ(rec.events.front(), "32\t");
    for (const std::string& e : rec.events)
        EXPECT_TRUE(e.find("ppass") == std::string::npos && e.find("secret") == std::string::npos) << e;
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, FirewallLogin,
    ::testing::Values(
        FirewallCase{fwUserLogin, 21, with({"331 pw", "230 ok"}), expect({"USER bob", "PASS secret"})},
        FirewallCase{fwUserHost, 2121, with({"331 pw", "230 ok"}),
                     expect({"USER bob@ftp.example.org:2121", "PASS secret"})},
        FirewallCase{fwUserHost, 21, with({"331 pw", "230 ok"}), expect({"USER bob@ftp.example.org", "PASS secret"})},
        FirewallCase{fwUserHost2, 2121, with({"331 pw", "230 ok"}),
                     expect({"USER bob@ftp.example.org 2121", "PASS secret"})},
        FirewallCase{fwUserHost2, 21, with({"331 pw", "230 ok"}), expect({"USER bob@ftp.example.org", "PASS secret"})},
        // The firewall steps do not look at the reply code.
        FirewallCase{fwSite, 21, with({"331 proxy pw", "530 whatever", "220 connected", "331 pw", "230 ok"}),
                     expect({"USER puser", "PASS ppass", "SITE ftp.example.org", "USER bob", "PASS secret"})},
        FirewallCase{fwSiteUserHost, 21, with({"331 proxy pw", "230 proxy ok", "331 pw", "230 ok"}),
                     expect({"USER puser", "PASS ppass", "USER bob@ftp.example.org", "PASS secret"})}),
    [](const ::testing::TestParamInfo<FirewallCase>& info) {
        return std::string(FirewallTypeName(info.param.type).substr(2)) + "_" + std::to_string(info.param.socksPort);
    });

TEST_F(ScriptedLogin, SiteFirewallAnswersARefusingGreetingAllTheSame)
{
    server.addSession({{"530 no"}, with({"331", "230", "220 connected", "331 pw", "230 ok"})});
    ftp.FirewallType = fwSite;
    ftp.SocksHost = "real";
    ftp.ProxyUser = "puser";
    ftp.ProxyPass = "ppass";
    ASSERT_TRUE(login());
    EXPECT_EQ(server.transcript().front(), "USER puser");
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, SiteFirewallRefusingTheSiteCommandFailsTheLogin)
{
    server.addSession({{"220 gw"}, {"331", "230", "530 unknown host"}});
    ftp.FirewallType = fwSite;
    ftp.SocksHost = "real";
    ASSERT_TRUE(login());
    EXPECT_TRUE(rec.has(fiAttemptsExhausted));
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() == 4; }));
    EXPECT_EQ(server.transcript().back(), "QUIT");
}

TEST(ServerDetection, SystTextsMapToTheirTypes)
{
    const std::pair<const char*, TFTPServerType> cases[] = {
        {"UNIX TYPE: L8", ftpstUNIX},
        {"WINDOWS_NT", ftpstWin2K},
        {"WINDOWS_NT VERSION 3.51", ftpstWin2K},
        {"VMS MULTINET V4.3", ftpstVmsMultinet},
        {"VMS V5.5", ftpstVmsUcx},
        {"VM/ESA VERSION 2", ftpstVM},
        {"VM/VPS", ftpstVMVPS},
        {"MVS IS THE OPERATING SYSTEM", ftpstMVS},
        {"OS/2", ftpstOS2},
        {"NETWARE", ftpSTNetware},
        {"MACOS PETER'S SERVER", ftpstMacOS},
        {"MACOS WEBSTAR FTP; PBD3", ftpstMacOS},
        {"BSD-199506", ftpstBSD},
        {"UNIX TYPE: L8 VERSION: BSD-199506", ftpstUNIX},  // L8 is tested after BSD
        {"CLIX", ftpstClix},
        {"ULTRIX", ftpstULTRIX},
        {"QVT", ftpstQVT},
        {"NCSA", ftpstNCSA},
        {"CHAMELEON", ftpstChameleon},
        {"REDHAT", ftpstRedhat},
        {"UNIX REDHAT", ftpstRedhat},
        {"NETWARE UNIX", ftpSTNetware},
        {"UNIX VMS", ftpstVmsUcx},  // VMS overrides everything
        {"PLAN9", ftpstDefault},
        {"", ftpstDefault},
    };
    for (auto [text, type] : cases)
        EXPECT_EQ(ServerTypeName(DetectServerType(text)), ServerTypeName(type)) << text;
}

TEST_F(ScriptedLogin, SystTextIsUpperCasedAndCutAt99Characters)
{
    const std::string longText = "windows_nt " + std::string(120, 'x');
    server.addSession({{"220 hi"}, plainLoginReplies("215 " + longText)});
    ASSERT_TRUE(login());
    EXPECT_EQ(ftp.ServerType, ftpstWin2K);
    EXPECT_EQ(ftp.SystemType().size(), 99u);
    EXPECT_EQ(ftp.SystemType().substr(0, 11), "WINDOWS_NT ");
}

TEST(PwdReply, PathBetweenTheFirstTwoQuotes)
{
    EXPECT_EQ(ParsePwdReply("257 \"/pub/files\" is current directory."), "/pub/files");
    EXPECT_EQ(ParsePwdReply("257 \"/with blank/dir\""), "/with blank/dir");
    EXPECT_EQ(ParsePwdReply("257 no quotes here"), "");
    EXPECT_EQ(ParsePwdReply("257 \"/a\"\"b\" doubled quote ends it"), "/a");
    EXPECT_EQ(ParsePwdReply("257 \"/unterminated"), "/unterminated");
    EXPECT_EQ(ParsePwdReply("257 \"\""), "");
}

TEST(NoProxy, EntriesMatchInTheirThreeForms)
{
    struct Case {
        const char* entry;
        const char* host;
        bool match;
    };
    const Case cases[] = {
        {"ftp.local", "ftp.local", true},
        {"ftp.local", "FTP.LOCAL", false},  // exact match is case-sensitive
        {"*.example.org", "ftp.example.org", true},
        {"*.example.org", "example.org", false},
        {"*example", "my-example-host", true},
        {"192.168.*", "192.168.1.7", true},
        {"192.168.*", "192.169.1.7", false},
        {"192.168.*", "192.16", false},
        {"ftp*.net", "ftp7.org", true},  // only the part before "*" counts
        {"*", "anything", true},
        {"", "host", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesNoProxyEntry(c.entry, c.host), c.match) << c.entry << " / " << c.host;
}

TEST(NoProxy, MatchTurnsTheFirewallOff)
{
    TFTPclient ftp;
    ftp.NoProxyHost = {"intra.*", "*.corp"};
    ftp.FirewallType = fwUserHost;
    EXPECT_FALSE(ftp.IsNoProxyHost("ftp.example.org"));
    EXPECT_EQ(ftp.FirewallType, fwUserHost);
    EXPECT_TRUE(ftp.IsNoProxyHost("files.corp"));
    EXPECT_EQ(ftp.FirewallType, fwNone);
}

TEST(Commands, LineEndsInsideACommandAreNotSent)
{
    ScriptServer server;
    server.addSession({{"220 hi"}, plainLoginReplies()});
    TFTPclient ftp;
    FtpRecorder rec(ftp);
    ftp.FtpServer = "127.0.0.1";
    ftp.Port = server.port();
    ftp.UserName = "bob\r\nDELE important";
    ftp.UserPassword = "secret";
    ftp.Connect();
    ASSERT_TRUE(WaitFor([&] { return rec.loggedIn > 0; }));
    EXPECT_EQ(server.transcript().front(), "USER bob");
    EXPECT_EQ(server.transcript().size(), 6u);
}
