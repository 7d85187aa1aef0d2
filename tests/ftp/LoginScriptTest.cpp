// Login sequences against the scriptable server: exact transcripts for every
// firewall type and for the replies real servers will not give.
#include "LoginFixture.h"

#include "net/EventDispatch.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using Strings = std::vector<std::string>;

TEST_F(ScriptedLogin, PlainLoginSendsTheFullSequenceAndReportsInOrder)
{
    server.addSession({{"220 scripted"}, plainLoginReplies()});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.transcript(), plainLoginCommands);
    EXPECT_EQ(rec.loggedIn, 1);
    EXPECT_TRUE(rec.loggedInSuccess);
    EXPECT_EQ(ftp.ServerType, ftpstUNIX);
    EXPECT_EQ(ftp.SystemType(), "UNIX TYPE: L8");
    EXPECT_TRUE(ftp.ResumeSupported);
    EXPECT_EQ(ftp.InitialDirectory, "/home/bob");
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
    EXPECT_EQ(ftp.ConnectAttempt(), 1);
    EXPECT_EQ(ftp.LocalHost(), "127.0.0.1");
    // FEAT (refused by this server from before it: no features named) comes
    // after SYST.
    EXPECT_EQ(rec.flow(), (std::vector<int>{29, 0, 5, 5, 5, 27, 5, 5, 5, 5}));
    EXPECT_TRUE(rec.has(fiCommandSent, "FEAT"));
    EXPECT_EQ(ftp.Features().Get(TFeature::Mlsd), TOffer::Unknown);
    EXPECT_FALSE(ftp.ServerUsesUtf8());
    EXPECT_TRUE(rec.has(fiAttemptStart, "127.0.0.1"));
    EXPECT_TRUE(rec.has(fiCommandSent, "PASS xxxxxx"));
    EXPECT_TRUE(rec.has(fiReplyLine, "220 scripted"));
    for (const std::string& e : rec.events)
        EXPECT_EQ(e.find("secret"), std::string::npos) << "password shown: " << e;
}

TEST_F(ScriptedLogin, WarFtpdOnFirstLineOfMultiLineGreeting)
{
    server.addSession({{"220-WAR-FTPD 1.6 Ready\n220-Welcome\n220 ready"}, plainLoginReplies("215 UNIX Type: L8")});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(ftp.WarFtpdServer());
    // Each line: information 4, then 24, 26, 25 in turn.
    const Strings head(rec.events.begin() + 2, rec.events.begin() + 8);
    EXPECT_EQ(head, (Strings{"4\t220-WAR-FTPD 1.6 Ready", "24\t220-WAR-FTPD 1.6 Ready", "4\t220-Welcome",
                             "26\t220-Welcome", "4\t220 ready", "25\t220 ready"}));
    const Strings sent = server.transcript();
    EXPECT_EQ(sent.front(), "USER bob");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "USER bob"), 1);
    // A greeting that names WAR-FTPD turns detection off.
    EXPECT_EQ(ftp.ServerType, ftpstDefault);
}

TEST_F(ScriptedLogin, WarFtpdElsewhereIsNotExamined)
{
    server.addSession({{"220-Welcome\n220-WAR-FTPD 1.6\n220 ready"}, plainLoginReplies()});
    server.addSession({{"220 WAR-FTPD 1.6 ready"}, plainLoginReplies()});
    ASSERT_TRUE(login());
    EXPECT_FALSE(ftp.WarFtpdServer());
    EXPECT_EQ(ftp.ServerType, ftpstUNIX);
    rec.loggedIn = 0;
    ftp.Close();
    ftp.InitialDirectory.clear();
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_FALSE(ftp.WarFtpdServer());
}

TEST_F(ScriptedLogin, MultiLineEndsOnlyAtItsOwnCodeAndLettersAreIgnored)
{
    // The reply began with 220-, ends at the 220 line; a line of letters
    // before it is shown but otherwise ignored, and a "230 " line inside is
    // text. Inside the "331-" reply a "230 " line must not be taken for the
    // answer, or the password would never be sent.
    auto replies = plainLoginReplies();
    replies[0] = "331-Password needed\n230 looks final but is not\n331 Send it";
    server.addSession({{"hello there\n220-first\n 230 not last\n230 inner\n220 last"}, replies});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(fiReplyLine, "hello there"));
    EXPECT_TRUE(rec.has(fiMultiLineInner, " 230 not last"));
    EXPECT_TRUE(rec.has(fiMultiLineInner, "230 inner"));
    EXPECT_TRUE(rec.has(fiMultiLineLast, "220 last"));
    EXPECT_TRUE(rec.has(fiMultiLineInner, "230 looks final but is not"));
    EXPECT_EQ(server.transcript(), plainLoginCommands);
}

