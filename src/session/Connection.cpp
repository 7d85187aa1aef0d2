#include "session/Connection.h"

#include "common/Text.h"
#include "panes/PaneLogic.h"
#include "sites/TrustedCertificates.h"
#include "transfer/TransferProgress.h"

#include <QDateTime>

#include <cstdio>
#include <filesystem>

#include <pwd.h>
#include <unistd.h>

namespace {
// Who ssh would log in as when no user is given.
std::string LocalUserName()
{
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_name ? pw->pw_name : std::string();
}
}  // namespace

TConnectionWorkflow::TConnectionWorkflow(TFTPclient& client, TSettings& settings, TIniFile& settingsFile,
                                         TSiteDatabase& sites, IPrompt& prompt, QObject* parent)
    : QObject(parent),
      m_ftp(client),
      m_settings(settings),
      m_settingsFile(settingsFile),
      m_sites(sites),
      m_prompt(&prompt)
{
    m_ftp.OnFtpInfo = [this](TFTPclient*, ::FtpInfo kind, const std::string& text) { FtpInfo(kind, text); };
    m_ftp.OnFtpError = [this](TFTPclient*, ::FtpError kind, const std::string& text) { FtpError(kind, text); };
    m_ftp.OnLoggedIn = [this](TFTPclient*) { LoggedIn(); };
    m_ftp.OnFtpQuit = [this](TFTPclient*) { FtpQuit(); };
    m_ftp.OnListingDone = [this](TFTPclient*) { ListingFinished(); };
    m_ftp.OnCertificate = [this](TFTPclient*, const TCertificateInfo& c) { CertificateOffered(c); };
    m_ftp.OnHostKey = [this](const IPrompt::HostKeyRequest& k) { return m_prompt->AskHostKey(k); };
    m_ftp.OnSecret = [this](const std::string& question, bool) -> std::optional<std::string> {
        std::string secret;
        if (!m_prompt->AskSecret("SFTP 登录", question, secret))
            return std::nullopt;
        return secret;
    };
    m_ftp.OnDirectoryChanged = [this](TFTPclient* c) {
        Q_EMIT DirectoryEntered();
        if (!c->Success() && IsTransferring(m_state))
            Q_EMIT TransferDirectoryFailed();
        else if (!c->Success() && IsDeleting(m_state))
            Q_EMIT DeleteDirectoryFailed();
        else if (!c->Success())
            GoIdle();
        else if (m_showRemote)
            m_showRemote();
        else
            Refresh();
    };
    m_idleTimer.setInterval(1000);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] { IdleTick(); });
    connect(&m_restartTimer, &QTimer::timeout, this, [this] { RestartTick(); });
    ReloadHistory();
}

void TConnectionWorkflow::SetState(SessionState s)
{
    m_state = s;
    Q_EMIT StateChanged();
}

void TConnectionWorkflow::LogLine(const std::string& text, int colour)
{
    Q_EMIT LineLogged(text, colour);
}

void TConnectionWorkflow::ShowStatus(int code, const std::string& attempt)
{
    const std::string text = StatusText(code, m_ftp.FtpServer, m_ftp.Port, attempt);
    if (!text.empty())
        Q_EMIT StatusShown(text);
}

void TConnectionWorkflow::ReloadHistory()
{
    m_history = ReadHistory(m_settingsFile);
    Q_EMIT HistoryChanged(m_history);
}

// ---------------------------------------------------------------- connecting

void TConnectionWorkflow::Connect(TQuickConnectFields& fields, bool prepared)
{
    if (!prepared)
        AfterLogin = AfterLoginAction::None;
    SetState(SessionState::Connected);
    Prepare(fields);
}

