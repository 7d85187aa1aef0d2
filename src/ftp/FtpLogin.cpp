// The login sequence of TFTPclient: one small handler per reply state, found
// through the table below; firewall login forms are chosen in the handlers of
// the greeting and the firewall steps.
#include "ftp/Ftp.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

// The firewall steps answer whatever the firewall said; only "421" is caught
// before them.
void TFTPclient::OnFirewallGreeting(const std::string&)
{
    SendCommand("USER " + ProxyUser, rsFwUser);
}

void TFTPclient::OnFirewallUser(const std::string&)
{
    SendCommand("PASS " + ProxyPass, rsFwPass);
}

void TFTPclient::OnFirewallPass(const std::string&)
{
    if (FirewallType == fwSiteUserHost)
        SendCommand("USER " + UserName + "@" + SocksHost, rsUser);
    else
        SendCommand("SITE " + SocksHost, rsGreeting);
}

void TFTPclient::OnGreeting(const std::string& reply)
{
    if (ReplyClass(reply) == '1')
        return;  // "120": ready in a while; the "220" follows
    if (ReplyClass(reply) != '2') {
        LoginFailed();
        return;
    }
    if ((Tls == tlsExplicit || Tls == tlsIfOffered) && !TlsActive()) {
        if (FirewallType == fwNone || FirewallType == fwSocks) {
            SendCommand("AUTH TLS", rsAuth);
            return;
        }
        // A login through an FTP proxy goes to the proxy first: TLS with the
        // server cannot start before it.
        if (Tls == tlsExplicit) {
            TlsRefused("通过 FTP 代理登录时不能使用 TLS. 用户名和密码未发送.");
            return;
        }
    }
    SendUser();
}

void TFTPclient::SendUser()
{
    std::string user = "USER " + UserName;
    if (FirewallType == fwUserHost || FirewallType == fwUserHost2) {
        user += "@" + SocksHost;
        if (SocksPort != 21)
            user += (FirewallType == fwUserHost ? ":" : " ") + std::to_string(SocksPort);
    }
    SendCommand(user, rsUser);
}

// ---------------------------------------------------------------- TLS

void TFTPclient::OnAuthReply(const std::string& reply)
{
    if (ReplyClass(reply) == '2') {
        SetReplyState(rsTlsWait);
        StartTls(TlsHost());
        return;
    }
    if (Tls == tlsIfOffered) {
        Info(fiTlsNotOffered, "服务器不提供 TLS, 以明文继续.");
        SendUser();
        return;
    }
    // Never a silent step down: a site that wants TLS sends no password in
    // the clear.
    TlsRefused("服务器拒绝了 TLS (" + reply + "). 用户名和密码未发送.");
}

// A reply while the handshake or the decision runs: with implicit TLS the
// greeting, kept until the certificate is accepted.
void TFTPclient::OnTlsWaitReply(const std::string& reply)
{
    if (Tls == tlsImplicit && m_earlyGreeting.empty())
        m_earlyGreeting = reply;
}

void TFTPclient::ControlTlsReady()
{
    Info(fiTlsStarted, "TLS: " + TlsDescription());
    if (PeerCertificate().Trusted() || (!TrustedSha256.empty() && PeerCertificate().Sha256 == TrustedSha256)) {
        CertificateAccepted();
        return;
    }
    if (!OnCertificate) {
        TlsRefused("服务器证书不受信任 (" + PeerCertificate().VerifyText + "), 连接已断开.");
        return;
    }
    // A person may take a while: no time-out meanwhile.
    m_certPending = true;
    StopTimeoutTimer();
    m_awaitingReply = false;
    OnCertificate(this, PeerCertificate());
}

void TFTPclient::AnswerCertificate(bool trust)
{
    if (!m_certPending || !IsConnected())
        return;
    m_certPending = false;
    if (trust)
        CertificateAccepted();
    else
        TlsRefused("服务器证书未被信任, 连接已断开.");
}

