#include "widgets/corvview.h"

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <numeric>
#include <utility>

namespace {
// The size a row sorts by: typed, or read from a size text of its own.
int64_t sortSizeOf(const TCorvRow& r)
{
    return r.size >= 0 || r.texts[1].isEmpty() ? r.size : PaneSizeValue(r.texts[1]);
}

// A view that reports a released left button after it has taken the click
// into its selection.
template <class Base>
class TInnerView : public Base {
public:
    TInnerView(QWidget* parent, std::function<void()> released) : Base(parent), m_released(std::move(released)) {}

protected:
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        Base::mouseReleaseEvent(e);
        if (e->button() == Qt::LeftButton)
            m_released();
    }

private:
    std::function<void()> m_released;
};

// Without whole-row selection only the name is drawn selected.
class TNameSelectDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool WholeRow = false;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o = option;
        if (!WholeRow && index.column() > 0)
            o.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, o, index);
    }
};

// A folder with the link arrow in its lower left corner, in both sizes.
QIcon linkedFolderIcon()
{
    const QStyle* style = QApplication::style();
    const QIcon folder = style->standardIcon(QStyle::SP_DirIcon);
    const QIcon arrow = style->standardIcon(QStyle::SP_FileLinkIcon);
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap = folder.pixmap(size, size);
        QPainter painter(&pixmap);
        const int mark = size / 2;
        painter.drawPixmap(0, size - mark, arrow.pixmap(mark, mark));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The four row images, made once: rows share them (listings have thousands).
// The desktop's icon theme first, the style's own icons where it has none.
const QIcon& kindIcon(int kind)
{
    const QStyle* style = QApplication::style();
    static const QIcon icons[] = {
        QIcon::fromTheme(QStringLiteral("go-up"), style->standardIcon(QStyle::SP_FileDialogToParent)),
        QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon)),
        linkedFolderIcon(),
        QIcon::fromTheme(QStringLiteral("text-x-generic"), style->standardIcon(QStyle::SP_FileIcon)),
    };
    return icons[kind >= rkParent && kind <= rkFile ? kind : rkFile];
}

// A file row's image: its type's icon in the desktop's theme, found by the
// name's extension alone (nothing is read, remote names included), else the
// plain file's. One per extension: listings have thousands of rows and few
// extensions.
const QIcon& fileIcon(const QString& name)
{
    static QHash<QString, QIcon> byExtension;
    static const QMimeDatabase types;
    // A server's names are not to be trusted: an extension longer than any
    // file type's, or one past the few hundred a listing really holds, gets
    // the plain file's icon and no place in the table.
    constexpr qsizetype LongestExtension = 16;
    constexpr qsizetype MostExtensions = 1024;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    if (extension.size() > LongestExtension)
        return kindIcon(rkFile);
    auto it = byExtension.find(extension);
    if (it == byExtension.end()) {
        if (byExtension.size() >= MostExtensions)
            return kindIcon(rkFile);
        QIcon icon = kindIcon(rkFile);
        if (!extension.isEmpty()) {
            const QMimeType type =
                types.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
            if (!type.isDefault() && QIcon::hasThemeIcon(type.iconName()))
                icon = QIcon::fromTheme(type.iconName());
            else if (!type.isDefault() && QIcon::hasThemeIcon(type.genericIconName()))
                icon = QIcon::fromTheme(type.genericIconName());
        }
        it = byExtension.insert(extension, icon);
    }
    return *it;
}
}  // namespace

// ---------------------------------------------------------------- model

QString TCorvRow::Text(int column) const
{
    const QString& own = texts[static_cast<size_t>(column)];
    if (!own.isEmpty())
        return own;
    if (column == 1 && size >= 0 && kind != rkFolder && kind != rkParent)
        return PaneSizeText(size);
    if (column == 2)
        return PaneDateText(date);
    return own;
}

int TCorvListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int TCorvListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Captions.size());
}