TEST_F(ScriptedLogin, ServiceReadyLaterWaitsForTheGreeting)
{
    server.addSession({{"120 Service ready in 1 minute", "<later:300:220 ready now>"}, plainLoginReplies()});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(rec.loggedIn, 1);
    EXPECT_EQ(server.transcript(), plainLoginCommands);
}

TEST_F(ScriptedLogin, ServiceClosingBeforeLoginRetriesWithoutQuit)
{
    server.addSession({{"421 Too many users"}, {}});
    server.addSession({{"220 ok now"}, plainLoginReplies()});
    ftp.Retry = 2;
    ftp.RetryDelay = 0;
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(server.transcript(0).empty());  // no QUIT
    EXPECT_EQ(server.transcript(1), plainLoginCommands);
    EXPECT_TRUE(rec.has(fiRetryScheduled, ""));
    EXPECT_EQ(ftp.ConnectAttempt(), 2);
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, RefusedLoginRetriesAfterDelayThenGivesUp)
{
    server.addSession({{"220 hi"}, {"331 pw", "530 Login incorrect"}});
    ftp.Retry = 2;
    ftp.RetryDelay = 1;
    ASSERT_TRUE(login(8000)) << rec.dump();
    ASSERT_TRUE(WaitFor([&] { return server.transcript(1).size() == 3; }));
    EXPECT_EQ(server.transcript(0), (Strings{"USER bob", "PASS secret", "QUIT"}));
    EXPECT_EQ(server.transcript(1), (Strings{"USER bob", "PASS secret", "QUIT"}));
    EXPECT_EQ(rec.count(fiRetryScheduled), 1);
    EXPECT_TRUE(rec.has(fiRetryScheduled, "正等待重试..."));
    EXPECT_EQ(rec.count(fiAttemptsExhausted), 1);
    EXPECT_EQ(ftp.ConnectAttempt(), 2);
    EXPECT_EQ(rec.loggedIn, 0);
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
    // RetryDelay × 1000 + 100 ms between the attempts (lower bound only).
    ASSERT_EQ(server.acceptTimes().size(), 2u);
    EXPECT_GE(server.acceptTimes()[1] - server.acceptTimes()[0], 1000u);
    EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(ScriptedLogin, RetryWithoutDelayHasEmptyWaitingText)
{
    server.addSession({{"530 go away"}, {}});
    ftp.Retry = 3;
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(rec.count(fiRetryScheduled), 2);
    EXPECT_TRUE(rec.has(fiRetryScheduled, ""));
    EXPECT_EQ(ftp.ConnectAttempt(), 3);
}

TEST_F(ScriptedLogin, RetryZeroOrOneMeansOneAttempt)
{
    server.addSession({{"530 go away"}, {}});
    ftp.Retry = 0;
    ASSERT_TRUE(login());
    EXPECT_EQ(server.connections(), 1);
    EXPECT_FALSE(rec.has(fiRetryScheduled));
}

TEST_F(ScriptedLogin, GreetingThatNeverComesTimesOut)
{
    server.addSession({{"<silent>"}, {}});
    ftp.Timeout = 1;
    ASSERT_TRUE(login(6000)) << rec.dump();
    EXPECT_EQ(rec.flow(), (std::vector<int>{29, 0, 7}));
    EXPECT_TRUE(server.transcript().empty());  // no QUIT after a time-out
    EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(ScriptedLogin, ServerClosingBeforeGreetingIsReported)
{
    server.addSession({{"<close>"}, {}});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(fiClosedBeforeLogin, "从服务器断开."));
    EXPECT_TRUE(rec.has(fiAttemptsExhausted));
    EXPECT_EQ(rec.quit, 0);
}

TEST_F(ScriptedLogin, ServerClosingDuringLoginIsAFailedAttempt)
{
    server.addSession({{"220 hi"}, {"331 pw", "<close>"}});
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.Retry = 2;
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(fiClosedBeforeLogin, "从服务器断开."));
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, ServerClosingAfterLoginIsDisconnectedAndQuit)
{
    server.addSession({{"220 hi"}, [] {
                           auto r = plainLoginReplies();
                           r.push_back("221 Goodbye\n<close>");
                           return r;
                       }()});
    ASSERT_TRUE(login());
    ftp.SendCommand("QUIT", rsQuit);
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; }));
    EXPECT_TRUE(rec.has(fiDisconnected, "Disconnected"));
    EXPECT_FALSE(rec.has(fiClosedBeforeLogin));
    EXPECT_FALSE(ftp.IsConnected());
}

