// Data connections and transfers of TFTPclient: download, upload and listing
// over passive or active data connections, resume, abort and the fall-back
// between passive and active mode.
#include "ftp/Ftp.h"

#include "sftp/Sftp.h"

#include "net/SocketErrors.h"

#include <QDateTime>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {
constexpr const char* MaliciousPasvText = "恶意服务器响应.  连接终止.";
constexpr const char* DataTimeoutText = "数据连接超时.";
constexpr const char* DataErrorPrefix = "[数据]: ";
constexpr const char* TransferCompleteText = "传输完成:";
constexpr const char* ListingReadyText = "列表就绪";
constexpr size_t MaxPassiveTextLength = 25;

// Whether a file can be created at path (then removed again): a missing
// folder or a read-only one is found before anything is sent.
// Whether a file can be made at path: its folder exists and may be written.
// (Creating and deleting a trial file would cost a second create per file
// for nothing: the data connection's open reports any other failure.)
bool canCreateFile(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool parseByte(std::string_view text, int& value)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= 255;
}
}  // namespace

// ---------------------------------------------------------------- helpers

int64_t TFTPclient::LocalFileSize(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_size);
}

std::string TFTPclient::SafeLocalName(const std::string& path)
{
    // Only the file name part is cleaned; "/" separates directories here, so
    // a backslash is an ordinary character and cleaned like the others.
    std::string out = path;
    for (size_t i = out.size(); i-- > 0;) {
        char& c = out[i];
        if (c == '/')
            break;
        switch (c) {
            case '?':
            case '"':
            case '*':
            case ':':
            case '<':
            case '>':
            case '|':
                c = '_';
                break;
            default:
                break;
        }
    }
    return out;
}

uint32_t TFTPclient::TickDiff(uint32_t from, uint32_t to)
{
    return to >= from ? to - from : to - from - 1;
}

std::string PassiveReplyText(const std::string& reply)
{
    const size_t open = reply.find('(');
    const size_t close = open == std::string::npos ? open : reply.find(')', open + 1);
    if (close != std::string::npos)
        return reply.substr(open + 1, close - open - 1);
    // No parentheses: the first run of six comma-separated numbers after the code.
    for (size_t i = std::min<size_t>(4, reply.size()); i < reply.size(); ++i) {
        if (!isDigit(reply[i]) || isDigit(reply[i - 1]))
            continue;
        size_t j = i;
        for (int numbers = 1;; ++numbers) {
            while (j < reply.size() && isDigit(reply[j]))
                ++j;
            if (numbers == 6)
                return reply.substr(i, j - i);
            if (j + 1 >= reply.size() || reply[j] != ',' || !isDigit(reply[j + 1]))
                break;
            ++j;
        }
    }
    return {};
}

bool ParsePassiveAddress(const std::string& text, std::string& host, uint16_t& port)
{
    int parts[6];
    size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 5) == (comma == std::string::npos))
            return false;
        std::string_view field(text.data() + start, (comma == std::string::npos ? text.size() : comma) - start);
        while (!field.empty() && field.front() == ' ')
            field.remove_prefix(1);
        while (!field.empty() && field.back() == ' ')
            field.remove_suffix(1);
        if (!parseByte(field, parts[i]))
            return false;
        start = comma + 1;
    }
    host = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
    port = static_cast<uint16_t>(parts[4] * 256 + parts[5]);
    return true;
}

std::string PortArgument(const std::string& address, int port)
{
    std::string arg = address;
    for (char& c : arg)
        if (c == '.')
            c = ',';
    return arg + "," + std::to_string((port >> 8) & 0xff) + "," + std::to_string(port & 0xff);
}

// ---------------------------------------------------------------- starting

bool TFTPclient::PrepareDownloadFile(bool resume)
{
    struct stat st {};
    if (::lstat(LocalFile.c_str(), &st) != 0)
        return errno == ENOENT && canCreateFile(LocalFile);
    // A link is replaced by the file, never written through: it may point
    // anywhere, outside the folder the user chose.
    if (S_ISLNK(st.st_mode))
        return MakePartFile(0644);
    // A device, a FIFO, a socket or a folder is not a download target, and
    // replacing one is never what was asked for.
    if (!S_ISREG(st.st_mode))
        return false;
    if (resume) {
        ::chmod(LocalFile.c_str(), st.st_mode | S_IWUSR);
        if (!CanOpenFile(LocalFile, true))
            return false;
        ResumePos = LocalFileSize(LocalFile);
        return true;
    }
    return MakePartFile((st.st_mode & 07777) | S_IWUSR);
}

