// The file commands against real servers: a new folder, a whole tree
// deleted (files first, folders from the deepest up), rename, move by
// dropping onto a folder, permissions, a raw command; and the local pane's
// own commands.

#include "QueueWindow.h"
#include "RealServers.h"
#include "dialogs/CustomCommandsDialog.h"
#include "widgets/corvview.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>
#include <QtTest/QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileOpsRemote : public ::testing::TestWithParam<const char*> {};

TEST_P(FileOpsRemote, FolderTreeDeleteRenameMovePermissionsAndRaw)
{
    const bool vsftpd = std::string(GetParam()) == "vsftpd";
    const quint16 port = vsftpd ? RealServers::vsftpd().port : RealServers::pyftpdlib().port;
    const QString home = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest");
    const QString base = QStringLiteral("ops_%1_%2").arg(GetParam()).arg(::getpid());
    const QString root = home + "/" + base;
    struct Remove {
        QString dir;
        ~Remove() { QDir(dir).removeRecursively(); }
    } remove{root};
    for (const char* f : {"del/a.txt", "del/sub/b.txt", "del/sub/deeper/c.txt", "del/sub/deeper/d e.txt",
                          "del/other/x.txt", "k.keep", "gone.txt", "one.txt", "two.txt", "three.txt"}) {
        const QString path = root + "/" + QString::fromUtf8(f);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        WriteTestFile(path, f);
    }
    ASSERT_TRUE(QDir().mkpath(root + "/del/empty"));
    ASSERT_TRUE(QDir().mkpath(root + "/target"));
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), root});

    QueueWindow t;
    t.w->Settings().AutoRefresh = false;  // a delete lists what it enters all the same
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1|%1:ftptest:ftppass:%2").arg(base).arg(port));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    t.w->Settings().AutoRefresh = true;
    t.w->Workflow().UserRefresh();
    ASSERT_TRUE(t.idle());
    auto text = [&] {
        std::string s;
        for (const std::string& l : t.log())
            s += l + "\n";
        return s;
    };
    auto select = [&](std::initializer_list<const char*> names) {
        t.w->RemotePane().View()->SelectWhere([&](int r) {
            for (const char* n : names)
                if (t.w->RemotePane().View()->Text(r, 0) == QString::fromUtf8(n))
                    return true;
            return false;
        });
    };
    t.w->SetActivePane(t.w->RemotePane().View());
    const std::string start = t.w->RemotePane().CurrentPath();  // vsftpd names it from /, pyftpdlib from its root

    // A new folder, shown at once.
    t.prompt.texts = {"新目录"};
    t.w->FileCommands().popNewFoldClick();
    ASSERT_TRUE(t.idle()) << text();
    EXPECT_TRUE(QFileInfo(root + "/新目录").isDir());
    EXPECT_GE(t.row(t.w->RemotePane().View(), QStringLiteral("新目录")), 0);

    // Declining the folder question deletes nothing.
    t.prompt.confirm = false;
    select({"del"});
    t.w->FileCommands().popDeleteClick();
    ASSERT_TRUE(t.idle());
    EXPECT_TRUE(QFileInfo::exists(root + "/del/sub/deeper/c.txt"));

    // The whole tree, with "AutoRefresh" off: gone, and the start folder shown.
    t.w->Settings().AutoRefresh = false;
    t.prompt.confirm = true;
    t.prompt.asked.clear();
    select({"del"});
    t.w->FileCommands().popDeleteClick();
    ASSERT_TRUE(WaitFor([&] { return t.w->Workflow().State() == SessionState::Idle; }, 30000)) << text();
    EXPECT_FALSE(QFileInfo::exists(root + "/del")) << text();
    EXPECT_EQ(t.prompt.asked,
              (std::vector<std::string>{"要删除所选文件吗?",
                                        "你确定你要删除所选的文件夹吗?  它包含的所有文件和文件夹都将被删除."}));
    EXPECT_EQ(t.w->RemotePane().CurrentPath(), start);
    t.w->Settings().AutoRefresh = true;
    t.w->Workflow().UserRefresh();
    ASSERT_TRUE(t.idle());
    EXPECT_LT(t.row(t.w->RemotePane().View(), QStringLiteral("del")), 0);

    // The skip list spares a selected file.
    t.w->Settings().SkipDelete = true;
    t.w->Settings().SkipEnabled = true;
    t.w->Settings().SkipPatterns = {"*.keep"};
    select({"k.keep", "gone.txt"});
    t.w->FileCommands().popDeleteClick();
    ASSERT_TRUE(WaitFor([&] { return t.w->Workflow().State() == SessionState::Idle; }, 30000)) << text();
    EXPECT_TRUE(QFileInfo::exists(root + "/k.keep"));
    EXPECT_FALSE(QFileInfo::exists(root + "/gone.txt"));

    // Rename.
    t.prompt.texts = {"uno.txt"};
    select({"one.txt"});
    t.w->FileCommands().popRenameClick();
    ASSERT_TRUE(t.idle()) << text();
    EXPECT_TRUE(QFileInfo::exists(root + "/uno.txt"));
    EXPECT_GE(t.row(t.w->RemotePane().View(), QStringLiteral("uno.txt")), 0);

    // Three files dropped onto a folder row: three renames into it.
    select({"uno.txt", "two.txt", "three.txt"});
    t.w->FileCommands().popMoveClick("target");
    ASSERT_TRUE(t.idle()) << text();
    for (const char* f : {"uno.txt", "two.txt", "three.txt"}) {
        EXPECT_TRUE(QFileInfo::exists(root + "/target/" + f)) << f;
        EXPECT_FALSE(QFileInfo::exists(root + "/" + f)) << f;
    }
    EXPECT_LT(t.row(t.w->RemotePane().View(), QStringLiteral("two.txt")), 0);

    // Permissions, and a raw command.
    WriteTestFile(root + "/p.txt", "p");
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("ftptest"), root + "/p.txt"});
    t.w->Workflow().UserRefresh();
    ASSERT_TRUE(t.idle());
    select({"p.txt"});
    t.prompt.texts = {"640"};
    t.w->FileCommands().popCHMODClick();
    ASSERT_TRUE(t.idle()) << text();
    struct stat st {};
    ASSERT_EQ(::stat((root + "/p.txt").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << text();
    // The properties: the listed permissions as a mode; a changed mode is
    // sent, an unchanged one is not.
    t.w->Workflow().UserRefresh();
    ASSERT_TRUE(t.idle());
    auto chmods = [&] {
        const auto lines = t.log();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("SITE CHMOD", 0) == 0; });
    };
    const auto chmodsBefore = chmods();
    select({"p.txt"});
    t.w->FileCommands().popPropertiesClick();
    EXPECT_EQ(chmods(), chmodsBefore);
    ASSERT_EQ(t.prompt.shown.size(), 1u);
    EXPECT_EQ(t.prompt.shown[0].mode, 640);
    EXPECT_EQ(t.prompt.shown[0].name, "p.txt");
    EXPECT_EQ(t.prompt.shown[0].type, "远程文件");
    ASSERT_TRUE(t.idle());
    t.prompt.newMode = 604;
    select({"p.txt"});
    t.w->FileCommands().popPropertiesClick();
    ASSERT_TRUE(t.idle()) << text();
    ASSERT_EQ(::stat((root + "/p.txt").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u) << text();
    // The parent row has none.
    t.w->RemotePane().View()->SelectWhere([&](int r) { return t.w->RemotePane().View()->Kind(r) == rkParent; });
    t.w->FileCommands().popPropertiesClick();
    EXPECT_EQ(t.prompt.asked.back(), "你无法看到这个项目的属性.");
    t.prompt.texts = {"NOOP"};
    t.w->FileCommands().mnuRawCmdClick();
    ASSERT_TRUE(t.idle()) << text();
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "NOOP"), log.end());
}

