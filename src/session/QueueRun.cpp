#include "session/QueueRun.h"

#include "dialup/TTapiComponent.h"

#include "common/TextFormat.h"
#include "panes/PaneLogic.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

TQueueRun::TQueueRun(TFTPclient& client, TConnectionWorkflow& workflow, TSettings& settings, TTransferQueue& queue,
                     IQueueHost& host, IPrompt& prompt, QObject* parent)
    : QObject(parent),
      m_ftp(client),
      m_workflow(workflow),
      m_settings(settings),
      m_queue(queue),
      m_host(host),
      m_prompt(&prompt)
{
    // A detached run moves nothing over the browsing connection: what ends
    // there is the user's own.
    m_ftp.OnFileReceived = [this](TFTPclient*) {
        if (!m_detached)
            fileReceived();
    };
    m_ftp.OnFileStored = [this](TFTPclient*) {
        if (!m_detached)
            fileStored();
    };
    m_ftp.OnDirectoryCreated = [this](TFTPclient*) {
        if (!m_detached)
            directoryCreated();
        else if (DirectoryCreatedElsewhere)
            DirectoryCreatedElsewhere();
    };
    // Going disconnected (the user's, or a site change) ends a detached run:
    // its files stay queued.
    connect(&workflow, &TConnectionWorkflow::StateChanged, this, [this] {
        if (m_detached && m_workflow.State() == SessionState::Disconnected)
            Abort();
    });
    connect(&workflow, &TConnectionWorkflow::TransferListed, this, [this] { Listed(); });
    connect(&workflow, &TConnectionWorkflow::TransferDirectoryFailed, this, [this] { DirectoryFailed(); });
    workflow.SetQueueStarter([this] { return StartAfterLogin(); });
}

std::vector<TPaneItem> IQueueHost::LocalRowsOf(const std::string& dir) const
{
    // Names that are not UTF-8 are left out, as the pane leaves them out
    // (the run reports each as not uploaded).
    std::vector<TPaneItem> rows;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return rows;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (name == "." || name == ".." || QString::fromUtf8(name).toUtf8().toStdString() != name ||
            ::stat((EnsureTrailingSeparator(dir) + name).c_str(), &st) != 0)
            continue;
        const bool folder = S_ISDIR(st.st_mode);
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtime);
        rows.push_back({name, folder, folder ? -1 : static_cast<int64_t>(st.st_size),
                        TListingDate::Of(modified.date(), modified.time())});
    }
    ::closedir(d);
    return rows;
}

namespace {
const char* const SkipKinds[] = {"文件", "目录", "空目录"};

std::string localName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Control characters (and with high, every byte above 0x7f) shown as \xNN in
// log lines.
std::string printable(const std::string& name, bool high = false)
{
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || (high && u > 0x7f)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}
}  // namespace

bool TQueueRun::TransferQueue()
{
    if (State() != SessionState::Idle || m_queue.Empty())
        return false;
    m_runGoesOn = false;  // a run of the user's own
    StartQueue();
    ProcessQueueHead();
    return true;
}

bool TQueueRun::StartAfterLogin()
{
    if (m_queue.Empty())
        return false;
    StartQueue();
    ProcessQueueHead();
    return true;
}

void TQueueRun::StartQueue()
{
    m_waitingForPool = false;
    m_finishWhenPoolEnds.reset();
    m_poolClock.invalidate();
    // One budget for all the run's connections, the browsing one included.
    const TSessionOptions& site = m_workflow.Session;
    const int down = std::max(site.DownloadLimit.value_or(m_settings.DownloadLimit), 0);
    const int up = std::max(site.UploadLimit.value_or(m_settings.UploadLimit), 0);
    m_downloadLimit->SetBytesPerSecond(int64_t{down} * 1024);
    m_uploadLimit->SetBytesPerSecond(int64_t{up} * 1024);
    m_ftp.DownloadLimit = down > 0 ? m_downloadLimit : nullptr;
    m_ftp.UploadLimit = up > 0 ? m_uploadLimit : nullptr;
    if (m_pool) {
        m_pool->Begin(m_ftp, maxTransfers());
        m_pool->Watch(m_settings.StallProtection, m_settings.PacketTimeout, m_settings.HangTimeout);
    }
    // A run the user starts from an idle window with transfer connections
    // leaves the browsing connection to the user; scripts and unattended
    // runs, which browse nothing meanwhile, walk on it as before.
    m_detached = !m_runGoesOn && !m_manual && !ScriptRunning && !NoUser && m_pool && maxTransfers() > 1 &&
                 m_pool->Limit() > 0 && !m_ftp.SKeyLogin && m_workflow.State() == SessionState::Idle;
    setBusy(SessionState::Downloading);
    if (std::exchange(m_runGoesOn, false)) {
        // After a new login in the middle of the run: the run goes on where
        // it began, with its answers and its failures so far.
        if (m_progress)
            m_progress->ShowTransferPanels();
        return;
    }
    QueueStartRemoteDir = EnsureTrailingSeparator(m_host.RemoteDirectory());
    QueueStartLocalDir = EnsureTrailingSeparator(m_host.LocalDirectory());
    DeleteAfterUpload = false;
    ExistingFileAnswer = TExistingAnswer::Ask;
    m_written.clear();
    m_runEnded = 0;
    m_runFailed.clear();
    m_uploadedDirs.clear();
    m_ftp.TransferBytes = 0;
    if (m_detached) {
        // Where the panes are now: the rows the user chose from.
        m_walkDir = QueueStartRemoteDir;
        m_walkRows = m_host.RemoteRows();
        m_walkIndex.clear();
        for (size_t i = 0; i < m_walkRows.size(); ++i)
            m_walkIndex.emplace(m_walkRows[i].name, i);
        m_localDir = QueueStartLocalDir;
        m_walkRefusal.clear();
    }
    if (m_progress)
        m_progress->ShowTransferPanels();
}

