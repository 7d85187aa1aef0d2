// The preferences: a control changed on each page reaches corvyne.ini in the
// dialog's order and is applied at once; Cancel leaves the file as it was; a
// file that cannot be written is told and the settings stay in force.

#include "QueueWindow.h"
#include "app/Pref.h"
#include "app/corvview.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
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
    w.PreferencesOpened = [&](TfrmPref& d) {
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
        return true;
    };
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
    EXPECT_EQ(expected.back(), "UploadTempName");  // added after the keys of earlier versions
    EXPECT_EQ(f.ReadString("Setup", "Email"), "me@example.org");
    EXPECT_EQ(f.ReadString("Setup", "Delay"), "soon");  // as typed
    EXPECT_EQ(w.Settings().Delay, 30);                  // and loaded as the default
    EXPECT_EQ(w.Settings().Email, "me@example.org");
    EXPECT_FALSE(w.Settings().ConfirmDel);
    EXPECT_EQ(f.ReadString("Setup", "HideHeader"), "1");
    EXPECT_TRUE(w.Remote->Header()->isHidden());  // applied at once
    EXPECT_TRUE(w.mnuComplete[1]->isChecked());
    EXPECT_EQ(f.ReadList("Skip", "s"), std::vector<std::string>{"*.bak"});
    EXPECT_EQ(w.Settings().SkipPatterns, std::vector<std::string>{"*.bak"});
    EXPECT_EQ(f.ReadString("Editors", "e1"), ".htm;.html,/opt/my,editor");
    EXPECT_EQ(f.ReadString("Setup", "DDEService"), "partner");
    EXPECT_EQ(f.ReadString("Setup", "ConnectSound"), "6");
    EXPECT_EQ(f.ReadList("Proxy", "p"), std::vector<std::string>{"proxyless.example"});  // 5 characters: left out
    const std::string pass = f.ReadString("Setup", "ProxyPass");
    EXPECT_NE(pass, "pr0xy");
    EXPECT_EQ(UnscramblePassword(pass), "pr0xy");
    EXPECT_EQ(w.FTP.ProxyPass, "pr0xy");

    // Opened again, the dialog shows what was written (the editor row split
    // at its first ",").
    w.PreferencesOpened = [&](TfrmPref& d) {
        EXPECT_EQ(d.txtEmail->text(), QStringLiteral("me@example.org"));
        EXPECT_TRUE(d.chkHideHeader->isChecked());
        EXPECT_EQ(d.SkipList->count(), 1);
        EXPECT_EQ(d.EditorList->topLevelItemCount(), 1);
        EXPECT_EQ(d.EditorList->topLevelItem(0)->text(0), QStringLiteral(".htm;.html"));
        EXPECT_EQ(d.EditorList->topLevelItem(0)->text(1), QStringLiteral("/opt/my,editor"));
        EXPECT_EQ(d.MemoProxy->toPlainText(), QStringLiteral("proxyless.example"));
        EXPECT_EQ(d.txtProxyPass->text(), QStringLiteral("pr0xy"));
        return false;
    };
    w.mnuPreferencesClick();
}

TEST(Preferences, CancelChangesNothingAndAFileThatCannotBeWrittenIsTold)
{
    QueueWindow t;
    TfrmMain& w = *t.w;
    w.SettingsFile().WriteString("Setup", "Email", "before@example.org");
    const QString path = t.data.path() + QStringLiteral("/corvyne.ini");
    const std::string before = ReadTestFile(path);
    w.PreferencesOpened = [&](TfrmPref& d) {
        editEveryPage(d);
        return false;
    };
    w.mnuPreferencesClick();
    EXPECT_TRUE(ReadTestFile(path) == before);
    EXPECT_EQ(w.Settings().Email, "guest@corvyne.invalid");  // as loaded at start

    // The file turned into a folder: nothing can be written, even as root.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    w.PreferencesOpened = [&](TfrmPref& d) {
        d.txtEmail->setText(QStringLiteral("after@example.org"));
        return true;
    };
    w.mnuPreferencesClick();
    ASSERT_FALSE(t.prompt.asked.empty());
    EXPECT_EQ(t.prompt.asked.back().rfind("无法保存设置: ", 0), 0u) << t.prompt.asked.back();
    EXPECT_EQ(w.Settings().Email, "after@example.org");  // in force for this run
    ASSERT_TRUE(QDir().rmdir(path));
}