void TFTPclient::CertificateAccepted()
{
    if (Tls != tlsImplicit) {
        SendUser();
        return;
    }
    SetReplyState(rsGreeting);
    if (!m_earlyGreeting.empty()) {
        const std::string greeting = std::exchange(m_earlyGreeting, {});
        FinalReply(greeting);
        return;
    }
    StartTimeoutTimer();  // the greeting must still come in time
    m_awaitingReply = true;
    m_lastSent = TickCount();
}

// The login ends without another attempt: the same server would answer the
// same way.
void TFTPclient::TlsRefused(const std::string& why)
{
    m_certPending = false;
    Error(feTls, why);
    SetReplyState(rsIdle);
    m_noRetry = true;
    if (!m_retryTimer)
        QuitAndRetry(false);
}

// Logged in: with TLS the data connections are protected too ("PBSZ 0",
// "PROT P"), then the usual steps.
void TFTPclient::AfterLogin()
{
    if (Encrypted() && !m_protP) {
        SendCommand("PBSZ 0", rsPbsz);
        return;
    }
    SendCommand("SYST", rsSyst);
}

void TFTPclient::OnPbszReply(const std::string&)
{
    SendCommand("PROT P", rsProt);
}

void TFTPclient::OnProtReply(const std::string& reply)
{
    m_protP = ReplyClass(reply) == '2';
    if (!m_protP)
        Info(fiDataProtectionRefused, "服务器拒绝 PROT P: 数据连接不加密.");
    SendCommand("SYST", rsSyst);
}

void TFTPclient::OnUserReply(const std::string& reply)
{
    switch (ReplyClass(reply)) {
        case '2':
            m_loggedIn = true;  // logged in without a password
            AfterLogin();
            break;
        case '3':
            if (SKeyLogin) {
                // The application answers the challenge through SendPassword.
                Info(fiSKeyChallenge, reply.size() > 4 ? reply.substr(4) : std::string());
                break;
            }
            SendCommand(UserPassword.empty() ? std::string() : "PASS " + UserPassword, rsPass);
            break;
        default:
            LoginFailed();
            break;
    }
}

void TFTPclient::OnPassReply(const std::string& reply)
{
    switch (ReplyClass(reply)) {
        case '2':
            m_loggedIn = true;
            AfterLogin();
            break;
        case '3':
            SendCommand("ACCT " + UserAccount, rsAcct);
            break;
        default:
            LoginFailed();
            break;
    }
}

void TFTPclient::OnAcctReply(const std::string& reply)
{
    if (ReplyClass(reply) != '2') {
        LoginFailed();
        return;
    }
    m_loggedIn = true;
    AfterLogin();
}

