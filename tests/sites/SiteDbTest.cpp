// The site database: passwords, option strings, records, the name check,
// statistics and both imports.
#include "TestSupport.h"

#include <algorithm>
#include "sites/Settings.h"
#include "sites/SiteDb.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct RecordingPrompt : IPrompt {
    std::vector<std::string> messages;
    void ShowMessage(MessageKind, const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string& text) override
    {
        messages.push_back(text);
        return true;
    }
};

struct Db {
    QTemporaryDir dir;
    TSiteDatabase db;
    Db() { db.Load(dir.path().toStdString() + "/"); }
    std::string path(const char* name) const { return dir.filePath(QString::fromUtf8(name)).toStdString(); }
};

}  // namespace

TEST(Passwords, ScrambledFormAndRoundTripsForEveryByte)
{
    const std::string s = ScramblePassword("abc");
    ASSERT_EQ(s.size(), 7u);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 127);
    for (size_t i = 2; i < s.size(); i += 2)
        EXPECT_TRUE(s[i] >= 50 && s[i] <= 99) << i;
    EXPECT_EQ(s[3] - s[1], 1);  // the same offset for every character
    EXPECT_EQ(UnscramblePassword(s), "abc");
    EXPECT_EQ(ScramblePassword(""), std::string(1, '\x7f'));
    EXPECT_EQ(UnscramblePassword(std::string(1, '\x7f')), "");
    std::string all;
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        EXPECT_EQ(UnscramblePassword(ScramblePassword(one)), one) << c;
        all += one;
    }
    EXPECT_EQ(UnscramblePassword(ScramblePassword(all)), all);
}

TEST(SiteOptions, LengthRulesAndTheDashRule)
{
    TSiteOptions d = TSiteOptions::Decode("1212");  // 4 characters: ignored
    EXPECT_EQ(d.TransferMode, 3);
    EXPECT_EQ(d.AntiIdle, TriState::UseSetting);

    TSiteOptions five = TSiteOptions::Decode("01211");
    EXPECT_EQ(five.TransferMode, 0);
    EXPECT_EQ(five.AntiIdle, TriState::On);
    EXPECT_EQ(five.RestoreTransfer, TriState::Off);
    EXPECT_EQ(five.LogSession, TriState::On);
    EXPECT_TRUE(five.RenameTypes);

    // 12 characters: positions 1-5 only.
    TSiteOptions twelve = TSiteOptions::Decode("012111222111");
    EXPECT_TRUE(twelve.RenameTypes);
    EXPECT_EQ(twelve.ShowHidden, TriState::UseSetting);
    EXPECT_EQ(twelve.ServerTypeIndex, 0);

    TSiteOptions ten = TSiteOptions::Decode("1000020912");
    EXPECT_EQ(ten.ShowHidden, TriState::Off);
    EXPECT_EQ(ten.ServerTypeIndex, 9);
    EXPECT_EQ(ten.UsePasv, TriState::On);
    EXPECT_EQ(ten.ResumeSupport, 2);
    EXPECT_FALSE(ten.SKey);

    TSiteOptions full = TSiteOptions::Decode("200000122011100");
    EXPECT_EQ(full.ServerTypeIndex, 12);
    EXPECT_EQ(full.UsePasv, TriState::Off);
    EXPECT_TRUE(full.SKey);
    EXPECT_EQ(full.UseAppe, TriState::On);
    EXPECT_TRUE(full.NoProxy);
    EXPECT_EQ(full.Encode(), "200000122011100");

    TSiteOptions dash = TSiteOptions::Decode("21-111122211100");
    EXPECT_EQ(dash.Encode(), DefaultOptionString);
    TSiteOptions junk = TSiteOptions::Decode("3xyz0ab99q1x1zz");
    EXPECT_EQ(junk.AntiIdle, TriState::UseSetting);
    EXPECT_EQ(junk.ServerTypeIndex, 0);
    EXPECT_EQ(ServerTypeListTexts().size(), 23u);
}

