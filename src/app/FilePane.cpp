#include "app/FilePane.h"

#include "app/LocalPane.h"
#include "app/RemotePane.h"
#include "common/TextFormat.h"
#include "session/Connection.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <algorithm>

TFilePane::TFilePane(TWindowParts& parts, const QString& name, const QStringList& columns, int tag, QObject* parent)
    : QObject(parent), m_parts(parts)
{
    m_box = new QWidget;
    auto* v = new QVBoxLayout(m_box);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    m_pathBox = new QComboBox(m_box);
    v->addWidget(m_pathBox);
    m_view = new TCorvListView(m_box);
    m_view->setObjectName(name);
    m_view->SetColumns(columns);
    m_view->Tag = tag;
    v->addWidget(m_view);
    m_count = new QLabel(m_box);
    m_count->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_count->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);  // a new text never relayouts the window
    v->addWidget(m_count);

    TCorvListView* view = m_view;
    view->OnKeyDown = [this](TCorvListView*, QKeyEvent* key) { return keyDown(key); };
    view->OnSelectedInfo = [this](TCorvListView*) { ShowSummary(); };
    view->OnEnter = [this](TCorvListView*) { Q_EMIT Entered(); };
    view->OnResize = [this](TCorvListView*) {
        if (autoSize())
            fillNameColumn();
    };
    view->OnMouseDown = [this](TCorvListView*, QMouseEvent* e, int, bool onItem) {
        Q_EMIT Entered();
        if (e->button() == Qt::RightButton)
            Q_EMIT ContextMenuWanted(e->globalPosition().toPoint(), onItem);
    };
    view->OnDragOver = [this](TCorvListView* p, int source, int row) {
        const SessionState state = m_parts.workflow->State();
        return PaneAcceptsDrag(IsRemote(), source, row >= 0 ? p->Kind(row) : -1, row >= 0 && p->IsSelected(row),
                               state == SessionState::Idle, IsTransferring(state));
    };
    view->OnDragDrop = [this](TCorvListView*, int source, int row) { Q_EMIT RowsDropped(source, row); };
    connect(view, &TCorvListView::SelectionChanged, this, [this] { ShowSummary(); });
    connect(view, &TCorvListView::RowDoubleClicked, this, [this](int row) {
        if (row >= 0 && row < m_view->RowCount())
            openRow(row);
    });
}

bool TFilePane::keyDown(QKeyEvent* key)
{
    const int current = m_view->CurrentRow();
    switch (key->key()) {
        case Qt::Key_Backspace:
            Up();
            return true;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            // Between the two panes, as in a two-pane file manager.
            if (key->modifiers() & ~Qt::ShiftModifier)
                return false;
            if (IsRemote())
                m_parts.local->Activate();
            else
                m_parts.remote->Activate();
            return true;
        case Qt::Key_Delete:
            Q_EMIT Entered();
            Q_EMIT DeletePressed();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (current >= 0 && m_view->Kind(current) != rkFile) {
                openRow(current);
                return true;
            }
            return false;
        default:
            return false;
    }
}

void TFilePane::Activate()
{
    m_view->setFocus(Qt::TabFocusReason);
    Q_EMIT Entered();
}

void TFilePane::FocusPathBox()
{
    Q_EMIT Entered();
    m_pathBox->setFocus(Qt::ShortcutFocusReason);
    if (QLineEdit* edit = m_pathBox->lineEdit())
        edit->selectAll();
}

void TFilePane::AskFilter()
{
    std::string filter = m_filter.toStdString();
    if (!m_parts.Prompt().AskText(IsRemote() ? "远程过滤" : "本地过滤", "输入过滤条件", filter))
        return;
    if (filter.empty() || filter == "*" || filter == "*.*")
        filter = "*.*";
    m_filter = QString::fromStdString(filter);
    filterChanged();
}

void TFilePane::ShowSummary()
{
    if (m_view->RowCount() == 0) {
        m_count->clear();
        return;
    }
    const std::vector<int> selected = m_view->SelectedRows();
    int folders = 0, others = 0;
    int64_t bytes = 0;
    if (selected.empty()) {
        for (int i = 0; i < m_view->RowCount(); ++i) {
            const int kind = m_view->Kind(i);
            if (kind == rkFolder)
                ++folders;
            else if (kind == rkFile || kind == rkLink)
                ++others;
            if (kind == rkFile)
                bytes += std::max<int64_t>(0, m_view->Size(i));
        }
        m_count->setText(PaneSummary(folders, others, bytes, m_filter));
        return;
    }
    for (int row : selected) {
        const int kind = m_view->Kind(row);
        if (kind == rkParent)
            continue;
        if (kind == rkFolder) {
            ++folders;
        } else {
            ++others;
            bytes += std::max<int64_t>(0, m_view->Size(row));
        }
    }
    // The rows as the pane shows them: the first selected is the topmost.
    m_count->setText(SelectionSummary(folders, others, bytes, m_view->Kind(selected.front()) == rkParent));
}

