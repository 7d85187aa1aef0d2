#include "ftp/Ftp.h"

#include "sftp/Sftp.h"

#include "ftp/SessionLog.h"
#include "net/EventDispatch.h"
#include "net/SocketErrors.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QTimer>

#include <strings.h>
#include <algorithm>

Q_LOGGING_CATEGORY(lcFtp, "corvyne.ftp", QtWarningMsg)

namespace {
constexpr int CompletionParam = 1034;
constexpr const char* RetryWaitText = "正等待重试...";
constexpr const char* ClosedBeforeLoginText = "从服务器断开.";
constexpr const char* ReplyTimeoutText = "服务器响应超时.";
}  // namespace

std::string_view ReplyStateName(int32_t state)
{
    switch (state) {
        case rsGreeting:
            return "greeting";
        case rsUser:
            return "USER";
        case rsPass:
            return "PASS";
        case rsAcct:
            return "ACCT";
        case rsSyst:
            return "SYST";
        case rsInitialCwd:
            return "initial CWD";
        case rsPwd:
            return "PWD";
        case rsAuth:
            return "AUTH TLS";
        case rsTlsWait:
            return "TLS handshake";
        case rsPbsz:
            return "PBSZ";
        case rsProt:
            return "PROT";
        case rsFeat:
            return "FEAT";
        case rsOptsUtf8:
            return "OPTS UTF8";
        case rsOptsMlst:
            return "OPTS MLST";
        case rsType:
            return "TYPE";
        case rsPasv:
            return "PASV";
        case rsPort:
            return "PORT";
        case rsEpsv:
            return "EPSV";
        case rsFileTime:
            return "file time";
        case rsRest:
            return "REST";
        case rsTransfer:
            return "transfer";
        case rsRnfr:
            return "RNFR";
        case rsRnto:
            return "RNTO";
        case rsCwd:
            return "CWD";
        case rsMkdRmd:
            return "MKD/RMD";
        case rsDele:
            return "DELE";
        case rsQuit:
            return "QUIT";
        case rsChmod:
            return "SITE CHMOD";
        case rsRaw:
            return "raw";
        case rsRestProbe:
            return "REST 100";
        case rsRestZero:
            return "REST 0";
        case rsFwGreeting:
            return "firewall greeting";
        case rsFwUser:
            return "firewall USER";
        case rsFwPass:
            return "firewall PASS";
        case rsKeepAlive:
            return "keep-alive";
        case rsIdle:
            return "idle";
        default:
            return "unknown";
    }
}

std::string_view FirewallTypeName(TFirewallType type)
{
    static constexpr std::string_view names[] = {"fwNone",      "fwSocks",        "fwSite",     "fwUserHost",
                                                 "fwUserLogin", "fwSiteUserHost", "fwUserHost2"};
    return type < FirewallTypeCount ? names[type] : "fwNone";
}

bool ServerIgnoresCase(TFTPServerType type)
{
    switch (type) {
        case ftpstWin2K:
        case ftpstVmsMultinet:
        case ftpstVmsUcx:
        case ftpstMVS:
        case ftpstVM:
        case ftpstVMVPS:
        case ftpstOS2:
        case ftpSTNetware:
        case ftpstMacOS:
            return true;
        default:
            return false;
    }
}

std::string_view ServerTypeName(TFTPServerType type)
{
    static constexpr std::string_view names[] = {
        "ftpstDefault",   "ftpstAutoDetect", "ftpstUNIX",  "ftpstRedhat",   "ftpstWin2K",
        "ftpstCorvyned",  "ftpstULTRIX",     "ftpstU5000", "ftpstSINTFTPD", "ftpstVmsMultinet",
        "ftpstVmsUcx",    "ftpstMVS",        "ftpstClix",  "ftpstQVT",      "ftpstNCSA",
        "ftpstChameleon", "ftpstVM",         "ftpstVMVPS", "ftpstMacFtpd",  "ftpstMacOS",
        "ftpstWarFTPD",   "ftpstUnixHidden", "ftpstOS2",   "ftpSTNetware",  "ftpstBSD"};
    return type < FtpServerTypeCount ? names[type] : "ftpstDefault";
}

