// The settings loader over the whole "Setup" table: first run, garbage
// values, and a file written with every key changed.
#include "ftp/Ftp.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

// The "Setup" keys the loader reads, with their types and defaults, as the
// settings file documents them (kept apart from the code on purpose).
const char* const ExpectedTable = R"(Path s
Email s guest@corvyne.invalid
Delay i 30
Retry i 10
RetryDelay i 0
GetLink b 1
Viewer s
Editor s
XferOption i 0
FreeSpace b 1
ConnectDrop b 1
AutoSendQueue b 0
ShowHidden b 0
AutoSave b 1
RestoreTransfer b 1
CustomIP s
UsePasv b 0
TlsWhenOffered b 1
AlternateMode b 1
UseAPPE b 0
UploadTempName b 0
URL b 1
ForceParent b 0
DialogTimer b 0
KeepHistory b 1
ConfirmDel b 1
ConfirmMove b 1
ExitWarn b 1
ConfirmQueue b 1
SkipDirectories b 0
SkipNull b 0
SkipDir b 0
SkipDelete b 0
IdleTime i 45
Antiidle b 1
IdleNOOP b 1
ResumeMode i 0
UploadMode i 0
HangTimeout i 3000
StallProtection b 0
PacketTimeout i 60
MaxTransfers i 2
DownloadLimit i 0
UploadLimit i 0
PreserveDate b 0
RestoreState b 1
ShowMessages b 1
MessageWin b 1
ServerMessageWidth i 526
ServerMessageHeight i 340
EnableProxy b 0
ProxyMode i 0
Log b 0
TimestampLog b 0
AlphaSort b 0
LocalAutoSize b 1
RemoteAutoSize b 1
ReceiveRefresh b 1
AutoRefresh b 1
Hide b 0
DeleteOverride b 0
ShowSiteManager b 0
DoubleClick i 0
ForceLowerCase i 0
ShowCps b 0
ConnectSound i 0
TransferSound i 0
ConnectWav s
TransferWav s
DDEService s
DDETopic s
DDECommand s
DDEPrompt b 0
DDEFilter b 0
DDEShow b 1)";

struct Expected {
    std::string name;
    char type;
    std::string def;
};

std::vector<Expected> expectedRows()
{
    std::vector<Expected> rows;
    std::istringstream in(ExpectedTable);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        Expected e;
        l >> e.name >> e.type;
        std::getline(l >> std::ws, e.def);
        rows.push_back(e);
    }
    return rows;
}

// The loaded value of a key, as text ("1"/"0" for booleans).
std::string valueText(const TSettings& s, const std::string& name)
{
    for (const TSettingKey& k : SettingKeys()) {
        if (name != k.name)
            continue;
        return std::visit(
            [&](auto member) -> std::string {
                using T = std::decay_t<decltype(s.*member)>;
                if constexpr (std::is_same_v<T, std::string>)
                    return s.*member;
                else if constexpr (std::is_same_v<T, bool>)
                    return s.*member ? "1" : "0";
                else
                    return std::to_string(s.*member);
            },
            k.member);
    }
    return "<no such key>";
}

struct Loaded {
    QTemporaryDir dir;
    TIniFile file;
    TSettings settings;
    TFTPclient client;
    explicit Loaded(const std::string& text = {})
        : file(dir.filePath(QStringLiteral("corvyne.ini")).toStdString(), true)
    {
        if (!text.empty())
            file.Document().Parse(text);
        LoadSettings(file, file, settings, &client);
    }
};

}  // namespace

TEST(Settings, TheLoaderReadsTheWholeTableInOrder)
{
    const auto rows = expectedRows();
    ASSERT_EQ(rows.size(), SettingKeys().size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].name, SettingKeys()[i].name) << i;
}

TEST(Settings, FirstRunGivesEveryDefaultAndTheAsciiList)
{
    Loaded l;
    for (const Expected& e : expectedRows())
        EXPECT_EQ(valueText(l.settings, e.name), e.def) << e.name;
    EXPECT_EQ(l.settings.AsciiExtensions, DefaultAsciiExtensions);
    TIniFile onDisk(l.file.Path());
    ASSERT_TRUE(onDisk.Load());
    EXPECT_EQ(onDisk.ReadList("Extensions", "e"), DefaultAsciiExtensions);
    EXPECT_EQ(onDisk.ReadString("Extensions", "Count"), "8");
}

