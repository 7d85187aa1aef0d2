#include "session/ListingCache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

TListingCache::~TListingCache()
{
    Clear();
}

QString TListingCache::Find(const std::string& directory) const
{
    for (const Entry& e : m_entries)
        if (e.directory == directory)
            return e.path;
    return {};
}

bool TListingCache::Begin(const std::string& directory)
{
    End();
    Drop(directory);
    QTemporaryFile tmp(QDir::tempPath() + QStringLiteral("/ftpXXXXXX"));
    tmp.setAutoRemove(false);
    if (!tmp.open())
        return false;
    const QString path = tmp.fileName();
    tmp.close();
    m_open = std::make_unique<QFile>(path);
    if (!m_open->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_open.reset();
        QFile::remove(path);
        return false;
    }
    m_entries.push_back({directory, path});
    m_openDirectory = directory;
    m_failed = false;
    return true;
}

void TListingCache::WriteLine(std::string_view line)
{
    if (!m_open)
        return;
    m_pending.append(line).push_back('\n');
    if (m_pending.size() >= 64 * 1024)
        flush();
}

void TListingCache::flush()
{
    if (!m_pending.empty() && !m_failed &&
        m_open->write(m_pending.data(), static_cast<qint64>(m_pending.size())) != static_cast<qint64>(m_pending.size()))
        m_failed = true;
    m_pending.clear();
}

void TListingCache::End(bool mlsd)
{
    if (!m_open)
        return;
    flush();
    m_open->close();
    m_open.reset();
    if (m_failed)
        Drop(m_openDirectory);
    m_failed = false;
    for (Entry& e : m_entries)
        if (e.directory == m_openDirectory)
            e.mlsd = mlsd;
}

void TListingCache::Drop(const std::string& directory)
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->directory == directory) {
            if (m_open && m_open->fileName() == it->path) {
                m_open.reset();
                m_pending.clear();
            }
            QFile::remove(it->path);
            m_entries.erase(it);
            return;
        }
    }
}

void TListingCache::Clear()
{
    m_open.reset();
    m_pending.clear();
    for (const Entry& e : m_entries)
        QFile::remove(e.path);
    m_entries.clear();
}

bool TListingCache::Read(const std::string& directory, TListingLines& lines) const
{
    lines.clear();
    const QString path = Find(directory);
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = f.readAll();
    for (const Entry& e : m_entries)
        if (e.directory == directory)
            lines.Mlsd = e.mlsd;
    lines.reserve(static_cast<size_t>(all.size()), 0);
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype nl = all.indexOf('\n', start);
        if (nl < 0)
            nl = all.size();
        lines.push_back(std::string_view(all.constData() + start, static_cast<size_t>(nl - start)));
        start = nl + 1;
    }
    return true;
}