void TConnectionWorkflow::Prepare(TQuickConnectFields& f)
{
    if (f.server.empty()) {
        SetState(SessionState::Disconnected);
        return;
    }
    m_idleTimer.stop();
    m_ftp.Close();
    if (ConnectionDirty) {
        m_ftp.LogSession = m_settings.Log;
        m_ftp.AlternateMode = m_settings.AlternateMode;
        m_ftp.UsePasv = m_settings.UsePasv;
        m_ftp.Tls = m_settings.TlsWhenOffered ? tlsIfOffered : tlsOff;
        m_ftp.NameCharset = TNameCharset::Auto;
        m_ftp.UseMlsd = true;
        m_ftp.FirewallType = fwNone;
        m_ftp.Timeout = m_settings.Delay;
        m_ftp.ServerDetect = true;
        m_ftp.ServerType = ftpstAutoDetect;
        m_ftp.ShowHiddenFiles = m_settings.ShowHidden;
        m_ftp.Retry = m_settings.Retry;
        m_ftp.RetryDelay = m_settings.RetryDelay;
        m_ftp.ResumeSupport = 0;
        m_ftp.UseAppe = m_settings.UseAPPE;
        m_ftp.SKeyLogin = false;
        m_ftp.Sftp = false;
        if (!m_continuingRun)
            m_ftp.TlsUpTo12 = false;  // what a server taught this session only
        Session = TSessionOptions();
        Q_EMIT HomeBookmarkChanged("");
        if (!m_continuingRun)
            Q_EMIT LogCleared();  // the log of a run that goes on stays whole
        std::string startDirectory;
        if (AfterLogin == AfterLoginAction::CommandLineQueue)
            AfterLogin = AfterLoginAction::None;  // no queue yet to resume
        if (CurrentSite.empty() && AfterLogin == AfterLoginAction::None)
            m_ftp.InitialDirectory.clear();
        startDirectory = m_ftp.InitialDirectory;
        Session.AntiIdle = m_settings.Antiidle;
        Session.RestoreTransfer = m_settings.RestoreTransfer;
        Session.TransferMode = TransferModePanel;  // a site's own mode replaces it
        Q_EMIT Status2Shown("");
        m_ftp.UserAccount.clear();

        const TServerField field = ReadServerField(f.server, m_sites);
        if (field.kind == TServerField::Url) {
            // What the address leaves out comes from the fields (a command
            // line's USER=, PASS= and PORT=); an ftps:// address without a
            // port goes to 990 unless another was given.
            const auto url = ParseFtpUrl(f.server);
            if (url->userGiven || f.user.empty()) {
                f.user = url->user;
                f.password = url->password;
            }
            // An SFTP address keeps its scheme in the field and the history.
            f.server = url->sftp ? "sftp://" + url->host : url->host;
            if (url->portGiven || f.port.empty() || (f.port == "21" && url->port != "21"))
                f.port = url->port;
            if (url->tls)
                m_ftp.Tls = *url->tls;
            m_ftp.Sftp = url->sftp;
            if (url->startDirectory)
                startDirectory = *url->startDirectory;
            if (url->filePath) {
                // The download waits for the transfer queue; the session
                // starts in the file's directory.
                LogLine("队列中的下载: " + *url->filePath, lcNormal);
            }
        } else if (field.kind == TServerField::Site) {
            CurrentSite = field.name;
            if (!ApplySite(f, startDirectory)) {
                GoDisconnected();
                return;
            }
        } else if (field.kind == TServerField::Host) {
            f.server = field.name;
            if (field.user)
                f.user = *field.user;
            if (field.password)
                f.password = *field.password;
            if (field.port)
                f.port = *field.port;
            if (field.startDirectory)
                startDirectory = *field.startDirectory;
        } else {
            GoDisconnected();
            return;
        }
        if (CurrentSite.empty()) {
            if (f.password == "********" && f.historyIndex >= 0) {
                // Appended, not "h" + to_string(): GCC 12 at -O3 warns wrongly (-Wrestrict).
                std::string key = "h";
                key += std::to_string(f.historyIndex + 1);
                const auto raw = m_settingsFile.Document().Get("History", key);
                if (raw)
                    f.password = HistoryPassword(*raw);
            }
            // SSH has no anonymous login: the local user's name, as ssh does.
            if (f.user.empty())
                f.user = m_ftp.Sftp ? LocalUserName() : "anonymous";
            if (f.password.empty() && !m_ftp.Sftp)
                f.password = m_settings.Email;
            if (f.port.empty())
                f.port = m_ftp.Sftp ? "22" : "21";
        }
        IdleEnabled = Session.AntiIdle;
        m_ftp.InitialDirectory = startDirectory;
        if (!startDirectory.empty())
            Q_EMIT HomeBookmarkChanged(startDirectory);
        Q_EMIT SiteChosen();
        m_ftp.UserPassword = f.password;
        m_ftp.UserName = f.user;
        const int port = ParseIniInteger(f.port).value_or(m_ftp.Sftp ? 22 : 21);
        if (m_ftp.Sftp) {
            // SSH goes straight to the server: no FTP proxy or firewall.
            m_ftp.FirewallType = fwNone;
            m_ftp.FtpServer = TrimBlanks(f.server.starts_with("sftp://") ? f.server.substr(7) : f.server);
            m_ftp.Port = static_cast<uint16_t>(port > 0 && port < 65536 ? port : 22);
        } else {
            ChooseProxy(m_ftp, m_settings, f.server, port > 0 && port < 65536 ? port : 21, Session.NoProxy);
        }
        if (CurrentSite.empty() && m_settings.KeepHistory) {
            m_history = RecordHistory(m_settingsFile, HistoryEntry(f.server, f.user, f.password, f.port));
            Q_EMIT HistoryChanged(m_history);
        }
        TransferModePanel = Session.TransferMode;
        Q_EMIT TransferModeShown(TransferModePanel);
        ConnectionDirty = false;
    }
    SetState(SessionState::Connecting);
    m_serverMessages.clear();
    m_ftp.Connect();
}

