#pragma once
// TFTPclient: the FTP protocol engine. It is itself the control connection
// (a TCustomCorvSocket in line mode) and owns the data connection and the
// active-mode listener. One operation runs at a time, driven by a reply state
// machine fed by the control connection's lines; outcomes are reported by
// events, the operation's own event always from a posted completion notice.

#include "common/Prompt.h"
#include "ftp/Features.h"
#include "ftp/FtpTypes.h"
#include "ftp/ListingLines.h"
#include "ftp/NameCodec.h"
#include "net/NewSocket.h"

#include <sys/types.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class TSftpSession;
struct TSftpResult;

class TFTPclient : public TCustomCorvSocket {
    Q_OBJECT

public:
    explicit TFTPclient(QObject* owner = nullptr);
    ~TFTPclient() override;

    // ---- published properties (read/write)
    std::string FtpServer;  // host of the control connection (proxy or firewall when used)
    std::string UserName, UserPassword, UserAccount;
    TFirewallType FirewallType = fwNone;
    std::string SocksHost;  // the real FTP host behind a firewall or proxy (SocksPort: its port)
    std::string ProxyHost;
    int32_t ProxyPort = 0;
    std::string ProxyUser, ProxyPass;  // proxy login for fwSite and fwSiteUserHost
    std::vector<std::string> NoProxyHost;
    int32_t Retry = 0;       // total number of connection attempts
    int32_t RetryDelay = 0;  // seconds between attempts
    bool ServerDetect = false;
    TFTPServerType ServerType = ftpstDefault;
    std::string InitialDirectory;  // directory entered at login, then the current one
    bool UsePasv = true;
    // Connect passive data connections to the address the server names
    // instead of the control connection's peer (for the rare server behind a
    // split set-up that needs it; a bounce risk otherwise).
    bool UsePasvAddress = false;
    bool UseAppe = false;
    // List with "MLSD" where the server offers it (off for a server whose
    // MLSD is broken).
    bool UseMlsd = true;
    // The charset of the server's names (automatic: UTF-8, else GB18030).
    TNameCharset NameCharset = TNameCharset::Auto;
    TTransferType TransferMode = BinaryTransfer;
    int64_t ResumePos = 0;
    std::string LocalFile, RemoteFile;
    bool ShowHiddenFiles = false;
    int64_t PacketCount = 0;
    bool LogSession = false;
    std::string LogFile;
    TFtpTls Tls = tlsOff;
    // The server speaks SFTP (SSH) instead of FTP: the same operations and
    // events over a TSftpSession (no proxies, no raw commands).
    bool Sftp = false;
    std::string SshDir;  // keys and known_hosts; empty: ~/.ssh
    // An SSH host key known_hosts does not hold: true trusts and keeps it.
    // Without a listener nothing is trusted.
    std::function<bool(const IPrompt::HostKeyRequest&)> OnHostKey;
    // A key's passphrase or a server's login question; nullopt: cancelled.
    std::function<std::optional<std::string>(const std::string& prompt, bool echo)> OnSecret;

    // A certificate the system does not trust (unknown issuer, self-signed,
    // expired, another name): the application decides through
    // AnswerCertificate, now or later; nothing of the login is sent before.
    // Without a listener such a certificate ends the login.
    std::function<void(TFTPclient*, const TCertificateInfo&)> OnCertificate;
    void AnswerCertificate(bool trust);
    bool Encrypted() const { return TlsActive() && !TlsHandshaking(); }
    bool DataProtected() const { return m_protP; }
    // The last data connection's TLS began a new session instead of resuming
    // the control connection's: a server that requires resumption refuses
    // the transfer, and only a new login (new session tickets) lets the next
    // one through.
    bool DataSessionNotResumed() const { return m_dataNotResumed; }
    // What this connection's server offers ("FEAT" after login, refusals).
    const TFtpFeatures& Features() const { return m_features; }
    // Names go to this server in UTF-8: it said so ("UTF8" offered and
    // "OPTS UTF8 ON" not refused).
    bool ServerUsesUtf8() const { return m_utf8On; }
    // This connection's names as text and back (a new one per connection;
    // a listing's worker may hold it past the connection).
    const TNameCodec& NameCodec() const { return *m_codec; }
    std::shared_ptr<const TNameCodec> SharedNameCodec() const { return m_codec; }

