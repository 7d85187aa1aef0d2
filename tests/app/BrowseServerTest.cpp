// The browse window: a second connection beside the main session, with its
// own client; walking folders, viewing, editing and sending back, queueing
// into the main queue; the two sessions never cross, also when the main one
// moves to another server meanwhile.

#include "QueueWindow.h"
#include "dialogs/BrowseServer.h"
#include "widgets/corvview.h"
#include "console/cxGraphics.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

namespace {
int row(const TCorvListView* list, const QString& name)
{
    for (int r = 0; r < list->RowCount(); ++r)
        if (list->Text(r, 0) == name)
            return r;
    return -1;
}

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}
}  // namespace

TEST(BrowseServer, ASecondConnectionWalksViewsEditsAndQueuesWhileTheMainOneStays)
{
    OwnServerRun s({{QStringLiteral("docs/sub/readme.txt"), "hello\n"},
                    {QStringLiteral("docs/sub/data.bin"), pattern(7000, 3)},
                    {QStringLiteral("top.txt"), "top\n"}},
                   0);
    TfrmMain& w = *s.t.w;
    ASSERT_TRUE(s.connect());
    const std::string mainDir = w.RemotePane().CurrentPath();
    w.SiteCommands().mnuBrowseServerClick();
    QPointer<TfrmBrowseServer> b = w.SiteCommands().BrowseWindow();
    ASSERT_TRUE(b);
    ASSERT_TRUE(WaitFor([&] { return b->IsLoggedIn() && !b->Busy(); }, 20000));
    // From the root: no ".." and one path item.
    EXPECT_EQ(row(b->Browse, QStringLiteral("..")), -1);
    EXPECT_EQ(items(b->BrowsePathBox), QStringList{QStringLiteral("/")});
    EXPECT_GE(row(b->Browse, QStringLiteral("docs")), 0);
    bool masked = false;
    for (int i = 0; i < b->Memo1->LineCount(); ++i)
        masked = masked || b->Memo1->GetLineText(i) == QStringLiteral("PASS xxxxxx");
    EXPECT_TRUE(masked);

    b->BrowseDblClick(row(b->Browse, QStringLiteral("docs")));
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->CurrentPath() == "/docs/"; }));
    b->BrowseDblClick(row(b->Browse, QStringLiteral("sub")));
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->CurrentPath() == "/docs/sub/"; }));
    EXPECT_EQ(items(b->BrowsePathBox), (QStringList{"/docs/sub/", "/docs/", "/"}));
    EXPECT_EQ(row(b->Browse, QStringLiteral("..")), 0);
    b->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/browse-server-screenshot.png"));

    // View: a private copy handed to the viewer.
    QString viewed;
    b->RunViewer = [&](const QString& file) { viewed = QString::fromStdString(ReadTestFile(file)); };
    b->Browse->SelectWhere([&](int r) { return r == row(b->Browse, QStringLiteral("readme.txt")); });
    b->mnuViewClick();
    ASSERT_TRUE(WaitFor([&] { return !viewed.isEmpty(); }));
    EXPECT_EQ(viewed, QStringLiteral("hello\n"));
    // Edit: changed and saved, so it goes back to the server.
    b->RunEditor = [](const QString& file) {
        WriteTestFile(file, "edited\n");
        return true;
    };
    b->mnuEditClick();
    ASSERT_TRUE(WaitFor([&] { return ReadTestFile(s.home + "/docs/sub/readme.txt") == "edited\n"; }));
    ASSERT_TRUE(WaitFor([&] { return !b->Busy(); }));

    // The main session did not move meanwhile.
    EXPECT_EQ(w.Workflow().State(), SessionState::Idle);
    EXPECT_EQ(w.RemotePane().CurrentPath(), mainDir);

    // A folder queued from the browse list goes with the main run.
    b->BrowseDblClick(0);  // ".."
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->CurrentPath() == "/docs/"; }));
    b->Browse->SelectWhere([&](int r) { return r == row(b->Browse, QStringLiteral("sub")); });
    b->mnuQueueClick();
    ASSERT_EQ(w.QueueEntries().Count(), 1u);
    EXPECT_EQ(w.QueueEntries().At(0).Kind, TEntryKind::DownloadDirectory);
    // Automatic mode: readme.txt comes in ASCII, with the local line ends.
    w.QueuePanel().queTransferClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/sub/readme.txt"), "edited\n");
    EXPECT_TRUE(ReadTestFile(s.local.path() + "/sub/data.bin") == pattern(7000, 3).toStdString());

    // The main session moves to another server; the browse window stays on its own.
    w.QuickConnect().Disconnect();
    w.QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:%1").arg(RealServers::vsftpd().port));
    w.QuickConnect().Connect();
    ASSERT_TRUE(s.t.idle());
    EXPECT_EQ(w.FTP().Port, RealServers::vsftpd().port);
    b->BrowseDblClick(row(b->Browse, QStringLiteral("sub")));
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->CurrentPath() == "/docs/sub/"; }));
    EXPECT_EQ(b->FTP2.Port, s.port);
    EXPECT_GE(row(b->Browse, QStringLiteral("data.bin")), 0);

    // Closing ends only its own connection.
    b->mnuCloseClick();
    ASSERT_TRUE(WaitFor([&] { return b.isNull(); }));
    EXPECT_TRUE(w.FTP().IsConnected());
    EXPECT_TRUE(s.t.prompt.asked.empty());
}

TEST(BrowseServer, AServerThatGoesAwayEndsTheBrowseWindowWithItsMessage)
{
    OwnServerRun s({{QStringLiteral("a.txt"), "a"}}, 0);
    TfrmMain& w = *s.t.w;
    ASSERT_TRUE(s.connect());
    w.SiteCommands().mnuBrowseServerClick();
    QPointer<TfrmBrowseServer> b = w.SiteCommands().BrowseWindow();
    ASSERT_TRUE(WaitFor([&] { return b && b->IsLoggedIn() && !b->Busy(); }, 20000));
    s.server->kill();
    s.server->waitForFinished();
    b->BrowseDblClick(-1);   // nothing
    b->mnuChangeDirClick();  // cancelled: no text answer
    s.t.prompt.texts = {"/"};
    b->mnuChangeDirClick();
    ASSERT_TRUE(WaitFor([&] { return b.isNull(); }, 20000));
    ASSERT_FALSE(s.t.prompt.asked.empty());
    bool told = false;
    for (const std::string& a : s.t.prompt.asked)
        told = told || a == "无法浏览服务器" || a == "服务器断开.";
    EXPECT_TRUE(told);
}