TEST_F(ScriptedLogin, ServiceClosingAfterLoginIsOnlyShown)
{
    server.addSession({{"220 hi"}, [] {
                           auto r = plainLoginReplies();
                           r.push_back("421 Timeout\n<close>");
                           return r;
                       }()});
    ftp.Retry = 3;
    ASSERT_TRUE(login());
    ftp.KeepAlive("NOOP");
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; }));
    EXPECT_TRUE(rec.has(fiReplyLine, "421 Timeout"));
    EXPECT_TRUE(rec.has(fiDisconnected, "Disconnected"));
    EXPECT_FALSE(rec.has(fiRetryScheduled));
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(ScriptedLogin, SKeyChallengeIsHandedToTheApplication)
{
    server.addSession({{"220 hi"}, {"331 s/key 99 ab12345", "230 ok", "215 UNIX", "502 no", "257 \"/\""}});
    ftp.SKeyLogin = true;
    ftp.OnFtpInfo = [this, inner = ftp.OnFtpInfo](TFTPclient* c, FtpInfo info, const std::string& text) {
        inner(c, info, text);
        if (info == fiSKeyChallenge)
            c->SendPassword("ONE TIME PAD");
    };
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(rec.has(fiSKeyChallenge, "s/key 99 ab12345"));
    EXPECT_EQ(server.transcript(), (Strings{"USER bob", "PASS ONE TIME PAD", "SYST", "REST 100", "PWD"}));
}

TEST_F(ScriptedLogin, SendPasswordOutsideTheUserStepDoesNothing)
{
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ASSERT_TRUE(login());
    ftp.SendPassword("late");
    QCoreApplication::processEvents();
    EXPECT_EQ(server.transcript(), plainLoginCommands);
}

TEST_F(ScriptedLogin, EmptyPasswordSendsAnEmptyLine)
{
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.UserPassword.clear();
    ASSERT_TRUE(login());
    EXPECT_EQ(server.transcript()[1], "");
}

TEST_F(ScriptedLogin, AccountIsSentWhenThePasswordReplyAsksForIt)
{
    server.addSession(
        {{"220 hi"}, {"331 pw", "332 need account", "230 ok", "215 UNIX", "350 r", "350 r", "257 \"/\""}});
    ftp.UserAccount = "acct1";
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.transcript(),
              (Strings{"USER bob", "PASS secret", "ACCT acct1", "SYST", "REST 100", "REST 0", "PWD"}));
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, RefusedAccountFails)
{
    server.addSession({{"220 hi"}, {"331 pw", "332 need account", "530 bad account"}});
    ftp.UserAccount = "acct1";
    ASSERT_TRUE(login());
    EXPECT_TRUE(rec.has(fiAttemptsExhausted));
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() == 4; }));
    EXPECT_EQ(server.transcript().back(), "QUIT");
}

TEST_F(ScriptedLogin, ResumeProbeRefusedSkipsRestZero)
{
    server.addSession({{"220 hi"}, {"331 pw", "230 ok", "215 UNIX", "502 REST not implemented", "257 \"/\""}});
    ASSERT_TRUE(login());
    EXPECT_EQ(server.transcript(), (Strings{"USER bob", "PASS secret", "SYST", "REST 100", "PWD"}));
    EXPECT_FALSE(ftp.ResumeSupported);
}

