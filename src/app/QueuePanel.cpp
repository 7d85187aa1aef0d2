// The queue panel: the list, its menus, adding the panes' selections and
// dropped files, and the thin handlers of the queue's commands. The run
// itself is TQueueRun; queue files are QueuePanelFiles.cpp.

#include "app/QueuePanel.h"

#include "app/LocalPane.h"
#include "app/RemotePane.h"
#include "app/StatusLine.h"
#include "desktop/PowerBackend.h"
#include "dialogs/FileExistsDialog.h"
#include "ftp/Ftp.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"
#include "transfer/TransferQueue.h"
#include "widgets/FailedView.h"
#include "widgets/RunningView.h"
#include "widgets/QueueView.h"

#include <QActionGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSplitter>
#include <QTimer>

// The panes as a queue run sees them.
class TQueuePanel::TPanesHost : public IQueueHost {
public:
    TPanesHost(TWindowParts& parts, std::function<void()> close) : m_parts(parts), m_close(std::move(close))
    {
        QWidget* w = parts.window;
        m_refresh.setSingleShot(true);
        m_refresh.setInterval(300);
        QObject::connect(&m_refresh, &QTimer::timeout, w, [this] { m_parts.local->List(); });
        // A run of small files names each in the status bar; a relayout of
        // the bar per file would cost more than the file. The newest name
        // shows at most every 100 ms.
        m_statusTimer.setSingleShot(true);
        m_statusTimer.setInterval(100);
        QObject::connect(&m_statusTimer, &QTimer::timeout, w, [this] {
            if (m_statusPending && m_parts.queueRun && IsTransferring(m_parts.queueRun->State())) {
                m_parts.status->Show(m_status);
                m_statusTimer.start();
            }
            m_statusPending = false;
        });
    }
    void RefreshLocalSoon() override
    {
        if (!m_refresh.isActive())
            m_refresh.start();
    }
    std::string LocalDirectory() const override { return m_parts.local->Directory().toStdString(); }
    void ShowLocalDirectory(const std::string& dir) override { m_parts.local->SetDirectory(QString::fromStdString(dir)); }
    std::vector<TPaneItem> LocalRows() const override { return rows(m_parts.local->View()); }
    std::vector<TPaneItem> RemoteRows() const override { return rows(m_parts.remote->View()); }
    // The row of that name: the one spelt exactly so, else the first that
    // differs only in case. A run asks for the files in the pane's order, so
    // the search starts after the row found last; a folder of thousands of
    // files costs no scan per file.
    std::optional<TPaneItem> FindRemoteRow(const std::string& name) const override
    {
        const QString wanted = QString::fromStdString(name);
        const TCorvListView* pane = m_parts.remote->View();
        const int rows = pane->RowCount();
        const int start = m_lastRemoteRow + 1 < rows ? m_lastRemoteRow + 1 : 0;
        for (int i = 0; i < rows; ++i) {
            const int r = (start + i) % rows;
            if (pane->Kind(r) != rkParent && pane->Text(r, 0) == wanted) {
                m_lastRemoteRow = r;
                return item(pane, r);
            }
        }
        for (int r = 0; r < rows; ++r)
            if (pane->Kind(r) != rkParent && pane->Text(r, 0).compare(wanted, Qt::CaseInsensitive) == 0)
                return item(pane, r);
        return std::nullopt;
    }
    std::string RemoteDirectory() const override { return m_parts.remote->CurrentPath(); }
    std::vector<TPaneItem> LocalRowsOf(const std::string& dir) const override
    {
        std::vector<TPaneItem> all = IQueueHost::LocalRowsOf(dir), shown;
        const QString filter = m_parts.local->Filter();
        for (TPaneItem& r : all)
            if (MaskMatch(QString::fromStdString(r.name), filter) || (r.folder && !m_parts.switches.filterFolders))
                shown.push_back(std::move(r));
        return shown;
    }
    TRemoteRowRules RemoteRowRules() const override
    {
        // As the pane lists a folder during a run: links left out when they
        // are to be fetched as links.
        return {m_parts.remote->Filter(), m_parts.switches.filterFolders,
                m_parts.switches.showLinks && !m_parts.settings->GetLink};
    }
    void Status(const std::string& text) override
    {
        m_status = QString::fromStdString(text);
        m_statusPending = m_statusTimer.isActive();
        if (!m_statusPending) {
            m_parts.status->Show(m_status);
            m_statusTimer.start();
        }
    }
    void CloseWindow() override { m_close(); }

private:
    static TPaneItem item(const TCorvListView* pane, int r)
    {
        return {pane->NameBytes(r), pane->Kind(r) == rkFolder, pane->Size(r), pane->Date(r)};
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
    TWindowParts& m_parts;
    std::function<void()> m_close;
    QTimer m_refresh;
    QTimer m_statusTimer;
    mutable int m_lastRemoteRow = -1;
    QString m_status;
    bool m_statusPending = false;
};

TQueuePanel::TQueuePanel(TWindowParts& parts, QWidget* parent) : QObject(parent), m_parts(parts)
{
    // The queue above, the failed entries below it.
    auto* column = new QSplitter(Qt::Vertical, parent);
    column->setObjectName(QStringLiteral("QueueColumn"));
    m_view = new TQueueView(*parts.queue, column);
    m_view->setObjectName(QStringLiteral("Queue"));
    m_host = std::make_unique<TPanesHost>(parts, [this] { Q_EMIT CloseWanted(); });
    m_run = std::make_unique<TQueueRun>(*parts.ftp, *parts.workflow, *parts.settings, *parts.queue, *m_host,
                                        parts.Prompt(), this);
    m_pool = std::make_unique<TTransferPool>();
    m_run->SetPool(m_pool.get());
    m_running = new TRunningView(*m_pool, column);
    column->insertWidget(0, m_running);  // above the queue
    parts.queueRun = m_run.get();
    m_failed = new TFailedView(*m_run, column);
    m_view->OnFilesDropped = [this](const QStringList& paths) { QueueFileDrop(paths); };
    m_view->OnPaneRowsDragOver = [](int tag) { return tag == 12 || tag == 14; };
    m_view->OnPaneRowsDropped = [this](int tag) {
        AddSelectionToQueue(tag == 14 ? m_parts.remote->View() : m_parts.local->View());
    };
    // While a file moves, the head row stays where it is.
    m_view->OnRowMove = [this](size_t from, size_t onto) {
        return !IsTransferring(m_run->State()) || (from != 0 && onto != 0);
    };
    m_parts.remote->View()->OnFileDrop = [this](TCorvListView*, const QStringList& files, QPoint) {
        RemoteFileDrop(files);
    };
    // Going disconnected ends the transfer layout (a lost connection that
    // waits to come back keeps it).
    connect(parts.workflow, &TConnectionWorkflow::StateChanged, this, [this] {
        if (m_progress && m_parts.workflow->State() == SessionState::Disconnected)
            m_progress->ShowNormalPanels();
    });
}

TQueuePanel::~TQueuePanel() = default;

void TQueuePanel::AttachProgress(std::vector<QWidget*> throttled)
{
    IProgressView& view = m_parts.status->ProgressView(m_view, std::move(throttled));
    m_progress = std::make_unique<TTransferProgress>(*m_parts.ftp, *m_parts.settings, view, this);
    m_run->SetProgress(m_progress.get());
    m_power = std::make_unique<TLogindPower>();
    m_run->SetPowerBackend(m_power.get());
    m_run->OnStatistics = [this](bool upload, int64_t bytes) {
        if (!m_parts.workflow->CurrentSite.empty())
            m_parts.sites->AddTransfer(m_parts.workflow->CurrentSite, upload, static_cast<double>(bytes));
    };
}

namespace {
// A menu item with its command and key.
QAction* menuItem(QObject* owner, QMenu* menu, const char* caption, std::function<void()> run,
                  const QKeySequence& key = {})
{
    QAction* a = menu->addAction(QString::fromUtf8(caption), owner, std::move(run));
    a->setShortcut(key);
    return a;
}
}  // namespace

void TQueuePanel::BuildMenu(QMenu* queue)
{
    // The main menu's queue items; their enabling follows the queue and the
    // session each time the menu opens.
    auto item = [this](QMenu* menu, const char* caption, std::function<void()> run, const QKeySequence& key = {}) {
        return menuItem(this, menu, caption, std::move(run), key);
    };
    QAction* download = item(queue, "下载(&O)", [this] { mnuDownloadClick(); });
    QAction* upload = item(queue, "上传", [this] { mnuUploadClick(); });
    QAction* manual = item(queue, "手动下载(&U)", [this] { mnuManualDownloadClick(); });
    QAction* add = item(queue, "添加文件(&A)", [this] { expAddClick(); });
    QAction* transfer = item(
        queue, "传输队列(&T)", [this] { queTransferClick(); }, QKeySequence(Qt::CTRL | Qt::Key_T));
    mnuHalt = item(queue, "停止传输(&H)", [this] { mnuHaltClick(); });
    mnuHalt->setCheckable(true);
    QAction* abort = item(
        queue, "中断(&A)", [this] { btnAbortClick(); }, QKeySequence(Qt::Key_F9));
    queue->addSeparator();
    QAction* remove = item(queue, "删除文件(&D)", [this] { queDeleteClick(); });
    QAction* clear = item(queue, "清除队列(&C)", [this] { queClearClick(); });
    QAction* top = item(queue, "移到顶部(&O)", [this] { queMoveTopClick(); });
    QAction* bottom = item(queue, "移到底部(&B)", [this] { queMoveBottomClick(); });
    QAction* target = item(queue, "编辑对象(&E)", [this] { queEditTargetClick(); });
    QAction* info = item(queue, "队列信息(&I)", [this] { queQueueInfoClick(); });
    queue->addSeparator();
    QAction* save = item(queue, "保存队列(&S)", [this] { queSaveQueueClick(); });
    QAction* load = item(queue, "载入队列(&L)", [this] { queLoadQueueClick(); });
    queue->addSeparator();
    buildCompletionMenu(queue);
    connect(queue, &QMenu::aboutToShow, this, [=, this] {
        const SessionState state = m_run->State();
        const bool idle = state == SessionState::Idle;
        const bool rows = !m_parts.queue->Empty();
        const size_t selected = m_view->SelectedRows().size();
        download->setEnabled(idle && !m_parts.remote->View()->SelectedRows().empty());
        upload->setEnabled(idle && !m_parts.local->View()->SelectedRows().empty());
        manual->setEnabled(idle);
        add->setEnabled(!m_parts.Active().View()->SelectedRows().empty());
        transfer->setEnabled(rows && idle);
        mnuHalt->setEnabled(IsTransferring(state));
        mnuHalt->setChecked(m_run->HaltRequested);
        abort->setEnabled(state != SessionState::Disconnected && state != SessionState::Idle);
        remove->setEnabled(selected > 0);
        clear->setEnabled(rows && !IsTransferring(state));
        top->setEnabled(selected == 1);
        bottom->setEnabled(selected == 1);
        target->setEnabled(selected > 0);
        info->setEnabled(rows);
        save->setEnabled(rows);
        load->setEnabled(!IsTransferring(state));  // a run's queue is not replaced under it
    });
    // The keys stay live with the menu closed (Ctrl+T, F9): their handlers
    // check the session themselves.
    connect(queue, &QMenu::aboutToHide, this, [=] {
        for (QAction* a : {transfer, abort})
            a->setEnabled(true);
    });
    buildPopup();
}

// "传输完成": what the program does when a run ends by itself.
void TQueuePanel::buildCompletionMenu(QMenu* queue)
{
    QMenu* completion = queue->addMenu(QStringLiteral("传输完成(&R)"));
    auto* group = new QActionGroup(completion);
    int value = 0;
    for (const char* caption :
         {"空闲(&I)", "断开(&D)", "挂断 ISP(&H)", "退出 Corvyne(&Q)", "注销 Windows(&E)", "挂断并离开"}) {
        QAction* a = completion->addAction(QString::fromUtf8(caption));
        a->setCheckable(true);
        a->setActionGroup(group);
        a->setData(value);
        connect(a, &QAction::triggered, this, [this, value] { SetCompletionAction(value); });
        mnuComplete.push_back(a);
        ++value;
    }
    SetCompletionAction(m_parts.settings->XferOption);
}

// The queue list's own menu, and Delete on the list.
void TQueuePanel::buildPopup()
{
    auto item = [this](QMenu* menu, const char* caption, std::function<void()> run) {
        return menuItem(this, menu, caption, std::move(run));
    };
    QueueMenu = new QMenu(m_view);
    QAction* popTransfer = item(QueueMenu, "传输(&T)", [this] { queTransferClick(); });
    QueueMenu->addSeparator();
    QAction* popRemove = item(QueueMenu, "删除记录(&D)", [this] { queDeleteClick(); });
    QAction* popClear = item(QueueMenu, "清除队列(&C)", [this] { queClearClick(); });
    QueueMenu->addSeparator();
    QAction* popTop = item(QueueMenu, "移到顶部(&O)", [this] { queMoveTopClick(); });
    QAction* popBottom = item(QueueMenu, "移到底部(&M)", [this] { queMoveBottomClick(); });
    QAction* popTarget = item(QueueMenu, "编辑对象(&E)", [this] { queEditTargetClick(); });
    QueueMenu->addSeparator();
    QAction* popInfo = item(QueueMenu, "队列信息(&N)", [this] { queQueueInfoClick(); });
    connect(QueueMenu, &QMenu::aboutToShow, this, [=, this] {
        const SessionState state = m_run->State();
        const bool rows = !m_parts.queue->Empty();
        const bool selected = !m_view->SelectedRows().empty();
        popTransfer->setEnabled(rows && state == SessionState::Idle);
        popClear->setEnabled(rows && !IsTransferring(state));
        popInfo->setEnabled(rows);
        for (QAction* a : {popRemove, popTop, popBottom, popTarget})
            a->setEnabled(selected);
    });
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { QueueMenu->popup(m_view->viewport()->mapToGlobal(at)); });
    // QueueKeyDown: Delete removes the selected rows.
    auto* del = new QAction(m_view);
    del->setShortcut(QKeySequence::Delete);
    del->setShortcutContext(Qt::WidgetShortcut);
    connect(del, &QAction::triggered, this, [this] { queDeleteClick(); });
    m_view->addAction(del);
}