bool TConnectionWorkflow::ApplySite(TQuickConnectFields& f, std::string& startDirectory)
{
    const auto site = m_sites.ReadSite(CurrentSite);
    if (!site || site->IP.empty())
        return false;
    f.server = site->IP;
    f.port = site->Port;
    m_ftp.Tls = SiteTls(site->Tls, m_ftp.Tls);
    NameCharsetFromKey(site->Charset, m_ftp.NameCharset);  // empty or unknown: automatic
    m_ftp.UseMlsd = site->Listing != "LIST";
    m_ftp.Sftp = site->Protocol == "SFTP";
    ApplySiteOptions(site->Options, m_ftp, Session);
    Session.MaxTransfers = ParseIniInteger(site->MaxTransfers);
    Session.DownloadLimit = ParseIniInteger(site->DownloadLimit);
    Session.UploadLimit = ParseIniInteger(site->UploadLimit);
    if (auto n = ParseIniInteger(site->Retry))
        m_ftp.Retry = *n;
    if (auto n = ParseIniInteger(site->Timeout))
        m_ftp.Timeout = *n;
    m_ftp.UserAccount = site->Account;
    if (!site->RemoteDir.empty() && AfterLogin == AfterLoginAction::None)
        startDirectory = site->RemoteDir;
    Q_EMIT SitePanesChosen(site->LocalDir, site->LocalFilter, site->RemoteFilter);
    if (!site->User) {
        f.user = "anonymous";
        f.password = m_settings.Email;
        return true;
    }
    if (*site->User != "?" && (site->HasPassword() || m_ftp.SKeyLogin)) {
        f.user = *site->User;
        f.password = m_ftp.SKeyLogin ? std::string() : site->Password();
        return true;
    }
    IPrompt::LoginRequest req;
    req.mode = m_ftp.SKeyLogin ? IPrompt::LoginRequest::UserOnly : IPrompt::LoginRequest::Credentials;
    if (*site->User != "?")
        req.user = *site->User;
    if (!m_prompt->AskLogin(req))
        return false;
    f.user = req.user;
    f.password = req.password;
    if (req.savePassword) {
        TSiteRecord saved = *site;
        saved.User = req.user;
        saved.SetPassword(req.password);
        m_sites.WriteSite(saved);
        m_sites.Sites().Document().Set(CurrentSite, "Prompt", "0");
    }
    return true;
}

// A certificate the system does not trust: trusted before for this server
// (always, or once in this run), or the person decides; a changed one is
// never taken silently.
void TConnectionWorkflow::CertificateOffered(const TCertificateInfo& c)
{
    const std::string host = m_ftp.FirewallType == fwSocks ? m_ftp.SocksHost : m_ftp.FtpServer;
    const std::string server = host + ":" + std::to_string(m_ftp.FirewallType == fwSocks ? m_ftp.SocksPort : m_ftp.Port);
    const std::string dataDir = std::filesystem::path(m_settingsFile.Path()).parent_path().string();
    TTrustedCertificates store(dataDir.empty() ? std::string(".") : dataDir);
    const std::string trusted = store.Fingerprint(server);
    if ((!trusted.empty() && trusted == c.Sha256) || m_trustedOnce.count(server + " " + c.Sha256)) {
        LogLine("证书已被信任: " + c.Sha256, lcNormal);
        m_ftp.AnswerCertificate(true);
        return;
    }
    IPrompt::CertificateRequest req;
    req.server = server;
    req.subject = c.Subject;
    req.issuer = c.Issuer;
    req.notBefore = c.NotBefore;
    req.notAfter = c.NotAfter;
    req.sha256 = c.Sha256;
    req.problem = c.VerifyText;
    if (!trusted.empty()) {
        req.trustedBefore = trusted;
        LogLine("警告: " + server + " 的证书与以前信任的不同! 以前: " + trusted + ", 现在: " + c.Sha256, lcError);
    }
    switch (m_prompt->AskCertificate(req)) {
        case IPrompt::CertificateAnswer::TrustAlways:
            if (!store.Trust(server, c.Sha256, c.Subject, c.NotAfter))
                LogLine("无法保存受信任的证书: " + store.LastError(), lcError);
            [[fallthrough]];
        case IPrompt::CertificateAnswer::TrustOnce:
            m_trustedOnce.insert(server + " " + c.Sha256);
            m_ftp.AnswerCertificate(true);
            break;
        case IPrompt::CertificateAnswer::Refuse:
            m_ftp.AnswerCertificate(false);
            break;
    }
}