void TFTPclient::OnSystReply(const std::string& reply)
{
    Info(fiSystReply, "");
    m_pending = poLogin;
    if (ServerDetect) {
        ServerType = ftpstDefault;
        if (ReplyClass(reply) != '5' && !m_warFtpd) {
            std::string text = reply.size() > 4 ? reply.substr(4, 99) : std::string();
            std::transform(text.begin(), text.end(), text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            m_systemType = text;
            ServerType = DetectServerType(text);
        }
    }
    m_replyLines.clear();
    SendCommand("FEAT", rsFeat);
}

void TFTPclient::OnFeatReply(const std::string& reply)
{
    if (ReplyClass(reply) == '2') {
        m_features.ReadFeatReply(m_replyLines);
        Info(fiFeatures, m_features.Summary());
    } else {
        m_features.FeatRefused();
    }
    m_replyLines.clear();
    // A server naming UTF8 in FEAT uses UTF-8 names (RFC 2640), whatever it
    // answers to the "OPTS" that asks for them; some need the "OPTS" first.
    m_utf8On = m_features.Offered(TFeature::Utf8);
    if (m_utf8On) {
        SendCommand("OPTS UTF8 ON", rsOptsUtf8);
        return;
    }
    MlstFactsStep();
}

void TFTPclient::OnOptsReply(const std::string&)
{
    if (m_replyState == rsOptsUtf8) {
        MlstFactsStep();
        return;
    }
    ResumeProbeStep();
}

// Facts the server has but does not send unless asked (no "*" in FEAT): the
// permissions for the properties dialog, owner and group.
void TFTPclient::MlstFactsStep()
{
    const std::string wanted = m_features.Offered(TFeature::Mlsd) ? MlstFactsToAsk(m_features.MlstFacts()) : "";
    if (wanted.empty()) {
        ResumeProbeStep();
        return;
    }
    SendCommand("OPTS MLST " + wanted, rsOptsMlst);
}

std::string MlstFactsToAsk(const std::string& offered)
{
    std::string lower = offered;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    bool missing = false;
    std::string facts;
    for (const char* fact : {"type", "size", "modify", "unix.mode", "unix.owner", "unix.group"}) {
        const size_t at = lower.find(fact);
        if (at == std::string::npos || (at > 0 && lower[at - 1] != ';'))
            continue;
        const size_t end = at + std::strlen(fact);
        if (end < lower.size() && lower[end] != '*' && lower[end] != ';')
            continue;  // a longer fact's name
        missing = missing || end >= lower.size() || lower[end] != '*';
        facts += std::string(fact) + ";";
    }
    return missing ? facts : std::string();
}

void TFTPclient::ResumeProbeStep()
{
    if (ResumeSupport == 0) {
        SendCommand("REST 100", rsRestProbe);
        return;
    }
    ResumeSupported = ResumeSupport == 1;
    DirectoryStep();
}

void TFTPclient::OnRestProbeReply(const std::string& reply)
{
    // The probe runs in ASCII mode; a refusal because of that mode ("501
    // Resuming transfers not allowed in ASCII mode", pyftpdlib) says nothing
    // of binary transfers, which resume: that is no refusal of resuming.
    std::string lower = reply;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ReplyClass(reply) == '5' && lower.find("ascii") == std::string::npos) {
        DirectoryStep();
        return;
    }
    ResumeSupported = true;
    SendCommand("REST 0", rsRestZero);
}

void TFTPclient::OnRestZeroReply(const std::string&)
{
    DirectoryStep();
}

void TFTPclient::DirectoryStep()
{
    if (!InitialDirectory.empty())
        SendCommand("CWD " + InitialDirectory, rsInitialCwd);
    else
        SendCommand("PWD", rsPwd);
}

void TFTPclient::OnInitialCwdReply(const std::string& reply)
{
    if (ReplyClass(reply) != '2')
        Info(fiInitialDirRefused, "");
    m_success = true;
    Info(fiLoginDirectory, "登录");
    SendCommand("PWD", rsPwd);
}

void TFTPclient::OnPwdReply(const std::string& reply)
{
    InitialDirectory = ParsePwdReply(reply);
    Finish();
}

std::string ParsePwdReply(const std::string& reply)
{
    const size_t open = reply.find('"');
    if (open == std::string::npos)
        return {};
    const size_t close = reply.find('"', open + 1);
    return reply.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
}

TFTPServerType DetectServerType(const std::string& text)
{
    struct Rule {
        const char* word;
        TFTPServerType type;
    };
    // Applied in this order; a later match overrides an earlier one.
    static constexpr Rule rules[] = {
        {"WINDOWS", ftpstWin2K},
        {"3.51", ftpstWin2K},
        {"UNIX", ftpstUNIX},
        {"BSD", ftpstBSD},
        {"OS/2", ftpstOS2},
        {"CLIX", ftpstClix},
        {"ULTRIX", ftpstULTRIX},
        {"MVS", ftpstMVS},
        {"QVT", ftpstQVT},
        {"NCSA", ftpstNCSA},
        {"CHAMELEON", ftpstChameleon},
        {"REDHAT", ftpstRedhat},
        {"MACOS", ftpstMacOS},
        {"PBD3", ftpstMacOS},
        {"L8", ftpstUNIX},
        {"NETWARE", ftpSTNetware},
    };
    auto has = [&text](const char* word) { return text.find(word) != std::string::npos; };
    TFTPServerType type = ftpstDefault;
    for (const Rule& rule : rules)
        if (has(rule.word))
            type = rule.type;
    if (has("VMS"))
        type = has("MULTINET") ? ftpstVmsMultinet : ftpstVmsUcx;
    else if (has("VM"))
        type = has("VPS") ? ftpstVMVPS : ftpstVM;
    return type;
}