INSTANTIATE_TEST_SUITE_P(Servers, FileOpsRemote, ::testing::Values("vsftpd", "pyftpdlib"));

TEST(FileOpsLocal, NewFolderRenameAndDelete)
{
    QTemporaryDir trashHome;
    qputenv("XDG_DATA_HOME", trashHome.path().toLocal8Bit());
    QueueWindow t;
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->SetActivePane(t.w->LocalPane().View());

    t.prompt.texts = {"a/b/c"};
    t.w->FileCommands().popNewFoldClick();
    EXPECT_TRUE(QFileInfo(local.path() + "/a/b/c").isDir());
    // Nothing outside the folder, not even beside it under a longer name.
    const QString beside = local.path() + QStringLiteral("-beside");
    t.prompt.texts = {"../" + QFileInfo(beside).fileName().toStdString()};
    t.w->FileCommands().popNewFoldClick();
    EXPECT_FALSE(QFileInfo::exists(beside));
    QDir(beside).removeRecursively();

    WriteTestFile(local.path() + "/f.txt", "f");
    t.w->LocalPane().List();
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("f.txt"); });
    t.prompt.texts = {"../../g.txt"};  // not a name here
    t.w->FileCommands().popRenameClick();
    EXPECT_TRUE(QFileInfo::exists(local.path() + "/f.txt"));
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("f.txt"); });
    t.prompt.texts = {"g.txt"};
    t.w->FileCommands().popRenameClick();
    EXPECT_TRUE(QFileInfo::exists(local.path() + "/g.txt"));

    // To the trash by default, asked once; for good with "DeleteOverride".
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("g.txt"); });
    t.prompt.confirm = true;
    t.w->FileCommands().popDeleteClick();
    EXPECT_FALSE(QFileInfo::exists(local.path() + "/g.txt"));
    EXPECT_TRUE(QFileInfo::exists(trashHome.path() + "/Trash/files/g.txt"));
    WriteTestFile(local.path() + "/h.txt", "h");
    t.w->LocalPane().List();
    t.w->Settings().DeleteOverride = true;
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("h.txt"); });
    QTest::keyClick(t.w->LocalPane().View()->View(), Qt::Key_Delete);  // the Delete key does the same
    EXPECT_FALSE(QFileInfo::exists(local.path() + "/h.txt"));
    EXPECT_FALSE(QFileInfo::exists(trashHome.path() + "/Trash/files/h.txt"));
    qunsetenv("XDG_DATA_HOME");

    // Execute: a program runs, a document opens with the desktop's program.
    std::vector<QString> ran, opened;
    t.w->FileCommands().LaunchProgram = [&](const QString& program, const QStringList&) {
        ran.push_back(program);
        return true;
    };
    t.w->FileCommands().OpenUrlHook = [&](const QUrl& file) {
        opened.push_back(file.toLocalFile());
        return true;
    };
    WriteTestFile(local.path() + "/run.sh", "#!/bin/sh\n");
    QFile::setPermissions(local.path() + "/run.sh",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    WriteTestFile(local.path() + "/doc.txt", "d");
    t.w->LocalPane().List();
    for (const char* name : {"run.sh", "doc.txt"}) {
        t.w->LocalPane().View()->ClearSelection();
        t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QString::fromUtf8(name); });
        t.w->FileCommands().popExecuteClick();
    }
    EXPECT_EQ(ran, (std::vector<QString>{local.path() + "/run.sh"}));
    EXPECT_EQ(opened, (std::vector<QString>{local.path() + "/doc.txt"}));
}