TEST_F(ScriptedLogin, ResumeSettingSkipsTheProbe)
{
    for (uint8_t setting : {1, 2}) {
        ScriptServer s;
        s.addSession({{"220 hi"}, {"331 pw", "230 ok", "215 UNIX", "257 \"/\""}});
        TFTPclient c;
        FtpRecorder r(c);
        c.FtpServer = "127.0.0.1";
        c.Port = s.port();
        c.UserName = "bob";
        c.UserPassword = "pw";
        c.ResumeSupport = setting;
        c.Connect();
        ASSERT_TRUE(WaitFor([&] { return r.loggedIn > 0; }));
        EXPECT_EQ(s.transcript(), (Strings{"USER bob", "PASS pw", "SYST", "PWD"}));
        EXPECT_EQ(c.ResumeSupported, setting == 1);
    }
}

TEST_F(ScriptedLogin, InitialDirectoryRefusedStillLogsIn)
{
    server.addSession(
        {{"220 hi"}, {"331 pw", "230 ok", "215 UNIX", "350 r", "350 r", "550 No such directory", "257 \"/home/bob\""}});
    ftp.InitialDirectory = "/no such dir";
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_EQ(server.transcript()[5], "CWD /no such dir");
    EXPECT_EQ(rec.flow(), (std::vector<int>{29, 0, 5, 5, 5, 27, 5, 5, 5, 5, 16, 14, 5}));
    EXPECT_TRUE(rec.has(fiLoginDirectory, "登录"));
    EXPECT_EQ(ftp.InitialDirectory, "/home/bob");
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, SystReplyOf500LeavesDefaultAndDetectionOffKeepsType)
{
    server.addSession({{"220 hi"}, plainLoginReplies("500 SYST not understood")});
    ftp.ServerType = ftpstUNIX;
    ASSERT_TRUE(login());
    EXPECT_EQ(ftp.ServerType, ftpstDefault);

    ScriptServer s2;
    s2.addSession({{"220 hi"}, plainLoginReplies("215 UNIX Type: L8")});
    TFTPclient c;
    FtpRecorder r(c);
    c.FtpServer = "127.0.0.1";
    c.Port = s2.port();
    c.UserName = "bob";
    c.UserPassword = "pw";
    c.ServerDetect = false;
    c.ServerType = ftpstVmsUcx;
    c.Connect();
    ASSERT_TRUE(WaitFor([&] { return r.loggedIn > 0; }));
    EXPECT_EQ(c.ServerType, ftpstVmsUcx);
    EXPECT_EQ(c.SystemType(), "");
}

TEST_F(ScriptedLogin, KeepAliveDefersTheNextCommand)
{
    server.addSession({{"220 hi"}, [] {
                           auto r = plainLoginReplies();
                           r.push_back("200 NOOP ok");
                           r.push_back("250 CWD ok");
                           return r;
                       }()});
    ASSERT_TRUE(login());
    ftp.KeepAlive("NOOP");
    ftp.SendCommand("CWD /pub", rsCwd);
    EXPECT_EQ(rec.commands.back(), "NOOP");  // deferred, not sent yet
    EXPECT_EQ(ftp.ReplyState(), rsKeepAlive);
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() >= 8; }));
    EXPECT_EQ(server.transcript()[6], "NOOP");
    EXPECT_EQ(server.transcript()[7], "CWD /pub");
    // Its reply is handled as the directory change's: "PWD" follows.
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() == 9; }));
    EXPECT_EQ(server.transcript()[8], "PWD");
}

TEST_F(ScriptedLogin, OnlyOneCommandIsDeferred)
{
    server.addSession({{"220 hi"}, [] {
                           auto r = plainLoginReplies();
                           r.push_back("200 NOOP ok");
                           return r;
                       }()});
    ASSERT_TRUE(login());
    ftp.KeepAlive("NOOP");
    ftp.SendCommand("CWD /first", rsCwd);
    ftp.SendCommand("CWD /second", rsCwd);
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() == 8; }));
    EXPECT_EQ(server.transcript()[7], "CWD /second");
    QCoreApplication::processEvents();
    EXPECT_EQ(server.transcript().size(), 8u);
}

TEST_F(ScriptedLogin, SessionLogWithTimestampsMasksThePassword)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("session.log"));
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.LogSession = true;
    ftp.TimestampLog = true;
    ftp.LogFile = log.toStdString();
    ASSERT_TRUE(login());
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_FALSE(text.contains("secret"));
    const QString s = QString::fromUtf8(text);
    EXPECT_TRUE(s.contains(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] PASS xxxxxx\\r$"),
                                              QRegularExpression::MultilineOption)))
        << text.toStdString();
    EXPECT_TRUE(s.contains(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] 220 hi\\r$"),
                                              QRegularExpression::MultilineOption)));
    EXPECT_EQ(text.count("\r\n"), 15);  // 8 lines received, 7 commands sent
}

