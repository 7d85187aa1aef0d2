#include "sites/SiteDb.h"

#include "common/Text.h"
#include "sites/Settings.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

namespace {

constexpr unsigned char PasswordMark = 127;
constexpr int PasswordOffset = 7;  // any small positive number, the same both ways
const std::string GroupsSection = "_Groups_";
const std::string EmptyPassword(1, static_cast<char>(PasswordMark));  // a password saved as empty
// The keyring item holding a site's password; the section has no "Pass" then.
constexpr const char* KeyringKey = "Keyring";
// Sections of sites.ini that are not a site's and not a group's list.
const std::string ReservedGroupNames[] = {"Groups", "LastData"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

TriState triState(char c)
{
    return c == '1' ? TriState::On : c == '2' ? TriState::Off : TriState::UseSetting;
}

char triChar(TriState t)
{
    return static_cast<char>('0' + static_cast<int>(t));
}

std::string plainNumber(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

double readNumber(const TIniFile& f, const std::string& section, const char* key)
{
    const std::string text = f.ReadString(section, key, "0");
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v) ? v : 0.0;
}

std::string sectionOf(const std::string& group)
{
    return "_" + group + "_";
}

}  // namespace

// ---------------------------------------------------------------- passwords

std::string ScramblePassword(const std::string& password)
{
    static std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> filler(50, 99);
    std::string out(1, static_cast<char>(PasswordMark));
    for (unsigned char c : password) {
        out += static_cast<char>(static_cast<unsigned char>(c + PasswordOffset));
        out += static_cast<char>(filler(rng));
    }
    return out;
}

std::string UnscramblePassword(const std::string& scrambled)
{
    std::string out;
    for (size_t i = 1; i < scrambled.size(); i += 2)
        out += static_cast<char>(static_cast<unsigned char>(static_cast<unsigned char>(scrambled[i]) - PasswordOffset));
    return out;
}

// ---------------------------------------------------------------- options

TSiteOptions TSiteOptions::Decode(const std::string& input)
{
    const std::string s = input.find('-') != std::string::npos ? std::string(DefaultOptionString) : input;
    TSiteOptions o;
    if (s.size() < 5)
        return o;
    o.TransferMode = isDigit(s[0]) && s[0] <= '3' ? s[0] - '0' : 3;
    o.AntiIdle = triState(s[1]);
    o.RestoreTransfer = triState(s[2]);
    o.LogSession = triState(s[3]);
    o.RenameTypes = s[4] == '1';
    if (s.size() == 10 || s.size() == 15) {
        o.ShowHidden = triState(s[5]);
        const int index = isDigit(s[6]) && isDigit(s[7]) ? (s[6] - '0') * 10 + (s[7] - '0') : 0;
        o.ServerTypeIndex = index <= 22 ? index : 0;
        o.UsePasv = triState(s[8]);
        o.ResumeSupport = s[9] >= '0' && s[9] <= '2' ? s[9] - '0' : 0;
    }
    if (s.size() == 15) {
        o.SKey = s[10] == '1';
        o.UseAppe = triState(s[11]);
        o.NoProxy = s[12] == '1';
    }
    return o;
}

std::string TSiteOptions::Encode() const
{
    std::string s;
    s += static_cast<char>('0' + std::clamp(TransferMode, 0, 3));
    s += triChar(AntiIdle);
    s += triChar(RestoreTransfer);
    s += triChar(LogSession);
    s += RenameTypes ? '1' : '0';
    s += triChar(ShowHidden);
    const int index = std::clamp(ServerTypeIndex, 0, 22);
    s += static_cast<char>('0' + index / 10);
    s += static_cast<char>('0' + index % 10);
    s += triChar(UsePasv);
    s += static_cast<char>('0' + std::clamp(ResumeSupport, 0, 2));
    s += SKey ? '1' : '0';
    s += triChar(UseAppe);
    s += NoProxy ? '1' : '0';
    s += "00";
    return s;
}

const std::vector<std::string>& ServerTypeListTexts()
{
    static const std::vector<std::string> texts = {
        "自动侦测",     "Unix",    "Unix (clone)", "Windows NT", "Corvyned",      "Ultrix", "U5000",     "SIntFtpd",
        "VMS MultiNet", "VMS UCX", "MVS",          "Clix",       "QVT",           "NCSA",   "Chameleon", "VM",
        "VMVPS",        "MacFtpd", "MacOs",        "WarFTPD",    "UNIX (spaces)", "OS/2",   "Netware"};
    return texts;
}

// ---------------------------------------------------------------- files

bool TSiteDatabase::Load(const std::string& dataDir)
{
    m_sites = TIniFile(dataDir + "sites.ini");
    m_stats = TIniFile(dataDir + "stats.dat");
    const bool ok = m_sites.Load() && m_stats.Load();
    m_error = !m_sites.LastError().empty() ? m_sites.LastError() : m_stats.LastError();
    m_import = m_sites.ReadInteger(GroupsSection, "Import", 0);
    return ok;
}

bool TSiteDatabase::SaveSites()
{
    keepPasswords();
    const bool ok = m_sites.Save();
    m_error = m_sites.LastError();
    return ok;
}

void TSiteDatabase::keepPasswords()
{
    m_savedScrambled = false;
    TIniDocument& d = m_sites.Document();
    const bool vault = m_passwords.Available();
    for (const std::string& name : d.SectionNames()) {
        const std::optional<std::string> pass = d.Get(name, "Pass");
        if (!pass || *pass == EmptyPassword || !d.Get(name, "IP"))
            continue;
        if (!vault) {
            m_savedScrambled = true;
            continue;
        }
        // The file loses the password only once the keyring holds it.
        std::string id = d.Get(name, KeyringKey).value_or(std::string());
        if (!m_passwords.Write(id, UnscramblePassword(*pass))) {
            m_savedScrambled = true;
            continue;
        }
        d.Set(name, KeyringKey, id);
        d.EraseKey(name, "Pass");
    }
    if (vault) {
        // An item another site still names (copied while the keyring could
        // not be read) stays.
        std::vector<std::string> named;
        for (const std::string& name : d.SectionNames())
            if (const auto id = d.Get(name, KeyringKey))
                named.push_back(*id);
        for (const std::string& id : m_forget)
            if (std::find(named.begin(), named.end(), id) == named.end())
                m_passwords.Remove(id);
        m_forget.clear();
    }
}

bool TSiteDatabase::SaveStats()
{
    const bool ok = m_stats.Save();
    m_error = m_stats.LastError();
    return ok;
}

// ---------------------------------------------------------------- groups

std::vector<std::string> TSiteDatabase::Groups() const
{
    return m_sites.ReadList(GroupsSection, "g");
}

bool TSiteDatabase::WriteGroups(const std::vector<std::string>& groups)
{
    m_sites.WriteList(GroupsSection, "g", groups);
    return m_sites.WriteInteger(GroupsSection, "Import", m_import);
}

std::vector<std::string> TSiteDatabase::GroupSites(const std::string& group) const
{
    return m_sites.ReadList(sectionOf(group), "s");
}

bool TSiteDatabase::WriteGroupSites(const std::string& group, const std::vector<std::string>& sites)
{
    return m_sites.WriteList(sectionOf(group), "s", sites);
}

void TSiteDatabase::addGroupIfMissing(const std::string& group)
{
    std::vector<std::string> groups = Groups();
    for (const std::string& g : groups)
        if (g == group)
            return;
    // The first free number: the list ends at its first empty value.
    m_sites.WriteString(GroupsSection, "g" + std::to_string(groups.size() + 1), group);
}

// ---------------------------------------------------------------- sites

bool TSiteDatabase::SiteExists(const std::string& name) const
{
    return !name.empty() && !m_sites.ReadString(name, "IP").empty();
}

std::optional<TSiteRecord> TSiteDatabase::ReadSite(const std::string& name) const
{
    if (!m_sites.SectionExists(name))
        return std::nullopt;
    const TIniDocument& d = m_sites.Document();
    TSiteRecord r;
    r.Name = name;
    r.IP = m_sites.ReadString(name, "IP");
    r.Port = m_sites.ReadString(name, "Port", "21");
    r.User = d.Get(name, "User");
    r.Pass = d.Get(name, "Pass");
    if (const auto id = d.Get(name, KeyringKey); !r.Pass && id && !id->empty()) {
        std::string password;
        if (m_passwords.Read(*id, password))
            r.Pass = ScramblePassword(password);
        else
            r.UnreadKeyring = *id;
    }
    r.Account = m_sites.ReadString(name, "Account");
    r.LocalDir = m_sites.ReadString(name, "LocalDir");
    r.RemoteDir = m_sites.ReadString(name, "Remotedir");
    r.LocalFilter = m_sites.ReadString(name, "LocalFilter", "*.*");
    r.RemoteFilter = m_sites.ReadString(name, "RemoteFilter", "*.*");
    r.Retry = m_sites.ReadString(name, "Retry");
    r.Timeout = m_sites.ReadString(name, "Timeout");
    r.Resume = m_sites.ReadString(name, "Resume");
    r.Options = m_sites.ReadString(name, "Options", DefaultOptionString);
    r.Comment = m_sites.ReadList(name, "n");
    r.Tls = m_sites.ReadString(name, "TLS");
    r.Protocol = m_sites.ReadString(name, "Protocol");
    r.Charset = m_sites.ReadString(name, "Charset");
    r.Listing = m_sites.ReadString(name, "Listing");
    r.MaxTransfers = m_sites.ReadString(name, "MaxTransfers");
    r.DownloadLimit = m_sites.ReadString(name, "DownloadLimit");
    r.UploadLimit = m_sites.ReadString(name, "UploadLimit");
    return r;
}

void TSiteDatabase::WriteSite(const TSiteRecord& r)
{
    TIniDocument& d = m_sites.Document();
    const std::string keyring =
        r.UnreadKeyring.empty() ? d.Get(r.Name, KeyringKey).value_or(std::string()) : r.UnreadKeyring;
    d.EraseSection(r.Name);
    d.Set(r.Name, "IP", r.IP);
    d.Set(r.Name, "Options", r.Options);
    if (r.User)
        d.Set(r.Name, "User", *r.User);
    if (r.Pass)
        d.Set(r.Name, "Pass", *r.Pass);
    if (!keyring.empty()) {
        // A new password goes into the same item at the next save; one that
        // cannot be read now stays where it is.
        if ((r.Pass && *r.Pass != EmptyPassword) || (!r.Pass && !r.UnreadKeyring.empty()))
            d.Set(r.Name, KeyringKey, keyring);
        else
            m_forget.push_back(keyring);
    }
    auto optional = [&](const char* key, const std::string& value) {
        if (!value.empty())
            d.Set(r.Name, key, value);
    };
    optional("Account", r.Account);
    if (r.Port != "21")
        optional("Port", r.Port);
    optional("LocalDir", r.LocalDir);
    optional("RemoteDir", r.RemoteDir);
    optional("LocalFilter", r.LocalFilter);
    optional("RemoteFilter", r.RemoteFilter);
    optional("Resume", r.Resume);
    optional("Retry", r.Retry);
    optional("Timeout", r.Timeout);
    optional("Protocol", r.Protocol);
    optional("TLS", r.Tls);
    optional("Charset", r.Charset);
    optional("Listing", r.Listing);
    optional("MaxTransfers", r.MaxTransfers);
    optional("DownloadLimit", r.DownloadLimit);
    optional("UploadLimit", r.UploadLimit);
    int n = 0;
    for (const std::string& line : r.Comment)
        d.Set(r.Name, "n" + std::to_string(++n), line);
}

void TSiteDatabase::DeleteSite(const std::string& name)
{
    if (const auto id = m_sites.Document().Get(name, KeyringKey); id && !id->empty())
        m_forget.push_back(*id);
    m_sites.EraseSection(name);
    m_stats.EraseSection(name);
}

void TSiteDatabase::RenameStats(const std::string& from, const std::string& to)
{
    const auto entries = m_stats.Document().Entries(from);
    m_stats.EraseSection(from);
    m_stats.EraseSection(to);
    for (const auto& [key, value] : entries)
        m_stats.WriteString(to, key, value);
}

std::string SiteNameProblem(const std::string& name)
{
    if (name.find_first_of("][=/\\:") != std::string::npos)
        return "站点名称不能包含下面的任何字符: ] [ = / \\ :";
    if (static_cast<unsigned char>(name[0]) < 33)
        return "站点名称必须开始于包含文字数字的字符r.";
    // The name is a section of sites.ini and a value of its group's list:
    // what reading either would change never reaches the file.
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            return "站点名称不能包含控制字符.";
    if (name.back() == ' ' || name.back() == '\t')
        return "站点名称不能以空格结尾.";
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front())
        return "站点名称不能以引号开始并结束.";
    // "_" + group + "_" is a group's list (or the group list itself).
    if (name.size() >= 2 && name.front() == '_' && name.back() == '_')
        return "站点名称不能以 _ 开始并结尾.";
    return {};
}

