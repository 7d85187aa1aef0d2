#include "widgets/FailedView.h"

#include "session/QueueRun.h"

#include <QHeaderView>
#include <QMenu>

TFailedView::TFailedView(TQueueRun& run, QWidget* parent) : QTreeWidget(parent), m_run(run)
{
    setObjectName(QStringLiteral("FailedList"));
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("失败的项目"), QStringLiteral("原因")});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setStretchLastSection(true);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        const bool selected = !selectedItems().isEmpty();
        menu.addAction(QStringLiteral("重试所选项目(&R)"), this, [this] { RetrySelected(); })->setEnabled(selected);
        menu.addAction(QStringLiteral("全部重试(&A)"), this, [this] { RetryAll(); });
        menu.addSeparator();
        menu.addAction(QStringLiteral("清除所选项目(&D)"), this, [this] { ClearSelected(); })->setEnabled(selected);
        menu.addAction(QStringLiteral("全部清除(&C)"), this, [this] { ClearAll(); });
        menu.exec(viewport()->mapToGlobal(at));
    });
    m_run.OnFailuresChanged = [this] { Refresh(); };
    Refresh();
}

void TFailedView::Refresh()
{
    clear();
    QList<QTreeWidgetItem*> items;
    for (const TFailedEntry& f : m_run.FailedEntries())
        items << new QTreeWidgetItem({QString::fromStdString(f.Entry.Source), QString::fromStdString(f.Reason)});
    addTopLevelItems(items);
    setVisible(!items.isEmpty());
}

std::vector<size_t> TFailedView::selectedRows() const
{
    std::vector<size_t> rows;
    for (QTreeWidgetItem* item : selectedItems())
        rows.push_back(static_cast<size_t>(indexOfTopLevelItem(item)));
    return rows;
}

void TFailedView::RetrySelected()
{
    const std::vector<size_t> rows = selectedRows();
    if (!rows.empty())
        m_run.RetryFailed(rows);
}

void TFailedView::RetryAll()
{
    m_run.RetryFailed({});
}

void TFailedView::ClearSelected()
{
    const std::vector<size_t> rows = selectedRows();
    if (!rows.empty())
        m_run.ClearFailed(rows);
}

void TFailedView::ClearAll()
{
    m_run.ClearFailed({});
}
