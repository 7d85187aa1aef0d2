#pragma once
// The queue panel: the queue list with the failed entries below it, the
// queue menu and the list's own menu, adding the panes' selections and
// dropped files, queue files (plain and site queues), the queue a close
// interrupted, and the run (TQueueRun) with its progress. What it needs of
// the panes, the quick-connect bar and the scripts it takes from the
// window's parts.

#include "app/WindowParts.h"
#include "session/QueueRun.h"
#include "transfer/TransferProgress.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QWidget;
class TCorvListView;
class TFailedView;
class TRunningView;
class TQueueView;
struct TQueueFileSkip;
struct TSiteQueue;
class IPowerBackend;

class TQueuePanel : public QObject {
    Q_OBJECT

public:
    // The list goes into parent; the run starts with the window's prompt.
    TQueuePanel(TWindowParts& parts, QWidget* parent);
    ~TQueuePanel() override;
    // The progress panels, once the widgets the run's painting is throttled with exist.
    void AttachProgress(std::vector<QWidget*> throttled);

    TQueueView* View() const { return m_view; }  // the queue list
    TFailedView* FailedList() const { return m_failed; }
    TQueueRun& Run() { return *m_run; }
    TRunningView* RunningList() const { return m_running; }
    TTransferProgress& Progress() { return *m_progress; }

    void BuildMenu(QMenu* queue);  // the menu bar's "队列(&Q)"
    // The "传输完成(&R)" choice: 0 idle .. 5 hang up and quit.
    void SetCompletionAction(int action);

    // The selected rows of a pane as entries; extra is a folder name added
    // to the target folder.
    void AddSelectionToQueue(TCorvListView* pane, const std::string& extra = {});
    void queTransferClick();
    void mnuDownloadClick(const std::string& extra = {});
    void mnuUploadClick(const std::string& extra = {});
    void QueueFileDrop(const QStringList& paths);
    void RemoteFileDrop(const QStringList& paths);
    void queDeleteClick();
    void queClearClick();
    void queMoveTopClick();
    void queMoveBottomClick();
    void mnuHaltClick();
    void btnAbortClick(bool stopScript = true);  // the button also stops a running script
    void expAddClick();  // the active pane's selection
    void queEditTargetClick();
    void queQueueInfoClick();
    void mnuManualDownloadClick();

    void queSaveQueueClick();  // TfrmQueue: a site queue (.csq) or the entries only (.cqf)
    void queLoadQueueClick();
    size_t LoadQueueFile(const std::string& path);  // the entries only, appended; how many came
    bool LoadSiteQueueFile(std::string argument);   // replaces the queue, and connects when it can
    bool SavePlainQueue(const std::string& path, std::string& error);
    void OfferInterruptedQueue();  // at a start without arguments
    bool SaveInterruptedQueue();   // at close, while a site's queue runs

Q_SIGNALS:
    void ScriptStopWanted();  // the abort button stops a running script too
    void CloseWanted();       // the run's completion action quits
    void SitesWanted();       // a start with nothing to resume shows the sites, as the user asked

private:
    class TPanesHost;
    void buildQueueMenuItems(QMenu* queue);
    void buildCompletionMenu(QMenu* queue);
    void buildPopup();
    void transferSelection(TCorvListView* pane, const std::string& extra);  // start a run with it
    std::vector<TQueueEntry> droppedFiles(const QStringList& paths) const;
    void logSkips(const std::vector<TQueueFileSkip>& skipped);
    void applySiteQueue(const TSiteQueue& q);
    void dialThenConnect(const std::string& entry);

    TWindowParts& m_parts;
    TQueueView* m_view = nullptr;
    TFailedView* m_failed = nullptr;
    TRunningView* m_running = nullptr;  // the files on transfer connections
    std::unique_ptr<TPanesHost> m_host;
    std::unique_ptr<TTransferPool> m_pool;  // the run's transfer connections
    std::unique_ptr<TQueueRun> m_run;
    std::unique_ptr<TTransferProgress> m_progress;
    std::unique_ptr<IPowerBackend> m_power;
    QMenu* QueueMenu = nullptr;  // the list's own menu
    QAction* mnuHalt = nullptr;
    std::vector<QAction*> mnuComplete;
};