QVariant TCorvListModel::data(const QModelIndex& index, int role) const
{
    const auto row = static_cast<size_t>(index.row());
    const int column = index.column();
    if (!index.isValid() || row >= Rows.size() || column < 0 ||
        column >= static_cast<int>(std::tuple_size_v<TCorvTexts>))
        return {};
    switch (role) {
        case Qt::DisplayRole:
            return Rows[row].Text(column);
        case Qt::DecorationRole:
            if (column != 0)
                return QVariant();
            return QVariant(Rows[row].kind == rkFile ? fileIcon(Rows[row].texts[0]) : kindIcon(Rows[row].kind));
        case Qt::TextAlignmentRole:
            return column == 1 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        case Qt::BackgroundRole:
            return index.row() == DropRow ? QVariant(QApplication::palette().highlight().color().lighter(160))
                                          : QVariant();
        case Qt::UserRole:
            return Rows[row].kind;
        default:
            return {};
    }
}

QVariant TCorvListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= Captions.size())
        return {};
    if (role == Qt::DisplayRole)
        return Captions[section];
    if (role == Qt::TextAlignmentRole && section == 1)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TCorvListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void TCorvListModel::Append(TCorvRow row, bool inReset)
{
    const int at = static_cast<int>(Rows.size());
    if (!inReset)
        beginInsertRows({}, at, at);
    Rows.push_back(std::move(row));
    if (!inReset)
        endInsertRows();
}

void TCorvListModel::AppendAll(std::vector<std::vector<TCorvRow>>& batches, bool inReset)
{
    size_t count = 0;
    for (const std::vector<TCorvRow>& rows : batches)
        count += rows.size();
    if (count > 0) {
        const int at = static_cast<int>(Rows.size());
        if (!inReset)
            beginInsertRows({}, at, at + static_cast<int>(count) - 1);
        if (Rows.empty() && batches.size() == 1) {
            Rows.swap(batches.front());  // taken over, not moved row by row
        } else {
            // Room for as many again as these rows: a listing's batches
            // are large, and growing by twice the rows so far alone would
            // move every row (and touch fresh memory for it) once more near
            // the end.
            if (Rows.capacity() < Rows.size() + count)
                Rows.reserve(std::max({Rows.capacity() * 2, (Rows.size() + count) * 2, ExpectRows + ExpectRows / 2}));
            for (std::vector<TCorvRow>& rows : batches) {
                Rows.insert(Rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
                std::vector<TCorvRow>().swap(rows);
            }
        }
        if (!inReset)
            endInsertRows();
    }
    batches.clear();
}

void TCorvListModel::Insert(int at, TCorvRow row, bool inReset)
{
    if (!inReset)
        beginInsertRows({}, at, at);
    Rows.insert(Rows.begin() + at, std::move(row));
    if (!inReset)
        endInsertRows();
}

void TCorvListModel::Reorder(const std::vector<size_t>& order, bool inReset)
{
    // order[i] is the old place of the row that goes to place i. The rows
    // move in place, cycle by cycle: a copy of 100,000 rows would cost more
    // in fresh memory than the moves.
    auto permute = [&] {
        std::vector<bool> placed(Rows.size());
        for (size_t start = 0; start < Rows.size(); ++start) {
            if (placed[start] || order[start] == start)
                continue;
            TCorvRow held = std::move(Rows[start]);
            size_t at = start;
            while (order[at] != start) {
                Rows[at] = std::move(Rows[order[at]]);
                placed[at] = true;
                at = order[at];
            }
            Rows[at] = std::move(held);
            placed[at] = true;
        }
    };
    if (inReset) {
        permute();
        return;
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Selected and current rows move with their rows.
    std::vector<int> newPlace(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        newPlace[order[i]] = static_cast<int>(i);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from)
        to << index(newPlace[static_cast<size_t>(i.row())], i.column());
    permute();
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TCorvListModel::SetDropRow(int row)
{
    if (row == DropRow)
        return;
    const int old = DropRow;
    DropRow = row;
    const int last = columnCount() - 1;
    for (int r : {old, row})
        if (r >= 0 && r < rowCount())
            Q_EMIT dataChanged(index(r, 0), index(r, last), {Qt::BackgroundRole});
}

// ---------------------------------------------------------------- control

TCorvListView::TCorvListView(QWidget* parent)
    : QWidget(parent),
      m_model(new TCorvListModel(this)),
      m_report(new TInnerView<QTreeView>(this, [this] { leftReleased(); })),
      m_list(new TInnerView<QListView>(this, [this] { leftReleased(); })),
      m_selection(new QItemSelectionModel(m_model, this)),
      m_stack(new QStackedLayout(this)),
      m_streamTimer(new QTimer(this))
{
    m_streamTimer->setSingleShot(true);
    connect(m_streamTimer, &QTimer::timeout, this, [this] { flushStream(); });
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_report->setModel(m_model);
    m_report->setSelectionModel(m_selection);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setSortingEnabled(false);  // the control's own rules sort it
    m_report->setAllColumnsShowFocus(true);
    m_report->header()->setSectionsClickable(true);
    m_report->header()->setSortIndicatorShown(true);
    m_report->header()->setStretchLastSection(false);
    connect(m_report->header(), &QHeaderView::sectionClicked, this, [this](int c) { ColumnClick(c); });
    m_list->setLayoutMode(QListView::Batched);  // large listings lay out in steps, the window stays live
    m_list->setBatchSize(2000);
    m_list->setUniformItemSizes(true);
    m_list->setResizeMode(QListView::Adjust);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_list)}) {
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setDragEnabled(false);  // drags start here, with the control's tag
        v->setAcceptDrops(true);
        v->installEventFilter(this);
        v->viewport()->installEventFilter(this);
        connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
            if (i.isValid())
                Q_EMIT RowDoubleClicked(i.row());
        });
    }
    connect(m_selection, &QItemSelectionModel::selectionChanged, this, [this] { Q_EMIT SelectionChanged(); });
    m_stack->addWidget(m_report);
    m_stack->addWidget(m_list);
    m_stack->setCurrentWidget(m_report);
    setFocusProxy(m_report);
}

