// A run as the user watches and steers it: the progress in the status bar
// and title, the transfer log and the site's statistics, halting and
// aborting in the middle, a server that stops sending, and what happens
// when the queue is done.

#include "MenuItem.h"
#include "QueueWindow.h"
#include "RealServers.h"
#include "ScriptServer.h"
#include "widgets/QueueView.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>

namespace {

TEST(TransferProgressWindow, ARunShowsItsProgressThenLogsAndCountsEachFile)
{
    const QByteArray big = pattern(1024 * 1024, 1), small = pattern(1000, 2);
    OwnServerRun s({{QStringLiteral("big.bin"), big}, {QStringLiteral("small.bin"), small}}, 256 * 1024);
    QTemporaryDir logDir;
    const QString logFile = logDir.path() + QStringLiteral("/xfer.log");
    s.t.w->Settings().CustomLogFile = logFile.toStdString();
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    const QString sessionTitle = s.t.w->windowTitle();
    s.select({QStringLiteral("big.bin"), QStringLiteral("small.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();

    // While the big file moves: elapsed time, a bar that grows, and the
    // queue's files and time left in the title.
    auto* bar = s.t.w->statusBar()->findChild<QWidget*>(QStringLiteral("ProgressPanel"));
    auto* elapsed = s.t.w->statusBar()->findChild<QLabel*>(QStringLiteral("ElapsedPanel"));
    auto* remaining = s.t.w->statusBar()->findChild<QLabel*>(QStringLiteral("RemainingPanel"));
    ASSERT_TRUE(bar && elapsed && remaining);
    ASSERT_TRUE(WaitFor([&] { return bar->property("percent").toInt() > 0; }, 20000)) << s.logText();
    EXPECT_TRUE(elapsed->text().startsWith(QStringLiteral("逝去:00:00:0"))) << elapsed->text().toStdString();
    EXPECT_TRUE(remaining->text().startsWith(QStringLiteral("剩余:00:00:0"))) << remaining->text().toStdString();
    EXPECT_TRUE(bar->property("text").toString().endsWith(QStringLiteral(" KB/s)")));
    EXPECT_TRUE(s.t.w->windowTitle().startsWith(QStringLiteral("FTP - 2 文件  (00:00:0")))
        << s.t.w->windowTitle().toStdString();
    EXPECT_FALSE(s.t.w->StatusLine().Panel(1)->isVisible());
    // A picture of the window in the middle of the run, to look at.
    s.t.w->resize(1100, 700);
    for (QWidget* w : {static_cast<QWidget*>(s.t.w->QueuePanel().View()), static_cast<QWidget*>(s.t.w->Memo1()),
                       static_cast<QWidget*>(s.t.w->statusBar())})
        w->setUpdatesEnabled(true);  // painted ten times a second during a run; now, for the picture
    EXPECT_TRUE(
        s.t.w->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/transfer-screenshot.png")));

    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/big.bin"), big.toStdString());
    EXPECT_EQ(s.t.w->windowTitle(), sessionTitle);
    EXPECT_TRUE(bar->isHidden());

    // One log line per file, eight columns each.
    QFile f(logFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList first = lines[0].split('\t');
    ASSERT_EQ(first.size(), 8);
    EXPECT_EQ(first[0], QStringLiteral("GET"));
    EXPECT_EQ(first[1], QStringLiteral("big.bin"));
    EXPECT_EQ(first[2], QString::number(big.size()));
    EXPECT_EQ(first[7], QStringLiteral("Success"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("GET\tsmall.bin\t1000\t")));

    const TSiteStats stats = s.t.w->Sites().ReadStats("Own");
    EXPECT_EQ(stats.FilesDown, 2);
    EXPECT_EQ(stats.BytesDown, big.size() + small.size());
    EXPECT_EQ(stats.FilesUp, 0);

    // A log that cannot be written is left alone from then on; the run goes on.
    QFile::remove(logFile);
    ASSERT_TRUE(QDir().mkpath(logFile));  // a folder where the file was
    QFile::remove(s.local.path() + "/small.bin");
    s.select({QStringLiteral("small.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/small.bin"), small.toStdString());
    EXPECT_EQ(s.t.w->Sites().ReadStats("Own").FilesDown, 3);
}

TEST(TransferStops, HaltingWithThreeEntriesLeavesTwoAndAbortKeepsTheEntry)
{
    const QByteArray a = pattern(512 * 1024, 3), b = pattern(4000, 4), c = pattern(5000, 5);
    const QByteArray d = pattern(2 * 1024 * 1024, 10);
    OwnServerRun s({{QStringLiteral("a.bin"), a},
                    {QStringLiteral("b.bin"), b},
                    {QStringLiteral("c.bin"), c},
                    {QStringLiteral("d.bin"), d}},
                   256 * 1024);
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    s.select({QStringLiteral("a.bin"), QStringLiteral("b.bin"), QStringLiteral("c.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(s.local.path() + "/a.bin").size() > 0; }, 20000)) << s.logText();
    ASSERT_EQ(s.t.w->QueueEntries().Count(), 3u);

    // While a.bin moves, the head row is out of reach of the queue's edits.
    s.t.w->QueuePanel().View()->SelectRow(0, true);
    s.t.w->QueuePanel().queEditTargetClick();
    EXPECT_EQ(s.t.prompt.asked.back(), "当一个文件正在传输时你不能更改其目标.");
    s.t.w->QueuePanel().queDeleteClick();
    s.t.w->QueuePanel().queMoveBottomClick();
    EXPECT_EQ(s.t.w->QueueEntries().Head().Source, "/a.bin");

    s.t.prompt.confirm = true;
    s.t.w->QueuePanel().mnuHaltClick();
    EXPECT_EQ(s.t.prompt.asked.back(), "当前文件结束后停止传输吗 ?");
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/a.bin"), a.toStdString());
    ASSERT_EQ(s.t.w->QueueEntries().Count(), 2u);
    EXPECT_EQ(s.t.w->QueueEntries().Head().Source, "/b.bin");
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/b.bin"));
    EXPECT_FALSE(s.t.w->QueueRun().HaltRequested);

    // The summary counts what is left.
    s.t.w->QueuePanel().queQueueInfoClick();
    EXPECT_EQ(s.t.prompt.asked.back(), "队列摘要:\n\n合计文件: 2\n合计目录: 0\n合计字节: 9,000");

    // Abort in the middle of a file: the run ends, the entry stays queued,
    // and the next run resumes it from what arrived.
    s.t.w->QueueEntries().Clear();
    s.select({QStringLiteral("d.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(s.local.path() + "/d.bin").size() >= 64 * 1024; }, 20000));
    s.t.w->QueuePanel().btnAbortClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(s.logged("中断操作"));
    ASSERT_EQ(s.t.w->QueueEntries().Count(), 1u);
    const qint64 had = QFileInfo(s.local.path() + "/d.bin").size();
    EXPECT_LT(had, d.size());
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Resume;
    s.t.w->QueuePanel().queTransferClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(s.t.w->QueueEntries().Empty());
    EXPECT_EQ(ReadTestFile(s.local.path() + "/d.bin"), d.toStdString());
    EXPECT_TRUE(s.logged("REST " + std::to_string(had))) << s.logText();
}

TEST(TransferStops, AStalledTransferReconnectsAndResumes)
{
    const QByteArray big = pattern(1024 * 1024, 6);
    OwnServerRun s({{QStringLiteral("big.bin"), big}}, 256 * 1024);
    s.t.w->Settings().StallProtection = true;
    s.t.w->Settings().PacketTimeout = 2;
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    s.select({QStringLiteral("big.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    const QString target = s.local.path() + "/big.bin";
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(target).size() >= 128 * 1024; }, 20000)) << s.logText();
    // The server stops answering without closing anything.
    ASSERT_EQ(::kill(static_cast<pid_t>(s.server->processId()), SIGSTOP), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsTransferring(s.t.w->Workflow().State()); }, 20000)) << s.logText();
    const qint64 had = QFileInfo(target).size();
    ASSERT_EQ(::kill(static_cast<pid_t>(s.server->processId()), SIGCONT), 0);
    ASSERT_TRUE(WaitFor(
        [&] { return RunOver(*s.t.w); }, 60000))
        << s.logText();
    EXPECT_EQ(ReadTestFile(target), big.toStdString());
    EXPECT_TRUE(s.logged("REST " + std::to_string(had))) << s.logText();
    EXPECT_TRUE(s.t.prompt.asked.empty());
}

// A file queued without a size (script GET, keyword GET=, a queue line
// without one) shows its progress all the same: the size comes from the
// folder's listing, never from a file of that name in another folder.
TEST(TransferProgressWindow, AFileQueuedWithoutASizeShowsItsProgress)
{
    const QByteArray big = pattern(1024 * 1024, 3);
    OwnServerRun s({{QStringLiteral("sub/big.bin"), big}, {QStringLiteral("big.bin"), pattern(10, 4)}}, 256 * 1024);
    ASSERT_TRUE(s.connect()) << s.logText();
    s.t.w->QueueEntries().Append(
        {TEntryKind::DownloadFile, "/sub/big.bin", -1, (s.local.path() + "/big.bin").toStdString()});
    s.t.w->QueuePanel().queTransferClick();
    auto* bar = s.t.w->statusBar()->findChild<QWidget*>(QStringLiteral("ProgressPanel"));
    auto* remaining = s.t.w->statusBar()->findChild<QLabel*>(QStringLiteral("RemainingPanel"));
    ASSERT_TRUE(bar && remaining);
    ASSERT_TRUE(WaitFor([&] { return bar->property("percent").toInt() > 0; }, 20000)) << s.logText();
    EXPECT_LT(bar->property("percent").toInt(), 100);  // not the 10-byte file of the first folder
    EXPECT_TRUE(remaining->text().startsWith(QStringLiteral("剩余:00:00:0"))) << remaining->text().toStdString();
    EXPECT_FALSE(s.t.w->windowTitle().contains(QStringLiteral("--:--:--"))) << s.t.w->windowTitle().toStdString();
    // One file left: the title's time is the panel's, set in the same tick.
    const QString title = s.t.w->windowTitle();
    EXPECT_EQ(title.mid(title.lastIndexOf(QLatin1Char('(')) + 1, 8), remaining->text().mid(3, 8))
        << title.toStdString() << " / " << remaining->text().toStdString();
    // The whole text in sight: no "/s)" cut off.
    const QString text = bar->property("text").toString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("KB/s)"))) << text.toStdString();
    EXPECT_GE(bar->width(), bar->fontMetrics().horizontalAdvance(text) + 2) << text.toStdString();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/big.bin"), big.toStdString());
}

TEST(TransferManual, AManualDownloadLeavesTheQueueAloneAndAsksBeforeReplacing)
{
    const QByteArray one = pattern(3000, 7), two = pattern(2000, 8);
    OwnServerRun s({{QStringLiteral("one.bin"), one}, {QStringLiteral("two.bin"), two}}, 0);
    ASSERT_TRUE(s.connect()) << s.logText();
    s.select({QStringLiteral("two.bin")});
    s.t.w->QueuePanel().AddSelectionToQueue(s.t.w->RemotePane().View());
    ASSERT_EQ(s.t.w->QueueEntries().Count(), 1u);

    s.t.prompt.texts = {"/one.bin"};
    s.t.w->QueuePanel().mnuManualDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/one.bin"), one.toStdString());
    EXPECT_EQ(s.t.w->QueueEntries().Count(), 1u);  // two.bin still waits
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/two.bin"));

    // Again: the file is there now, and the answer "skip" keeps it.
    WriteTestFile(s.local.path() + "/one.bin", "mine");
    s.t.prompt.texts = {"one.bin"};
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Skip;
    s.t.w->QueuePanel().mnuManualDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/one.bin"), "mine");
    EXPECT_EQ(s.t.prompt.asked.back(), "one.bin");

    // A name that would leave the local folder is refused.
    s.t.prompt.texts = {".."};
    s.t.w->QueuePanel().mnuManualDownloadClick();
    EXPECT_EQ(s.t.w->Workflow().State(), SessionState::Idle);

    // A double click on a file: queued with the "queue" choice, moved at
    // once with "transfer".
    s.t.w->QueueEntries().Clear();
    s.t.w->Settings().DoubleClick = 3;
    const int twoRow = s.t.row(s.t.w->RemotePane().View(), QStringLiteral("two.bin"));
    s.select({QStringLiteral("two.bin")});
    s.t.w->RemotePane().View()->EmitDoubleClick(twoRow);
    ASSERT_EQ(s.t.w->QueueEntries().Count(), 1u);
    EXPECT_EQ(s.t.w->Workflow().State(), SessionState::Idle);
    s.t.w->QueueEntries().Clear();
    s.t.w->Settings().DoubleClick = 0;
    s.t.w->RemotePane().View()->EmitDoubleClick(twoRow);
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/two.bin"), two.toStdString());
}

struct FakePower : IPowerBackend {
    bool accept = true;
    int calls = 0;
    bool PowerOff() override
    {
        ++calls;
        return accept;
    }
};

struct Completion {
    int action;
    bool accept;  // what the power backend answers
    bool disconnected, closed;
    const char* name;
};

class TransferCompletion : public ::testing::TestWithParam<Completion> {};

TEST_P(TransferCompletion, TheChosenActionFollowsTheLastFile)
{
    const Completion c = GetParam();
    OwnServerRun s({{QStringLiteral("f.bin"), pattern(5000, 9)}}, 0);
    FakePower power;
    power.accept = c.accept;
    s.t.w->QueueRun().SetPowerBackend(&power);
    ASSERT_TRUE(s.connect()) << s.logText();
    SubMenuItem(*s.t.w, "队列(&Q)", "传输完成(&R)", c.action)->trigger();
    EXPECT_EQ(static_cast<int>(s.t.w->QueueRun().CompletionAction), c.action);
    s.select({QStringLiteral("f.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(WaitFor(
        [&] {
            const SessionState st = s.t.w->Workflow().State();
            return (st == SessionState::Idle || st == SessionState::Disconnected) &&
                   s.t.w->QueueRun().State() != SessionState::Downloading;
        },
        30000))
        << s.logText();
    ASSERT_TRUE(WaitFor([&] { return s.t.w->QueueEntries().Empty(); }));
    EXPECT_TRUE(QFileInfo::exists(s.local.path() + "/f.bin"));
    EXPECT_EQ(s.t.w->Workflow().State() == SessionState::Disconnected, c.disconnected);
    EXPECT_EQ(s.t.w->isHidden(), c.closed);
    EXPECT_EQ(power.calls, c.action == 4 ? 1 : 0);
    EXPECT_EQ(s.logged("正挂断 ISP..."), c.action == 2 || c.action == 5);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, TransferCompletion,
    ::testing::Values(Completion{0, true, false, false, "Idle"}, Completion{1, true, true, false, "Disconnect"},
                      Completion{2, true, true, false, "HangUp"}, Completion{3, true, true, true, "Quit"},
                      Completion{4, true, true, true, "PowerOff"}, Completion{4, false, true, false, "PowerOffRefused"},
                      Completion{5, true, true, true, "HangUpAndQuit"}),
    [](const ::testing::TestParamInfo<Completion>& i) { return i.param.name; });

}  // namespace

namespace {

TEST(TransferRulesWindow, ModesNamesAndSkipsApplyToEachFileOfARun)
{
    const QByteArray text("one\ntwo\nthree\n");
    OwnServerRun s({{QStringLiteral("notes.txt"), text},
                    {QStringLiteral("data.bin"), text},
                    {QStringLiteral("page.html"), "<p>"},
                    {QStringLiteral("UPPER.BIN"), "x"},
                    {QStringLiteral("scratch.tmp"), "t"},
                    {QStringLiteral("empty.dat"), ""}},
                   0);
    TSettings& set = s.t.w->Settings();
    set.AsciiExtensions = {"*.TXT"};
    set.RenameRules = {".htm,.html"};
    set.ForceLowerCase = 2;
    set.SkipEnabled = true;
    set.SkipPatterns = {"*.tmp"};
    set.SkipNull = true;
    WriteTestFile(s.local.path() + "/page.htm", "mine");  // where page.html arrives: asked about, kept
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    s.t.w->RemotePane().View()->SelectWhere([&](int r) { return s.t.w->RemotePane().View()->Kind(r) != rkParent; });
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(s.t.w->QueueEntries().Empty());
    // ASCII by extension (the server sends CR LF, the copy has LF); binary: as stored.
    EXPECT_TRUE(s.logged("TYPE A") && s.logged("TYPE I")) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/notes.txt"), "one\ntwo\nthree\n");
    EXPECT_EQ(ReadTestFile(s.local.path() + "/data.bin"), text.toStdString());
    EXPECT_EQ(ReadTestFile(s.local.path() + "/page.htm"), "mine");
    EXPECT_EQ(s.t.prompt.asked, (std::vector<std::string>{"page.htm"}));
    s.t.prompt.asked.clear();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/upper.bin"), "x");
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/scratch.tmp"));
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/empty.dat"));
    EXPECT_TRUE(s.logged("跳过文件: scratch.tmp")) << s.logText();
    EXPECT_TRUE(s.logged("跳过文件: empty.dat")) << s.logText();

    // Back up in ASCII: the local LF lines reach the server as its own
    // (pyftpdlib stores LF on this system), the rename goes the other way.
    QDir(s.home).mkdir(QStringLiteral("up"));
    WriteTestFile(s.local.path() + "/up.txt", "a\r\nb\r\n");
    WriteTestFile(s.local.path() + "/page.htm", "<p>2");
    s.t.prompt.existing = IPrompt::ExistingFileAnswer::Overwrite;
    s.t.w->RemotePane().View()->ClearSelection();
    set.ForceLowerCase = 0;
    s.t.w->LocalPane().List();
    s.t.w->LocalPane().View()->SelectWhere([&](int r) {
        const QString n = s.t.w->LocalPane().View()->Text(r, 0);
        return n == QStringLiteral("up.txt") || n == QStringLiteral("page.htm");
    });
    s.t.w->QueuePanel().mnuUploadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_EQ(ReadTestFile(s.home + "/up.txt"), "a\nb\n");
    EXPECT_EQ(ReadTestFile(s.home + "/page.html"), "<p>2");
    EXPECT_EQ(s.t.prompt.asked, (std::vector<std::string>{"page.html"}));  // the name it has there
}

}  // namespace

namespace {

// A target that exists, met by each mode and each answer of the question,
// in both directions: what is on disk afterwards, and what stays queued.
struct ExistingCase {
    int mode;                            // ResumeMode / UploadMode
    IPrompt::ExistingFileAnswer answer;  // when asked
    const char* expect;                  // "full", "kept", "renamed"
    bool asked, stillQueued;
    const char* name;
};

class TransferExisting : public ::testing::TestWithParam<bool> {};

TEST_P(TransferExisting, EveryModeAndEveryAnswer)
{
    using A = IPrompt::ExistingFileAnswer;
    const bool upload = GetParam();
    const QByteArray full = pattern(100 * 1024, 11), other = pattern(30 * 1024, 12);
    OwnServerRun s({}, 0);
    const QString source = (upload ? s.local.path() : s.home) + "/f.bin";
    const QString target = (upload ? s.home : s.local.path()) + "/f.bin";
    const QString source2 = (upload ? s.local.path() : s.home) + "/g.bin";
    const QString target2 = (upload ? s.home : s.local.path()) + "/g.bin";
    WriteTestFile(source, full);
    WriteTestFile(source2, full);
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();
    const ExistingCase cases[] = {
        {0, A::Overwrite, "full", true, false, "ask/overwrite"},
        {0, A::Resume, "full", true, false, "ask/resume"},
        {0, A::Skip, "kept", true, false, "ask/skip"},
        {0, A::Cancel, "kept", true, true, "ask/cancel"},
        {0, A::Rename, "renamed", true, false, "ask/rename"},
        {1, A::Cancel, "full", false, false, "resume"},
        {2, A::Cancel, "full", false, false, "overwrite"},
        {3, A::Cancel, "kept", false, false, "skip"},
        {4, A::Cancel, "full", false, false, "resume when smaller"},
    };
    for (const ExistingCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTestFile(target, full.left(40 * 1024));  // the first part, as a broken transfer leaves it
        QFile::remove(target2);
        QFile::remove(target + ".new");
        s.t.w->QueueEntries().Clear();
        (upload ? s.t.w->Settings().UploadMode : s.t.w->Settings().ResumeMode) = c.mode;
        s.t.prompt.asked.clear();
        s.t.prompt.existing = c.answer;
        s.t.w->LocalPane().List();
        s.t.w->Workflow().UserRefresh();
        ASSERT_TRUE(s.t.idle());
        TCorvListView* pane = upload ? s.t.w->LocalPane().View() : s.t.w->RemotePane().View();
        (upload ? s.t.w->RemotePane().View() : s.t.w->LocalPane().View())->ClearSelection();
        pane->SelectWhere([&](int r) { return pane->Text(r, 0) == QStringLiteral("f.bin"); });
        if (upload)
            s.t.w->QueuePanel().mnuUploadClick();
        else
            s.t.w->QueuePanel().mnuDownloadClick();
        ASSERT_TRUE(s.runEnded()) << s.logText();
        EXPECT_EQ(!s.t.prompt.asked.empty(), c.asked);
        EXPECT_EQ(s.t.w->QueueEntries().Count(), c.stillQueued ? 1u : 0u);
        const std::string now = ReadTestFile(target);
        if (std::string(c.expect) == "full")
            EXPECT_EQ(now, full.toStdString());
        else
            EXPECT_EQ(now, full.left(40 * 1024).toStdString());  // never cut shorter
        if (std::string(c.expect) == "renamed") {
            EXPECT_EQ(ReadTestFile(target + ".new"), full.toStdString());
        }
        if (c.mode == 1 || c.mode == 4 || c.answer == A::Resume) {
            EXPECT_TRUE(s.logged("REST 40960")) << s.logText();
        }
    }

    // One answer for all: two existing targets, one question.
    for (A all : {A::SkipAll, A::OverwriteAll}) {
        WriteTestFile(target, other);
        WriteTestFile(target2, other);
        s.t.w->QueueEntries().Clear();
        (upload ? s.t.w->Settings().UploadMode : s.t.w->Settings().ResumeMode) = 0;
        s.t.prompt.asked.clear();
        s.t.prompt.existing = all;
        s.t.w->LocalPane().List();
        s.t.w->Workflow().UserRefresh();
        ASSERT_TRUE(s.t.idle());
        TCorvListView* pane = upload ? s.t.w->LocalPane().View() : s.t.w->RemotePane().View();
        pane->SelectWhere([&](int r) { return pane->Text(r, 0).endsWith(QStringLiteral(".bin")); });
        if (upload)
            s.t.w->QueuePanel().mnuUploadClick();
        else
            s.t.w->QueuePanel().mnuDownloadClick();
        ASSERT_TRUE(s.runEnded()) << s.logText();
        EXPECT_EQ(s.t.prompt.asked.size(), 1u);
        const std::string expect = (all == A::SkipAll ? other : full).toStdString();
        EXPECT_EQ(ReadTestFile(target), expect);
        EXPECT_EQ(ReadTestFile(target2), expect);
    }
}

// A server that tells case apart may hold "f.bin" and "F.BIN" side by side:
// an upload resumes from the size of the file of its own name, whichever of
// the two the pane lists first, and leaves the other alone.
TEST(TransferExistingCase, AnUploadResumesTheFileSpeltAsItsName)
{
    const QByteArray full = pattern(100 * 1024, 13), other = pattern(90 * 1024, 14);
    OwnServerRun s({{QStringLiteral("f.bin"), full.left(40 * 1024)},
                    {QStringLiteral("F.BIN"), other},
                    {QStringLiteral("g.bin"), other},
                    {QStringLiteral("G.BIN"), full.left(40 * 1024)}},
                   0);
    WriteTestFile(s.local.path() + "/f.bin", full);
    WriteTestFile(s.local.path() + "/G.BIN", full);
    s.t.w->Settings().UploadMode = 1;  // resume without asking
    ASSERT_TRUE(s.connect()) << s.logText();
    s.t.w->LocalPane().List();
    s.t.w->LocalPane().View()->SelectWhere(
        [&](int r) { return s.t.w->LocalPane().View()->Text(r, 0).endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive); });
    s.t.w->QueuePanel().mnuUploadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(s.t.prompt.asked.empty());
    // Compared whole but not printed: the contents are binary.
    for (const auto& [name, want] :
         {std::pair{"f.bin", full}, std::pair{"G.BIN", full}, std::pair{"F.BIN", other}, std::pair{"g.bin", other}})
        EXPECT_TRUE(ReadTestFile(s.home + "/" + name) == want.toStdString()) << name;
    const QString log = QString::fromStdString(s.logText());
    EXPECT_EQ(log.count(QStringLiteral("REST 40960")), 2) << s.logText();
}

INSTANTIATE_TEST_SUITE_P(Directions, TransferExisting, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Upload" : "Download"; });

}  // namespace

namespace {

TEST(TransferStops, AFinalReplyThatNeverComesCountsTheFileAndReconnectsForTheRest)
{
    const std::string listing =
        "-rw-r--r-- 1 a b 6 Jan 12 2003 hang.bin\\n"
        "-rw-r--r-- 1 a b 3 Jan 12 2003 next.bin\\n";
    auto login = [&](std::vector<ScriptReply> more) {
        std::vector<ScriptReply> r = {{"USER", "331 pw"},
                                      {"PASS", "230 ok"},
                                      {"SYST", "215 UNIX Type: L8"},
                                      {"REST", "502 no"},
                                      {"PWD", "257 \"/\""},
                                      {"TYPE", "200 ok"},
                                      {"PASV", "<pasv>"},
                                      {"LIST", "150 here\n<data:" + listing + ">\n226 done"}};
        r.insert(r.end(), more.begin(), more.end());
        return ScriptSession({"220 scripted"}, r);
    };
    ScriptServer server;
    // The whole file arrives, the "226" never does.
    server.addSession(login({{"TYPE", "200 ok"}, {"PASV", "<pasv>"}, {"RETR", "150 here\n<data:abcdef>"}}));
    server.addSession(login({{"CWD", "250 ok"},  // back to where the session was
                             {"TYPE", "200 ok"},
                             {"PASV", "<pasv>"},
                             {"RETR", "150 here\n<data:xyz>\n226 done"},
                             {"TYPE", "200 ok"},
                             {"PASV", "<pasv>"},
                             {"LIST", "150 here\n<data:" + listing + ">\n226 done"}}));
    QueueWindow t;
    t.oneConnection();
    QTemporaryDir local;
    t.w->LocalPane().SetDirectory(local.path());
    t.w->Settings().HangTimeout = 500;
    t.w->Settings().RestoreState = false;
    t.w->QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:bob:pw:%1").arg(server.port()));
    t.w->QuickConnect().Connect();
    ASSERT_TRUE(t.idle());
    t.w->RemotePane().View()->SelectWhere([&](int r) { return t.w->RemotePane().View()->Kind(r) == rkFile; });
    t.w->QueuePanel().mnuDownloadClick();
    auto text = [&] {
        std::string s;
        for (const std::string& l : t.log())
            s += l + "\n";
        return s;
    };
    ASSERT_TRUE(
        WaitFor([&] { return RunOver(*t.w); }, 30000))
        << text();
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(ReadTestFile(local.path() + "/hang.bin"), "abcdef");
    EXPECT_EQ(ReadTestFile(local.path() + "/next.bin"), "xyz");
    const auto log = t.log();
    EXPECT_NE(std::find(log.begin(), log.end(), "传输挂起, 文件视为完成: hang.bin"), log.end()) << text();
}

}  // namespace

namespace {

// A folder on a file system of its own, 1 MiB large, unmounted at the end.
TEST(TransferLocalFaults, TooLittleSpaceIsAskedAboutAndAFullDiskEndsTheFileNotTheProgram)
{
    SmallDisk disk;
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system needs root";
    const QByteArray big = pattern(2 * 1024 * 1024, 13);
    OwnServerRun s({{QStringLiteral("big.bin"), big}, {QStringLiteral("small.bin"), pattern(1000, 14)}}, 0);
    s.t.w->LocalPane().SetDirectory(disk.dir.path());
    s.t.oneConnection();
    ASSERT_TRUE(s.connect()) << s.logText();

    // No: the run ends before the file, which stays queued.
    s.select({QStringLiteral("big.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    ASSERT_FALSE(s.t.prompt.asked.empty());
    EXPECT_EQ(s.t.prompt.asked.back(), "没有足够的内存来下载当前文件. 无论如何都要继续 ?");
    EXPECT_EQ(s.t.w->QueueEntries().Count(), 1u);
    EXPECT_FALSE(QFileInfo::exists(disk.dir.path() + "/big.bin"));

    // Yes: the disk fills up; that file fails with its error, the next one
    // is still tried, and the window is usable again.
    s.t.prompt.confirm = true;
    s.t.w->QueueEntries().Clear();
    s.select({QStringLiteral("big.bin"), QStringLiteral("small.bin")});
    s.t.w->QueuePanel().mnuDownloadClick();
    ASSERT_TRUE(s.runEnded()) << s.logText();
    EXPECT_TRUE(s.t.w->QueueEntries().Empty());
    const auto log = s.t.log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
        return l.rfind("错误: 无法写入到本地文件", 0) == 0;
    })) << s.logText();
    EXPECT_LT(QFileInfo(disk.dir.path() + "/big.bin").size(), big.size());
    // Still connected and answering.
    EXPECT_TRUE(s.t.w->Workflow().UserRefresh());
    EXPECT_TRUE(s.t.idle());
    // Nothing of the failed file is held open.
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
        EXPECT_FALSE(fd.symLinkTarget().startsWith(disk.dir.path())) << fd.symLinkTarget().toStdString();
}

}  // namespace
