#include "widgets/QueueView.h"

#include "widgets/corvview.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHash>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
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

    // Every row is one line: its height comes from the style once per font,
    // and a width is the sum of cached character advances. The view asks for
    // sizes at every relayout (each file a run finishes), and laying out the
    // text each time would cost more than the transfer.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (m_height == 0 || option.font != m_font) {
            m_font = option.font;
            m_advance.clear();
            m_height = QStyledItemDelegate::sizeHint(option, index).height();
        }
        const QFontMetrics metrics(m_font);
        int width = 0;
        for (QChar c : index.data(Qt::DisplayRole).toString()) {
            auto it = m_advance.constFind(c.unicode());
            if (it == m_advance.cend())
                it = m_advance.insert(c.unicode(), metrics.horizontalAdvance(c));
            width += *it;
        }
        const int margins = 2 * (option.widget ? option.widget->style() : QApplication::style())
                                    ->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, option.widget) +
                            2;
        const int icon = index.column() == TTransferQueue::ColName ? 16 + 4 : 0;
        return {width + margins + icon, m_height};
    }

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

private:
    mutable QFont m_font;
    mutable int m_height = 0;
    mutable QHash<char16_t, int> m_advance;
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

void TQueueView::HoldLayout(bool on)
{
    m_holdLayout = on;
    if (!on)
        layOutHeldRows();
}

void TQueueView::layOutHeldRows()
{
    if (!m_layoutPending)
        return;
    m_layoutPending = false;
    QTreeView::doItemsLayout();
}

void TQueueView::doItemsLayout()
{
    if (m_holdLayout) {
        m_layoutPending = true;
        return;
    }
    QTreeView::doItemsLayout();
}

namespace {
// Events through which the user reaches the rows: they need them laid out.
bool reachesRows(QEvent::Type t)
{
    switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::ToolTip:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::FocusIn:
            return true;
        default:
            return false;
    }
}
}  // namespace

bool TQueueView::event(QEvent* e)
{
    if (reachesRows(e->type()))
        layOutHeldRows();
    return QTreeView::event(e);
}

bool TQueueView::viewportEvent(QEvent* e)
{
    if (reachesRows(e->type()))
        layOutHeldRows();
    return QTreeView::viewportEvent(e);
}

void TQueueView::resizeEvent(QResizeEvent* e)
{
    QTreeView::resizeEvent(e);
    // Only a new width needs new columns; heights change whenever a scroll
    // bar comes or goes, and measuring every row then costs a run dearly.
    if (e->size().width() != e->oldSize().width())
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
