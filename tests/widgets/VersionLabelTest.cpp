// The version label over the program's own executable and over crafted files
// for every message; the about box and splash texts.
#include "dialogs/About.h"
#include "widgets/verslab.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString craft(QTemporaryDir& dir, const char* name, const QByteArray& entries)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x7f"
                       "ELF junk before") +
            QByteArray("CORVYNE-VERSIONINFO", 20) + entries + QByteArray(1, '\0') + "junk after");
    return path;
}

QByteArray entry(const char* text)
{
    return QByteArray(text) + QByteArray(1, '\0');
}

QString shown(const QString& file, TVersionResources r = vrFileVersion, bool prefix = true)
{
    TVersionLabel l;
    l.SetFilename(file);
    l.SetVersionResource(r);
    l.SetShowInfoPrefix(prefix);
    return l.InfoString();
}

}  // namespace

TEST(VersionLabel, ReadsTheProgramsOwnVersion)
{
    TVersionLabel l;
    l.SetFilename(QStringLiteral(CORVYNE_EXE));
    EXPECT_EQ(l.InfoString(), QStringLiteral("文件版本: 2.7.5.610"));
    EXPECT_EQ(l.text(), l.InfoString());
    EXPECT_EQ(l.LangCharset(), QStringLiteral("0804FDE9"));
    l.SetShowInfoPrefix(false);
    EXPECT_EQ(l.InfoString(), QStringLiteral("2.7.5.610"));
    l.SetShowInfoPrefix(true);
    l.SetInfoPrefix(QStringLiteral("Version:"));
    EXPECT_EQ(l.InfoString(), QStringLiteral("Version: 2.7.5.610"));
    EXPECT_EQ(shown(QStringLiteral(CORVYNE_EXE), vrProductName), QStringLiteral("产品名: Corvyne"));
    EXPECT_EQ(shown(QStringLiteral(CORVYNE_EXE), vrFlags), QStringLiteral("标志: "));  // no flag set: an empty value
}

TEST(VersionLabel, PropertyRules)
{
    TVersionLabel l;
    l.SetVersionResource(vrLegalCopyright);
    EXPECT_EQ(l.VersionResourceKey(), QStringLiteral("LegalCopyright"));
    EXPECT_EQ(l.InfoPrefix(), QStringLiteral("法律版权:"));
    l.SetVersionResourceKey(QStringLiteral("Custom"));
    EXPECT_EQ(l.InfoPrefix(), QStringLiteral("Custom"));
}

TEST(VersionLabel, EveryMessage)
{
    QTemporaryDir dir;
    const QString none = dir.filePath(QStringLiteral("plain"));
    {
        QFile f(none);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("no version data here");
    }
    EXPECT_EQ(shown(none), QStringLiteral("文件版本: < 没有可用数据 >"));
    EXPECT_EQ(shown(dir.filePath(QStringLiteral("missing"))), QStringLiteral("文件版本: < 检索版本信息错误 >"));
    EXPECT_EQ(shown(craft(dir, "shortlang", entry("Translation=0804"))),
              QStringLiteral("文件版本: < 检索翻译信息错误>"));
    const QString gbk = craft(dir, "gbk",
                              entry("Translation=080403a8") + entry("080403A8\\FileVersion= 1.2 ") +
                                  entry("080403A8\\Comments=") + entry("FileFlags=43"));
    EXPECT_EQ(shown(gbk), QStringLiteral("文件版本: 1.2"));  // language 0804, code page 936
    EXPECT_EQ(shown(gbk, vrComments), QStringLiteral("说明: < 没有版本信息 >"));
    EXPECT_EQ(shown(gbk, vrCompanyName), QStringLiteral("公司名: < 检索字串版本信息错误 >"));
    EXPECT_EQ(shown(gbk, vrFlags, false),
              QStringLiteral("Debug Build, Pre-Release Build, Private Build, Special Build"));
    EXPECT_EQ(shown(craft(dir, "badflags", entry("Translation=08040000") + entry("FileFlags=x")), vrFlags),
              QStringLiteral("标志: < 检索修改版本信息错误 >"));
}

TEST(VersionLabel, AboutBoxAndSplashPrefixes)
{
    TfrmAbout about;
    about.lblVersion->SetFilename(QStringLiteral(CORVYNE_EXE));
    EXPECT_EQ(about.lblVersion->InfoString(), QStringLiteral("版本: 2.7.5.610"));
    TfrmSplash splash;
    splash.lblVersion->SetFilename(QStringLiteral(CORVYNE_EXE));
    EXPECT_EQ(splash.lblVersion->InfoString(), QStringLiteral("Version: 2.7.5.610"));
}