std::string GroupNameProblem(const std::string& name)
{
    if (name.empty())
        return "组名称不能为空.";
    for (const char c : name)
        if (c == '[' || c == ']' || static_cast<unsigned char>(c) < 32 || c == 127)
            return "组名称不能包含 [ ] 或控制字符.";
    if (name.front() == ' ' || name.back() == ' ')
        return "组名称不能以空格开始或结尾.";
    return {};
}

void SortNames(std::vector<std::string>& names)
{
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = AsciiLower(a), lb = AsciiLower(b);
        return la != lb ? la < lb : a < b;
    });
}

std::string TSiteDatabase::GroupNameClash(const std::string& name) const
{
    if (std::string problem = GroupNameProblem(name); !problem.empty())
        return problem;
    const std::string lower = AsciiLower(name);
    for (const std::string& reserved : ReservedGroupNames)
        if (lower == AsciiLower(reserved))
            return "组名称 \"" + name + "\" 已保留.  请选择另外的名字.";
    for (const std::string& g : Groups())
        if (AsciiLower(g) == lower)
            return {};  // that group itself
    // A site written by an earlier version may own the section.
    if (m_sites.SectionExists(sectionOf(name)))
        return "组名称 \"" + name + "\" 与站点 \"" + sectionOf(name) + "\" 冲突.  请选择另外的名字.";
    return {};
}