void TCorvListView::SetSort(int column, bool ascending)
{
    m_sortColumn = column;
    m_ascending = ascending;
}

void TCorvListView::SetColumns(const QStringList& captions)
{
    m_model->BeginReset();
    m_model->Captions = captions.mid(0, static_cast<qsizetype>(std::tuple_size_v<TCorvTexts>));
    m_model->EndReset();
}

int TCorvListView::ColumnWidth(int column) const
{
    return m_report->header()->sectionSize(column);
}

void TCorvListView::SetColumnWidth(int column, int width)
{
    m_report->header()->resizeSection(column, width);
}

QHeaderView* TCorvListView::Header() const
{
    return m_report->header();
}

QAbstractItemView* TCorvListView::View() const
{
    return m_style == TViewStyle::Report ? static_cast<QAbstractItemView*>(m_report)
                                         : static_cast<QAbstractItemView*>(m_list);
}

void TCorvListView::AddRow(int kind, TCorvTexts texts, bool atTop)
{
    TCorvRow row{kind, std::move(texts), -1, {}, {}};
    if (!atTop) {
        addRow(std::move(row));
        return;
    }
    flushStream();
    m_model->Insert(0, std::move(row), m_updating);
}

void TCorvListView::AddEntry(int kind, const QString& name, int64_t size, const TListingDate& date,
                             const QString& fourth)
{
    addRow(TCorvRow{kind, {name, QString(), QString(), fourth}, size, date, {}});
}

// Columns 1 and 2 carry sizes and dates; what the queue shows there (size,
// target) sorts by its own texts through the same rules.
TPaneRow TCorvListView::SortRowOf(const TCorvRow& row)
{
    return {row.kind, row.texts[0], sortSizeOf(row), row.date};
}