void TQueueRun::SetProgress(TTransferProgress* progress)
{
    m_progress = progress;
    if (!progress)
        return;
    // The progress sees the data connection stand, the size the server
    // announces, and a file cut by a drop (its transfer-log line).
    connect(&m_workflow, &TConnectionWorkflow::TransferInfo, progress,
            [progress](::FtpInfo kind, const std::string& text) {
                if (kind == fiDataConnected)
                    progress->DataConnected();
                else
                    progress->SizeAnnounced(text);
            });
    connect(&m_workflow, &TConnectionWorkflow::TransferCut, progress,
            [progress](bool upload) { progress->LogTransfer(upload, false); });
    progress->QueueBytes = [this] {
        // The file moving now counts with the size found for it (in its
        // folder's listing) when it was queued without one.
        const bool sizeFound = !m_queue.Empty() && m_queue.Head().Size < 0;
        return m_queue.Bytes() + (sizeFound ? CurrentFileSize : 0);
    };
    progress->FilesLeft = [this] { return std::max<int64_t>(static_cast<int64_t>(m_queue.Files()) - 1, 0); };
    progress->CurrentFileSize = [this] { return CurrentFileSize; };
    progress->Transferring = [this] { return IsTransferring(m_workflow.State()); };
    progress->OnHung = [this] { hung(); };
    // The run's files on transfer connections, as one: what moved since
    // the first was handed over, of what is left.
    progress->OtherConnections = [this](TProgressFigures& f) {
        if (!m_pool || !m_pool->Busy() || !m_poolClock.isValid())
            return false;
        int64_t moving = 0, sizes = 0;
        const std::vector<TRunningFile> running = m_pool->Running();
        for (const TRunningFile& r : running) {
            moving += r.Bytes;
            sizes += r.Job->Size;
        }
        f.seconds = m_poolClock.elapsed() / 1000;
        f.bytesMoved = m_poolBytes + moving;
        f.queueBytes = m_poolBytes + sizes + static_cast<int64_t>(m_queue.Bytes());
        f.fileSize = f.queueBytes;
        f.filesLeft = static_cast<int64_t>(m_queue.Files() + running.size()) - 1;
        return true;
    };
    // The entry stays at the head and is resumed after the new login.
    progress->OnStalled = [this] { reconnectAndGoOn(); };
}

void TQueueRun::hung()
{
    // The data arrived in full but the final reply never came: the file
    // counts as done, and a fresh connection takes the rest.
    log("传输挂起, 文件视为完成: " + m_ftp.RemoteFile, lcError);
    m_ftp.CommitReceivedFile();
    RemoveQueueHead();
    if (!m_queue.Empty())
        reconnectAndGoOn();
    else
        FinishQueue(false);
}

void TQueueRun::reconnectAndGoOn()
{
    m_runGoesOn = true;
    m_workflow.Reconnect(true);
}

void TQueueRun::SkipQueueHead(int kind, const std::string& name)
{
    log(std::string("跳过") + SkipKinds[kind < 0 || kind > 2 ? 0 : kind] + ": " + name);
    ++m_runEnded;
    RemoveQueueHead();
    ProcessQueueHead();
}

void TQueueRun::ProcessQueueHead()
{
    // A step that ends at once (a skipped file, a removed entry) asks for the
    // next head from inside this call: it is taken here, in a loop, so a
    // long run of such entries does not nest a call per entry.
    if (m_inHead) {
        m_headAgain = true;
        return;
    }
    m_inHead = true;
    do {
        m_headAgain = false;
        processHead();
    } while (m_headAgain);
    m_inHead = false;
}

void TQueueRun::processHead()
{
    if (m_queue.Empty() || HaltRequested) {
        HaltRequested = false;
        FinishQueue(false);
        return;
    }
    const TQueueEntry head = m_queue.Head();
    if (!IsDirectoryEntry(head.Kind) && poolTakes() && !m_pool->HasFree()) {
        m_waitingForPool = true;
        return;
    }
    CurrentFileSize = 0;
    if (m_progress) {
        m_progress->Reset();
        m_progress->Waiting();
    }
    switch (head.Kind) {
        case TEntryKind::DownloadDirectory:
            if (skippedFolder(head))
                return;
            setBusy(SessionState::Downloading);
            enterRemote(head.Source);
            return;
        case TEntryKind::DownloadFile:
            setBusy(SessionState::Downloading);
            if (ParentPath(head.Source) != remoteDir() && !ParentPath(head.Source).empty())
                enterRemote(ParentPath(head.Source));
            else
                downloadHeadFile();
            return;
        case TEntryKind::UploadDirectory: {
            if (skippedFolder(head))
                return;
            setBusy(SessionState::Uploading);
            m_pendingDir = fromRunStart(head.Target);
            if (m_pendingDir.size() > 1 && m_pendingDir.back() == '/')
                m_pendingDir.pop_back();
            const std::string local = EnsureTrailingSeparator(head.Source);
            // A folder that cannot be read would be made empty on the server.
            if (!QFileInfo(QString::fromStdString(local)).isDir() ||
                !QDir(QString::fromStdString(local)).isReadable()) {
                failed(head, "无法读取本地目录: " + local);
                RemoveQueueHead();
                ProcessQueueHead();
                return;
            }
            struct stat st {};
            if (::stat(local.c_str(), &st) == 0 && !m_uploadedDirs.insert({st.st_dev, st.st_ino}).second) {
                // A link back into a folder of this run (a loop, or a second
                // way to the same folder): its files went up once already.
                SkipQueueHead(1, local + " (链接到已上传的目录)");
                return;
            }
            showLocal(local);
            if (localRows().empty() && m_settings.SkipDir) {
                SkipQueueHead(2, local);
                return;
            }
            m_pendingDir =
                ParentPath(m_pendingDir) + ApplyCaseRule(LastPathSegment(m_pendingDir), m_settings.ForceLowerCase);
            makeRemote(m_pendingDir);
            return;
        }
        case TEntryKind::UploadFile: {
            setBusy(SessionState::Uploading);
            std::string dir = fromRunStart(ParentPath(head.Target));
            if (dir.empty())
                dir = QueueStartRemoteDir;
            if (dir != remoteDir())
                enterRemote(dir);
            else
                uploadHeadFile();
            return;
        }
    }
}

