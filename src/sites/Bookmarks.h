#pragma once
// A site's bookmarks: named remote folders kept in its section of stats.dat
// as "f1", "f2", ... = name ":" path, next to its counters.

#include "sites/IniFile.h"

#include <string>
#include <vector>

struct TBookmark {
    std::string Name, Path;
    bool operator==(const TBookmark&) const = default;
};

// Up to the first empty "f" key; the name ends at the first ":".
std::vector<TBookmark> ReadBookmarks(const TIniFile& stats, const std::string& site);
// A name the stored form cannot give back (it would end at its ":").
bool BookmarkNameFits(const std::string& name);
// One more, as "f" + (count + 1).
void AppendBookmark(TIniFile& stats, const std::string& site, const TBookmark& bookmark);
// The section written again: the counters kept ("BytesUp" .. "FilesDown"
// only when they had a value, "LastConnect" and "ConnectCount" always), then
// the bookmarks in order.
void RewriteBookmarks(TIniFile& stats, const std::string& site, const std::vector<TBookmark>& bookmarks);