void TCorvListView::AddRows(std::vector<TCorvRow>& rows, std::vector<TPaneRow>* sortRows)
{
    if (!m_streaming || rows.empty()) {
        for (TCorvRow& row : rows)
            addRow(std::move(row));
        rows.clear();
        return;
    }
    if (sortRows && sortRows->size() == rows.size() && AutoSort && m_keyedStreamed == m_streamedRows &&
        rows.size() >= StreamKeysRows) {
        // Keys follow on from the rows before: this batch's go on at once.
        m_streamKeys.Add(m_model->Rows.size() + m_streamedRows, std::move(*sortRows), m_sortColumn,
                         targetColumn(m_sortColumn));
        m_keyedStreamed += rows.size();
    }
    // The batch waits as it is: its rows move once, into the model.
    m_streamedRows += rows.size();
    m_streamed.push_back(std::move(rows));
    rows.clear();
    streamGrew();
}

void TCorvListView::addRow(TCorvRow row)
{
    if (!m_streaming) {
        m_model->Append(std::move(row), m_updating);
        return;
    }
    if (m_streamed.empty())
        m_streamed.emplace_back();
    m_streamed.back().push_back(std::move(row));
    ++m_streamedRows;
    streamGrew();
}

void TCorvListView::streamGrew()
{
    if (m_streamedRows >= StreamShowRows) {
        // A fast listing keeps the window's thread too busy for the timer:
        // its rows would all wait for the end, and move there at once.
        flushStream();
        return;
    }
    if (m_streamedRows - m_keyedStreamed >= StreamKeysRows)
        keyStreamedRows(false);
    if (!m_streamTimer->isActive())
        m_streamTimer->start(StreamBatchMs);
}

void TCorvListView::BeginStream()
{
    m_streaming = true;
}

void TCorvListView::EndStream()
{
    flushStream();
    m_streaming = false;
}

void TCorvListView::keyStreamedRows(bool rest)
{
    // A few thousand rows at a time, as they come: at the end of a listing
    // only the last few are left for the worker while the sort waits. A
    // small listing gets its keys at the sort, without a worker.
    const size_t pending = m_streamedRows - m_keyedStreamed;
    if (!AutoSort || pending == 0 || (pending < StreamKeysRows && !(rest && m_streamKeys.Busy())))
        return;
    std::vector<TPaneRow> rows;
    rows.reserve(pending);
    size_t skip = m_keyedStreamed;
    for (const std::vector<TCorvRow>& batch : m_streamed) {
        for (size_t i = std::min(skip, batch.size()); i < batch.size(); ++i)
            rows.push_back(SortRowOf(batch[i]));
        skip -= std::min(skip, batch.size());
    }
    m_streamKeys.Add(m_model->Rows.size() + m_keyedStreamed, std::move(rows), m_sortColumn, targetColumn(m_sortColumn));
    m_keyedStreamed = m_streamedRows;
}

void TCorvListView::flushStream()
{
    m_streamTimer->stop();
    keyStreamedRows(true);
    m_keyedStreamed = 0;
    m_streamedRows = 0;
    m_model->AppendAll(m_streamed, m_updating);
}

void TCorvListView::Clear()
{
    // The storage goes too: a large listing's rows would stay held while the
    // next listing makes its own.
    m_streamed.clear();
    m_streamedRows = 0;
    m_keyedStreamed = 0;
    m_model->ExpectRows = 0;
    m_streamKeys.Clear();
    if (m_updating) {
        std::vector<TCorvRow>().swap(m_model->Rows);
        return;
    }
    m_model->BeginReset();
    std::vector<TCorvRow>().swap(m_model->Rows);
    m_model->EndReset();
}

void TCorvListView::BeginUpdate()
{
    if (m_updating)
        return;
    m_updating = true;
    setUpdatesEnabled(false);
    m_model->BeginReset();
}

void TCorvListView::EndUpdate()
{
    if (m_streaming)
        EndStream();
    if (!m_updating)
        return;
    m_updating = false;
    m_model->DropRow = -1;
    m_model->EndReset();
    if (m_style != TViewStyle::Report)
        applyListStyle();  // the grid follows the names
    setUpdatesEnabled(true);
}

// ---------------------------------------------------------------- selection

bool TCorvListView::IsSelected(int row) const
{
    return m_selection->isRowSelected(row, {});
}

