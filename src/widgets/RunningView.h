#pragma once
// The files moving on transfer connections, above the queue: each with its
// connection, how far it is and how fast it goes, twice a second; hidden
// while none moves there.

#include <QTreeWidget>

#include <cstdint>
#include <map>
#include <utility>

class QTimer;
class TTransferPool;

class TRunningView : public QTreeWidget {
    Q_OBJECT

public:
    TRunningView(const TTransferPool& pool, QWidget* parent = nullptr);

    // The rows again from the pool (the timer's work; tests call it too).
    void Refresh();

private:
    const TTransferPool& m_pool;
    QTimer* m_timer = nullptr;
    // Per connection: when its file was first seen and the bytes then, for the speed.
    std::map<int, std::pair<int64_t, int64_t>> m_seen;
};