    // ---- published properties (read only)
    bool Success() const { return m_success; }
    int64_t ConnectAttempt() const { return m_connectAttempt; }
    bool FatalError() const { return m_fatalError; }
    const std::string& LastDirectory() const { return m_lastDirectory; }
    // The server's last final reply.
    const std::string& LastReply() const { return m_lastReply; }
    // The server's last 4xx or 5xx reply: why a command failed.
    const std::string& LastRefusal() const { return m_lastRefusal; }
    // How many file commands (CWD, MKD, RMD, DELE, RNFR, RNTO, SITE CHMOD, a
    // raw command) the server refused so far.
    int CommandRefusals() const { return m_commandRefusals; }
    const std::string& LocalHost() const { return m_localHost; }
    std::string Description() const;

    // ---- public members
    bool SKeyLogin = false;
    uint8_t ResumeSupport = 0;  // 0 probe, 1 works, 2 does not work
    bool ResumeSupported = false;
    bool AlternateMode = false;
    std::string CustomIP;
    bool TimestampLog = false;
    bool WarFtpdServer() const { return m_warFtpd; }
    int32_t ReplyState() const { return m_replyState; }
    const std::string& SystemType() const { return m_systemType; }
    bool LoggedIn() const { return m_loggedIn; }
    // The control connection stands, or over SFTP the session does (its
    // socket is libssh's, not this one).
    bool Connected() const { return Sftp ? m_sftp != nullptr : IsConnected(); }
    // Raw and custom commands are FTP's: an SFTP session has none.
    bool OffersRawCommands() const { return !Sftp; }
    TPendingOperation PendingOperation() const { return m_pending; }

    TCustomCorvSocket& DataSocket() { return m_data; }
    TCustomCorvSocket& ListenSocket() { return m_listener; }

    // ---- transfer counters and state
    int64_t TransferBytes = 0;  // bytes moved (listing: characters of the lines)
    uint32_t TransferTime = 0;  // ms from data connection start to end of data
    TListingLines ListingLines;
    // A listing past either bound is broken off as failed: an endless or
    // hostile listing must not take all memory.
    static constexpr size_t MaxListingLines = 1'000'000;
    static constexpr int64_t MaxListingBytes = int64_t{128} << 20;
    int64_t ExpectedSize = 0;    // size given to Download in binary mode
    uint32_t TransferStart = 0;  // tick count when the data connection stood
    bool DataDone = false;
    bool ReplyDone = false;

    // ---- events
    using Notify = std::function<void(TFTPclient*)>;
    std::function<void(TFTPclient*, FtpInfo info, const std::string& addinfo)> OnFtpInfo;
    std::function<void(TFTPclient*, FtpError error, const std::string& addinfo)> OnFtpError;
    Notify OnLoggedIn, OnDirectoryChanged, OnDirectoryCreated, OnDirectoryDeleted, OnFileDeleted, OnFileReceived,
        OnFileStored, OnListingDone, OnFileRenamed, OnFtpQuit, OnFileCHMOD, OnRawCommand;
    // Declared for applications written against the full event set; never raised.
    Notify OnFtpReady, OnPasvPort, OnPasvError, OnPasvComplete, OnDisconnected;

    // A certificate trusted without asking (its SHA-256, as shown): the one a
    // person accepted for the connection this one is a second of.
    std::string TrustedSha256;
    // Everything that decides how this client reaches and logs in to its
    // server, taken from another (a second connection to the same server:
    // same address, login, proxy or firewall, TLS and charset); its
    // accepted certificate too. Not the folder nor any state.
    void TakeLoginFrom(const TFTPclient& other);

    // ---- operations
    void Connect() override;
    void Close();
    void SendPassword(const std::string& password);
    bool IsNoProxyHost(const std::string& host);
    void SendCommand(const std::string& text, int32_t nextState);
    void SendRaw(const std::string& text);
    void KeepAlive(const std::string& text);
    void PostCompletion();

