#include "widgets/verslab.h"

#include "widgets/VersionInfo.h"

#include <QCoreApplication>
#include <QFile>

#include <map>

namespace {

struct ResourceInfo {
    const char* key;
    const char* prefix;
};

const ResourceInfo resources[] = {
    {"CompanyName", "公司名:"},  {"FileDescription", "文件描述:"}, {"FileVersion", "文件版本:"},
    {"InternalName", "内部名:"}, {"LegalCopyright", "法律版权:"},  {"OriginalFilename", "原始文件名:"},
    {"ProductName", "产品名:"},  {"ProductVersion", "产品版本:"},  {"Comments", "说明:"},
    {"Flags", "标志:"},
};

// The version block of a file: its entries, or nothing when it has none.
// Returns false when the file cannot be read.
bool readBlock(const QString& path, std::map<QByteArray, QByteArray>& entries, bool& found)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.readAll();
    const QByteArray marker(VersionInfoMarker, sizeof VersionInfoMarker);  // with its NUL
    found = false;
    // The marker also stands in the reader's own code as a string: the block
    // is the occurrence followed by entries.
    for (qsizetype at = data.indexOf(marker); at >= 0; at = data.indexOf(marker, at + 1)) {
        qsizetype pos = at + marker.size();
        std::map<QByteArray, QByteArray> candidate;
        while (pos < data.size()) {
            const qsizetype end = data.indexOf('\0', pos);
            if (end < 0)
                break;
            const QByteArray entry = data.mid(pos, end - pos);
            pos = end + 1;
            if (entry.isEmpty())
                break;
            const qsizetype eq = entry.indexOf('=');
            if (eq <= 0) {
                candidate.clear();
                break;
            }
            candidate[entry.left(eq)] = entry.mid(eq + 1);
        }
        if (candidate.count("Translation")) {
            entries = std::move(candidate);
            found = true;
            return true;
        }
    }
    return true;
}

}  // namespace

TVersionLabel::TVersionLabel(QWidget* parent) : QLabel(parent)
{
    setWordWrap(false);
    m_key = KeyOf(m_resource);
    m_prefix = DefaultPrefixOf(m_resource);
    Rebuild();
}

QString TVersionLabel::KeyOf(TVersionResources r)
{
    return QString::fromLatin1(resources[r].key);
}

QString TVersionLabel::DefaultPrefixOf(TVersionResources r)
{
    return QString::fromUtf8(resources[r].prefix);
}

void TVersionLabel::SetVersionResource(TVersionResources r)
{
    m_resource = r;
    SetVersionResourceKey(KeyOf(r));
    SetInfoPrefix(DefaultPrefixOf(r));
}

void TVersionLabel::SetVersionResourceKey(const QString& key)
{
    if (key == m_key)
        return;
    m_key = key;
    SetInfoPrefix(key);
}

void TVersionLabel::SetInfoPrefix(const QString& prefix)
{
    if (prefix == m_prefix)
        return;
    m_prefix = prefix;
    Rebuild();
}

void TVersionLabel::SetShowInfoPrefix(bool on)
{
    if (on == m_showPrefix)
        return;
    m_showPrefix = on;
    Rebuild();
}

void TVersionLabel::SetLangCharset(const QString& lang)
{
    if (lang == m_langCharset)
        return;
    m_langCharset = lang;
    Rebuild();
}

void TVersionLabel::SetFilename(const QString& file)
{
    m_filename = file;
    Rebuild();
}

QString TVersionLabel::ReadValue()
{
    const QString path = m_filename.isEmpty() ? QCoreApplication::applicationFilePath() : m_filename;
    std::map<QByteArray, QByteArray> entries;
    bool found = false;
    if (!readBlock(path, entries, found))
        return QStringLiteral("< 检索版本信息错误 >");
    if (!found)
        return QStringLiteral("< 没有可用数据 >");
    if (m_resource == vrFlags) {
        auto it = entries.find("FileFlags");
        bool ok = false;
        const int flags = it == entries.end() ? 0 : it->second.toInt(&ok);
        if (!ok)
            return QStringLiteral("< 检索修改版本信息错误 >");
        static const char* const names[] = {"Debug Build",   "Pre-Release Build", "Patched Build",
                                            "Private Build", "InfoInferred",      "Special Build"};
        QString text;
        for (int bit = 0; bit < 6; ++bit)
            if (flags & (1 << bit))
                text += QStringLiteral(", ") + QString::fromLatin1(names[bit]);
        return text.mid(text.startsWith(QStringLiteral(", ")) ? 2 : 0);
    }
    if (m_langCharset == QStringLiteral("-1")) {
        const QByteArray translation = entries["Translation"];
        if (translation.size() < 8)
            return QStringLiteral("< 检索翻译信息错误>");
        m_langCharset = QString::fromLatin1(translation.left(8)).toUpper();  // looked up once
    }
    auto it = entries.find(m_langCharset.toLatin1() + "\\" + m_key.toLatin1());
    if (it == entries.end())
        return QStringLiteral("< 检索字串版本信息错误 >");
    if (it->second.isEmpty())
        return QStringLiteral("< 没有版本信息 >");
    return QString::fromUtf8(it->second);
}

void TVersionLabel::Rebuild()
{
    const QString value = ReadValue().trimmed();
    m_info = m_showPrefix ? m_prefix + QLatin1Char(' ') + value : value;
    setText(m_info);
    adjustSize();
}