bool TQueueRun::skippedFolder(const TQueueEntry& head)
{
    const std::string name = LastPathSegment(head.Target);
    if (!m_settings.SkipDirectories || !MatchesSkipList(name.substr(0, name.size() - 1), m_settings))
        return false;
    SkipQueueHead(1, head.Target);
    return true;
}

std::string TQueueRun::fromRunStart(const std::string& remote) const
{
    return remote.rfind("~/", 0) == 0 ? QueueStartRemoteDir + remote.substr(2) : remote;
}

void TQueueRun::directoryCreated()
{
    // Made or already there: either way the folder is entered.
    if (State() == SessionState::Uploading && !m_queue.Empty() &&
        m_queue.Head().Kind == TEntryKind::UploadDirectory)
        enterRemote(m_pendingDir);
    else if (!IsTransferring(State()) && DirectoryCreatedElsewhere)
        DirectoryCreatedElsewhere();
}

void TQueueRun::DirectoryFailed()
{
    if (m_queue.Empty()) {
        FinishQueue(false);
        return;
    }
    // The folder (or a file's folder) cannot be entered: that entry fails
    // and the run goes on with the next.
    const TQueueEntry head = m_queue.Head();
    const std::string folder = IsDirectoryEntry(head.Kind) ? head.Source : ParentPath(head.Source);
    failed(head, "无法进入目录: " + (IsDownloadEntry(head.Kind) ? folder : fromRunStart(head.Target)) + " (" +
                     lastRefusal() + ")");
    RemoveQueueHead();
    ProcessQueueHead();
}

void TQueueRun::Listed()
{
    if (m_queue.Empty()) {
        FinishQueue(false);
        return;
    }
    switch (m_queue.Head().Kind) {
        case TEntryKind::DownloadDirectory:
            expandDownload();
            return;
        case TEntryKind::DownloadFile:
            downloadHeadFile();
            return;
        case TEntryKind::UploadDirectory:
            expandUpload();
            return;
        case TEntryKind::UploadFile:
            uploadHeadFile();
            return;
    }
}

bool TQueueRun::ensureLocalDirectory(const std::string& dir, const TQueueEntry& entry)
{
    if (QDir().mkpath(QString::fromStdString(dir)))
        return true;
    failed(entry, "无法创建目录: " + dir);
    return false;
}

bool TQueueRun::unsafeName(const std::string& name, const std::string& where)
{
    if (SafeEntryName(name))
        return false;
    log("跳过不安全的名称: " + where + printable(name), lcError);
    return true;
}

void TQueueRun::expandDownload()
{
    const TQueueEntry head = m_queue.Head();
    const std::string local = EnsureTrailingSeparator(head.Target);
    const std::vector<TPaneItem> rows = remoteRows();
    if (rows.empty()) {
        if (!m_settings.SkipDir)
            ensureLocalDirectory(local, head);
        RemoveQueueHead();
        ProcessQueueHead();
        return;
    }
    const std::string prefix = EnsureTrailingSeparator(head.Source);
    RemoveQueueHead();
    if (tooDeep(head, prefix) || !ensureLocalDirectory(local, head)) {
        ProcessQueueHead();
        return;
    }
    showLocal(local);
    m_queue.InsertAtHead(childEntries(rows, prefix, local, true, head.Depth));
    ProcessQueueHead();
}

void TQueueRun::expandUpload()
{
    const TQueueEntry head = m_queue.Head();
    RemoveQueueHead();
    const std::string remote = EnsureTrailingSeparator(remoteDir());
    const std::string local = localDir();
    // Names that are not UTF-8 never reach the pane's rows: each is a file
    // the run was asked to move and did not.
    if (DIR* d = ::opendir(local.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." && QString::fromUtf8(name).toUtf8().toStdString() != name)
                failed({TEntryKind::UploadFile, local + name, -1, remote + name, head.Depth + 1},
                       "名称不是 UTF-8, 没有上传: " + local + printable(name, true));
        }
        ::closedir(d);
    }
    if (!tooDeep(head, local))
        m_queue.InsertAtHead(childEntries(localRows(), local, remote, false, head.Depth));
    ProcessQueueHead();
}

bool TQueueRun::tooDeep(const TQueueEntry& head, const std::string& folder)
{
    if (head.Depth < MaxTreeDepth)
        return false;
    log("目录层次超过 " + std::to_string(MaxTreeDepth) + ", 跳过: " + folder, lcError);
    return true;
}

std::string TargetName(const TFTPclient& ftp, const std::string& name, bool download)
{
    return download ? ftp.NameCodec().Decode(name).toStdString() : ftp.NameCodec().EncodeUtf8(name);
}

std::vector<TQueueEntry> TQueueRun::childEntries(const std::vector<TPaneItem>& rows, const std::string& source,
                                                 const std::string& target, bool download, int depth)
{
    std::vector<TQueueEntry> entries;
    entries.reserve(rows.size());
    for (const TPaneItem& r : rows) {
        if (unsafeName(r.name, source))
            continue;
        const TEntryKind kind = r.folder ? (download ? TEntryKind::DownloadDirectory : TEntryKind::UploadDirectory)
                                         : (download ? TEntryKind::DownloadFile : TEntryKind::UploadFile);
        const std::string end = r.folder ? "/" : "";
        const std::string targetName = TargetName(m_ftp, r.name, download);
        if (unsafeName(targetName, source))
            continue;
        entries.push_back({kind, source + r.name + end, r.folder ? -1 : r.size, target + targetName + end, depth + 1});
    }
    return entries;
}