TEST(SiteDatabase, RecordsAreStoredInTheirShortForms)
{
    Db d;
    TSiteRecord r;
    r.Name = "Work";
    r.IP = "ftp.example.org";
    r.Port = "21";
    r.User = "bob";
    r.Pass = std::string(1, '\x7f');  // an empty password was saved
    r.RemoteDir = "/pub";
    r.Comment = {"line one", "line two"};
    d.db.WriteSite(r);
    TSiteRecord anon;
    anon.Name = "Anon";
    anon.IP = "mirror";
    anon.Port = "2121";
    d.db.WriteSite(anon);
    ASSERT_TRUE(d.db.SaveSites());

    TSiteDatabase again;
    ASSERT_TRUE(again.Load(d.dir.path().toStdString() + "/"));
    EXPECT_FALSE(again.Sites().Document().Get("Work", "Port"));
    auto w = again.ReadSite("work");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->Port, "21");
    EXPECT_EQ(w->User, "bob");
    EXPECT_TRUE(w->HasPassword());
    EXPECT_EQ(w->Password(), "");
    EXPECT_EQ(w->RemoteDir, "/pub");
    EXPECT_EQ(w->LocalFilter, "*.*");
    EXPECT_EQ(w->Comment, (std::vector<std::string>{"line one", "line two"}));
    auto a = again.ReadSite("Anon");
    EXPECT_FALSE(a->User.has_value());  // anonymous
    EXPECT_FALSE(a->HasPassword());
    EXPECT_EQ(a->Port, "2121");
    EXPECT_TRUE(again.SiteExists("Anon"));
    EXPECT_FALSE(again.SiteExists("Nowhere"));
}

TEST(SiteDatabase, NameCheckMessages)
{
    Db d;
    TSiteRecord r;
    r.Name = "Taken";
    r.IP = "h";
    d.db.WriteSite(r);
    RecordingPrompt p;
    EXPECT_FALSE(d.db.CheckSiteName("", p));
    EXPECT_TRUE(p.messages.empty());
    EXPECT_FALSE(d.db.CheckSiteName("a:b", p));
    EXPECT_FALSE(d.db.CheckSiteName(" lead", p));
    EXPECT_FALSE(d.db.CheckSiteName("taken", p));
    EXPECT_TRUE(d.db.CheckSiteName("新站点", p));
    EXPECT_EQ(p.messages, (std::vector<std::string>{
                              "站点名称不能包含下面的任何字符: ] [ = / \\ :", "站点名称必须开始于包含文字数字的字符r.",
                              "一个名为 \"taken\" 的站点已存在.  请选择另外的名字."}));
}

// Every name the check lets through survives a save and a reload, by its
// section and in its group's list; the names that would not ("abc ", "Work
// [old]", a line end, outer quotes) are refused, also from a text list.
TEST(SiteDatabase, NamesThatPassTheCheckSurviveTheFile)
{
    const std::vector<std::string> names = {"abc ", "Work [old]", "a\r\nIP=evil", "\"quoted\"", "'q'",  "tab\t",
                                            "a;b",  "#hash",      "x = y",        "新站点 二",  "a\"b", "ok'",
                                            "a]b",  "Work (old)", ";semi",        "x\x7f"};
    Db d;
    RecordingPrompt p;
    std::vector<std::string> accepted;
    for (const std::string& n : names) {
        if (!d.db.CheckSiteName(n, p))
            continue;
        accepted.push_back(n);
        TSiteRecord r;
        r.Name = n;
        r.IP = "h.example";
        d.db.WriteSite(r);
    }
    for (const char* refused : {"abc ", "Work [old]", "a\r\nIP=evil", "\"quoted\"", "'q'", "tab\t", "x\x7f"})
        EXPECT_EQ(std::find(accepted.begin(), accepted.end(), refused), accepted.end()) << refused;
    EXPECT_GE(accepted.size(), 6u);
    d.db.WriteGroupSites("G", accepted);
    ASSERT_TRUE(d.db.SaveSites());
    TSiteDatabase again;
    again.Load(d.dir.path().toStdString() + "/");
    EXPECT_EQ(again.GroupSites("G"), accepted);
    for (const std::string& n : accepted) {
        auto r = again.ReadSite(n);
        ASSERT_TRUE(r) << n;
        EXPECT_EQ(r->IP, "h.example") << n;
    }

    WriteTestFile(QString::fromStdString(d.path("list.txt")), "abc :a.example:u:p\nWork [old]:b.example:u:p\n");
    ASSERT_TRUE(d.db.ImportTextSiteList("G2", d.path("list.txt"), p));
    EXPECT_TRUE(d.db.GroupSites("G2").empty());
    EXPECT_FALSE(d.db.Sites().SectionExists("abc "));
}

