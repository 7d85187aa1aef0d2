#pragma once
// The queue list: the transfer queue's rows in three columns with the
// entry kind's icon; rows are selected in groups, dragged within the list
// to reorder, and pane rows or files from other programs are dropped on it.

#include "transfer/TransferQueue.h"

#include <QTreeView>

#include <functional>

class TQueueView : public QTreeView {
    Q_OBJECT

public:
    TQueueView(TTransferQueue& queue, QWidget* parent = nullptr);

    int RowCount() const { return static_cast<int>(m_queue.Count()); }
    std::vector<size_t> SelectedRows() const;  // in row order
    void SelectRow(size_t row, bool on);
    // The size and target columns at least 65 and 100 wide, the name the rest.
    void FitColumns();
    // While a run removes the head row file after file, the rows are laid
    // out at the release (or when the user reaches for the list), not at
    // every removal: each layout walks all the rows.
    void HoldLayout(bool on);

    // Dropped local files (paths) and pane rows (the source pane's tag).
    std::function<void(const QStringList& paths)> OnFilesDropped;
    std::function<bool(int sourceTag)> OnPaneRowsDragOver;
    std::function<void(int sourceTag)> OnPaneRowsDropped;
    // A row dragged onto another: refuse (false) or allow the move.
    std::function<bool(size_t from, size_t onto)> OnRowMove;

protected:
    void doItemsLayout() override;
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void startDrag(Qt::DropActions actions) override;

private:
    bool acceptable(QDropEvent* e) const;
    void layOutHeldRows();
    TTransferQueue& m_queue;
    bool m_holdLayout = false;
    bool m_layoutPending = false;
};
