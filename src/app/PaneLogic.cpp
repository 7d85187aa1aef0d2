#include "app/PaneLogic.h"

#include <QCollator>
#include <QLocale>
#include <QRegularExpression>

QString PaneDateText(const QDateTime& dt)
{
    return QLocale::c().toString(dt, QStringLiteral("MM/dd/yy hh:mm AP"));
}

std::optional<QDateTime> ParsePaneDate(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d\\d)/(\\d\\d)/(\\d\\d) (\\d\\d):(\\d\\d) (AM|PM)$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int yy = m.captured(3).toInt();
    int hour = m.captured(4).toInt() % 12;
    if (m.captured(6) == QLatin1String("PM"))
        hour += 12;
    // Plain fields (UTC-tagged): comparing local times would consult the
    // time zone for every row.
    const QDateTime dt(QDate(yy < 70 ? 2000 + yy : 1900 + yy, m.captured(1).toInt(), m.captured(2).toInt()),
                       QTime(hour, m.captured(5).toInt()), Qt::UTC);
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

QString PaneSizeText(int64_t size)
{
    static const QLocale english(QLocale::English);
    return english.toString(static_cast<qlonglong>(size));
}

int64_t PaneSizeValue(const QString& text)
{
    QString digits;
    for (QChar c : text)
        if (c.isDigit())
            digits += c;
    return digits.toLongLong();
}

TPaneSortKey PaneSortKey(const TPaneRow& row)
{
    static thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return TPaneSortKey{row.kind, collator.sortKey(row.name), row.size, PaneSizeValue(row.size),
                        row.date, ParsePaneDate(row.date)};
}

bool PaneKeyLess(const TPaneSortKey& a, const TPaneSortKey& b, int column, bool ascending, bool mixed,
                 bool targetColumn)
{
    // The parent entry is always first, whatever the column and direction.
    if ((a.kind == rkParent) != (b.kind == rkParent))
        return a.kind == rkParent;
    const bool byKind = !mixed && a.kind != b.kind;
    if (column == 0 || column == 3 || targetColumn) {
        if (byKind)
            return a.kind < b.kind;
        const int c = a.name.compare(b.name);
        return ascending ? c < 0 : c > 0;
    }
    if (column == 1) {
        if (byKind)
            return a.kind < b.kind;
        if (mixed && a.sizeText.isEmpty() != b.sizeText.isEmpty())
            return a.sizeText.isEmpty();
        if (a.size != b.size)
            return ascending ? a.size < b.size : a.size > b.size;
        return false;
    }
    // Dates: the first click shows the newest first.
    if (byKind)
        return a.kind < b.kind;
    if (mixed && a.dateText.isEmpty() != b.dateText.isEmpty())
        return a.dateText.isEmpty();
    if (a.date && b.date && *a.date != *b.date)
        return ascending ? *a.date > *b.date : *a.date < *b.date;
    const int c = QString::compare(a.dateText, b.dateText, Qt::CaseInsensitive);
    return ascending ? c < 0 : c > 0;
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

bool MaskMatch(const QString& name, const QString& mask)
{
    if (mask == QLatin1String("*.*") || mask == QLatin1String("*"))
        return true;  // the usual filter: every name, checked once per row
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
        const QChar lc = c.toLower();
        for (; i < m.size() && m[i] != QLatin1Char(']'); ++i) {
            if (i + 2 < m.size() && m[i + 1] == QLatin1Char('-') && m[i + 2] != QLatin1Char(']')) {
                found = found || (lc >= m[i].toLower() && lc <= m[i + 2].toLower());
                i += 2;
            } else {
                found = found || lc == m[i].toLower();
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
            } else if (m[p] == QLatin1Char('?') || m[p].toLower() == name[n].toLower()) {
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
