#include "widgets/RunningView.h"

#include "session/TransferPool.h"
#include "transfer/TransferProgress.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTimer>

#include <algorithm>

TRunningView::TRunningView(const TTransferPool& pool, QWidget* parent)
    : QTreeWidget(parent), m_pool(pool), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("RunningList"));
    setColumnCount(4);
    setHeaderLabels({QStringLiteral("连接"), QStringLiteral("正在传输"), QStringLiteral("进度"), QStringLiteral("速度")});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    header()->setSectionResizeMode(1, QHeaderView::Stretch);
    header()->setStretchLastSection(false);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, [this] { Refresh(); });
    m_timer->start();
    setVisible(false);
}

void TRunningView::Refresh()
{
    const std::vector<TRunningFile> running = m_pool.Running();
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    std::map<int, std::pair<int64_t, int64_t>> seen;
    QList<QTreeWidgetItem*> items;
    for (const TRunningFile& f : running) {
        const TTransferJob& j = *f.Job;
        auto it = m_seen.find(f.Connection);
        const auto first = it != m_seen.end() && it->second.second <= f.Bytes ? it->second : std::pair{now, f.Bytes};
        seen[f.Connection] = first;
        const std::string& local = j.Upload ? j.Entry.Source : j.Entry.Target;
        const QString name = QString::fromStdString(local.substr(local.rfind('/') + 1));
        const QString progress =
            j.Size > 0 ? QStringLiteral("%1%").arg(std::min<int64_t>(100, f.Bytes * 100 / j.Size))
                       : QString::fromStdString(GroupedNumber(f.Bytes));
        const double seconds = static_cast<double>(now - first.first) / 1000;
        const QString speed = seconds >= 0.5 && f.Bytes > first.second ? QStringLiteral("%1 KB/s").arg(
                                                   static_cast<double>(f.Bytes - first.second) / 1024 / seconds, 0, 'f', 1)
                                             : QString();
        items << new QTreeWidgetItem({QString::number(f.Connection), (j.Upload ? QStringLiteral("↑ ") : QStringLiteral("↓ ")) + name,
                                      progress, speed});
    }
    m_seen = std::move(seen);
    setUpdatesEnabled(false);
    clear();
    addTopLevelItems(items);
    setUpdatesEnabled(true);
    setVisible(!items.isEmpty());
}