// What each reply state does with a final reply; states not listed ignore it.
const TFTPclient::StateHandler TFTPclient::s_handlers[] = {
    {rsFwGreeting, &TFTPclient::OnFirewallGreeting},
    {rsFwUser, &TFTPclient::OnFirewallUser},
    {rsFwPass, &TFTPclient::OnFirewallPass},
    {rsGreeting, &TFTPclient::OnGreeting},
    {rsAuth, &TFTPclient::OnAuthReply},
    {rsTlsWait, &TFTPclient::OnTlsWaitReply},
    {rsPbsz, &TFTPclient::OnPbszReply},
    {rsProt, &TFTPclient::OnProtReply},
    {rsUser, &TFTPclient::OnUserReply},
    {rsPass, &TFTPclient::OnPassReply},
    {rsAcct, &TFTPclient::OnAcctReply},
    {rsSyst, &TFTPclient::OnSystReply},
    {rsFeat, &TFTPclient::OnFeatReply},
    {rsOptsUtf8, &TFTPclient::OnOptsReply},
    {rsOptsMlst, &TFTPclient::OnOptsReply},
    {rsRestProbe, &TFTPclient::OnRestProbeReply},
    {rsRestZero, &TFTPclient::OnRestZeroReply},
    {rsInitialCwd, &TFTPclient::OnInitialCwdReply},
    {rsPwd, &TFTPclient::OnPwdReply},
    {rsKeepAlive, &TFTPclient::OnKeepAliveReply},
    {rsType, &TFTPclient::OnTypeReply},
    {rsPasv, &TFTPclient::OnPasvReply},
    {rsEpsv, &TFTPclient::OnEpsvReply},
    {rsFileTime, &TFTPclient::OnFileTimeReply},
    {rsPort, &TFTPclient::OnPortReply},
    {rsRest, &TFTPclient::OnRestReply},
    {rsTransfer, &TFTPclient::OnTransferReply},
    {rsCwd, &TFTPclient::OnCwdReply},
    {rsMkdRmd, &TFTPclient::OnMkdRmdReply},
    {rsDele, &TFTPclient::OnDeleReply},
    {rsRnfr, &TFTPclient::OnRnfrReply},
    {rsRnto, &TFTPclient::OnRntoReply},
    {rsChmod, &TFTPclient::OnChmodReply},
    {rsRaw, &TFTPclient::OnRawReply},
    {rsQuit, &TFTPclient::OnQuitReply},
    {0, nullptr},
};

TFTPclient::TFTPclient(QObject* owner) : TCustomCorvSocket(owner)
{
    Port = 21;
    OnConnect = [this](TCustomCorvSocket*, int) { ControlConnected(); };
    OnLine = [this](TCustomCorvSocket*, const std::string& line) { ReplyLine(line); };
    OnClose = [this](TCustomCorvSocket*) { ControlClosed(); };
    OnError = [this](TCustomCorvSocket*, int code, const std::string& message) { ControlError(code, message); };
    OnTlsReady = [this](TCustomCorvSocket*) { ControlTlsReady(); };
    OnTimeout = [this](TCustomCorvSocket*) { ControlTimeout(); };
    OnResolved = [this](TCustomCorvSocket*, const std::string& address, bool, const std::string&) {
        Info(fiResolved, address);
    };
    m_data.Timeout = 30;
    m_listener.Timeout = 30;
    ConfigureDataSocket();
    m_replyWatch = new QTimer(this);
    m_replyWatch->setInterval(1000);
    connect(m_replyWatch, &QTimer::timeout, this, [this] { GuardedDispatch([this] { ReplyWatchTick(); }); });
    m_acceptTimer = new QTimer(this);
    m_acceptTimer->setSingleShot(true);
    connect(m_acceptTimer, &QTimer::timeout, this, [this] { GuardedDispatch([this] { AcceptTimedOut(); }); });
}

TFTPclient::~TFTPclient()
{
    OnFtpInfo = nullptr;
    OnFtpError = nullptr;
    OnFtpQuit = nullptr;
    Close();
    DropPartFile();  // the target stays as it was
}

std::string TFTPclient::Description() const
{
    return "POSIX sockets (IPv4, non-blocking)";
}

void TFTPclient::SetReplyState(int32_t state)
{
    if (state != m_replyState)
        qCDebug(lcFtp) << "reply state" << ReplyStateName(m_replyState).data() << "->" << ReplyStateName(state).data();
    m_replyState = state;
}

// Information and error listeners only report; a failing one is handed to the
// central handler right here so that it cannot cut the reply handling short.
void TFTPclient::Info(FtpInfo info, const std::string& text)
{
    if (OnFtpInfo)
        GuardedDispatch([&] { OnFtpInfo(this, info, text); });
}