    // transfers
    // An existing file is replaced only when the new one arrived whole: the
    // data goes into a file beside it, renamed over it at the end. A
    // replacement cut off by a drop or an abort is kept for a resume of the
    // same file; refused or failed, it goes and the old file stays.
    void Download(bool resume, bool inScript, int64_t expectedSize);
    // The data of a download whose final reply never came arrived whole: its
    // file takes the target's place.
    bool CommitReceivedFile();
    // The file a download writes into: the target, or its replacement.
    const std::string& ReceivePath() const { return m_partFile.empty() ? LocalFile : m_partFile; }
    // viaTemporaryName: "STOR" under a hidden name beside the target, then
    // "RNFR"/"RNTO" over it; the target changes only once the file is whole.
    void Upload(bool inScript, bool viaTemporaryName = false);
    // The next upload's modification time (seconds since 1970, UTC) for the
    // server to set once the file is whole ("MFMT", or "SITE UTIME" where
    // only that is offered); 0: none. Used by one upload.
    int64_t UploadTime = 0;
    // The next download asks the server for the file's exact time ("MDTM")
    // once it is whole; its answer in ReceivedTime (seconds since 1970, UTC;
    // -1 when none came).
    bool AskFileTime = false;
    int64_t ReceivedTime() const { return m_receivedTime; }
    // The budgets files' bytes take from (shared with other connections of
    // a run); none: as fast as they come. Listings are never held back.
    std::shared_ptr<TRateLimit> DownloadLimit, UploadLimit;
    void List();
    void Abort();
    void AbortWithSync();
    static int64_t LocalFileSize(const std::string& path);
    static std::string SafeLocalName(const std::string& path);
    static uint32_t TickDiff(uint32_t from, uint32_t to);

    // single commands
    void ChangeDir(const std::string& dir);
    void ChangeDirUp();
    void MakeDir(const std::string& dir);
    void RemoveDir(const std::string& dir);
    void DeleteRemoteFile(const std::string& name);
    void Rename(const std::string& from, const std::string& to);
    void Chmod(const std::string& name, const std::string& mode);
    void SendRawCommand(const std::string& text);
    void Quit();

private:
    friend struct FtpClientTestAccess;
    // SFTP: each operation handed to the session, its end raised as FTP's.
    std::unique_ptr<TSftpSession> m_sftp;
    std::string m_sftpStart;  // the folder to enter once logged in (the address's or the site's)
    void sftpConnect();
    void sftpDone(const TSftpResult& r);
    // False without a session (the operation ends at once, failed).
    bool sftpBegin(TPendingOperation pending);
    std::string sftpPath(const std::string& name) const;
    void sftpList();
    void sftpDownload(int64_t expectedSize);
    void sftpUpload();
    void sftpCommand(const std::string& text);
    // A file starts moving (a resume says from where): the counters start,
    // and a tick copies the session's bytes into them (progress, stall
    // watches) until it ends.
    void sftpTransferStarts();
    // The session goes (Close, QUIT, a drop); Connected() is false from now.
    void sftpDrop();
    static std::function<int64_t(int64_t)> sftpPace(const std::shared_ptr<TRateLimit>& limit);
    QTimer* m_sftpTick = nullptr;
    uint32_t m_sftpEpoch = 0;  // a session's events of before a Close or a new Connect are dropped
    using ReplyHandler = void (TFTPclient::*)(const std::string& reply);
    struct StateHandler {
        int32_t state;
        ReplyHandler handler;
    };
    static const StateHandler s_handlers[];

    void SetReplyState(int32_t state);
    // Ends the running operation: idle, and its completion event posted.
    void Finish();
    void Finish(bool success);
    void Info(FtpInfo info, const std::string& text);
    void Error(FtpError error, const std::string& text);
    void ConnectionAttempt();
    void ControlConnected();
    void ReplyLine(const std::string& line);
    void FinalReply(const std::string& line);
    void ControlClosed();
    void ControlTimeout();
    void ControlError(int code, const std::string& message);
    std::string TlsHost() const;
    void ControlTlsReady();
    void CertificateAccepted();
    void TlsRefused(const std::string& why);
    void SendUser();
    void AfterLogin();
    void DataTlsReady();
    void LoginFailed();
    void QuitAndRetry(bool sendQuit);
    void CompletionNotice(int param);
    void ReplyWatchTick();
    void ReplyTimedOut();
    void DirectoryStep();
    void Log(const std::string& line);

