#pragma once
// The site database (sites.ini) and per-site statistics (stats.dat), each
// held in memory and rewritten whole on save; the site record and its
// 15-character option string; password scrambling; the site-name check; the
// two imports.

#include "common/Prompt.h"
#include "sites/PasswordVault.h"
#include "sites/IniFile.h"

#include <QDateTime>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TSettings;

// ---------------------------------------------------------------- passwords

// Code 127, then per character its code plus a fixed offset and a random
// filler (codes 50..99). 8-bit wrap-around, so every password round-trips.
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& scrambled);

// ---------------------------------------------------------------- option string

enum class TriState : uint8_t { UseSetting = 0, On = 1, Off = 2 };

struct TSiteOptions {
    int TransferMode = 3;  // 0 ASCII, 1 binary, 2 automatic, 3 user preset
    TriState AntiIdle = TriState::UseSetting;
    TriState RestoreTransfer = TriState::UseSetting;
    TriState LogSession = TriState::UseSetting;
    bool RenameTypes = false;
    TriState ShowHidden = TriState::UseSetting;
    int ServerTypeIndex = 0;  // 0..22; the client's server type is index + 1
    TriState UsePasv = TriState::UseSetting;
    int ResumeSupport = 0;  // 0 probe, 1 works, 2 does not work
    bool SKey = false;
    TriState UseAppe = TriState::UseSetting;
    bool NoProxy = false;

    static TSiteOptions Decode(const std::string& text);
    std::string Encode() const;
};

inline constexpr const char* DefaultOptionString = "300000000000000";

// Display texts of the site manager's server-type list (index 0..22).
const std::vector<std::string>& ServerTypeListTexts();

// ---------------------------------------------------------------- site record

struct TSiteRecord {
    std::string Name;
    std::string IP;
    std::string Port = "21";
    std::optional<std::string> User;  // none: anonymous; "?": ask at connect
    std::optional<std::string> Pass;  // stored form: none, "\x7f" (empty), or scrambled
    // The keyring item holding the password when the keyring cannot be read
    // now: Pass is none, and writing the record (under any name) keeps it.
    std::string UnreadKeyring;
    std::string Account;
    std::string LocalDir;
    std::string RemoteDir;
    std::string LocalFilter = "*.*";
    std::string RemoteFilter = "*.*";
    std::string Retry;    // text; overrides the "Retry" setting when not empty
    std::string Timeout;  // text; overrides "Delay" when not empty
    std::string Resume;   // opaque, written back unchanged
    std::string Options = DefaultOptionString;
    std::vector<std::string> Comment;
    // "explicit" (AUTH TLS), "implicit" (TLS from the first byte) or "off";
    // empty: as the preference says for plain hosts. Key "TLS", written only
    // when set, so files of earlier versions read the same.
    std::string Tls;
    // "SFTP": the server speaks SSH's file transfer (port 22 unless given);
    // empty: FTP. Key "Protocol", written only when set.
    std::string Protocol;
    // The charset of the server's file names ("UTF-8", "GB18030", "Big5",
    // "Shift_JIS", "EUC-KR", "ISO-8859-1"); empty: automatic. Key "Charset",
    // written only when set.
    std::string Charset;
    // "LIST": never list with MLSD (for servers whose MLSD is broken in ways
    // other than refusing it); empty: MLSD where offered. Key "Listing",
    // written only when set.
    std::string Listing;
    // Transfer connections and speed limits (KiB/s) of the site's own, as
    // text; empty: the preferences'. Keys "MaxTransfers", "DownloadLimit",
    // "UploadLimit", written only when set.
    std::string MaxTransfers, DownloadLimit, UploadLimit;

    bool AsksForUser() const { return User && *User == "?"; }
    bool HasPassword() const { return Pass.has_value(); }
    std::string Password() const { return Pass ? UnscramblePassword(*Pass) : std::string(); }
    void SetPassword(const std::string& plain) { Pass = ScramblePassword(plain); }
};

struct TSiteStats {
    std::string LastConnect;  // empty when unknown
    int ConnectCount = 0;
    double BytesUp = 0, FilesUp = 0, BytesDown = 0, FilesDown = 0;
};

struct TImportCounts {
    int added = 0;
    int updated = 0;
};

// Why a name cannot be a site's (characters the file format cannot hold or
// would change on reading); empty when it can.
std::string SiteNameProblem(const std::string& name);
// The same for a group's name, which becomes a section "_" + name + "_".
std::string GroupNameProblem(const std::string& name);
// Group and site lists are kept in this order: letters without regard to
// case, then byte order.
void SortNames(std::vector<std::string>& names);

class TSiteDatabase {
public:
    // dataDir ends with "/"; the files are read into memory.
    bool Load(const std::string& dataDir);
    // Passwords go into the keyring (when one is running) here: each site's
    // scrambled password is written to it and, once it is there, replaced by
    // the item's marker (key "Keyring"); a failed keyring write keeps the
    // file's form. The same moves an older file's passwords.
    bool SaveSites();
    TPasswordKeeper& Passwords() { return m_passwords; }
    // The last save kept a password only scrambled for want of a keyring.
    bool SavedScrambled() const { return m_savedScrambled; }
    bool SaveStats();
    const std::string& LastError() const { return m_error; }
    TIniFile& Sites() { return m_sites; }
    TIniFile& Stats() { return m_stats; }

    // groups
    std::vector<std::string> Groups() const;
    bool WriteGroups(const std::vector<std::string>& groups);  // also writes "Import"
    std::vector<std::string> GroupSites(const std::string& group) const;
    bool WriteGroupSites(const std::string& group, const std::vector<std::string>& sites);
    int ImportValue() const { return m_import; }
    void SetImportValue(int v) { m_import = v; }

    // sites
    bool SiteExists(const std::string& name) const;
    std::optional<TSiteRecord> ReadSite(const std::string& name) const;
    void WriteSite(const TSiteRecord& site);
    // Why a group cannot be called so here: GroupNameProblem, a reserved
    // section, or a site's section in the way; empty when it can (an existing
    // group in other letters is that group).
    std::string GroupNameClash(const std::string& name) const;
    // Checks a new site name, telling the user why it is refused
    // (SiteNameProblem, or a site of that name exists).
    bool CheckSiteName(const std::string& name, IPrompt& prompt) const;

    // The site's section in both files erased (the group lists untouched);
    // its keyring item goes at the next save.
    void DeleteSite(const std::string& name);
    // The statistics and bookmarks of a site under another name.
    void RenameStats(const std::string& from, const std::string& to);

    // statistics (in memory until SaveStats)
    TSiteStats ReadStats(const std::string& site) const;
    // The counters erased; the site's bookmarks, kept beside them, stay.
    void ResetStats(const std::string& site);
    void RecordLogin(const std::string& site, const QDateTime& when);
    void AddTransfer(const std::string& site, bool upload, double bytes);

    // imports
    TImportCounts ImportOlderSiteFile(const std::string& group, const std::string& path, bool loadSettings,
                                      TIniFile* settingsFile, TSettings* settings);
    // Returns false (and says why) when the file cannot be read.
    bool ImportTextSiteList(const std::string& group, const std::string& path, IPrompt& prompt,
                            TImportCounts* counts = nullptr);

private:
    void addGroupIfMissing(const std::string& group);

    void keepPasswords();

    TIniFile m_sites;
    TIniFile m_stats;
    mutable TPasswordKeeper m_passwords;
    std::vector<std::string> m_forget;  // keyring items of sites gone or without a password now
    bool m_savedScrambled = false;
    int m_import = 0;
    std::string m_error;
};
