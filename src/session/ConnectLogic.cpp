#include "session/ConnectLogic.h"

#include "common/Text.h"

#include <algorithm>

namespace {

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t p = s.find(sep, start);
        out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos)
            return out;
        start = p + 1;
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr char PasswordMark = '\x7f';

}  // namespace

std::string DecodePercent(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

TServerField ReadServerField(const std::string& text, const TSiteDatabase& sites)
{
    TServerField f;
    if (text.empty())
        return f;
    if (ParseFtpUrl(text)) {
        f.kind = TServerField::Url;
        return f;
    }
    // An IPv6 address is one word: in brackets ("[::1]:2121"), or the whole
    // text.
    if (IsIPv6Address(text) && text.front() != '[') {
        f.kind = TServerField::Host;
        f.name = "[" + text + "]";
        return f;
    }
    const size_t bracket = text.front() == '[' ? text.find(']') : std::string::npos;
    const size_t hostEnd = bracket == std::string::npos ? 0 : bracket + 1;
    std::string name = text.substr(0, text.find(':', hostEnd));
    name = name.substr(0, name.find('/', hostEnd));
    if (name.empty())
        return f;  // starts with ":" or "/": nothing to connect to
    if (sites.SiteExists(name)) {
        f.kind = TServerField::Site;
        f.name = name;
        return f;
    }
    f.kind = TServerField::Host;
    std::string host = text;
    const size_t colon = text.find(':', hostEnd);
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        const std::vector<std::string> parts = split(text.substr(colon + 1), ':');
        if (parts.size() == 1) {
            f.port = TrimBlanks(parts[0]);
        } else if (parts.size() == 2 || parts.size() == 3) {
            f.user = TrimBlanks(parts[0]);
            f.password = TrimBlanks(parts[1]);
            if (parts.size() == 3)
                f.port = TrimBlanks(parts[2]);
        }
    }
    const size_t bar = host.find('|', hostEnd);
    const size_t slash = host.find('/', hostEnd);
    if (bar != std::string::npos) {
        f.startDirectory = host.substr(bar + 1);
        host.erase(bar);
    } else if (slash != std::string::npos) {
        f.startDirectory = "/" + host.substr(slash + 1);
        host.erase(slash);
    }
    f.name = host;
    return f;
}

std::optional<TFtpUrl> ParseFtpUrl(const std::string& text)
{
    TFtpUrl u;
    // "sftp://" first: it holds "ftp://".
    size_t at = text.find("sftp://");
    size_t skip = 7;
    if (at != std::string::npos) {
        u.sftp = true;
        u.port = "22";
    } else {
        at = text.find("ftp://");
        skip = 6;
    }
    if (at == std::string::npos) {
        at = text.find("ftps://");
        skip = 7;
        u.tls = tlsImplicit;
        u.port = "990";
    }
    if (at == std::string::npos) {
        at = text.find("ftpes://");
        skip = 8;
        u.tls = tlsExplicit;
        u.port = "21";
    }
    if (at == std::string::npos)
        return std::nullopt;
    const std::string rest = text.substr(at + skip);
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        const std::string path = rest.substr(slash);
        const size_t last = path.find_last_of("/\\");
        const std::string lastSegment = path.substr(last + 1);
        if (path.back() != '/' && lastSegment.find('.') != std::string::npos) {
            u.filePath = DecodePercent(path);
            u.fileName = DecodePercent(lastSegment);
            u.startDirectory = DecodePercent(path.substr(0, last + 1));
        } else {
            u.startDirectory = DecodePercent(path.back() == '/' ? path : path + "/");
        }
    }
    // The user part ends at the last "@" (a password may hold one); a user
    // without ":" has no password.
    std::string hostPort = authority;
    const size_t atSign = authority.rfind('@');
    if (atSign != std::string::npos) {
        const std::string userInfo = authority.substr(0, atSign);
        const size_t colon = userInfo.find(':');
        u.user = DecodePercent(userInfo.substr(0, colon));
        u.password = colon == std::string::npos ? std::string() : DecodePercent(userInfo.substr(colon + 1));
        u.userGiven = true;
        hostPort = authority.substr(atSign + 1);
    }
    // "[::1]:2121": the brackets stay with the host (one word in the
    // history and the log; the socket takes them off).
    const size_t bracket = !hostPort.empty() && hostPort.front() == '[' ? hostPort.find(']') : std::string::npos;
    const size_t colon = hostPort.find(':', bracket == std::string::npos ? 0 : bracket + 1);
    u.host = hostPort.substr(0, colon);
    if (colon != std::string::npos && colon + 1 < hostPort.size()) {
        u.port = hostPort.substr(colon + 1);
        u.portGiven = true;
    }
    return u;
}

