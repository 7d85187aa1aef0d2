// The preferences: a control changed on each page reaches corvyne.ini in the
// dialog's order and is applied at once; Cancel leaves the file as it was; a
// file that cannot be written is told and the settings stay in force.

#include "MenuItem.h"
#include "QueueWindow.h"
#include "dialogs/Preferences.h"
#include "widgets/corvview.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {
TIniFile onDisk(const QueueWindow& t)
{
    TIniFile f((t.data.path() + QStringLiteral("/corvyne.ini")).toStdString());
    f.Load();
    return f;
}

// One control on each page.
void editEveryPage(TfrmPref& d)
{
    d.txtEmail->setText(QStringLiteral("me@example.org"));  // general
    d.txtTimeout->setText(QStringLiteral("soon"));          // advanced
    d.spnMaxTransfers->setValue(4);
    d.spnDownloadLimit->setValue(512);
    d.chkHideHeader->setChecked(true);                      // view
    d.chkOptions[0]->setChecked(false);                     // options: ConfirmDel
    d.cboTransferOption->setCurrentIndex(1);                // transfer
    d.txtSkipName->setText(QStringLiteral("*.bak"));        // skip list
    d.btnSkipAddClick();
    // Editors: a "," typed into the extensions is refused (it would end them
    // in the stored line and the rest would read back as the program).
    QTest::keyClicks(d.txtEditExtension, QStringLiteral(".htm;,.html"));
    d.txtEditEditor->setText(QStringLiteral("/opt/my,editor"));
    d.btnEditorAddClick();
    d.txtService->setText(QStringLiteral("partner"));  // DDE
    d.cboConnectSound->setCurrentIndex(6);             // sounds
    d.txtConnectWAV->setText(QStringLiteral("/tmp/ding.wav"));
    d.MemoProxy->setPlainText(QStringLiteral("short\nproxyless.example\n"));  // proxy
    d.txtProxyPass->setText(QStringLiteral("pr0xy"));
}
}  // namespace