    // login handlers, one per reply state
    void OnFirewallGreeting(const std::string& reply);
    void OnFirewallUser(const std::string& reply);
    void OnFirewallPass(const std::string& reply);
    void OnGreeting(const std::string& reply);
    void OnAuthReply(const std::string& reply);
    void OnTlsWaitReply(const std::string& reply);
    void OnPbszReply(const std::string& reply);
    void OnProtReply(const std::string& reply);
    void OnUserReply(const std::string& reply);
    void OnPassReply(const std::string& reply);
    void OnAcctReply(const std::string& reply);
    void OnSystReply(const std::string& reply);
    void OnFeatReply(const std::string& reply);
    void OnOptsReply(const std::string& reply);
    void ResumeProbeStep();
    void MlstFactsStep();
    void OnRestProbeReply(const std::string& reply);
    void OnRestZeroReply(const std::string& reply);
    void OnInitialCwdReply(const std::string& reply);
    void OnPwdReply(const std::string& reply);
    void OnKeepAliveReply(const std::string& reply);

    // transfer handlers
    void OnTypeReply(const std::string& reply);
    void OnPasvReply(const std::string& reply);
    void OnEpsvReply(const std::string& reply);
    bool FileTimeStep();
    void OnFileTimeReply(const std::string& reply);
    void ConnectPassiveTo(const std::string& host, uint16_t port);
    void OnPortReply(const std::string& reply);
    void OnRestReply(const std::string& reply);
    void OnTransferReply(const std::string& reply);
    void NegotiateDataConnection();
    // "TYPE A" or "TYPE I" unless the server has that type already.
    void RequestType(char type);
    void ConnectPassive(const std::string& text);
    void ConfigureDataSocket();
    void DataConnectionStands();
    void DataConnected();
    void DataAccepted();
    void RestartStep();
    void SendTransferCommand();
    void DataConnectionFailed(bool withError21);
    void DataFault();
    void AcceptTimedOut();
    void TransferFault(FtpError kind, int err);
    void DataDoneHandler();
    void ListingLine(const std::string& line);
    bool PrepareDownloadFile(bool resume);
    // A file beside LocalFile that the data goes into (made at once, empty).
    bool MakePartFile(mode_t mode);
    void DropPartFile();
    // At the end of a download: the replacement takes the target's place, a
    // resumed file is checked against the source's size.
    void EndReceivedFile();
    void FinishTransfer();

    // command handlers
    void OnCwdReply(const std::string& reply);
    void OnMkdRmdReply(const std::string& reply);
    void OnDeleReply(const std::string& reply);
    void OnRnfrReply(const std::string& reply);
    void OnRntoReply(const std::string& reply);
    void OnChmodReply(const std::string& reply);
    void OnRawReply(const std::string& reply);
    void OnQuitReply(const std::string& reply);