void TFTPclient::Error(FtpError error, const std::string& text)
{
    if (OnFtpError)
        GuardedDispatch([&] { OnFtpError(this, error, text); });
}

void TFTPclient::Log(const std::string& line)
{
    if (LogSession)
        AppendSessionLog(LogFile, line, TimestampLog);
}

// ---------------------------------------------------------------- connecting

void TFTPclient::TakeLoginFrom(const TFTPclient& other)
{
    FtpServer = other.FtpServer;
    Port = other.Port;
    UserName = other.UserName;
    UserPassword = other.UserPassword;
    UserAccount = other.UserAccount;
    FirewallType = other.FirewallType;
    SocksHost = other.SocksHost;
    SocksPort = other.SocksPort;
    ProxyHost = other.ProxyHost;
    ProxyPort = other.ProxyPort;
    ProxyUser = other.ProxyUser;
    ProxyPass = other.ProxyPass;
    NoProxyHost = other.NoProxyHost;
    Retry = other.Retry;
    RetryDelay = other.RetryDelay;
    Timeout = other.Timeout;
    ServerDetect = other.ServerDetect;
    ServerType = other.ServerType;
    UsePasv = other.UsePasv;
    UsePasvAddress = other.UsePasvAddress;
    UseAppe = other.UseAppe;
    UseMlsd = other.UseMlsd;
    NameCharset = other.NameCharset;
    Tls = other.Tls;
    Sftp = other.Sftp;
    SshDir = other.SshDir;
    SKeyLogin = other.SKeyLogin;
    AlternateMode = other.AlternateMode;
    CustomIP = other.CustomIP;
    ShowHiddenFiles = other.ShowHiddenFiles;
    DownloadLimit = other.DownloadLimit;
    UploadLimit = other.UploadLimit;
    TrustedSha256 = other.Encrypted() ? other.PeerCertificate().Sha256 : other.TrustedSha256;
    auto codec = std::make_shared<TNameCodec>(NameCharset);
    codec->LearnFrom(*other.m_codec);
    m_codec = std::move(codec);
    m_codecServer = other.m_codecServer;
}

void TFTPclient::Connect()
{
    if (Sftp) {
        sftpConnect();
        return;
    }
    // Nothing of an earlier session (a transfer cut off by a drop) may
    // answer for this one.
    m_data.Disconnect();
    m_listener.Disconnect();
    m_pending = poNone;
    m_aborting = false;
    m_abortEcho = false;
    m_transferFailed = false;
    DataDone = false;
    ReplyDone = false;
    m_connectAttempt = 0;
    m_noRetry = false;
    ResumeSupported = false;
    ConnectionAttempt();
}

void TFTPclient::ConnectionAttempt()
{
    m_success = true;
    m_loggedIn = false;
    m_warFtpd = false;
    m_fatalError = false;
    m_inMultiLine = false;
    m_passiveUsable = true;
    m_activeUsable = true;
    m_protP = false;
    m_features.Clear();
    {
        // The same server again: what its names showed stays known.
        auto codec = std::make_shared<TNameCodec>(NameCharset);
        const std::string server = FtpServer + ":" + std::to_string(Port);
        if (server == m_codecServer)
            codec->LearnFrom(*m_codec);
        m_codec = std::move(codec);
        m_codecServer = server;
    }
    m_utf8On = false;
    m_certPending = false;
    m_earlyGreeting.clear();
    m_lastDirectory.clear();
    m_type = 0;
    ++m_connectAttempt;
    m_retryTimer = nullptr;  // the timer that started this attempt frees itself
    Host = FtpServer;
    if (FirewallType == fwSocks) {
        SocksDestHost = SocksHost;
        SocksVersion = 1;
    } else {
        SocksVersion = 0;
    }
    if (FirewallType != fwNone)
        Info(fiAttemptStartFirewall, "");
    else
        Info(fiAttemptStart, Host);
    TCustomCorvSocket::Connect();
}

void TFTPclient::ControlConnected()
{
    if (m_loggedIn)
        return;
    SetReplyState(FirewallType == fwSite || FirewallType == fwSiteUserHost ? rsFwGreeting : rsGreeting);
    Info(fiConnected, Host);
    m_localHost = LocalAddress();
    StartTimeoutTimer();     // the greeting must come within Timeout seconds
    m_awaitingReply = true;  // and after a "120" the reply watch waits for the "220"
    m_lastSent = TickCount();
    m_replyWatch->start();
    if (Tls == tlsImplicit) {
        // TLS from the first byte: the greeting comes through it.
        SetReplyState(rsTlsWait);
        StartTls(TlsHost());
    }
}

