#pragma once
// The remote listing cache: the raw listing lines of each directory visited
// in a session, kept in temporary files ("ftp" prefix) so that showing the
// directory again costs no round trip. Deleted when the session ends.

#include "ftp/ListingLines.h"

#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QFile;

class TListingCache {
public:
    TListingCache() = default;
    ~TListingCache();
    TListingCache(const TListingCache&) = delete;
    TListingCache& operator=(const TListingCache&) = delete;

    // The cache file of a directory (with its trailing "/"); empty when none.
    QString Find(const std::string& directory) const;
    // Starts a cache file for a directory and opens it for the lines.
    bool Begin(const std::string& directory);
    void WriteLine(std::string_view line);
    // Closes the open file; mlsd: its lines answer "MLSD". A file that could
    // not be written whole (a full disk) is dropped: the directory is listed
    // from the server next time.
    void End(bool mlsd = false);
    bool Writing() const { return m_open != nullptr; }
    void Drop(const std::string& directory);
    void Clear();  // deletes every file
    size_t Count() const { return m_entries.size(); }
    // The lines of a cached directory; false when its file has gone.
    bool Read(const std::string& directory, TListingLines& lines) const;

private:
    struct Entry {
        std::string directory;
        QString path;
        bool mlsd = false;
    };
    void flush();
    std::vector<Entry> m_entries;
    std::unique_ptr<QFile> m_open;
    std::string m_openDirectory;
    std::string m_pending;  // lines not yet written: one write per 64 KiB, not one per line
    bool m_failed = false;  // a write of the open file fell short
};