TEST(Preferences, OneControlPerPageIsWrittenInOrderAndAppliedAtOnce)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    std::vector<std::pair<std::string, std::string>> keys;
    std::vector<std::pair<int, std::string>> played;
    w.SetPreferencesOpened([&](TfrmPref& d) {
        EXPECT_FALSE(d.txtConnectWAV->isEnabled());  // only for "<WAV 文件>"
        editEveryPage(d);
        EXPECT_TRUE(d.txtConnectWAV->isEnabled());
        d.PlaySound = [&](int sound, const std::string& wave) { played.emplace_back(sound, wave); };
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("!"))
                b->click();  // the connect sound's, then the transfer sound's
        keys = d.Keys();
        d.show();  // for a person to look at (tools/screenshot.sh)
        d.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/preferences-screenshot.png"));
        d.findChild<QTabWidget*>()->setCurrentIndex(1);  // the advanced page: connections and limits
        d.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/preferences-advanced.png"));
        d.findChild<QTabWidget*>()->setCurrentIndex(0);
        return true;
    });
    w.mnuPreferencesClick();
    EXPECT_EQ(played, (std::vector<std::pair<int, std::string>>{{6, "/tmp/ding.wav"}, {0, ""}}));

    const TIniFile f = onDisk(t);
    // Every key of the dialog, in its order.
    std::vector<std::string> written, expected;
    for (const auto& [key, value] : f.Document().Entries("Setup"))
        for (const auto& k : keys)
            if (k.first == key)
                written.push_back(key);
    for (const auto& k : keys)
        expected.push_back(k.first);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(expected.front(), "PreserveDate");
    EXPECT_EQ(expected.back(), "UploadLimit");  // added after the keys of earlier versions
    EXPECT_EQ(f.ReadString("Setup", "MaxTransfers"), "4");
    EXPECT_EQ(w.Settings().MaxTransfers, 4);
    EXPECT_EQ(f.ReadString("Setup", "DownloadLimit"), "512");
    EXPECT_EQ(w.Settings().DownloadLimit, 512);
    EXPECT_EQ(w.Settings().UploadLimit, 0);
    EXPECT_EQ(f.ReadString("Setup", "Email"), "me@example.org");
    EXPECT_EQ(f.ReadString("Setup", "Delay"), "soon");  // as typed
    EXPECT_EQ(w.Settings().Delay, 30);                  // and loaded as the default
    EXPECT_EQ(w.Settings().Email, "me@example.org");
    EXPECT_FALSE(w.Settings().ConfirmDel);
    EXPECT_EQ(f.ReadString("Setup", "HideHeader"), "1");
    EXPECT_TRUE(w.RemotePane().View()->Header()->isHidden());  // applied at once
    EXPECT_TRUE(SubMenuItem(w, "队列(&Q)", "传输完成(&R)", 1)->isChecked());
    EXPECT_EQ(f.ReadList("Skip", "s"), std::vector<std::string>{"*.bak"});
    EXPECT_EQ(w.Settings().SkipPatterns, std::vector<std::string>{"*.bak"});
    EXPECT_EQ(f.ReadString("Editors", "e1"), ".htm;.html,/opt/my,editor");
    EXPECT_EQ(f.ReadString("Setup", "DDEService"), "partner");
    EXPECT_EQ(f.ReadString("Setup", "ConnectSound"), "6");
    EXPECT_EQ(f.ReadList("Proxy", "p"), std::vector<std::string>{"proxyless.example"});  // 5 characters: left out
    const std::string pass = f.ReadString("Setup", "ProxyPass");
    EXPECT_NE(pass, "pr0xy");
    EXPECT_EQ(UnscramblePassword(pass), "pr0xy");
    EXPECT_EQ(w.FTP().ProxyPass, "pr0xy");

    // Opened again, the dialog shows what was written (the editor row split
    // at its first ",").
    w.SetPreferencesOpened([&](TfrmPref& d) {
        EXPECT_EQ(d.txtEmail->text(), QStringLiteral("me@example.org"));
        EXPECT_TRUE(d.chkHideHeader->isChecked());
        EXPECT_EQ(d.SkipList->count(), 1);
        EXPECT_EQ(d.EditorList->topLevelItemCount(), 1);
        EXPECT_EQ(d.EditorList->topLevelItem(0)->text(0), QStringLiteral(".htm;.html"));
        EXPECT_EQ(d.EditorList->topLevelItem(0)->text(1), QStringLiteral("/opt/my,editor"));
        EXPECT_EQ(d.MemoProxy->toPlainText(), QStringLiteral("proxyless.example"));
        EXPECT_EQ(d.txtProxyPass->text(), QStringLiteral("pr0xy"));
        return false;
    });
    w.mnuPreferencesClick();
}

TEST(Preferences, CancelChangesNothingAndAFileThatCannotBeWrittenIsTold)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    w.SettingsFile().WriteString("Setup", "Email", "before@example.org");
    const QString path = t.data.path() + QStringLiteral("/corvyne.ini");
    const std::string before = ReadTestFile(path);
    w.SetPreferencesOpened([&](TfrmPref& d) {
        editEveryPage(d);
        return false;
    });
    w.mnuPreferencesClick();
    EXPECT_TRUE(ReadTestFile(path) == before);
    EXPECT_EQ(w.Settings().Email, "guest@corvyne.invalid");  // as loaded at start

    // The file turned into a folder: nothing can be written, even as root.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    w.SetPreferencesOpened([&](TfrmPref& d) {
        d.txtEmail->setText(QStringLiteral("after@example.org"));
        return true;
    });
    w.mnuPreferencesClick();
    ASSERT_FALSE(t.prompt.asked.empty());
    EXPECT_EQ(t.prompt.asked.back().rfind("无法保存设置: ", 0), 0u) << t.prompt.asked.back();
    EXPECT_EQ(w.Settings().Email, "after@example.org");  // in force for this run
    ASSERT_TRUE(QDir().rmdir(path));
}

