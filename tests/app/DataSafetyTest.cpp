// A user's files are never lost or mistaken: the row a command names is the
// file the server gets, a failed or refused transfer leaves the target as it
// was, and a run reports every item it did not move. Against real servers,
// files compared byte for byte.

#include "QueueWindow.h"
#include "RealServers.h"
#include "widgets/FailedView.h"
#include "widgets/corvview.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder of the test's own in vsftpd's local user's home, removed at the end.
struct VsftpdFolder {
    QString base, root;
    explicit VsftpdFolder(const char* tag)
    {
        base = QStringLiteral("%1_%2").arg(QLatin1String(tag)).arg(::getpid());
        root = QString::fromStdString(RealServers::root()) + QStringLiteral("/ftptest/") + base;
        QDir().mkpath(root);
    }
    ~VsftpdFolder() { QDir(root).removeRecursively(); }
    void write(const QString& name, const QByteArray& data) const
    {
        QDir().mkpath(QFileInfo(root + "/" + name).path());
        WriteTestFile(root + "/" + name, data);
    }
    QByteArray read(const QString& name) const { return QByteArray::fromStdString(ReadTestFile(root + "/" + name)); }
    bool exists(const QString& name) const { return QFileInfo::exists(root + "/" + name); }
    void ownByServerUser() const
    {
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), root});
    }
    // Logs the window in with the folder as its start folder.
    bool connect(QueueWindow& t) const
    {
        t.w->QuickConnect().ServerField()->setEditText(
            QStringLiteral("127.0.0.1|%1:ftptest:ftppass:%2").arg(base).arg(RealServers::vsftpd().port));
        t.w->QuickConnect().Connect();
        return t.idle();
    }
};

std::string logOf(const QueueWindow& t)
{
    std::string s;
    for (const std::string& l : t.log())
        s += l + "\n";
    return s;
}

size_t countLines(const QueueWindow& t, const std::string& line)
{
    const std::vector<std::string> log = t.log();
    return static_cast<size_t>(std::count(log.begin(), log.end(), line));
}

void selectExactly(TCorvListView* pane, const QStringList& names)
{
    pane->SelectWhere([&](int r) { return names.contains(pane->Text(r, 0)); });
}

}  // namespace

// Names with blanks at either end, or with " -> " in a plain file's name, are
// rows of their own, and deleting or fetching one names that file exactly.
TEST(ExactNames, BlanksAndArrowsInNamesReachTheServerAsListed)
{
    VsftpdFolder f("names");
    const std::vector<std::pair<QString, QByteArray>> files = {
        {QStringLiteral(" lead"), "blank lead"}, {QStringLiteral("lead"), "lead"},
        {QStringLiteral("tail "), "blank tail"}, {QStringLiteral("tail"), "tail"},
        {QStringLiteral("a -> b"), "arrow"},     {QStringLiteral("a"), "plain a"}};
    for (const auto& [name, data] : files)
        f.write(name, data);
    f.ownByServerUser();

    QueueWindow t;
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    for (const auto& [name, data] : files)
        EXPECT_GE(t.row(t.w->RemotePane().View(), name), 0) << "no row for '" << name.toStdString() << "'\n" << logOf(t);

    // Fetched under their own names, with their own contents.
    t.w->SetActivePane(t.w->RemotePane().View());
    selectExactly(t.w->RemotePane().View(), {QStringLiteral(" lead"), QStringLiteral("a -> b"), QStringLiteral("tail ")});
    t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 30000))
        << logOf(t);
    EXPECT_EQ(ReadTestFile(local.path() + "/ lead"), "blank lead");
    EXPECT_EQ(ReadTestFile(local.path() + "/a -_ b"), "arrow");  // ">" is cleaned from local names
    EXPECT_EQ(ReadTestFile(local.path() + "/tail "), "blank tail");
    EXPECT_FALSE(QFileInfo::exists(local.path() + "/lead"));
    EXPECT_FALSE(QFileInfo::exists(local.path() + "/a"));

    // Deleted: only the selected files go.
    t.w->Settings().ConfirmDel = false;
    selectExactly(t.w->RemotePane().View(), {QStringLiteral(" lead"), QStringLiteral("a -> b"), QStringLiteral("tail ")});
    t.w->FileCommands().popDeleteClick();
    ASSERT_TRUE(t.idle()) << logOf(t);
    EXPECT_FALSE(f.exists(QStringLiteral(" lead")));
    EXPECT_FALSE(f.exists(QStringLiteral("a -> b")));
    EXPECT_FALSE(f.exists(QStringLiteral("tail ")));
    EXPECT_EQ(f.read(QStringLiteral("lead")), "lead");
    EXPECT_EQ(f.read(QStringLiteral("a")), "plain a");
    EXPECT_EQ(f.read(QStringLiteral("tail")), "tail");
}