void TConnectionWorkflow::Disconnect()
{
    if (static_cast<int>(m_state) > static_cast<int>(SessionState::Connected))
        m_ftp.SendRawCommand("QUIT");
    LogLine("从服务器断开.", lcNormal);
    GoDisconnected();
}

void TConnectionWorkflow::Reconnect(bool resumeQueue)
{
    m_idleTimer.stop();
    GoDisconnected();
    if (resumeQueue)
        AfterLogin = AfterLoginAction::ResumeQueue;
    TQuickConnectFields unchanged;
    unchanged.server = m_ftp.FtpServer;  // not read: the settings in the client are used
    const bool dirty = ConnectionDirty;
    ConnectionDirty = false;
    m_continuingRun = resumeQueue;
    Prepare(unchanged);
    m_continuingRun = false;
    ConnectionDirty = dirty;
}

bool TConnectionWorkflow::ChangeRemoteDirectory(const std::string& name)
{
    if (m_state != SessionState::Idle)
        return false;
    m_idleTimer.stop();
    SetState(SessionState::RemoteCommand);
    ShowStatus(6);
    if (name == "..")
        m_ftp.ChangeDirUp();
    else
        m_ftp.ChangeDir(name);
    return true;
}

void TConnectionWorkflow::Refresh()
{
    if (m_listRemote) {
        m_listRemote();
        return;
    }
    Q_EMIT RemoteCleared();
    StartList();
}

bool TConnectionWorkflow::UserRefresh()
{
    if (m_state != SessionState::Idle)
        return false;
    SetState(SessionState::Refreshing);
    Refresh();
    return true;
}

void TConnectionWorkflow::StartList()
{
    m_idleTimer.stop();
    ShowStatus(5);
    m_ftp.List();
}

void TConnectionWorkflow::ListingFromCache()
{
    m_ftp.TransferBytes = 0;
    ListingFinished();
}

// ---------------------------------------------------------------- states

void TConnectionWorkflow::GoDisconnected()
{
    m_restartTimer.stop();
    m_idleTimer.stop();
    SetState(SessionState::Disconnected);
    Q_EMIT CaptionShown(ProgramTitle);
    m_ftp.Close();
    ShowStatus(0);
    Q_EMIT EncryptionShown(false, {});
    Q_EMIT RemoteCleared();
    Q_EMIT Status2Shown("");
    IdleEnabled = false;
}

void TConnectionWorkflow::SetBusy(SessionState s)
{
    m_idleTimer.stop();
    SetState(s);
}

void TConnectionWorkflow::RestartIdleTimer()
{
    m_idleCount = 0;
    m_idleTimer.start();
}

void TConnectionWorkflow::GoIdle()
{
    RestartIdleTimer();
    Q_EMIT Status2Shown("");
    SetState(SessionState::Idle);
    ShowStatus(13);
}

void TConnectionWorkflow::IdleTick()
{
    ++m_idleCount;
    char text[32];
    std::snprintf(text, sizeof text, "空闲 (%.2d:%.2d)", (m_idleCount % 3600) / 60, m_idleCount % 60);
    Q_EMIT StatusShown(text);
    if (IdleEnabled && m_idleCount >= m_settings.IdleTime &&
        (m_state == SessionState::Idle || m_state == SessionState::Editing)) {
        m_idleCount = 0;
        m_ftp.KeepAlive(m_settings.IdleNOOP ? "NOOP" : "PWD");
        ShowStatus(13);
    }
}

// ---------------------------------------------------------------- client events