void TCorvListView::SetSelected(int row, bool on)
{
    if (row < 0 || row >= RowCount())
        return;
    m_selection->select(m_model->index(row, 0),
                        (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows);
}

void TCorvListView::SelectWhere(const std::function<bool(int row)>& pick)
{
    // Runs of picked rows become one range each: one selection change in all.
    QItemSelection selection;
    const int rows = RowCount();
    const int last = std::max(0, ColumnCount() - 1);
    for (int r = 0; r < rows;) {
        if (!pick(r)) {
            ++r;
            continue;
        }
        int end = r;
        while (end + 1 < rows && pick(end + 1))
            ++end;
        selection.select(m_model->index(r, 0), m_model->index(end, last));
        r = end + 1;
    }
    m_selection->select(selection, QItemSelectionModel::ClearAndSelect);
}

void TCorvListView::ClearSelection()
{
    m_selection->clearSelection();
}

std::vector<int> TCorvListView::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : m_selection->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int TCorvListView::CurrentRow() const
{
    const QModelIndex i = m_selection->currentIndex();
    return i.isValid() ? i.row() : -1;
}

void TCorvListView::SetCurrentRow(int row)
{
    if (row < 0 || row >= RowCount())
        m_selection->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    else
        m_selection->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TCorvListView::ScrollToRow(int row)
{
    if (row >= 0 && row < RowCount())
        View()->scrollTo(m_model->index(row, 0));
}

int TCorvListView::RowAt(QPoint inView) const
{
    const QModelIndex i = View()->indexAt(inView);
    return i.isValid() ? i.row() : -1;
}

QRect TCorvListView::RowRect(int row) const
{
    return row >= 0 && row < RowCount() ? View()->visualRect(m_model->index(row, 0)) : QRect();
}

bool TCorvListView::OnItem(QPoint inView) const
{
    // On the icon or the label of a row, not on the blank rest of a report row.
    const QModelIndex i = View()->indexAt(inView);
    if (!i.isValid())
        return false;
    if (m_style != TViewStyle::Report)
        return true;
    const QModelIndex name = m_model->index(i.row(), 0);
    QRect r = m_report->visualRect(name);
    const int used = m_report->sizeHintForIndex(name).width();
    r.setWidth(std::min(r.width(), used));
    return r.contains(inView);
}

// ---------------------------------------------------------------- sorting

void TCorvListView::sortBy(const std::function<bool(const TCorvRow&, const TCorvRow&)>& less)
{
    std::vector<size_t> order(m_model->Rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const auto& rows = m_model->Rows;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return less(rows[a], rows[b]); });
    m_model->Reorder(order, m_updating);
}

void TCorvListView::SetMixedOrder(bool mixed)
{
    if (std::exchange(m_mixedOrder, mixed) != mixed)
        SortNow();
}

void TCorvListView::SortNow()
{
    if (!AutoSort)
        return;
    SortByColumn(m_sortColumn);
    m_report->header()->setSortIndicator(m_sortColumn, m_ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool TCorvListView::targetColumn(int column) const
{
    return ColumnCaption(column) == QLatin1String("Target");
}

void TCorvListView::SortByColumn(int column)
{
    // Keys worked out once per row (most of them already, on a worker, while
    // a listing came in), then one sort of the row numbers; a listing that
    // comes in order, as many servers send it, costs one pass.
    const bool target = targetColumn(column);
    const bool asc = m_ascending;
    const bool mixed = m_mixedOrder;
    const auto& rows = m_model->Rows;
    // A row fits keys made from it while it holds the very same name text (a
    // changed name is another string) and the same kind, size and date.
    auto fits = [&rows](size_t i, const TPaneRow& then) {
        const TCorvRow& r = rows[i];
        return r.texts[0].constData() == then.name.constData() && r.kind == then.kind && r.date == then.date &&
               sortSizeOf(r) == then.size;
    };
    TSortKeys keys = m_streamKeys.Take(
        rows.size(), fits, [&rows](size_t i) { return SortRowOf(rows[i]); }, column, target);
    std::vector<size_t> order(keys.size());
    std::iota(order.begin(), order.end(), size_t{0});
    auto less = [&](size_t a, size_t b) { return PaneKeyLess(keys[a], keys[b], column, asc, mixed, target); };
    // A run in order and a few rows after it (the parent entry, rows added
    // since): only those are sorted, then merged in.
    const auto unordered = std::is_sorted_until(order.begin(), order.end(), less);
    const bool inOrder = unordered == order.end();
    if (!inOrder) {
        std::stable_sort(unordered, order.end(), less);
        std::inplace_merge(order.begin(), unordered, order.end(), less);
    }
    TStreamSortKeys::Discard(std::move(keys));
    if (!inOrder)
        m_model->Reorder(order, m_updating);
}

void TCorvListView::SortByExtension()
{
    auto ext = [](const TCorvRow& r) {
        const qsizetype dot = r.texts[0].lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? QStringView() : QStringView(r.texts[0]).mid(dot + 1);
    };
    sortBy([&](const TCorvRow& a, const TCorvRow& b) {
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return ext(a).compare(ext(b), Qt::CaseInsensitive) < 0;
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

std::vector<std::vector<int>> TCorvListView::widestRows(int columns, size_t count) const
{
    // Measuring each of 100,000 texts exactly costs more than the listing,
    // so widths are estimated from cached character advances (typed sizes
    // and dates from their digit counts, without writing the text); the
    // caller measures only the widest few exactly. One pass over the rows
    // for all the columns.
    const QFontMetrics fm(m_report->font());
    if (m_advance.empty())
        m_advance.assign(0x10000, -1);
    const int digit = fm.horizontalAdvance(QLatin1Char('0'));
    auto digits = [](int64_t v) {
        int n = 1;
        while (v >= 10) {
            v /= 10;
            ++n;
        }
        return n;
    };
    struct Column {
        std::vector<std::pair<int, int>> widest;  // estimate, row
        // Rows of a listing share permission strings: the last one's width
        // is kept (a sum of advances each otherwise).
        QStringView lastText;
        int lastTextWidth = 0;
    };
    std::vector<Column> state(static_cast<size_t>(std::max(columns, 0)));
    int64_t lastDays = -1;  // and days: a calendar lookup each otherwise
    int lastMonthDay = 0;
    const auto& rows = m_model->Rows;
    for (size_t r = 0; r < rows.size(); ++r) {
        const TCorvRow& row = rows[r];
        for (size_t column = 0; column < state.size(); ++column) {
            Column& c = state[column];
            const QString& text = row.texts[column];
            int w = 0;
            if (text.isEmpty() && column == 1 && row.size >= 0) {
                w = (digits(row.size) * 4 / 3) * digit;
            } else if (text.isEmpty() && column == 2 && row.date.Kind != TListingDate::None) {
                // Short formats differ in length by one- and two-digit fields.
                const int64_t days = row.date.Msecs / 86400000;
                if (days != lastDays) {
                    int y = 0, m = 0, d = 0;
                    QDate::fromJulianDay(days + 2440588).getDate(&y, &m, &d);
                    lastDays = days;
                    lastMonthDay = (m > 9) + (d > 9);
                }
                const int hour = static_cast<int>(row.date.Msecs / 3600000 - days * 24);
                w = (10 + lastMonthDay + (row.date.Kind == TListingDate::DayTime ? 6 + (hour % 12 > 9) : 0)) * digit;
            } else if (!text.isEmpty() && text.constData() == c.lastText.data() && text.size() == c.lastText.size()) {
                w = c.lastTextWidth;
            } else {
                for (QChar ch : text) {
                    int& a = m_advance[ch.unicode()];
                    if (a < 0)
                        a = fm.horizontalAdvance(ch);
                    w += a;
                }
                c.lastText = text;
                c.lastTextWidth = w;
            }
            if (c.widest.size() < count || w > c.widest.back().first) {
                if (c.widest.size() == count)
                    c.widest.pop_back();
                c.widest.insert(std::upper_bound(c.widest.begin(), c.widest.end(), std::make_pair(w, -1),
                                                 [](const auto& x, const auto& y) { return x.first > y.first; }),
                                {w, static_cast<int>(r)});
            }
        }
    }
    std::vector<std::vector<int>> result;
    for (const Column& c : state) {
        std::vector<int>& widest = result.emplace_back();
        for (const auto& [estimate, row] : c.widest)
            widest.push_back(row);
    }
    return result;
}

void TCorvListView::SizeColumnsToContent()
{
    // Every column as wide as its widest text.
    m_contentWidth.assign(static_cast<size_t>(ColumnCount()), 0);
    const std::vector<std::vector<int>> widest = widestRows(ColumnCount(), 8);
    for (int c = 0; c < ColumnCount(); ++c) {
        int width = 0;
        for (int row : widest[static_cast<size_t>(c)])
            width = std::max(width, m_report->sizeHintForIndex(m_model->index(row, c)).width());
        width += 2 * m_report->style()->pixelMetric(QStyle::PM_FocusFrameHMargin);
        m_contentWidth[static_cast<size_t>(c)] = width;
        m_report->header()->resizeSection(c, width);
    }
}

int TCorvListView::ContentWidth(int column) const
{
    return column >= 0 && static_cast<size_t>(column) < m_contentWidth.size()
               ? m_contentWidth[static_cast<size_t>(column)]
               : ColumnWidth(column);
}

void TCorvListView::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (OnResize)
        OnResize(this);
}

int TCorvListView::VisibleRowCapacity() const
{
    // The delegate's height of the first row (asking the view would lay out
    // every row, and this runs inside a fill).
    const int rowHeight = std::max(
        1, RowCount() > 0 ? m_report->sizeHintForIndex(m_model->index(0, 0)).height() : fontMetrics().height());
    return std::max(1, m_report->viewport()->height() / rowHeight);
}

// ---------------------------------------------------------------- view styles

void TCorvListView::SetRowSelect(bool wholeRow)
{
    auto* d = dynamic_cast<TNameSelectDelegate*>(m_report->itemDelegate());
    if (!d) {
        d = new TNameSelectDelegate(m_report);
        m_report->setItemDelegate(d);
    }
    d->WholeRow = wholeRow;
    m_report->viewport()->update();
}

void TCorvListView::SetViewStyle(TViewStyle style)
{
    if (style == m_style)
        return;
    const bool hadFocus = View()->hasFocus();
    m_style = style;
    if (style == TViewStyle::Report) {
        m_stack->setCurrentWidget(m_report);
        m_list->setModel(nullptr);  // a hidden list view would lay out every row again
    } else {
        if (m_list->model() != m_model) {
            m_list->setModel(m_model);
            m_list->setSelectionModel(m_selection);
        }
        applyListStyle();
        m_stack->setCurrentWidget(m_list);
    }
    setFocusProxy(View());
    if (hadFocus)
        View()->setFocus();
}

void TCorvListView::applyListStyle()
{
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    const int large = style()->pixelMetric(QStyle::PM_LargeIconSize);
    switch (m_style) {
        case TViewStyle::Icon:
            m_list->setViewMode(QListView::IconMode);
            m_list->setIconSize(QSize(large, large));
            m_list->setGridSize(QSize(large * 3, large * 2 + fontMetrics().height()));
            m_list->setFlow(QListView::LeftToRight);
            m_list->setWrapping(true);
            break;
        case TViewStyle::SmallIcon:
        case TViewStyle::List:
        case TViewStyle::Report: {
            // One grid for every row, as wide as the widest name: the rows
            // lay out without measuring each one, and no name is cut.
            int name = 0;
            const std::vector<std::vector<int>> widest = widestRows(1, 4);
            for (int row : widest.front())
                name = std::max(name, m_list->fontMetrics().horizontalAdvance(Text(row, 0)));
            name = std::min(name, 400);
            m_list->setViewMode(QListView::ListMode);
            m_list->setIconSize(QSize(small, small));
            m_list->setGridSize(QSize(small + name + 16, std::max(small, m_list->fontMetrics().height()) + 4));
            m_list->setFlow(m_style == TViewStyle::SmallIcon ? QListView::LeftToRight : QListView::TopToBottom);
            m_list->setWrapping(true);
            break;
        }
    }
    m_list->setMovement(m_autoArrange || m_style == TViewStyle::List ? QListView::Static : QListView::Snap);
    m_list->setDragEnabled(false);
}

void TCorvListView::SetAutoArrange(bool on)
{
    m_autoArrange = on;
    if (m_style != TViewStyle::Report)
        applyListStyle();
    Arrange();
}

void TCorvListView::Arrange()
{
    if (m_style != TViewStyle::Report)
        m_list->doItemsLayout();
}

// ---------------------------------------------------------------- events

bool TCorvListView::eventFilter(QObject* watched, QEvent* event)
{
    const bool onViewport = watched == m_report->viewport() || watched == m_list->viewport();
    const bool onView = watched == m_report || watched == m_list;
    if (onView && event->type() == QEvent::KeyPress)
        return OnKeyDown && OnKeyDown(this, static_cast<QKeyEvent*>(event));
    if (onView && event->type() == QEvent::FocusIn && OnEnter)
        OnEnter(this);
    if (!onViewport)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            const QPoint at = e->position().toPoint();
            m_pressed = e->button() == Qt::LeftButton && RowAt(at) >= 0;
            m_pressAt = at;
            if (OnMouseDown)
                OnMouseDown(this, e, RowAt(at), OnItem(at));
            return false;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (m_pressed && (e->buttons() & Qt::LeftButton) &&
                (e->position().toPoint() - m_pressAt).manhattanLength() >= QApplication::startDragDistance()) {
                m_pressed = false;
                startDrag();
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonRelease:
            m_pressed = false;
            return false;
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
            return dragEvent(event);
        default:
            return false;
    }
}

void TCorvListView::leftReleased()
{
    if (RowCount() > 0 && OnSelectedInfo)
        OnSelectedInfo(this);
}

void TCorvListView::startDrag()
{
    if (m_selection->selectedRows().isEmpty())
        return;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(CorvRowsMime), QByteArray::number(Tag));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool TCorvListView::dragEvent(QEvent* event)
{
    if (event->type() == QEvent::DragLeave) {
        m_model->SetDropRow(-1);
        return true;
    }
    auto* e = static_cast<QDropEvent*>(event);
    const QMimeData* mime = e->mimeData();
    const QPoint at = e->position().toPoint();
    const bool drop = event->type() == QEvent::Drop;
    if (mime->hasFormat(QString::fromLatin1(CorvRowsMime))) {
        const int source = mime->data(QString::fromLatin1(CorvRowsMime)).toInt();
        const int row = RowAt(at);
        if (event->type() == QEvent::DragEnter) {
            e->acceptProposedAction();  // whether it may drop is asked while it moves
            return true;
        }
        const bool ok = OnDragOver && OnDragOver(this, source, row);
        m_model->SetDropRow(ok && !drop ? row : -1);
        if (!ok) {
            e->ignore();
            return true;
        }
        e->acceptProposedAction();
        if (drop && OnDragDrop)
            OnDragDrop(this, source, row);
        return true;
    }
    if (m_acceptFiles && OnFileDrop && mime->hasUrls()) {
        e->acceptProposedAction();
        if (drop) {
            QStringList files;
            for (const QUrl& url : mime->urls())
                if (url.isLocalFile())
                    files << url.toLocalFile();
            if (OnFileDrop)
                OnFileDrop(this, files, at);
        }
        return true;
    }
    e->ignore();
    return true;
}

int TCorvListView::RowNamedBytes(const std::string& name) const
{
    for (int r = 0; r < RowCount(); ++r)
        if (Kind(r) != rkParent && m_model->Rows[static_cast<size_t>(r)].NameBytes() == name)
            return r;
    return -1;
}

int TCorvListView::RowNamed(const QString& name) const
{
    for (int r = 0; r < RowCount(); ++r)
        if (Kind(r) != rkParent && Text(r, 0) == name)
            return r;
    return -1;
}
