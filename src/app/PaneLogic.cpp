#include "app/PaneLogic.h"

#include "ftp/Parser.h"

#include <QCollator>
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

QString PaneSizeText(int64_t size)
{
    // "1,234,567": written by hand, one per row of a listing.
    char text[32];
    char* p = text + sizeof text;
    const bool negative = size < 0;
    uint64_t v = negative ? 0 - static_cast<uint64_t>(size) : static_cast<uint64_t>(size);
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0)
            *--p = ',';
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
        ++digits;
    } while (v != 0);
    if (negative)
        *--p = '-';
    return QString::fromLatin1(p, text + sizeof text - p);
}

int64_t PaneSizeValue(const QString& text)
{
    // The digits only: thousands separators are skipped.
    uint64_t value = 0;
    for (QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            value = value * 10 + static_cast<uint64_t>(c.unicode() - '0');
    return static_cast<int64_t>(value);
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

bool MaskMatch(const QString& name, const QString& mask, Qt::CaseSensitivity cs)
{
    // The usual filter, every name: checked once per row, so by hand (a
    // string comparison call costs more than the rest of a row's rules).
    const auto star = QLatin1Char('*');
    if ((mask.size() == 1 && mask[0] == star) ||
        (mask.size() == 3 && mask[0] == star && mask[1] == QLatin1Char('.') && mask[2] == star))
        return true;
    const QString& m = mask;
    // Iterative wildcard match with one back-track point.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    auto setMatch = [&](qsizetype pos, QChar c, qsizetype& end) {
        // pos at '['; returns whether c is in the set; end after ']'.
        qsizetype i = pos + 1;
        bool negate = i < m.size() && (m[i] == QLatin1Char('!') || m[i] == QLatin1Char('^'));
        if (negate)
            ++i;
        bool found = false;
        const auto fold = [cs](QChar ch) { return cs == Qt::CaseInsensitive ? ch.toLower() : ch; };
        const QChar lc = fold(c);
        for (; i < m.size() && m[i] != QLatin1Char(']'); ++i) {
            if (i + 2 < m.size() && m[i + 1] == QLatin1Char('-') && m[i + 2] != QLatin1Char(']')) {
                found = found || (lc >= fold(m[i]) && lc <= fold(m[i + 2]));
                i += 2;
            } else {
                found = found || lc == fold(m[i]);
            }
        }
        end = i < m.size() ? i + 1 : -1;
        return found != negate;
    };
    while (n < name.size()) {
        if (p < m.size() && m[p] == QLatin1Char('*')) {
            starP = p++;
            starN = n;
            continue;
        }
        if (p < m.size()) {
            if (m[p] == QLatin1Char('[')) {
                qsizetype end = -1;
                if (setMatch(p, name[n], end) && end >= 0) {
                    p = end;
                    ++n;
                    continue;
                }
            } else if (m[p] == QLatin1Char('?') || m[p] == name[n] ||
                       (cs == Qt::CaseInsensitive && m[p].toLower() == name[n].toLower())) {
                ++p;
                ++n;
                continue;
            }
        }
        if (starP < 0)
            return false;
        p = starP + 1;
        n = ++starN;
    }
    while (p < m.size() && m[p] == QLatin1Char('*'))
        ++p;
    return p == m.size();
}

QStringList RemotePathItems(const QString& directory)
{
    QStringList items{directory};
    for (qsizetype i = directory.size() - 2; i >= 0; --i)
        if (directory[i] == QLatin1Char('/') || directory[i] == QLatin1Char('\\'))
            items << directory.left(i + 1);
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