TFileAction TQueueRun::askExisting(bool upload, const std::string& name, int64_t sourceSize, int64_t targetSize,
                                   const TListingDate& remoteDate, const std::string& localPath)
{
    IPrompt::ExistingFileRequest req;
    req.upload = upload;
    req.name = name;
    const QFileInfo info(QString::fromStdString(localPath));
    const std::string remoteLine = "远程文件: " + PaneSizeText(upload ? targetSize : sourceSize).toStdString() +
                                   " 字节 , " + PaneDateText(remoteDate).toStdString();
    const std::string localLine =
        "本地文件: " + PaneSizeText(info.size()).toStdString() + " 字节 , " +
        PaneDateText(TListingDate::Of(info.lastModified().date(), info.lastModified().time())).toStdString();
    req.source = upload ? localLine : remoteLine;
    req.target = upload ? remoteLine : localLine;
    // Only a target no larger than its source can be resumed into.
    req.resumeAllowed = m_ftp.ResumeSupported && (sourceSize < 0 || targetSize <= sourceSize);
    req.countdownSeconds = m_settings.DialogTimer ? 30 : 0;
    req.newName = upload ? m_ftp.RemoteFile : m_ftp.LocalFile;
    const IPrompt::ExistingFileAnswer a = m_prompt->AskExistingFile(req);
    if (a == IPrompt::ExistingFileAnswer::Rename && !req.newName.empty()) {
        if (upload)
            m_ftp.RemoteFile = req.newName;
        else
            m_ftp.LocalFile = req.newName;
    }
    switch (a) {
        case IPrompt::ExistingFileAnswer::SkipAll:
            ExistingFileAnswer = TExistingAnswer::SkipAll;
            return TFileAction::Skip;
        case IPrompt::ExistingFileAnswer::Skip:
            return TFileAction::Skip;
        case IPrompt::ExistingFileAnswer::Cancel:
            return TFileAction::Cancel;
        case IPrompt::ExistingFileAnswer::Resume:
            return req.resumeAllowed ? TFileAction::Resume : TFileAction::Overwrite;
        case IPrompt::ExistingFileAnswer::OverwriteAll:
            ExistingFileAnswer = TExistingAnswer::OverwriteAll;
            return TFileAction::Overwrite;
        default:
            return TFileAction::Overwrite;
    }
}

bool TQueueRun::goOn(TFileAction action)
{
    if (action == TFileAction::Skip)
        SkipQueueHead(0, m_ftp.RemoteFile);
    else if (action == TFileAction::Cancel)
        FinishQueue(false);  // the file stays queued
    return action != TFileAction::Skip && action != TFileAction::Cancel;
}

std::string TQueueRun::localTarget(const std::string& path, const std::string& source)
{
    const std::string cleaned = TFTPclient::SafeLocalName(path);
    const auto taken = [&](const std::string& p) {
        const auto it = m_written.find(p);
        return it != m_written.end() && it->second != source;
    };
    if (!taken(cleaned))
        return cleaned;
    // "q?a.bin" and "q*a.bin" both clean to "q_a.bin": the second becomes
    // "q_a (2).bin", never the first one's file.
    const std::string dir = ParentPath(cleaned), name = localName(cleaned);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
    for (int n = 2;; ++n) {
        const std::string candidate = dir + stem + " (" + std::to_string(n) + ")" + ext;
        if (!taken(candidate) && !QFileInfo::exists(QString::fromStdString(candidate))) {
            log("本地名称已被其他文件使用, 另存为: " + candidate);
            return candidate;
        }
    }
}

void TQueueRun::downloadHeadFile()
{
    if (m_queue.Empty()) {
        FinishQueue(false);
        return;
    }
    const TQueueEntry head = m_queue.Head();
    const std::string dir = ParentPath(head.Target);
    if (!dir.empty() && dir != localDir()) {
        if (!ensureLocalDirectory(dir, head)) {
            RemoveQueueHead();
            ProcessQueueHead();
            return;
        }
        showLocal(dir);
    }
    m_ftp.RemoteFile = LastPathSegment(head.Source);
    m_ftp.LocalFile = head.Target;
    int64_t size = head.Size;
    const bool sizeMissing = size < 0;
    const std::optional<TPaneItem> remote = findRemoteRow(m_ftp.RemoteFile);
    if (remote && sizeMissing)
        size = remote->size;
    CurrentFileSize = std::max<int64_t>(size, 0);
    if ((m_settings.SkipNull && !sizeMissing && CurrentFileSize == 0) ||
        MatchesSkipList(localName(m_ftp.LocalFile), m_settings)) {
        SkipQueueHead(0, m_ftp.RemoteFile);
        return;
    }
    m_ftp.TransferMode =
        ChooseTransferMode(static_cast<TModePanel>(m_workflow.TransferModePanel), m_ftp.LocalFile, m_settings);
    // The name it will have here: the existing file to ask about is that one.
    m_ftp.LocalFile = localTarget(
        ParentPath(m_ftp.LocalFile) +
            ApplyCaseRule(ApplyRenameRules(localName(m_ftp.LocalFile), false, m_settings, SessionRenameRules),
                          m_settings.ForceLowerCase),
        head.Source);
    if (waitForPool(m_ftp.LocalFile, EnsureTrailingSeparator(remoteDir()) + m_ftp.RemoteFile))
        return;
    const QFileInfo local(QString::fromStdString(m_ftp.LocalFile));
    const TExistingTarget target{local.exists(), local.exists() ? local.size() : 0, size};
    TFileAction action = DecideExisting(target, m_settings.ResumeMode, ExistingFileAnswer,
                                        m_workflow.AfterLogin == AfterLoginAction::ResumeQueue, m_ftp.ResumeSupported,
                                        ScriptRunning || NoUser);
    if (action == TFileAction::Ask)
        action = askExisting(false, localName(m_ftp.LocalFile), size, target.targetSize,
                             remote ? remote->date : TListingDate(), m_ftp.LocalFile);
    if (action == TFileAction::Overwrite && target.exists && size >= 0 && target.targetSize > size &&
        m_settings.ResumeMode == static_cast<int>(TExistingMode::Resume))
        log("本地文件比远程文件大, 不能续传, 覆盖: " + m_ftp.LocalFile);
    if (!goOn(action))
        return;
    const bool resume = action == TFileAction::Resume;
    if (m_settings.FreeSpace) {
        const int64_t have = QFileInfo::exists(QString::fromStdString(m_ftp.LocalFile))
                                 ? QFileInfo(QString::fromStdString(m_ftp.LocalFile)).size()
                                 : 0;
        const int64_t needed = CurrentFileSize - (resume ? have : 0);
        const QStorageInfo disk(QString::fromStdString(ParentPath(m_ftp.LocalFile)));
        if (disk.isValid() && disk.bytesAvailable() < needed &&
            !m_prompt->Confirm("没有足够的内存来下载当前文件. 无论如何都要继续 ?")) {
            FinishQueue(false);
            return;
        }
    }
    m_host.Status((resume ? "续传:" : "接收:") + localName(m_ftp.LocalFile));
    // An MLSD listing's time is exact; a LIST line's often only a day.
    const bool askTime = m_settings.PreserveDate && !m_ftp.ListingLines.Mlsd;
    if (poolTakes()) {
        TTransferJob job;
        job.Entry = head;
        job.RemotePath = EnsureTrailingSeparator(remoteDir()) + m_ftp.RemoteFile;
        job.LocalPath = m_ftp.LocalFile;
        job.Resume = resume;
        job.Size = CurrentFileSize;
        job.Mode = m_ftp.TransferMode;
        job.AskFileTime = askTime;
        job.ListedDate = remote ? remote->date : TListingDate();
        job.InScript = ScriptRunning;
        handOff(std::move(job));
        return;
    }
    if (m_progress)
        m_progress->FileStarted();
    m_ftp.AskFileTime = askTime;
    m_ftp.Download(resume, ScriptRunning, CurrentFileSize);
    if (refusedLocally())
        fileReceived();
}