void TFilePane::FitColumns()
{
    if (m_view->ViewStyle() != TViewStyle::Report)
        return;
    m_view->SizeColumnsToContent();
    // Sizes at least 65 wide, dates 100, a fourth column 50.
    const int minimum[] = {0, 65, 100, 50};
    for (int c = 1; c < std::min(m_view->ColumnCount(), 4); ++c)
        if (m_view->ColumnWidth(c) < minimum[c])
            m_view->SetColumnWidth(c, minimum[c]);
    fillNameColumn();
}

void TFilePane::fillNameColumn()
{
    // The name column takes what is left (less room for a scroll bar when
    // the rows do not fit on one page), and never less than its content.
    if (m_view->ViewStyle() != TViewStyle::Report)
        return;
    int others = 0;
    for (int c = 1; c < m_view->ColumnCount(); ++c)
        others += m_view->ColumnWidth(c);
    const int margin = m_view->RowCount() > m_view->VisibleRowCapacity() ? 20 : 4;
    m_view->SetColumnWidth(0, std::max(m_view->ContentWidth(0), m_view->width() - others - margin));
}

void TFilePane::SetViewStyle(TViewStyle style)
{
    m_view->SetViewStyle(style);
    if (style == TViewStyle::Report)
        FitColumns();
}

void TFilePane::SetShaded(bool active)
{
    m_count->setAutoFillBackground(true);
    m_count->setBackgroundRole(active ? QPalette::Mid : QPalette::Button);
}

void TFilePane::SelectAll()
{
    m_view->SelectWhere([this](int row) { return m_view->Kind(row) != rkParent; });
    ShowSummary();
}

void TFilePane::InvertSelection()
{
    std::vector<bool> was(static_cast<size_t>(m_view->RowCount()));
    for (int row : m_view->SelectedRows())
        was[static_cast<size_t>(row)] = true;
    m_view->SelectWhere([&](int row) { return m_view->Kind(row) != rkParent && !was[static_cast<size_t>(row)]; });
    ShowSummary();
}

void TFilePane::AskGroupSelect()
{
    std::string text;
    if (!m_parts.Prompt().AskText("组选择", "输入过滤条件", text))
        return;
    const QString mask = QString::fromStdString(text);
    const bool wild = mask.contains(QLatin1Char('*'));
    m_view->SelectWhere([&](int row) {
        const QString& name = m_view->Text(row, 0);
        return m_view->Kind(row) != rkParent &&
               (wild ? MaskMatch(name, mask) : name.compare(mask, Qt::CaseInsensitive) == 0);
    });
    ShowSummary();
}

void TFilePane::AskFind()
{
    std::string text = m_parts.findText.toStdString();
    if (!m_parts.Prompt().AskText("查找文件", "查找", text) || text.empty())
        return;
    m_parts.findText = QString::fromStdString(text);
    m_view->ClearSelection();
    m_view->SetCurrentRow(-1);
    FindNext();
}

bool TFilePane::FindNext()
{
    const QString& find = m_parts.findText;
    if (find.isEmpty())
        return false;
    int start = 0;
    const std::vector<int> selected = m_view->SelectedRows();
    if (!selected.empty()) {
        start = selected.front() + 1;
        m_view->SetSelected(selected.front(), false);
    }
    for (int i = start; i < m_view->RowCount(); ++i) {
        if (m_view->Text(i, 0).contains(find, Qt::CaseInsensitive)) {
            m_view->SetSelected(i, true);
            m_view->ScrollToRow(i);
            m_view->SetCurrentRow(i);
            m_view->setFocus();
            Q_EMIT FindNextAvailable(true);
            return true;
        }
    }
    Q_EMIT FindNextAvailable(false);
    m_parts.Prompt().ShowMessage(MessageKind::Information, "文件没找到");
    return false;
}

std::vector<int> TFilePane::MatchingRows(const std::string& mask) const
{
    // A plain name is that one file; a mask ignores case only where the
    // server's names do (local names never do).
    const QString m = QString::fromStdString(mask);
    const bool wild = m.contains(QLatin1Char('*'));
    const Qt::CaseSensitivity cs = ignoresCase() ? Qt::CaseInsensitive : Qt::CaseSensitive;
    std::vector<int> rows;
    for (int r = 0; r < m_view->RowCount(); ++r) {
        const QString name = m_view->Text(r, 0);
        if (name == QStringLiteral(".."))
            continue;
        if (wild ? MaskMatch(name, m, cs) : name == m)
            rows.push_back(r);
    }
    return rows;
}

bool TFilePane::SelectMatching(const std::string& mask)
{
    const std::vector<int> rows = MatchingRows(mask);
    m_view->SelectWhere([&](int r) { return std::find(rows.begin(), rows.end(), r) != rows.end(); });
    return !rows.empty();
}
