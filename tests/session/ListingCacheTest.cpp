// The listing cache against its file system: lines come back as written, and
// a file the disk could not take whole is never replayed as the directory.

#include "TestSupport.h"
#include "session/ListingCache.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Points the cache's temporary files at a folder for the life of the object.
struct TempDirAt {
    QByteArray old = qgetenv("TMPDIR");
    explicit TempDirAt(const QString& dir) { qputenv("TMPDIR", dir.toLocal8Bit()); }
    ~TempDirAt()
    {
        if (old.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", old);
    }
};

std::vector<std::string> lines(size_t count)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back("-rw-r--r--   1 ftp ftp " + std::to_string(i * 7) + " Jan  5  2020 file " + std::to_string(i));
    return out;
}

TEST(ListingCache, LinesComeBackAsWrittenAcrossManyWrites)
{
    QTemporaryDir tmp;
    TempDirAt at(tmp.path());
    TListingCache cache;
    const std::vector<std::string> written = lines(5000);  // several 64 KiB writes and a part
    ASSERT_TRUE(cache.Begin("/big/"));
    for (const std::string& l : written)
        cache.WriteLine(l);
    cache.End();
    TListingLines read;
    ASSERT_TRUE(cache.Read("/big/", read));
    EXPECT_EQ(read.Lines(), written);
    EXPECT_TRUE(cache.Find("/big/").startsWith(tmp.path()));

    // Dropped while being written: nothing of it is left, nothing written later.
    ASSERT_TRUE(cache.Begin("/other/"));
    cache.WriteLine("a line");
    const QString path = cache.Find("/other/");
    cache.Drop("/other/");
    cache.WriteLine("after the drop");
    cache.End();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(cache.Find("/other/").isEmpty());
}

TEST(ListingCache, AFileTheFullDiskCutShortIsNotKept)
{
    SmallDisk disk;
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system needs root";
    TempDirAt at(disk.dir.path());
    TListingCache cache;
    ASSERT_TRUE(cache.Begin("/small/"));
    for (const std::string& l : lines(100))
        cache.WriteLine(l);
    cache.End();
    EXPECT_FALSE(cache.Find("/small/").isEmpty());

    // About 1.5 MiB of lines on a 1 MiB disk.
    ASSERT_TRUE(cache.Begin("/huge/"));
    for (const std::string& l : lines(25000))
        cache.WriteLine(l);
    cache.End();
    EXPECT_TRUE(cache.Find("/huge/").isEmpty());
    TListingLines read;
    EXPECT_FALSE(cache.Read("/huge/", read));
    EXPECT_EQ(cache.Count(), 1u);  // the one that fitted stays
    ASSERT_TRUE(cache.Read("/small/", read));
    EXPECT_EQ(read.size(), 100u);
}

}  // namespace
