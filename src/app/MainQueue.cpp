// The main window's side of the transfer queue: the queue list, adding the
// panes' selections and dropped files, and the thin handlers of the queue's
// commands. The run itself is TQueueRun.

#include "app/Main.h"
#include "app/QueueView.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>

namespace {
// The panes as a queue run sees them.
class TWindowQueueHost : public IQueueHost {
public:
    explicit TWindowQueueHost(TfrmMain& w) : m_w(w) {}
    std::string LocalDirectory() const override { return m_w.LocalDirectory().toStdString(); }
    void ShowLocalDirectory(const std::string& dir) override
    {
        m_w.SetLocalDirectory(QString::fromStdString(dir));
        m_w.ListLocalDirectory();
    }
    std::vector<TPaneItem> LocalRows() const override { return rows(m_w.Local); }
    std::vector<TPaneItem> RemoteRows() const override { return rows(m_w.Remote); }
    std::optional<TPaneItem> FindRemoteRow(const std::string& name) const override
    {
        const QString wanted = QString::fromStdString(name);
        for (int r = 0; r < m_w.Remote->RowCount(); ++r)
            if (m_w.Remote->Kind(r) != rkParent && m_w.Remote->Text(r, 0).compare(wanted, Qt::CaseInsensitive) == 0)
                return item(m_w.Remote, r);
        return std::nullopt;
    }
    std::string RemoteDirectory() const override { return m_w.currentRemotePath(); }
    void Status(const std::string& text) override { m_w.StatusPanel->setText(QString::fromStdString(text)); }
    void CloseWindow() override { m_w.CloseWithoutQuestions(); }

private:
    static TPaneItem item(const TCorvListView* pane, int r)
    {
        return {pane->Text(r, 0).toStdString(), pane->Kind(r) == rkFolder, pane->Size(r), pane->Date(r)};
    }
    static std::vector<TPaneItem> rows(const TCorvListView* pane)
    {
        std::vector<TPaneItem> out;
        out.reserve(static_cast<size_t>(pane->RowCount()));
        for (int r = 0; r < pane->RowCount(); ++r)
            if (pane->Kind(r) != rkParent)
                out.push_back(item(pane, r));
        return out;
    }
    TfrmMain& m_w;
};
}  // namespace

void TfrmMain::buildQueue(QWidget* parent)
{
    Queue = new TQueueView(m_transferQueue, parent);
    Queue->setObjectName(QStringLiteral("Queue"));
}

void TfrmMain::buildQueueRun()
{
    m_queueHost = std::make_unique<TWindowQueueHost>(*this);
    m_queueRun =
        std::make_unique<TQueueRun>(FTP, *m_workflow, m_settings, m_transferQueue, *m_queueHost, *m_prompt, this);
    Queue->OnFilesDropped = [this](const QStringList& paths) { QueueFileDrop(paths); };
    Queue->OnPaneRowsDragOver = [](int tag) { return tag == 12 || tag == 14; };
    Queue->OnPaneRowsDropped = [this](int tag) { AddSelectionToQueue(tag == 14 ? Remote : Local); };
    // While a file moves, the head row stays where it is.
    Queue->OnRowMove = [this](size_t from, size_t onto) {
        return !IsTransferring(m_workflow->State()) || (from != 0 && onto != 0);
    };
    Remote->OnFileDrop = [this](TCorvListView*, const QStringList& files, QPoint) { RemoteFileDrop(files); };
    OnPaneDrop = [this](const TPaneDrop& drop) {
        const std::string folder = drop.folder.toStdString();
        if (drop.kind == TPaneDrop::Download)
            mnuDownloadClick(folder);
        else if (drop.kind == TPaneDrop::Upload)
            mnuUploadClick(folder);
    };
}

void TfrmMain::queueHooks(TConnectionWorkflow::Hooks& hooks)
{
    hooks.TransferListed = [this] { m_queueRun->Listed(); };
    hooks.TransferDirectoryFailed = [this] { m_queueRun->DirectoryFailed(); };
    hooks.StartQueueAfterLogin = [this] { return m_queueRun->StartAfterLogin(); };
}

void TfrmMain::AddSelectionToQueue(TCorvListView* pane, const std::string& extra)
{
    const bool download = pane == Remote;
    const std::string prefix =
        EnsureTrailingSeparator(download ? m_queueHost->RemoteDirectory() : LocalDirectory().toStdString());
    std::string targetDir;
    if (download)
        targetDir = EnsureTrailingSeparator(LocalDirectory().toStdString() + extra);
    else if (FTP.LoggedIn())
        targetDir = EnsureTrailingSeparator(m_queueHost->RemoteDirectory() + extra);
    else
        targetDir = "~/";
    std::vector<TQueueEntry> entries;
    for (int row : pane->SelectedRows()) {
        const int kind = pane->Kind(row);
        if (kind == rkParent)
            continue;
        const std::string name = pane->Text(row, 0).toStdString();
        if (!SafeEntryName(name)) {
            LogLine("跳过不安全的名称: " + name, lcError);
            continue;
        }
        if (kind == rkFile)
            entries.push_back({download ? TEntryKind::DownloadFile : TEntryKind::UploadFile, prefix + name,
                               pane->Size(row), targetDir + name});
        else
            entries.push_back({download ? TEntryKind::DownloadDirectory : TEntryKind::UploadDirectory,
                               EnsureTrailingSeparator(prefix + name), -1, EnsureTrailingSeparator(targetDir + name)});
    }
    m_transferQueue.Append(std::move(entries));
    Queue->FitColumns();
}