std::string TFTPclient::TlsHost() const
{
    return FirewallType == fwSocks ? SocksHost : FtpServer;
}

void TFTPclient::Close()
{
    ++m_sftpEpoch;
    if (m_sftp) {
        sftpDrop();
        m_loggedIn = false;
        m_replyState = rsIdle;
    }
    if (m_retryTimer) {
        m_retryTimer->stop();
        m_retryTimer->deleteLater();
        m_retryTimer = nullptr;
    }
    m_data.Disconnect();
    m_listener.Disconnect();
    m_awaitingReply = false;
    m_replyWatch->stop();
    Info(fiClosed, "");
    Disconnect();
}

void TFTPclient::Finish()
{
    if (m_pending == poFileStored && !m_storName.empty()) {
        // Stored whole under its temporary name: now over the target. A
        // failed upload leaves the target as it was.
        const std::string stored = std::exchange(m_storName, {});
        if (m_success && !m_transferFailed && !m_aborting) {
            m_data.Disconnect();
            m_renameTarget = RemoteFile;
            SendCommand("RNFR " + stored, rsRnfr);
            return;
        }
    }
    if (FileTimeStep())
        return;
    SetReplyState(rsIdle);
    PostCompletion();
}

void TFTPclient::Finish(bool success)
{
    m_success = success;
    Finish();
}

// A command whose reply does not come within Timeout seconds, while neither
// the control nor the data connection shows any sign of life, ends the
// session: a silent server must not hang the client for ever.
void TFTPclient::ReplyWatchTick()
{
    if (!IsConnected()) {
        m_replyWatch->stop();
        return;
    }
    if (!m_awaitingReply || Timeout <= 0)
        return;
    const uint32_t now = TickCount();
    const uint32_t idle =
        std::min({TickDiff(m_lastSent, now), TickDiff(LastActivity, now), TickDiff(m_data.LastActivity, now)});
    if (idle >= static_cast<uint32_t>(Timeout) * 1000u)
        ReplyTimedOut();
}

void TFTPclient::ReplyTimedOut()
{
    m_awaitingReply = false;
    m_replyWatch->stop();
    Error(feSocket, ReplyTimeoutText);
    m_data.Disconnect();
    m_listener.Disconnect();
    if (!m_loggedIn || m_pending == poLogin) {
        ControlTimeout();  // a failed login attempt: retry or give up
        return;
    }
    Disconnect();
    m_pending = poNone;
    SetReplyState(rsIdle);
    Info(fiDisconnected, "Disconnected");
    if (OnFtpQuit)
        OnFtpQuit(this);
}

// ---------------------------------------------------------------- replies

void TFTPclient::ReplyLine(const std::string& line)
{
    Log(line);
    Info(fiReplyLine, line);
    const bool codeStart = !line.empty() && line[0] >= '0' && line[0] <= '5';
    if (m_inMultiLine) {
        // Only the reply's own code and a blank end it: a "230 ..." line
        // inside a "331-" reply is text.
        if (line.size() >= 4 && line.compare(0, 3, m_multiLineCode) == 0 && line[3] == ' ') {
            Info(fiMultiLineLast, line);
            FinalReply(line);
        } else {
            Info(fiMultiLineInner, line);
            if (m_replyLines.size() < MaxReplyLines)
                m_replyLines.push_back(line);
        }
        return;
    }
    if (!codeStart)
        return;
    if (line.size() > 3 && line[3] == '-') {
        if (m_replyState >= rsSyst && m_replyState != rsAuth && m_replyState != rsTlsWait)
            m_loggedIn = true;
        if (m_replyState == rsGreeting) {
            std::string upper = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()))
                                    .toUpper()
                                    .toLatin1()
                                    .toStdString();
            if (upper.find("WAR-FTPD") != std::string::npos)
                m_warFtpd = true;
        }
        m_inMultiLine = true;
        m_multiLineCode = line.substr(0, 3);
        m_replyLines.clear();
        Info(fiMultiLineFirst, line);
        return;
    }
    FinalReply(line);
}

