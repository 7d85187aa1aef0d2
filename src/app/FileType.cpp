#include "app/FileType.h"

#include "sites/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

enum class Written { Unchanged, Changed, Failed };

// Writes text unless the file holds it already: a start costs two reads.
Written writeIfChanged(const QString& path, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QFile f(path);
    if (f.open(QIODevice::ReadOnly) && f.readAll() == bytes)
        return Written::Unchanged;
    f.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::string error;
    return WriteFileAtomically(path.toStdString(), bytes.toStdString(), error) ? Written::Changed : Written::Failed;
}

// The program's path as one argument of a desktop entry's Exec key: quoted,
// with the characters special inside quotes escaped, then escaped again as a
// string value of the file format, and "%" doubled (field codes).
QString execArgument(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The desktop's caches are rebuilt in the background, when the tool exists;
// without it the files still take effect at the next rebuild by the system.
void rebuildCache(const char* tool, const QString& folder)
{
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (!path.isEmpty())
        QProcess::startDetached(path, {folder});
}

bool olderThan(const QString& cache, const QString& source)
{
    const QFileInfo c(cache);
    return !c.exists() || c.lastModified() < QFileInfo(source).lastModified();
}

}  // namespace

bool RegisterSiteQueueType(const QString& executable)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return false;
    const QString mimeFolder = base + QStringLiteral("/mime");
    const QString package = mimeFolder + QStringLiteral("/packages/corvyne-sitequeue.xml");
    const Written mime = writeIfChanged(
        package, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                                "  <mime-type type=\"application/x-corvyne-sitequeue\">\n"
                                "    <comment>Corvyne 站点队列</comment>\n"
                                "    <glob pattern=\"*.csq\"/>\n"
                                "  </mime-type>\n"
                                "</mime-info>\n"));
    const QString appFolder = base + QStringLiteral("/applications");
    const QString entry = appFolder + QStringLiteral("/corvyne.desktop");
    const Written desktop = writeIfChanged(
        entry, QStringLiteral("[Desktop Entry]\nType=Application\nName=Corvyne\n"
                              "Comment=FTP 客户端\nExec=%1 %f\n"
                              "MimeType=application/x-corvyne-sitequeue;\nCategories=Network;FileTransfer;\n")
                   .arg(execArgument(executable)));
    // A cache older than its source (also one never built) is rebuilt.
    if (mime == Written::Changed || olderThan(mimeFolder + QStringLiteral("/mime.cache"), package))
        rebuildCache("update-mime-database", mimeFolder);
    if (desktop == Written::Changed || olderThan(appFolder + QStringLiteral("/mimeinfo.cache"), entry))
        rebuildCache("update-desktop-database", appFolder);
    return mime != Written::Failed && desktop != Written::Failed;
}

bool CreateSiteLauncher(const QString& folder, const QString& name, const QString& executable, QString& path,
                        std::string& error, const QStringList& arguments)
{
    // The name as one file-name segment; the entry's own text keeps it whole.
    QString file = name;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (file.startsWith(QLatin1Char('.')))
        file.prepend(QLatin1Char('_'));
    path = QDir(folder).filePath(file + QStringLiteral(".desktop"));
    QString shown = name;
    shown.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString exec = execArgument(executable);
    for (const QString& argument : arguments.isEmpty() ? QStringList{name} : arguments)
        exec += QLatin1Char(' ') + execArgument(argument);
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + shown +
                         QStringLiteral("\nExec=") + exec + QStringLiteral("\nPath=") +
                         QFileInfo(executable).absolutePath() +
                         QStringLiteral("\nTerminal=false\nCategories=Network;FileTransfer;\n");
    if (!QDir().mkpath(folder) || !WriteFileAtomically(path.toStdString(), text.toStdString(), error))
        return false;
    // A launcher the desktop runs is executable; nobody else may change it.
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                         QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)) {
        error = "无法设置可执行: " + path.toStdString();
        return false;
    }
    return true;
}
