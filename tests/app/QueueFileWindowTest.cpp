// Queue files from the window: saving and loading both forms, a site queue
// that connects, transfers and quits on its own, and the queue a close
// interrupted, offered again at the next start.

#include "QueueWindow.h"
#include "dialogs/QueueFileDialog.h"
#include "dialup/Ras2.h"
#include "sites/IniFile.h"
#include "sites/SiteDb.h"
#include "transfer/QueueFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> sources(TfrmMain& w)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < w.QueueEntries().Count(); ++i)
        out.push_back(w.QueueEntries().At(i).Source);
    return out;
}

}  // namespace

TEST(QueueFileWindow, BothFormsAreSavedAndLoadedBackAndASiteQueueRunsOnItsOwn)
{
    const QByteArray a = pattern(5000, 1), b = pattern(7000, 2);
    OwnServerRun s({{QStringLiteral("a.bin"), a}, {QStringLiteral("b.bin"), b}}, 0);
    QTemporaryDir files;
    TfrmMain& w = *s.t.w;
    const std::string local = s.local.path().toStdString() + "/";
    w.QueueEntries().Append({{TEntryKind::DownloadFile, "/a.bin", 5000, local + "a.bin"},
                             {TEntryKind::DownloadFile, "/b.bin", 7000, local + "b.bin"}});

    // Disconnected and without a site, only the entries can be saved.
    const std::string plain = files.filePath("q:1?.cqf").toStdString();
    s.t.prompt.saveQueue = [&](IPrompt::SaveQueueRequest& r) {
        r.hostData = false;
        r.path = plain;
        return true;
    };
    w.QueuePanel().queSaveQueueClick();
    ASSERT_EQ(s.t.prompt.saveQueueShown.size(), 1u);
    EXPECT_FALSE(s.t.prompt.saveQueueShown[0].hostAvailable);
    const std::string written = files.filePath("q_1_.cqf").toStdString();  // ":" and "?" are no file-name characters
    EXPECT_EQ(ReadTestFile(QString::fromStdString(written)),
              "1\x01/a.bin\x01"
              "5,000\x01" +
                  local +
                  "a.bin\r\n1\x01/b.bin\x01"
                  "7,000\x01" +
                  local + "b.bin\r\n");

    // Loading the plain form appends.
    s.t.prompt.openPath = written;
    s.t.prompt.openFilter = 1;
    w.QueuePanel().queLoadQueueClick();
    EXPECT_EQ(sources(w), (std::vector<std::string>{"/a.bin", "/b.bin", "/a.bin", "/b.bin"}));

    // Connected through the site: the host data is offered, and saved.
    ASSERT_TRUE(s.connect()) << s.logText();
    w.QueueEntries().Remove({2, 3});
    const std::string site = files.filePath("own.csq").toStdString();
    s.t.prompt.saveQueue = [&](IPrompt::SaveQueueRequest& r) {
        r.path = site;
        return true;
    };
    w.QueuePanel().queSaveQueueClick();
    ASSERT_EQ(s.t.prompt.saveQueueShown.size(), 2u);
    const IPrompt::SaveQueueRequest& shown = s.t.prompt.saveQueueShown[1];
    EXPECT_TRUE(shown.hostAvailable && shown.hostData);
    // The fields as the connect left them: the site's host, port and login.
    EXPECT_EQ(shown.host, "127.0.0.1");
    EXPECT_EQ(shown.port, std::to_string(s.port));
    EXPECT_EQ(shown.user, RealServers::User);
    EXPECT_FALSE(shown.anonymous);
    std::vector<TQueueFileSkip> skipped;
    std::string text, error;
    ASSERT_TRUE(ReadQueueFile(site, text, error)) << error;
    const TSiteQueue saved = ParseSiteQueue(text, skipped);
    EXPECT_EQ(saved.Host, "127.0.0.1");
    EXPECT_EQ(saved.Password, RealServers::Password);
    EXPECT_EQ(saved.Entries.size(), 2u);

    // Loaded from the dialog it replaces the queue, connects and transfers.
    w.QuickConnect().Disconnect();
    ASSERT_TRUE(WaitFor([&] { return w.Workflow().State() == SessionState::Disconnected; }, 10000));
    w.QueueEntries().Append({TEntryKind::DownloadFile, "/gone.bin", 1, local + "gone.bin"});
    s.t.prompt.openPath = site;
    s.t.prompt.openFilter = 0;
    // Asked first: declined, nothing changes.
    s.t.prompt.confirm = false;
    const size_t queued = w.QueueEntries().Count();
    w.QueuePanel().queLoadQueueClick();
    EXPECT_EQ(w.QueueEntries().Count(), queued);
    EXPECT_EQ(w.Workflow().State(), SessionState::Disconnected);
    s.t.prompt.confirm = true;
    w.QueuePanel().queLoadQueueClick();
    ASSERT_TRUE(WaitFor([&] { return w.QueueEntries().Empty() && w.QueueRun().State() == SessionState::Idle; }, 30000))
        << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/a.bin"), a.toStdString());
    EXPECT_EQ(ReadTestFile(s.local.path() + "/b.bin"), b.toStdString());
    EXPECT_FALSE(QFileInfo::exists(s.local.path() + "/gone.bin"));
}