void TFTPclient::FinalReply(const std::string& line)
{
    m_inMultiLine = false;
    if (m_abortEcho && ReplyClass(line) != '1' && m_replyState != rsTransfer) {
        // The first final reply after an abort, outside a transfer: a 225,
        // 226 or 426 there is the late one of the pair an abort brings (the
        // ABOR's answer after the transfer's: vsftpd reads ABOR over TLS only
        // once the file has gone; or proftpd's 426 after its 226), never the
        // answer to the command now waiting.
        m_abortEcho = false;
        for (const char* late : {"225", "226", "426"})
            if (line.compare(0, 3, late) == 0)
                return;
    }
    if (ReplyClass(line) != '1')
        m_awaitingReply = false;
    m_lastReply = line;
    if (ReplyClass(line) >= '4') {
        m_lastRefusal = line;
        switch (m_replyState) {
            case rsCwd:
            case rsMkdRmd:
            case rsDele:
            case rsRnfr:
            case rsRnto:
            case rsChmod:
            case rsRaw:
                ++m_commandRefusals;
                break;
            default:
                break;
        }
    }
    if (line.compare(0, 3, "421") == 0) {
        // Service closing: before login it is a refused attempt; afterwards the
        // close that follows is reported on its own.
        if (!m_loggedIn && !m_retryTimer)
            QuitAndRetry(false);
        return;
    }
    for (const StateHandler* h = s_handlers; h->handler; ++h) {
        if (h->state == m_replyState) {
            (this->*(h->handler))(line);
            return;
        }
    }
}

// ---------------------------------------------------------------- failures and retries

void TFTPclient::LoginFailed()
{
    // Idle first: lines still buffered are delivered while disconnecting and
    // must not be taken for answers to the refused step.
    SetReplyState(rsIdle);
    if (!m_retryTimer)
        QuitAndRetry(true);
}

void TFTPclient::QuitAndRetry(bool sendQuit)
{
    if (sendQuit && IsConnected())
        SendRaw("QUIT");
    Disconnect();
    if (m_retryTimer) {
        m_retryTimer->stop();
        m_retryTimer->deleteLater();
        m_retryTimer = nullptr;
    }
    if (m_connectAttempt < static_cast<int64_t>(Retry) && !m_noRetry) {
        Info(fiRetryScheduled, RetryDelay != 0 ? RetryWaitText : "");
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        QTimer* timer = m_retryTimer;
        connect(timer, &QTimer::timeout, this, [this, timer] {
            timer->deleteLater();
            if (m_retryTimer != timer)
                return;
            GuardedDispatch([this] { ConnectionAttempt(); });
        });
        timer->start(RetryDelay * 1000 + 100);
    } else {
        Info(fiAttemptsExhausted, "");
        Finish();
    }
}

void TFTPclient::ControlClosed()
{
    m_awaitingReply = false;
    m_certPending = false;
    // A server that goes away in the middle of a file (killed, crashed) is a
    // drop to come back from, as a broken data connection is; a close while
    // idle (after QUIT, an idle time-out) is not.
    if (m_loggedIn && m_replyState != rsIdle && (m_pending == poFileReceived || m_pending == poFileStored))
        m_fatalError = true;
    Disconnect();
    if (m_loggedIn) {
        Info(fiDisconnected, "Disconnected");
        if (OnFtpQuit)
            OnFtpQuit(this);
        return;
    }
    // Any close while the login sequence is still running means the attempt
    // failed (not only one before the greeting): report it and retry, or the
    // application would wait for a login that never ends.
    switch (m_replyState) {
        case rsGreeting:
        case rsAuth:
        case rsTlsWait:
        case rsUser:
        case rsPass:
        case rsAcct:
        case rsSyst:
        case rsFeat:
        case rsOptsUtf8:
        case rsOptsMlst:
        case rsRestProbe:
        case rsRestZero:
        case rsInitialCwd:
        case rsFwGreeting:
        case rsFwUser:
        case rsFwPass:
            Info(fiClosedBeforeLogin, ClosedBeforeLoginText);
            SetReplyState(rsIdle);
            if (!m_retryTimer)
                QuitAndRetry(false);
            break;
        case rsPwd:
            if (m_pending == poLogin) {
                Info(fiClosedBeforeLogin, ClosedBeforeLoginText);
                SetReplyState(rsIdle);
                if (!m_retryTimer)
                    QuitAndRetry(false);
            }
            break;
        default:
            break;
    }
}

void TFTPclient::ControlTimeout()
{
    SetReplyState(rsIdle);
    if (!m_retryTimer)
        QuitAndRetry(false);
}