TEST(FileOpsRemoteAbort, AnAbortedTreeDeleteStopsAfterTheFileAtHandAndReturnsToTheStartFolder)
{
    std::vector<std::pair<QString, QByteArray>> files;
    for (int i = 0; i < 120; ++i)
        files.push_back({QStringLiteral("tree/sub/f%1.txt").arg(i), "x"});
    files.push_back({QStringLiteral("tree/top.txt"), "x"});
    QTemporaryDir root;
    const QString home = root.path() + QStringLiteral("/ftptest");
    for (const auto& [name, data] : files) {
        QDir().mkpath(QFileInfo(home + "/" + name).path());
        WriteTestFile(home + "/" + name, data);
    }
    const quint16 port = ClosedLoopbackPort();
    std::unique_ptr<QProcess> server = RealServers::startOwnPyftpdlib(port, home);
    QueueWindow t;
    t.addResumingSite("Own", port);
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("Own"));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    const std::string start = t.w->RemotePane().CurrentPath();
    t.w->SetActivePane(t.w->RemotePane().View());
    t.w->RemotePane().View()->SelectWhere([&](int r) { return t.w->RemotePane().View()->Text(r, 0) == QStringLiteral("tree"); });
    t.prompt.confirm = true;
    t.w->FileCommands().popDeleteClick();
    auto deleted = [&] {
        int n = 0;
        for (const std::string& l : t.log())
            n += l.rfind("DELE ", 0) == 0;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return deleted() >= 3; }, 20000));
    t.w->QueuePanel().btnAbortClick();
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(t.w->RemotePane().CurrentPath(), start);
    const int sent = deleted();
    EXPECT_LT(sent, 121);
    // What was not deleted is still there, and nothing more goes after the idle.
    const int left = static_cast<int>(QDir(home + "/tree/sub").entryList(QDir::Files).size()) +
                     (QFileInfo::exists(home + "/tree/top.txt") ? 1 : 0);
    EXPECT_EQ(left, 121 - sent);
    EXPECT_TRUE(QFileInfo(home + "/tree/sub").isDir());
    EXPECT_EQ(deleted(), sent);
    server->kill();
    server->waitForFinished();
}

