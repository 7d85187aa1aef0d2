#pragma once
// The program-wide settings: one typed value per key of section "Setup" of
// corvyne.ini, with the key's name, and the lists kept in their own sections.
// Loaded at start-up and after the preferences dialog; the rest of the
// program reads these values, not the file.

#include "common/Prompt.h"
#include "sites/IniFile.h"
#include "sites/PasswordVault.h"

#include <string>
#include <variant>
#include <vector>

class TFTPclient;

struct TSettings {
    std::string Version;        // the version that last closed the file; empty: a new file
    std::string CustomLogFile;  // "CustomLog" "LogFile": the transfer log
    std::string Path;
    std::string Email = "guest@corvyne.invalid";
    int Delay = 30;
    int Retry = 10;
    int RetryDelay = 0;
    bool GetLink = true;
    std::string Viewer;
    std::string Editor;
    int XferOption = 0;
    bool FreeSpace = true;
    bool ConnectDrop = true;
    bool AutoSendQueue = false;
    bool ShowHidden = false;
    bool AutoSave = true;
    bool RestoreTransfer = true;
    std::string CustomIP;
    bool UsePasv = false;
    // A plain host or ftp:// address asks for TLS ("AUTH TLS") and goes on in
    // the clear only when the server does not offer it.
    bool TlsWhenOffered = true;
    bool AlternateMode = true;
    bool UseAPPE = false;
    // Uploads go under a hidden temporary name and are renamed over the
    // target once whole: a broken upload never leaves a cut-off file there.
    bool UploadTempName = false;
    bool URL = true;
    bool ForceParent = false;
    bool DialogTimer = false;
    bool KeepHistory = true;
    bool ConfirmDel = true;
    bool ConfirmMove = true;
    bool ExitWarn = true;
    bool ConfirmQueue = true;
    bool SkipDirectories = false;
    bool SkipNull = false;
    bool SkipDir = false;
    bool SkipDelete = false;
    int IdleTime = 45;
    bool Antiidle = true;
    bool IdleNOOP = true;
    int ResumeMode = 0;
    int UploadMode = 0;
    int HangTimeout = 3000;
    bool StallProtection = false;
    int PacketTimeout = 60;
    // Files moving at once on transfer connections of their own (1 to 10;
    // 1: every file over the browsing connection).
    int MaxTransfers = 2;
    // The queue's speed limits in KiB/s for all its connections together; 0: none.
    int DownloadLimit = 0;
    int UploadLimit = 0;
    bool PreserveDate = false;
    bool RestoreState = true;
    bool ShowMessages = true;
    bool MessageWin = true;
    int ServerMessageWidth = 526;
    int ServerMessageHeight = 340;
    bool EnableProxy = false;
    int ProxyMode = 0;
    bool Log = false;
    bool TimestampLog = false;
    bool AlphaSort = false;
    bool LocalAutoSize = true;
    bool RemoteAutoSize = true;
    bool ReceiveRefresh = true;
    bool AutoRefresh = true;
    bool Hide = false;
    bool DeleteOverride = false;
    bool ShowSiteManager = false;
    int DoubleClick = 0;
    int ForceLowerCase = 0;
    bool ShowCps = false;
    int ConnectSound = 0;
    int TransferSound = 0;
    std::string ConnectWav;
    std::string TransferWav;
    std::string DDEService;
    std::string DDETopic;
    std::string DDECommand;
    bool DDEPrompt = false;
    bool DDEFilter = false;
    bool DDEShow = true;
    bool AsciiNoExtensions = false;

    std::vector<std::string> AsciiExtensions;  // "Extensions" e1..eN, ".txt" loaded as "*.txt"
    std::vector<std::string> RenameRules;      // "Rename" r1..rN
    bool SkipEnabled = false;                  // "Skip" "Enabled"
    std::vector<std::string> SkipPatterns;     // "Skip" s1..sN
    std::vector<std::string> NoProxyHosts;     // "Proxy" p1..pN
};

// One loaded key of "Setup": its name and the member it fills.
struct TSettingKey {
    const char* name;
    std::variant<std::string TSettings::*, int TSettings::*, bool TSettings::*> member;
};

// The loaded "Setup" keys in load order (after "Version" and "CustomLog").
const std::vector<TSettingKey>& SettingKeys();

inline constexpr const char* SetupSection = "Setup";
inline constexpr const char* ProgramVersionText = "2.7.5";
inline const std::vector<std::string> DefaultAsciiExtensions = {"*.TXT", "*.HTML", "*.HTM", "*.C",
                                                                "*.H",   "*.CGI",  "*.PL",  "*.PERL"};

// The loader: fills settings from source (normally the settings file itself;
// an older program's file for the first-run import). "AsciiNoExtensions" is
// always read from settingsFile, and the default ASCII list is written there
// on a first run. The client, when given, gets "TimestampLog" and the
// no-proxy hosts.
void LoadSettings(const TIniFile& source, TIniFile& settingsFile, TSettings& settings, TFTPclient* client);

// The non-window half of applying the view settings: the firewall login and
// the session log file of the client, read from the settings file.
// The proxy password comes from the keyring when the file holds its marker
// ("ProxyKeyring") instead of "ProxyPass".
void ApplyClientViewSettings(const TIniFile& settingsFile, TFTPclient& client, TPasswordKeeper* passwords = nullptr);

// The proxy password moved from the file into the keyring (when one is
// running; a failed write keeps the file's form). True when it stays in the
// file only scrambled for want of a keyring.
bool KeepProxyPassword(TIniFile& settingsFile, TPasswordKeeper& passwords);

// Tells the user, once for a data folder, that passwords are stored only
// scrambled, and that scrambling is not encryption.
void TellPasswordsScrambled(TIniFile& settingsFile, IPrompt& prompt);
