#include "sites/Settings.h"

#include "ftp/Ftp.h"
#include "sites/SiteDb.h"

const std::vector<TSettingKey>& SettingKeys()
{
    static const std::vector<TSettingKey> keys = {
        {"Path", &TSettings::Path},
        {"Email", &TSettings::Email},
        {"Delay", &TSettings::Delay},
        {"Retry", &TSettings::Retry},
        {"RetryDelay", &TSettings::RetryDelay},
        {"GetLink", &TSettings::GetLink},
        {"Viewer", &TSettings::Viewer},
        {"Editor", &TSettings::Editor},
        {"XferOption", &TSettings::XferOption},
        {"FreeSpace", &TSettings::FreeSpace},
        {"ConnectDrop", &TSettings::ConnectDrop},
        {"AutoSendQueue", &TSettings::AutoSendQueue},
        {"ShowHidden", &TSettings::ShowHidden},
        {"AutoSave", &TSettings::AutoSave},
        {"RestoreTransfer", &TSettings::RestoreTransfer},
        {"CustomIP", &TSettings::CustomIP},
        {"UsePasv", &TSettings::UsePasv},
        {"TlsWhenOffered", &TSettings::TlsWhenOffered},
        {"AlternateMode", &TSettings::AlternateMode},
        {"UseAPPE", &TSettings::UseAPPE},
        {"UploadTempName", &TSettings::UploadTempName},
        {"URL", &TSettings::URL},
        {"ForceParent", &TSettings::ForceParent},
        {"DialogTimer", &TSettings::DialogTimer},
        {"KeepHistory", &TSettings::KeepHistory},
        {"ConfirmDel", &TSettings::ConfirmDel},
        {"ConfirmMove", &TSettings::ConfirmMove},
        {"ExitWarn", &TSettings::ExitWarn},
        {"ConfirmQueue", &TSettings::ConfirmQueue},
        {"SkipDirectories", &TSettings::SkipDirectories},
        {"SkipNull", &TSettings::SkipNull},
        {"SkipDir", &TSettings::SkipDir},
        {"SkipDelete", &TSettings::SkipDelete},
        {"IdleTime", &TSettings::IdleTime},
        {"Antiidle", &TSettings::Antiidle},
        {"IdleNOOP", &TSettings::IdleNOOP},
        {"ResumeMode", &TSettings::ResumeMode},
        {"UploadMode", &TSettings::UploadMode},
        {"HangTimeout", &TSettings::HangTimeout},
        {"StallProtection", &TSettings::StallProtection},
        {"PacketTimeout", &TSettings::PacketTimeout},
        {"MaxTransfers", &TSettings::MaxTransfers},
        {"DownloadLimit", &TSettings::DownloadLimit},
        {"UploadLimit", &TSettings::UploadLimit},
        {"PreserveDate", &TSettings::PreserveDate},
        {"RestoreState", &TSettings::RestoreState},
        {"ShowMessages", &TSettings::ShowMessages},
        {"MessageWin", &TSettings::MessageWin},
        {"ServerMessageWidth", &TSettings::ServerMessageWidth},
        {"ServerMessageHeight", &TSettings::ServerMessageHeight},
        {"EnableProxy", &TSettings::EnableProxy},
        {"ProxyMode", &TSettings::ProxyMode},
        {"Log", &TSettings::Log},
        {"TimestampLog", &TSettings::TimestampLog},
        {"AlphaSort", &TSettings::AlphaSort},
        {"LocalAutoSize", &TSettings::LocalAutoSize},
        {"RemoteAutoSize", &TSettings::RemoteAutoSize},
        {"ReceiveRefresh", &TSettings::ReceiveRefresh},
        {"AutoRefresh", &TSettings::AutoRefresh},
        {"Hide", &TSettings::Hide},
        {"DeleteOverride", &TSettings::DeleteOverride},
        {"ShowSiteManager", &TSettings::ShowSiteManager},
        {"DoubleClick", &TSettings::DoubleClick},
        {"ForceLowerCase", &TSettings::ForceLowerCase},
        {"ShowCps", &TSettings::ShowCps},
        {"ConnectSound", &TSettings::ConnectSound},
        {"TransferSound", &TSettings::TransferSound},
        {"ConnectWav", &TSettings::ConnectWav},
        {"TransferWav", &TSettings::TransferWav},
        {"DDEService", &TSettings::DDEService},
        {"DDETopic", &TSettings::DDETopic},
        {"DDECommand", &TSettings::DDECommand},
        {"DDEPrompt", &TSettings::DDEPrompt},
        {"DDEFilter", &TSettings::DDEFilter},
        {"DDEShow", &TSettings::DDEShow},
    };
    return keys;
}

