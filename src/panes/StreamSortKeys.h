#pragma once
// Sort keys of rows that stream into a list (a large listing), worked out on
// a worker thread while the rest of the rows still comes: the sort at the end
// is left with the comparisons. Keys are used only while they still fit the
// rows (same kind, name, size and date) and the column sorted by.

#include "panes/PaneLogic.h"

#include <functional>
#include <future>
#include <memory>
#include <vector>

// The keys of one sort, row by row, held in the pieces they were made in
// (gathering them into one array would cost more than the sort).
class TSortKeys {
public:
    const TPaneSortKey& operator[](size_t row) const { return *m_at[row]; }
    size_t size() const { return m_at.size(); }

private:
    friend class TStreamSortKeys;
    std::vector<std::vector<TPaneSortKey>> m_parts;
    std::vector<const TPaneSortKey*> m_at;
};

class TStreamSortKeys {
public:
    // Starts the keys of rows first, first + 1, ... for a sort by column.
    void Add(size_t first, std::vector<TPaneRow> rows, int column, bool targetColumn);
    void Clear() { m_batches.clear(); }
    bool Busy() const { return !m_batches.empty(); }

    // The keys of rows 0..count-1 for a sort by column: those made in
    // advance where row i still fits what they were made from (fits(i, then)),
    // the rest now from rowAt(i).
    TSortKeys Take(size_t count, const std::function<bool(size_t, const TPaneRow&)>& fits,
                   const std::function<TPaneRow(size_t)>& rowAt, int column, bool targetColumn);

    // Keys are freed on the worker: a hundred thousand of them take
    // milliseconds the window need not wait for.
    static void Discard(TSortKeys&& keys);

private:
    struct Batch {
        size_t first = 0;
        int column = 0;
        bool target = false;
        std::shared_ptr<const std::vector<TPaneRow>> rows;
        std::future<std::vector<TPaneSortKey>> keys;
    };
    std::vector<Batch> m_batches;
};
