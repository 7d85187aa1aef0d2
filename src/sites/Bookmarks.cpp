#include "sites/Bookmarks.h"

std::vector<TBookmark> ReadBookmarks(const TIniFile& stats, const std::string& site)
{
    std::vector<TBookmark> out;
    for (int n = 1;; ++n) {
        const std::string value = stats.ReadString(site, "f" + std::to_string(n));
        if (value.empty())
            return out;
        const size_t colon = value.find(':');
        if (colon == std::string::npos)
            out.push_back({value, std::string()});
        else
            out.push_back({value.substr(0, colon), value.substr(colon + 1)});
    }
}

bool BookmarkNameFits(const std::string& name)
{
    return !name.empty() && name.find(':') == std::string::npos && name.find_first_of("\r\n") == std::string::npos;
}

void AppendBookmark(TIniFile& stats, const std::string& site, const TBookmark& bookmark)
{
    const size_t n = ReadBookmarks(stats, site).size() + 1;
    stats.WriteString(site, "f" + std::to_string(n), bookmark.Name + ":" + bookmark.Path);
}

void RewriteBookmarks(TIniFile& stats, const std::string& site, const std::vector<TBookmark>& bookmarks)
{
    TIniFile::Batch batch(stats);
    std::vector<std::pair<std::string, std::string>> keep;
    for (const char* key : {"BytesUp", "BytesDown", "FilesUp", "FilesDown"}) {
        const std::string v = stats.ReadString(site, key);
        if (!v.empty())
            keep.emplace_back(key, v);
    }
    for (const char* key : {"LastConnect", "ConnectCount"})
        keep.emplace_back(key, stats.ReadString(site, key));
    stats.EraseSection(site);
    for (const auto& [key, value] : keep)
        stats.WriteString(site, key, value);
    for (size_t i = 0; i < bookmarks.size(); ++i)
        stats.WriteString(site, "f" + std::to_string(i + 1), bookmarks[i].Name + ":" + bookmarks[i].Path);
}
