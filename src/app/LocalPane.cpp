#include "app/LocalPane.h"

#include "common/TextFormat.h"
#include "session/Connection.h"
#include "sites/Settings.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>

#include <map>

namespace {
QString folderPath(const QString& dir)
{
    QString path = QDir(dir).absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// The dropped-down path box: each level 8 pixels further in.
class TPathLevelDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o = option;
        const QString item = index.data(Qt::UserRole).toString();
        o.rect.adjust(8 * std::max(0, item.section(QLatin1Char(':'), 0, 0).toInt() - 1), 0, 0, 0);
        QStyledItemDelegate::paint(painter, o, index);
    }
};

QString itemPath(const QString& item)
{
    return item.mid(item.indexOf(QLatin1Char(':')) + 1);
}
}  // namespace

TLocalPane::TLocalPane(TWindowParts& parts, QObject* parent)
    : TFilePane(parts, QStringLiteral("Local"), {QStringLiteral("文件名"), QStringLiteral("大小"), QStringLiteral("日期")},
                12, parent)
{
    PathBox()->setObjectName(QStringLiteral("LocalPathBox"));
    PathBox()->setItemDelegate(new TPathLevelDelegate(PathBox()));
    connect(PathBox(), &QComboBox::activated, this, [this](int index) {
        const QString path = itemPath(PathBox()->itemData(index).toString());
        if (QFileInfo(path).isDir()) {
            SetDirectory(path);
            View()->setFocus();
        } else {
            m_parts.Prompt().ShowMessage(MessageKind::Error, "无法存取 " + path.toStdString() + " .");
            rebuildPathBox();
        }
    });
    // A run moves this pane itself: no choosing another folder meanwhile.
    connect(parts.workflow, &TConnectionWorkflow::StateChanged, this,
            [this] { PathBox()->setEnabled(!transferring()); });
    // A site's own local folder and filter when it is connected to.
    connect(parts.workflow, &TConnectionWorkflow::SitePanesChosen, this,
            [this](const std::string& dir, const std::string& filter, const std::string&) { ApplySite(dir, filter); });
    // Drop target for files from other programs: what they do is the queue's.
    View()->SetAcceptFiles(true);
}

bool TLocalPane::transferring() const
{
    return IsTransferring(m_parts.workflow->State());
}

bool TLocalPane::autoSize() const
{
    return m_parts.settings->LocalAutoSize;
}

void TLocalPane::SetDirectory(const QString& dir)
{
    m_dir = folderPath(dir);
    List();
}

void TLocalPane::List()
{
    if (!QFileInfo(m_dir).isDir()) {
        // Gone: the start folder of the settings, else the home folder.
        const QString path = QString::fromStdString(m_parts.settings->Path);
        m_dir = folderPath(!path.isEmpty() && QFileInfo(path).isDir() ? path : QDir::homePath());
    }
    TCorvListView* view = View();
    view->BeginUpdate();
    view->Clear();
    const bool moving = transferring();
    // No way up while a run moves this pane itself, nor above the root.
    const bool parentWanted = !moving && m_dir != QLatin1String("/");
    const bool parentListed = addRows(parentWanted);
    if (m_parts.settings->ForceParent && !parentListed && parentWanted)
        view->AddRow(rkParent, {QStringLiteral(".."), QString(), QString()});
    view->SortNow();
    if (autoSize() && view->isVisible())
        FitColumns();
    view->EndUpdate();
    rebuildPathBox();
    ShowSummary();
    Q_EMIT Listed(!moving);
}

bool TLocalPane::addRows(bool parentWanted)
{
    const QFileInfoList entries =
        QDir(m_dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDot, QDir::NoSort);
    bool parentListed = false;
    for (const QFileInfo& fi : entries) {
        const QString name = fi.fileName();
        if (name == QLatin1String("..")) {
            if (parentWanted)
                View()->AddRow(rkParent, {name, QString(), QString()});
            parentListed = parentListed || parentWanted;
            continue;
        }
        const bool isDir = fi.isDir();
        if (!(MaskMatch(name, Filter()) || (isDir && !m_parts.switches.filterFolders)))
            continue;
        const QDateTime modified = fi.lastModified();
        const TListingDate date =
            modified.isValid() ? TListingDate::Of(modified.date(), modified.time()) : TListingDate();
        View()->AddEntry(isDir ? rkFolder : rkFile, name, isDir ? -1 : fi.size(), date);
    }
    return parentListed;
}

void TLocalPane::ApplySite(const std::string& dir, const std::string& filter)
{
    SetFilter(QString::fromStdString(filter.empty() ? "*.*" : filter));
    const QString path = QString::fromStdString(dir);
    if (!path.isEmpty() && QFileInfo(path).isDir())
        SetDirectory(path);
    else
        List();
}

void TLocalPane::rebuildPathBox()
{
    QStringList roots;
    std::map<QString, qint64> freeBytes;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady())
            continue;
        QString root = v.rootPath();
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (!roots.contains(root)) {
            roots << root;
            freeBytes[root] = v.bytesFree();
        }
    }
    std::sort(roots.begin(), roots.end());
    QComboBox* box = PathBox();
    box->clear();
    for (const QString& item : LocalPathItems(m_dir, roots)) {
        const QString path = itemPath(item);
        QString text = path;
        if (item.startsWith(QLatin1String("1:")) && freeBytes.count(path))
            text += QStringLiteral("   [%1 Mb free]").arg(freeBytes[path] / 1048576.0, 0, 'f', 2);
        box->addItem(text, item);
    }
    // The current directory is the last item of its volume: an open folder.
    int current = -1;
    for (int i = 0; i < box->count(); ++i)
        if (itemPath(box->itemData(i).toString()) == m_dir)
            current = i;
    QStyle* style = box->style();
    for (int i = 0; i < box->count(); ++i) {
        const bool root = box->itemData(i).toString().startsWith(QLatin1String("1:"));
        box->setItemIcon(i, style->standardIcon(i == current ? QStyle::SP_DirOpenIcon
                                                : root       ? QStyle::SP_DriveHDIcon
                                                             : QStyle::SP_DirClosedIcon));
    }
    box->setCurrentIndex(current);
}

void TLocalPane::openRow(int row)
{
    if (transferring())
        return;
    const int kind = View()->Kind(row);
    const QString name = View()->Text(row, 0);
    if (kind == rkParent) {
        QDir d(m_dir);
        if (d.cdUp())
            SetDirectory(d.absolutePath());
    } else if (kind == rkFolder || (kind == rkLink && QFileInfo(m_dir + name).isDir())) {
        SetDirectory(m_dir + name);
    } else {
        Q_EMIT FileOpened();
    }
}

void TLocalPane::Up()
{
    QDir d(m_dir);
    if (m_dir != QLatin1String("/") && d.cdUp())
        SetDirectory(d.absolutePath());
}

void TLocalPane::Parent()
{
    if (!transferring())
        Up();
}

void TLocalPane::AskChangeDirectory()
{
    if (transferring())
        return;
    std::string dir = m_dir.toStdString();
    if (!m_parts.Prompt().AskText("更改目录", "输入新的目录", dir))
        return;
    const QString path = QString::fromStdString(dir);
    if (QFileInfo(path).isDir() && QDir(path).absolutePath() + "/" != m_dir)
        SetDirectory(path);
}
