#include "app/corvview.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QStyle>

#include <algorithm>

namespace {
// The four row images, made once: rows share them (listings have thousands).
const QIcon& kindIcon(int kind)
{
    static const QIcon icons[] = {
        QApplication::style()->standardIcon(QStyle::SP_FileDialogToParent),
        QApplication::style()->standardIcon(QStyle::SP_DirIcon),
        QApplication::style()->standardIcon(QStyle::SP_DirLinkIcon),
        QApplication::style()->standardIcon(QStyle::SP_FileIcon),
    };
    return icons[kind >= rkParent && kind <= rkFile ? kind : rkFile];
}
}  // namespace

TCorvListView::TCorvListView(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setSortingEnabled(false);  // the control's own rules sort it
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int c) { ColumnClick(c); });
}

void TCorvListView::SetSort(int column, bool ascending)
{
    m_sortColumn = column;
    m_ascending = ascending;
}

int TCorvListView::Kind(const QTreeWidgetItem* item)
{
    return item->data(0, Qt::UserRole).toInt();
}

TPaneRow TCorvListView::RowOf(const QTreeWidgetItem* item)
{
    return {Kind(item), item->text(0), item->text(1), item->text(2)};
}

QTreeWidgetItem* TCorvListView::AddRow(int kind, const QStringList& texts, bool atTop)
{
    auto* item = new QTreeWidgetItem(texts);
    item->setData(0, Qt::UserRole, kind);
    item->setIcon(0, kindIcon(kind));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    if (m_updating)
        atTop ? m_pending.prepend(item) : m_pending.append(item);
    else if (atTop)
        insertTopLevelItem(0, item);
    else
        addTopLevelItem(item);
    return item;
}

void TCorvListView::flushPending()
{
    if (m_pending.isEmpty())
        return;
    addTopLevelItems(m_pending);
    m_pending.clear();
}

void TCorvListView::BeginUpdate()
{
    m_updating = true;
    setUpdatesEnabled(false);
}

void TCorvListView::EndUpdate()
{
    if (!m_updating)
        return;
    flushPending();
    m_updating = false;
    setUpdatesEnabled(true);
}

void TCorvListView::sortWith(const std::function<bool(const QTreeWidgetItem*, const QTreeWidgetItem*)>& less)
{
    // All rows out, one sort, all rows back: never per row.
    QList<QTreeWidgetItem*> items = invisibleRootItem()->takeChildren();
    items += m_pending;
    m_pending.clear();
    std::stable_sort(items.begin(), items.end(), less);
    addTopLevelItems(items);
}

void TCorvListView::SortNow()
{
    if (!AutoSort)
        return;
    SortByColumn(m_sortColumn);
    header()->setSortIndicator(m_sortColumn, m_ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TCorvListView::SortByColumn(int column)
{
    const bool target = headerItem() && headerItem()->text(column) == QLatin1String("Target");
    // Columns 1 and 2 carry sizes and dates; what the queue shows there
    // (size, target) sorts by its own texts through the same rules.
    // Keys worked out once per row, then one sort of the rows by their keys.
    QList<QTreeWidgetItem*> items = invisibleRootItem()->takeChildren();
    items += m_pending;
    m_pending.clear();
    std::vector<std::pair<TPaneSortKey, QTreeWidgetItem*>> keyed;
    keyed.reserve(static_cast<size_t>(items.size()));
    for (QTreeWidgetItem* item : items)
        keyed.emplace_back(PaneSortKey(RowOf(item)), item);
    const bool asc = m_ascending;
    const bool mixed = MixedOrder;
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        return PaneKeyLess(a.first, b.first, column, asc, mixed, target);
    });
    for (qsizetype i = 0; i < items.size(); ++i)
        items[i] = keyed[static_cast<size_t>(i)].second;
    addTopLevelItems(items);
}

void TCorvListView::SortByExtension()
{
    sortWith([](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        const int ka = Kind(a), kb = Kind(b);
        if (ka != kb)
            return ka < kb;
        auto ext = [](const QTreeWidgetItem* i) {
            const QString n = i->text(0);
            const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
            return dot < 0 ? QString() : n.mid(dot + 1).toLower();
        };
        return ext(a) < ext(b);
    });
}

void TCorvListView::ColumnClick(int column)
{
    if (!AutoSort)
        return;
    if (column == m_sortColumn) {
        m_ascending = !m_ascending;
    } else {
        m_sortColumn = column;
        m_ascending = true;
    }
    SortNow();
    if (OnAfterSort)
        OnAfterSort(this);
}

void TCorvListView::SizeColumnsToContent()
{
    flushPending();
    for (int c = 0; c < columnCount(); ++c)
        resizeColumnToContents(c);
}

void TCorvListView::mouseReleaseEvent(QMouseEvent* e)
{
    QTreeWidget::mouseReleaseEvent(e);
    if (topLevelItemCount() > 0 && OnSelectedInfo)
        OnSelectedInfo(this);
}

void TCorvListView::dragEnterEvent(QDragEnterEvent* e)
{
    if (acceptDrops() && e->mimeData()->hasUrls())
        e->acceptProposedAction();
    else
        QTreeWidget::dragEnterEvent(e);
}

void TCorvListView::dragMoveEvent(QDragMoveEvent* e)
{
    if (acceptDrops() && e->mimeData()->hasUrls())
        e->acceptProposedAction();
    else
        QTreeWidget::dragMoveEvent(e);
}

void TCorvListView::dropEvent(QDropEvent* e)
{
    if (!e->mimeData()->hasUrls()) {
        QTreeWidget::dropEvent(e);
        return;
    }
    QStringList files;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    e->acceptProposedAction();
    if (OnFileDrop)
        OnFileDrop(this, files, e->position().toPoint());
}
