#pragma once
// Rules of the file panes that need no widget: row order for every column,
// the count lines, wildcard filters and file sizes as the panes show them.

#include <QCollatorSortKey>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "common/TextFormat.h"
#include "ftp/Parser.h"

#include <cstdint>
#include <optional>

// Row kinds, also the image index of a pane row.
enum TRowKind : int { rkParent = 0, rkFolder = 1, rkLink = 2, rkFile = 3 };

// A row as the sort sees it: typed size and date, never display text.
struct TPaneRow {
    int kind = rkFile;
    QString name;
    int64_t size = -1;  // bytes; -1: no size (folders, unknown)
    TListingDate date;
};

// A row's sort keys, worked out once per row (a sort compares each row many
// times): the kind, a collation key of the name, the size, the date.
struct TPaneSortKey {
    int kind;
    QCollatorSortKey name;  // locale-aware, case ignored
    int64_t size;
    TListingDate date;
};
TPaneSortKey PaneSortKey(const TPaneRow& row);
// Only the keys a sort by this column reads (the others stay empty).
TPaneSortKey PaneSortKey(const TPaneRow& row, int column, bool targetColumn);
bool PaneKeyLess(const TPaneSortKey& a, const TPaneSortKey& b, int column, bool ascending, bool mixed,
                 bool targetColumn = false);

// Which row comes first when a pane is sorted by column. Ascending is the
// first click: names A to Z, sizes small to large, dates newest first (a
// row without a date last; the fall-back date sorts as the day it stands for).
// Mixed order sorts folders and files together (the parent entry stays first).
bool PaneRowLess(const TPaneRow& a, const TPaneRow& b, int column, bool ascending, bool mixed,
                 bool targetColumn = false);

// A date as the panes show it: the desktop's short date format, with the
// short time when the listing gave one; empty for no date.
QString PaneDateText(const TListingDate& date);

// "1 文件夹, 2  文件, 1,024  字节 已列表 [*.*]"
QString PaneSummary(int folders, int files, int64_t bytes, const QString& filter);
// The selection summary; firstIsParent gives "转到上级目录".
QString SelectionSummary(int folders, int others, int64_t bytes, bool firstIsParent);

// The remote path box: the directory (the server's bytes), then every prefix
// of it ending in "/", longest first. A "\\" separates too, but
// only in a UTF-8 path: in GBK and its kin the byte is also the second half
// of a character.
std::vector<std::string> RemotePathPrefixes(const std::string& directory);
// The local path box: "1:" + each volume root, and after the current volume
// one item per deeper level of the directory ("level:path/").
QStringList LocalPathItems(const QString& directory, const QStringList& volumeRoots);

// The pane command menu as it opens: which items are there and enabled.
struct TCommandMenuState {
    QString transferCaption;  // "下载" on the remote pane, "上传" on the local one
    bool transfer = false, view = false, edit = false, remove = false, rename = false, move = false;
    bool executeVisible = false, execute = false;
    bool permissionsVisible = false, permissions = false;
    bool copyAddressVisible = false;
};
TCommandMenuState CommandMenuState(bool remotePane, bool idle, bool folderSelected, bool firstSelectedIsFile);

// Whether a drag of rows may drop on a pane: from the other pane anywhere,
// from the pane itself only onto a folder row that is not being dragged.
// Remote takes drops only while idle, local only while nothing transfers.
bool PaneAcceptsDrag(bool remotePane, int sourceTag, int targetKind, bool targetSelected, bool idle, bool transferring);
