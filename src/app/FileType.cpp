#include "app/FileType.h"

#include "sites/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
bool writeOnce(const QString& path, const QString& text)
{
    if (QFileInfo::exists(path))
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::string error;
    return WriteFileAtomically(path.toStdString(), text.toStdString(), error);
}
}  // namespace

bool RegisterSiteQueueType(const QString& executable)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return false;
    const bool mime =
        writeOnce(base + QStringLiteral("/mime/packages/corvyne-sitequeue.xml"),
                  QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                                 "  <mime-type type=\"application/x-corvyne-sitequeue\">\n"
                                 "    <comment>Corvyne 站点队列</comment>\n"
                                 "    <glob pattern=\"*.csq\"/>\n"
                                 "  </mime-type>\n"
                                 "</mime-info>\n"));
    const bool desktop =
        writeOnce(base + QStringLiteral("/applications/corvyne.desktop"),
                  QStringLiteral("[Desktop Entry]\nType=Application\nName=Corvyne\n"
                                 "Comment=FTP 客户端\nExec=\"%1\" %f\n"
                                 "MimeType=application/x-corvyne-sitequeue;\nCategories=Network;FileTransfer;\n")
                      .arg(executable));
    return mime && desktop;
}