void TQueuePanel::SetCompletionAction(int action)
{
    if (action < 0 || action > static_cast<int>(TCompletionAction::HangUpQuit))
        action = 0;
    if (static_cast<size_t>(action) < mnuComplete.size())  // the menu comes after the run
        mnuComplete[static_cast<size_t>(action)]->setChecked(true);
    m_run->CompletionAction = static_cast<TCompletionAction>(action);
}

void TQueuePanel::expAddClick()
{
    AddSelectionToQueue(m_parts.Active().View());
}

void TQueuePanel::queEditTargetClick()
{
    const std::vector<size_t> rows = m_view->SelectedRows();
    if (rows.empty())
        return;
    if (rows.front() == 0 && IsTransferring(m_run->State())) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "当一个文件正在传输时你不能更改其目标.");
        return;
    }
    std::string target = m_parts.queue->At(rows.front()).Target;
    if (!m_parts.Prompt().AskText("编辑目标", "输入新的目标", target))
        return;
    for (size_t row : rows)
        if (row != 0 || !IsTransferring(m_run->State()))
            m_parts.queue->SetTarget(row, target);
}

void TQueuePanel::queQueueInfoClick()
{
    m_parts.Prompt().ShowMessage(MessageKind::Information,
                          "队列摘要:\n\n合计文件: " + std::to_string(m_parts.queue->Files()) +
                              "\n合计目录: " + std::to_string(m_parts.queue->Directories()) +
                              "\n合计字节: " + PaneSizeText(m_parts.queue->Bytes()).toStdString());
}

