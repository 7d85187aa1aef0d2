#pragma once
// Enumerations and numeric kinds of the FTP engine. Values and their order
// are fixed: site records store the server type by index and applications
// switch on the information and error kinds.

#include <cstdint>
#include <string_view>

enum TFTPServerType : uint8_t {
    ftpstDefault,
    ftpstAutoDetect,
    ftpstUNIX,
    ftpstRedhat,
    ftpstWin2K,
    ftpstCorvyned,
    ftpstULTRIX,
    ftpstU5000,
    ftpstSINTFTPD,
    ftpstVmsMultinet,
    ftpstVmsUcx,
    ftpstMVS,
    ftpstClix,
    ftpstQVT,
    ftpstNCSA,
    ftpstChameleon,
    ftpstVM,
    ftpstVMVPS,
    ftpstMacFtpd,
    ftpstMacOS,
    ftpstWarFTPD,
    ftpstUnixHidden,
    ftpstOS2,
    ftpSTNetware,
    ftpstBSD,
};
constexpr int FtpServerTypeCount = 25;

enum TFirewallType : uint8_t { fwNone, fwSocks, fwSite, fwUserHost, fwUserLogin, fwSiteUserHost, fwUserHost2 };
constexpr int FirewallTypeCount = 7;

enum TTransferType : uint8_t { BinaryTransfer, AsciiTransfer };

// How a session is protected: not at all, TLS when the server offers it
// ("AUTH TLS" answered), explicit TLS required, or implicit TLS (from the
// first byte, port 990).
enum TFtpTls : uint8_t { tlsOff, tlsIfOffered, tlsExplicit, tlsImplicit };

// Kinds of OnFtpInfo.
enum FtpInfo : uint8_t {
    fiConnected = 0,               // control connection established; Host
    fiDisconnected = 1,            // server closed after login; "Disconnected"
    fiResolved = 3,                // server name resolved; dotted address
    fiReplyLine = 4,               // any line on the control connection
    fiCommandSent = 5,             // a command was sent (password masked)
    fiAttemptsExhausted = 7,       // connection attempts exhausted
    fiListingData = 9,             // listing data arrived
    fiTransferComplete = 11,       // transfer or listing finished successfully
    fiListingReady = 12,           // listing data connection finished
    fiSKeyChallenge = 13,          // S/Key challenge to answer
    fiLoginDirectory = 14,         // login reached the directory step; "登录"
    fiFileSize = 15,               // file size announced by the server
    fiInitialDirRefused = 16,      // the server refused the initial directory
    fiListingLine = 17,            // one listing line
    fiClosed = 23,                 // all connections closed (Close)
    fiMultiLineFirst = 24,         // first line of a multi-line reply
    fiMultiLineLast = 25,          // last line of a multi-line reply
    fiMultiLineInner = 26,         // inner line of a multi-line reply
    fiSystReply = 27,              // the "SYST" reply arrived
    fiClosedBeforeLogin = 28,      // server closed before the greeting was answered
    fiAttemptStart = 29,           // a connection attempt starts, no firewall; Host
    fiRetryScheduled = 30,         // an attempt failed and another is scheduled
    fiDataConnected = 31,          // data connection established
    fiAttemptStartFirewall = 32,   // a connection attempt starts through a firewall
    fiPassiveAddressIgnored = 33,  // the passive reply named another host than the server's
    fiTlsStarted = 34,             // TLS stands on the control connection; version and cipher
    fiTlsNotOffered = 35,          // "AUTH TLS" refused: the session goes on in the clear
    fiDataProtectionRefused = 36,  // "PROT P" refused: data connections in the clear
    fiFeatures = 37,               // what "FEAT" said the server offers; their names
    fiFeatureRefused = 38,         // a command FEAT named was refused: the fall-back is used
};

// Kinds of OnFtpError.
enum FtpError : uint8_t {
    feSocket = 20,                // socket error or time-out, malformed passive reply
    feNoDataConnection = 21,      // no data connection could be made
    feLocalWrite = 22,            // local file cannot be written (download)
    feLocalRead = 24,             // local file cannot be read (upload)
    feSizeMismatch = 25,          // a resumed file's size differs from the source's at the end
    feScriptDataConnection = 35,  // data connection failed while a script runs
    feTls = 36,                   // TLS could not protect the login (refused, failed, certificate not trusted)
};

// What the next final reply answers.
enum TReplyState : int32_t {
    rsGreeting = 0,  // greeting, or the reply to the firewall "SITE"
    rsUser = 1,
    rsPass = 2,
    rsAcct = 3,
    rsSyst = 5,
    rsInitialCwd = 6,
    rsPwd = 7,
    rsAuth = 8,     // "AUTH TLS"
    rsTlsWait = 9,  // the control connection's handshake, then the certificate decision
    rsPbsz = 10,
    rsProt = 11,
    rsFeat = 12,
    rsOptsUtf8 = 13,  // "OPTS UTF8 ON"
    rsOptsMlst = 14,  // "OPTS MLST ..."
    rsType = 20,
    rsPasv = 21,
    rsPort = 22,  // "PORT", or the passive data connect
    rsRest = 23,
    rsTransfer = 24,
    rsEpsv = 25,
    rsFileTime = 26,  // "MDTM" after a download, "MFMT"/"SITE UTIME" after an upload
    rsRnfr = 40,
    rsRnto = 41,
    rsCwd = 45,  // "CWD" or "CDUP"
    rsMkdRmd = 50,
    rsDele = 55,
    rsQuit = 60,
    rsChmod = 65,
    rsRaw = 80,
    rsRestProbe = 85,  // "REST 100"
    rsRestZero = 86,   // "REST 0"
    rsFwGreeting = 90,
    rsFwUser = 91,
    rsFwPass = 93,
    rsKeepAlive = 100,
    rsIdle = 999,
};

// What the completion notice reports.
enum TPendingOperation : uint8_t {
    poNone,
    poLogin,
    poDirectoryChanged,
    poDirectoryCreated,
    poDirectoryDeleted,
    poFileDeleted,
    poFileReceived,
    poFileStored,
    poListingDone,
    poFileRenamed,
};

std::string_view ReplyStateName(int32_t state);
std::string_view FirewallTypeName(TFirewallType type);  // "fwNone", ...
std::string_view ServerTypeName(TFTPServerType type);   // "ftpstDefault", ...
// Whether the server's file names are known to ignore letter case (Windows,
// VMS, MVS, VM, OS/2, NetWare, classic Mac OS): only there may a mask match
// names without regard to case.
bool ServerIgnoresCase(TFTPServerType type);
