// Viewing and editing from the window against a real server: the copy in a
// private folder, the built-in and external editors, sending back, and what
// happens when the copy does not arrive or the session drops meanwhile.

#include "QueueWindow.h"
#include "dialogs/Editor.h"

#include <QFile>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

// Text files travel in ASCII mode: the server's line ends may come as CR LF.
std::string noCR(std::string s)
{
    std::erase(s, '\r');
    return s;
}

struct EditRun : OwnServerRun {
    std::vector<QStringList> launched;  // program and arguments, per start
    std::string writes;                 // what the external program leaves in the file
    explicit EditRun(const std::vector<std::pair<QString, QByteArray>>& files) : OwnServerRun(files, 0)
    {
        t.w->FileCommands().LaunchProgram = [this](const QString& program, const QStringList& args) {
            launched.push_back(QStringList{program} + args);
            if (!writes.empty())
                WriteTestFile(args.back(), QByteArray::fromStdString(writes));
            return true;
        };
        t.w->FileCommands().OpenUrlHook = [](const QUrl&) { return false; };  // no desktop program here
        t.w->Settings().Editor.clear();
        t.w->Settings().Viewer.clear();
    }
    void selectOnly(const QString& name)
    {
        t.w->SetActivePane(t.w->RemotePane().View());
        select({name});
    }
    std::string serverFile(const QString& name) const { return ReadTestFile(home + "/" + name); }
    bool listedAfterStore() const
    {
        const auto log = t.log();
        const auto stor =
            std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("STOR ", 0) == 0; });
        return stor != log.end() &&
               (std::find(stor, log.end(), "LIST") != log.end() || std::find(stor, log.end(), "MLSD") != log.end());
    }
};

}  // namespace

TEST(RemoteEdit, TheBuiltInEditorSendsTheChangedFileBackFromAPrivateCopy)
{
    EditRun s({{QStringLiteral("notes.txt"), "alpha\nbeta\n"}});
    ASSERT_TRUE(s.connect()) << s.logText();
    QString copy;
    s.t.w->FileCommands().RunEditor = [&](const QString& file) {
        copy = file;
        EXPECT_EQ(s.t.w->Workflow().State(), SessionState::Editing);
        EXPECT_EQ(noCR(ReadTestFile(file)), "alpha\nbeta\n");
        WriteTestFile(file, "alpha\nGAMMA\n");
        return true;
    };
    s.selectOnly(QStringLiteral("notes.txt"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return !copy.isEmpty() && s.t.w->Workflow().State() == SessionState::Idle; }, 20000))
        << s.logText();
    EXPECT_EQ(s.serverFile("notes.txt"), "alpha\nGAMMA\n");
    EXPECT_TRUE(s.listedAfterStore()) << s.logText();
    // The copy lives in a folder only this user can enter, not at a
    // predictable place in the shared temporary folder.
    const QFileInfo folder(QFileInfo(copy).absolutePath());
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(folder.permissions() & others, QFile::Permissions());
    EXPECT_NE(folder.absoluteFilePath(), QDir::tempPath());

    // Closing the editor without sending leaves the server's file alone.
    s.t.w->FileCommands().RunEditor = [&](const QString& file) {
        WriteTestFile(file, "lost\n");
        return false;
    };
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(s.t.idle()) << s.logText();
    EXPECT_EQ(s.serverFile("notes.txt"), "alpha\nGAMMA\n");
}

TEST(RemoteEdit, ExternalEditorsByExtensionOrSettingAskBeforeSendingAndKeepTheSessionAlive)
{
    EditRun s({{QStringLiteral("page.HTM"), "<p>1</p>\n"}, {QStringLiteral("run.log"), "x\n"}});
    s.t.w->Settings().Antiidle = true;
    s.t.w->Settings().IdleTime = 1;
    s.t.w->SettingsFile().WriteString("Editors", "e1", ".txt .htm,htmledit --new");
    s.t.w->Settings().Editor = "plainedit";
    ASSERT_TRUE(s.connect()) << s.logText();

    s.t.prompt.confirm = true;
    s.writes = "<p>2</p>\n";
    s.selectOnly(QStringLiteral("page.HTM"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return !s.launched.empty(); }, 20000)) << s.logText();
    ASSERT_EQ(s.launched.size(), 1u);
    EXPECT_EQ(s.launched[0].mid(0, 2), (QStringList{"htmledit", "--new"}));
    ASSERT_TRUE(WaitFor([&] { return s.serverFile("page.HTM") == "<p>2</p>\n"; }, 20000)) << s.logText();
    EXPECT_TRUE(std::find(s.t.prompt.asked.begin(), s.t.prompt.asked.end(),
                          "请点[确定]重新上传编辑过的文件, 或点[取消]中断.") != s.t.prompt.asked.end());

    // Another extension: the editor of the settings; "cancel" sends nothing.
    ASSERT_TRUE(s.t.idle());
    s.t.prompt.confirm = false;
    s.writes = "changed\n";
    s.selectOnly(QStringLiteral("run.log"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return s.launched.size() == 2; }, 20000)) << s.logText();
    EXPECT_EQ(s.launched[1].front(), QStringLiteral("plainedit"));
    ASSERT_TRUE(s.t.idle());
    EXPECT_EQ(s.serverFile("run.log"), "x\n");
}

