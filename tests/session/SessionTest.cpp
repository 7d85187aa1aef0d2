// A session without any window: the connection workflow and a queue run on
// their own client, against real pyftpdlib servers, watched through the
// workflow's signals; the remote "pane" is the listing lines parsed here.
// Two sessions side by side are two sets of these objects, nothing more.

#include "RealServers.h"
#include "TestSupport.h"
#include "common/Prompt.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"
#include "session/Connection.h"
#include "session/QueueRun.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"
#include "transfer/TransferQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

struct LoggingPrompt : IPrompt {
    std::vector<std::string> said;
    void ShowMessage(MessageKind, const std::string& text) override { said.push_back(text); }
    bool Confirm(const std::string& text) override
    {
        said.push_back(text);
        return false;
    }
};

// What a run reads of the panes: the local folder, and the remote listing
// made into rows from the workflow's listing lines.
class HeadlessPanes : public IQueueHost {
public:
    HeadlessPanes(TFTPclient& client, TConnectionWorkflow& workflow, std::string local)
        : m_ftp(client), m_local(std::move(local))
    {
        QObject::connect(&workflow, &TConnectionWorkflow::RemoteCleared, &workflow, [this] { m_remote.clear(); });
        QObject::connect(&workflow, &TConnectionWorkflow::ListingLine, &workflow, [this](const std::string& line) {
            TRemoteEntry e;
            if (m_parser.ParseListLine(m_ftp.ServerType, line, e) && e.Name != "." && e.Name != "..")
                m_remote.push_back({e.Name, e.IsDir, e.Size, e.Date});
        });
    }
    std::string LocalDirectory() const override { return m_local; }
    void ShowLocalDirectory(const std::string& dir) override { m_local = dir; }
    std::vector<TPaneItem> LocalRows() const override
    {
        std::vector<TPaneItem> rows;
        for (const QFileInfo& f :
             QDir(QString::fromStdString(m_local)).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
            rows.push_back({f.fileName().toStdString(), f.isDir(), f.isDir() ? -1 : f.size(), {}});
        return rows;
    }
    std::vector<TPaneItem> RemoteRows() const override { return m_remote; }
    std::optional<TPaneItem> FindRemoteRow(const std::string& name) const override
    {
        for (const TPaneItem& r : m_remote)
            if (r.name == name)
                return r;
        return std::nullopt;
    }
    std::string RemoteDirectory() const override
    {
        const std::string dir = m_ftp.InitialDirectory.empty() ? "/" : m_ftp.InitialDirectory;
        return dir.back() == '/' ? dir : dir + "/";
    }
    void Status(const std::string&) override {}
    void CloseWindow() override {}

private:
    TFTPclient& m_ftp;
    std::string m_local;
    TListParser m_parser;
    std::vector<TPaneItem> m_remote;
};

// One session: a client, its workflow, a queue and a run, and a local folder.
struct Session {
    QTemporaryDir data, local;
    TIniFile settingsFile{(data.path() + QStringLiteral("/corvyne.ini")).toStdString()};
    TSettings settings;
    TSiteDatabase sites;
    LoggingPrompt prompt;
    TFTPclient ftp;
    TConnectionWorkflow workflow{ftp, settings, settingsFile, sites, prompt};
    TTransferQueue queue;
    HeadlessPanes panes{ftp, workflow, local.path().toStdString() + "/"};
    TQueueRun run{ftp, workflow, settings, queue, panes, prompt};
    std::vector<SessionState> states;
    std::vector<std::string> log;

    Session()
    {
        sites.Load(data.path().toStdString() + "/");
        LoadSettings(settingsFile, settingsFile, settings, &ftp);
        QObject::connect(&workflow, &TConnectionWorkflow::StateChanged, &workflow,
                         [this] { states.push_back(workflow.State()); });
        QObject::connect(&workflow, &TConnectionWorkflow::LineLogged, &workflow,
                         [this](const std::string& text, int) { log.push_back(text); });
    }
    bool connect(quint16 port)
    {
        TQuickConnectFields f;
        f.server = "127.0.0.1";
        f.user = RealServers::User;
        f.password = RealServers::Password;
        f.port = std::to_string(port);
        workflow.Connect(f);
        return WaitFor([&] { return workflow.State() == SessionState::Idle; }, 20000);
    }
    std::string logText() const
    {
        std::string s;
        for (const std::string& l : log)
            s += l + "\n";
        return s;
    }
};

using OwnServer = RealServers::OwnPyftpdlib;

}  // namespace

