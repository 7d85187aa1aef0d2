#include "panes/PaneLogic.h"

#include "ftp/Parser.h"

#include <QCollator>
#include <QStringDecoder>
#include <QLocale>

QString PaneDateText(const TListingDate& date)
{
    if (date.Kind == TListingDate::None)
        return {};
    // The system locale read once: a listing formats a date per visible row.
    static const QLocale locale = QLocale::system();
    const QDateTime value = date.Value();
    const QString day = locale.toString(value.date(), QLocale::ShortFormat);
    if (date.Kind != TListingDate::DayTime)
        return day;
    return day + QLatin1Char(' ') + locale.toString(value.time(), QLocale::ShortFormat);
}

TPaneSortKey PaneSortKey(const TPaneRow& row, int column, bool targetColumn)
{
    static thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    // In the C locale a collator's key is the text's bytes, case and all:
    // the folded text gives the order without case there.
    static thread_local const bool plainBytes = collator.locale().language() == QLocale::C;
    const bool byName = column < 0 || column == 0 || column == 3 || targetColumn;
    static const QString none;
    const QString& name = byName ? row.name : none;
    return TPaneSortKey{row.kind, collator.sortKey(plainBytes ? name.toCaseFolded() : name), row.size, row.date};
}

TPaneSortKey PaneSortKey(const TPaneRow& row)
{
    return PaneSortKey(row, -1, false);
}

bool PaneKeyLess(const TPaneSortKey& a, const TPaneSortKey& b, int column, bool ascending, bool mixed,
                 bool targetColumn)
{
    // The parent entry is always first, whatever the column and direction.
    if ((a.kind == rkParent) != (b.kind == rkParent))
        return a.kind == rkParent;
    if (!mixed && a.kind != b.kind)
        return a.kind < b.kind;
    if (column == 0 || column == 3 || targetColumn) {
        const int c = a.name.compare(b.name);
        return ascending ? c < 0 : c > 0;
    }
    if (column == 1) {
        if (mixed && (a.size < 0) != (b.size < 0))
            return a.size < 0;  // rows without a size first
        if (a.size != b.size)
            return ascending ? a.size < b.size : a.size > b.size;
        return false;
    }
    // Dates: the first click shows the newest first; no date is last.
    const bool aDated = a.date.Kind != TListingDate::None, bDated = b.date.Kind != TListingDate::None;
    if (aDated != bDated)
        return aDated;
    if (aDated && a.date.Msecs != b.date.Msecs)
        return ascending ? a.date.Msecs > b.date.Msecs : a.date.Msecs < b.date.Msecs;
    return false;
}

bool PaneRowLess(const TPaneRow& a, const TPaneRow& b, int column, bool ascending, bool mixed, bool targetColumn)
{
    return PaneKeyLess(PaneSortKey(a), PaneSortKey(b), column, ascending, mixed, targetColumn);
}

namespace {
QString counted(const QString& number, int n, const QString& word)
{
    return number + (n != 1 ? QStringLiteral(" ") : QString()) + word;
}
}  // namespace

QString PaneSummary(int folders, int files, int64_t bytes, const QString& filter)
{
    return counted(QString::number(folders), folders, QStringLiteral(" 文件夹")) + QStringLiteral(", ") +
           counted(QString::number(files), files, QStringLiteral(" 文件")) + QStringLiteral(", ") +
           counted(PaneSizeText(bytes), static_cast<int>(bytes == 1 ? 1 : 2), QStringLiteral(" 字节")) +
           QStringLiteral(" 已列表 [") + filter + QStringLiteral("]");
}

QString SelectionSummary(int folders, int others, int64_t bytes, bool firstIsParent)
{
    if (firstIsParent)
        return QStringLiteral("转到上级目录");
    QString text;
    if (folders > 0)
        text += counted(QString::number(folders), folders, QStringLiteral(" 文件夹"));
    if (others > 0) {
        if (folders > 0)
            text += QStringLiteral(", ");
        text += counted(QString::number(others), others, QStringLiteral(" 文件"));
    }
    return text + QStringLiteral(" 已选定 [") + PaneSizeText(bytes) + QStringLiteral(" 字节]");
}

std::vector<std::string> RemotePathPrefixes(const std::string& directory)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)utf8.decode(QByteArrayView(directory.data(), static_cast<qsizetype>(directory.size())));
    const bool backslashSeparates = !utf8.hasError();
    std::vector<std::string> items{directory};
    for (size_t i = directory.size() >= 2 ? directory.size() - 1 : 0; i-- > 0;)
        if (directory[i] == '/' || (backslashSeparates && directory[i] == '\\'))
            items.push_back(directory.substr(0, i + 1));
    return items;
}

QStringList LocalPathItems(const QString& directory, const QStringList& volumeRoots)
{
    // The volume holding the directory: the longest root that is its prefix.
    QString current;
    for (const QString& root : volumeRoots)
        if (directory.startsWith(root) && root.size() > current.size())
            current = root;
    QStringList items;
    for (const QString& root : volumeRoots) {
        items << QStringLiteral("1:") + root;
        if (root != current)
            continue;
        int level = 2;
        for (qsizetype i = root.size(); i < directory.size(); ++i)
            if (directory[i] == QLatin1Char('/'))
                items << QString::number(level++) + QLatin1Char(':') + directory.left(i + 1);
    }
    return items;
}

TCommandMenuState CommandMenuState(bool remotePane, bool idle, bool folderSelected, bool firstSelectedIsFile)
{
    TCommandMenuState m;
    m.transferCaption = remotePane ? QStringLiteral("下载") : QStringLiteral("上传");
    m.transfer = idle;
    const bool may = !remotePane || idle;
    m.view = m.remove = m.rename = m.move = may;
    m.edit = !folderSelected && may;
    m.executeVisible = !remotePane;
    m.execute = !remotePane && !folderSelected;
    m.permissionsVisible = remotePane;
    m.permissions = remotePane && idle;
    m.copyAddressVisible = remotePane && firstSelectedIsFile;
    return m;
}

bool PaneAcceptsDrag(bool remotePane, int sourceTag, int targetKind, bool targetSelected, bool idle, bool transferring)
{
    constexpr int localTag = 12, remoteTag = 14;
    if (remotePane ? !idle : transferring)
        return false;
    const int self = remotePane ? remoteTag : localTag;
    const int other = remotePane ? localTag : remoteTag;
    if (sourceTag == other)
        return true;
    return sourceTag == self && targetKind == rkFolder && !targetSelected;
}
