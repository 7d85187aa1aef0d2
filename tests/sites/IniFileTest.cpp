// The INI layer: profile-function semantics, counted lists, and saves that
// reach disk whole or not at all.
#include "TestSupport.h"
#include "sites/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
}  // namespace

TEST(IniDocument, ProfileSemantics)
{
    TIniDocument d;
    d.Parse(
        "orphan=ignored\r\n; comment\n[Setup]\r\n  Delay = 45 \r\nDELAY=99\nName=\"quoted value\"\n"
        "Single='x'\nnoequals\n=novalue\n[setup]\nDelay=7\n[Other]\nk=v");
    EXPECT_EQ(d.Get("SETUP", "delay"), "45");  // first key and first section win
    EXPECT_EQ(d.Get("Setup", "name"), "quoted value");
    EXPECT_EQ(d.Get("Setup", "Single"), "x");
    EXPECT_FALSE(d.Get("Setup", "orphan"));
    EXPECT_FALSE(d.Get("Setup", "noequals"));
    EXPECT_EQ(d.Get("other", "K"), "v");  // last line without a line end
    EXPECT_EQ(d.SectionNames(), (std::vector<std::string>{"Setup", "Other"}));

    d.Set("setup", "DELAY", "60");  // updated in place, the stored name kept
    d.Set("Setup", "New", "n");
    d.Set("Fresh", "a", "b");
    EXPECT_EQ(d.Serialize(),
              "[Setup]\r\nDelay=60\r\nName=quoted value\r\nSingle=x\r\nNew=n\r\n\r\n"
              "[Other]\r\nk=v\r\n\r\n[Fresh]\r\na=b\r\n\r\n");
    EXPECT_TRUE(d.EraseSection("OTHER"));
    EXPECT_FALSE(d.HasSection("Other"));
    EXPECT_FALSE(d.EraseSection("Other"));
    d.Set("Other", "again", "1");
    EXPECT_EQ(d.Entries("other").size(), 1u);
}

TEST(IniFile, TypedReadsFallBackToDefaults)
{
    TIniFile f;
    f.Document().Parse("[S]\nint=42\nneg=-3\nplus=+5\nbad=4x\nempty=\nbig=99999999999\nbool0=0\nbool7=7\nboolx=yes\n");
    EXPECT_EQ(f.ReadInteger("S", "int", 1), 42);
    EXPECT_EQ(f.ReadInteger("S", "neg", 1), -3);
    EXPECT_EQ(f.ReadInteger("S", "plus", 1), 5);
    EXPECT_EQ(f.ReadInteger("S", "bad", 30), 30);
    EXPECT_EQ(f.ReadInteger("S", "empty", 30), 30);
    EXPECT_EQ(f.ReadInteger("S", "big", 30), 30);
    EXPECT_EQ(f.ReadInteger("S", "missing", 30), 30);
    EXPECT_FALSE(f.ReadBool("S", "bool0", true));
    EXPECT_TRUE(f.ReadBool("S", "bool7", false));
    EXPECT_TRUE(f.ReadBool("S", "boolx", true));
    EXPECT_FALSE(f.ReadBool("S", "boolx", false));
    EXPECT_EQ(f.ReadString("S", "empty", "dflt"), "dflt");
    EXPECT_EQ(f.ReadSectionLines("s").front(), "int=42");
}

TEST(IniFile, CountedListsStopAtTheFirstGapAndAreRewrittenWhole)
{
    TIniFile f;
    f.Document().Parse("[L]\ne1=a\ne2=b\ne4=d\nCount=9\n");
    EXPECT_EQ(f.ReadList("L", "e"), (std::vector<std::string>{"a", "b"}));
    f.WriteList("L", "e", {"x", "y", "z"});
    EXPECT_EQ(f.ReadList("L", "e"), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_FALSE(f.Document().Get("L", "Count"));  // the section was erased first
    f.WriteList("L", "e", {});
    EXPECT_TRUE(f.ReadList("L", "e").empty());
}

TEST(IniFile, AutoSaveWritesEachKeyAtomically)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvyne.ini"));
    TIniFile f(path.toStdString(), true);
    ASSERT_TRUE(f.Load());
    EXPECT_FALSE(f.Exists());
    ASSERT_TRUE(f.WriteInteger("Setup", "Delay", 12));
    TIniFile other(path.toStdString());
    ASSERT_TRUE(other.Load());
    EXPECT_EQ(other.ReadInteger("setup", "delay", 0), 12);
    // A value cannot forge another key with a line end.
    ASSERT_TRUE(f.WriteString("Setup", "Path", "/x\r\nDelay=1"));
    ASSERT_TRUE(other.Load());
    EXPECT_EQ(other.ReadInteger("Setup", "Delay", 0), 12);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left
}

