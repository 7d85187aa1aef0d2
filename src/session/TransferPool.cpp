#include "session/TransferPool.h"

#include "session/Connection.h"

#include <QTimer>

#include <algorithm>

struct TTransferPool::Worker {
    std::unique_ptr<TFTPclient> ftp;
    std::optional<TTransferJob> job;
    bool loggedIn = false;
    int number = 0;
    int64_t packets = -1;   // its progress mark (packets, reply state) at the last change
    uint32_t movedAt = 0;   // tick count of that change
};

TTransferPool::TTransferPool(QObject* parent) : QObject(parent), m_watch(new QTimer(this))
{
    m_watch->setInterval(500);
    connect(m_watch, &QTimer::timeout, this, [this] { watchTick(); });
}

void TTransferPool::Watch(bool stallProtection, int packetTimeout, int hangMs)
{
    m_stallProtection = stallProtection;
    m_packetTimeout = std::max(packetTimeout, 1);
    m_hangMs = std::max(hangMs, 1);
}

void TTransferPool::watchTick()
{
    if (!Busy()) {
        m_watch->stop();
        return;
    }
    const uint32_t now = TickCount();
    std::vector<int> hung, stalled;
    for (const auto& w : m_workers) {
        if (!w->job || !w->loggedIn)
            continue;
        TFTPclient& c = *w->ftp;
        if (w->job->Kind == TJobKind::File && c.ReplyState() == rsTransfer && c.DataDone && !c.ReplyDone &&
            TFTPclient::TickDiff(c.DataSocket().LastActivity, now) > static_cast<uint32_t>(m_hangMs)) {
            hung.push_back(w->number);
            continue;
        }
        // Moving: data arrives, or the conversation goes on. A connection
        // that does neither for the packet time-out (stall protection) or,
        // without it, for the connection's own time-out is given up: a run
        // never waits for ever on one connection.
        const int64_t progress = c.PacketCount * 64 + c.ReplyState();
        const int seconds = m_stallProtection ? m_packetTimeout : std::max(c.Timeout, 1);
        if (progress != w->packets) {
            w->packets = progress;
            w->movedAt = now;
        } else if (TFTPclient::TickDiff(w->movedAt, now) > static_cast<uint32_t>(seconds) * 1000) {
            stalled.push_back(w->number);
        }
    }
    for (int n : hung)
        if (Worker* w = byNumber(n); w && w->job) {
            // The data arrived in full, the final reply never came: the file
            // counts as done, and the connection goes.
            log("[" + std::to_string(n) + "] 传输挂起, 文件视为完成: " + w->job->RemotePath, lcError);
            w->ftp->CommitReceivedFile();
            TTransferJob job = std::move(*w->job);
            w->job.reset();
            TJobResult r;
            r.Success = true;
            r.Bytes = w->ftp->TransferBytes;
            r.Milliseconds = w->ftp->TransferTime;
            r.Connection = n;
            remove(*w);
            if (OnJobDone)
                OnJobDone(job, r);
        }
    for (int n : stalled)
        if (Worker* w = byNumber(n); w && w->job) {
            log("[" + std::to_string(n) + "] 数据停止超过 " +
                    std::to_string(m_stallProtection ? m_packetTimeout : std::max(w->ftp->Timeout, 1)) + " 秒",
                lcError);
            connectionLost(*w);
        }
    if (!hung.empty() || !stalled.empty())
        dispatch();
}

TTransferPool::~TTransferPool()
{
    for (auto& w : m_workers) {
        w->ftp->OnLoggedIn = nullptr;
        w->ftp->OnFtpQuit = nullptr;
        w->ftp->OnFtpInfo = nullptr;
        w->ftp->OnFtpError = nullptr;
        w->ftp->OnFileReceived = nullptr;
        w->ftp->OnFileStored = nullptr;
        w->ftp->OnDirectoryChanged = nullptr;
        w->ftp->OnDirectoryCreated = nullptr;
        w->ftp->OnListingDone = nullptr;
        w->ftp->Close();
    }
}

void TTransferPool::Begin(const TFTPclient& login, int limit)
{
    const std::string key = login.FtpServer + ":" + std::to_string(login.Port) + " " + login.UserName + " " +
                            login.ProxyHost + " " + std::to_string(static_cast<int>(login.Tls));
    if (key != m_loginKey || &login != m_login) {
        Close();
        m_serverLimit = 10;
        m_tlsUpTo12 = false;
    }
    m_login = &login;
    m_loginKey = key;
    m_aborting = false;
    m_limit = std::min(std::clamp(limit, 1, 10), m_serverLimit);
}