void TConnectionWorkflow::FtpInfo(::FtpInfo kind, const std::string& text)
{
    switch (kind) {
        case fiDataConnected:
        case fiFileSize:
            if (IsTransferring(m_state))
                Q_EMIT TransferInfo(kind, text);
            break;
        case fiConnected:
            if (m_state == SessionState::Disconnected)
                break;
            if (m_ftp.FirewallType != fwNone) {
                LogLine("连接到代理服务器. 正等待登录主机.", lcNormal);
                ShowStatus(11);
            } else {
                LogLine("已连接.  正等待响应.", lcNormal);
                ShowStatus(3);
            }
            break;
        case fiDisconnected:
            // A file in the middle of moving when the line went: it has its
            // line in the transfer log too.
            if ((m_state == SessionState::Downloading || m_state == SessionState::Uploading))
                Q_EMIT TransferCut(m_state == SessionState::Uploading);
            if (IsTransferring(m_state) && Session.RestoreTransfer)
                SetState(SessionState::ConnectionLost);
            LogLine("服务器断开.", lcNormal);
            ShowStatus(0);
            break;
        case fiResolved:
            LogLine("解析主机为: " + text, lcNormal);
            break;
        // Names in these lines are the server's bytes: shown in its charset.
        case fiReplyLine:
            LogLine(m_ftp.NameCodec().Decode(text).toStdString(), lcReply);
            break;
        case fiCommandSent:
            LogLine(m_ftp.NameCodec().Decode(text).toStdString(), lcCommand);
            break;
        case fiAttemptsExhausted:
            LogLine("连接尝试失败.", lcNormal);
            GoDisconnected();
            break;
        case fiListingData:
            // One per listing line: the count is shown at most ten times a second
            // (a label updated per line costs more than the line itself).
            if (!IsTransferring(m_state) && m_state != SessionState::Disconnected &&
                TFTPclient::TickDiff(m_lastByteCount, CoarseTickCount()) >= 100) {
                m_lastByteCount = CoarseTickCount();
                Q_EMIT Status2Shown(std::to_string(m_ftp.TransferBytes) + " 字节已接收");
            }
            break;
        case fiTransferComplete: {
            const std::string speed = FinishedSpeedText(m_ftp.TransferBytes, m_ftp.TransferTime, m_settings.ShowCps);
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", m_ftp.TransferTime / 1000.0);
            LogLine(
                text + " " + PaneSizeText(m_ftp.TransferBytes).toStdString() + " 字节 共 " + seconds + " 秒 (" + speed,
                lcNormal);
            break;
        }
        case fiSKeyChallenge: {
            IPrompt::LoginRequest req;
            req.mode = IPrompt::LoginRequest::Challenge;
            req.user = m_ftp.UserName;
            req.challenge = text;
            if (m_prompt->AskLogin(req))
                m_ftp.SendPassword(req.password);
            else
                GoDisconnected();
            break;
        }
        case fiListingLine:
            if (m_state != SessionState::Disconnected)
                Q_EMIT ListingLine(text);
            break;
        case fiMultiLineFirst:
        case fiMultiLineInner:
            if (!IsTransferring(m_state))
                m_serverMessages.push_back(text);
            break;
        case fiMultiLineLast:
            if (!IsTransferring(m_state) && m_ftp.ReplyState() >= rsSyst && m_ftp.ReplyState() != rsTransfer)
                ShowMessageBuffer(false, text);
            break;
        case fiSystReply:
            if (!IsTransferring(m_state) && m_ftp.ReplyState() != rsTransfer)
                ShowMessageBuffer(true, text);
            break;
        case fiClosed:
            Q_EMIT MessagesClosed();
            break;
        case fiClosedBeforeLogin:
            LogLine(text, lcError);
            break;
        case fiAttemptStart:
            ShowStatus(2, std::to_string(m_ftp.ConnectAttempt()));
            LogLine("连接到 " + text + ", 端口 " + std::to_string(m_ftp.Port) + " (#" +
                        std::to_string(m_ftp.ConnectAttempt()) + ") ",
                    lcNormal);
            break;
        case fiRetryScheduled:
            LogLine("连接尝试失败. " + text, lcNormal);
            break;
        case fiTlsStarted:
            LogLine(text, lcNormal);
            Q_EMIT EncryptionShown(true, m_ftp.TlsDescription());
            break;
        case fiPassiveAddressIgnored:
        case fiTlsNotOffered:
            LogLine(text, lcNormal);
            break;
        case fiDataProtectionRefused:
            LogLine(text, lcError);
            break;
        case fiAttemptStartFirewall:
            ShowStatus(10);
            LogLine("连接到代理服务器.", lcNormal);
            break;
        default:
            break;
    }
}

