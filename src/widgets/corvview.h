#pragma once
// TCorvListView: the list control of the panes and the queue. Rows are plain
// records in one model, shown by a report view (details) or a list view
// (large icons, small icons, list) that share the model and the selection.
// Sorting follows the panes' rules; columns are sized to their content; rows
// can be dragged to another control and files dropped from other programs.

#include "panes/PaneLogic.h"
#include "panes/StreamSortKeys.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QHeaderView;
class QListView;
class QStackedLayout;
class QTimer;
class QTreeView;
class QAbstractItemView;
class QItemSelectionModel;

using TCorvTexts = std::array<QString, 4>;

// A row: its texts, and for the panes a typed size and date from which the
// size and date columns are written when shown (a text of its own in those
// columns, as the queue has, wins).
struct TCorvRow {
    int kind = rkFile;
    TCorvTexts texts;
    int64_t size = -1;
    TListingDate date;
    // A remote name's bytes as the server sent them, when the name's text in
    // UTF-8 is not those bytes (another charset); empty otherwise.
    std::string raw;
    QString Text(int column) const;
    // The name as the file system or server knows it.
    std::string NameBytes() const { return raw.empty() ? texts[0].toStdString() : raw; }
};

enum class TViewStyle { Icon, SmallIcon, List, Report };

// The rows of one control. Inside an update the model is in a reset: rows
// change without a notice per row and the views take them all at the end.
class TCorvListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    std::vector<TCorvRow> Rows;
    QStringList Captions;
    int DropRow = -1;       // the row under a drag that would take it, highlighted
    size_t ExpectRows = 0;  // rows the stream will likely bring in all

    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }
    void Append(TCorvRow row, bool inReset);
    void Insert(int at, TCorvRow row, bool inReset);
    void Reorder(const std::vector<size_t>& order, bool inReset);
    void AppendAll(std::vector<std::vector<TCorvRow>>& batches, bool inReset);  // announced as one insert
    void SetDropRow(int row);
};

// The mime type of rows dragged between the controls: the source's tag.
inline constexpr const char* CorvRowsMime = "application/x-corvyne-rows";

class TCorvListView : public QWidget {
    Q_OBJECT

public:
    explicit TCorvListView(QWidget* parent = nullptr);

    bool AutoSort = false;
    // Folders among the files by name (true) or first; a change re-sorts now.
    void SetMixedOrder(bool mixed);
    bool MixedOrder() const { return m_mixedOrder; }
    int Tag = 0;  // names the source of a drag: queue 10, local 12, remote 14
    int SortColumn() const { return m_sortColumn; }
    bool Ascending() const { return m_ascending; }
    void SetSort(int column, bool ascending);
    bool AcceptFiles() const { return m_acceptFiles; }
    void SetAcceptFiles(bool on) { m_acceptFiles = on; }

    // Events. Files from other programs are taken only while AcceptFiles is
    // on and OnFileDrop is set. OnDragOver answers whether a drag of rows from the control
    // with the given tag may drop on row (-1: no row); OnDragDrop takes it.
    std::function<void(TCorvListView*, const QStringList& files, QPoint at)> OnFileDrop;
    std::function<void(TCorvListView*)> OnSelectedInfo;
    std::function<void(TCorvListView*)> OnAfterSort;
    std::function<bool(TCorvListView*, int sourceTag, int row)> OnDragOver;
    std::function<void(TCorvListView*, int sourceTag, int row)> OnDragDrop;
    std::function<bool(TCorvListView*, QKeyEvent*)> OnKeyDown;  // true: handled
    std::function<void(TCorvListView*, QMouseEvent*, int row, bool onItem)> OnMouseDown;
    std::function<void(TCorvListView*)> OnEnter;  // the control took the focus
    std::function<void(TCorvListView*)> OnResize;

