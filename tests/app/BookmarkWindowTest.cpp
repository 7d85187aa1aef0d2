// Bookmarks in the window: added at the current folder of a site's session,
// listed in the menu for that site only, edited in the dialog, and taken
// only while the session is idle.

#include "QueueWindow.h"
#include "dialogs/BookmarkDialogs.h"
#include "sites/Bookmarks.h"
#include "sites/SiteDb.h"

#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {
QStringList captions(QMenu* menu)
{
    QStringList out;
    const QList<QAction*> items = menu->actions();
    for (qsizetype i = 4; i < items.size(); ++i)
        out << items[i]->text();
    return out;
}
}  // namespace

TEST(BookmarkWindow, AddGoEditAndNothingWhileBusyOrWithoutASite)
{
    OwnServerRun s({{QStringLiteral("sub/deep/x.bin"), pattern(1024 * 1024, 1)}}, 256 * 1024);
    TfrmMain& w = *s.t.w;
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    Q_EMIT w.SiteCommands().BookmarkMenu()->aboutToShow();
    QAction* add = w.SiteCommands().BookmarkMenu()->actions()[0];
    EXPECT_TRUE(add->isEnabled());

    // At the folder shown now, under the site's name.
    ASSERT_TRUE(w.Workflow().ChangeRemoteDirectory("sub/deep"));
    ASSERT_TRUE(s.t.idle());
    s.t.prompt.texts = {"a:b"};  // the stored form would cut it
    w.SiteCommands().mnuAddBookmarkClick();
    EXPECT_EQ(s.t.prompt.asked.back(), "书签名称不能含有 \":\"");
    s.t.prompt.texts = {"deep"};
    w.SiteCommands().mnuAddBookmarkClick();
    EXPECT_EQ(captions(w.SiteCommands().BookmarkMenu()), QStringList{QStringLiteral("deep")});
    const std::vector<TBookmark> stored = ReadBookmarks(w.Sites().Stats(), "Own");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].Name, "deep");
    EXPECT_EQ(QString::fromStdString(stored[0].Path).remove(QLatin1Char('/')), QStringLiteral("subdeep"));

    // From the home folder back to it.
    w.SiteCommands().GoToBookmark(QStringLiteral("/"));
    ASSERT_TRUE(s.t.idle());
    w.SiteCommands().BookmarkMenu()->actions()[4]->trigger();
    ASSERT_TRUE(s.t.idle());
    EXPECT_EQ(QString::fromStdString(w.RemotePane().CurrentPath()).remove(QLatin1Char('/')), QStringLiteral("subdeep"));

    // Edited in the dialog: renamed, and one added.
    w.SiteCommands().BookmarksOpened = [](TfrmBookmark& d) {
        d.AskBookmark = [](const QString& caption, TBookmark& b) {
            b = caption == QStringLiteral("编辑书签") ? TBookmark{"renamed", b.Path} : TBookmark{"root", "/"};
            return true;
        };
        d.BookList->topLevelItem(0)->setSelected(true);
        d.BookList->setCurrentItem(d.BookList->topLevelItem(0));
        d.btnEditClick();
        d.btnAddClick();
        return true;
    };
    w.SiteCommands().mnuEditBookmarkClick();
    EXPECT_EQ(captions(w.SiteCommands().BookmarkMenu()), (QStringList{QStringLiteral("renamed"), QStringLiteral("root")}));

    // While a file moves, a bookmark does nothing.
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Overwrite;
    s.select({QStringLiteral("x.bin")});
    w.QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return IsTransferring(w.Workflow().State()); }, 10000));
    const std::string during = w.RemotePane().CurrentPath();
    w.SiteCommands().BookmarkMenu()->actions()[5]->trigger();
    EXPECT_EQ(w.RemotePane().CurrentPath(), during);
    w.QueuePanel().btnAbortClick();
    ASSERT_TRUE(s.t.idle(30000)) << s.logText();

    // A session without a site has no bookmarks.
    w.QuickConnect().Disconnect();
    w.QuickConnect().ServerField()->setEditText(QString());  // typed anew: the site is left
    w.QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1"));
    w.QuickConnect().UserField()->setText(QString::fromLatin1(RealServers::User));
    w.QuickConnect().PasswordField()->setText(QString::fromLatin1(RealServers::Password));
    w.QuickConnect().PortField()->setText(QString::number(s.port));
    w.QuickConnect().Connect();
    ASSERT_TRUE(s.t.idle()) << s.logText();
    Q_EMIT w.SiteCommands().BookmarkMenu()->aboutToShow();
    EXPECT_TRUE(captions(w.SiteCommands().BookmarkMenu()).isEmpty());
    EXPECT_FALSE(w.SiteCommands().BookmarkMenu()->actions()[0]->isEnabled());
}

TEST(SiteCommands, AddCurrentSiteMakesTheQuickConnectFieldsASiteOfTheChosenGroup)
{
    QueueWindow t;
    t.addResumingSite("Own", 2121);
    t.w->Sites().WriteGroups({"My Servers", "Work"});
    t.w->Sites().WriteGroupSites("Work", {"b", "d"});
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1"));
    t.w->QuickConnect().UserField()->setText(QStringLiteral("ftptest"));
    t.w->QuickConnect().PasswordField()->setText(QStringLiteral("ftppass"));
    t.w->QuickConnect().PortField()->setText(QStringLiteral("21"));
    // A name in use is refused and asked again; the second is trimmed.
    t.prompt.addSite = {{"Own", {}, 1}, {" c ", {}, 1}};
    t.w->SiteCommands().mnuAddCurrentSiteClick();
    EXPECT_EQ(t.prompt.asked,
              (std::vector<std::string>{"添加站点", "一个名为 \"Own\" 的站点已存在.  请选择另外的名字.", "添加站点"}));
    EXPECT_EQ(t.w->Sites().GroupSites("Work"), (std::vector<std::string>{"b", "c", "d"}));
    const auto site = t.w->Sites().ReadSite("c");
    ASSERT_TRUE(site.has_value());
    EXPECT_EQ(site->IP, "127.0.0.1");
    EXPECT_EQ(t.w->Sites().Sites().ReadString("c", "Port"), "21");  // written even when 21
    EXPECT_EQ(site->User, std::optional<std::string>("ftptest"));
    EXPECT_EQ(UnscramblePassword(site->Pass.value_or("")), "ftppass");
    EXPECT_EQ(t.w->Workflow().CurrentSite, "c");

    // With a current site the command does nothing.
    t.w->SiteCommands().mnuAddCurrentSiteClick();
    EXPECT_EQ(t.prompt.asked.size(), 3u);
}
