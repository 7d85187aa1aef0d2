// Hostile or broken servers: overlong lines, floods, bytes that are not text.
#include "LoginFixture.h"

#include <random>

TEST_F(ScriptedLogin, LineWithoutEndIsAProtocolError)
{
    server.addSession({{"<raw>220" + std::string(200000, 'A')}, {}});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(feSocket, "信息太长"));
    EXPECT_EQ(rec.quit, 1) << rec.dump();
    EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(ScriptedLogin, FloodOfReplyLinesIsReadAndDropped)
{
    std::string flood = "220-start";
    for (int i = 0; i < 50000; ++i)
        flood += "\n220-line " + std::to_string(i) + " of a very chatty greeting";
    flood += "\n220 end";
    server.addSession({{flood}, plainLoginReplies()});
    ASSERT_TRUE(login(30000)) << rec.events.size();
    EXPECT_EQ(rec.count(fiMultiLineInner), 50000);
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, NonTextBytesAreShownAndOtherwiseIgnored)
{
    server.addSession({{"ABC letters as a code", "\xff\xfe\x80 not utf-8", std::string("x\0y", 3), "220 hello"},
                       plainLoginReplies()});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(fiReplyLine, "\xff\xfe\x80 not utf-8"));
    EXPECT_TRUE(rec.has(fiReplyLine, std::string("x\0y", 3)));
    EXPECT_TRUE(rec.loggedInSuccess);
    EXPECT_EQ(server.transcript(), plainLoginCommands);
}

TEST_F(ScriptedLogin, ShortAndOddRepliesDoNotDerailTheStateMachine)
{
    // "2" alone is a final 2xx; "3" a 3xx; a bare "5" refuses.
    server.addSession({{"2"}, {"3", "2", "215", "5", "257"}});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.transcript(), (std::vector<std::string>{"USER bob", "PASS secret", "SYST", "REST 100", "PWD"}));
    EXPECT_EQ(ftp.InitialDirectory, "");
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST(BadInput, RandomLinesInEveryStateNeverCrash)
{
    std::mt19937 rng(12345);
    const int32_t states[] = {rsGreeting,  rsUser,     rsPass,       rsAcct,   rsSyst,   rsInitialCwd, rsPwd,
                              rsRestProbe, rsRestZero, rsFwGreeting, rsFwUser, rsFwPass, rsKeepAlive,  rsIdle};
    for (int round = 0; round < 200; ++round) {
        TFTPclient ftp;
        ftp.ServerDetect = true;
        ftp.FirewallType = static_cast<TFirewallType>(round % FirewallTypeCount);
        FtpClientTestAccess::setReplyState(ftp, states[round % std::size(states)]);
        for (int i = 0; i < 30; ++i) {
            std::string line(rng() % 40, '\0');
            for (char& ch : line)
                ch = static_cast<char>(rng() % 4 == 0 ? "0123456789- "[rng() % 12] : rng() % 256);
            FtpClientTestAccess::replyLine(ftp, line);
            ASSERT_NE(ReplyStateName(ftp.ReplyState()), "unknown") << ftp.ReplyState();
        }
        QCoreApplication::processEvents();
        ftp.Close();
        EXPECT_FALSE(ftp.IsConnected());
    }
}