TFtpTls SiteTls(const std::string& value, TFtpTls preferred)
{
    if (value == "explicit")
        return tlsExplicit;
    if (value == "implicit")
        return tlsImplicit;
    if (value == "off")
        return tlsOff;
    return preferred;
}

// ---------------------------------------------------------------- history

namespace {

// The text after the password mark is pairs of a character and a filler,
// then optionally ":" and the port. Fillers (codes 50..99) include ":" and
// digits, so the port is recognised only as ":digits" at the end that starts
// on a pair boundary; HistoryEntry never writes a password that would read
// as one.
std::pair<std::string, std::string> splitHistoryTail(const std::string& tail)
{
    const size_t colon = tail.rfind(':');
    if (colon == std::string::npos || colon % 2 != 0 || colon + 1 >= tail.size() ||
        tail.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return {tail, {}};
    return {tail.substr(0, colon), tail.substr(colon + 1)};
}

}  // namespace

std::string HistoryEntry(const std::string& host, const std::string& user, const std::string& password,
                         const std::string& port)
{
    std::string entry = host;
    if (!user.empty() && user != "anonymous") {
        std::string scrambled;
        do {
            scrambled = ScramblePassword(password);  // new fillers until unambiguous
        } while (!splitHistoryTail(scrambled.substr(1)).second.empty());
        entry += ":" + user + ":" + scrambled;
    }
    if (!port.empty() && port != "21")
        entry += ":" + port;
    return entry;
}

std::vector<std::string> HistoryParts(const std::string& entry)
{
    // "sftp://host:user:password:port": the scheme stays with the host.
    if (entry.starts_with("sftp://")) {
        std::vector<std::string> parts = HistoryParts(entry.substr(7));
        if (!parts.empty())
            parts.front().insert(0, "sftp://");
        return parts;
    }
    const size_t bracket = !entry.empty() && entry.front() == '[' ? entry.find(']') : std::string::npos;
    if (bracket == std::string::npos)
        return split(entry, ':');
    std::vector<std::string> parts{entry.substr(0, bracket + 1)};
    if (bracket + 1 < entry.size() && entry[bracket + 1] == ':') {
        const std::vector<std::string> rest = split(entry.substr(bracket + 2), ':');
        parts.insert(parts.end(), rest.begin(), rest.end());
    }
    return parts;
}

std::string MaskHistoryEntry(const std::string& entry)
{
    const size_t mark = entry.find(PasswordMark);
    if (mark == std::string::npos)
        return entry;
    const std::string port = splitHistoryTail(entry.substr(mark + 1)).second;
    return entry.substr(0, mark) + "********" + (port.empty() ? "" : ":" + port);
}

std::string HistoryPassword(const std::string& entry)
{
    const size_t mark = entry.find(PasswordMark);
    if (mark == std::string::npos)
        return {};
    return UnscramblePassword(std::string(1, PasswordMark) + splitHistoryTail(entry.substr(mark + 1)).first);
}

std::vector<std::string> ReadHistory(const TIniFile& f)
{
    std::vector<std::string> shown;
    for (int n = 1;; ++n) {
        const auto v = f.Document().Get("History", "h" + std::to_string(n));
        if (!v)
            break;
        shown.push_back(MaskHistoryEntry(*v));
    }
    return shown;
}

std::vector<std::string> RecordHistory(TIniFile& f, const std::string& entry)
{
    f.Load();  // a second window may have added entries since
    std::vector<std::string> shown = ReadHistory(f);
    if (std::find(shown.begin(), shown.end(), MaskHistoryEntry(entry)) != shown.end())
        return shown;
    std::vector<std::string> values;
    for (auto& [key, value] : f.Document().Entries("History"))
        values.push_back(value);
    if (values.size() > 14)
        values.resize(14);
    values.insert(values.begin(), entry);
    f.WriteList("History", "h", values);
    return ReadHistory(f);
}

// ---------------------------------------------------------------- proxy

void ChooseProxy(TFTPclient& client, const TSettings& settings, const std::string& host, int port,
                 bool siteDisablesProxy)
{
    if (!settings.EnableProxy || siteDisablesProxy || client.IsNoProxyHost(host)) {
        client.FirewallType = fwNone;
        client.FtpServer = TrimBlanks(host);
        client.Port = static_cast<uint16_t>(port);
        return;
    }
    static constexpr TFirewallType modes[] = {fwUserHost, fwNone, fwSocks, fwSite, fwSiteUserHost, fwUserHost2};
    client.FirewallType = settings.ProxyMode >= 0 && settings.ProxyMode < 6 ? modes[settings.ProxyMode] : fwNone;
    client.SocksHost = host;
    client.SocksPort = port;
    client.Port = static_cast<uint16_t>(client.ProxyPort);
    client.FtpServer = TrimBlanks(client.ProxyHost);
}

// ---------------------------------------------------------------- site options

void ApplySiteOptions(const std::string& optionText, TFTPclient& client, TSessionOptions& session)
{
    const std::string text = optionText.find('-') != std::string::npos ? std::string(DefaultOptionString) : optionText;
    if (text.size() <= 4)
        return;
    const TSiteOptions o = TSiteOptions::Decode(text);
    session.TransferMode = text[0] == '3' || o.TransferMode == 3 ? 2 : o.TransferMode;
    auto apply = [](TriState t, bool& target) {
        if (t != TriState::UseSetting)
            target = t == TriState::On;
    };
    apply(o.AntiIdle, session.AntiIdle);
    apply(o.RestoreTransfer, session.RestoreTransfer);
    apply(o.LogSession, client.LogSession);
    session.RenameRules = o.RenameTypes;
    if (text.size() == 10 || text.size() == 15) {
        apply(o.ShowHidden, client.ShowHiddenFiles);
        client.ServerType = static_cast<TFTPServerType>(o.ServerTypeIndex + 1);
        if (client.ServerType > ftpstAutoDetect)
            client.ServerDetect = false;
        apply(o.UsePasv, client.UsePasv);
        client.ResumeSupport = static_cast<uint8_t>(o.ResumeSupport);
    }
    if (text.size() == 15) {
        if (o.SKey)
            client.SKeyLogin = true;
        apply(o.UseAppe, client.UseAppe);
        session.NoProxy = o.NoProxy;
    }
}

// ---------------------------------------------------------------- addresses

std::string CopyAddressText(const std::string& field, const std::string& port, bool connected,
                            const std::string& remoteDirectory, const std::string& fileName)
{
    std::string text = field;
    if (field.find("ftp://") == std::string::npos) {
        text = "ftp://" + field;
        if (!port.empty() && port != "21")
            text += ":" + port;
        if (connected) {
            std::string dir = remoteDirectory.empty() ? std::string("/") : remoteDirectory;
            if (dir.back() != '/')
                dir += '/';
            text += dir;
        }
    }
    std::string escaped;
    for (char c : text)
        escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    return escaped + fileName + "\r\n";
}

// ---------------------------------------------------------------- status

std::string StatusText(int code, const std::string& host, int port, const std::string& attempt)
{
    const std::string where = host + ":" + std::to_string(port);
    switch (code) {
        case 0:
            return "没有连接";
        case 2:
            return "连接到 " + where + " (#" + attempt + ")";
        case 3:
            return "连接到 " + where;
        case 5:
            return "刷新目录";
        case 6:
            return "更改目录";
        case 7:
            return "删除文件";
        case 10:
            return "连接到代理服务器";
        case 11:
            return "代理服务器已连接:正等待登录主机";
        case 13:
            return "空闲 (00:00)";
        case 14:
            return "服务器断开.";
        case 15:
            return "连接丢失. 请等待 60 秒与外部同步";
        case 16:
            return "服务器断开.正尝试重新连接...";
        default:
            return {};
    }
}
