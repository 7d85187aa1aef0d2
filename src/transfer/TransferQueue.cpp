#include "transfer/TransferQueue.h"

#include "common/TextFormat.h"

#include <algorithm>

std::string EnsureTrailingSeparator(std::string path)
{
    if (path.size() > 1 && path.back() != '/')
        path += '/';
    return path;
}

std::string LastPathSegment(const std::string& path)
{
    if (path.size() < 2)
        return path;
    const size_t slash = path.rfind('/', path.size() - 2);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPath(const std::string& path)
{
    if (path.size() < 2)
        return {};
    const size_t slash = path.rfind('/', path.size() - 2);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool SafeEntryName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '/' || u < 0x20 || u == 0x7f;
    });
}

TTransferQueue::TTransferQueue(QObject* parent) : QAbstractTableModel(parent) {}

int TTransferQueue::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int TTransferQueue::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TTransferQueue::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<size_t>(index.row()) >= m_entries.size())
        return {};
    const TQueueEntry& e = m_entries[static_cast<size_t>(index.row())];
    if (role == KindRole)
        return static_cast<int>(e.Kind);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
        case ColName:
            return QString::fromStdString(e.Source);
        case ColSize:
            return e.Size < 0 ? QString() : PaneSizeText(e.Size);
        case ColTarget:
            return QString::fromStdString(e.Target);
        default:
            return {};
    }
}

QVariant TTransferQueue::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case ColName:
            return QStringLiteral("文件名");
        case ColSize:
            return QStringLiteral("大小");
        case ColTarget:
            return QStringLiteral("目标");
        default:
            return {};
    }
}

void TTransferQueue::count(const TQueueEntry& e, int sign)
{
    if (IsDirectoryEntry(e.Kind))
        return;
    m_files = sign > 0 ? m_files + 1 : m_files - 1;
    if (e.Size > 0)
        m_bytes += sign * e.Size;
}

void TTransferQueue::Append(TQueueEntry entry)
{
    std::vector<TQueueEntry> one;
    one.push_back(std::move(entry));
    Append(std::move(one));
}

void TTransferQueue::Append(std::vector<TQueueEntry> entries)
{
    if (entries.empty())
        return;
    const int at = static_cast<int>(m_entries.size());
    beginInsertRows({}, at, at + static_cast<int>(entries.size()) - 1);
    for (TQueueEntry& e : entries) {
        count(e, 1);
        m_entries.push_back(std::move(e));
    }
    endInsertRows();
}

void TTransferQueue::InsertAtHead(std::vector<TQueueEntry> entries)
{
    if (entries.empty())
        return;
    beginInsertRows({}, 0, static_cast<int>(entries.size()) - 1);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        count(*it, 1);
        m_entries.push_front(std::move(*it));
    }
    endInsertRows();
}

void TTransferQueue::RemoveHead()
{
    if (m_entries.empty())
        return;
    beginRemoveRows({}, 0, 0);
    count(m_entries.front(), -1);
    m_entries.pop_front();
    endRemoveRows();
}

std::vector<size_t> TTransferQueue::sortedUnique(std::vector<size_t> rows, size_t limit)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::lower_bound(rows.begin(), rows.end(), limit), rows.end());
    return rows;
}

void TTransferQueue::Remove(std::vector<size_t> rows)
{
    rows = sortedUnique(std::move(rows), m_entries.size());
    // From the back, in runs, so each notice names rows as they stand.
    for (size_t i = rows.size(); i > 0;) {
        size_t last = rows[--i], first = last;
        while (i > 0 && rows[i - 1] == first - 1)
            first = rows[--i];
        beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
        for (size_t r = first; r <= last; ++r)
            count(m_entries[r], -1);
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(first),
                        m_entries.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        endRemoveRows();
    }
}

void TTransferQueue::Clear()
{
    beginResetModel();
    m_entries.clear();
    m_bytes = 0;
    m_files = 0;
    endResetModel();
}

void TTransferQueue::MoveToFront(std::vector<size_t> rows, size_t to)
{
    rows = sortedUnique(std::move(rows), m_entries.size());
    std::erase_if(rows, [to](size_t r) { return r < to; });  // rows before `to` stay
    if (rows.empty())
        return;
    std::vector<TQueueEntry> moved;
    for (size_t r : rows)
        moved.push_back(m_entries[r]);
    Remove(rows);
    const int at = static_cast<int>(std::min(to, m_entries.size()));
    beginInsertRows({}, at, at + static_cast<int>(moved.size()) - 1);
    for (size_t i = 0; i < moved.size(); ++i) {
        count(moved[i], 1);
        m_entries.insert(m_entries.begin() + at + static_cast<std::ptrdiff_t>(i), std::move(moved[i]));
    }
    endInsertRows();
}

void TTransferQueue::MoveToEnd(std::vector<size_t> rows)
{
    rows = sortedUnique(std::move(rows), m_entries.size());
    std::vector<TQueueEntry> moved;
    for (size_t r : rows)
        moved.push_back(m_entries[r]);
    Remove(rows);
    Append(std::move(moved));
}

void TTransferQueue::MoveOnto(size_t from, size_t onto)
{
    if (from >= m_entries.size() || onto >= m_entries.size() || from == onto)
        return;
    // Down: after `onto`, which moved up by one when `from` left; up: before
    // it. Either way the entry lands at `onto`.
    TQueueEntry e = m_entries[from];
    Remove({from});
    const size_t at = onto;
    beginInsertRows({}, static_cast<int>(at), static_cast<int>(at));
    count(e, 1);
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(e));
    endInsertRows();
}

void TTransferQueue::SetTarget(size_t row, std::string target)
{
    if (row >= m_entries.size())
        return;
    TQueueEntry& e = m_entries[row];
    e.Target = IsDirectoryEntry(e.Kind) ? EnsureTrailingSeparator(std::move(target)) : std::move(target);
    const QModelIndex i = index(static_cast<int>(row), ColTarget);
    Q_EMIT dataChanged(i, i);
}