// A script's plain name is that one file; a mask ignores case only on a
// server whose names ignore case (vsftpd's do not).
TEST(ExactNames, AScriptDeletesTheNameItGivesAndMasksKeepTheServersCase)
{
    VsftpdFolder f("case");
    for (const char* n : {"case.txt", "Case.txt", "CASE.TXT", "x.LOG", "y.log"})
        f.write(QString::fromLatin1(n), n);
    f.ownByServerUser();
    QueueWindow t;
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("del.txt"));
    WriteTestFile(script, "DEL-R:case.txt\nDEL-R:*.log\n");
    ASSERT_TRUE(t.w->Scripts().RunScriptFile(script, true));
    ASSERT_TRUE(WaitFor([&] { return !t.w->Scripts().Script().ScriptRunning; }, 20000)) << logOf(t);
    ASSERT_TRUE(t.idle());
    EXPECT_FALSE(f.exists(QStringLiteral("case.txt")));
    EXPECT_TRUE(f.exists(QStringLiteral("Case.txt")));
    EXPECT_TRUE(f.exists(QStringLiteral("CASE.TXT")));
    EXPECT_FALSE(f.exists(QStringLiteral("y.log")));
    EXPECT_TRUE(f.exists(QStringLiteral("x.LOG")));
}

// The real program's "GET=path QUIT=YES" into the run's local folder with
// the given resume mode; its exit status.
int keywordGet(const OwnServerRun& s, const char* path, int resumeMode)
{
    Program get;
    const QByteArray setup =
        "[Setup]\r\nResumeMode=" + QByteArray::number(resumeMode) + "\r\nPath=" + s.local.path().toUtf8() + "\r\n";
    const int status = get.run(
        {QStringLiteral("HOST=127.0.0.1"), QStringLiteral("PORT=%1").arg(s.port), QStringLiteral("USER=ftptest"),
         QStringLiteral("PASS=ftppass"), QStringLiteral("GET=") + QLatin1String(path), QStringLiteral("QUIT=YES")},
        setup);
    if (status != 0)
        ADD_FAILURE() << get.p.readAllStandardError().toStdString();
    return status;
}

// Hidden replacements a download leaves behind, if any.
QStringList leftovers(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral(".*corvyne-*")}, QDir::Files | QDir::Hidden);
}

// An overwrite replaces the user's file only with a whole new one: a refused
// download leaves it as it was, a completed one takes its place and keeps
// its permissions.
TEST(SafeOverwrite, ARefusedDownloadLeavesTheUsersFileAndACompletedOneReplacesIt)
{
    VsftpdFolder f("overwrite");
    f.write(QStringLiteral("locked.bin"), "the server's copy");
    f.write(QStringLiteral("new.bin"), "new contents");
    f.ownByServerUser();
    // Unreadable for the server's user: the "RETR" is refused with 550.
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("root"), f.root + QStringLiteral("/locked.bin")});
    QFile::setPermissions(f.root + QStringLiteral("/locked.bin"), {});

    QueueWindow t;
    QTemporaryDir local;
    WriteTestFile(local.path() + "/locked.bin", "the user's file");
    WriteTestFile(local.path() + "/new.bin", "old contents, longer than the new ones");
    QFile::setPermissions(local.path() + "/new.bin", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    t.w->LocalPane().SetDirectory(local.path());
    t.w->Settings().ResumeMode = 2;  // overwrite without asking
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    t.w->SetActivePane(t.w->RemotePane().View());
    selectExactly(t.w->RemotePane().View(), {QStringLiteral("locked.bin"), QStringLiteral("new.bin")});
    t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 30000))
        << logOf(t);
    EXPECT_EQ(ReadTestFile(local.path() + "/locked.bin"), "the user's file") << logOf(t);
    EXPECT_EQ(ReadTestFile(local.path() + "/new.bin"), "new contents") << logOf(t);
    EXPECT_EQ(QFileInfo(local.path() + "/new.bin").permissions() & 0x0777,
              QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_TRUE(leftovers(local.path()).isEmpty()) << leftovers(local.path()).join(' ').toStdString();
}

