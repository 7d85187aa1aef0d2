#include "sites/Bookmarks.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Bookmarks, StoredBesideTheCountersAndRewrittenKeepingThem)
{
    QTemporaryDir dir;
    TIniFile stats(dir.filePath("stats.dat").toStdString());
    stats.WriteString("Own", "BytesDown", "1234");
    stats.WriteString("Own", "ConnectCount", "3");
    AppendBookmark(stats, "Own", {"docs", "/pub/docs/"});
    AppendBookmark(stats, "Own", {"odd", "/a:b/"});  // a path may hold ":"
    EXPECT_EQ(stats.ReadString("Own", "f2"), "odd:/a:b/");
    EXPECT_EQ(ReadBookmarks(stats, "Own"), (std::vector<TBookmark>{{"docs", "/pub/docs/"}, {"odd", "/a:b/"}}));

    // Stored by another program with a ":" in the name: it ends there.
    stats.WriteString("Other", "f1", "a:b:/x/");
    EXPECT_EQ(ReadBookmarks(stats, "Other"), (std::vector<TBookmark>{{"a", "b:/x/"}}));
    EXPECT_FALSE(BookmarkNameFits("a:b"));
    EXPECT_FALSE(BookmarkNameFits(""));
    EXPECT_TRUE(BookmarkNameFits("文档"));

    stats.WriteString("Own", "f9", "stray:/z/");
    RewriteBookmarks(stats, "Own", {{"odd", "/a:b/"}});
    EXPECT_EQ(stats.ReadString("Own", "BytesDown"), "1234");
    EXPECT_EQ(stats.ReadString("Own", "ConnectCount"), "3");
    EXPECT_EQ(stats.ReadString("Own", "f9"), "");
    EXPECT_EQ(ReadBookmarks(stats, "Own"), (std::vector<TBookmark>{{"odd", "/a:b/"}}));

    // A site that never connected gets its empty login keys.
    RewriteBookmarks(stats, "New", {{"x", "/x/"}});
    const auto entries = stats.Document().Entries("New");
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, std::string>>{
                           {"LastConnect", ""}, {"ConnectCount", ""}, {"f1", "x:/x/"}}));
}
