// Names in another charset than UTF-8, in the main window against a server
// that speaks GBK (GB18030) on the wire: shown as Chinese, fetched,
// renamed and deleted by the server's own bytes, a tree down into UTF-8
// names and back up to the same bytes.
#include "QueueWindow.h"
#include "dialogs/BrowseServer.h"
#include "widgets/ListingRows.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace {
const QByteArray fileData = QByteArray("binary\0\x5c\r\n", 10).repeated(1000);

std::string logText(const QueueWindow& t)
{
    std::string s;
    for (const std::string& l : t.log())
        s += l + "\n";
    return s;
}
}  // namespace

TEST(GbkNames, ATreeOfGbkNamesIsShownFetchedAndSentBackByteForByte)
{
    // "乗" is 0x81 0x5C in GBK: a backslash byte inside a character.
    RealServers::OwnPyftpdlib server({{QStringLiteral("中文目录/乗车.bin"), fileData},
                                      {QStringLiteral("中文目录/子目录/报告 1.bin"), fileData + "x"},
                                      {QStringLiteral("中文目录/plain.txt"), "ascii"},
                                      {QStringLiteral("改名前.txt"), "rename me"},
                                      {QStringLiteral("删除我.txt"), "delete me"}},
                                     0, RealServers::OwnWire::Gbk);
    ASSERT_TRUE(QDir().mkpath(server.home + QStringLiteral("/back")));

    QueueWindow t;
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:ftptest:ftppass:%1").arg(server.port));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle()) << logText(t);
    const std::string start = t.w->RemotePane().Directory();

    // Shown as the Chinese it is; the row keeps the GBK bytes.
    TCorvListView* remote = t.w->RemotePane().View();
    const int folder = t.row(remote, QStringLiteral("中文目录"));
    ASSERT_GE(folder, 0) << logText(t);
    EXPECT_EQ(remote->NameBytes(folder), "\xd6\xd0\xce\xc4\xc4\xbf\xc2\xbc");

    // Down: the folder through the queue, into UTF-8 names.
    remote->SetSelected(folder, true);
    t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return RunOver(*t.w); },
                        60000))
        << logText(t);
    EXPECT_EQ(treeOf(local.path() + QStringLiteral("/中文目录")), treeOf(server.home + QStringLiteral("/中文目录")))
        << logText(t);
    EXPECT_EQ(t.w->RemotePane().Directory(), start);
    // The log shows the names as text, not as broken bytes.
    EXPECT_NE(logText(t).find("CWD " + start + "中文目录"), std::string::npos) << logText(t);
    // For a person to look at (tools/screenshot.sh): the GBK names in both panes and the log.
    EXPECT_TRUE(t.w->grab().save(QStringLiteral("gbk-names-screenshot.png")));

    // Up again into "back": the server must get the same GBK bytes (it
    // writes the names it decodes from GBK; UTF-8 bytes would make others).
    const int back = t.row(remote, QStringLiteral("back"));
    ASSERT_GE(back, 0);
    t.w->LocalPane().View()->ClearSelection();
    t.w->LocalPane().View()->SetSelected(t.row(t.w->LocalPane().View(), QStringLiteral("中文目录")), true);
    t.w->QueuePanel().mnuUploadClick("back");
    ASSERT_TRUE(WaitFor([&] { return RunOver(*t.w); },
                        60000))
        << logText(t);
    EXPECT_EQ(treeOf(server.home + QStringLiteral("/back/中文目录")), treeOf(local.path() + QStringLiteral("/中文目录")))
        << logText(t);

    // Renamed and deleted by their bytes; the new name, typed in Chinese,
    // goes out in GBK too; a new folder likewise.
    t.w->SetActivePane(remote);
    auto select = [&](const QString& name) {
        remote->ClearSelection();
        const int row = t.row(remote, name);
        ASSERT_GE(row, 0) << name.toStdString();
        remote->SetSelected(row, true);
    };
    t.prompt.texts = {"改名后.txt"};
    select(QStringLiteral("改名前.txt"));
    t.w->FileCommands().popRenameClick();
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_EQ(ReadTestFile(server.home + QStringLiteral("/改名后.txt")), "rename me") << logText(t);
    EXPECT_GE(t.row(remote, QStringLiteral("改名后.txt")), 0);

    t.prompt.confirm = true;
    select(QStringLiteral("删除我.txt"));
    t.w->FileCommands().popDeleteClick();
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_FALSE(QFileInfo::exists(server.home + QStringLiteral("/删除我.txt"))) << logText(t);

    t.prompt.texts = {"新目录"};
    t.w->FileCommands().popNewFoldClick();
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_TRUE(QFileInfo(server.home + QStringLiteral("/新目录")).isDir()) << logText(t);
    EXPECT_GE(t.row(remote, QStringLiteral("新目录")), 0);

    // The browse window's own connection walks into the GBK folder by its
    // bytes and queues a file from there into a UTF-8 local name.
    t.w->SiteCommands().mnuBrowseServerClick();
    QPointer<TfrmBrowseServer> b = t.w->SiteCommands().BrowseWindow();
    ASSERT_TRUE(b);
    ASSERT_TRUE(WaitFor([&] { return b->IsLoggedIn() && !b->Busy(); }, 20000));
    const int browseFolder = b->Browse->RowNamed(QStringLiteral("中文目录"));
    ASSERT_GE(browseFolder, 0);
    b->BrowseDblClick(browseFolder);
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->CurrentPath() == start + "\xd6\xd0\xce\xc4\xc4\xbf\xc2\xbc/"; }))
        << b->CurrentPath();
    const int browseFile = b->Browse->RowNamed(QStringLiteral("乗车.bin"));
    ASSERT_GE(browseFile, 0);
    QTemporaryDir fromBrowse;
    t.w->LocalPane().SetDirectory(fromBrowse.path());
    b->Browse->SelectWhere([&](int r) { return r == browseFile; });
    b->mnuQueueClick();
    b->close();
    t.w->QueuePanel().queTransferClick();
    ASSERT_TRUE(WaitFor([&] { return RunOver(*t.w); },
                        30000))
        << logText(t);
    EXPECT_TRUE(ReadTestFile(fromBrowse.path() + QStringLiteral("/乗车.bin")) == fileData.toStdString()) << logText(t);
    t.w->LocalPane().SetDirectory(local.path());

    // Into the folder and up again through the path box's parent.
    Q_EMIT remote->RowDoubleClicked(t.row(remote, QStringLiteral("中文目录")));
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_GE(t.row(remote, QStringLiteral("乗车.bin")), 0) << logText(t);
    t.w->RemotePane().Parent();
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_EQ(t.w->RemotePane().Directory(), start);
}