TEST(QueueFileWindow, ASiteQueueOnTheCommandLineTransfersAndQuitsAndSaysWhatItSkipped)
{
    const QByteArray a = pattern(3000, 3);
    OwnServerRun s({{QStringLiteral("a.bin"), a}}, 0);
    QTemporaryDir files;
    const QString path = files.filePath("run.csq");
    const std::string local = s.local.path().toStdString() + "/";
    WriteTestFile(path, QByteArray::fromStdString("[HOSTINFO]\r\nHOST=127.0.0.1\r\nPORT=" + std::to_string(s.port) +
                                                  "\r\nUSER=ftptest\r\nPASS=" + ScramblePassword("ftppass") +
                                                  "\r\nQUIT=YES\r\n\r\n[FILES]\r\n"
                                                  "\"9\",\"/x\",\"\",\"/y\"\r\n"
                                                  "\"1\",\"/a.bin\",\"3,000\",\"" +
                                                  local + "a.bin\"\r\n"));
    s.t.prompt.confirm = true;
    s.t.w->HandOffCommandLine({path});
    ASSERT_TRUE(WaitFor([&] { return !s.t.w->isVisible(); }, 30000)) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/a.bin"), a.toStdString());
    EXPECT_TRUE(s.logged("队列文件第 9 行未载入 (类型不在 0 到 3 之间): \"9\",\"/x\",\"\",\"/y\"")) << s.logText();
    // One question: what the file will do, before it connects.
    ASSERT_EQ(s.t.prompt.asked.size(), 1u);
    EXPECT_EQ(s.t.prompt.asked[0],
              "站点队列文件 \"" + path.toStdString() + "\" 将连接到 127.0.0.1, 用户 ftptest, 传输 1 个项目.\n" +
                  "读取的本地目录:\n    (无)\n写入的本地目录:\n    " + local + "\n完成后退出 Corvyne.\n\n要运行吗?");
}

// A queue file is input from anywhere: a run without a user takes only the
// entries that stay inside its local folder, and says what it refused.
TEST(QueueFileWindow, AnUnattendedRunRefusesQueueEntriesOutsideItsFolder)
{
    OwnServerRun s({{QStringLiteral("a.bin"), "a"}, {QStringLiteral("b.bin"), "b"}}, 0);
    QTemporaryDir files, outside;
    const QString path = files.filePath("run.csq");
    const std::string local = s.local.path().toStdString() + "/";
    const std::string escape = local + "../" + QFileInfo(outside.path()).fileName().toStdString() + "/b.bin";
    WriteTestFile(path, QByteArray::fromStdString("[HOSTINFO]\r\nHOST=127.0.0.1\r\nPORT=" + std::to_string(s.port) +
                                                  "\r\nUSER=ftptest\r\nPASS=" + ScramblePassword("ftppass") +
                                                  "\r\n\r\n[FILES]\r\n\"1\",\"/a.bin\",\"1\",\"" + local +
                                                  "a.bin\"\r\n\"1\",\"/b.bin\",\"1\",\"" + escape +
                                                  "\"\r\n\"3\",\"/etc/hostname\",\"1\",\"/hostname\"\r\n"));
    s.t.w->HandOffCommandLine(
        {QStringLiteral("QUEUE=") + path, QStringLiteral("QUIT=YES"), QStringLiteral("LOCALDIR=") + s.local.path()});
    ASSERT_TRUE(WaitFor([&] { return !s.t.w->isVisible(); }, 30000)) << s.logText();
    EXPECT_EQ(ReadTestFile(s.local.path() + "/a.bin"), "a");
    EXPECT_FALSE(QFileInfo::exists(outside.path() + "/b.bin"));
    EXPECT_FALSE(QFileInfo::exists(s.home + "/hostname"));
    EXPECT_TRUE(s.logged("拒绝队列项目: 本地路径在 " + local + " 之外: " + escape)) << s.logText();
    EXPECT_TRUE(s.logged("拒绝队列项目: 本地路径在 " + local + " 之外: /etc/hostname")) << s.logText();
    EXPECT_NE(s.t.w->Scripts().ExitStatus(), 0);
    EXPECT_TRUE(s.t.prompt.asked.empty());
}