// Resuming into a target larger than its source would leave a file unlike
// the source: the user is asked (without the resume choice), a run without
// a user replaces the file whole; both end with the source's bytes.
TEST(SafeOverwrite, AResumeOntoALargerTargetNeverEndsWithADifferentFile)
{
    const QByteArray remote = pattern(100000, 21), local = pattern(150000, 22), partial = remote.left(30000);
    OwnServerRun s({{QStringLiteral("big.bin"), remote}, {QStringLiteral("part.bin"), remote}}, 0);
    WriteTestFile(s.local.path() + "/big.bin", local);
    WriteTestFile(s.local.path() + "/part.bin", partial);
    s.t.w->Settings().ResumeMode = 1;  // resume without asking
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Resume;
    ASSERT_TRUE(s.connect()) << s.logText();
    s.t.w->SetActivePane(s.t.w->RemotePane().View());
    s.select({QStringLiteral("big.bin"), QStringLiteral("part.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    // Asked about the larger one only; "resume" there means a whole new copy.
    EXPECT_EQ(s.t.prompt.asked, std::vector<std::string>{"big.bin"});
    EXPECT_TRUE(ReadTestFile(s.local.path() + "/big.bin") == remote.toStdString());
    EXPECT_TRUE(ReadTestFile(s.local.path() + "/part.bin") == remote.toStdString());
    EXPECT_TRUE(s.logText().find("REST 30000") != std::string::npos) << s.logText();
    EXPECT_TRUE(s.logText().find("REST 150000") == std::string::npos) << s.logText();

    // The keyword command line: no question, the same result, status 0.
    WriteTestFile(s.local.path() + "/big.bin", local);
    EXPECT_EQ(keywordGet(s, "/big.bin", 1), 0);
    EXPECT_TRUE(ReadTestFile(s.local.path() + "/big.bin") == remote.toStdString());
}

// GET= of a file that exists here follows the resume mode; in its "ask" mode
// it does what a script does (a whole new copy), and never skips unasked.
TEST(SafeOverwrite, AKeywordGetReplacesADailyFileInsteadOfSkippingIt)
{
    OwnServerRun s({{QStringLiteral("daily.csv"), "today's figures\n"}}, 0);
    WriteTestFile(s.local.path() + "/daily.csv", "yesterday's figures, a longer line\n");
    EXPECT_EQ(keywordGet(s, "/daily.csv", 0), 0);
    EXPECT_EQ(ReadTestFile(s.local.path() + "/daily.csv"), "today's figures\n");
    EXPECT_TRUE(leftovers(s.local.path()).isEmpty());
}

// Names cleaned for the local disk ("q?mark.bin" -> "q_mark.bin") meet the
// existing-file rules under the name really written, and two remote files
// never land in one local file.
TEST(SafeOverwrite, CleanedLocalNamesMeetTheRulesAndNeverShareAFile)
{
    const QByteArray q1 = pattern(5000, 31), q2 = pattern(6000, 32);
    OwnServerRun s({{QStringLiteral("q?mark.bin"), q1}, {QStringLiteral("q*mark.bin"), q2}}, 0);
    WriteTestFile(s.local.path() + "/q_mark.bin", "the user's own file");
    ASSERT_TRUE(s.connect()) << s.logText();
    s.t.w->SetActivePane(s.t.w->RemotePane().View());

    // "Always skip": both skipped, the user's file untouched.
    s.t.w->Settings().ResumeMode = 3;
    s.select({QStringLiteral("q?mark.bin"), QStringLiteral("q*mark.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/q_mark.bin"), "the user's own file");

    // "Ask": a double-click asks about the local name, and skipping keeps it.
    s.t.w->Settings().ResumeMode = 0;
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Skip;
    s.select({QStringLiteral("q?mark.bin")});
    Q_EMIT s.t.w->RemotePane().View()->RowDoubleClicked(s.t.row(s.t.w->RemotePane().View(), QStringLiteral("q?mark.bin")));
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(s.t.prompt.asked, std::vector<std::string>{"q_mark.bin"});
    EXPECT_EQ(ReadTestFile(s.local.path() + "/q_mark.bin"), "the user's own file");

    // Overwriting: the first takes the user's name, the second one of its own.
    QFile::remove(s.local.path() + "/q_mark.bin");
    s.t.w->Settings().ResumeMode = 2;
    s.select({QStringLiteral("q?mark.bin"), QStringLiteral("q*mark.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    const std::string a = ReadTestFile(s.local.path() + "/q_mark.bin"),
                      b = ReadTestFile(s.local.path() + "/q_mark (2).bin");
    EXPECT_TRUE((a == q1.toStdString() && b == q2.toStdString()) || (a == q2.toStdString() && b == q1.toStdString()))
        << s.logText();
}

// A script never goes on after a command that failed: a refused change of
// folder would let the next lines delete in the wrong folder.
TEST(ScriptFailures, AFailedCommandStopsTheScriptUnlessItSaysToGoOn)
{
    OwnServerRun s({{QStringLiteral("victim/important.zip"), "keep me"}, {QStringLiteral("victim/x.txt"), "x"}}, 0);
    TfrmMain& w = *s.t.w;
    ASSERT_TRUE(s.connect()) << s.logText();
    QTemporaryDir dir;
    auto run = [&](const char* name, const QByteArray& text) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        WriteTestFile(path, text);
        EXPECT_TRUE(w.Scripts().RunScriptFile(path, true));
        return WaitFor([&] { return !w.Scripts().Script().ScriptRunning; }, 20000) && s.t.idle();
    };
    ASSERT_TRUE(run("cd.txt", "CD-R:/victim\nCD-R:/victim/oldlogs\nIFEXIST-R:*.zip\nDEL-R:*.zip\nENDIF\n"))
        << s.logText();
    EXPECT_EQ(ReadTestFile(s.home + "/victim/important.zip"), "keep me");
    EXPECT_TRUE(s.logged("脚本命令失败: CD-R:/victim/oldlogs (550 No such file or directory.)")) << s.logText();

    // Each kind of failure stops the script before its next line.
    for (const char* failing :
         {"DEL-R:nothere.txt", "RD-R:nothere", "RENAME-R:nothere:y", "RENAME-R:nothere", "RAW:NOSUCHCOMMAND",
          "MD-R:/victim/x.txt/sub", "RENAME-R:important.zip:x.txt", "CD-L:/no/such/folder", "LOADQUEUE:/no/such.cqf",
          "DIAL:nowhere", "RUN:/no/such/program"}) {
        const QByteArray text = QByteArray("CD-R:/victim\n") + failing + "\nRAW:HELP\n";
        const auto helps = [&] { return countLines(s.t, "HELP"); };
        const auto before = helps();
        ASSERT_TRUE(run("fail.txt", text)) << failing << "\n" << s.logText();
        EXPECT_EQ(helps(), before) << failing << "\n" << s.logText();
    }
    EXPECT_EQ(ReadTestFile(s.home + "/victim/x.txt"), "x");  // the rename onto it was refused

    // ONERROR:CONTINUE: the failure is logged and the script goes on.
    const size_t helps = countLines(s.t, "HELP");
    ASSERT_TRUE(run("on.txt", "ONERROR:CONTINUE\nDEL-R:nothere.txt\nRAW:HELP\n")) << s.logText();
    EXPECT_EQ(countLines(s.t, "HELP"), helps + 1) << s.logText();
}

// A run ends with a failed status when anything it was asked to move did
// not move: a folder the server refuses (the rest of the tree still comes), a
// file whose folder is missing (and the entries after it still run), a local
// name that is not UTF-8. Each is in the failed list, to retry or clear.
TEST(ScriptFailures, TreeTransfersCountEveryItemTheyDidNotMove)
{
    VsftpdFolder f("tree");
    f.write(QStringLiteral("tree/a.txt"), "a");
    f.write(QStringLiteral("tree/locked.denied/b.txt"), "b");
    f.write(QStringLiteral("tree/open/c.txt"), "c");
    f.write(QStringLiteral("pub/d.txt"), "d");
    f.ownByServerUser();
    QueueWindow t;
    TfrmMain& w = *t.w;
    QTemporaryDir local;
    w.LocalPane().SetDirectory(local.path());
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    const std::string start = w.RemotePane().CurrentPath();
    auto ended = [&] {
        return WaitFor([&] { return RunOver(w); }, 30000);
    };

    w.SetActivePane(w.RemotePane().View());
    selectExactly(w.RemotePane().View(), {QStringLiteral("tree")});
    w.QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(ended()) << logOf(t);
    EXPECT_EQ(ReadTestFile(local.path() + "/tree/a.txt"), "a");
    EXPECT_EQ(ReadTestFile(local.path() + "/tree/open/c.txt"), "c");
    ASSERT_EQ(w.QueueRun().FailedEntries().size(), 1u) << logOf(t);
    EXPECT_EQ(w.QueueRun().FailedEntries()[0].Entry.Source, start + "tree/locked.denied/");

    // A file whose folder is missing fails; the entry after it still runs.
    w.QueueRun().ClearFailed({});
    w.QueueEntries().Append({TEntryKind::DownloadFile, "/nodir/a.zip", -1, (local.path() + "/a.zip").toStdString()});
    w.QueueEntries().Append(
        {TEntryKind::DownloadFile, start + "pub/d.txt", 1, (local.path() + "/d.txt").toStdString()});
    w.QueuePanel().queTransferClick();
    ASSERT_TRUE(ended()) << logOf(t);
    EXPECT_EQ(ReadTestFile(local.path() + "/d.txt"), "d");
    ASSERT_EQ(w.QueueRun().FailedEntries().size(), 1u) << logOf(t);
    EXPECT_EQ(w.QueueRun().FailedEntries()[0].Entry.Source, "/nodir/a.zip");
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "1 个项目失败 (共 2 个项目): a.zip"), log.end()) << logOf(t);

    // Retry puts it back in the queue, clear forgets it.
    w.QueueRun().RetryFailed({});
    EXPECT_EQ(w.QueueEntries().Count(), 1u);
    EXPECT_TRUE(w.QueueRun().FailedEntries().empty());
    w.QueueEntries().Clear();

    // An upload of a folder holding a name that is not UTF-8: the file is a
    // failure with its bytes shown, the others go up.
    QTemporaryDir up;
    const QString tree = up.path() + QStringLiteral("/up");
    QDir().mkpath(tree);
    WriteTestFile(tree + "/ok.txt", "ok");
    const QByteArray bad = QFile::encodeName(tree) + "/caf\xe9.txt";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    w.LocalPane().SetDirectory(up.path());
    selectExactly(w.LocalPane().View(), {QStringLiteral("up")});
    w.SetActivePane(w.LocalPane().View());
    w.QueuePanel().mnuUploadClick();
    ASSERT_TRUE(ended()) << logOf(t);
    EXPECT_EQ(f.read(QStringLiteral("up/ok.txt")), "ok");
    ASSERT_EQ(w.QueueRun().FailedEntries().size(), 1u) << logOf(t);
    EXPECT_NE(w.QueueRun().FailedEntries()[0].Reason.find("caf\\xE9.txt"), std::string::npos) << logOf(t);

    // A folder the server will not make: its files are not put elsewhere,
    // and the folder is a failure.
    w.QueueRun().ClearFailed({});
    QDir().mkpath(up.path() + QStringLiteral("/made.denied"));
    WriteTestFile(up.path() + "/made.denied/m.txt", "m");
    w.LocalPane().List();
    selectExactly(w.LocalPane().View(), {QStringLiteral("made.denied")});
    w.QueuePanel().mnuUploadClick();
    ASSERT_TRUE(ended()) << logOf(t);
    ASSERT_EQ(w.QueueRun().FailedEntries().size(), 1u) << logOf(t);
    EXPECT_EQ(w.QueueRun().FailedEntries()[0].Entry.Kind, TEntryKind::UploadDirectory);
    EXPECT_FALSE(f.exists(QStringLiteral("m.txt")));
}

// A link back into a folder being uploaded is followed once, not until the
// depth bound: the tree goes up whole, the loop is named in the log.
TEST(ScriptFailures, AnUploadFollowsALinkIntoAFolderOnlyOnce)
{
    VsftpdFolder f("loop");
    f.ownByServerUser();
    QueueWindow t;
    TfrmMain& w = *t.w;
    QTemporaryDir up;
    const QString tree = up.path() + QStringLiteral("/top");
    QDir().mkpath(tree + QStringLiteral("/sub"));
    WriteTestFile(tree + "/sub/f.txt", "f");
    ASSERT_TRUE(QFile::link(QStringLiteral(".."), tree + QStringLiteral("/sub/loopdir")));
    w.LocalPane().SetDirectory(up.path());
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    selectExactly(w.LocalPane().View(), {QStringLiteral("top")});
    w.SetActivePane(w.LocalPane().View());
    w.QueuePanel().mnuUploadClick();
    ASSERT_TRUE(WaitFor([&] { return RunOver(w); }, 30000))
        << logOf(t);
    EXPECT_EQ(f.read(QStringLiteral("top/sub/f.txt")), "f");
    EXPECT_FALSE(QFileInfo::exists(f.root + "/top/sub/loopdir/sub")) << logOf(t);
    const std::string log = logOf(t);
    EXPECT_NE(log.find("链接到已上传的目录"), std::string::npos) << log;
}

// Renaming onto a listed name asks first; "no" leaves both files.
TEST(ExactNames, ARemoteRenameOntoAnExistingFileAsksFirst)
{
    VsftpdFolder f("rename");
    f.write(QStringLiteral("b"), "b");
    f.write(QStringLiteral("keep1"), "keep");
    f.ownByServerUser();
    QueueWindow t;
    ASSERT_TRUE(f.connect(t)) << logOf(t);
    t.w->SetActivePane(t.w->RemotePane().View());
    selectExactly(t.w->RemotePane().View(), {QStringLiteral("b")});
    t.prompt.texts = {"keep1"};
    t.prompt.confirm = false;
    t.w->FileCommands().popRenameClick();
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(t.prompt.asked.back(), "\"keep1\" 已存在. 要替换它吗?");
    EXPECT_EQ(f.read(QStringLiteral("keep1")), "keep");
    EXPECT_EQ(f.read(QStringLiteral("b")), "b");
    // Yes replaces it, as the user chose.
    t.prompt.texts = {"keep1"};
    t.prompt.confirm = true;
    t.w->FileCommands().popRenameClick();
    ASSERT_TRUE(t.idle()) << logOf(t);
    EXPECT_EQ(f.read(QStringLiteral("keep1")), "b");
    EXPECT_FALSE(f.exists(QStringLiteral("b")));

    // A move into a folder that holds a file of the same name asks the same
    // way; the others move without a question.
    f.write(QStringLiteral("dest/keep1"), "in dest");
    f.write(QStringLiteral("other"), "other");
    f.ownByServerUser();
    t.w->Workflow().UserRefresh();
    ASSERT_TRUE(t.idle());
    t.prompt.asked.clear();
    t.prompt.confirm = false;
    selectExactly(t.w->RemotePane().View(), {QStringLiteral("keep1"), QStringLiteral("other")});
    t.w->FileCommands().popMoveClick("dest");
    ASSERT_TRUE(t.idle()) << logOf(t);
    EXPECT_EQ(t.prompt.asked.size(), 1u) << logOf(t);
    EXPECT_EQ(f.read(QStringLiteral("dest/keep1")), "in dest");
    EXPECT_EQ(f.read(QStringLiteral("keep1")), "b");
    EXPECT_EQ(f.read(QStringLiteral("dest/other")), "other");
    EXPECT_FALSE(f.exists(QStringLiteral("other")));
}

// The failed list below the queue: shown while a run left failed entries,
// its retry puts them back in the queue, its clear hides it again.
TEST(FailedList, AppearsWithTheRunsFailuresAndRetriesOrClearsThem)
{
    OwnServerRun s({{QStringLiteral("pub/d.txt"), "d"}}, 0);
    TfrmMain& w = *s.t.w;
    ASSERT_TRUE(s.connect()) << s.logText();
    EXPECT_TRUE(w.QueuePanel().FailedList()->isHidden());
    w.QueueEntries().Append(
        {TEntryKind::DownloadFile, "/pub/none.txt", 5, (s.local.path() + "/none.txt").toStdString()});
    w.QueueEntries().Append({TEntryKind::DownloadFile, "/nodir/x.txt", 5, (s.local.path() + "/x.txt").toStdString()});
    w.QueuePanel().queTransferClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    ASSERT_FALSE(w.QueuePanel().FailedList()->isHidden());
    ASSERT_EQ(w.QueuePanel().FailedList()->topLevelItemCount(), 2);
    EXPECT_EQ(w.QueuePanel().FailedList()->topLevelItem(0)->text(0), QStringLiteral("/pub/none.txt"));
    EXPECT_TRUE(w.QueuePanel().FailedList()->topLevelItem(0)->text(1).contains(QStringLiteral("550"))) << s.logText();
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/none.txt"));  // a refused file leaves nothing behind
    // For a person to look at (tools/screenshot.sh).
    w.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/failed-list-screenshot.png"));

    w.QueuePanel().FailedList()->topLevelItem(1)->setSelected(true);
    w.QueuePanel().FailedList()->RetrySelected();
    EXPECT_EQ(w.QueueEntries().Count(), 1u);
    EXPECT_EQ(w.QueueEntries().Head().Source, "/nodir/x.txt");
    ASSERT_EQ(w.QueuePanel().FailedList()->topLevelItemCount(), 1);
    w.QueuePanel().FailedList()->ClearAll();
    EXPECT_TRUE(w.QueuePanel().FailedList()->isHidden());
    EXPECT_TRUE(w.QueueRun().FailedEntries().empty());
}

// With uploads under a temporary name, the server's file changes only when
// the new one arrived whole: a server killed in the middle leaves the old
// file; a completed upload is renamed over it.
TEST(SafeOverwrite, AnUploadUnderATemporaryNameLeavesTheServersFileUntilItIsWhole)
{
    const QByteArray old = pattern(20000, 41), fresh = pattern(2 * 1024 * 1024, 42);
    OwnServerRun s({{QStringLiteral("big.bin"), old}}, 256 * 1024);
    WriteTestFile(s.local.path() + "/big.bin", fresh);
    TfrmMain& w = *s.t.w;
    w.Settings().UploadMode = 2;  // overwrite
    w.Settings().UploadTempName = true;
    QTemporaryDir logDir;
    const QString transferLog = logDir.filePath(QStringLiteral("xfer.log"));
    w.Settings().CustomLogFile = transferLog.toStdString();
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    w.LocalPane().List();
    w.SetActivePane(w.LocalPane().View());
    w.LocalPane().View()->SelectWhere([&](int r) { return w.LocalPane().View()->Text(r, 0) == QStringLiteral("big.bin"); });
    w.QueuePanel().mnuUploadClick();
    ASSERT_TRUE(WaitFor([&] { return w.FTP().TransferBytes > 100000; }, 20000)) << s.logText();
    s.server->kill();
    s.server->waitForFinished();
    ASSERT_TRUE(WaitFor([&] { return w.Workflow().State() != SessionState::Uploading; }, 20000)) << s.logText();
    EXPECT_TRUE(ReadTestFile(s.home + "/big.bin") == old.toStdString());
    // The cut transfer has its line in the transfer log.
    const QStringList logged = QString::fromStdString(ReadTestFile(transferLog)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(logged.size(), 1) << logged.join('|').toStdString();
    EXPECT_TRUE(logged[0].startsWith(QStringLiteral("PUT\t"))) << logged[0].toStdString() << s.logText();
    EXPECT_TRUE(logged[0].endsWith(QStringLiteral("\tFailed"))) << logged[0].toStdString();

    // A server again, and the whole upload: renamed over the old file.
    s.server = RealServers::startOwnPyftpdlib(s.port, s.home);
    w.QuickConnect().Disconnect();
    ASSERT_TRUE(WaitFor([&] { return w.Workflow().State() == SessionState::Disconnected; }, 10000));
    w.QueueEntries().Clear();
    ASSERT_TRUE(s.connect()) << s.logText();
    w.LocalPane().List();
    w.SetActivePane(w.LocalPane().View());
    w.LocalPane().View()->SelectWhere([&](int r) { return w.LocalPane().View()->Text(r, 0) == QStringLiteral("big.bin"); });
    w.QueuePanel().mnuUploadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(ReadTestFile(s.home + "/big.bin") == fresh.toStdString());
    EXPECT_TRUE(s.logged("STOR .big.bin.corvyne-upload")) << s.logText();
    EXPECT_TRUE(s.logged("RNTO big.bin")) << s.logText();
    EXPECT_FALSE(QFileInfo::exists(s.home + "/.big.bin.corvyne-upload"));
}

// A question whose yes deletes or replaces has No as its default button:
// Enter on it keeps the files.
TEST(Questions, EnterOnAConfirmingQuestionAnswersNo)
{
    QWidget parent;
    TWidgetPrompt prompt(&parent);
    bool seen = false, noIsDefault = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        seen = box != nullptr;
        if (!box)
            return;
        noIsDefault = box->standardButton(box->defaultButton()) == QMessageBox::No;
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(prompt.Confirm("要删除所选文件吗?"));
    EXPECT_TRUE(seen);
    EXPECT_TRUE(noIsDefault);
}

// A run without a user whose DATA= folder is missing ends at once with a
// failed status and the reason on stderr, never with the user's own settings
// and never waiting for a dialog.
TEST(Unattended, AMissingDataFolderEndsTheRunWithItsReason)
{
    for (const QStringList& args : {QStringList{QStringLiteral("HOST=127.0.0.1"), QStringLiteral("QUIT=YES")},
                                    QStringList{QStringLiteral("+/tmp/no-such-script.txt")}}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CORVYNE_EXE),
                QStringList{QStringLiteral("--nosplash"), QStringLiteral("DATA=/no/such/folder")} + args);
        ASSERT_TRUE(p.waitForFinished(30000)) << args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("无效数据路径")));
    }
}

// Relative names on the command line are the shell's: "cd /reports &&
// corvyne PUT=report.txt" sends /reports/report.txt, whatever folder the
// local pane shows.
TEST(Unattended, RelativeNamesResolveAgainstTheFolderTheProgramStartedIn)
{
    OwnServerRun s({}, 0);
    QTemporaryDir shell, pane;
    WriteTestFile(shell.path() + "/report.txt", "from the shell's folder");
    WriteTestFile(pane.path() + "/report.txt", "from the pane's folder");
    Program put;
    put.p.setWorkingDirectory(shell.path());
    EXPECT_EQ(put.run({QStringLiteral("HOST=127.0.0.1"), QStringLiteral("PORT=%1").arg(s.port),
                       QStringLiteral("USER=ftptest"), QStringLiteral("PASS=ftppass"),
                       QStringLiteral("LOCALDIR=") + pane.path(), QStringLiteral("PUT=report.txt"),
                       QStringLiteral("QUIT=YES")}),
              0)
        << put.p.readAllStandardError().toStdString();
    EXPECT_EQ(ReadTestFile(s.home + "/report.txt"), "from the shell's folder");
}

// GET= of a file in a folder the server does not have ends the run by itself,
// with a failed status.
TEST(Unattended, AGetFromAMissingFolderEndsWithAFailedStatus)
{
    OwnServerRun s({{QStringLiteral("pub/a.zip"), "a"}}, 0);
    QTemporaryDir target;
    Program get;
    const int status = get.run({QStringLiteral("HOST=127.0.0.1"), QStringLiteral("PORT=%1").arg(s.port),
                                QStringLiteral("USER=ftptest"), QStringLiteral("PASS=ftppass"),
                                QStringLiteral("GET=/nodir/a.zip|") + target.path(), QStringLiteral("QUIT=YES")});
    EXPECT_NE(status, -1) << "the run did not end";
    EXPECT_NE(status, 0);
    EXPECT_FALSE(QFileInfo::exists(target.path() + "/a.zip"));
}

// A script given on the command line ends the program when it ends, whether
// it ran to its end, stopped at a failure, or could not run at all; the
// status is 0 only when every command succeeded. No dialog waits meanwhile.
TEST(Unattended, ACommandLineScriptAlwaysEndsTheProgramWithItsStatus)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + QStringLiteral("/folder.txt"));
    const std::vector<std::pair<QByteArray, int>> scripts = {
        {"ASCII\nBINARY\n", 0},                            // no EXIT needed
        {"ASCII\nCD-R:/pub\nBINARY\n", 1},                 // not connected: CD fails
        {"ASCII\nNOT A COMMAND\n", 1},                     // does not compile
        {"LOOP:4294967296\nASCII\nENDLOOP\n", 1},          // a count too large
        {"LOOP:2\nLOOP:2\nASCII\nENDLOOP\nENDLOOP\n", 1},  // nested
        {QByteArray("ASCII\n\0\1\2", 9), 1},               // binary
    };
    int i = 0;
    for (const auto& [text, want] : scripts) {
        const QString path = dir.filePath(QStringLiteral("s%1.txt").arg(i++));
        WriteTestFile(path, text);
        Program p;
        EXPECT_EQ(p.run({QLatin1Char('+') + path}), want) << text.toStdString();
    }
    for (const QString& missing :
         {dir.filePath(QStringLiteral("none.txt")), dir.filePath(QStringLiteral("folder.txt"))}) {
        Program p;
        EXPECT_EQ(p.run({QLatin1Char('+') + missing}), 1) << missing.toStdString();
    }
}