TEST(RemoteEdit, AKeepAliveGoesOutWhileTheBuiltInEditorIsOpen)
{
    EditRun s({{QStringLiteral("a.txt"), "a\n"}});
    s.t.w->Settings().Antiidle = true;
    s.t.w->Settings().IdleTime = 1;
    ASSERT_TRUE(s.connect()) << s.logText();
    bool noop = false;
    s.t.w->FileCommands().RunEditor = [&](const QString&) {
        noop = WaitFor([&] { return s.logged("NOOP"); }, 10000);
        return false;
    };
    s.selectOnly(QStringLiteral("a.txt"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return noop || s.t.w->Workflow().State() == SessionState::Idle; }, 20000));
    EXPECT_TRUE(noop) << s.logText();
}

TEST(RemoteEdit, NothingIsSentOverTheServersFileWhenTheCopyOrTheSessionFails)
{
    EditRun s({{QStringLiteral("gone.txt"), "v1\n"}, {QStringLiteral("keep.txt"), "v1\n"}});
    ASSERT_TRUE(s.connect()) << s.logText();
    int opened = 0;
    s.t.w->FileCommands().RunEditor = [&](const QString&) {
        ++opened;
        return true;
    };
    // The file went away after the listing: no editor, no upload.
    QFile::remove(s.home + "/gone.txt");
    s.selectOnly(QStringLiteral("gone.txt"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(s.t.idle()) << s.logText();
    EXPECT_EQ(opened, 0);
    EXPECT_FALSE(QFileInfo::exists(s.home + "/gone.txt"));

    // The server goes away while the file is open: the edited copy is kept
    // and the user told where.
    QString copy;
    s.t.w->FileCommands().RunEditor = [&](const QString& file) {
        copy = file;
        WriteTestFile(file, "v2\n");
        s.server->kill();
        s.server->waitForFinished();
        EXPECT_TRUE(WaitFor([&] { return s.t.w->Workflow().State() != SessionState::Editing; }, 20000));
        return true;
    };
    s.selectOnly(QStringLiteral("keep.txt"));
    s.t.w->FileCommands().popEditClick();
    ASSERT_TRUE(WaitFor([&] { return !copy.isEmpty() && !s.t.prompt.asked.empty(); }, 20000)) << s.logText();
    EXPECT_EQ(s.t.prompt.asked.back(), "连接已断开, 编辑过的文件未上传, 保留在: " + copy.toStdString());
    EXPECT_EQ(ReadTestFile(copy), "v2\n");
    EXPECT_EQ(s.serverFile("keep.txt"), "v1\n");
}

TEST(RemoteView, AViewerOrTheBuiltInTextWindowShowsTheCopy)
{
    EditRun s({{QStringLiteral("readme.txt"), "hello\nworld\n"}});
    ASSERT_TRUE(s.connect()) << s.logText();
    s.selectOnly(QStringLiteral("readme.txt"));
    s.t.w->FileCommands().popViewClick();
    // No program for the file: the built-in window, read-only.
    TfrmEditor* viewer = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (viewer = s.t.w->findChild<TfrmEditor*>()) && viewer->isVisible(); }, 20000))
        << s.logText();
    EXPECT_EQ(viewer->Memo1->toPlainText(), QStringLiteral("hello\nworld"));
    EXPECT_TRUE(viewer->Memo1->isReadOnly());
    EXPECT_EQ(s.t.w->Workflow().State(), SessionState::Idle);
    viewer->close();

    s.t.w->Settings().Viewer = "myviewer";
    s.t.w->FileCommands().popViewClick();
    ASSERT_TRUE(WaitFor([&] { return !s.launched.empty(); }, 20000)) << s.logText();
    EXPECT_EQ(s.launched[0].front(), QStringLiteral("myviewer"));
    EXPECT_EQ(noCR(ReadTestFile(s.launched[0].back())), "hello\nworld\n");
}

TEST(LocalViewEdit, ProgramsByExtensionSettingOrDesktop)
{
    QueueWindow t;
    QTemporaryDir dir;
    WriteTestFile(dir.filePath("A.TXT"), "a");
    WriteTestFile(dir.filePath("b.log"), "b");
    std::vector<QStringList> launched;
    std::vector<QUrl> opened;
    t.w->FileCommands().LaunchProgram = [&](const QString& program, const QStringList& args) {
        launched.push_back(QStringList{program} + args);
        return true;
    };
    t.w->FileCommands().OpenUrlHook = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    t.w->SettingsFile().WriteString("Editors", "e1", ".txt.htm,texteditor");
    t.w->Settings().Editor = "fallback";
    t.w->LocalPane().SetDirectory(dir.path());
    t.w->SetActivePane(t.w->LocalPane().View());
    auto edit = [&](const QString& name) {
        t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Text(r, 0) == name; });
        t.w->FileCommands().popEditClick();
    };
    edit(QStringLiteral("A.TXT"));
    edit(QStringLiteral("b.log"));
    ASSERT_EQ(launched.size(), 2u);
    EXPECT_EQ(launched[0], (QStringList{"texteditor", dir.filePath("A.TXT")}));
    EXPECT_EQ(launched[1], (QStringList{"fallback", dir.filePath("b.log")}));

    // Viewing every selected file without a viewer: the desktop's programs.
    t.w->LocalPane().View()->SelectWhere([&](int r) { return t.w->LocalPane().View()->Kind(r) == rkFile; });
    t.w->FileCommands().popViewClick();
    EXPECT_EQ(opened.size(), 2u);
}