// A listing mixing UTF-8 and GBK lines (a folder uploaded by two clients):
// each name read in its own charset; only the GBK rows keep their bytes.
TEST(GbkNames, AListingMixingUtf8AndGbkLinesShowsEachNameAndKeepsTheGbkBytes)
{
    TListParser parser;
    TListingRules rules;
    rules.serverType = ftpstUNIX;
    rules.names = std::make_shared<TNameCodec>();
    std::vector<QString> shared;
    struct Line {
        std::string text;
        QString name;
        std::string raw;
    };
    const Line lines[] = {
        {"-rw-r--r-- 1 a b 5 Jan 12 2003 中文.txt", QStringLiteral("中文.txt"), ""},
        {"-rw-r--r-- 1 a b 5 Jan 12 2003 \xd6\xd0\xce\xc4\x81\x5c.txt", QStringLiteral("中文乗.txt"),
         "\xd6\xd0\xce\xc4\x81\x5c.txt"},
        {"-rw-r--r-- 1 a b 5 Jan 12 2003 ascii.txt", QStringLiteral("ascii.txt"), ""},
        {"drwxr-xr-x 2 a b 4096 Jan 12 2003 \xb1\xa8\xb8\xe6", QStringLiteral("报告"), "\xb1\xa8\xb8\xe6"},
    };
    for (const Line& l : lines) {
        TCorvRow row;
        ASSERT_TRUE(ListingRowOf(parser, rules, l.text, row, shared)) << l.text;
        EXPECT_EQ(row.texts[0], l.name);
        EXPECT_EQ(row.raw, l.raw);
        EXPECT_EQ(row.NameBytes(), l.raw.empty() ? l.name.toStdString() : l.raw);
    }
}

// MLSD rows get the permission column from "UNIX.mode", as LIST rows from
// their first word.
TEST(MlsdRows, ThePermissionColumnComesFromTheModeFact)
{
    TListParser parser;
    TListingRules rules;
    rules.mlsd = true;
    std::vector<QString> shared;
    TCorvRow row;
    ASSERT_TRUE(ListingRowOf(parser, rules, "type=dir;UNIX.mode=0750;modify=20200102030405; 子目录", row, shared));
    EXPECT_EQ(row.texts[3], QStringLiteral("drwxr-x---"));
    ASSERT_TRUE(ListingRowOf(parser, rules, "type=file;size=3;UNIX.mode=644; a b.txt", row, shared));
    EXPECT_EQ(row.texts[0], QStringLiteral("a b.txt"));
    EXPECT_EQ(row.texts[3], QStringLiteral("-rw-r--r--"));
    ASSERT_TRUE(ListingRowOf(parser, rules, "type=file;size=3; no-mode", row, shared));
    EXPECT_TRUE(row.texts[3].isEmpty());
    // Facts ten characters long are no permission string.
    ASSERT_TRUE(ListingRowOf(parser, rules, "type=file; ten", row, shared));
    EXPECT_TRUE(row.texts[3].isEmpty());
    EXPECT_EQ(PermissionText(false, true, 777), "lrwxrwxrwx");
}