namespace {
// A dial-up service whose line comes up at once.
struct LineComesUp : IRasBackend {
    std::vector<std::string> dialled;
    bool Available() const override { return true; }
    std::vector<std::string> EnumEntries() override { return {"isp"}; }
    bool GetEntryDialParams(const std::string& entry, TDialParams& p) override
    {
        p.EntryName = entry;
        return entry == "isp";
    }
    int Dial(const TDialParams& p, uintptr_t& connection) override
    {
        dialled.push_back(p.EntryName);
        connection = 7;
        QTimer::singleShot(0, [this] { DialEvent(7, RasStateConnected, 0); });
        return 0;
    }
    int HangUp(uintptr_t) override { return 0; }
    bool GetConnectStatus(uintptr_t, int& state) override
    {
        state = RasStateConnected;
        return true;
    }
    bool EnumConnections(std::vector<TRasConnection>&) override { return true; }
};
}  // namespace

TEST(QueueFileWindow, ASiteQueueThatNamesADialUpEntryConnectsOnceTheLineIsUp)
{
    LineComesUp ras;
    SetRasBackend(&ras);
    struct Restore {
        ~Restore() { SetRasBackend(nullptr); }
    } restore;
    const QByteArray a = pattern(1000, 6);
    OwnServerRun s({{QStringLiteral("a.bin"), a}}, 0);
    QTemporaryDir files;
    const QString path = files.filePath("dial.csq");
    WriteTestFile(path, QByteArray::fromStdString(
                            "[HOSTINFO]\r\nHOST=Own\r\nDIAL=isp\r\n\r\n[FILES]\r\n\"1\",\"/a.bin\",\"\",\"" +
                            s.local.path().toStdString() + "/a.bin\"\r\n"));
    s.t.prompt.confirm = true;
    ASSERT_TRUE(s.t.w->QueuePanel().LoadSiteQueueFile(path.toStdString()));
    EXPECT_TRUE(s.logged("Dialing isp...")) << s.logText();
    ASSERT_TRUE(
        WaitFor([&] { return s.t.w->QueueEntries().Empty() && s.t.w->QueueRun().State() == SessionState::Idle; }, 30000))
        << s.logText();
    EXPECT_EQ(ras.dialled, std::vector<std::string>{"isp"});
    EXPECT_EQ(ReadTestFile(s.local.path() + "/a.bin"), a.toStdString());

    // The save dialog offers the service's entries.
    s.t.w->QueueEntries().Append({TEntryKind::DownloadFile, "/a.bin", 1000, "/tmp/a.bin"});
    s.t.w->QueuePanel().queSaveQueueClick();
    ASSERT_EQ(s.t.prompt.saveQueueShown.size(), 1u);
    EXPECT_EQ(s.t.prompt.saveQueueShown[0].dialEntries, std::vector<std::string>{"isp"});
}

