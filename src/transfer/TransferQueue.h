#pragma once
// The transfer queue: files and folders to move, in order, with the counts
// a run shows (bytes and files still queued). It is the model the queue
// list shows; every change keeps the counts without a recount, so adding or
// taking the head of a queue of any length costs the same.

#include <QAbstractTableModel>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Also the image index of a queue row.
enum class TEntryKind : uint8_t { DownloadDirectory = 0, DownloadFile = 1, UploadDirectory = 2, UploadFile = 3 };

inline bool IsDirectoryEntry(TEntryKind k)
{
    return k == TEntryKind::DownloadDirectory || k == TEntryKind::UploadDirectory;
}
inline bool IsDownloadEntry(TEntryKind k)
{
    return k == TEntryKind::DownloadDirectory || k == TEntryKind::DownloadFile;
}

struct TQueueEntry {
    TEntryKind Kind = TEntryKind::DownloadFile;
    std::string Source;  // remote path for downloads, local for uploads; a folder ends with "/"
    int64_t Size = -1;   // bytes; -1: not known (folders)
    std::string Target;  // local for downloads, remote ("~/" = the run's start folder) for uploads
    int Depth = 0;       // folders below the entry the user queued
    bool operator==(const TQueueEntry&) const = default;
};

// Paths of both sides use "/".
std::string EnsureTrailingSeparator(std::string path);
// "a/b/" gives "b/", "a/b" gives "b"; a path without a separator before its
// last character is returned whole.
std::string LastPathSegment(const std::string& path);
// Up to and including the separator before the last segment ("a/b/c" and
// "a/b/c/" give "a/b/"); empty when there is none.
std::string ParentPath(const std::string& path);
// A name from a listing (or a local folder) that may become one path segment
// on the other side: not empty, not "." or "..", no "/", no NUL or other
// control character. Anything else would write outside the target folder.
bool SafeEntryName(const std::string& name);

class TTransferQueue : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TTransferQueue(QObject* parent = nullptr);

    enum Column { ColName = 0, ColSize = 1, ColTarget = 2, ColumnCount = 3 };
    static constexpr int KindRole = Qt::UserRole + 1;  // the entry kind as an int

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    size_t Count() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    const TQueueEntry& At(size_t i) const { return m_entries[i]; }
    const TQueueEntry& Head() const { return m_entries.front(); }

    void Append(TQueueEntry entry);
    void Append(std::vector<TQueueEntry> entries);
    // Entries go in before the head, in the order given.
    void InsertAtHead(std::vector<TQueueEntry> entries);
    void RemoveHead();
    // Rows by position (any order; out of range ignored).
    void Remove(std::vector<size_t> rows);
    void Clear();
    // The rows keep their order and go to position `to` (front) or the end.
    void MoveToFront(std::vector<size_t> rows, size_t to);
    void MoveToEnd(std::vector<size_t> rows);
    // The row `from` moved onto row `onto`: after it when moving down, before
    // it when moving up.
    void MoveOnto(size_t from, size_t onto);
    void SetTarget(size_t row, std::string target);

    // Sum of the known sizes of file entries, and the entries by kind.
    int64_t Bytes() const { return m_bytes; }
    size_t Files() const { return m_files; }
    size_t Directories() const { return m_entries.size() - m_files; }

private:
    void count(const TQueueEntry& e, int sign);
    static std::vector<size_t> sortedUnique(std::vector<size_t> rows, size_t limit);

    std::deque<TQueueEntry> m_entries;
    int64_t m_bytes = 0;
    size_t m_files = 0;
};
