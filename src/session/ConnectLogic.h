#pragma once
// The connection workflow's decisions that need no window: reading the
// quick-connect field, ftp:// addresses, the login history, the proxy choice,
// a site's options applied to the client, and the status texts.

#include "ftp/Ftp.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"

#include <optional>
#include <string>
#include <vector>

// What the server field names.
struct TServerField {
    enum Kind { Empty, Site, Host, Url } kind = Empty;
    std::string name;  // the site name, or the host (what the field then shows)
    // Quick-connect parts, when the text carried them.
    std::optional<std::string> user, password, port;
    std::optional<std::string> startDirectory;
};
TServerField ReadServerField(const std::string& text, const TSiteDatabase& sites);

// An ftp:// address; ftps:// is implicit TLS (port 990), ftpes:// explicit.
struct TFtpUrl {
    std::string user, password, host;
    std::string port = "21";
    std::optional<TFtpTls> tls;  // none: plain ftp://, as the preference says
    bool sftp = false;           // sftp://: SSH's file transfer, port 22 unless given
    bool userGiven = false;      // the address names a user (and maybe a password)
    bool portGiven = false;      // ... a port
    std::optional<std::string> startDirectory;  // none: the address has no path
    // A path naming a file: download it once logged in.
    std::optional<std::string> filePath;
    std::string fileName;
};
std::optional<TFtpUrl> ParseFtpUrl(const std::string& text);
// A site's "TLS" value as the client's mode; preferred for an empty one.
TFtpTls SiteTls(const std::string& value, TFtpTls preferred);

// "%xx" sequences replaced by the byte they name.
std::string DecodePercent(const std::string& text);

// ---- login history (section "History" of corvyne.ini, h1 newest, at most 15)
std::string HistoryEntry(const std::string& host, const std::string& user, const std::string& password,
                         const std::string& port);
std::string MaskHistoryEntry(const std::string& entry);
// An entry's parts "host:user:password:port"; a bracketed IPv6 host is one
// part ("[::1]:bob:********:2121").
std::vector<std::string> HistoryParts(const std::string& entry);
// The stored password of an entry (empty when it holds none).
std::string HistoryPassword(const std::string& entry);
// The entries as the drop-down shows them (masked), newest first.
std::vector<std::string> ReadHistory(const TIniFile& settingsFile);
// Records an entry unless its masked form is already shown; returns the new
// drop-down items.
std::vector<std::string> RecordHistory(TIniFile& settingsFile, const std::string& entry);

// ---- proxy choice: a direct connection, or the firewall of ProxyMode
void ChooseProxy(TFTPclient& client, const TSettings& settings, const std::string& host, int port,
                 bool siteDisablesProxy);

// ---- a site's option string applied to a session
struct TSessionOptions {
    bool AntiIdle = true;
    bool RestoreTransfer = true;
    bool RenameRules = true;
    int TransferMode = 2;  // 0 ASCII, 1 binary, 2 automatic
    bool NoProxy = false;
    // The site's own transfer connections and speed limits (KiB/s); none:
    // the preferences'.
    std::optional<int> MaxTransfers, DownloadLimit, UploadLimit;
};
void ApplySiteOptions(const std::string& optionText, TFTPclient& client, TSessionOptions& session);

// ---- the address of the connection (or of a file in it) for the clipboard
std::string CopyAddressText(const std::string& serverField, const std::string& port, bool connected,
                            const std::string& remoteDirectory, const std::string& fileName = {});

// ---- the first status panel
std::string StatusText(int code, const std::string& host, int port, const std::string& attempt = {});