// Kinds 25 (a directory message complete) and 27 (the login messages
// complete): the collected lines go to the message window when the setting
// asks for it; either way the buffer starts again.
void TConnectionWorkflow::ShowMessageBuffer(bool serverMessages, const std::string& text)
{
    const bool wanted = serverMessages ? m_settings.ShowMessages : m_settings.MessageWin;
    if (wanted) {
        if (!text.empty())
            m_serverMessages.push_back(text);
        if (!m_serverMessages.empty())
            Q_EMIT MessagesArrived(serverMessages, m_serverMessages);
    }
    m_serverMessages.clear();
}

std::string FtpErrorText(::FtpError kind, const std::string& text)
{
    switch (kind) {
        case feSocket:
        case feTls:
            return "错误: " + text;
        case feNoDataConnection:
            return "错误: 无法创建数据连接.";
        case feLocalWrite:
            return "错误: 无法写入到本地文件 (" + text + ").";
        case feLocalRead:
            return "错误:无法打开本地文件来读取 (" + text + ").";
        case feSizeMismatch:
            return "错误: 续传的文件与源文件大小不同 (" + text + ").";
        case feScriptDataConnection:
            return "错误: 连接失败. 脚本中断.";
    }
    return "错误: " + text;
}

void TConnectionWorkflow::FtpError(::FtpError kind, const std::string& text)
{
    LogLine(FtpErrorText(kind, text), lcError);
}

void TConnectionWorkflow::LoggedIn()
{
    if (!m_ftp.Success()) {
        GoDisconnected();
        return;
    }
    SetState(SessionState::Connected);
    const std::string name = !CurrentSite.empty()           ? CurrentSite
                             : m_ftp.FirewallType != fwNone ? m_ftp.SocksHost
                                                            : m_ftp.FtpServer;
    if (!CurrentSite.empty())
        m_sites.RecordLogin(CurrentSite, QDateTime::currentDateTime());
    Q_EMIT CaptionShown(std::string(ProgramTitle) + " - " + name);
    if (m_settings.ConnectSound != 0)
        Q_EMIT SoundRequested(m_settings.ConnectSound, m_settings.ConnectWav);
    if (m_settings.AutoSendQueue)
        AfterLogin = AfterLoginAction::StartQueue;
    // A queue waiting for the login starts from the first listing, which
    // comes even when the user lists by hand.
    const bool queueWaits = AfterLogin == AfterLoginAction::ResumeQueue || AfterLogin == AfterLoginAction::StartQueue;
    if (m_settings.AutoRefresh || queueWaits)
        Refresh();
    else
        GoIdle();
}

void TConnectionWorkflow::ListingFinished()
{
    Q_EMIT ListingDone(m_ftp.Success());
    if (IsTransferring(m_state)) {
        Q_EMIT TransferListed();
        return;
    }
    if (IsDeleting(m_state)) {
        Q_EMIT DeleteListed();
        return;
    }
    if (m_state == SessionState::Disconnected)
        return;
    const bool queueWaits = AfterLogin == AfterLoginAction::ResumeQueue || AfterLogin == AfterLoginAction::StartQueue;
    if (queueWaits && m_startQueue && m_startQueue())
        return;
    if (queueWaits)
        AfterLogin = AfterLoginAction::None;  // nothing queued: nothing to resume later
    GoIdle();
}

void TConnectionWorkflow::FtpQuit()
{
    if (!m_ftp.FatalError()) {
        GoDisconnected();
        return;
    }
    // The server dropped the line in the middle of something: come back.
    SetState(SessionState::ConnectionLost);
    m_ftp.Close();
    Q_EMIT CaptionShown(ProgramTitle);
    AfterLogin = AfterLoginAction::ResumeQueue;
    ShowStatus(14);
    m_restartTicks = 0;
    if (m_settings.RestoreState) {
        ShowStatus(15);
        m_restartTimer.setInterval(1001);
    } else {
        ShowStatus(16);
        m_restartTimer.setInterval(1000);
    }
    m_restartTimer.start();
}

void TConnectionWorkflow::RestartTick()
{
    if (++m_restartTicks == 1)
        return;
    const bool external = m_restartTimer.interval() == 1001;
    if ((external && m_restartTicks > 60) || (!external && m_restartTicks > 6)) {
        m_restartTimer.stop();
        TQuickConnectFields unchanged;
        unchanged.server = m_ftp.FtpServer;
        const bool dirty = ConnectionDirty;
        ConnectionDirty = false;
        Prepare(unchanged);
        ConnectionDirty = dirty;
    }
}