void TQueuePanel::mnuManualDownloadClick()
{
    if (m_run->State() != SessionState::Idle)
        return;
    std::string name;
    if (m_parts.Prompt().AskText("手动下载", "输入文件名", name) && !name.empty())
        m_run->ManualDownload(name);
}


void TQueuePanel::AddSelectionToQueue(TCorvListView* pane, const std::string& extra)
{
    const bool download = pane == m_parts.remote->View();
    const std::string prefix =
        EnsureTrailingSeparator(download ? m_host->RemoteDirectory() : m_parts.local->Directory().toStdString());
    std::string targetDir;
    if (download)
        targetDir = EnsureTrailingSeparator(m_parts.local->Directory().toStdString() + extra);
    else if (m_parts.ftp->LoggedIn())
        targetDir = EnsureTrailingSeparator(m_host->RemoteDirectory() + extra);
    else
        targetDir = "~/";
    std::vector<TQueueEntry> entries;
    for (int row : pane->SelectedRows()) {
        const int kind = pane->Kind(row);
        if (kind == rkParent)
            continue;
        // Each side's own bytes: the server's charset there, UTF-8 here.
        const std::string name = pane->NameBytes(row);
        const std::string targetName = TargetName(*m_parts.ftp, name, download);
        if (!SafeEntryName(name) || !SafeEntryName(targetName)) {
            m_parts.Log("跳过不安全的名称: " + pane->Text(row, 0).toStdString(), lcError);
            continue;
        }
        if (kind == rkFile)
            entries.push_back({download ? TEntryKind::DownloadFile : TEntryKind::UploadFile, prefix + name,
                               pane->Size(row), targetDir + targetName});
        else
            entries.push_back({download ? TEntryKind::DownloadDirectory : TEntryKind::UploadDirectory,
                               EnsureTrailingSeparator(prefix + name), -1,
                               EnsureTrailingSeparator(targetDir + targetName)});
    }
    m_parts.queue->Append(std::move(entries));
    m_view->FitColumns();
}