bool TSiteDatabase::CheckSiteName(const std::string& name, IPrompt& prompt) const
{
    if (name.empty())
        return false;
    if (const std::string problem = SiteNameProblem(name); !problem.empty()) {
        prompt.ShowMessage(MessageKind::Error, problem);
        return false;
    }
    if (SiteExists(name)) {
        prompt.ShowMessage(MessageKind::Error, "一个名为 \"" + name + "\" 的站点已存在.  请选择另外的名字.");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- statistics

TSiteStats TSiteDatabase::ReadStats(const std::string& site) const
{
    TSiteStats s;
    s.LastConnect = m_stats.ReadString(site, "LastConnect");
    s.ConnectCount = m_stats.ReadInteger(site, "ConnectCount", 0);
    s.BytesUp = readNumber(m_stats, site, "BytesUp");
    s.FilesUp = readNumber(m_stats, site, "FilesUp");
    s.BytesDown = readNumber(m_stats, site, "BytesDown");
    s.FilesDown = readNumber(m_stats, site, "FilesDown");
    return s;
}

void TSiteDatabase::ResetStats(const std::string& site)
{
    for (const char* key : {"LastConnect", "ConnectCount", "BytesUp", "FilesUp", "BytesDown", "FilesDown"})
        m_stats.DeleteKey(site, key);
}

void TSiteDatabase::RecordLogin(const std::string& site, const QDateTime& when)
{
    m_stats.WriteString(site, "LastConnect", QLocale::system().toString(when, QLocale::ShortFormat).toStdString());
    m_stats.WriteInteger(site, "ConnectCount", m_stats.ReadInteger(site, "ConnectCount", 0) + 1);
}

void TSiteDatabase::AddTransfer(const std::string& site, bool upload, double bytes)
{
    const char* bytesKey = upload ? "BytesUp" : "BytesDown";
    const char* filesKey = upload ? "FilesUp" : "FilesDown";
    m_stats.WriteString(site, bytesKey, plainNumber(readNumber(m_stats, site, bytesKey) + bytes));
    m_stats.WriteString(site, filesKey, plainNumber(readNumber(m_stats, site, filesKey) + 1));
}

// ---------------------------------------------------------------- imports

TImportCounts TSiteDatabase::ImportOlderSiteFile(const std::string& group, const std::string& path, bool loadSettings,
                                                 TIniFile* settingsFile, TSettings* settings)
{
    TImportCounts counts;
    addGroupIfMissing(group);
    TIniFile old(path);
    if (!old.Load())
        return counts;
    std::vector<std::string> members = GroupSites(group);
    for (int k = 1;; ++k) {
        const std::string name = old.ReadString("Servers", "s" + std::to_string(k));
        if (name.empty())
            break;
        if (SiteExists(name) || !SiteNameProblem(name).empty())
            continue;
        members.push_back(name);
        TIniDocument& d = m_sites.Document();
        d.EraseSection(name);
        const std::string port = old.ReadString(name, "Port", "21");
        d.Set(name, "IP", old.ReadString(name, "IP"));
        if (port != "21")
            d.Set(name, "Port", port);
        for (const char* key : {"User", "LocalDir", "RemoteDir"}) {
            const std::string v = old.ReadString(name, key);
            if (!v.empty())
                d.Set(name, key, v);
        }
        const std::string pass = old.ReadString(name, "Pass");
        if (!pass.empty())
            d.Set(name, "Pass", static_cast<unsigned char>(pass[0]) == PasswordMark ? pass : ScramblePassword(pass));
        if (old.ReadString(name, "TransMode", "2") != "2")
            d.Set(name, "Options", DefaultOptionString);
        ++counts.added;
    }
    WriteGroupSites(group, members);
    if (loadSettings && settingsFile && settings) {
        LoadSettings(old, *settingsFile, *settings, nullptr);
        m_import = 1;
        m_sites.WriteInteger(GroupsSection, "Import", 1);
    }
    return counts;
}

bool TSiteDatabase::ImportTextSiteList(const std::string& group, const std::string& path, IPrompt& prompt,
                                       TImportCounts* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        prompt.ShowMessage(MessageKind::Error, "无法打开文件 \"" + path + "\".");
        return false;
    }
    TImportCounts counts;
    std::vector<std::string> members = GroupSites(group);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find(':') == std::string::npos)
            continue;
        std::vector<std::string> f;
        size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            const size_t colon = line.find(':', start);
            if (colon == std::string::npos || i == 3) {
                f.push_back(line.substr(start));
                start = std::string::npos;
                break;
            }
            f.push_back(line.substr(start, colon - start));
            start = colon + 1;
        }
        // name:host:user:password[:port]; a fourth ":" starts the port.
        f.resize(5);
        if (start == std::string::npos && f[3].find(':') != std::string::npos) {
            const size_t colon = f[3].find(':');
            f[4] = f[3].substr(colon + 1);
            f[3].erase(colon);
        }
        const std::string &name = f[0], &host = f[1], &user = f[2], &pass = f[3], &port = f[4];
        TIniDocument& d = m_sites.Document();
        auto writeLogin = [&](const std::string& site) {
            d.Set(site, "IP", host);
            d.Set(site, "User", user);
            d.Set(site, "Pass", ScramblePassword(pass));
            if (!port.empty() && port != "21")
                d.Set(site, "Port", port);
        };
        auto match = std::find_if(members.begin(), members.end(), [&](const std::string& s) {
            return AsciiLower(m_sites.ReadString(s, "IP")) == AsciiLower(host);
        });
        if (match != members.end()) {
            writeLogin(*match);
            ++counts.updated;
            continue;
        }
        ++counts.added;
        if (name.empty() || SiteExists(name) || !SiteNameProblem(name).empty())
            continue;
        members.push_back(name);
        m_sites.WriteString(sectionOf(group), "s" + std::to_string(members.size()), name);
        writeLogin(name);
        d.Set(name, "Options", DefaultOptionString);
    }
    prompt.ShowMessage(MessageKind::Information, "导入完成: " + std::to_string(counts.added) + " 新建条目, " +
                                                     std::to_string(counts.updated) + " 更新条目.");
    if (out)
        *out = counts;
    return true;
}
