#include "console/UrlMatch.h"

#include <QStringList>

namespace {

// A "." somewhere from the second character after the prefix on.
bool dotAfter(const QString& w, int prefixLength)
{
    return w.indexOf(QLatin1Char('.'), prefixLength + 1) >= 0;
}

bool prefixed(const QString& w, const char* prefix, int minLength)
{
    const QLatin1String p(prefix);
    return w.startsWith(p) && w.size() >= minLength && dotAfter(w, p.size());
}

bool isEmail(QString w)
{
    if (w.startsWith(QLatin1String("mailto:")))
        w = w.mid(7);
    return w.size() >= 6 && w.indexOf(QLatin1Char('@')) > 0 && w.indexOf(QLatin1Char('.')) >= 3;
}

bool isDottedQuad(const QString& w)
{
    const QStringList parts = w.split(QLatin1Char('.'));
    if (parts.size() < 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        if (p.toInt() > 255)
            return false;
    }
    return true;
}

}  // namespace

bool IsConsoleAddress(const QString& w)
{
    if (w.size() < 6 || w.contains(QLatin1String("..")) || w.startsWith(QLatin1Char('.')) ||
        w.endsWith(QLatin1Char('.')))
        return false;
    static const QString forbidden = QStringLiteral(";*<>{}[]|\\()^!");
    for (QChar c : w)
        if (c.unicode() < 33 || c.unicode() > 126 || forbidden.contains(c))
            return false;
    return prefixed(w, "www.", 6) || prefixed(w, "news:", 8) || prefixed(w, "http://", 10) ||
           prefixed(w, "ftp://", 9) || isEmail(w) || isDottedQuad(w) || prefixed(w, "ftp.", 6);
}
