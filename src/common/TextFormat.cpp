#include "common/TextFormat.h"

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