// A site whose address is IPv6, charset GB18030 and listing LIST only: the
// properties dialog, the view/edit copy and the browse window's path box
// show the names as text while every command sends the server's bytes.
TEST(GbkNames, ASiteOnIPv6ListingWithListShowsPropertiesCopiesAndPathsAsText)
{
    RealServers::OwnPyftpdlib server({{QStringLiteral("中文目录/乗车.txt"), "line one\n"}}, 0,
                                     RealServers::OwnWire::GbkOnIPv6);
    QueueWindow t;
    TSiteRecord site;
    site.Name = "六号";
    site.IP = "::1";
    site.Port = std::to_string(server.port);
    site.User = RealServers::User;
    site.SetPassword(RealServers::Password);
    site.Charset = "GB18030";
    site.Listing = "LIST";
    t.w->Sites().WriteSite(site);
    std::vector<QStringList> launched;
    t.w->FileCommands().LaunchProgram = [&](const QString& program, const QStringList& args) {
        launched.push_back(QStringList{program} + args);
        WriteTestFile(args.back(), "line two\n");  // the "editor" saves a change
        return true;
    };
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("六号"));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle()) << logText(t);
    const std::string log = logText(t);
    EXPECT_NE(log.find("\nLIST"), std::string::npos) << log;  // pyftpdlib offers MLSD; the site says no
    EXPECT_EQ(log.find("MLSD"), std::string::npos) << log;
    EXPECT_EQ(t.w->Workflow().CurrentSite, "六号");

    TCorvListView* remote = t.w->RemotePane().View();
    Q_EMIT remote->RowDoubleClicked(t.row(remote, QStringLiteral("中文目录")));
    ASSERT_TRUE(t.idle()) << logText(t);
    // The path box: text shown, the server's bytes behind it.
    QComboBox* box = t.w->RemotePane().PathBox();
    EXPECT_TRUE(box->currentText().endsWith(QStringLiteral("中文目录/"))) << box->currentText().toStdString();
    const int file = t.row(remote, QStringLiteral("乗车.txt"));
    ASSERT_GE(file, 0) << logText(t);
    t.w->SetActivePane(remote);
    remote->ClearSelection();
    remote->SetSelected(file, true);
    t.w->FileCommands().popPropertiesClick();
    ASSERT_EQ(t.prompt.shown.size(), 1u) << logText(t);
    EXPECT_EQ(t.prompt.shown[0].name, "乗车.txt");

    // Edit: the local copy has the UTF-8 name; saved, it goes back to the
    // GBK bytes (the server would write another name for UTF-8 bytes).
    t.w->Settings().Editor = "myeditor";
    t.prompt.confirm = true;
    t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return !launched.empty(); }, 20000)) << logText(t);
    EXPECT_EQ(QFileInfo(launched[0].back()).fileName(), QStringLiteral("乗车.txt"));
    ASSERT_TRUE(WaitFor([&] { return ReadTestFile(server.home + QStringLiteral("/中文目录/乗车.txt")) == "line two\n"; },
                        20000))
        << logText(t);
    ASSERT_TRUE(t.idle()) << logText(t);
    EXPECT_EQ(QDir(server.home + QStringLiteral("/中文目录")).entryList(QDir::Files), QStringList{"乗车.txt"});

    // The browse window logs in as the main connection did (IPv6, GB18030,
    // LIST) and its path box shows the folder as text.
    t.w->SiteCommands().mnuBrowseServerClick();
    QPointer<TfrmBrowseServer> b = t.w->SiteCommands().BrowseWindow();
    ASSERT_TRUE(b);
    ASSERT_TRUE(WaitFor([&] { return b->IsLoggedIn() && !b->Busy(); }, 20000));
    EXPECT_TRUE(b->BrowsePathBox->currentText().endsWith(QStringLiteral("中文目录/")))
        << b->BrowsePathBox->currentText().toStdString();
    EXPECT_GE(b->Browse->RowNamed(QStringLiteral("乗车.txt")), 0);
    EXPECT_FALSE(b->FTP2.ListingLines.Mlsd);
    // Up through the path box: its item holds the parent's bytes.
    b->BrowsePathBoxChange(1);
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->Browse->RowNamed(QStringLiteral("中文目录")) >= 0; }, 20000));
    // Viewed from there, its copy named as text.
    b->BrowseDblClick(b->Browse->RowNamed(QStringLiteral("中文目录")));
    ASSERT_TRUE(WaitFor([&] { return !b->Busy() && b->Browse->RowNamed(QStringLiteral("乗车.txt")) >= 0; }, 20000));
    QString viewed;
    b->RunViewer = [&](const QString& f) { viewed = f; };
    b->Browse->SelectWhere([&](int r) { return r == b->Browse->RowNamed(QStringLiteral("乗车.txt")); });
    b->mnuViewClick();
    ASSERT_TRUE(WaitFor([&] { return !viewed.isEmpty(); }, 20000));
    EXPECT_EQ(QFileInfo(viewed).fileName(), QStringLiteral("乗车.txt"));
    EXPECT_EQ(ReadTestFile(viewed), "line two\n");
    b->close();
}