TEST(QueueFileWindow, AQueueAClosedRunLeftIsOfferedAtTheNextStartWithItsThreeAnswers)
{
    const QByteArray big = pattern(1024 * 1024, 4), small = pattern(2000, 5);
    std::unique_ptr<OwnServerRun> s(
        new OwnServerRun({{QStringLiteral("big.bin"), big}, {QStringLiteral("small.bin"), small}}, 256 * 1024));
    const QString data = s->t.data.path();
    s->t.oneConnection();
    ASSERT_TRUE(s->connect()) << s->logText();
    s->select({QStringLiteral("big.bin"), QStringLiteral("small.bin")});
    s->t.w->QueuePanel().mnuDownloadClick();
    const QString target = s->local.path() + "/big.bin";
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(target).size() > 0; }, 20000)) << s->logText();
    s->t.w->CloseWithoutQuestions();

    const QString qfile = data + "/qfile.dat";
    const std::string queued = ReadTestFile(qfile);
    EXPECT_NE(queued.find("1\x01/big.bin\x01"), std::string::npos);
    EXPECT_NE(queued.find("1\x01/small.bin\x01"), std::string::npos);
    auto site = [&] {
        TIniFile ini((data + "/corvyne.ini").toStdString());
        ini.Load();
        return ini.ReadString("Queue", "Site");
    };
    EXPECT_EQ(site(), "Own");
    const std::string question = "一批量传输 \"Own\" 没有完成.  你要立即连接并完成它吗 ?";
    // As a closed run leaves it: the queue file and the site's name.
    auto leaveQueue = [&](const std::string& text) {
        WriteTestFile(qfile, QByteArray::fromStdString(text));
        TIniFile ini((data + "/corvyne.ini").toStdString(), true);
        ini.Load();
        ini.WriteString("Queue", "Site", "Own");
    };

    {  // No: asked again next time
        QueueWindow again(data);
        again.prompt.yesNoCancel = IPrompt::Answer::No;
        again.w->HandOffCommandLine({});
        EXPECT_EQ(again.prompt.asked, std::vector<std::string>{question});
        EXPECT_TRUE(again.w->QueueEntries().Empty());
    }
    EXPECT_EQ(site(), "Own");
    {  // Yes: the queue comes back, and the run finishes where it stopped
        QueueWindow again(data);
        again.prompt.yesNoCancel = IPrompt::Answer::Yes;
        again.prompt.existing = IPrompt::ExistingFileAnswer::Resume;
        again.w->HandOffCommandLine({});
        ASSERT_TRUE(WaitFor(
            [&] { return again.w->QueueEntries().Empty() && again.w->QueueRun().State() == SessionState::Idle; },
            30000));
        EXPECT_EQ(ReadTestFile(target), big.toStdString());
        EXPECT_EQ(ReadTestFile(s->local.path() + "/small.bin"), small.toStdString());
        EXPECT_FALSE(QFileInfo::exists(qfile));
        EXPECT_EQ(site(), "");
    }
    {  // Cancel: not asked again, but the file stays
        leaveQueue(std::string("1\x01/small.bin\x01\x01/tmp/x\r\n"));
        QueueWindow again(data);
        again.prompt.yesNoCancel = IPrompt::Answer::Cancel;
        again.w->HandOffCommandLine({});
        EXPECT_EQ(again.prompt.asked, std::vector<std::string>{question});
        EXPECT_EQ(site(), "");
        EXPECT_TRUE(QFileInfo::exists(qfile));
    }
    {  // Yes, but nothing in the file can be queued
        leaveQueue(std::string("x\x01/small.bin\x01\x01/tmp/x\r\n"));
        QueueWindow again(data);
        again.prompt.yesNoCancel = IPrompt::Answer::Yes;
        again.w->HandOffCommandLine({});
        EXPECT_EQ(again.prompt.asked, (std::vector<std::string>{question, "无法载入队列数据文件."}));
        EXPECT_EQ(again.w->Workflow().State(), SessionState::Disconnected);
        EXPECT_TRUE(QFileInfo::exists(qfile));  // kept: nothing came from it
        EXPECT_EQ(site(), "");
    }
}

TEST(QueueFileWindow, TheSaveDialogFollowsItsChoices)
{
    IPrompt::SaveQueueRequest r;
    r.host = "ftp.example.org";
    r.user = "me";
    r.dialEntries = {"isp"};
    std::string asked;
    TfrmQueue dialog(r, [&](const std::string& filter, std::string& path) {
        asked = filter;
        path = "/tmp/saved";
        return true;
    });
    EXPECT_FALSE(dialog.btnSave->isEnabled());  // no file yet
    dialog.btnBrowseClick();
    EXPECT_EQ(asked, "Corvyne 站点队列 (*.csq)");
    EXPECT_EQ(dialog.txtPathname->text(), QStringLiteral("/tmp/saved.csq"));
    EXPECT_TRUE(dialog.btnSave->isEnabled());

    dialog.chkAnonymous->setChecked(true);
    EXPECT_FALSE(dialog.txtUser->isEnabled() || dialog.txtPass->isEnabled());
    dialog.rdoCQF->setChecked(true);
    EXPECT_FALSE(dialog.grpHost->isEnabled() || dialog.btnAdvanced->isEnabled());
    dialog.rdoCSQ->setChecked(true);
    EXPECT_TRUE(dialog.grpHost->isEnabled());

    dialog.btnAdvancedClick();
    EXPECT_EQ(dialog.btnAdvanced->text(), QStringLiteral("高级 <<"));
    EXPECT_EQ(dialog.cboDial->count(), 2);
    dialog.cboDial->setCurrentIndex(1);
    dialog.chkQuit->setChecked(true);
    dialog.grab().save(QStringLiteral("save-queue-screenshot.png"));  // for a person to look at (tools/screenshot.sh)
    IPrompt::SaveQueueRequest out;
    dialog.Result(out);
    EXPECT_TRUE(out.hostData && out.anonymous && out.quit && !out.hangUp);
    EXPECT_EQ(out.dial, "isp");
    EXPECT_EQ(out.path, "/tmp/saved.csq");

    // Without a host only the entries can be saved.
    r.hostAvailable = false;
    TfrmQueue plain(r, [](const std::string&, std::string&) { return false; });
    EXPECT_TRUE(plain.rdoCQF->isChecked());
    EXPECT_FALSE(plain.rdoCSQ->isEnabled() || plain.grpHost->isEnabled());
}