void TQueueRun::uploadHeadFile()
{
    if (m_queue.Empty()) {
        FinishQueue(false);
        return;
    }
    const TQueueEntry head = m_queue.Head();
    const std::string name = LastPathSegment(head.Target);
    m_ftp.LocalFile = head.Source;
    const std::string dir = ParentPath(head.Source);
    if (!dir.empty() && dir != localDir() && QFileInfo(QString::fromStdString(dir)).isDir())
        showLocal(dir);
    CurrentFileSize = std::max<int64_t>(head.Size, 0);
    m_ftp.ResumePos = 0;
    m_ftp.RemoteFile = name;
    if ((m_settings.SkipNull && CurrentFileSize == 0) || MatchesSkipList(name, m_settings)) {
        SkipQueueHead(0, m_ftp.RemoteFile);
        return;
    }
    // The name it will have there: the existing file to ask about is that one.
    m_ftp.RemoteFile =
        ApplyCaseRule(ApplyRenameRules(name, true, m_settings, SessionRenameRules), m_settings.ForceLowerCase);
    if (waitForPool(m_ftp.LocalFile, EnsureTrailingSeparator(remoteDir()) + m_ftp.RemoteFile))
        return;
    const std::optional<TPaneItem> existing = findRemoteRow(m_ftp.RemoteFile);
    const int64_t localSize = QFileInfo(QString::fromStdString(m_ftp.LocalFile)).size();
    const int64_t remoteSize = existing ? std::max<int64_t>(existing->size, 0) : 0;
    const TExistingTarget target{existing.has_value(), remoteSize, localSize};
    TFileAction action = DecideExisting(target, m_settings.UploadMode, ExistingFileAnswer,
                                        m_workflow.AfterLogin == AfterLoginAction::ResumeQueue, m_ftp.ResumeSupported,
                                        ScriptRunning || NoUser);
    if (action == TFileAction::Ask)
        action = askExisting(true, m_ftp.RemoteFile, localSize, remoteSize, existing->date, m_ftp.LocalFile);
    if (action == TFileAction::Overwrite && existing && remoteSize > localSize &&
        m_settings.UploadMode == static_cast<int>(TExistingMode::Resume))
        log("远程文件比本地文件大, 不能续传, 覆盖: " + m_ftp.RemoteFile);
    if (!goOn(action))
        return;
    if (action == TFileAction::Resume)
        m_ftp.ResumePos = remoteSize;
    m_ftp.TransferMode =
        ChooseTransferMode(static_cast<TModePanel>(m_workflow.TransferModePanel), m_ftp.LocalFile, m_settings);
    m_host.Status("发送:" + name);
    const int64_t time =
        m_settings.PreserveDate ? QFileInfo(QString::fromStdString(m_ftp.LocalFile)).lastModified().toSecsSinceEpoch()
                                : 0;
    if (poolTakes()) {
        TTransferJob job;
        job.Entry = head;
        job.Upload = true;
        job.RemotePath = EnsureTrailingSeparator(remoteDir()) + m_ftp.RemoteFile;
        job.LocalPath = m_ftp.LocalFile;
        job.ResumePos = m_ftp.ResumePos;
        job.Size = CurrentFileSize;
        job.Mode = m_ftp.TransferMode;
        job.UploadTime = time;
        job.ViaTemporaryName = m_settings.UploadTempName;
        job.InScript = ScriptRunning;
        handOff(std::move(job));
        return;
    }
    if (m_progress)
        m_progress->FileStarted();
    m_ftp.UploadTime = time;
    m_ftp.Upload(ScriptRunning, m_settings.UploadTempName);
    if (refusedLocally())
        fileStored();
}

bool TQueueRun::refusedLocally() const
{
    // The client refuses a local file it cannot write or read before it sends
    // anything, with an error and no completion: that file ends here, as if
    // moved, and the run goes on.
    return !m_ftp.Success() && m_ftp.ReplyState() == rsIdle;
}

void TQueueRun::ManualDownload(const std::string& remote)
{
    std::string name = remote;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    name = LastPathSegment(name);
    if (!SafeEntryName(name)) {
        log("跳过不安全的名称: " + remote, lcError);
        return;
    }
    m_manual = true;
    StartQueue();
    m_host.ShowLocalDirectory(m_host.LocalDirectory());
    CurrentFileSize = 0;
    m_host.Status("接收:" + name + " (0字节)");
    m_ftp.LocalFile = localTarget(m_host.LocalDirectory() + name, remote);
    m_ftp.RemoteFile = remote;
    m_ftp.TransferMode =
        ChooseTransferMode(static_cast<TModePanel>(m_workflow.TransferModePanel), m_ftp.LocalFile, m_settings);
    // A file of that name here is not overwritten unasked.
    bool resume = false;
    const QFileInfo local(QString::fromStdString(m_ftp.LocalFile));
    if (local.exists() && !ScriptRunning && !NoUser) {
        const TFileAction action =
            askExisting(false, localName(m_ftp.LocalFile), -1, local.size(), {}, m_ftp.LocalFile);
        if (action == TFileAction::Skip || action == TFileAction::Cancel) {
            m_manual = false;
            FinishQueue(false);
            return;
        }
        resume = action == TFileAction::Resume;
    }
    if (m_progress)
        m_progress->FileStarted();
    m_ftp.Download(resume, ScriptRunning, 0);
    if (refusedLocally())
        fileReceived();
}