TEST(Settings, GarbageValuesReadAsDefaults)
{
    std::string text = "[Setup]\n";
    for (const Expected& e : expectedRows())
        text += e.name + "=" + (e.type == 's' ? "text" : "x1") + "\n";
    Loaded l(text);
    for (const Expected& e : expectedRows())
        EXPECT_EQ(valueText(l.settings, e.name), e.type == 's' ? "text" : e.def) << e.name;
}

TEST(Settings, AFileWrittenByThisVersionIsReadBack)
{
    std::string text = "[setup]\nVersion=2.7.5\n";
    std::map<std::string, std::string> written;
    int n = 0;
    for (const Expected& e : expectedRows()) {
        ++n;
        std::string v = e.type == 's'   ? "v" + std::to_string(n)
                        : e.type == 'i' ? std::to_string(1000 + n)
                                        : (e.def == "1" ? "0" : "1");
        written[e.name] = v;
        text += e.name + "=" + v + "\n";
    }
    text +=
        "[Extensions]\n[CustomLog]\nLogFile=/var/log/x\n[Rename]\nr1=a\nr2=b\n[Skip]\nEnabled=1\ns1=*.tmp\n"
        "[Proxy]\np1=intra.*\np2=*.corp\n";
    Loaded l(text);
    for (const Expected& e : expectedRows())
        EXPECT_EQ(valueText(l.settings, e.name), written[e.name]) << e.name;
    EXPECT_TRUE(l.settings.AsciiExtensions.empty());  // emptied by the user: stays empty
    EXPECT_EQ(l.settings.CustomLogFile, "/var/log/x");
    EXPECT_EQ(l.settings.RenameRules, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(l.settings.SkipEnabled);
    EXPECT_EQ(l.settings.SkipPatterns, std::vector<std::string>{"*.tmp"});
    EXPECT_EQ(l.client.NoProxyHost, (std::vector<std::string>{"intra.*", "*.corp"}));
    EXPECT_EQ(l.client.TimestampLog, written["TimestampLog"] == "1");
}

TEST(Settings, ExtensionRuleAndKeyNamesWithoutCase)
{
    Loaded l("[Setup]\nAntiIdle=0\nShowCps=1\nDelay=abc\n[Extensions]\ne1=.txt\ne2=.\ne3=txt\ne4=*.c\n");
    EXPECT_EQ(l.settings.AsciiExtensions, (std::vector<std::string>{"*.txt", ".", "txt", "*.c"}));
    EXPECT_FALSE(l.settings.Antiidle);
    EXPECT_TRUE(l.settings.ShowCps);
    EXPECT_EQ(l.settings.Delay, 30);
}

TEST(Settings, AsciiNoExtensionsComesFromTheSettingsFileEvenForAnImport)
{
    QTemporaryDir dir;
    TIniFile settingsFile(dir.filePath(QStringLiteral("corvyne.ini")).toStdString(), true);
    settingsFile.WriteBool("Setup", "AsciiNoExtensions", true);
    TIniFile old;
    old.Document().Parse("[Setup]\nAsciiNoExtensions=0\nDelay=5\nVersion=1.0\n");
    TSettings s;
    LoadSettings(old, settingsFile, s, nullptr);
    EXPECT_TRUE(s.AsciiNoExtensions);
    EXPECT_EQ(s.Delay, 5);
}

TEST(Settings, ClientViewSettings)
{
    TIniFile f;
    f.Document().Parse("[Setup]\nProxyHost=gw\nProxyUser=pu\nLogFile=/tmp/s.log\n");
    f.WriteString("Setup", "ProxyPass", ScramblePassword("pp"));
    TFTPclient c;
    ApplyClientViewSettings(f, c);
    EXPECT_EQ(c.ProxyHost, "gw");
    EXPECT_EQ(c.ProxyPort, 21);
    EXPECT_EQ(c.ProxyUser, "pu");
    EXPECT_EQ(c.ProxyPass, "pp");
    EXPECT_EQ(c.LogFile, "/tmp/s.log");
}