void TFTPclient::ControlError(int code, const std::string& message)
{
    m_certPending = false;
    if (code == SocketCode::TlsFailed)
        Error(feTls, message);
    else
        Error(feSocket, ErrorText(code));
    if (OnFtpQuit)
        OnFtpQuit(this);
}

// ---------------------------------------------------------------- sending

void TFTPclient::SendCommand(const std::string& text, int32_t nextState)
{
    m_hasDeferred = false;
    m_deferredText.clear();
    if (m_replyState == rsKeepAlive) {
        m_deferredText = text;
        m_deferredState = nextState;
        m_hasDeferred = true;
        return;
    }
    SendRaw(text);
    SetReplyState(nextState);
}

void TFTPclient::SendRaw(const std::string& text)
{
    // One command per line: a CR or LF inside a name or argument would let it
    // smuggle a second command to the server, so the text ends there.
    const std::string command = text.substr(0, text.find_first_of("\r\n"));
    const std::string shown = command.compare(0, 4, "PASS") == 0 ? std::string("PASS xxxxxx") : command;
    // A type asked for by anyone (a raw command too), or a new login, leaves
    // the server's type unknown until a reply confirms it.
    for (const char* resets : {"TYPE", "REIN", "USER"})
        if (::strncasecmp(command.c_str(), resets, 4) == 0)
            m_type = 0;
    Info(fiCommandSent, shown);
    Log(shown);
    m_awaitingReply = true;
    m_lastSent = TickCount();
    if (!m_replyWatch->isActive())
        m_replyWatch->start();
    SendLine(command);
}

void TFTPclient::SendPassword(const std::string& password)
{
    if (m_replyState == rsUser)
        SendCommand("PASS " + password, rsPass);
}

void TFTPclient::KeepAlive(const std::string& text)
{
    if (Sftp)
        return;  // SSH keeps its own connection
    SendCommand(text, rsKeepAlive);
}

void TFTPclient::OnKeepAliveReply(const std::string&)
{
    SetReplyState(rsIdle);
    if (m_hasDeferred) {
        m_hasDeferred = false;
        std::string text = std::move(m_deferredText);
        m_deferredText.clear();
        SendRaw(text);
        SetReplyState(m_deferredState);
    }
}

// ---------------------------------------------------------------- completion

void TFTPclient::PostCompletion()
{
    QMetaObject::invokeMethod(
        this, [this] { GuardedDispatch([this] { CompletionNotice(CompletionParam); }); }, Qt::QueuedConnection);
}

void TFTPclient::CompletionNotice(int param)
{
    if (param != CompletionParam)
        return;
    Notify* event = nullptr;
    switch (m_pending) {
        case poLogin:
            event = &OnLoggedIn;
            break;
        case poDirectoryChanged:
            event = &OnDirectoryChanged;
            break;
        case poDirectoryCreated:
            event = &OnDirectoryCreated;
            break;
        case poDirectoryDeleted:
            event = &OnDirectoryDeleted;
            break;
        case poFileDeleted:
            event = &OnFileDeleted;
            break;
        case poFileReceived:
            event = &OnFileReceived;
            break;
        case poFileStored:
            event = &OnFileStored;
            break;
        case poListingDone:
            event = &OnListingDone;
            break;
        case poFileRenamed:
            event = &OnFileRenamed;
            break;
        case poNone:
            return;
    }
    const TPendingOperation done = m_pending;
    m_pending = poNone;
    if (done == poFileReceived || done == poFileStored || done == poListingDone) {
        if (m_transferFailed)
            m_success = false;
        if (done == poFileReceived)
            EndReceivedFile();
        FinishTransfer();
    }
    if (event && *event)
        (*event)(this);
}

// ---------------------------------------------------------------- no-proxy hosts

bool MatchesNoProxyEntry(const std::string& entry, const std::string& host)
{
    if (entry == host)
        return true;
    if (!entry.empty() && entry[0] == '*')
        return host.find(entry.substr(1)) != std::string::npos;
    const size_t star = entry.find('*', 1);
    if (star != std::string::npos)
        return host.size() >= star && host.compare(0, star, entry, 0, star) == 0;
    return false;
}

bool TFTPclient::IsNoProxyHost(const std::string& host)
{
    for (const std::string& entry : NoProxyHost) {
        if (MatchesNoProxyEntry(entry, host)) {
            FirewallType = fwNone;
            return true;
        }
    }
    return false;
}
