#pragma once
// The entries a run gave up on, each with its reason, below the queue: shown
// while there are some, retried (back at the end of the queue) or cleared
// from its pop-up menu.

#include <QTreeWidget>

class TQueueRun;

class TFailedView : public QTreeWidget {
    Q_OBJECT

public:
    TFailedView(TQueueRun& run, QWidget* parent = nullptr);

    // The rows again from the run's list; hidden when it is empty.
    void Refresh();
    void RetrySelected();
    void RetryAll();
    void ClearSelected();
    void ClearAll();

private:
    std::vector<size_t> selectedRows() const;

    TQueueRun& m_run;
};
