// The .csq file type: registered for the user at every start, rewritten only
// when it changed (a moved program), and the desktop's caches rebuilt so the
// type takes effect.
#include "TestSupport.h"
#include "app/DataDirectory.h"
#include "app/FileType.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>

namespace {

ino_t inode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

bool fileHas(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(text);
}

}  // namespace

TEST(FileType, RegisteredOnceRewrittenWhenMovedAndCachesRebuilt)
{
    QTemporaryDir data;
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString entry = data.path() + QStringLiteral("/applications/corvyne.desktop");
    const QString package = data.path() + QStringLiteral("/mime/packages/corvyne-sitequeue.xml");

    ASSERT_TRUE(RegisterSiteQueueType(QStringLiteral("/opt/my apps/cor$vyne")));
    // One argument however odd the path: quoted, "$" escaped, the backslash
    // of the escape doubled by the file format.
    EXPECT_TRUE(fileHas(entry, "Exec=\"/opt/my apps/cor\\\\$vyne\" %f\n")) << ReadTestFile(entry);
    // The caches, rebuilt in the background, name the type and the program.
    EXPECT_TRUE(WaitFor([&] { return fileHas(data.path() + QStringLiteral("/mime/globs2"), "*.csq"); }, 10000));
    EXPECT_TRUE(WaitFor(
        [&] {
            return fileHas(data.path() + QStringLiteral("/applications/mimeinfo.cache"),
                           "application/x-corvyne-sitequeue=corvyne.desktop");
        },
        10000));

    // The same program again: nothing rewritten.
    const ino_t entryBefore = inode(entry), packageBefore = inode(package);
    ASSERT_TRUE(RegisterSiteQueueType(QStringLiteral("/opt/my apps/cor$vyne")));
    EXPECT_EQ(inode(entry), entryBefore);
    EXPECT_EQ(inode(package), packageBefore);

    // Moved: the entry follows.
    ASSERT_TRUE(RegisterSiteQueueType(QStringLiteral("/usr/local/bin/corvyne")));
    EXPECT_TRUE(fileHas(entry, "Exec=\"/usr/local/bin/corvyne\" %f\n"));
    EXPECT_EQ(inode(package), packageBefore);
    qputenv("XDG_DATA_HOME", oldHome);
}

TEST(FileType, ASiteLauncherStartsTheProgramWithTheNameAsOneArgument)
{
    QTemporaryDir dir;
    const QString desktop = dir.filePath("Desktop");  // made when missing
    QString path;
    std::string error;
    // Quotes, "$", "%" and "/" in a name must neither split it nor run anything.
    ASSERT_TRUE(CreateSiteLauncher(desktop, QStringLiteral("R&D \"x\" $y 5%/z"), QStringLiteral("/opt/c v/corvyne"),
                                   path, error))
        << error;
    EXPECT_EQ(path, desktop + QStringLiteral("/R&D \"x\" $y 5%_z.desktop"));
    const std::string text = ReadTestFile(path);
    EXPECT_NE(text.find("\nExec=\"/opt/c v/corvyne\" \"R&D \\\\\"x\\\\\" \\\\$y 5%%/z\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nPath=/opt/c v\n"), std::string::npos) << text;
    EXPECT_TRUE(QFileInfo(path).isExecutable());
    EXPECT_FALSE(QFileInfo(path).permissions() & QFile::WriteOther);

    // More than one argument (a data folder besides the site): each one whole.
    ASSERT_TRUE(CreateSiteLauncher(desktop, QStringLiteral("s"), QStringLiteral("/p/corvyne"), path, error,
                                   {QStringLiteral("s"), QStringLiteral("DATA=/d a/")}))
        << error;
    EXPECT_NE(ReadTestFile(path).find("\nExec=\"/p/corvyne\" \"s\" \"DATA=/d a/\"\n"), std::string::npos)
        << ReadTestFile(path);
    EXPECT_EQ(DataDirectoryArguments(DefaultDataDirectory()), QStringList{});
    EXPECT_EQ(DataDirectoryArguments(QStringLiteral("/d a/")), QStringList{QStringLiteral("DATA=/d a/")});

    // A folder that cannot be made: told, nothing claimed.
    WriteTestFile(dir.filePath("file"), "x");
    EXPECT_FALSE(
        CreateSiteLauncher(dir.filePath("file/Desktop"), QStringLiteral("s"), QStringLiteral("/p"), path, error));
}