TEST_F(ScriptedLogin, SessionLogWithoutTimestampsAndUnwritableLogIsIgnored)
{
    QTemporaryDir dir;
    server.addSession({{"220 hi"}, plainLoginReplies()});
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.LogSession = true;
    ftp.LogFile = dir.filePath(QStringLiteral("plain.log")).toStdString();
    ASSERT_TRUE(login());
    QFile f(QString::fromStdString(ftp.LogFile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("220 hi\r\nUSER bob\r\n"));
    ftp.Close();
    rec.loggedIn = 0;
    ftp.InitialDirectory.clear();
    ftp.LogFile = dir.filePath(QStringLiteral("missing/dir/x.log")).toStdString();
    ASSERT_TRUE(login());
    EXPECT_TRUE(rec.loggedInSuccess);
}

TEST_F(ScriptedLogin, CompletionEventRunsAfterTheReplyHandler)
{
    // Drive the reply reader directly: the PWD reply posts the notice, the
    // event comes only from the loop.
    ftp.ResumeSupport = 2;
    FtpClientTestAccess::setReplyState(ftp, rsSyst);
    FtpClientTestAccess::replyLine(ftp, "215 UNIX Type: L8");
    EXPECT_EQ(ftp.ReplyState(), rsFeat);
    FtpClientTestAccess::replyLine(ftp, "500 FEAT not understood");
    EXPECT_EQ(ftp.ReplyState(), rsPwd);
    FtpClientTestAccess::replyLine(ftp, "257 \"/x\" ok");
    EXPECT_EQ(rec.loggedIn, 0);
    EXPECT_EQ(ftp.InitialDirectory, "/x");
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
    ASSERT_TRUE(WaitFor([&] { return rec.loggedIn == 1; }, 1000));
}

TEST_F(ScriptedLogin, ListenerMayStartTheNextOperationFromTheEvent)
{
    server.addSession({{"220 hi"}, [] {
                           auto r = plainLoginReplies();
                           r.push_back("200 NOOP ok");
                           return r;
                       }()});
    ftp.OnLoggedIn = [](TFTPclient* c) { c->KeepAlive("NOOP"); };
    ftp.Connect();
    ASSERT_TRUE(WaitFor([&] { return server.transcript().size() == 7; }));
    EXPECT_EQ(server.transcript().back(), "NOOP");
    ASSERT_TRUE(WaitFor([&] { return ftp.ReplyState() == rsIdle; }));
}

TEST_F(ScriptedLogin, CloseSendsNothingAndReportsClosed)
{
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ASSERT_TRUE(login());
    ftp.Close();
    EXPECT_TRUE(rec.has(fiClosed, ""));
    EXPECT_FALSE(ftp.IsConnected());
    QCoreApplication::processEvents();
    EXPECT_EQ(server.transcript(), plainLoginCommands);
}

TEST_F(ScriptedLogin, RefusedConnectionIsErrorTwentyWithoutRetry)
{
    const RefusingPort refusing;
    ftp.Port = refusing.port();
    ftp.Retry = 3;
    ASSERT_TRUE(login());
    EXPECT_TRUE(rec.has(feSocket, "连接被拒绝"));
    EXPECT_EQ(rec.quit, 1);
    EXPECT_FALSE(rec.has(fiRetryScheduled));
    EXPECT_EQ(ftp.ConnectAttempt(), 1);
}

TEST_F(ScriptedLogin, ListenerExceptionDoesNotStopTheLogin)
{
    std::vector<std::string> caught;
    SetApplicationExceptionHandler([&](const std::string& w) { caught.push_back(w); });
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.OnFtpInfo = [this, inner = ftp.OnFtpInfo](TFTPclient* c, FtpInfo info, const std::string& text) {
        inner(c, info, text);
        if (info == fiReplyLine && text == "220 hi")
            throw std::runtime_error("listener bug");
    };
    ASSERT_TRUE(login());
    EXPECT_EQ(caught, std::vector<std::string>{"listener bug"});
    EXPECT_TRUE(rec.loggedInSuccess);
    SetApplicationExceptionHandler(nullptr);
}
