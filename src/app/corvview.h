#pragma once
// TCorvListView: the list control of the panes and the queue: report rows
// with a kind (the image index), column-click sorting by the panes' rules,
// columns sized to their content, and files dropped from other programs.

#include "app/PaneLogic.h"

#include <QTreeWidget>

#include <functional>

class TCorvListView : public QTreeWidget {
    Q_OBJECT

public:
    explicit TCorvListView(QWidget* parent = nullptr);

    bool AutoSort = false;
    bool MixedOrder = false;
    int SortColumn() const { return m_sortColumn; }
    bool Ascending() const { return m_ascending; }
    void SetSort(int column, bool ascending);
    bool AcceptFiles() const { return acceptDrops(); }
    void SetAcceptFiles(bool on) { setAcceptDrops(on); }

    std::function<void(TCorvListView*, const QStringList& files, QPoint at)> OnFileDrop;
    std::function<void(TCorvListView*)> OnSelectedInfo;
    std::function<void(TCorvListView*)> OnAfterSort;

    void BeginUpdate();
    void EndUpdate();
    void SortNow();
    void SortByColumn(int column);
    void SortByExtension();
    void ColumnClick(int column);
    void SizeColumnsToContent();

    // A row: its texts by column and its kind. Inside an update rows are
    // collected and go into the view in one batch.
    QTreeWidgetItem* AddRow(int kind, const QStringList& texts, bool atTop = false);
    static int Kind(const QTreeWidgetItem* item);
    static TPaneRow RowOf(const QTreeWidgetItem* item);

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void sortWith(const std::function<bool(const QTreeWidgetItem*, const QTreeWidgetItem*)>& less);
    void flushPending();
    QList<QTreeWidgetItem*> m_pending;  // rows added inside an update, put in at once

    int m_sortColumn = 0;
    bool m_ascending = true;
    bool m_updating = false;
};