void LoadSettings(const TIniFile& source, TIniFile& settingsFile, TSettings& s, TFTPclient* client)
{
    s.Version = source.ReadString(SetupSection, "Version");
    s.CustomLogFile = source.ReadString("CustomLog", "LogFile");
    const TSettings defaults;
    for (const TSettingKey& key : SettingKeys()) {
        std::visit(
            [&](auto member) {
                using T = std::decay_t<decltype(s.*member)>;
                if constexpr (std::is_same_v<T, std::string>)
                    s.*member = source.ReadString(SetupSection, key.name, defaults.*member);
                else if constexpr (std::is_same_v<T, int>)
                    s.*member = source.ReadInteger(SetupSection, key.name, defaults.*member);
                else
                    s.*member = source.ReadBool(SetupSection, key.name, defaults.*member);
            },
            key.member);
    }
    s.AsciiNoExtensions = settingsFile.ReadBool(SetupSection, "AsciiNoExtensions", false);
    if (client)
        client->TimestampLog = s.TimestampLog;

    s.AsciiExtensions.clear();
    for (std::string e : source.ReadList("Extensions", "e")) {
        if (e.size() > 1 && e[0] == '.')
            e = "*" + e;
        s.AsciiExtensions.push_back(std::move(e));
    }
    if (s.Version.empty() && s.AsciiExtensions.empty()) {
        s.AsciiExtensions = DefaultAsciiExtensions;
        settingsFile.WriteList("Extensions", "e", s.AsciiExtensions);
        settingsFile.WriteInteger("Extensions", "Count", static_cast<int>(s.AsciiExtensions.size()));
    }
    s.RenameRules = source.ReadList("Rename", "r");
    s.SkipEnabled = source.ReadBool("Skip", "Enabled", false);
    s.SkipPatterns = source.ReadList("Skip", "s");
    s.NoProxyHosts = source.ReadList("Proxy", "p");
    if (client)
        client->NoProxyHost = s.NoProxyHosts;
}

void ApplyClientViewSettings(const TIniFile& f, TFTPclient& client, TPasswordKeeper* passwords)
{
    client.ProxyHost = f.ReadString(SetupSection, "ProxyHost");
    client.ProxyPort = f.ReadInteger(SetupSection, "ProxyPort", 21);
    client.ProxyUser = f.ReadString(SetupSection, "ProxyUser");
    client.ProxyPass = UnscramblePassword(f.ReadString(SetupSection, "ProxyPass"));
    const std::string id = f.ReadString(SetupSection, "ProxyKeyring");
    if (client.ProxyPass.empty() && !id.empty() && passwords && !passwords->Read(id, client.ProxyPass))
        client.ProxyPass.clear();
    client.LogFile = f.ReadString(SetupSection, "LogFile");
}

bool KeepProxyPassword(TIniFile& f, TPasswordKeeper& passwords)
{
    const std::string pass = UnscramblePassword(f.ReadString(SetupSection, "ProxyPass"));
    std::string id = f.ReadString(SetupSection, "ProxyKeyring");
    if (pass.empty()) {
        // No password, or one only in the keyring: nothing to move.
        if (f.Document().Get(SetupSection, "ProxyPass") && !id.empty() && passwords.Available()) {
            passwords.Remove(id);
            f.DeleteKey(SetupSection, "ProxyKeyring");
        }
        return false;
    }
    if (!passwords.Available() || !passwords.Write(id, pass))
        return true;
    TIniFile::Batch batch(f);
    f.WriteString(SetupSection, "ProxyKeyring", id);
    f.DeleteKey(SetupSection, "ProxyPass");
    return false;
}

void TellPasswordsScrambled(TIniFile& f, IPrompt& prompt)
{
    if (f.ReadBool(SetupSection, "ScrambledNotice", false))
        return;
    f.WriteBool(SetupSection, "ScrambledNotice", true);
    prompt.ShowMessage(MessageKind::Information,
                       "没有运行中的密钥环 (Secret Service), 密码只以扰码形式保存在数据文件夹的 sites.ini 和 "
                       "corvyne.ini 中. 扰码不是加密: 能读取这些文件的人就能还原密码.");
}