TEST(CustomCommandsWindow, PerNameCommandsGoOneAfterAnotherAndANameCannotAddACommand)
{
    QTemporaryDir root;
    const QString home = root.path() + QStringLiteral("/ftptest");
    QDir().mkpath(home);
    for (const char* f : {"a.txt", "b c.txt", "victim.txt", "e\rDELE victim.txt"})
        WriteTestFile(home + "/" + QString::fromUtf8(f), "x");
    const quint16 port = ClosedLoopbackPort();
    std::unique_ptr<QProcess> server = RealServers::startOwnPyftpdlib(port, home);
    QueueWindow t;
    t.addResumingSite("Own", port);
    t.w->SettingsFile().WriteString("Commands", "c1", "Mode");
    t.w->SettingsFile().WriteString("Commands", "p1", "SITE CHMOD %d %f");
    t.w->SettingsFile().WriteString("Commands", "k1", "Ctrl+Shift+M");
    t.w->MenuBar().RebuildCustomMenu();
    ASSERT_EQ(t.w->MenuBar().CustomMenu()->actions().size(), 1);
    QAction* mode = t.w->MenuBar().CustomMenu()->actions().front();
    EXPECT_EQ(mode->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+M")));
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("Own"));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    auto sent = [&](const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& l : t.log())
            if (l.rfind(prefix, 0) == 0)
                out.push_back(l);
        return out;
    };

    // Nothing selected: nothing sent, still idle.
    t.prompt.texts = {"644"};
    mode->trigger();
    EXPECT_TRUE(sent("SITE").empty());
    EXPECT_EQ(t.w->Workflow().State(), SessionState::Idle);

    t.w->RemotePane().View()->SelectWhere([&](int r) { return t.w->RemotePane().View()->Text(r, 0) != QStringLiteral("victim.txt"); });
    t.prompt.asked.clear();
    t.prompt.texts = {"600"};
    mode->trigger();
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(t.prompt.asked, std::vector<std::string>{"自定义命令"});  // asked once for all
    const std::vector<std::string> chmods = sent("SITE CHMOD 600 ");
    ASSERT_EQ(chmods.size(), 3u);
    EXPECT_EQ(chmods[0], "SITE CHMOD 600 a.txt");
    EXPECT_EQ(chmods[1], "SITE CHMOD 600 b c.txt");
    // The name's line break ends the command there: no second command rides along.
    EXPECT_EQ(chmods[2], "SITE CHMOD 600 e");
    EXPECT_TRUE(sent("DELE").empty());
    EXPECT_TRUE(QFileInfo::exists(home + "/victim.txt"));
    EXPECT_EQ(QFileInfo(home + "/a.txt").permissions() & QFile::Permissions(0x7077),
              QFile::ReadOwner | QFile::WriteOwner);
    server->kill();
    server->waitForFinished();
}