bool TFTPclient::MakePartFile(mode_t mode)
{
    DropPartFile();
    const size_t slash = LocalFile.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : LocalFile.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? LocalFile : LocalFile.substr(slash + 1);
    // Hidden, and short enough for any name the folder already holds.
    std::string path = dir + "." + name.substr(0, 200) + ".corvyne-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        return false;
    ::close(fd);
    m_partFile = std::move(path);
    m_partFor = LocalFile;
    m_partMode = mode;
    return true;
}

void TFTPclient::DropPartFile()
{
    if (m_partFile.empty())
        return;
    ::unlink(m_partFile.c_str());
    m_partFile.clear();
    m_partFor.clear();
}

bool TFTPclient::CommitReceivedFile()
{
    if (m_partFile.empty())
        return true;
    ::chmod(m_partFile.c_str(), m_partMode);
    if (::rename(m_partFile.c_str(), LocalFile.c_str()) != 0) {
        Error(feLocalWrite, LocalFile + ": " + std::strerror(errno));
        DropPartFile();
        return false;
    }
    m_partFile.clear();
    m_partFor.clear();
    return true;
}

void TFTPclient::EndReceivedFile()
{
    if (!m_success || m_abortAsked) {
        // Broken off by the user or by a drop: kept for a resume of this
        // file. Refused or failed otherwise: the target stays as it was.
        if (!m_abortAsked && !m_fatalError)
            DropPartFile();
        return;
    }
    // The listing's size, else the "150" reply's: the whole file's, or (on
    // some servers) what is left after the restart point.
    const int64_t size = ExpectedSize > 0 ? ExpectedSize : m_replySize;
    if (ResumePos > 0 && size > 0 && TransferMode == BinaryTransfer) {
        const int64_t have = LocalFileSize(ReceivePath());
        if (have != size && (ExpectedSize > 0 || have != ResumePos + size)) {
            m_success = false;
            Error(feSizeMismatch, LocalFile + ": " + std::to_string(have) + " / " + std::to_string(size));
            return;
        }
    }
    if (!CommitReceivedFile())
        m_success = false;
}

void TFTPclient::Download(bool resume, bool inScript, int64_t expectedSize)
{
    m_success = true;
    m_aborting = false;
    m_abortAsked = false;
    m_pending = poFileReceived;
    m_data.RateLimit = DownloadLimit;
    m_transferFailed = false;
    m_fileTimeSent = false;
    m_receivedTime = -1;
    ResumePos = 0;
    ExpectedSize = 0;
    m_replySize = -1;
    m_inScript = inScript;
    LocalFile = SafeLocalName(LocalFile);
    if (!m_partFile.empty() && (!resume || m_partFor != LocalFile))
        DropPartFile();
    if (!m_partFile.empty()) {
        // The replacement a drop or an abort cut short goes on.
        ResumePos = LocalFileSize(m_partFile);
    } else if (!PrepareDownloadFile(resume)) {
        m_success = false;
        Error(feLocalWrite, LocalFile);
        return;
    }
    if (Sftp) {
        sftpDownload(expectedSize);
        return;
    }
    DataDone = false;
    ReplyDone = false;
    if (TransferMode == BinaryTransfer)
        ExpectedSize = expectedSize;
    RequestType(TransferMode == BinaryTransfer ? 'I' : 'A');
}

