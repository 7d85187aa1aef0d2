// TFTPclient over SFTP: the operations the panes, the queue and the file
// commands use, carried out by a TSftpSession, each ending with the event
// its FTP counterpart raises. A listing arrives as MLSD lines, so the
// listing cache and the panes read it as they read an MLSD answer.

#include "ftp/Ftp.h"

#include "net/RateLimit.h"
#include "sftp/Sftp.h"

#include <QDateTime>
#include <QTimer>

#include <mutex>

namespace {
std::string mlsdFacts(const TSftpEntry& e)
{
    std::string facts = e.IsLink ? "type=OS.unix=slink;" : e.IsDir ? "type=dir;" : "type=file;";
    if (e.Size >= 0 && !e.IsDir)
        facts += "size=" + std::to_string(e.Size) + ";";
    if (e.ModifiedUtc >= 0)
        facts += "modify=" +
                 QDateTime::fromSecsSinceEpoch(e.ModifiedUtc, Qt::UTC).toString(QStringLiteral("yyyyMMddHHmmss")).toStdString() +
                 ";";
    if (e.Mode >= 0 && e.Mode <= 777)
        facts += "UNIX.mode=0" + std::string(e.Mode < 100 ? (e.Mode < 10 ? "00" : "0") : "") + std::to_string(e.Mode) + ";";
    // A fact's value ends at ";": owners that hold one are left out.
    if (!e.Owner.empty() && e.Owner.find_first_of(";= ") == std::string::npos)
        facts += "UNIX.owner=" + e.Owner + ";";
    if (!e.Group.empty() && e.Group.find_first_of(";= ") == std::string::npos)
        facts += "UNIX.group=" + e.Group + ";";
    return facts + " " + e.Name;
}
}  // namespace

// The run's limit, shared by its sessions' threads (and only theirs: a run
// is all FTP or all SFTP), under one lock.
std::function<int64_t(int64_t)> TFTPclient::sftpPace(const std::shared_ptr<TRateLimit>& limit)
{
    if (!limit || limit->BytesPerSecond() <= 0)
        return {};
    return [limit](int64_t bytes) {
        static std::mutex lock;
        const std::lock_guard<std::mutex> g(lock);
        return limit->Take(bytes);
    };
}

std::string TFTPclient::sftpPath(const std::string& name) const
{
    if (!name.empty() && name.front() == '/')
        return name;
    std::string dir = InitialDirectory.empty() ? std::string("/") : InitialDirectory;
    if (dir.back() != '/')
        dir += '/';
    return dir + name;
}

bool TFTPclient::sftpBegin(TPendingOperation pending)
{
    m_pending = pending;
    m_success = true;
    if (!m_sftp) {
        // Not connected: it fails as a command on a closed connection does.
        m_success = false;
        m_lastRefusal = "没有连接";
        m_replyState = rsIdle;
        PostCompletion();
        return false;
    }
    m_replyState = rsRaw;  // busy until the session answers
    return true;
}

void TFTPclient::sftpConnect()
{
    ++m_sftpEpoch;
    m_sftp = std::make_unique<TSftpSession>();
    m_sftp->AskHostKey = [this](const THostKey& k) {
        return OnHostKey && OnHostKey({k.Host + ":" + std::to_string(k.Port), k.Type, k.Sha256});
    };
    m_sftp->AskSecret = [this](const std::string& prompt, bool echo) -> std::optional<std::string> {
        return OnSecret ? OnSecret(prompt, echo) : std::nullopt;
    };
    connect(m_sftp.get(), &TSftpSession::Done, this, [this](const TSftpResult& r) { sftpDone(r); });
    connect(m_sftp.get(), &TSftpSession::LogLine, this, [this](const QString& text, bool error) {
        if (error)
            Error(feSocket, text.toStdString());
        else
            Info(fiReplyLine, text.toStdString());
    });
    m_loggedIn = false;
    m_fatalError = false;
    m_lastRefusal.clear();
    m_sftpStart = InitialDirectory;
    sftpBegin(poLogin);  // the session was just made
    TSftpLogin login;
    login.Host = FtpServer;
    login.Port = Port > 0 ? Port : 22;
    login.User = UserName;
    login.Password = UserPassword;
    login.SshDir = SshDir;
    login.TimeoutSeconds = Timeout > 0 ? Timeout : 30;
    m_sftp->Connect(login);
}