TEST(CustomCommandsWindow, TheDialogSavesOnCloseAndTheMenuFollows)
{
    QueueWindow t;
    t.w->MenuBar().DefineCustomOpened = [](TfrmCustom& d) {
        d.txtCaption->setText(QStringLiteral("Who"));
        d.txtCommand->setText(QStringLiteral("SITE WHO"));
        d.btnAddClick();
    };
    t.w->MenuBar().mnuDefineCustomClick();
    EXPECT_EQ(t.w->SettingsFile().ReadString("Commands", "p1"), "SITE WHO");
    ASSERT_EQ(t.w->MenuBar().CustomMenu()->actions().size(), 1);
    EXPECT_EQ(t.w->MenuBar().CustomMenu()->actions().front()->text(), QStringLiteral("Who"));
    EXPECT_TRUE(t.w->MenuBar().CustomMenu()->isEnabled());
}

// A key the program's own commands or another custom command use is refused
// in the dialog; a file from before keeps the key with its first owner.
// Enter in a field that holds a command adds it instead of closing.
TEST(CustomCommandsWindow, AShortcutAlreadyTakenIsRefusedAndEnterAdds)
{
    QueueWindow t;
    t.w->MenuBar().DefineCustomOpened = [](TfrmCustom& d) {
        d.show();
        d.txtCaption->setText(QStringLiteral("Viewer"));
        d.txtCommand->setText(QStringLiteral("SITE V"));
        d.txtShortcut->setText(QStringLiteral("v"));  // Ctrl+Shift+V: 查看
        d.btnAddClick();
        EXPECT_EQ(d.Commands().size(), 0u);
        EXPECT_FALSE(d.lblProblem->isHidden());
        EXPECT_TRUE(d.lblProblem->text().contains(QStringLiteral("Ctrl+Shift+V 已被 \"查看\" 使用")))
            << d.lblProblem->text().toStdString();
        // A picture of the refusal, to look at.
        d.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/custom-commands-screenshot.png"));
        EXPECT_EQ(d.txtCaption->text(), QStringLiteral("Viewer"));  // kept for another key
        d.txtShortcut->setText(QStringLiteral("w"));
        d.txtCommand->setFocus();
        QTest::keyClick(d.txtCommand, Qt::Key_Return);  // adds, does not close
        EXPECT_TRUE(d.isVisible());
        ASSERT_EQ(d.Commands().size(), 1u);
        EXPECT_EQ(d.Commands()[0].Shortcut, 'W');
        EXPECT_TRUE(d.lblProblem->isHidden());
        // Another custom command's key.
        d.txtCaption->setText(QStringLiteral("Who"));
        d.txtCommand->setText(QStringLiteral("SITE WHO"));
        d.txtShortcut->setText(QStringLiteral("W"));
        QTest::keyClick(d.txtShortcut, Qt::Key_Return);
        EXPECT_EQ(d.Commands().size(), 1u);
        EXPECT_TRUE(d.lblProblem->text().contains(QStringLiteral("Viewer")));
        // Its own key, when it is updated, is no collision.
        d.CustomListClick(0);
        d.txtCommand->setText(QStringLiteral("SITE VV"));
        d.btnAddClick();
        EXPECT_EQ(d.Commands()[0].Command, "SITE VV");
        // Nothing typed: Enter closes as before.
        QTest::keyClick(d.CustomList, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
    };
    t.w->MenuBar().mnuDefineCustomClick();
    EXPECT_EQ(t.w->SettingsFile().ReadString("Commands", "k1"), "Ctrl+Shift+W");

    // An older file with two commands on 查看's key and one on another's.
    const std::vector<TCustomCommand> older = {{"A", "SITE A", 'V'}, {"B", "SITE B", 'Q'}, {"C", "SITE C", 'Q'}};
    WriteCustomCommands(t.w->SettingsFile(), older);
    t.w->MenuBar().RebuildCustomMenu();
    const QList<QAction*> actions = t.w->MenuBar().CustomMenu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->shortcut().isEmpty());
    EXPECT_EQ(actions[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Q")));
    EXPECT_TRUE(actions[2]->shortcut().isEmpty());
}

// A desktop file manager on the session bus, as far as properties go.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public Q_SLOTS:
    void ShowItemProperties(const QStringList& uris, const QString&) { shown += uris; }
};

TEST(FileOpsLocal, MoveByTheFolderChooserAndByDroppingOntoAFolderStopsAtTheFirstFailure)
{
    QueueWindow t;
    QTemporaryDir local;
    for (const char* f : {"a.txt", "b.txt", "c.txt", "sub/b.txt", "dest/.keep"}) {
        QDir().mkpath(QFileInfo(local.filePath(f)).path());
        WriteTestFile(local.filePath(f), f);
    }
    t.w->LocalPane().SetDirectory(local.path());
    t.w->SetActivePane(t.w->LocalPane().View());
    auto select = [&](std::vector<QString> names) {
        t.w->LocalPane().View()->ClearSelection();
        t.w->LocalPane().View()->SelectWhere(
            [&](int r) { return std::find(names.begin(), names.end(), t.w->LocalPane().View()->Text(r, 0)) != names.end(); });
    };
    // The chooser gives "sub", which holds a b.txt already: a.txt moves,
    // b.txt is not put over the other one, and the move stops there.
    t.prompt.folder = local.filePath("sub").toStdString();
    select({QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")});
    t.w->FileCommands().popMoveClick();
    EXPECT_EQ(t.prompt.asked, (std::vector<std::string>{"选择目录来移动文件", "无法移动所选文件."}));
    EXPECT_EQ(ReadTestFile(local.filePath("sub/a.txt")), "a.txt");
    EXPECT_EQ(ReadTestFile(local.filePath("sub/b.txt")), "sub/b.txt");
    EXPECT_TRUE(QFileInfo::exists(local.filePath("b.txt")) && QFileInfo::exists(local.filePath("c.txt")));

    // Dropped onto a folder row of the same pane.
    t.w->LocalPane().List();
    t.w->Settings().ConfirmMove = false;
    select({QStringLiteral("b.txt"), QStringLiteral("c.txt")});
    t.w->PaneDragDrop(t.w->LocalPane().View(), t.w->LocalPane().View()->Tag, t.row(t.w->LocalPane().View(), QStringLiteral("dest")));
    EXPECT_EQ(ReadTestFile(local.filePath("dest/b.txt")), "b.txt");
    EXPECT_EQ(ReadTestFile(local.filePath("dest/c.txt")), "c.txt");
    EXPECT_EQ(t.row(t.w->LocalPane().View(), QStringLiteral("c.txt")), -1);  // listed again
}

TEST(FileOpsLocal, PropertiesComeFromTheFileManagerOrFromOurOwnDialog)
{
    QueueWindow t;
    QTemporaryDir local;
    const QString file = local.filePath("p.txt");
    WriteTestFile(file, "12345");
    QFile::setPermissions(
        file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);  // 750
    t.w->LocalPane().SetDirectory(local.path());
    t.w->SetActivePane(t.w->LocalPane().View());
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("p.txt"); });

    // No file manager on the bus: our dialog, and a changed mode applied.
    t.prompt.newMode = 740;
    t.w->FileCommands().popPropertiesClick();
    ASSERT_TRUE(WaitFor([&] { return !t.prompt.shown.empty(); }, 10000));
    const IPrompt::PropertiesRequest& shown = t.prompt.shown[0];
    EXPECT_EQ(shown.name, "p.txt");
    EXPECT_EQ(shown.type, "本地文件");
    EXPECT_EQ(shown.size, "5 字节 ");
    EXPECT_EQ(shown.mode, 750);
    const QFile::Permissions ownerGroupWorld(0x7077);  // not the "user" bits: those are ours, as root all of them
    EXPECT_EQ(QFileInfo(file).permissions() & ownerGroupWorld,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup);

    // A file manager answers: its own sheet, ours stays closed.
    // On a connection of its own, as another program would be.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("filemanager"));
    ASSERT_TRUE(bus.isConnected()) << "the tests run on a session bus of their own";
    FakeFileManager manager;
    ASSERT_TRUE(
        bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == QStringLiteral("p.txt"); });
    t.w->FileCommands().popPropertiesClick();
    const bool asked = WaitFor([&] { return !manager.shown.isEmpty(); }, 10000);
    bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("filemanager"));
    ASSERT_TRUE(asked) << t.prompt.shown.size();
    EXPECT_EQ(manager.shown, QStringList{QUrl::fromLocalFile(file).toString()});
    EXPECT_EQ(t.prompt.shown.size(), 1u);
}

}  // namespace