void TFTPclient::Upload(bool inScript, bool viaTemporaryName)
{
    if (Sftp) {
        struct stat st {};
        if (::stat(LocalFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            m_success = false;
            Error(feLocalRead, LocalFile);
            return;
        }
        sftpUpload();
        return;
    }
    m_pending = poFileStored;
    m_data.RateLimit = UploadLimit;
    m_fileTimeSent = false;
    m_storName.clear();
    if (viaTemporaryName && ResumePos <= 0) {
        const size_t slash = RemoteFile.rfind('/');
        const size_t at = slash == std::string::npos ? 0 : slash + 1;
        m_storName = RemoteFile.substr(0, at) + "." + RemoteFile.substr(at) + ".corvyne-upload";
    }
    m_success = true;
    PacketCount = 0;
    DataDone = false;
    ReplyDone = false;
    m_aborting = false;
    m_transferFailed = false;
    m_inScript = inScript;
    if (TransferMode == AsciiTransfer)
        ResumePos = 0;
    // Only a regular file is sent: a folder, a FIFO or a device would
    // replace the remote file with nothing, or block.
    struct stat st {};
    if (::stat(LocalFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !CanOpenFile(LocalFile, false)) {
        m_success = false;
        Error(feLocalRead, LocalFile);
        return;
    }
    RequestType(TransferMode == AsciiTransfer ? 'A' : 'I');
}

void TFTPclient::List()
{
    if (Sftp) {
        sftpList();
        return;
    }
    m_pending = poListingDone;
    m_data.RateLimit = nullptr;
    m_success = true;
    DataDone = false;
    ReplyDone = false;
    m_aborting = false;
    m_transferFailed = false;
    PacketCount = 0;
    ResumePos = 0;
    RequestType('A');
}

// ---------------------------------------------------------------- negotiating

void TFTPclient::RequestType(char type)
{
    if (type == m_type) {
        NegotiateDataConnection();
        return;
    }
    m_typeAsked = type;
    SendCommand(type == 'I' ? "TYPE I" : "TYPE A", rsType);
}

void TFTPclient::OnTypeReply(const std::string& reply)
{
    m_type = ReplyClass(reply) == '2' ? m_typeAsked : 0;
    NegotiateDataConnection();
}

void TFTPclient::NegotiateDataConnection()
{
    m_dataStood = false;
    if (UsePasv) {
        // EPSV where offered: no address in the reply to rewrite or distrust
        // (and the only passive form with IPv6). Not through an FTP proxy,
        // whose own port the reply would name.
        // Over IPv6 EPSV is the only passive form: tried unless refused.
        const bool v6 = IsIPv6Address(PeerAddress());
        if ((m_features.Offered(TFeature::Epsv) || (v6 && m_features.Usable(TFeature::Epsv))) &&
            (FirewallType == fwNone || FirewallType == fwSocks))
            SendCommand("EPSV", rsEpsv);
        else
            SendCommand("PASV", rsPasv);
        return;
    }
    m_data.Disconnect();
    m_listener.Disconnect();
    m_listener.Host = CustomIP.empty() ? m_localHost : CustomIP;
    m_listener.Port = 0;
    m_listener.OnAccept = [this](TCustomCorvSocket*, int) { DataAccepted(); };
    if (!m_listener.Listen()) {
        // No listener, no active mode: treated like a refused "PORT".
        DataConnectionFailed(true);
        return;
    }
    // The server must connect within the listener's time, however many
    // strangers knock meanwhile.
    m_acceptTimer->start(std::max(1, m_listener.Timeout) * 1000);
    // EPRT for an IPv6 listener (PORT cannot name one), PORT otherwise.
    const std::string address = m_listener.LocalAddress();
    if (IsIPv6Address(address))
        SendCommand("EPRT |2|" + address + "|" + std::to_string(m_listener.LocalPort()) + "|", rsPort);
    else
        SendCommand("PORT " + PortArgument(address, m_listener.LocalPort()), rsPort);
}

void TFTPclient::OnPasvReply(const std::string& reply)
{
    switch (ReplyClass(reply)) {
        case '2':
            ConnectPassive(PassiveReplyText(reply));
            break;
        case '4':
        case '5':
            DataConnectionFailed(true);
            break;
        default:
            break;
    }
}

void TFTPclient::OnEpsvReply(const std::string& reply)
{
    uint16_t port = 0;
    if (ReplyClass(reply) == '2' && ParseEpsvReply(reply, port)) {
        ConnectPassiveTo(FirewallType == fwSocks ? SocksDestHost : PeerAddress(), port);
        return;
    }
    if (ReplyClass(reply) == '2' || TFtpFeatures::RefusesCommand(reply, TFeature::Epsv)) {
        // Refused, or answered in a form this client does not take: PASV,
        // for the rest of the session.
        m_features.Set(TFeature::Epsv, TOffer::No);
        Info(fiFeatureRefused, "EPSV 不可用 (" + reply.substr(0, 80) + "), 改用 PASV.");
        SendCommand("PASV", rsPasv);
        return;
    }
    if (ReplyClass(reply) == '4' || ReplyClass(reply) == '5')
        DataConnectionFailed(true);
}

bool ParseEpsvReply(const std::string& reply, uint16_t& port)
{
    const size_t open = reply.find('(');
    if (open == std::string::npos || reply.size() < open + 6)
        return false;
    const char d = reply[open + 1];
    if (d < 33 || d > 126 || (d >= '0' && d <= '9'))
        return false;
    if (reply[open + 2] != d || reply[open + 3] != d)
        return false;  // a protocol or an address: another form
    const size_t digits = open + 4;
    size_t end = digits;
    uint32_t value = 0;
    while (end < reply.size() && end - digits < 6 && reply[end] >= '0' && reply[end] <= '9')
        value = value * 10 + static_cast<uint32_t>(reply[end++] - '0');
    if (end == digits || end + 1 >= reply.size() || reply[end] != d || reply[end + 1] != ')' || value == 0 ||
        value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

void TFTPclient::ConnectPassive(const std::string& raw)
{
    if (raw.size() > MaxPassiveTextLength) {
        Error(feSocket, MaliciousPasvText);
        Close();
        if (OnFtpQuit)
            OnFtpQuit(this);
        return;
    }
    std::string text = raw;
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
    std::string host;
    uint16_t port = 0;
    if (!ParsePassiveAddress(text, host, port)) {
        // Not an address at all: the passive connection cannot be made.
        DataConnectionFailed(true);
        return;
    }
    // The data goes to the server the control connection reached, whatever
    // the reply names: a NAT'd server names an address nobody can reach, and
    // a hostile one could aim the transfer at a third host.
    const std::string server = FirewallType == fwSocks ? SocksDestHost : PeerAddress();
    // Over IPv6 the reply cannot name the server at all.
    if (!UsePasvAddress && (IsDottedAddress(server) || IsIPv6Address(server)) && server != host) {
        Info(fiPassiveAddressIgnored, "被动模式地址 " + host + " 与服务器地址不符, 改用 " + server);
        host = server;
    }
    ConnectPassiveTo(host, port);
}

void TFTPclient::ConnectPassiveTo(const std::string& host, uint16_t port)
{
    m_data.Disconnect();
    ConfigureDataSocket();
    if (FirewallType == fwSocks) {
        m_data.Host = Host;
        m_data.Port = static_cast<uint16_t>(ProxyPort);
        m_data.SocksDestHost = host;
        m_data.SocksPort = port;
        m_data.SocksVersion = 1;
    } else {
        m_data.Host = host;
        m_data.Port = port;
        m_data.SocksVersion = 0;
    }
    m_data.Connect();
    SetReplyState(rsPort);
}

void TFTPclient::OnPortReply(const std::string& reply)
{
    switch (ReplyClass(reply)) {
        case '2':
            if (!UsePasv)
                RestartStep();
            break;
        case '4':
        case '5':
            DataConnectionFailed(true);
            break;
        default:
            break;
    }
}

void TFTPclient::ConfigureDataSocket()
{
    m_data.OnClose = [this](TCustomCorvSocket*) { DataDoneHandler(); };
    m_data.OnStreamDone = nullptr;
    m_data.OnLine = nullptr;
    m_data.OnConnect = [this](TCustomCorvSocket*, int) { DataConnected(); };
    m_data.OnError = [this](TCustomCorvSocket*, int code, const std::string& message) {
        m_fatalError = true;
        Error(feSocket, DataErrorPrefix + (code == SocketCode::TlsFailed ? message : ErrorText(code)));
        DataFault();
    };
    m_data.OnTlsReady = [this](TCustomCorvSocket*) { DataTlsReady(); };
    m_data.OnFileError = [this](TCustomCorvSocket*, int err) {
        TransferFault(m_pending == poFileStored ? feLocalRead : feLocalWrite, err);
    };
    m_data.OnProgress = [this](TCustomCorvSocket*, int64_t count) {
        TransferBytes += count;
        ++PacketCount;
    };
    m_data.OnTimeout = [this](TCustomCorvSocket*) {
        Error(feSocket, DataTimeoutText);
        DataConnectionFailed(true);
    };
    if (m_pending == poListingDone) {
        m_data.SetMode(smLine);
        m_data.OnLine = [this](TCustomCorvSocket*, const std::string& line) { ListingLine(line); };
    } else {
        m_data.SetMode(smStream);
        if (m_pending == poFileStored)
            m_data.OnStreamDone = [this](TCustomCorvSocket*) { DataDoneHandler(); };
    }
}

// ---------------------------------------------------------------- data connection

// The counters of a transfer start with its data connection.
void TFTPclient::DataConnectionStands()
{
    TransferBytes = 0;
    PacketCount = 0;
    TransferTime = 0;
    m_success = true;
    TransferStart = TickCount();
    m_dataStood = true;
    Info(fiDataConnected, "");
}

void TFTPclient::DataConnected()
{
    // The handshake runs beside the command: the server answers it once the
    // command has come ("150"), and the pumps wait for it.
    m_dataNotResumed = false;
    if (m_protP)
        m_data.StartTls(TlsHost(), this);
    DataConnectionStands();
    m_passiveUsable = true;
    RestartStep();
}

void TFTPclient::DataAccepted()
{
    // Only the server (the control connection's peer) may connect: anyone else
    // would be stealing the port. Refuse them and keep listening.
    std::string refused;
    if (!m_data.Accept(m_listener, PeerAddress(), &refused)) {
        if (!refused.empty())
            Error(feSocket, std::string(DataErrorPrefix) + "拒绝来自 " + refused + " 的数据连接");
        return;
    }
    DataConnectionStands();
    m_acceptTimer->stop();
    m_listener.Disconnect();
    ConfigureDataSocket();
    m_activeUsable = true;
    m_dataNotResumed = false;
    if (m_protP)
        m_data.StartTls(TlsHost(), this);  // the client is TLS's client in active mode too
    // Some servers connect as soon as "PORT" is accepted, before "STOR": the
    // file goes out only once the command has been sent.
    if (m_pending == poFileStored && m_replyState == rsTransfer && !m_data.StartSendFile(LocalFile, ResumePos))
        TransferFault(feLocalRead, errno);
}

// ---------------------------------------------------------------- restart and command

void TFTPclient::RestartStep()
{
    if (m_transferFailed) {
        Finish(false);  // the data connection broke before the command went out
        return;
    }
    if (ResumePos <= 0) {
        SendTransferCommand();
    } else if (m_pending == poFileStored && UseAppe) {
        SendCommand("APPE " + RemoteFile, rsTransfer);
    } else {
        SendCommand("REST " + std::to_string(ResumePos), rsRest);
    }
}

void TFTPclient::OnRestReply(const std::string& reply)
{
    if (ReplyClass(reply) == '5') {
        // No resume: the whole file comes again, into a replacement (the part
        // that is here stays until the new file is whole).
        ResumePos = 0;
        if (m_pending == poFileReceived && m_partFile.empty() && !MakePartFile(0644)) {
            TransferFault(feLocalWrite, errno);
            return;
        }
        // What it held would outlast a shorter file written over it.
        if (m_pending == poFileReceived && !m_partFile.empty() && ::truncate(m_partFile.c_str(), 0) != 0) {
            TransferFault(feLocalWrite, errno);
            return;
        }
    }
    SendTransferCommand();
}

void TFTPclient::SendTransferCommand()
{
    if (m_transferFailed) {
        Finish(false);
        return;
    }
    switch (m_pending) {
        case poFileReceived:
            if (!m_data.OpenReceiveFile(ReceivePath(), ResumePos, TransferMode == AsciiTransfer)) {
                TransferFault(feLocalWrite, errno);  // before "RETR": nothing is fetched
                return;
            }
            SendCommand("RETR " + RemoteFile, rsTransfer);
            break;
        case poFileStored:
            SendCommand("STOR " + (m_storName.empty() ? RemoteFile : m_storName), rsTransfer);
            break;
        case poListingDone:
            ListingLines.clear();
            // MLSD where offered: exact sizes and times, no columns to guess.
            ListingLines.Mlsd = UseMlsd && m_features.Offered(TFeature::Mlsd);
            SendCommand(ListingLines.Mlsd ? "MLSD" : ShowHiddenFiles ? "LIST -al" : "LIST", rsTransfer);
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- failures

void TFTPclient::AcceptTimedOut()
{
    if (!m_listener.IsConnected())
        return;
    Error(feSocket, DataTimeoutText);
    DataConnectionFailed(true);
}

void TFTPclient::DataConnectionFailed(bool withError21)
{
    m_acceptTimer->stop();
    m_data.Disconnect();
    m_listener.Disconnect();
    if (m_aborting)
        return;
    if (!AlternateMode) {
        if (withError21)
            Error(feNoDataConnection, "");
        Finish(false);
        return;
    }
    (UsePasv ? m_passiveUsable : m_activeUsable) = false;
    if ((m_passiveUsable || m_activeUsable) && !m_inScript) {
        UsePasv = !UsePasv;
        NegotiateDataConnection();
        return;
    }
    if (m_inScript)
        Error(feScriptDataConnection, "");
    Finish(false);
}

// The data connection reported an error. Before it stood, it could not be
// made (fall back, or give up); afterwards the transfer is broken off and
// ends with the server's reply, never as a success.
void TFTPclient::DataFault()
{
    if (m_aborting || (m_pending != poFileReceived && m_pending != poFileStored && m_pending != poListingDone))
        return;
    if (!m_dataStood) {
        if (m_replyState == rsPort && UsePasv)
            DataConnectionFailed(true);
        return;
    }
    m_transferFailed = true;
    if (m_replyState == rsTransfer && ReplyDone)
        Finish(false);
}

// The local file failed (cannot be opened, written or read). The data
// connection is reset so the server does not take a cut-off stream for a
// whole file; the transfer ends with the server's reply to the command, or at
// once when that reply is in or the command was never sent.
void TFTPclient::TransferFault(FtpError kind, int err)
{
    Error(kind, LocalFile + ": " + std::strerror(err));
    m_transferFailed = true;
    m_data.Reset();
    if (m_replyState != rsTransfer || ReplyDone)
        Finish(false);
}

// ---------------------------------------------------------------- ending

void TFTPclient::OnTransferReply(const std::string& reply)
{
    if (m_transferFailed && ReplyClass(reply) >= '2') {
        m_data.Reset();
        Finish(false);
        return;
    }
    switch (ReplyClass(reply)) {
        case '1':
            if (m_pending == poFileReceived) {
                // "... (123456 bytes)." : the "(" nearest the end, the digits after it.
                for (size_t i = reply.size() >= 2 ? reply.size() - 2 : 0; i >= 4 && i < reply.size(); --i) {
                    if (reply[i] == '(') {
                        std::string size = reply.substr(i + 1);
                        size = size.substr(0, size.find(' '));
                        if (size.find('.') == std::string::npos) {
                            int64_t n = -1;
                            const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), n);
                            m_replySize = ec == std::errc() && end == size.data() + size.size() ? n : -1;
                            Info(fiFileSize, size);
                        }
                        break;
                    }
                }
            } else if (m_pending == poFileStored && m_data.IsConnected() && !m_data.SendFileOpen() && !DataDone) {
                // Passive mode, or an active connection that came before "STOR".
                if (!m_data.StartSendFile(LocalFile, ResumePos))
                    TransferFault(feLocalRead, errno);
            }
            break;
        case '2':
            if (m_aborting) {
                DataDoneHandler();
                m_aborting = false;
                Finish();
                break;
            }
            m_success = true;
            ReplyDone = true;
            if (DataDone)
                Finish();
            break;
        case '4':
            // A data connection that stood and then failed is a broken
            // transfer, not a mode to fall back from.
            if (m_dataStood && !m_aborting) {
                m_data.Reset();
                Finish(false);
            } else {
                DataConnectionFailed(false);
            }
            break;
        case '5':
            switch (m_pending) {
                case poFileReceived:
                    m_data.Disconnect();
                    // A resumed file is what the user already had: kept. A
                    // fresh one holds nothing and goes; a replacement goes at
                    // the completion, the old file staying.
                    if (ResumePos <= 0 && m_partFile.empty())
                        ::unlink(LocalFile.c_str());
                    Finish(false);
                    break;
                case poFileStored:
                    m_data.StopSending(true);
                    Finish(false);
                    break;
                case poListingDone:
                    if (ListingLines.Mlsd && TFtpFeatures::RefusesCommand(reply, TFeature::Mlsd)) {
                        // FEAT named it and the server does not know it:
                        // LIST from now on, in this session.
                        m_features.Set(TFeature::Mlsd, TOffer::No);
                        Info(fiFeatureRefused, "服务器拒绝 MLSD, 改用 LIST.");
                        m_data.Disconnect();
                        NegotiateDataConnection();
                    } else if (ServerType == ftpstMVS) {
                        m_success = true;
                        ReplyDone = true;
                        if (DataDone)
                            Finish();
                    } else if (ShowHiddenFiles) {
                        ShowHiddenFiles = false;
                        m_data.Disconnect();
                        NegotiateDataConnection();
                    } else {
                        Finish(false);
                    }
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

// The data connection's certificate must be the control connection's: any
// other peer has taken the data port.
void TFTPclient::DataTlsReady()
{
    m_dataNotResumed = !m_data.TlsResumed();
    if (m_data.PeerCertificate().Sha256 == PeerCertificate().Sha256)
        return;
    Error(feSocket, std::string(DataErrorPrefix) + "数据连接的证书与控制连接的不同, 传输中止.");
    m_transferFailed = true;
    m_data.Reset();
    if (m_replyState != rsTransfer || ReplyDone)
        Finish(false);
}

void TFTPclient::DataDoneHandler()
{
    if (DataDone)
        return;
    // A TLS stream that ended without close_notify may have been cut off by
    // anyone on the way: the file is whole only if its size says so.
    if (m_pending == poFileReceived && m_data.TlsActive() && !m_data.TlsClosedCleanly() && !m_aborting &&
        !m_transferFailed) {
        const int64_t size = m_replySize >= 0 ? m_replySize : ExpectedSize > 0 ? ExpectedSize : -1;
        if (size < 0 || ResumePos + TransferBytes != size) {
            Error(feSocket, std::string(DataErrorPrefix) + "TLS 数据流未正常结束 (没有 close_notify), 文件可能不完整.");
            m_transferFailed = true;
        }
    }
    DataDone = true;
    m_success = true;
    m_data.Disconnect();
    TransferTime = TickDiff(TransferStart, TickCount());
    if (m_pending == poListingDone)
        Info(fiListingReady, ListingReadyText);
    if (ReplyDone)
        Finish();
}

void TFTPclient::ListingLine(const std::string& line)
{
    // The time is taken when the data ends (a clock read per line of a large
    // listing costs more than keeping the count).
    TransferBytes += static_cast<int64_t>(line.size());
    Info(fiListingData, "");
    if (ListingLines.size() >= MaxListingLines || TransferBytes > MaxListingBytes) {
        if (!m_transferFailed) {
            Error(feSocket, std::string(DataErrorPrefix) + "列表超过 " + std::to_string(MaxListingLines) + " 行或 " +
                                std::to_string(MaxListingBytes >> 20) + " MB, 其余未读.");
            m_transferFailed = true;
            m_data.Reset();
            if (ReplyDone)
                Finish(false);
        }
        return;
    }
    if (ListingLines.Mlsd && !ShowHiddenFiles && MlsdNameIsHidden(line))
        return;  // as "LIST" without "-a" leaves them out
    ListingLines.push_back(line);
    Info(fiListingLine, line);
}

// A whole file's time, once: asked after a download, set after an upload.
// The answer never fails the transfer; a server that does not know the
// command is not asked again in the session.
bool TFTPclient::FileTimeStep()
{
    if (m_fileTimeSent || !m_success || m_transferFailed || m_aborting || !IsConnected())
        return false;
    std::string command;
    if (m_pending == poFileReceived && AskFileTime && m_features.Usable(TFeature::Mdtm)) {
        AskFileTime = false;
        m_fileTimeFeature = TFeature::Mdtm;
        command = "MDTM " + RemoteFile;
    } else if (m_pending == poFileStored && UploadTime > 0) {
        const int64_t time = std::exchange(UploadTime, 0);
        m_fileTimeFeature = m_features.Offered(TFeature::Mfmt) ? TFeature::Mfmt : TFeature::SiteUtime;
        if (m_features.Offered(m_fileTimeFeature))
            command = std::string(FeatureName(m_fileTimeFeature)) + " " + FtpTimestamp(time) + " " + RemoteFile;
    }
    if (command.empty())
        return false;
    m_fileTimeSent = true;
    SendCommand(command, rsFileTime);
    return true;
}

void TFTPclient::OnFileTimeReply(const std::string& reply)
{
    if (TFtpFeatures::RefusesCommand(reply, m_fileTimeFeature))
        m_features.Set(m_fileTimeFeature, TOffer::No);
    if (m_pending == poFileReceived && reply.compare(0, 4, "213 ") == 0)
        m_receivedTime = ParseFtpTimestamp(std::string_view(reply).substr(4));
    Finish();
}

int64_t ParseFtpTimestamp(std::string_view text)
{
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    const std::string_view whole = text.substr(0, std::min(text.find('.'), text.size()));
    if (whole.size() != 14 || !std::all_of(whole.begin(), whole.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    auto n = [&](size_t at, size_t len) { return std::stoi(std::string(whole.substr(at, len))); };
    const QDateTime t(QDate(n(0, 4), n(4, 2), n(6, 2)), QTime(n(8, 2), n(10, 2), n(12, 2)), Qt::UTC);
    return t.isValid() ? t.toSecsSinceEpoch() : -1;
}

std::string FtpTimestamp(int64_t secondsUtc)
{
    return QDateTime::fromSecsSinceEpoch(secondsUtc, Qt::UTC)
        .toString(QStringLiteral("yyyyMMddHHmmss"))
        .toStdString();
}

bool MlsdNameIsHidden(std::string_view line)
{
    // The name follows the first blank ("fact=value;... name").
    const size_t blank = line.find(' ');
    return blank != std::string_view::npos && blank + 1 < line.size() && line[blank + 1] == '.';
}

void TFTPclient::FinishTransfer()
{
    m_data.Disconnect();
    if (m_success)
        Info(fiTransferComplete, TransferCompleteText);
}

// ---------------------------------------------------------------- aborting

void TFTPclient::AbortWithSync()
{
    // Telnet's interrupt and urgent mark cannot travel inside TLS records:
    // a server reads the ABOR only after the file (vsftpd sends all of it).
    // Closing the data connection is what stops it then.
    if (TlsActive()) {
        Abort();
        return;
    }
    m_aborting = true;
    m_abortAsked = true;
    if (m_pending == poFileStored)
        m_data.StopSending(true);
    m_abortEcho = true;
    static const char ip[] = {'\xff', '\xf4'};
    static const char dm[] = {'\xff', '\xf2'};
    SendBuf(ip, 2);
    SendUrgent(dm, 2);
    SendRaw("ABOR");
}

void TFTPclient::Abort()
{
    if (Sftp) {
        // The file that moves ends, failed; its part file is kept for a resume.
        m_abortAsked = true;
        if (m_sftp)
            m_sftp->Abort();
        return;
    }
    // The session of an upload broken off is dropped by the server (vsftpd
    // then refuses the ticket it sent as the connection closed); an aborted
    // download's ticket, read at its start, still serves.
    if (m_pending == poFileStored)
        m_data.ForgetTlsSessions();
    m_aborting = true;
    m_abortAsked = true;
    m_abortEcho = true;
    SendRaw("ABOR");
    if (m_pending == poFileStored)
        m_data.StopSending(true);
    else
        m_data.Disconnect();
    m_success = false;
    DataDone = true;
    if (ReplyDone)
        Finish();
}
