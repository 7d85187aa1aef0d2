#include "app/QueueView.h"

#include "app/corvview.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {
// The kind's icon: a folder or a file with an arrow down (download) or up.
QIcon kindIcon(TEntryKind kind)
{
    static QIcon icons[4];
    QIcon& icon = icons[static_cast<int>(kind)];
    if (!icon.isNull())
        return icon;
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const bool folder = IsDirectoryEntry(kind);
    p.setPen(Qt::black);
    p.setBrush(folder ? QColor(240, 200, 80) : QColor(Qt::white));
    if (folder)
        p.drawRect(1, 4, 10, 8);
    else
        p.drawRect(2, 1, 8, 12);
    p.setPen(QPen(IsDownloadEntry(kind) ? QColor(0, 128, 0) : QColor(0, 0, 192), 2));
    const bool down = IsDownloadEntry(kind);
    p.drawLine(13, 3, 13, 13);
    p.drawLine(11, down ? 11 : 5, 13, down ? 13 : 3);
    p.drawLine(15, down ? 11 : 5, 13, down ? 13 : 3);
    p.end();
    icon = QIcon(pm);
    return icon;
}

class KindDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != TTransferQueue::ColName)
            return;
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->icon = kindIcon(static_cast<TEntryKind>(index.data(TTransferQueue::KindRole).toInt()));
        option->decorationSize = QSize(16, 16);
    }
};
constexpr const char* QueueRowsMime = "application/x-corvyne-queue-row";
}  // namespace

TQueueView::TQueueView(TTransferQueue& queue, QWidget* parent) : QTreeView(parent), m_queue(queue)
{
    setModel(&queue);
    setItemDelegate(new KindDelegate(this));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

std::vector<size_t> TQueueView::SelectedRows() const
{
    std::vector<size_t> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows.push_back(static_cast<size_t>(i.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TQueueView::SelectRow(size_t row, bool on)
{
    selectionModel()->select(
        m_queue.index(static_cast<int>(row), 0),
        (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows);
}

void TQueueView::FitColumns()
{
    resizeColumnToContents(TTransferQueue::ColSize);
    resizeColumnToContents(TTransferQueue::ColTarget);
    setColumnWidth(TTransferQueue::ColSize, std::max(columnWidth(TTransferQueue::ColSize), 65));
    setColumnWidth(TTransferQueue::ColTarget, std::max(columnWidth(TTransferQueue::ColTarget), 100));
    const int rest =
        viewport()->width() - columnWidth(TTransferQueue::ColSize) - columnWidth(TTransferQueue::ColTarget);
    setColumnWidth(TTransferQueue::ColName, std::max(rest, 60));
}

void TQueueView::resizeEvent(QResizeEvent* e)
{
    QTreeView::resizeEvent(e);
    FitColumns();
}

void TQueueView::startDrag(Qt::DropActions)
{
    const std::vector<size_t> rows = SelectedRows();
    if (rows.empty())
        return;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(QueueRowsMime), QByteArray::number(static_cast<qulonglong>(rows.front())));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

bool TQueueView::acceptable(QDropEvent* e) const
{
    const QMimeData* mime = e->mimeData();
    if (mime->hasFormat(QString::fromLatin1(QueueRowsMime)))
        return e->source() == this;
    if (mime->hasFormat(QString::fromLatin1(CorvRowsMime)))
        return OnPaneRowsDragOver && OnPaneRowsDragOver(mime->data(QString::fromLatin1(CorvRowsMime)).toInt());
    return mime->hasUrls() && OnFilesDropped;
}

void TQueueView::dragEnterEvent(QDragEnterEvent* e)
{
    if (acceptable(e))
        e->acceptProposedAction();
    else
        e->ignore();
}

void TQueueView::dragMoveEvent(QDragMoveEvent* e)
{
    if (acceptable(e))
        e->acceptProposedAction();
    else
        e->ignore();
}

void TQueueView::dropEvent(QDropEvent* e)
{
    if (!acceptable(e)) {
        e->ignore();
        return;
    }
    const QMimeData* mime = e->mimeData();
    e->acceptProposedAction();
    if (mime->hasFormat(QString::fromLatin1(QueueRowsMime))) {
        const QModelIndex at = indexAt(e->position().toPoint());
        const size_t from = mime->data(QString::fromLatin1(QueueRowsMime)).toULongLong();
        if (at.isValid() && (!OnRowMove || OnRowMove(from, static_cast<size_t>(at.row()))))
            m_queue.MoveOnto(from, static_cast<size_t>(at.row()));
        return;
    }
    if (mime->hasFormat(QString::fromLatin1(CorvRowsMime))) {
        OnPaneRowsDropped(mime->data(QString::fromLatin1(CorvRowsMime)).toInt());
        return;
    }
    QStringList files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    OnFilesDropped(files);
}