TEST(SiteDatabase, StatisticsAccumulateAsPlainDecimals)
{
    Db d;
    d.db.AddTransfer("S", true, 5e9);
    d.db.AddTransfer("S", true, 5e9 + 1);
    d.db.AddTransfer("S", false, 10);
    d.db.RecordLogin("S", QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
    d.db.RecordLogin("S", QDateTime(QDate(2026, 12, 7), QTime(9, 31)));
    EXPECT_EQ(d.db.Stats().ReadString("S", "BytesUp"), "10000000001");
    EXPECT_EQ(d.db.Stats().ReadString("S", "FilesUp"), "2");
    EXPECT_EQ(d.db.Stats().ReadString("S", "FilesDown"), "1");
    const TSiteStats s = d.db.ReadStats("S");
    EXPECT_EQ(s.ConnectCount, 2);
    EXPECT_FALSE(s.LastConnect.empty());
    EXPECT_DOUBLE_EQ(s.BytesDown, 10);
    ASSERT_TRUE(d.db.SaveStats());
}

TEST(SiteDatabase, ImportingAnOlderFileTwiceAddsNothingTheSecondTime)
{
    Db d;
    std::string old =
        "[Servers]\ns1=Alpha\ns2=Beta\ns3=Gamma\n[Setup]\nDelay=99\n"
        "[Alpha]\nIP=alpha.example\nPort=2121\nUser=a\nPass=secret\nTransMode=1\n"
        "[Beta]\nIP=beta.example\nPort=21\nPass=" +
        ScramblePassword("pre") + "\nTransMode=2\n[Gamma]\nIP=gamma\n";
    WriteTestFile(QString::fromStdString(d.path("old.ini")), QByteArray::fromStdString(old));
    TIniFile settingsFile(d.path("corvyne.ini"), true);
    TSettings settings;
    const TImportCounts first = d.db.ImportOlderSiteFile("Personal", d.path("old.ini"), true, &settingsFile, &settings);
    EXPECT_EQ(first.added, 3);
    EXPECT_EQ(d.db.Groups(), std::vector<std::string>{"Personal"});
    EXPECT_EQ(d.db.GroupSites("Personal"), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    auto a = d.db.ReadSite("Alpha");
    EXPECT_EQ(a->Port, "2121");
    EXPECT_EQ(a->Password(), "secret");
    EXPECT_EQ(a->Options, DefaultOptionString);
    auto b = d.db.ReadSite("Beta");
    EXPECT_EQ(b->Password(), "pre");  // already scrambled: kept as it was
    EXPECT_FALSE(d.db.Sites().Document().Get("Beta", "Options"));
    EXPECT_FALSE(d.db.Sites().Document().Get("Beta", "Port"));
    EXPECT_EQ(settings.Delay, 99);
    EXPECT_EQ(d.db.ImportValue(), 1);

    const TImportCounts second = d.db.ImportOlderSiteFile("Personal", d.path("old.ini"), false, nullptr, nullptr);
    EXPECT_EQ(second.added, 0);
    EXPECT_EQ(d.db.GroupSites("Personal").size(), 3u);
    EXPECT_EQ(d.db.Groups().size(), 1u);
}

TEST(SiteDatabase, TextSiteListAddsAndUpdates)
{
    Db d;
    TSiteRecord known;
    known.Name = "Known";
    known.IP = "KNOWN.example";
    d.db.WriteSite(known);
    d.db.WriteGroupSites("G", {"Known"});
    WriteTestFile(QString::fromStdString(d.path("list.txt")),
                  "no colon line\r\n"
                  "Known2:known.example:u1:p1:2121\r\n"
                  "Fresh:fresh.example:u2:p2\r\n"
                  "WithPort:wp.example:u3:p3:21\n");
    RecordingPrompt p;
    TImportCounts c;
    ASSERT_TRUE(d.db.ImportTextSiteList("G", d.path("list.txt"), p, &c));
    EXPECT_EQ(c.added, 2);
    EXPECT_EQ(c.updated, 1);
    EXPECT_EQ(p.messages.back(), "导入完成: 2 新建条目, 1 更新条目.");
    auto k = d.db.ReadSite("Known");
    EXPECT_EQ(k->User, "u1");
    EXPECT_EQ(k->Password(), "p1");
    EXPECT_EQ(k->Port, "2121");
    auto f = d.db.ReadSite("Fresh");
    EXPECT_EQ(f->Password(), "p2");
    EXPECT_EQ(f->Options, DefaultOptionString);
    EXPECT_FALSE(d.db.Sites().Document().Get("WithPort", "Port"));
    EXPECT_EQ(d.db.GroupSites("G"), (std::vector<std::string>{"Known", "Fresh", "WithPort"}));

    RecordingPrompt q;
    EXPECT_FALSE(d.db.ImportTextSiteList("G", d.path("missing.txt"), q));
    EXPECT_EQ(q.messages.size(), 1u);
}