// Connect, the first listing, disconnect: told by the signals alone.
TEST(SessionWithoutWindow, ConnectsListsAndDisconnectsThroughItsSignals)
{
    OwnServer server({{QStringLiteral("a.txt"), "alpha"}, {QStringLiteral("b.txt"), "beta"}});
    Session s;
    std::string caption;
    QObject::connect(&s.workflow, &TConnectionWorkflow::CaptionShown, &s.workflow,
                     [&](const std::string& c) { caption = c; });
    ASSERT_TRUE(s.connect(server.port)) << s.logText();
    EXPECT_NE(std::find(s.states.begin(), s.states.end(), SessionState::Connecting), s.states.end());
    EXPECT_NE(caption.find("127.0.0.1"), std::string::npos) << caption;
    std::vector<std::string> names;
    for (const TPaneItem& r : s.panes.RemoteRows())
        names.push_back(r.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(s.panes.FindRemoteRow("b.txt")->size, 4);

    s.workflow.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return s.workflow.State() == SessionState::Disconnected; }));
    EXPECT_TRUE(s.panes.RemoteRows().empty());
}

// A queue run with no window: a file in another folder, one here, and one
// the server does not have, which fails without stopping the others.
TEST(SessionWithoutWindow, AQueueRunMovesItsFilesAndKeepsItsFailures)
{
    OwnServer server(
        {{QStringLiteral("sub/deep.bin"), pattern(70000, 1)}, {QStringLiteral("top.bin"), pattern(3000, 2)}});
    Session s;
    ASSERT_TRUE(s.connect(server.port)) << s.logText();
    const std::string local = s.panes.LocalDirectory();
    s.queue.Append({TEntryKind::DownloadFile, "/sub/deep.bin", -1, local + "deep.bin"});
    s.queue.Append({TEntryKind::DownloadFile, "/missing.bin", -1, local + "missing.bin"});
    s.queue.Append({TEntryKind::DownloadFile, "/top.bin", 3000, local + "top.bin"});
    s.run.NoUser = true;
    ASSERT_TRUE(s.run.TransferQueue());
    ASSERT_TRUE(WaitFor([&] { return s.queue.Empty() && s.workflow.State() == SessionState::Idle; }, 30000))
        << s.logText();
    EXPECT_TRUE(ReadTestFile(QString::fromStdString(local + "deep.bin")) == pattern(70000, 1).toStdString());
    EXPECT_TRUE(ReadTestFile(QString::fromStdString(local + "top.bin")) == pattern(3000, 2).toStdString());
    ASSERT_EQ(s.run.FailedEntries().size(), 1u) << s.logText();
    EXPECT_EQ(s.run.FailedEntries()[0].Entry.Source, "/missing.bin");
    EXPECT_EQ(s.run.Completed, 2);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(local + "missing.bin")));
}

// Two sessions at once are two sets of the same objects: each downloads its
// file while the other does, and neither sees the other's events.
TEST(SessionWithoutWindow, TwoSessionsTransferAtTheSameTime)
{
    const QByteArray one = pattern(400 * 1024, 3), two = pattern(400 * 1024, 4);
    OwnServer server({{QStringLiteral("one.bin"), one}, {QStringLiteral("two.bin"), two}});
    Session a, b;
    // Passive: with two active-mode sessions pyftpdlib stops reading the
    // second one's control connection after its PORT arrives (curl's two
    // sessions meet the same server without that; two servers work too).
    // Passive: pyftpdlib 1.5.7, handling one session's PORT, takes out of its
    // poll set the descriptor number of that session's old data connection,
    // which the other session's control connection may have been given since
    // (seen with strace); that session then waits for ever.
    for (Session* s : {&a, &b})
        s->settings.UsePasv = s->ftp.UsePasv = true;
    ASSERT_TRUE(a.connect(server.port)) << a.logText();
    ASSERT_TRUE(b.connect(server.port)) << b.logText();
    a.queue.Append({TEntryKind::DownloadFile, "/one.bin", one.size(), a.panes.LocalDirectory() + "one.bin"});
    b.queue.Append({TEntryKind::DownloadFile, "/two.bin", two.size(), b.panes.LocalDirectory() + "two.bin"});
    bool together = false;
    for (Session* s : {&a, &b})
        QObject::connect(&s->workflow, &TConnectionWorkflow::StateChanged, &s->workflow, [&] {
            together = together || (a.workflow.State() == SessionState::Downloading &&
                                    b.workflow.State() == SessionState::Downloading);
        });
    ASSERT_TRUE(a.run.TransferQueue());
    ASSERT_TRUE(b.run.TransferQueue());
    ASSERT_TRUE(WaitFor([&] { return a.queue.Empty() && b.queue.Empty(); }, 30000)) << a.logText() << b.logText();
    EXPECT_TRUE(together);
    EXPECT_TRUE(ReadTestFile(QString::fromStdString(a.panes.LocalDirectory() + "one.bin")) == one.toStdString());
    EXPECT_TRUE(ReadTestFile(QString::fromStdString(b.panes.LocalDirectory() + "two.bin")) == two.toStdString());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(a.panes.LocalDirectory() + "two.bin")));
    EXPECT_EQ(a.run.Completed, 1);
    EXPECT_EQ(b.run.Completed, 1);
}