// Mixed order applies at OK: the panes re-sort without a refresh.
TEST(Preferences, MixedOrderAppliesAtOnce)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    QTemporaryDir local;
    QDir().mkpath(local.filePath(QStringLiteral("b_dir")));
    WriteTestFile(local.filePath(QStringLiteral("a.txt")), "a");
    WriteTestFile(local.filePath(QStringLiteral("c.txt")), "c");
    w.LocalPane().SetDirectory(local.path());
    auto names = [&] {
        QStringList out;
        for (int r = 0; r < w.LocalPane().View()->RowCount(); ++r)
            if (w.LocalPane().View()->Text(r, 0) != QStringLiteral(".."))
                out << w.LocalPane().View()->Text(r, 0);
        return out;
    };
    ASSERT_EQ(names(), (QStringList{"b_dir", "a.txt", "c.txt"}));
    w.SetPreferencesOpened([&](TfrmPref& d) {
        d.grpSortAlpha->button(1)->setChecked(true);
        return true;
    });
    w.mnuPreferencesClick();
    EXPECT_EQ(names(), (QStringList{"a.txt", "b_dir", "c.txt"}));
}

// Enter in the skip-list field adds the pattern (and in the editor fields
// the editor) instead of pressing OK and dropping it.
TEST(Preferences, EnterInAFieldThatFeedsAListAddsToTheList)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    w.SetPreferencesOpened([&](TfrmPref& d) {
        d.show();
        auto* pages = d.findChild<QTabWidget*>();
        auto page = [&](const char* title) {
            for (int i = 0; i < pages->count(); ++i)
                if (pages->tabText(i) == QString::fromUtf8(title))
                    pages->setCurrentIndex(i);
        };
        page("跳过列表");
        d.txtSkipName->setFocus();
        QTest::keyClicks(d.txtSkipName, QStringLiteral("*.tmp"));
        QTest::keyClick(d.txtSkipName, Qt::Key_Return);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.SkipList->count(), 1);
        EXPECT_TRUE(d.txtSkipName->text().isEmpty());
        page("编辑器");
        d.txtEditExtension->setText(QStringLiteral(".md"));
        d.txtEditEditor->setText(QStringLiteral("/usr/bin/vi"));
        d.txtEditEditor->setFocus();
        QTest::keyClick(d.txtEditEditor, Qt::Key_Return);
        EXPECT_EQ(d.EditorList->topLevelItemCount(), 1);
        // An empty field: Enter is OK, as before.
        page("跳过列表");
        d.txtSkipName->setFocus();
        QTest::keyClick(d.txtSkipName, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
        return d.result() == QDialog::Accepted;
    });
    w.mnuPreferencesClick();
    EXPECT_EQ(w.Settings().SkipPatterns, std::vector<std::string>{"*.tmp"});
    EXPECT_EQ(onDisk(t).ReadString("Editors", "e1"), ".md,/usr/bin/vi");
}

// The dialog opens showing every page's tab, and at the size the user last
// gave it.
TEST(Preferences, OpensShowingEveryPageAndAtTheSizeLastGiven)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    const QSize chosen(760, 560);
    w.SetPreferencesOpened([&](TfrmPref& d) {
        d.show();
        auto* pages = d.findChild<QTabWidget*>();
        const QTabBar* bar = pages->tabBar();
        for (int i = 0; i < bar->count(); ++i)
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(i))) << bar->tabText(i).toStdString();
        EXPECT_GE(d.width(), d.minimumSizeHint().width());
        d.resize(chosen);
        d.hide();
        return false;
    });
    w.mnuPreferencesClick();
    EXPECT_EQ(w.SettingsFile().ReadString("Dialogs", "Preferences"), "760,560");
    QSize reopened;
    w.SetPreferencesOpened([&](TfrmPref& d) {
        d.show();
        reopened = d.size();
        d.hide();
        return false;
    });
    w.mnuPreferencesClick();
    EXPECT_EQ(reopened, chosen);
}
