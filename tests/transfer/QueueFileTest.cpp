#include "transfer/QueueFile.h"

#include "sites/SiteDb.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {

const TQueueEntry FileDown{TEntryKind::DownloadFile, "/pub/a.txt", 1234, "/home/u/a.txt"};
const TQueueEntry DirUp{TEntryKind::UploadDirectory, "/home/u/d/", -1, "~/"};

std::vector<std::string> reasons(const std::vector<TQueueFileSkip>& skipped)
{
    std::vector<std::string> out;
    for (const TQueueFileSkip& s : skipped)
        out.push_back(std::to_string(s.Line) + ":" + s.Reason);
    return out;
}

}  // namespace

TEST(PlainQueueFile, WritesFourFieldsPerLineAndReadsThemBack)
{
    std::vector<TQueueFileSkip> skipped;
    const std::string text = FormatPlainQueue({FileDown, DirUp}, skipped);
    EXPECT_EQ(text, std::string("1\x01/pub/a.txt\x01"
                                "1,234\x01/home/u/a.txt\r\n"
                                "2\x01/home/u/d/\x01\x01~/\r\n"));
    EXPECT_TRUE(skipped.empty());
    EXPECT_EQ(ParsePlainQueue(text, skipped), (std::vector<TQueueEntry>{FileDown, DirUp}));
    EXPECT_TRUE(skipped.empty());

    // Names are bytes: text that is not UTF-8 (a server's GBK name) comes
    // back as it went; lines ended by LF alone are read too.
    const TQueueEntry gbk{TEntryKind::DownloadFile, "/pub/\xd6\xd0\xce\xc4", 5, "/home/u/\xff"};
    const std::string lf = FormatPlainQueue({gbk}, skipped);
    EXPECT_EQ(ParsePlainQueue(lf.substr(0, lf.size() - 2) + "\n", skipped), std::vector<TQueueEntry>{gbk});
}

TEST(PlainQueueFile, LinesThatAreNoEntryAreReportedNotFatal)
{
    std::vector<TQueueFileSkip> skipped;
    const std::string huge(70000, 'x');
    const std::string text = std::string("x\x01/a\x01\x01/b\r\n") +  // kind not a number: the old reader stopped here
                             "7\x01/a\x01\x01/b\r\n" +               // no such kind
                             "-1\x01/a\x01\x01/b\r\n" +
                             "1\x01/a\x01"
                             "5\r\n" +                // a field missing
                             "\r\n" +                 // empty lines are nothing
                             "1\x01\x01\x01/b\r\n" +  // no source
                             "1\x01/a\x01" +
                             huge + "\x01/b\r\n" +  // longer than any path
                             "3\x01/c\x01"
                             "12\x01/d\r\n";  // still read after all of that
    const std::vector<TQueueEntry> entries = ParsePlainQueue(text, skipped);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (TQueueEntry{TEntryKind::UploadFile, "/c", 12, "/d"}));
    EXPECT_EQ(reasons(skipped),
              (std::vector<std::string>{"1:类型不是数字", "2:类型不在 0 到 3 之间", "3:类型不在 0 到 3 之间",
                                        "4:字段不足", "6:源或目标为空", "7:行太长"}));
    // The log line names the line and shows it readable and short.
    EXPECT_EQ(skipped[0].LogText(), "队列文件第 1 行未载入 (类型不是数字): x /a  /b");
    EXPECT_LT(skipped[5].LogText().size(), 200u);
}

TEST(PlainQueueFile, AnEntryTheFormCannotHoldIsLeftOutAndNamed)
{
    // A separator in the source or a line break anywhere would make another
    // entry on reading; the target is the rest of the line and may hold one.
    const TQueueEntry sepInSource{TEntryKind::DownloadFile,
                                  "/a\x01"
                                  "b",
                                  1, "/l"};
    const TQueueEntry breakInTarget{TEntryKind::DownloadFile, "/c", 1, "/l/x\ny"};
    const TQueueEntry sepInTarget{TEntryKind::DownloadFile, "/e", 1,
                                  "/l/\x01"
                                  "f"};
    std::vector<TQueueFileSkip> skipped;
    const std::string text = FormatPlainQueue({sepInSource, breakInTarget, sepInTarget}, skipped);
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].Text, "/a b");
    EXPECT_EQ(skipped[1].LogText(), "队列项未保存 (名称含有分隔符或换行): /c");
    std::vector<TQueueFileSkip> none;
    EXPECT_EQ(ParsePlainQueue(text, none), std::vector<TQueueEntry>{sepInTarget});
    EXPECT_TRUE(none.empty());
}

TEST(SiteQueueFile, WritesTheHostDataAndQuotedEntries)
{
    TSiteQueue q;
    q.Host = "ftp.example.org";
    q.Port = "2121";
    q.User = "user";
    q.Password = "secret";
    q.Dial = "isp";
    q.HangUp = true;
    q.Quit = true;
    q.Entries = {FileDown, DirUp};
    std::vector<TQueueFileSkip> skipped;
    const std::string text = FormatSiteQueue(q, skipped);
    // The scrambled password differs from save to save; it reads back.
    const size_t pass = text.find("PASS=") + 5, passEnd = text.find("\r\n", pass);
    EXPECT_EQ(UnscramblePassword(text.substr(pass, passEnd - pass)), "secret");
    EXPECT_EQ(text.substr(0, pass) + text.substr(passEnd),
              "[HOSTINFO]\r\nHOST=ftp.example.org\r\nPORT=2121\r\nUSER=user\r\nPASS="
              "\r\nDIAL=isp\r\nHANGUP=YES\r\nQUIT=YES\r\n\r\n[FILES]\r\n"
              "\"1\",\"/pub/a.txt\",\"1,234\",\"/home/u/a.txt\"\r\n"
              "\"2\",\"/home/u/d/\",\"\",\"~/\"\r\n");
    const TSiteQueue back = ParseSiteQueue(text, skipped);
    EXPECT_TRUE(skipped.empty());
    EXPECT_EQ(back.Host, q.Host);
    EXPECT_EQ(back.Port, q.Port);
    EXPECT_EQ(back.User, q.User);
    EXPECT_EQ(back.Password, q.Password);
    EXPECT_EQ(back.Dial, "isp");
    EXPECT_TRUE(back.HangUp && back.Quit);
    EXPECT_EQ(back.Entries, q.Entries);

    // Port 21 and an anonymous login leave their lines out.
    q.Port = "21";
    q.User.reset();
    q.Dial.clear();
    q.HangUp = q.Quit = false;
    q.Entries = {};
    EXPECT_EQ(FormatSiteQueue(q, skipped), "[HOSTINFO]\r\nHOST=ftp.example.org\r\n\r\n[FILES]\r\n");
}

