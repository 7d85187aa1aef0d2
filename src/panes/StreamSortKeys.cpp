#include "panes/StreamSortKeys.h"

#include <QThreadPool>

#include <exception>

void TStreamSortKeys::Add(size_t first, std::vector<TPaneRow> rows, int column, bool targetColumn)
{
    auto input = std::make_shared<const std::vector<TPaneRow>>(std::move(rows));
    auto promise = std::make_shared<std::promise<std::vector<TPaneSortKey>>>();
    m_batches.push_back({first, column, targetColumn, input, promise->get_future()});
    QThreadPool::globalInstance()->start([input, promise, column, targetColumn] {
        try {
            std::vector<TPaneSortKey> keys;
            keys.reserve(input->size());
            for (const TPaneRow& r : *input)
                keys.push_back(PaneSortKey(r, column, targetColumn));
            promise->set_value(std::move(keys));
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
}

TSortKeys TStreamSortKeys::Take(size_t count, const std::function<bool(size_t, const TPaneRow&)>& fits,
                                const std::function<TPaneRow(size_t)>& rowAt, int column, bool targetColumn)
{
    TSortKeys keys;
    keys.m_at.reserve(count);
    // Batches in order from row 0 on; the first that does not fit ends the use.
    for (Batch& b : m_batches) {
        const size_t first = keys.m_at.size();
        if (b.first != first || b.column != column || b.target != targetColumn || first + b.rows->size() > count)
            break;
        std::vector<TPaneSortKey> made;
        try {
            made = b.keys.get();
        } catch (...) {
            break;  // the worker failed (out of memory): worked out here instead
        }
        bool same = made.size() == b.rows->size();
        for (size_t i = 0; same && i < made.size(); ++i)
            same = fits(first + i, (*b.rows)[i]);
        if (!same) {
            keys.m_parts.push_back(std::move(made));  // freed with the rest, on the worker
            break;
        }
        for (const TPaneSortKey& k : made)
            keys.m_at.push_back(&k);
        keys.m_parts.push_back(std::move(made));  // the elements stay where they are
    }
    m_batches.clear();  // batches not taken finish on the worker and are dropped there
    std::vector<TPaneSortKey>& rest = keys.m_parts.emplace_back();
    rest.reserve(count - keys.m_at.size());  // never moves: the pointers into it stay good
    for (size_t i = keys.m_at.size(); i < count; ++i) {
        rest.push_back(PaneSortKey(rowAt(i), column, targetColumn));
        keys.m_at.push_back(&rest.back());
    }
    return keys;
}

void TStreamSortKeys::Discard(TSortKeys&& keys)
{
    auto held = std::make_shared<TSortKeys>(std::move(keys));
    QThreadPool::globalInstance()->start([held]() mutable { held.reset(); });
}