void TQueueRun::failed(const TQueueEntry& entry, const std::string& reason)
{
    log(reason, lcError);
    ++m_runEnded;
    m_failed.push_back({entry, reason});
    m_runFailed.push_back(LastPathSegment(entry.Source));
    if (OnFailuresChanged)
        OnFailuresChanged();
}

void TQueueRun::RetryFailed(const std::vector<size_t>& rows)
{
    std::vector<TQueueEntry> again;
    for (size_t i = 0; i < m_failed.size(); ++i)
        if (rows.empty() || std::find(rows.begin(), rows.end(), i) != rows.end())
            again.push_back(m_failed[i].Entry);
    ClearFailed(rows);
    for (const TQueueEntry& e : again)
        m_queue.Append(e);
}

void TQueueRun::ClearFailed(const std::vector<size_t>& rows)
{
    if (rows.empty()) {
        m_failed.clear();
    } else {
        std::vector<TFailedEntry> kept;
        for (size_t i = 0; i < m_failed.size(); ++i)
            if (std::find(rows.begin(), rows.end(), i) == rows.end())
                kept.push_back(std::move(m_failed[i]));
        m_failed = std::move(kept);
    }
    if (OnFailuresChanged)
        OnFailuresChanged();
}

bool TQueueRun::reloginForTlsSession()
{
    // TLS 1.3 session tickets serve once; a server that sends none on
    // upload connections (proftpd 1.3.8) runs out of them after a few
    // uploads, and refuses a data connection that starts a new session.
    // A new login in TLS 1.2, whose session resumes any number of times,
    // serves the rest of the run; the file is tried once more then.
    if (m_ftp.Success() || !m_ftp.DataProtected() || !m_ftp.DataSessionNotResumed() || m_manual ||
        m_queue.Empty() || m_headRelogged || !IsTransferring(m_workflow.State()))
        return false;
    m_headRelogged = true;
    log("服务器拒绝了未恢复 TLS 会话的数据连接, 以 TLS 1.2 重新登录后再试: " + m_queue.Head().Source, lcError);
    m_ftp.TlsUpTo12 = true;
    reconnectAndGoOn();
    return true;
}

void TQueueRun::fileDone(bool upload)
{
    if (m_ftp.Success()) {
        ++m_runEnded;
        ++Completed;
    } else {
        const std::string& refusal = m_ftp.LastRefusal();
        const TQueueEntry entry = m_manual || m_queue.Empty()
                                      ? TQueueEntry{TEntryKind::DownloadFile, m_ftp.RemoteFile, -1, m_ftp.LocalFile}
                                      : m_queue.Head();
        failed(entry, (upload ? "上传失败: " : "下载失败: ") + entry.Source +
                          (refusal.empty() ? std::string() : " (" + refusal + ")"));
    }
    if (m_progress)
        m_progress->LogTransfer(upload);
    if (IsTransferring(m_workflow.State()) && OnStatistics)
        OnStatistics(upload, m_ftp.TransferBytes);
}

void TQueueRun::fileReceived()
{
    if (reloginForTlsSession())
        return;
    fileDone(false);
    const SessionState state = m_workflow.State();
    if (std::exchange(m_manual, false)) {
        m_workflow.AfterLogin = AfterLoginAction::None;
        FinishQueue(false);
        return;
    }
    if (state != SessionState::Downloading) {
        if (state == SessionState::Aborting) {
            m_host.ShowLocalDirectory(m_host.LocalDirectory());
            FinishQueue(false);
        }
        return;
    }
    m_workflow.AfterLogin = AfterLoginAction::None;
    if (m_ftp.Success() && !m_queue.Empty())
        m_written[m_ftp.LocalFile] = m_queue.Head().Source;
    if (m_settings.PreserveDate && m_ftp.Success() && !m_queue.Empty()) {
        // The server's exact time (MDTM), else the listing's date when it
        // has one; the file keeps its own date otherwise.
        const std::optional<TPaneItem> r = m_host.FindRemoteRow(LastPathSegment(m_queue.Head().Source));
        QFile f(QString::fromStdString(m_ftp.LocalFile));
        if (m_ftp.ReceivedTime() >= 0 && f.open(QIODevice::ReadWrite))
            f.setFileTime(QDateTime::fromSecsSinceEpoch(m_ftp.ReceivedTime(), Qt::UTC),
                          QFileDevice::FileModificationTime);
        else if (r && r->date.Kind != TListingDate::None && f.open(QIODevice::ReadWrite))
            f.setFileTime(r->date.Value(), QFileDevice::FileModificationTime);
    }
    RemoveQueueHead();
    if (m_settings.ReceiveRefresh)
        m_host.RefreshLocalSoon();
    ProcessQueueHead();
}

void TQueueRun::fileStored()
{
    if (reloginForTlsSession())
        return;
    fileDone(true);
    const SessionState state = m_workflow.State();
    if (state == SessionState::Aborting) {
        FinishQueue(true);
        return;
    }
    if (state != SessionState::Uploading)
        return;
    m_workflow.AfterLogin = AfterLoginAction::None;
    if (DeleteAfterUpload && m_ftp.Success())
        QFile::remove(QString::fromStdString(m_ftp.LocalFile));
    RemoveQueueHead();
    ProcessQueueHead();
}

void TQueueRun::Abort()
{
    if (!IsTransferring(State()))
        return;
    setBusy(SessionState::Aborting);
    if (m_pool && m_pool->Busy())
        m_pool->AbortAll();
    if (!m_detached && m_ftp.ReplyState() != rsIdle)
        m_ftp.Abort();
    else if (!m_finishWhenPoolEnds)
        FinishQueue(false);  // the browsing connection was only waiting for the transfer connections
}

// ---------------------------------------------------------------- transfer connections