    // Columns.
    void SetColumns(const QStringList& captions);
    int ColumnCount() const { return static_cast<int>(m_model->Captions.size()); }
    QString ColumnCaption(int column) const { return m_model->Captions.value(column); }
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);
    QHeaderView* Header() const;

    // Rows.
    int RowCount() const { return static_cast<int>(m_model->Rows.size()); }
    int Kind(int row) const { return m_model->Rows[static_cast<size_t>(row)].kind; }
    QString Text(int row, int column) const { return m_model->Rows[static_cast<size_t>(row)].Text(column); }
    std::string NameBytes(int row) const { return m_model->Rows[static_cast<size_t>(row)].NameBytes(); }
    int64_t Size(int row) const { return m_model->Rows[static_cast<size_t>(row)].size; }
    // The row whose name is exactly name ("..": never), or -1.
    int RowNamed(const QString& name) const;
    int RowNamedBytes(const std::string& name) const;  // by the name's bytes
    const TListingDate& Date(int row) const { return m_model->Rows[static_cast<size_t>(row)].date; }
    void AddRow(int kind, TCorvTexts texts, bool atTop = false);
    // A pane entry: name, typed size (-1: none) and date, and a fourth text.
    // A listing's row as made, the server's bytes of its name included.
    void AddListingRow(TCorvRow row) { addRow(std::move(row)); }
    void AddEntry(int kind, const QString& name, int64_t size, const TListingDate& date,
                  const QString& fourth = QString());
    // Taken from the vector. sortRows, when given, are the rows as the sort
    // sees them (SortRowOf), made where the rows were made: the window's
    // thread need not copy them for the sort keys.
    void AddRows(std::vector<TCorvRow>& rows, std::vector<TPaneRow>* sortRows = nullptr);
    static TPaneRow SortRowOf(const TCorvRow& row);  // a row as the sort sees it
    void Clear();

    // Selection, in the order the rows are shown.
    bool IsSelected(int row) const;
    void SetSelected(int row, bool on);
    void SelectWhere(const std::function<bool(int row)>& pick);  // replaces the selection
    void ClearSelection();
    std::vector<int> SelectedRows() const;
    int CurrentRow() const;
    void SetCurrentRow(int row);  // -1: none
    void ScrollToRow(int row);
    int RowAt(QPoint inView) const;  // -1 when no row is there
    QRect RowRect(int row) const;    // where the row's name is, in the view's viewport
    bool OnItem(QPoint inView) const;

    void BeginUpdate();
    void EndUpdate();  // also ends a stream
    // Rows that arrive over time (a listing): shown in batches while they
    // come, at most StreamBatchMs after they were added or once
    // StreamShowRows wait; sort at the end.
    void BeginStream();
    void EndStream();
    // About how many rows the stream will bring in all (the lines of a
    // listing so far): room is made for them at once, not by doubling.
    void ExpectRows(size_t rows) { m_model->ExpectRows = rows; }
    static constexpr int StreamBatchMs = 40;
    static constexpr size_t StreamShowRows = 16384;
    static constexpr size_t StreamKeysRows = 1000;  // a batch this large gets its sort keys on a worker
    void SortNow();
    void SortByColumn(int column);
    void SortByExtension();
    void ColumnClick(int column);
    void SizeColumnsToContent();
    int ContentWidth(int column) const;  // as the last sizing to content found it
    int VisibleRowCapacity() const;      // rows that fit on one page of the report

    // Whole rows drawn selected, or only the name.
    void SetRowSelect(bool wholeRow);
    TViewStyle ViewStyle() const { return m_style; }
    void SetViewStyle(TViewStyle style);
    bool AutoArrange() const { return m_autoArrange; }
    void SetAutoArrange(bool on);
    void Arrange();  // icons back on the grid

    // The view showing the rows now (report or list), for events and tests.
    QAbstractItemView* View() const;
    void EmitDoubleClick(int row) { Q_EMIT RowDoubleClicked(row); }

Q_SIGNALS:
    void RowDoubleClicked(int row);
    void SelectionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void sortBy(const std::function<bool(const TCorvRow&, const TCorvRow&)>& less);
    void addRow(TCorvRow row);
    void flushStream();
    void streamGrew();                    // keys for a large enough batch, the batch shown soon
    void keyStreamedRows(bool rest);      // hands streamed rows on for their sort keys
    bool targetColumn(int column) const;  // the queue's "Target" column
    void reorder(std::vector<size_t> order);
    void applyListStyle();
    bool dragEvent(QEvent* event);
    void startDrag();
    void leftReleased();
    // For columns 0 to columns - 1: rows of the widest texts, widest first.
    std::vector<std::vector<int>> widestRows(int columns, size_t count) const;

    TCorvListModel* m_model;
    QTreeView* m_report;
    QListView* m_list;
    QItemSelectionModel* m_selection;
    QStackedLayout* m_stack;
    TViewStyle m_style = TViewStyle::Report;
    bool m_autoArrange = true;
    bool m_acceptFiles = false;
    int m_sortColumn = 0;
    bool m_mixedOrder = false;
    bool m_ascending = true;
    bool m_updating = false;
    bool m_streaming = false;
    std::vector<std::vector<TCorvRow>> m_streamed;  // batches added, not yet shown
    size_t m_streamedRows = 0;                      // rows in them
    TStreamSortKeys m_streamKeys;
    size_t m_keyedStreamed = 0;  // of those rows, how many have their keys being made
    QTimer* m_streamTimer;
    std::vector<int> m_contentWidth;
    mutable std::vector<int> m_advance;  // character advances of the view's font, by code unit
    QPoint m_pressAt;
    bool m_pressed = false;
};