void TQueuePanel::queTransferClick()
{
    m_run->TransferQueue();
}

void TQueuePanel::mnuDownloadClick(const std::string& extra)
{
    transferSelection(m_parts.remote->View(), extra);
}

void TQueuePanel::mnuUploadClick(const std::string& extra)
{
    transferSelection(m_parts.local->View(), extra);
}

void TQueuePanel::transferSelection(TCorvListView* pane, const std::string& extra)
{
    if (m_run->State() != SessionState::Idle)
        return;
    m_run->StartQueue();
    AddSelectionToQueue(pane, extra);
    m_run->ProcessQueueHead();
}

std::vector<TQueueEntry> TQueuePanel::droppedFiles(const QStringList& paths) const
{
    const std::string dir = m_parts.ftp->LoggedIn() ? m_host->RemoteDirectory() : std::string("~/");
    std::vector<TQueueEntry> entries;
    for (const QString& path : paths) {
        const QFileInfo fi(path);
        if (!fi.exists())
            continue;
        const std::string name = m_parts.ftp->NameCodec().Encode(fi.fileName());
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

void TQueuePanel::QueueFileDrop(const QStringList& paths)
{
    m_parts.queue->Append(droppedFiles(paths));
    m_view->FitColumns();
}

void TQueuePanel::RemoteFileDrop(const QStringList& paths)
{
    if (m_run->State() != SessionState::Idle)
        return;
    m_parts.queue->Append(droppedFiles(paths));
    m_run->StartQueue();
    m_run->ProcessQueueHead();
}

void TQueuePanel::queDeleteClick()
{
    std::vector<size_t> rows = m_view->SelectedRows();
    if (IsTransferring(m_run->State()))
        std::erase(rows, size_t{0});  // the file that moves now
    m_parts.queue->Remove(rows);
}

void TQueuePanel::queClearClick()
{
    if (!IsTransferring(m_run->State()))
        m_parts.queue->Clear();
}

void TQueuePanel::queMoveTopClick()
{
    const bool busy = IsTransferring(m_run->State());
    m_parts.queue->MoveToFront(m_view->SelectedRows(), busy ? 1 : 0);
}

void TQueuePanel::queMoveBottomClick()
{
    std::vector<size_t> rows = m_view->SelectedRows();
    if (IsTransferring(m_run->State()))
        std::erase(rows, size_t{0});
    m_parts.queue->MoveToEnd(rows);
}

void TQueuePanel::mnuHaltClick()
{
    m_run->HaltRequested = m_parts.Prompt().Confirm("当前文件结束后停止传输吗 ?");
}

void TQueuePanel::btnAbortClick(bool stopScript)
{
    if (stopScript)
        Q_EMIT ScriptStopWanted();
    const SessionState state = m_parts.workflow->State();
    // A run that left the browsing connection free stops unless the user's
    // own command runs there (that one stops first).
    const bool ownRun = m_run->Detached() && (state == SessionState::Idle || state == SessionState::Disconnected);
    if (state == SessionState::Disconnected && !ownRun)
        return;
    m_parts.workflow->LogLine("中断操作", lcNormal);
    if (IsTransferring(state) || ownRun)
        m_run->Abort();
    else if (state == SessionState::DeletingTree)
        m_parts.status->Show(QStringLiteral("Aborting"));  // the delete stops after the file it deletes now
    else if (state > SessionState::Idle)
        m_parts.ftp->SendRaw("ABOR");
    else if (state != SessionState::Idle)
        m_parts.workflow->GoDisconnected();
}
