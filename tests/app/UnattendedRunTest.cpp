// The real program run as cron runs it: what it tells on stderr, where its
// password comes from when not on the command line, broken command lines,
// and SIGTERM while a dialog is open.

#include "QueueWindow.h"
#include "RealServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>

namespace {

// pyftpdlib of the test's own, serving /pub/a.zip.
struct Server : RealServers::OwnPyftpdlib {
    Server() : OwnPyftpdlib({{QStringLiteral("pub/a.zip"), pattern(30000, 9)}}) {}
};

QStringList login(const Server& s, bool withPassword = true)
{
    QStringList l{QStringLiteral("HOST=127.0.0.1"), QStringLiteral("PORT=%1").arg(s.port),
                  QStringLiteral("USER=ftptest")};
    if (withPassword)
        l << QStringLiteral("PASS=ftppass");
    return l;
}

QString errors(Program& p)
{
    return QString::fromUtf8(p.p.readAllStandardError());
}

}  // namespace

// Every error and the final summary reach stderr; Qt's offscreen warnings
// do not.
TEST(UnattendedReport, ErrorsAndTheSummaryGoToStderrAndQtNoiseDoesNot)
{
    const Server s;
    QTemporaryDir target;
    Program failing;
    EXPECT_EQ(failing.run(login(s) + QStringList{QStringLiteral("GET=/pub/none.zip|") + target.path(),
                                                 QStringLiteral("QUIT=YES")}),
              1);
    const QString failed = errors(failing);
    EXPECT_TRUE(failed.contains(QStringLiteral("下载失败: /pub/none.zip"))) << failed.toStdString();
    EXPECT_TRUE(failed.contains(QStringLiteral("失败 (状态 1): 0 个文件已传输"))) << failed.toStdString();
    EXPECT_FALSE(failed.contains(QStringLiteral("This plugin does not support"))) << failed.toStdString();
    EXPECT_FALSE(failed.contains(QStringLiteral("qt.qpa"))) << failed.toStdString();

    Program fine;
    QTemporaryDir target2;
    const QString scriptPath = target2.filePath(QStringLiteral("s.txt"));
    EXPECT_EQ(fine.run(login(s) +
                       QStringList{QStringLiteral("GET=/pub/a.zip|") + target2.path(), QStringLiteral("QUIT=YES")}),
              0);
    const QString done = errors(fine);
    EXPECT_TRUE(done.contains(QStringLiteral("完成 (状态 0): 1 个文件已传输, 0 个失败, 0 个仍在队列中")))
        << done.toStdString();

    // A script's failure too.
    WriteTestFile(scriptPath, "ASCII\nCD-R:/pub\n");
    Program script;
    EXPECT_EQ(script.run({QLatin1Char('+') + scriptPath}), 1);
    const QString scriptErrors = errors(script);
    EXPECT_TRUE(scriptErrors.contains(QStringLiteral("CD-R:/pub"))) << scriptErrors.toStdString();
}

// A value holding a CR or LF is a broken command line: nothing of it runs,
// nothing reaches the server, and the run ends with status 2 and the reason.
TEST(UnattendedReport, AControlCharacterInAValueEndsTheRunBeforeItConnects)
{
    const Server s;
    QTemporaryDir target;
    for (const QString& value : {QStringLiteral("GET=/pub/a.zip\r\nDELE /pub/a.zip|") + target.path(),
                                 QStringLiteral("GET=/pub/a.zip\n|") + target.path()}) {
        Program p;
        EXPECT_EQ(p.run(login(s) + QStringList{value, QStringLiteral("QUIT=YES")}), 2);
        EXPECT_TRUE(errors(p).contains(QStringLiteral("命令行参数含有控制字符: GET=")));
        EXPECT_FALSE(QFileInfo::exists(target.filePath(QStringLiteral("a.zip"))));
    }
}

// The password from CORVYNE_PASSWORD or ~/.netrc (only one its owner alone
// may read), so that it is not in every user's process list.
TEST(UnattendedReport, ThePasswordComesFromTheEnvironmentOrNetrc)
{
    const Server s;
    {
        QTemporaryDir target;
        Program p;
        p.env.insert(QStringLiteral("CORVYNE_PASSWORD"), QStringLiteral("ftppass"));
        EXPECT_EQ(p.run(login(s, false) +
                        QStringList{QStringLiteral("GET=/pub/a.zip|") + target.path(), QStringLiteral("QUIT=YES")}),
                  0)
            << errors(p).toStdString();
        EXPECT_TRUE(QFileInfo::exists(target.filePath(QStringLiteral("a.zip"))));
    }
    QTemporaryDir home;
    const QString netrc = home.filePath(QStringLiteral(".netrc"));
    WriteTestFile(netrc, "machine other login x password y\nmachine 127.0.0.1\n  login ftptest\n  password ftppass\n");
    for (const bool privateFile : {true, false}) {
        QFile::setPermissions(netrc, privateFile ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                       QFileDevice::ReadGroup | QFileDevice::ReadOther);
        QTemporaryDir target;
        Program p;
        p.env.insert(QStringLiteral("HOME"), home.path());
        p.env.remove(QStringLiteral("NETRC"));
        // Neither USER= nor PASS=: both from the file.
        const int status = p.run({QStringLiteral("HOST=127.0.0.1"), QStringLiteral("PORT=%1").arg(s.port),
                                  QStringLiteral("GET=/pub/a.zip|") + target.path(), QStringLiteral("QUIT=YES")},
                                 "[Setup]\r\nRetry=1\r\n");  // a refused login is not tried again and again
        const QString said = errors(p);
        if (privateFile) {
            EXPECT_EQ(status, 0) << said.toStdString();
            EXPECT_TRUE(QFileInfo::exists(target.filePath(QStringLiteral("a.zip"))));
        } else {
            EXPECT_NE(status, 0);
            EXPECT_TRUE(said.contains(QStringLiteral("可被其他用户读取"))) << said.toStdString();
        }
    }
}
