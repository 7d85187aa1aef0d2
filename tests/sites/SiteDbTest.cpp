// The site database: passwords, option strings, records, the name check,
// statistics and both imports.
#include "TestSupport.h"

#include <algorithm>
#include <map>
#include "ftp/Ftp.h"
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

namespace {

// A keyring that may be switched off and that refuses the passwords it is
// told to: what a real one does when locked or gone mid-save.
struct FakeVault : IPasswordVault {
    bool available = true;
    std::string refused;  // a write of this password fails
    std::map<std::string, std::string> items;
    int writes = 0;
    bool Available() override { return available; }
    ReadResult Read(const std::string& id, std::string& password, std::string& error) override
    {
        if (!available)
            return error = "gone", ReadResult::Failed;
        const auto it = items.find(id);
        if (it == items.end())
            return ReadResult::NotFound;
        password = it->second;
        return ReadResult::Found;
    }
    bool Write(const std::string& id, const std::string& password, std::string& error) override
    {
        ++writes;
        if (!available || password == refused)
            return error = "refused", false;
        items[id] = password;
        return true;
    }
    bool Remove(const std::string& id, std::string&) override { return items.erase(id) > 0; }
};

std::string fileText(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

}  // namespace

// An older file's passwords move into the keyring on the first save; one the
// keyring refuses stays in the file; a new process reads them back; what a
// site no longer has, or a deleted site had, leaves the keyring.
TEST(KeyringPasswords, MovedOnSaveNeverLostAndForgottenWithTheirSites)
{
    QTemporaryDir dir;
    const std::string data = dir.path().toStdString() + "/";
    {
        QFile f(dir.filePath(QStringLiteral("sites.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("[a]\nIP=a.example\nUser=u\nPass=" + ScramblePassword("pa") + "\n[b]\nIP=b.example\nUser=u\nPass=" +
                 ScramblePassword("pb") + "\n[c]\nIP=c.example\nUser=u\nPass=\x7f\n[d]\nIP=d.example\nUser=u\nPass=" +
                 ScramblePassword("pd") + "\n")
                    .c_str());
    }
    FakeVault vault;
    vault.refused = "pb";
    std::string idA, idD;
    {
        TSiteDatabase db;
        ASSERT_TRUE(db.Load(data));
        db.Passwords().SetVault(&vault);
        ASSERT_TRUE(db.SaveSites());
        EXPECT_TRUE(db.SavedScrambled());  // b's stays scrambled
        EXPECT_EQ(db.Passwords().TakeError(), "refused");
        const TIniDocument& d = db.Sites().Document();
        EXPECT_FALSE(d.Get("a", "Pass"));
        idA = d.Get("a", "Keyring").value_or("");
        idD = d.Get("d", "Keyring").value_or("");
        ASSERT_EQ(idA.size(), 32u);
        EXPECT_NE(idA, idD);
        EXPECT_EQ(vault.items[idA], "pa");
        EXPECT_EQ(UnscramblePassword(d.Get("b", "Pass").value_or("")), "pb");
        EXPECT_FALSE(d.Get("b", "Keyring"));
        EXPECT_EQ(d.Get("c", "Pass"), std::string("\x7f"));  // an empty password needs no keyring
        // On disk: only b's and c's "Pass" lines are left.
        const std::string text = fileText(data + "sites.ini");
        size_t passLines = 0;
        for (size_t at = text.find("Pass="); at != std::string::npos; at = text.find("Pass=", at + 1))
            ++passLines;
        EXPECT_EQ(passLines, 2u) << text;
        EXPECT_NE(text.find("Keyring=" + idA), std::string::npos);
    }
    {
        // A new process: the passwords come back from the keyring; a save
        // without changes writes nothing to it.
        TSiteDatabase db;
        ASSERT_TRUE(db.Load(data));
        db.Passwords().SetVault(&vault);
        EXPECT_EQ(db.ReadSite("a")->Password(), "pa");
        EXPECT_EQ(db.ReadSite("b")->Password(), "pb");
        vault.refused.clear();
        const int before = vault.writes;
        db.WriteSite(*db.ReadSite("a"));
        ASSERT_TRUE(db.SaveSites());  // b's goes in now; a's is there already
        EXPECT_EQ(vault.writes, before + 1);
        EXPECT_FALSE(db.SavedScrambled());
        EXPECT_EQ(db.Sites().Document().Get("a", "Keyring"), idA);

        // The keyring gone: a's password cannot be read; the site renamed in
        // the meantime keeps its item, and nothing is removed while it is gone.
        vault.available = false;
        TSiteDatabase offline;
        ASSERT_TRUE(offline.Load(data));
        offline.Passwords().SetVault(&vault);
        TSiteRecord a = *offline.ReadSite("a");
        EXPECT_FALSE(a.HasPassword());
        EXPECT_EQ(a.UnreadKeyring, idA);
        a.Name = "a2";
        offline.WriteSite(a);
        offline.DeleteSite("a");
        ASSERT_TRUE(offline.SaveSites());
        EXPECT_EQ(offline.Sites().Document().Get("a2", "Keyring"), idA);
        vault.available = true;
        ASSERT_TRUE(offline.SaveSites());
        EXPECT_EQ(vault.items.count(idA), 1u);  // a2 still names it
        EXPECT_EQ(offline.ReadSite("a2")->Password(), "pa");
    }
    {
        // A password no longer saved, and a deleted site: their items go.
        TSiteDatabase db;
        ASSERT_TRUE(db.Load(data));
        db.Passwords().SetVault(&vault);
        TSiteRecord a2 = *db.ReadSite("a2");
        a2.Pass.reset();
        db.WriteSite(a2);
        db.DeleteSite("d");
        ASSERT_TRUE(db.SaveSites());
        EXPECT_EQ(vault.items.count(idA), 0u);
        EXPECT_EQ(vault.items.count(idD), 0u);
        EXPECT_FALSE(db.Sites().Document().Get("a2", "Keyring"));
        EXPECT_FALSE(db.ReadSite("a2")->HasPassword());
    }
}

// Without a keyring the proxy password stays scrambled in corvyne.ini; with
// one it moves there on the save, is read back, and a cleared password takes
// the item away.
TEST(KeyringPasswords, TheProxyPassword)
{
    QTemporaryDir dir;
    TIniFile f(dir.filePath(QStringLiteral("corvyne.ini")).toStdString(), true);
    f.WriteString(SetupSection, "ProxyPass", ScramblePassword("proxy 密码"));
    FakeVault vault;
    vault.available = false;
    TPasswordKeeper keeper;
    keeper.SetVault(&vault);
    EXPECT_TRUE(KeepProxyPassword(f, keeper));
    EXPECT_TRUE(f.Document().Get(SetupSection, "ProxyPass"));

    vault.available = true;
    EXPECT_FALSE(KeepProxyPassword(f, keeper));
    EXPECT_FALSE(f.Document().Get(SetupSection, "ProxyPass"));
    TIniFile again(f.Path(), true);
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.ReadString(SetupSection, "ProxyPass"), "");
    TFTPclient client;
    TPasswordKeeper fresh;
    fresh.SetVault(&vault);
    ApplyClientViewSettings(again, client, &fresh);
    EXPECT_EQ(client.ProxyPass, "proxy 密码");

    again.WriteString(SetupSection, "ProxyPass", ScramblePassword(""));  // cleared in the preferences
    EXPECT_FALSE(KeepProxyPassword(again, fresh));
    EXPECT_TRUE(vault.items.empty());
    EXPECT_EQ(again.ReadString(SetupSection, "ProxyKeyring"), "");
}