TTransferPool::Worker* TTransferPool::freeWorker() const
{
    for (const auto& w : m_workers)
        if (w->loggedIn && !w->job && w->ftp->Connected())
            return w.get();
    return nullptr;
}

bool TTransferPool::HasFree() const
{
    return m_waiting.empty() && m_limit > 0 &&
           (freeWorker() || static_cast<int>(m_workers.size()) < m_limit);
}

bool TTransferPool::Busy() const
{
    return !m_waiting.empty() ||
           std::any_of(m_workers.begin(), m_workers.end(), [](const auto& w) { return w->job.has_value(); });
}

void TTransferPool::Start(TTransferJob job)
{
    if (job.Kind == TJobKind::File)
        m_waiting.push_back(std::move(job));
    else
        m_waiting.push_front(std::move(job));
    dispatch();
}

// Waiting jobs to free connections, opening new ones up to the limit.
void TTransferPool::dispatch()
{
    while (!m_waiting.empty()) {
        Worker* w = freeWorker();
        if (!w && static_cast<int>(m_workers.size()) < m_limit)
            w = openWorker();
        if (!w)
            break;
        w->job = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (w->loggedIn)
            run(*w);
    }
    if (m_limit == 0 && !m_waiting.empty() && OnJobsReturned) {
        std::vector<TTransferJob> back(std::make_move_iterator(m_waiting.begin()),
                                       std::make_move_iterator(m_waiting.end()));
        m_waiting.clear();
        OnJobsReturned(std::move(back));
    }
}

TTransferPool::Worker* TTransferPool::openWorker()
{
    if (!m_login)
        return nullptr;
    auto w = std::make_unique<Worker>();
    w->ftp = std::make_unique<TFTPclient>();
    w->number = m_nextNumber++;
    TFTPclient& c = *w->ftp;
    c.TakeLoginFrom(*m_login);
    c.SKeyLogin = false;
    c.Retry = 1;  // a refused connection is the server's limit, not a reason to wait and try again
    c.RetryDelay = 0;
    c.InitialDirectory.clear();
    c.ResumeSupported = m_login->ResumeSupported;
    c.TlsUpTo12 = m_tlsUpTo12 || m_login->TlsUpTo12;
    Worker* raw = w.get();
    c.OnLoggedIn = [this, raw](TFTPclient* ftp) { loginEnded(*raw, ftp->Success()); };
    c.OnFtpQuit = [this, raw](TFTPclient*) {
        if (!raw->loggedIn)
            loginEnded(*raw, false);
        else
            connectionLost(*raw);
    };
    // Its commands, replies and errors in the log, marked with its number.
    c.OnFtpInfo = [this, raw](TFTPclient* ftp, FtpInfo kind, const std::string& text) {
        if (kind == fiCommandSent || kind == fiReplyLine)
            log("[" + std::to_string(raw->number) + "] " + ftp->NameCodec().Decode(text).toStdString(),
                kind == fiCommandSent ? lcCommand : lcReply);
        else if (kind == fiAttemptsExhausted && !raw->loggedIn)
            // After this call returns: the client is still inside its own step.
            QTimer::singleShot(0, this, [this, number = raw->number] {
                if (Worker* w = byNumber(number))
                    loginEnded(*w, false);
            });
    };
    c.OnFtpError = [this, raw](TFTPclient*, FtpError kind, const std::string& text) {
        log("[" + std::to_string(raw->number) + "] " + FtpErrorText(kind, text), lcError);
    };
    c.OnFileReceived = [this, raw](TFTPclient*) { jobEnded(*raw); };
    c.OnFileStored = [this, raw](TFTPclient*) { jobEnded(*raw); };
    c.OnDirectoryCreated = [this, raw](TFTPclient*) { jobEnded(*raw); };
    c.OnListingDone = [this, raw](TFTPclient*) { jobEnded(*raw); };
    c.OnDirectoryChanged = [this, raw](TFTPclient* ftp) {
        // Entered: its listing follows; refused: the job ends with the refusal.
        if (raw->job && raw->job->Kind == TJobKind::ListFolder && ftp->Success()) {
            raw->job->Entered = true;
            ftp->List();
        }
        else
            jobEnded(*raw);
    };
    m_workers.push_back(std::move(w));
    c.Connect();
    return raw;
}