void TfrmMain::queTransferClick()
{
    m_queueRun->TransferQueue();
}

void TfrmMain::mnuDownloadClick(const std::string& extra)
{
    transferSelection(Remote, extra);
}

void TfrmMain::mnuUploadClick(const std::string& extra)
{
    transferSelection(Local, extra);
}

void TfrmMain::transferSelection(TCorvListView* pane, const std::string& extra)
{
    if (m_workflow->State() != SessionState::Idle)
        return;
    m_queueRun->StartQueue();
    AddSelectionToQueue(pane, extra);
    m_queueRun->ProcessQueueHead();
}

std::vector<TQueueEntry> TfrmMain::droppedFiles(const QStringList& paths) const
{
    const std::string dir = FTP.LoggedIn() ? m_queueHost->RemoteDirectory() : std::string("~/");
    std::vector<TQueueEntry> entries;
    for (const QString& path : paths) {
        const QFileInfo fi(path);
        if (!fi.exists())
            continue;
        const std::string name = fi.fileName().toStdString();
        if (!SafeEntryName(name))
            continue;
        if (fi.isDir())
            entries.push_back({TEntryKind::UploadDirectory,
                               EnsureTrailingSeparator(fi.absoluteFilePath().toStdString()), -1, dir + name + "/"});
        else
            entries.push_back({TEntryKind::UploadFile, fi.absoluteFilePath().toStdString(), fi.size(), dir + name});
    }
    return entries;
}

void TfrmMain::QueueFileDrop(const QStringList& paths)
{
    m_transferQueue.Append(droppedFiles(paths));
    Queue->FitColumns();
}

void TfrmMain::RemoteFileDrop(const QStringList& paths)
{
    if (m_workflow->State() != SessionState::Idle)
        return;
    m_transferQueue.Append(droppedFiles(paths));
    m_queueRun->StartQueue();
    m_queueRun->ProcessQueueHead();
}

void TfrmMain::queDeleteClick()
{
    std::vector<size_t> rows = Queue->SelectedRows();
    if (IsTransferring(m_workflow->State()))
        std::erase(rows, size_t{0});  // the file that moves now
    m_transferQueue.Remove(rows);
}

void TfrmMain::queClearClick()
{
    if (!IsTransferring(m_workflow->State()))
        m_transferQueue.Clear();
}

void TfrmMain::queMoveTopClick()
{
    const bool busy = IsTransferring(m_workflow->State());
    m_transferQueue.MoveToFront(Queue->SelectedRows(), busy ? 1 : 0);
}

void TfrmMain::queMoveBottomClick()
{
    std::vector<size_t> rows = Queue->SelectedRows();
    if (IsTransferring(m_workflow->State()))
        std::erase(rows, size_t{0});
    m_transferQueue.MoveToEnd(rows);
}

void TfrmMain::mnuHaltClick()
{
    if (m_prompt->Confirm("当前文件结束后停止传输吗 ?"))
        m_queueRun->Halt();
}

void TfrmMain::btnAbortClick()
{
    const SessionState state = m_workflow->State();
    if (state == SessionState::Disconnected)
        return;
    m_workflow->LogLine("中断操作", lcNormal);
    if (IsTransferring(state))
        m_queueRun->Abort();
    else if (state > SessionState::Idle)
        FTP.SendRaw("ABOR");
    else if (state != SessionState::Idle)
        m_workflow->GoDisconnected();
}

IPrompt::ExistingFileAnswer TWidgetPrompt::AskExistingFile(ExistingFileRequest& request)
{
    // "重复文件查找": the seven answers; a rename asks for the new name and
    // comes back here when that is cancelled.
    for (;;) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("重复文件查找"),
                        QString::fromStdString((request.upload ? "重复的远程文件: " : "重复的本地文件: ") +
                                               request.name + "\n\n" + request.source + "\n" + request.target),
                        QMessageBox::NoButton, m_parent);
        using A = ExistingFileAnswer;
        const std::pair<const char*, A> buttons[] = {{"覆盖(&O)", A::Overwrite},   {"续传(&R)", A::Resume},
                                                     {"重命名(&E)", A::Rename},    {"跳过(&S)", A::Skip},
                                                     {"全部跳过(&A)", A::SkipAll}, {"全部覆盖(&V)", A::OverwriteAll},
                                                     {"取消(&C)", A::Cancel}};
        std::vector<std::pair<QPushButton*, A>> made;
        for (const auto& [caption, answer] : buttons) {
            QPushButton* b = box.addButton(QString::fromUtf8(caption), QMessageBox::ActionRole);
            b->setEnabled(answer != A::Resume || request.resumeAllowed);
            made.emplace_back(b, answer);
        }
        box.setDefaultButton(made.front().first);
        box.setEscapeButton(made.back().first);
        box.exec();
        A answer = A::Cancel;
        for (const auto& [b, a] : made)
            if (box.clickedButton() == b)
                answer = a;
        if (answer != A::Rename)
            return answer;
        std::string name = request.newName;
        if (AskText("新的名称", "输入一个新文件名", name) && !name.empty()) {
            request.newName = name;
            return A::Rename;
        }
    }
}
