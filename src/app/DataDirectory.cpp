#include "app/DataDirectory.h"

#include "sites/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

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
    QStringList quoted;  // the parts of an open quoted argument
    for (const QString& p : parameters.mid(1)) {
        if (isSwitch(p))
            continue;
        if (!p.contains(QLatin1Char('"'))) {
            (quoted.isEmpty() ? out : quoted) << p;
            continue;
        }
        quoted << p;
        if (quoted.size() > 1 || p.count(QLatin1Char('"')) % 2 == 0) {
            out << quoted.join(QLatin1Char(' ')).remove(QLatin1Char('"'));
            quoted.clear();
        }
    }
    if (!quoted.isEmpty())
        out << quoted.join(QLatin1Char(' ')).remove(QLatin1Char('"'));
    return out;
}

TCommandLineKind ClassifyCommandLine(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return TCommandLineKind::None;
    const QString& first = arguments.front();
    if (arguments.size() == 1 && QFileInfo(first).isFile()) {
        TIniFile file(first.toStdString());
        if (file.Load() && !file.ReadString("HOSTINFO", "HOST").empty())
            return TCommandLineKind::SiteQueueFile;
    }
    if (first.contains(QLatin1Char('=')))
        return TCommandLineKind::Keywords;
    if (first.startsWith(QLatin1Char('+')))
        return TCommandLineKind::Script;
    // Local paths as a shell gives them; a server text never starts so.
    for (const char* prefix : {"/", "./", "../", "~/"})
        if (first.startsWith(QLatin1String(prefix)))
            return TCommandLineKind::LocalFiles;
    return TCommandLineKind::Host;
}

QString ResolveDataDirectory(QStringList& arguments, QString& error)
{
    error.clear();
    QString chosen;
    bool first = true;
    for (qsizetype i = 0; i < arguments.size();) {
        const QString a = arguments[i];
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq < 0 || a.left(eq).compare(QLatin1String("DATA"), Qt::CaseInsensitive) != 0) {
            ++i;
            continue;
        }
        // Taken out, so that the rest reads as if it had never been there.
        arguments.removeAt(i);
        if (!first)
            continue;  // only the first DATA= counts
        first = false;
        QString dir = a.mid(eq + 1);
        if (dir.startsWith(QLatin1String("~/")))
            dir = QDir::homePath() + dir.mid(1);
        if (QFileInfo(dir).isDir())
            chosen = QDir(dir).absolutePath() + QLatin1Char('/');
        else
            error = QStringLiteral("无效数据路径 \"%1\" 被指定在命令行.").arg(dir);
    }
    if (!chosen.isEmpty())
        return chosen;
    const QString base = DefaultDataDirectory();
    QDir().mkpath(base);
    return base;
}

QString DefaultDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/corvyne/");
}

QStringList DataDirectoryArguments(const QString& dataDir)
{
    if (QDir(dataDir).absolutePath() == QDir(DefaultDataDirectory()).absolutePath())
        return {};
    return {QStringLiteral("DATA=") + dataDir};
}

QString EnsureHomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
            ::setenv("HOME", pw->pw_dir, 1);
    }
    return QFile::decodeName(qgetenv("HOME"));
}

bool RunsWithoutUser(const QStringList& arguments)
{
    for (const QString& a : arguments) {
        if (a.startsWith(QLatin1Char('+')) || a.startsWith(QLatin1String("SCRIPT="), Qt::CaseInsensitive) ||
            a.compare(QLatin1String("QUIT=YES"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
