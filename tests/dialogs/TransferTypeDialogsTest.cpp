// The ASCII-types and rename-types dialogs: what OK writes into the
// settings file and the settings in memory, and a file that cannot be saved.

#include "dialogs/TransferTypeDialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

TEST(TransferTypes, TheAsciiListIsTypedUpperCasedAndRewrittenWhole)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/corvyne.ini";
    TIniFile file(path.toStdString(), true);
    TSettings settings;
    settings.AsciiExtensions = {"*.TXT", "*.C", "*.H"};
    TfrmASCII d(file, settings);
    EXPECT_FALSE(d.btnAdd->isEnabled());
    QTest::keyClicks(d.edtExtension, "*.md");
    EXPECT_EQ(d.edtExtension->text(), QStringLiteral("*.MD"));
    ASSERT_TRUE(d.btnAdd->isEnabled());
    d.btnAdd->click();
    EXPECT_TRUE(d.edtExtension->text().isEmpty());
    EXPECT_FALSE(d.btnDelete->isEnabled());
    d.lstExtensions->item(1)->setSelected(true);
    d.lstExtensions->item(2)->setSelected(true);
    ASSERT_TRUE(d.btnDelete->isEnabled());
    d.btnDelete->click();
    d.chkNoExtensions->setChecked(true);
    d.open();
    d.btnOK->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(settings.AsciiExtensions, (std::vector<std::string>{"*.TXT", "*.MD"}));
    EXPECT_TRUE(settings.AsciiNoExtensions);
    TIniFile back(path.toStdString());
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.ReadList("Extensions", "e"), settings.AsciiExtensions);
    EXPECT_EQ(back.ReadInteger("Extensions", "Count", 0), 2);
    EXPECT_EQ(back.ReadString("Extensions", "e3"), "");
    EXPECT_TRUE(back.ReadBool("Setup", "AsciiNoExtensions", false));
}

TEST(TransferTypes, RenameRulesArePairsAndCancelChangesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/corvyne.ini";
    TIniFile file(path.toStdString(), true);
    TSettings settings;
    settings.RenameRules = {".htm,.html"};
    {
        TfrmRename d(file, settings);
        ASSERT_EQ(d.lstRules->topLevelItemCount(), 1);
        EXPECT_EQ(d.lstRules->topLevelItem(0)->text(1), QStringLiteral(".html"));
        d.edtLocal->setText(QStringLiteral(".jpg"));
        EXPECT_FALSE(d.btnAdd->isEnabled());  // both sides needed
        d.edtRemote->setText(QStringLiteral(".jpeg"));
        ASSERT_TRUE(d.btnAdd->isEnabled());
        d.btnAdd->click();
        d.edtLocal->setText(QStringLiteral(".a,b"));  // would split wrongly when read back
        d.edtRemote->setText(QStringLiteral(".c"));
        d.btnAdd->click();
        EXPECT_EQ(d.lstRules->topLevelItemCount(), 2);
        d.open();
        d.reject();
    }
    EXPECT_EQ(settings.RenameRules, (std::vector<std::string>{".htm,.html"}));
    EXPECT_FALSE(QFile::exists(path));

    TfrmRename d(file, settings);
    d.edtLocal->setText(QStringLiteral(".jpg"));
    d.edtRemote->setText(QStringLiteral(".jpeg"));
    d.btnAdd->click();
    d.lstRules->topLevelItem(0)->setSelected(true);
    d.btnDelete->click();
    d.open();
    d.btnOK->click();
    EXPECT_EQ(settings.RenameRules, (std::vector<std::string>{".jpg,.jpeg"}));
    TIniFile back(path.toStdString());
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.ReadList("Rename", "r"), settings.RenameRules);
}

TEST(TransferTypes, ASettingsFileThatCannotBeWrittenIsReported)
{
    QTemporaryDir dir;
    // Its folder is a plain file: no one, root included, can write there.
    QFile blocker(dir.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TIniFile file((dir.path() + "/blocked/corvyne.ini").toStdString(), true);
    TSettings settings;
    TfrmASCII ascii(file, settings);
    EXPECT_FALSE(ascii.Save());
    TfrmRename rename(file, settings);
    EXPECT_FALSE(rename.Save());
}

}  // namespace

#include "session/FileOps.h"
#include "dialogs/PropertiesDialog.h"

#include <QLabel>

namespace {

TEST(PropertiesDialog, BoxesAndModeFollowEachOther)
{
    EXPECT_EQ(PermissionMode("-rwxr-x---"), 750);
    EXPECT_EQ(PermissionMode("drwsr-sr-t"), 755);  // any mark but "-" sets the bit
    EXPECT_EQ(PermissionMode("-r"), 400);          // a short field sets what it has
    EXPECT_EQ(PermissionMode(""), 0);

    IPrompt::PropertiesRequest shown;
    shown.name = "a.sh";
    shown.mode = 750;
    TfrmProperties d(shown);
    EXPECT_EQ(d.pnlPriv->text(), QStringLiteral("750"));
    const bool expected[9] = {true, true, true, true, false, true, false, false, false};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(d.Boxes[i]->isChecked(), expected[i]) << i;
    d.Boxes[5]->setChecked(false);  // group execute
    EXPECT_EQ(d.pnlPriv->text(), QStringLiteral("740"));
    EXPECT_EQ(d.Mode(), 740);
}

TEST(PropertiesDialog, TheLastListingLineOfThatNameIsShown)
{
    TListingLines listing;
    for (const char* line :
         {"total 2", "-rw-r--r-- 1 ann staff 1234 Jan 12 2003 a.txt", "lrwxrwxrwx 1 bob users 4 Jan 12 2003 l -> a.txt",
          "-rwx------ 1 cat wheel 99 Jan 12 2003 a.txt"})
        listing.push_back(line);
    const TRemoteProperties a = RemoteProperties(listing, ftpstDefault, "a.txt");
    ASSERT_TRUE(a.found);
    EXPECT_EQ(a.shown.mode, 700);
    EXPECT_EQ(a.shown.owner, "cat");
    EXPECT_EQ(a.shown.size, "99 字节 ");
    EXPECT_EQ(a.shown.type, "远程文件");
    EXPECT_EQ(RemoteProperties(listing, ftpstDefault, "l").shown.type, "远程符号链接");
    EXPECT_FALSE(RemoteProperties(listing, ftpstDefault, "missing").found);
}

}  // namespace