void TTransferPool::loginEnded(Worker& w, bool success)
{
    if (success && !w.loggedIn) {
        w.loggedIn = true;
        reportRefusal();
        if (w.job)
            run(w);
        else
            dispatch();
        return;
    }
    if (w.loggedIn)
        return;
    // The server would not take another connection ("421 Too many
    // connections", "530" for a per-user limit): the run goes on with the
    // connections it has, and asks no more of this server this session.
    // The others logging in meanwhile count: a refusal of theirs lowers it again.
    const int others = static_cast<int>(
        std::count_if(m_workers.begin(), m_workers.end(), [&](const auto& o) { return o.get() != &w; }));
    const std::string refusal = w.ftp->LastRefusal().empty() ? w.ftp->LastReply() : w.ftp->LastRefusal();
    if (others < m_limit) {
        m_limit = m_serverLimit = others;
        m_refusal = refusal.empty() ? "?" : refusal;
    }
    if (w.job)
        m_waiting.push_front(std::move(*w.job));
    w.job.reset();
    remove(w);
    reportRefusal();
    dispatch();
}

// Once no connection is still logging in: the limit a server's refusals
// settled on, in one line.
void TTransferPool::reportRefusal()
{
    if (m_refusal.empty() ||
        std::any_of(m_workers.begin(), m_workers.end(), [](const auto& o) { return !o->loggedIn; }))
        return;
    log("服务器拒绝了又一个传输连接 (" + std::exchange(m_refusal, {}) + "), 本次会话最多同时用 " +
            std::to_string(m_limit) + " 个传输连接",
        lcError);
}

void TTransferPool::run(Worker& w)
{
    TFTPclient& c = *w.ftp;
    const TTransferJob& j = *w.job;
    c.LocalFile = j.LocalPath;
    c.RemoteFile = j.RemotePath;
    c.TransferMode = j.Mode;
    c.TransferBytes = 0;
    ++w.job->Attempts;
    w.packets = -1;
    w.movedAt = TickCount();
    if (!m_watch->isActive())
        m_watch->start();
    if (j.Kind == TJobKind::ListFolder) {
        c.ChangeDir(j.RemotePath);
        return;
    }
    if (j.Kind == TJobKind::MakeFolder) {
        c.MakeDir(j.RemotePath);
        return;
    }
    if (j.Upload) {
        c.ResumePos = j.ResumePos;
        c.UploadTime = j.UploadTime;
        c.Upload(j.InScript, j.ViaTemporaryName);
    } else {
        c.AskFileTime = j.AskFileTime;
        c.Download(j.Resume, j.InScript, j.Size);
    }
    if (!c.Success() && c.ReplyState() == rsIdle) {
        // Refused before anything was sent (a local file that cannot be read
        // or written): it ends here, after this call returns.
        QTimer::singleShot(0, this, [this, number = w.number] {
            if (Worker* still = byNumber(number); still && still->job)
                jobEnded(*still);
        });
    }
}

void TTransferPool::jobEnded(Worker& w)
{
    if (!w.job)
        return;
    TFTPclient& c = *w.ftp;
    if (!c.Success() && c.FatalError() && !m_aborting && w.job->Attempts < MaxAttempts) {
        connectionLost(w);
        return;
    }
    if (!c.Success() && c.DataProtected() && c.DataSessionNotResumed() && !m_aborting &&
        w.job->Attempts < MaxAttempts) {
        // Out of TLS 1.3 session tickets (proftpd sends none on upload
        // connections): connections log in in TLS 1.2 from now on, whose
        // session resumes any number of times, and the file goes on one.
        m_tlsUpTo12 = true;
        log("服务器拒绝了未恢复 TLS 会话的数据连接, 以 TLS 1.2 重新登录后再试: " + w.job->RemotePath, lcError);
        m_waiting.push_front(std::move(*w.job));
        w.job.reset();
        remove(w);
        dispatch();
        return;
    }
    TTransferJob job = std::move(*w.job);
    w.job.reset();
    TJobResult r;
    r.Success = c.Success();
    r.Reason = c.LastRefusal();
    r.Bytes = c.TransferBytes;
    r.Milliseconds = c.TransferTime;
    r.ReceivedTime = c.ReceivedTime();
    r.Connection = w.number;
    if (job.Kind == TJobKind::ListFolder && r.Success)
        r.Lines = std::move(c.ListingLines);
    if (OnJobDone)
        OnJobDone(job, r);
    dispatch();
}