void TFTPclient::sftpDone(const TSftpResult& r)
{
    if (m_sftpTick)
        m_sftpTick->stop();
    if (r.Lost) {
        // As a control connection that closes: a file cut short is a drop to
        // come back from; the session is over either way.
        if (m_loggedIn && (m_pending == poFileReceived || m_pending == poFileStored))
            m_fatalError = true;
        m_lastRefusal = r.Error;
        Error(feSocket, r.Error);
        sftpDrop();
        m_replyState = rsIdle;
        if (std::exchange(m_loggedIn, false)) {
            Info(fiDisconnected, "Disconnected");
            if (OnFtpQuit)
                OnFtpQuit(this);
        }
        return;
    }
    m_replyState = rsIdle;
    m_success = r.Success;
    if (!r.Success) {
        m_lastRefusal = r.Error;
        if (r.Op != TSftpOp::Connect)
            ++m_commandRefusals;
        Info(fiReplyLine, r.Error);
    }
    switch (r.Op) {
        case TSftpOp::Connect:
            m_loggedIn = r.Success;
            ResumeSupported = r.Success;  // SFTP reads and writes at any offset
            if (!r.Success) {
                Error(feSocket, r.Error);
                break;
            }
            InitialDirectory = r.Path.empty() || r.Path.back() == '/' ? r.Path : r.Path + "/";
            if (!m_sftpStart.empty()) {
                // The login ends in the folder asked for, as FTP's first CWD does.
                m_replyState = rsRaw;
                m_sftp->Enter(sftpPath(std::exchange(m_sftpStart, {})));
                return;
            }
            break;
        case TSftpOp::Enter:
            if (r.Success)
                InitialDirectory = r.Path.back() == '/' ? r.Path : r.Path + "/";
            if (m_pending == poLogin)
                m_success = true;  // logged in; a start folder that is not there leaves the home folder
            break;
        case TSftpOp::List:
            ListingLines.clear();
            ListingLines.Mlsd = true;
            TransferBytes = 0;
            for (const TSftpEntry& e : r.Entries)
                if (e.Name.find_first_of("\r\n") == std::string::npos)
                    ListingLine(mlsdFacts(e));
            if (r.Success)
                Info(fiListingReady, "");
            break;
        case TSftpOp::Download:
        case TSftpOp::Upload:
            TransferBytes = r.Bytes;
            TransferTime = TickDiff(TransferStart, TickCount());
            if (!r.Success)
                m_transferFailed = true;
            break;
        case TSftpOp::Chmod:
            if (OnFileCHMOD)
                OnFileCHMOD(this);
            return;
        default:
            break;
    }
    PostCompletion();
}

void TFTPclient::sftpList()
{
    m_transferFailed = false;
    if (sftpBegin(poListingDone))
        m_sftp->List(sftpPath(""));
}

// Download's own steps have chosen the file to write (the target, or a part
// file beside it) and where to go on from.
void TFTPclient::sftpDownload(int64_t expectedSize)
{
    ExpectedSize = expectedSize;
    if (sftpBegin(poFileReceived)) {
        sftpTransferStarts();
        m_sftp->Download(sftpPath(RemoteFile), ReceivePath(), ResumePos, sftpPace(DownloadLimit), expectedSize);
    }
}

void TFTPclient::sftpUpload()
{
    m_transferFailed = false;
    if (sftpBegin(poFileStored)) {
        sftpTransferStarts();
        m_sftp->Upload(LocalFile, sftpPath(RemoteFile), ResumePos, sftpPace(UploadLimit));
    }
}

void TFTPclient::sftpDrop()
{
    if (m_sftpTick)
        m_sftpTick->stop();
    if (!m_sftp)
        return;
    // Perhaps called from its own Done: it goes once that has returned (its
    // thread says goodbye to the server, or is cut off in the middle of a file).
    TSftpSession* session = m_sftp.release();
    session->disconnect(this);
    session->setParent(this);  // never outlives the client, even without a loop to delete it
    session->deleteLater();
}

void TFTPclient::sftpTransferStarts()
{
    if (ResumePos > 0)
        Info(fiReplyLine, "从第 " + std::to_string(ResumePos) + " 字节续传");
    TransferBytes = 0;
    PacketCount = 0;
    TransferTime = 0;
    TransferStart = TickCount();
    if (!m_sftpTick) {
        m_sftpTick = new QTimer(this);
        m_sftpTick->setInterval(100);
        connect(m_sftpTick, &QTimer::timeout, this, [this] {
            const int64_t moved = m_sftp ? m_sftp->Moved() : TransferBytes;
            if (moved != TransferBytes) {
                TransferBytes = moved;
                ++PacketCount;
            }
        });
    }
    m_sftpTick->start();
    Info(fiDataConnected, "");
}

void TFTPclient::sftpCommand(const std::string& text)
{
    if (text == "QUIT") {
        sftpDrop();
        m_loggedIn = false;
        m_replyState = rsIdle;
        // As the server's close after FTP's QUIT: unless the client was
        // closed or connected again meanwhile.
        QTimer::singleShot(0, this, [this, epoch = m_sftpEpoch] {
            if (OnFtpQuit && epoch == m_sftpEpoch)
                OnFtpQuit(this);
        });
        return;
    }
    // Custom and raw commands are FTP's: refused here.
    m_success = false;
    m_lastRefusal = "SFTP 连接不能发送原始命令: " + text;
    ++m_commandRefusals;
    Info(fiReplyLine, m_lastRefusal);
    QTimer::singleShot(0, this, [this] {
        if (OnRawCommand)
            OnRawCommand(this);
    });
}