void TQueueRun::SetPool(TTransferPool* pool)
{
    m_pool = pool;
    if (!pool)
        return;
    pool->OnJobDone = [this](const TTransferJob& job, const TJobResult& r) { jobDone(job, r); };
    pool->OnJobsReturned = [this](std::vector<TTransferJob> jobs) {
        // No transfer connection can be had: the browsing connection moves them.
        std::vector<TQueueEntry> back;
        for (const TTransferJob& j : jobs)
            if (j.Kind == TJobKind::File)
                back.push_back(j.Entry);
        m_queue.InsertAtHead(std::move(back));
        const bool waited = std::exchange(m_waitingForPool, false);
        if (m_detached)
            attach();  // whatever it waited for: a file's turn or a folder
        else if (waited)
            ProcessQueueHead();
    };
    // Their errors are not the run's failures: a file counts when it ends
    // (a connection refused or lost does not fail the file it hands on).
    pool->OnLog = [this](const std::string& text, int colour) { m_workflow.LogLine(text, colour); };
}

int TQueueRun::maxTransfers() const
{
    return m_workflow.Session.MaxTransfers.value_or(m_settings.MaxTransfers);
}

bool TQueueRun::poolTakes() const
{
    return m_pool && maxTransfers() > 1 && m_pool->Limit() > 0 && !m_manual && !m_ftp.SKeyLogin &&
           IsTransferring(State());
}

bool TQueueRun::waitForPool(const std::string& localPath, const std::string& remotePath)
{
    if (!m_pool || !m_pool->Touches(localPath, remotePath))
        return false;
    m_waitingForPool = true;
    return true;
}

void TQueueRun::handOff(TTransferJob job)
{
    if (!job.Upload)
        m_written[job.LocalPath] = job.Entry.Source;  // no other file of this run writes there meanwhile
    if (!m_detached)
        m_workflow.AfterLogin = AfterLoginAction::None;
    RemoveQueueHead();
    if (!m_poolClock.isValid()) {
        m_poolClock.start();
        m_poolBytes = 0;
    }
    m_pool->Start(std::move(job));
    if (m_progress)
        m_progress->DataConnected();  // the tick shows the transfer connections' sum
    ProcessQueueHead();
}

void TQueueRun::jobDone(const TTransferJob& job, const TJobResult& r)
{
    if (job.Kind != TJobKind::File) {
        walked(job, r);
        return;
    }
    const SessionState state = State();
    if (!r.Success && (state == SessionState::Aborting || !IsTransferring(state))) {
        // Stopped by the user or with the run: it stays queued.
        m_queue.InsertAtHead({job.Entry});
    } else if (r.Success) {
        m_poolBytes += r.Bytes;
        ++m_runEnded;
        ++Completed;
        if (job.Upload && DeleteAfterUpload)
            QFile::remove(QString::fromStdString(job.LocalPath));
        if (!job.Upload && m_settings.PreserveDate) {
            QFile f(QString::fromStdString(job.LocalPath));
            if (r.ReceivedTime >= 0 && f.open(QIODevice::ReadWrite))
                f.setFileTime(QDateTime::fromSecsSinceEpoch(r.ReceivedTime, Qt::UTC),
                              QFileDevice::FileModificationTime);
            else if (job.ListedDate.Kind != TListingDate::None && f.open(QIODevice::ReadWrite))
                f.setFileTime(job.ListedDate.Value(), QFileDevice::FileModificationTime);
        }
        log("传输连接 " + std::to_string(r.Connection) + (job.Upload ? ": 已发送 " : ": 已接收 ") +
            m_ftp.NameCodec().Decode(job.RemotePath).toStdString() + " (" + GroupedNumber(r.Bytes) + " 字节)");
        if (OnStatistics)
            OnStatistics(job.Upload, r.Bytes);
        if (!job.Upload && m_settings.ReceiveRefresh)
            m_host.RefreshLocalSoon();
    } else {
        failed(job.Entry, (job.Upload ? "上传失败: " : "下载失败: ") + job.Entry.Source +
                              (r.Reason.empty() ? std::string() : " (" + r.Reason + ")"));
    }
    if (m_progress)
        m_progress->LogTransferOf(job.Upload, LastPathSegment(job.RemotePath), r.Bytes, r.Milliseconds, r.Success);
    if (m_finishWhenPoolEnds) {
        if (!m_pool->Busy())
            FinishQueue(*std::exchange(m_finishWhenPoolEnds, std::nullopt));
        return;
    }
    // Aborting: no next file; Abort finishes the run once the last one ends.
    if (std::exchange(m_waitingForPool, false) && IsTransferring(State()))
        ProcessQueueHead();
}

void TQueueRun::walked(const TTransferJob& job, const TJobResult& r)
{
    const SessionState state = State();
    if (m_finishWhenPoolEnds || state == SessionState::Aborting || !IsTransferring(state)) {
        // Stopped meanwhile: the folder stays at the queue's head.
        if (m_finishWhenPoolEnds && !m_pool->Busy())
            FinishQueue(*std::exchange(m_finishWhenPoolEnds, std::nullopt));
        return;
    }
    if (job.Kind == TJobKind::MakeFolder) {
        directoryCreated();  // made or already there: entered either way
        return;
    }
    if (!job.Entered) {
        m_walkRefusal = r.Reason.empty() ? "连接断开" : r.Reason;
        DirectoryFailed();
        return;
    }
    // Entered: a listing that failed counts as an empty folder, as on the
    // browsing connection.
    m_walkDir = EnsureTrailingSeparator(job.RemotePath);
    walkRows(r.Lines);
    Listed();
}

void TQueueRun::walkRows(const TListingLines& lines)
{
    const TRemoteRowRules rules = m_host.RemoteRowRules();
    TListParser parser;
    parser.BeginListing();
    m_walkRows.clear();
    m_walkIndex.clear();
    for (const std::string_view line : lines) {
        TRemoteEntry e;
        if (!parser.ParseLine(m_ftp.ServerType, lines.Mlsd, std::string(line), e) || e.Name == "." || e.Name == "..")
            continue;
        const QString text = m_ftp.NameCodec().Decode(e.Name);
        if (!(MaskMatch(text, rules.filter) || (e.IsDir && !rules.filterFolders)) || (e.IsLink && !rules.showLinks))
            continue;
        m_walkIndex.emplace(e.Name, m_walkRows.size());
        m_walkRows.push_back({std::move(e.Name), e.IsDir, e.IsDir ? -1 : e.Size, e.Date});
    }
}