// The connection went away in the middle of a file: the file goes to
// another connection (a download goes on from what arrived), this one is
// dropped.
void TTransferPool::connectionLost(Worker& w)
{
    std::optional<TTransferJob> job = std::move(w.job);
    w.job.reset();
    remove(w);
    if (job) {
        if (job->Attempts >= MaxAttempts || m_aborting) {
            TJobResult r;
            r.Reason = "连接断开";
            if (OnJobDone)
                OnJobDone(*job, r);
        } else {
            if (job->Kind == TJobKind::File)
                log("传输连接断开, 在另一个连接上继续: " + job->RemotePath, lcError);
            if (!job->Upload)
                job->Resume = true;
            m_waiting.push_front(std::move(*job));
        }
    }
    dispatch();
}

void TTransferPool::remove(Worker& w)
{
    const auto it = std::find_if(m_workers.begin(), m_workers.end(), [&](const auto& o) { return o.get() == &w; });
    if (it == m_workers.end())
        return;
    // Called from the client's own events: it goes once they have returned.
    TFTPclient* c = (*it)->ftp.release();
    c->OnLoggedIn = nullptr;
    c->OnFtpQuit = nullptr;
    c->OnFtpInfo = nullptr;
    c->OnFtpError = nullptr;
    c->OnFileReceived = nullptr;
    c->OnFileStored = nullptr;
    c->OnDirectoryChanged = nullptr;
    c->OnDirectoryCreated = nullptr;
    c->OnListingDone = nullptr;
    c->Close();
    c->deleteLater();
    m_workers.erase(it);
}

void TTransferPool::AbortAll()
{
    m_aborting = true;
    std::deque<TTransferJob> waiting = std::move(m_waiting);
    m_waiting.clear();
    for (const TTransferJob& j : waiting)
        if (OnJobDone)
            OnJobDone(j, TJobResult{});
    // A file whose transfer command is out ends through its client's event
    // after "ABOR"; any other job (logging in, negotiating the data
    // connection, a folder's listing) ends now with its connection: an
    // "ABOR" between two of its commands ends nothing.
    std::vector<Worker*> dropped;
    for (const auto& w : m_workers) {
        if (w->job && w->loggedIn && w->job->Kind == TJobKind::File && w->ftp->ReplyState() == rsTransfer)
            w->ftp->Abort();
        else if (w->job)
            dropped.push_back(w.get());
    }
    for (Worker* w : dropped) {
        const TTransferJob job = std::move(*w->job);
        w->job.reset();
        remove(*w);
        if (OnJobDone)
            OnJobDone(job, TJobResult{});
    }
}

bool TTransferPool::Touches(const std::string& localPath, const std::string& remotePath) const
{
    const auto same = [&](const TTransferJob& j) {
        return j.Kind == TJobKind::File && (j.LocalPath == localPath || j.RemotePath == remotePath);
    };
    return std::any_of(m_waiting.begin(), m_waiting.end(), same) ||
           std::any_of(m_workers.begin(), m_workers.end(), [&](const auto& w) { return w->job && same(*w->job); });
}

void TTransferPool::Close()
{
    while (!m_workers.empty()) {
        Worker& w = *m_workers.back();
        if (w.loggedIn && w.ftp->Connected() && !w.job)
            w.ftp->Quit();
        remove(w);
    }
    m_waiting.clear();
}

std::vector<TRunningFile> TTransferPool::Running() const
{
    std::vector<TRunningFile> out;
    for (const auto& w : m_workers)
        if (w->job && w->job->Kind == TJobKind::File)
            out.push_back({&*w->job, w->number, w->loggedIn ? w->ftp->TransferBytes : 0, w->ftp->TransferTime,
                           w->ftp->Connected() ? w->ftp->LocalPort() : 0});
    return out;
}

std::vector<TQueueEntry> TTransferPool::InFlight() const
{
    std::vector<TQueueEntry> out;
    // A folder job's entry is still the queue's head.
    for (const auto& w : m_workers)
        if (w->job && w->job->Kind == TJobKind::File)
            out.push_back(w->job->Entry);
    for (const TTransferJob& j : m_waiting)
        if (j.Kind == TJobKind::File)
            out.push_back(j.Entry);
    return out;
}

// A worker by its number (numbers are never reused), if it is still there.
TTransferPool::Worker* TTransferPool::byNumber(int number) const
{
    for (const auto& w : m_workers)
        if (w->number == number)
            return w.get();
    return nullptr;
}

void TTransferPool::log(const std::string& text, int colour)
{
    if (OnLog)
        OnLog(text, colour);
}
