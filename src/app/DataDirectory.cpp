#include "app/DataDirectory.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QStringList switchNames = {QStringLiteral("nosplash")};

bool isSwitch(const QString& p)
{
    QString name = p;
    if (name.startsWith(QLatin1String("--")))
        name = name.mid(2);
    else if (name.startsWith(QLatin1Char('/')))
        name = name.mid(1);
    else
        return false;
    return switchNames.contains(name, Qt::CaseInsensitive);
}
}  // namespace

QStringList CollectArguments(const QStringList& parameters)
{
    QStringList out;
    for (const QString& p : parameters.mid(1))
        if (!isSwitch(p))
            out << p;
    return out;
}

QString ResolveDataDirectory(const QStringList& arguments, QString& error)
{
    error.clear();
    for (const QString& a : arguments) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq < 0 || a.left(eq).compare(QLatin1String("DATA"), Qt::CaseInsensitive) != 0)
            continue;
        QString dir = a.mid(eq + 1);
        if (dir.startsWith(QLatin1String("~/")))
            dir = QDir::homePath() + dir.mid(1);
        if (QFileInfo(dir).isDir())
            return QDir(dir).absolutePath() + QLatin1Char('/');
        error = QStringLiteral("无效数据路径 \"%1\" 被指定在命令行.").arg(dir);
        break;  // only the first DATA= counts
    }
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/corvyne";
    QDir().mkpath(base);
    return base + QLatin1Char('/');
}