std::optional<TPaneItem> TQueueRun::findRemoteRow(const std::string& name) const
{
    if (!m_detached)
        return m_host.FindRemoteRow(name);
    if (const auto it = m_walkIndex.find(name); it != m_walkIndex.end())
        return m_walkRows[it->second];
    // As the pane finds it: a name that differs only in case.
    const QString wanted = m_ftp.NameCodec().Decode(name);
    for (const TPaneItem& r : m_walkRows)
        if (m_ftp.NameCodec().Decode(r.name).compare(wanted, Qt::CaseInsensitive) == 0)
            return r;
    return std::nullopt;
}

void TQueueRun::setBusy(SessionState s)
{
    if (m_detached)
        m_detachedState = s;
    else
        m_workflow.SetBusy(s);
}

void TQueueRun::showLocal(const std::string& dir)
{
    if (m_detached)
        m_localDir = EnsureTrailingSeparator(dir);
    else
        m_host.ShowLocalDirectory(dir);
}

void TQueueRun::enterRemote(const std::string& dir)
{
    if (m_detached)
        folderJob(TJobKind::ListFolder, dir);
    else
        m_ftp.ChangeDir(dir);
}

void TQueueRun::makeRemote(const std::string& dir)
{
    if (m_detached)
        folderJob(TJobKind::MakeFolder, dir);
    else
        m_ftp.MakeDir(dir);
}

void TQueueRun::folderJob(TJobKind kind, const std::string& dir)
{
    TTransferJob job;
    job.Kind = kind;
    job.RemotePath = dir;
    m_pool->Start(std::move(job));
}

void TQueueRun::attach()
{
    if (m_workflow.State() != SessionState::Idle) {
        // The user is busy on it: the run stops, its files stay queued.
        log("没有传输连接能登录, 队列停止", lcError);
        FinishQueue(false);
        return;
    }
    const SessionState s = m_detachedState;
    m_detached = false;
    m_workflow.SetBusy(s);
    ProcessQueueHead();  // the folder or file at the head, again on the browsing connection
}

void TQueueRun::TakeBackInFlight()
{
    if (!m_pool)
        return;
    const std::vector<TQueueEntry> inFlight = m_pool->InFlight();
    m_pool->Close();  // ends no job through OnJobDone
    m_queue.InsertAtHead(inFlight);
}

void TQueueRun::FinishQueue(bool returnHome)
{
    if (m_pool && m_pool->Busy()) {
        // The run ends when its last file does.
        m_finishWhenPoolEnds = returnHome || m_finishWhenPoolEnds.value_or(false);
        return;
    }
    if (m_pool)
        m_pool->Close();
    m_ftp.DownloadLimit = m_ftp.UploadLimit = nullptr;  // the limits are the run's
    m_runGoesOn = false;
    if (!m_runFailed.empty()) {
        // What this run did not move, in one line a user (or a log reader) finds.
        std::string names;
        for (size_t i = 0; i < m_runFailed.size() && i < 10; ++i)
            names += (i ? ", " : "") + m_runFailed[i];
        if (m_runFailed.size() > 10)
            names += ", ...";
        m_workflow.LogLine(
            std::to_string(m_runFailed.size()) + " 个项目失败 (共 " + std::to_string(m_runEnded) + " 个项目): " + names,
            lcError);
        m_runFailed.clear();
        m_runEnded = 0;
    }
    const SessionState was = State();
    const bool detached = std::exchange(m_detached, false);
    if (detached)
        m_detachedState = SessionState::Idle;
    else
        m_workflow.SetBusy(SessionState::Refreshing);
    if (!detached)
        m_workflow.AfterLogin = AfterLoginAction::None;
    if (m_progress)
        m_progress->ShowNormalPanels();
    if (OnFinished)
        OnFinished();
    m_workflow.PlaySound(m_settings.TransferSound, m_settings.TransferWav);
    if (detached) {
        // The panes stayed the user's: each shows what the run changed in it.
        if (was == SessionState::Downloading || DeleteAfterUpload)
            m_host.ShowLocalDirectory(m_host.LocalDirectory());
        if (was != SessionState::Downloading)
            m_workflow.UserRefresh();  // busy while it lists, as the user's own refresh
    } else if (m_host.LocalDirectory() != QueueStartLocalDir && !QueueStartLocalDir.empty() &&
        QFileInfo(QString::fromStdString(QueueStartLocalDir)).isDir())
        m_host.ShowLocalDirectory(QueueStartLocalDir);
    else if (was == SessionState::Downloading || DeleteAfterUpload)
        m_host.ShowLocalDirectory(m_host.LocalDirectory());
    if (HangUpWhenDone)
        HangUpActiveConnection(true, {});
    if (ScriptRunning || CompletionAction == TCompletionAction::Idle) {
        if (detached)
            return;
        const bool elsewhere = EnsureTrailingSeparator(m_host.RemoteDirectory()) != QueueStartRemoteDir;
        const bool emptyPane = was == SessionState::Downloading && m_host.RemoteRows().empty();
        if (!QueueStartRemoteDir.empty() &&
            (elsewhere || returnHome || was == SessionState::Uploading || was == SessionState::Aborting || emptyPane))
            m_ftp.ChangeDir(QueueStartRemoteDir);
        else
            m_workflow.Refresh();
        return;
    }
    m_workflow.GoDisconnected();
    if (CompletionAction == TCompletionAction::HangUp || CompletionAction == TCompletionAction::HangUpQuit) {
        log("正挂断 ISP...");
        HangUpActiveConnection(false, [this](const std::string& line, bool) { log(line); });
    }
    switch (CompletionAction) {
        case TCompletionAction::Quit:
        case TCompletionAction::HangUpQuit:
            m_host.CloseWindow();
            break;
        case TCompletionAction::PowerOff:
            if (m_power && m_power->PowerOff())
                m_host.CloseWindow();
            break;
        default:
            break;
    }
}
