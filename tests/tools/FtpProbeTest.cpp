// ftpprobe: its options, and the program itself against real servers.
#include "ProbeOptions.h"
#include "RealServers.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

std::optional<ProbeOptions> parse(std::vector<std::string> args, std::string* err = nullptr)
{
    std::string e;
    auto o = ParseProbeOptions(args, e);
    if (err)
        *err = e;
    return o;
}

struct ProbeRun {
    int status = -1;
    std::vector<std::pair<int, std::string>> events;
    std::string err;
};

ProbeRun probe(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(FTPPROBE_PATH), args);
    ProbeRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitCode();
    r.err = p.readAllStandardError().toStdString();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))  // the closing byte count line
            continue;
        const int tab = line.indexOf('\t');
        r.events.emplace_back(line.left(tab).toInt(), line.mid(tab + 1).toStdString());
    }
    return r;
}

// Kinds other than reply lines and multi-line markers, in order.
std::vector<int> flow(const ProbeRun& r)
{
    std::vector<int> out;
    for (auto& [k, t] : r.events)
        if (k != 4 && (k < 24 || k > 26))
            out.push_back(k);
    return out;
}

}  // namespace

TEST(ProbeOptions, ParsesEveryOption)
{
    auto o = parse({"--firewall",      "UserHost2", "--proxy",       "gw.local:2100",
                    "--proxy-user",    "pu",        "--proxy-pass",  "pp",
                    "--retry",         "3",         "--retry-delay", "2",
                    "--timeout",       "7",         "--dir",         "/pub",
                    "ftp.example.org", "2121",      "bob",           "pw"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firewall, fwUserHost2);
    EXPECT_EQ(o->proxyHost, "gw.local");
    EXPECT_EQ(o->proxyPort, 2100);
    EXPECT_EQ(o->proxyUser, "pu");
    EXPECT_EQ(o->proxyPass, "pp");
    EXPECT_EQ(o->retry, 3);
    EXPECT_EQ(o->retryDelay, 2);
    EXPECT_EQ(o->timeout, 7);
    EXPECT_EQ(o->directory, "/pub");
    EXPECT_EQ(o->host, "ftp.example.org");
    EXPECT_EQ(o->port, 2121);
    EXPECT_EQ(o->user, "bob");
    EXPECT_EQ(o->password, "pw");
    for (auto [name, type] : {std::pair{"none", fwNone},
                              {"SOCKS", fwSocks},
                              {"site", fwSite},
                              {"userhost", fwUserHost},
                              {"UserLogin", fwUserLogin},
                              {"siteuserhost", fwSiteUserHost},
                              {"userhost2", fwUserHost2}})
        EXPECT_EQ(FirewallTypeFromName(name), type) << name;
}

TEST(ProbeOptions, RejectsBadInputWithAReason)
{
    std::string err;
    EXPECT_FALSE(parse({"h", "21", "u"}, &err));
    EXPECT_NE(err.find("HOST PORT USER PASSWORD"), std::string::npos);
    EXPECT_FALSE(parse({"h", "70000", "u", "p"}, &err));
    EXPECT_FALSE(parse({"--firewall", "magic", "h", "21", "u", "p"}, &err));
    EXPECT_NE(err.find("magic"), std::string::npos);
    EXPECT_FALSE(parse({"--firewall", "socks", "h", "21", "u", "p"}, &err));  // needs --proxy
    EXPECT_FALSE(parse({"--proxy", "nohostport", "h", "21", "u", "p"}, &err));
    EXPECT_FALSE(parse({"--retry", "x", "h", "21", "u", "p"}, &err));
    EXPECT_FALSE(parse({"h", "21", "u", "p", "--timeout"}, &err));
    EXPECT_TRUE(parse({"--help"})->help);
}

TEST(FtpProbe, LogsInDirectlyAndPrintsKindsInOrder)
{
    const ServerInfo& s = RealServers::vsftpd();
    ProbeRun r = probe({QStringLiteral("--dir"), QString::fromStdString(RealServers::root() + "/ftptest/子目录"),
                        QStringLiteral("127.0.0.1"), QString::number(s.port), QStringLiteral("ftptest"),
                        QStringLiteral("ftppass")});
    ASSERT_EQ(r.status, 0) << r.err;
    // 29 attempt, 0 connected, commands (5), 27 after SYST, 37 what FEAT
    // named (with UTF8: "OPTS UTF8 ON" follows), 14 at the directory step.
    EXPECT_EQ(flow(r), (std::vector<int>{29, 0, 5, 5, 5, 27, 5, 37, 5, 5, 5, 5, 14, 5, 23}));
    EXPECT_EQ(r.events[2], std::make_pair(4, std::string("220 (vsFTPd 3.0.3)")));
    EXPECT_EQ(r.events[5], std::make_pair(5, std::string("PASS xxxxxx")));
}

TEST(FtpProbe, ResolvesANameFirst)
{
    ProbeRun r = probe({QStringLiteral("localhost"), QString::number(RealServers::pyftpdlib().port),
                        QStringLiteral("anonymous"), QStringLiteral("x@y")});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GE(r.events.size(), 3u);
    EXPECT_EQ(r.events[0], std::make_pair(29, std::string("localhost")));
    EXPECT_EQ(r.events[1], std::make_pair(3, std::string("127.0.0.1")));
    EXPECT_EQ(r.events[2], std::make_pair(0, std::string("127.0.0.1")));
}

TEST(FtpProbe, ThroughSocksAndFtpProxy)
{
    const quint16 target = RealServers::pyftpdlib().port;
    ProbeRun socks = probe({QStringLiteral("--firewall"), QStringLiteral("socks"), QStringLiteral("--proxy"),
                            QStringLiteral("127.0.0.1:%1").arg(RealServers::dante().port), QStringLiteral("127.0.0.1"),
                            QString::number(target), QStringLiteral("ftptest"), QStringLiteral("ftppass")});
    ASSERT_EQ(socks.status, 0) << socks.err;
    EXPECT_EQ(socks.events.front(), std::make_pair(32, std::string()));

    ProbeRun proxy =
        probe({QStringLiteral("--firewall"), QStringLiteral("userhost"), QStringLiteral("--proxy"),
               QStringLiteral("127.0.0.1:%1").arg(RealServers::ftpProxy().port), QStringLiteral("127.0.0.1"),
               QString::number(target), QStringLiteral("ftptest"), QStringLiteral("ftppass")});
    ASSERT_EQ(proxy.status, 0) << proxy.err;
    EXPECT_NE(std::find(proxy.events.begin(), proxy.events.end(),
                        std::make_pair(5, "USER ftptest@127.0.0.1:" + std::to_string(target))),
              proxy.events.end());
}

TEST(FtpProbe, RefusedLoginExitsWithOne)
{
    ProbeRun r = probe({QStringLiteral("--retry"), QStringLiteral("2"), QStringLiteral("127.0.0.1"),
                        QString::number(RealServers::vsftpd().port), QStringLiteral("ftptest"), QStringLiteral("bad")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), std::make_pair(30, std::string())), 1);
    EXPECT_EQ(r.events.back().first, 23);
    EXPECT_NE(std::find(r.events.begin(), r.events.end(), std::make_pair(7, std::string())), r.events.end());
}