// A profile file writes a key into the file as it is on disk at that moment:
// what a user typed into the file, or a second window wrote, while this one
// held it open survives this one's writes.
TEST(IniFile, ProfileWritesKeepWhatOthersWroteMeanwhile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvyne.ini"));
    WriteTestFile(path, "[Setup]\nDelay=30\nRetry=3\n");
    TIniFile f(path.toStdString(), true);
    ASSERT_TRUE(f.Load());
    WriteTestFile(path, "[Setup]\nDelay=99\nRetry=3\n[Mine]\nk=v\n");  // edited by hand
    ASSERT_TRUE(f.WriteInteger("Setup", "Retry", 4));
    ASSERT_TRUE(f.DeleteKey("Mine", "absent"));
    TIniFile disk(path.toStdString());
    ASSERT_TRUE(disk.Load());
    EXPECT_EQ(disk.ReadInteger("Setup", "Delay", 0), 99);
    EXPECT_EQ(disk.ReadInteger("Setup", "Retry", 0), 4);
    EXPECT_EQ(disk.ReadString("Mine", "k"), "v");
    EXPECT_EQ(f.ReadInteger("Setup", "Delay", 0), 99);  // the merged file is what reads see next

    // Two windows writing their own keys and lists in turn, and a list
    // rewritten by one while the other holds an older copy of it.
    TIniFile a(path.toStdString(), true), b(path.toStdString(), true);
    ASSERT_TRUE(a.Load());
    ASSERT_TRUE(b.Load());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(a.WriteInteger("A", "k" + std::to_string(i), i));
        ASSERT_TRUE(b.WriteInteger("B", "k" + std::to_string(i), i));
    }
    ASSERT_TRUE(a.WriteList("History", "h", {"one", "two"}));
    ASSERT_TRUE(b.Load());
    EXPECT_EQ(b.ReadList("History", "h"), (std::vector<std::string>{"one", "two"}));
    ASSERT_TRUE(disk.Load());
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(disk.ReadInteger("A", "k" + std::to_string(i), -1), i);
        EXPECT_EQ(disk.ReadInteger("B", "k" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(disk.ReadInteger("Setup", "Delay", 0), 99);
}

// Writers in parallel (two threads, each with its own file object, as two
// processes would be): the folder lock serialises the read-merge-write, so
// no key of either is lost.
TEST(IniFile, ParallelProfileWritersLoseNothing)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("corvyne.ini")).toStdString();
    auto writer = [&path](const std::string& section) {
        TIniFile f(path, true);
        f.Load();
        for (int i = 0; i < 100; ++i)
            f.WriteInteger(section, "k" + std::to_string(i), i);
    };
    std::thread t1(writer, "One"), t2(writer, "Two");
    t1.join();
    t2.join();
    TIniFile disk(path);
    ASSERT_TRUE(disk.Load());
    for (const char* section : {"One", "Two"})
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(disk.ReadInteger(section, "k" + std::to_string(i), -1), i) << section << i;
}