namespace {

TEST(MenuKeys, KeysOfItemsAMenuDisabledWorkAgainOnceItCloses)
{
    QueueWindow t;
    auto menuNamed = [&](const QString& title) -> QMenu* {
        for (QAction* a : t.w->menuBar()->actions())
            if (a->text() == title)
                return a->menu();
        return nullptr;
    };
    auto item = [](QMenu* m, const QString& text) -> QAction* {
        for (QAction* a : m->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    };
    for (const auto& [menuTitle, itemText] : {std::pair{QStringLiteral("队列(&Q)"), QStringLiteral("中断(&A)")},
                                              std::pair{QStringLiteral("工具(&O)"), QStringLiteral("重命名(&R)")}}) {
        QMenu* menu = menuNamed(menuTitle);
        ASSERT_TRUE(menu);
        QAction* a = item(menu, itemText);
        ASSERT_TRUE(a);
        Q_EMIT menu->aboutToShow();  // disconnected, nothing selected: off while the menu shows
        EXPECT_FALSE(a->isEnabled()) << itemText.toStdString();
        Q_EMIT menu->aboutToHide();
        EXPECT_TRUE(a->isEnabled()) << itemText.toStdString();  // its key works again
    }
}

// Tab goes from pane to pane (and Shift+Tab back), Ctrl+L puts the focus on
// the active pane's path box, and the help menu's
// list names every key the menus have, F5 and Ctrl+L among them, and the
// panes' own keys.
TEST(Keyboard, TabMovesBetweenThePanesCtrlLFocusesThePathBoxAndTheHelpListsTheKeys)
{
    QueueWindow t;
    t.w->show();
    t.w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(t.w.get()));
    t.w->LocalPane().Activate();
    const auto focusIn = [](TCorvListView* view) { return view->isAncestorOf(QApplication::focusWidget()); };
    ASSERT_TRUE(focusIn(t.w->LocalPane().View()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(focusIn(t.w->RemotePane().View()));
    EXPECT_TRUE(t.w->ActivePart().IsRemote());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(focusIn(t.w->LocalPane().View()));
    EXPECT_FALSE(t.w->ActivePart().IsRemote());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::ControlModifier);
    QComboBox* box = t.w->LocalPane().PathBox();
    EXPECT_EQ(QApplication::focusWidget(), box);  // its folders chosen with the arrow keys

    QAction* list = nullptr;
    for (QAction* m : t.w->menuBar()->actions())
        if (m->menu())
            for (QAction* a : m->menu()->actions())
                if (a->text() == QStringLiteral("键盘快捷键(&K)"))
                    list = a;
    ASSERT_NE(list, nullptr);
    list->trigger();
    ASSERT_FALSE(t.prompt.asked.empty());
    const QString text = QString::fromStdString(t.prompt.asked.back());
    for (const QString& line : {QStringLiteral("F5\t目录 › 刷新"), QStringLiteral("Ctrl+L\t目录 › 编辑路径"),
                                QStringLiteral("F2\t工具 › 重命名"), QStringLiteral("Tab\t窗格 › 切换到另一个窗格"),
                                QStringLiteral("Backspace\t窗格 › 上一级目录")})
        EXPECT_TRUE(text.contains(line)) << line.toStdString() << "\n" << text.toStdString();
}

// The desktop's icon theme: the toolbar and the file rows take its icons
// (a file by its type, found from the name), and the program's own where the
// theme has none.
TEST(ThemeIcons, TheToolbarAndFileRowsUseTheThemeAndFallBackWhereItHasNone)
{
    QTemporaryDir themes, files;
    const QString theme = themes.path() + QStringLiteral("/corvtest");
    ASSERT_TRUE(QDir().mkpath(theme + QStringLiteral("/16x16/apps")));
    WriteTestFile(theme + QStringLiteral("/index.theme"),
                  "[Icon Theme]\nName=corvtest\nDirectories=16x16/apps\n\n[16x16/apps]\nSize=16\nType=Fixed\n");
    QImage square(16, 16, QImage::Format_ARGB32);
    square.fill(Qt::red);
    for (const char* name : {"view-refresh", "application-pdf"})
        ASSERT_TRUE(square.save(theme + QStringLiteral("/16x16/apps/%1.png").arg(QLatin1String(name))));
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("corvtest"));
    WriteTestFile(files.filePath(QStringLiteral("报告.pdf")), "%PDF");

    QueueWindow t;
    QAction* refresh = nullptr;
    QAction* remove = nullptr;
    for (const QToolBar* bar : t.w->findChildren<QToolBar*>())
        for (QAction* a : bar->actions()) {
            if (a->toolTip() == QStringLiteral("刷新"))
                refresh = a;
            if (a->toolTip() == QStringLiteral("删除"))
                remove = a;
        }
    ASSERT_TRUE(refresh && remove);
    EXPECT_EQ(refresh->icon().name(), QStringLiteral("view-refresh"));
    EXPECT_TRUE(remove->icon().name().isEmpty());  // not in the theme: the program's own
    EXPECT_FALSE(remove->icon().isNull());
    // The menus too: the theme's icon, else the style's for a usual command.
    const auto menuAction = [&](const QString& caption) -> QAction* {
        for (QMenu* menu : t.w->menuBar()->findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                if (a->text() == caption)
                    return a;
        return nullptr;
    };
    QAction* menuRefresh = menuAction(QStringLiteral("刷新(&R)"));
    QAction* menuExit = menuAction(QStringLiteral("退出(&X)"));
    ASSERT_TRUE(menuRefresh && menuExit);
    EXPECT_EQ(menuRefresh->icon().name(), QStringLiteral("view-refresh"));
    EXPECT_FALSE(menuExit->icon().isNull());

    t.w->LocalPane().SetDirectory(files.path());
    TCorvListView* pane = t.w->LocalPane().View();
    const int row = t.row(pane, QStringLiteral("报告.pdf"));
    ASSERT_GE(row, 0);
    const QAbstractItemModel* model = pane->View()->model();
    const auto icon = model->data(model->index(row, 0), Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(icon.name(), QStringLiteral("application-pdf"));
    QIcon::setThemeName(QString());
}

}  // namespace

#include "FileOpsWindowTest.moc"