    bool m_success = false;
    int64_t m_connectAttempt = 0;
    bool m_fatalError = false;
    std::string m_lastDirectory;
    std::string m_lastRefusal;
    std::string m_lastReply;
    int m_commandRefusals = 0;
    std::string m_localHost;
    // The representation type the server confirmed ('A', 'I'; 0 unknown): a
    // run of files in one type sends "TYPE" once, not before every file.
    char m_type = 0;
    char m_typeAsked = 0;
    bool m_warFtpd = false;
    std::string m_systemType;
    int32_t m_replyState = rsIdle;
    TPendingOperation m_pending = poNone;
    bool m_inMultiLine = false;
    std::string m_multiLineCode;  // the code that ends the multi-line reply
    // The inner lines of the last multi-line reply (bounded: a hostile
    // server's endless reply must not take all memory).
    std::vector<std::string> m_replyLines;
    static constexpr size_t MaxReplyLines = 1000;
    TFtpFeatures m_features;
    std::shared_ptr<TNameCodec> m_codec = std::make_shared<TNameCodec>();
    std::string m_codecServer;  // "host:port" the codec learnt from
    bool m_utf8On = false;
    bool m_fileTimeSent = false;  // this transfer's time command is out or done
    TFeature m_fileTimeFeature = TFeature::Mdtm;  // the command it is
    int64_t m_receivedTime = -1;
    bool m_loggedIn = false;
    bool m_passiveUsable = true;
    bool m_activeUsable = true;
    std::string m_deferredText;
    int32_t m_deferredState = 0;
    bool m_hasDeferred = false;
    QTimer* m_retryTimer = nullptr;
    bool m_aborting = false;
    bool m_dataStood = false;       // this negotiation's data connection was established
    bool m_transferFailed = false;  // a local file or data fault: the transfer fails
    bool m_dataNotResumed = false;
    bool m_awaitingReply = false;   // a command is out and its final reply not yet in
    uint32_t m_lastSent = 0;        // tick count of the last command
    QTimer* m_replyWatch = nullptr;
    QTimer* m_acceptTimer = nullptr;  // bounds the wait for an active data connection
    bool m_inScript = false;
    std::string m_renameTarget;
    std::string m_storName;  // the name an upload is stored under before its rename
    std::string m_partFile;  // the replacement being received for m_partFor
    std::string m_partFor;
    mode_t m_partMode = 0644;   // the replaced file's permissions
    int64_t m_replySize = -1;   // the size the "150" reply announced
    bool m_abortAsked = false;  // the user broke this transfer off
    bool m_abortEcho = false;   // an ABOR went out: its answer may come after the transfer's
    bool m_protP = false;         // data connections in TLS ("PROT P" accepted)
    bool m_certPending = false;   // the application decides on the certificate
    bool m_noRetry = false;       // this login's failure would repeat: no further attempt
    std::string m_earlyGreeting;  // an implicit-TLS greeting that came before the decision
    TCustomCorvSocket m_data;
    TCustomCorvSocket m_listener;
};

// The class of a reply: its first character ('1' to '5'), '\0' for none.
inline char ReplyClass(const std::string& reply)
{
    return reply.empty() ? '\0' : reply[0];
}

// Parses the directory out of a "PWD" reply: the text between the first double
// quote and the next one; empty when the reply holds no quote.
std::string ParsePwdReply(const std::string& reply);

// Server type detected from a "SYST" reply text (from its fifth character on,
// upper-cased).
TFTPServerType DetectServerType(const std::string& systemText);

// The address of a "PASV" reply: the text between the first "(" and the
// first ")" after it; without parentheses the first six comma-separated
// numbers after the code (servers write the address in several forms);
// empty when there is none.
std::string PassiveReplyText(const std::string& reply);

// The port of an "EPSV" reply ("229 ... (|||port|)", any printable
// delimiter); false for any other form, a network address included (the
// data goes to the control connection's server only).
bool ParseEpsvReply(const std::string& reply, uint16_t& port);

// Parses "h1,h2,h3,h4,p1,p2" (already trimmed); false when it is not one.
bool ParsePassiveAddress(const std::string& text, std::string& host, uint16_t& port);

// The "OPTS MLST" argument asking for the facts a listing needs that the
// server has but does not send now ("type*;size*;unix.mode;": the mode is
// missing); empty when none is missing.
std::string MlstFactsToAsk(const std::string& offered);

// "YYYYMMDDhhmmss[.fff]" (UTC, as MDTM answers and MFMT takes) as seconds
// since 1970; -1 when it is not one.
int64_t ParseFtpTimestamp(std::string_view text);
std::string FtpTimestamp(int64_t secondsUtc);

// An "MLSD" line naming a dot file (hidden on Unix).
bool MlsdNameIsHidden(std::string_view line);

// The argument of "PORT" for an address and port: "a,b,c,d,hi,lo".
std::string PortArgument(const std::string& address, int port);

// True when host matches one of the no-proxy entries.
bool MatchesNoProxyEntry(const std::string& entry, const std::string& host);