// The writes of one action reach the disk once: nothing before the batch
// ends, everything after; a rewrite of unchanged values replaces nothing.
TEST(IniFile, ABatchReachesTheDiskOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvyne.ini"));
    WriteTestFile(path, "[Setup]\nDelay=30\n");
    TIniFile f(path.toStdString(), true);
    ASSERT_TRUE(f.Load());
    auto inode = [&] {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_ino;
    };
    const ino_t before = inode();
    {
        TIniFile::Batch batch(f);
        for (int i = 0; i < 100; ++i)
            f.WriteInteger("Setup", "k" + std::to_string(i), i);
        {
            TIniFile::Batch inner(f);
            f.WriteList("Extensions", "e", {"*.txt"});
        }
        EXPECT_EQ(ReadTestFile(path), "[Setup]\nDelay=30\n");
        EXPECT_EQ(inode(), before);
    }
    TIniFile disk(path.toStdString());
    ASSERT_TRUE(disk.Load());
    EXPECT_EQ(disk.ReadInteger("Setup", "k99", -1), 99);
    EXPECT_EQ(disk.ReadString("Extensions", "e1"), "*.txt");
    const ino_t written = inode();
    EXPECT_NE(written, before);
    {
        TIniFile::Batch batch(f);
        f.WriteInteger("Setup", "k5", 5);
        f.WriteInteger("Setup", "Delay", 30);
    }
    EXPECT_EQ(inode(), written);
}

// A flush that fails (the disk takes no more: a file-size limit stands in
// for a full disk) keeps the writes: in memory, and pending for the next
// flush that can reach the disk. The file on disk stays as it was.
TEST(IniFile, AFailedFlushLosesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvyne.ini"));
    WriteTestFile(path, "[Setup]\nDelay=5\n");
    TIniFile f(path.toStdString(), true);
    ASSERT_TRUE(f.Load());
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 8;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = f.WriteInteger("Setup", "Delay", 6);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(written);
    EXPECT_NE(f.LastError().find("corvyne.ini"), std::string::npos);
    EXPECT_EQ(f.ReadInteger("Setup", "Delay", 0), 6);
    EXPECT_EQ(ReadTestFile(path), "[Setup]\nDelay=5\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left
    ASSERT_TRUE(f.Flush());
    TIniFile disk(path.toStdString());
    ASSERT_TRUE(disk.Load());
    EXPECT_EQ(disk.ReadInteger("Setup", "Delay", 0), 6);
}

TEST(IniFile, ReadOnlyFileIsMadeWritableAndUnwritableFolderIsAnError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sites.ini"));
    WriteTestFile(path, "[a]\nIP=h\n");
    ::chmod(path.toLocal8Bit().constData(), 0444);
    TIniFile f(path.toStdString());
    ASSERT_TRUE(f.Load());
    struct stat st {};
    ::stat(path.toLocal8Bit().constData(), &st);
    EXPECT_TRUE(st.st_mode & S_IWUSR);

    // A folder that is not a folder cannot take the temporary file: the save
    // fails with a message naming the file, and nothing is lost silently.
    WriteTestFile(dir.filePath(QStringLiteral("blocker")), "x");
    TIniFile bad(dir.filePath(QStringLiteral("blocker/sites.ini")).toStdString());
    bad.WriteString("a", "IP", "h");
    EXPECT_FALSE(bad.Save());
    EXPECT_NE(bad.LastError().find("blocker/sites.ini"), std::string::npos);
    EXPECT_EQ(ReadTestFile(dir.filePath(QStringLiteral("blocker"))), "x");
}

// Found by the INI fuzzer: values that reading alters (outer quotes, outer
// blanks, a CR) must come back unchanged after a write and a read.
TEST(IniDocument, WrittenValuesReadBackUnchanged)
{
    const std::vector<std::string> values = {"\"quoted\"", "'single'", " lead", "trail ", "\"", "a\"b\"", "\"\r=\""};
    TIniDocument d;
    for (size_t i = 0; i < values.size(); ++i)
        d.Set("S", "k" + std::to_string(i), values[i]);
    TIniDocument back;
    back.Parse(d.Serialize());
    for (size_t i = 0; i < values.size(); ++i) {
        std::string expected = values[i];
        std::replace(expected.begin(), expected.end(), '\r', ' ');
        EXPECT_EQ(back.Get("S", "k" + std::to_string(i)), expected) << i;
    }
    d.Set("S", "inject", "x\nforged=1");
    back.Parse(d.Serialize());
    EXPECT_FALSE(back.Get("S", "forged"));
}