TEST(SiteQueueFile, ReadsKeysAsTheFormSaysAndSkipsBrokenLinesWithAReason)
{
    std::vector<TQueueFileSkip> skipped;
    const TSiteQueue q = ParseSiteQueue(
        "[HOSTINFO]\n"
        "quit=NO\n"  // any value quits; keys in any case
        "user=a=b\n"
        "noequals\n"
        "[FILES]\n"
        "\"1\",\"/a\",\"10\"\n"              // three fields
        "\"7\",\"/a\",\"\",\"/b\"\n"         // no such kind
        "\"x\",\"/a\",\"\",\"/b\"\n"         // not a number
        "\"1\",\"/a\",\"\",\"/b\",\"/c\"\n"  // five fields
        "\"3\",\"/q\"\"\",\"9\",\"~/\"\n",   // a quote inside a name
        skipped);
    EXPECT_TRUE(q.Host.empty());  // fills the queue but cannot connect
    EXPECT_TRUE(q.Quit);
    EXPECT_EQ(q.User, "a=b");
    EXPECT_FALSE(q.Port.has_value());
    ASSERT_EQ(q.Entries.size(), 1u);
    EXPECT_EQ(q.Entries[0], (TQueueEntry{TEntryKind::UploadFile, "/q\"\"", 9, "~/"}));
    EXPECT_EQ(reasons(skipped), (std::vector<std::string>{"6:不是四个字段", "7:类型不在 0 到 3 之间", "8:类型不是数字",
                                                          "9:不是四个字段"}));

    // A name holding a quote and a comma would split on reading: not written.
    TSiteQueue bad;
    bad.Host = "h";
    bad.Entries = {{TEntryKind::DownloadFile, "/a\",b", 1, "/l"}, FileDown};
    skipped.clear();
    const TSiteQueue back = ParseSiteQueue(FormatSiteQueue(bad, skipped), skipped);
    EXPECT_EQ(back.Entries, std::vector<TQueueEntry>{FileDown});
    EXPECT_EQ(reasons(skipped), std::vector<std::string>{"0:名称含有 \", 或换行"});
}

TEST(QueueFiles, PathsAndFileErrors)
{
    EXPECT_EQ(QueueFileSafePath("/tmp/a:b?/q?u|e<u>e\"*:.cqf"), "/tmp/a:b?/q_u_e_u_e___.cqf");
    EXPECT_EQ(QueueFileSafePath("x:y"), "x_y");

    QTemporaryDir dir;
    const std::string path = dir.filePath("q.cqf").toStdString();
    std::string text, error;
    EXPECT_FALSE(ReadQueueFile(path, text, error));
    EXPECT_NE(error.find("q.cqf"), std::string::npos);

    ASSERT_TRUE(WriteQueueFile(path, "1\x01/a\x01\x01/b\r\n", error)) << error;
    ASSERT_TRUE(ReadQueueFile(path, text, error));
    EXPECT_EQ(text, "1\x01/a\x01\x01/b\r\n");
    // A failed write (the folder is gone) reports and leaves nothing behind.
    EXPECT_FALSE(WriteQueueFile(dir.filePath("gone/q.cqf").toStdString(), "x", error));
    EXPECT_FALSE(error.empty());
}

TEST(QueueFileReach, FoldersAreResolvedAndEntriesOutsideARootAreTakenOut)
{
    std::vector<TQueueEntry> entries = {
        {TEntryKind::DownloadFile, "/a", 1, "/home/u/in/a"},
        {TEntryKind::DownloadFile, "/b", 1, "/home/u/in/../out/b"},
        {TEntryKind::DownloadDirectory, "/d/", -1, "/home/u/in/sub/"},
        {TEntryKind::UploadFile, "/etc/hostname", 1, "/hostname"},
        {TEntryKind::UploadFile, "relative/x", 1, "/x"},
        {TEntryKind::DownloadFile, "/c", 1, "/home/u/inside-not/c"},
    };
    const TQueueReach reach = QueueReach(entries);
    EXPECT_EQ(reach.WriteFolders,
              (std::vector<std::string>{"/home/u/in/", "/home/u/out/", "/home/u/in/sub/", "/home/u/inside-not/"}));
    EXPECT_EQ(reach.ReadFolders, (std::vector<std::string>{"/etc/", "/relative/"}));
    const std::vector<TQueueEntry> outside = TakeEntriesOutside(entries, "/home/u/in/");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Source, "/a");
    EXPECT_EQ(entries[1].Source, "/d/");
    std::vector<std::string> sources;
    for (const TQueueEntry& e : outside)
        sources.push_back(e.Source);
    EXPECT_EQ(sources, (std::vector<std::string>{"/b", "/etc/hostname", "relative/x", "/c"}));
}