TEST(FtpProbe, UsageErrorsExitWithTwo)
{
    ProbeRun r = probe({QStringLiteral("--bogus"), QStringLiteral("x")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: ftpprobe"), std::string::npos);
}

TEST(FtpProbe, ListGetAndResumedPut)
{
    const QString port = QString::number(RealServers::vsftpd().port);
    const QString home = QString::fromStdString(RealServers::root() + "/ftptest");
    const QStringList login = {QStringLiteral("127.0.0.1"), port, QStringLiteral("ftptest"), QStringLiteral("ftppass")};

    ProbeRun ls = probe(QStringList{QStringLiteral("--active")} + login + QStringList{QStringLiteral("ls")});
    ASSERT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(std::find_if(ls.events.begin(), ls.events.end(),
                           [](auto& e) { return e.first == 17 && e.second.find("hello.txt") != std::string::npos; }),
              ls.events.end());

    const QString local = home + QStringLiteral("/../probe-get.txt");
    ProbeRun get = probe(login + QStringList{QStringLiteral("get"), QStringLiteral("hello.txt"), local});
    ASSERT_EQ(get.status, 0) << get.err;
    QFile got(local);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll(), QByteArray("hello\n"));

    // A put cut short, then resumed with APPE at the remote size.
    QFile full(home + QStringLiteral("/../probe-src.bin"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    const QByteArray data(300000, 'z');
    full.write(data.left(100000));
    full.close();
    ASSERT_EQ(probe(login + QStringList{QStringLiteral("put"), full.fileName(), QStringLiteral("probe.bin")}).status,
              0);
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    full.write(data);
    full.close();
    ProbeRun put = probe(QStringList{QStringLiteral("--resume"), QStringLiteral("--appe")} + login +
                         QStringList{QStringLiteral("put"), full.fileName(), QStringLiteral("probe.bin")});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_NE(std::find(put.events.begin(), put.events.end(), std::make_pair(5, std::string("APPE probe.bin"))),
              put.events.end());
    QFile remote(home + QStringLiteral("/probe.bin"));
    ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
    EXPECT_EQ(remote.readAll(), data);

    ProbeRun missing = probe(login + QStringList{QStringLiteral("get"), QStringLiteral("nope"), local});
    EXPECT_EQ(missing.status, 1);
}
