#pragma once
// The directory listing parser: one "LIST" line and a server type in, one
// remote directory entry out. Layouts for Unix, DOS/Windows, Mac, NetWare,
// OS/2, VM, VM/VPS, MVS and VMS servers.

#include "ftp/FtpTypes.h"

#include <QDateTime>

#include <string>

struct TRemoteEntry {
    std::string Name;
    std::string Size;
    std::string Date;  // display text, "MM/dd/yy hh:mm AP"
    std::string Owner;
    std::string Group;
    bool IsDir = false;
    bool IsLink = false;
};

// The date shown when a listing's date cannot be read.
inline constexpr const char* UnreadableListingDate = "12/01/80 12:00 AM";

class TListParser {
public:
    // True and entry filled when the line is a directory entry; false for
    // headers, totals, blank lines and lines it cannot read. Fields a layout
    // does not set keep their values: pass a cleared entry.
    bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);

    // A VMS name that came on a line of its own, waiting for its continuation.
    std::string VmsPendingLine;

    // The moment "now" for dates that give a time instead of a year; the
    // current time when invalid (tests set it).
    QDateTime Now;

private:
    bool ParseVms(const std::string& line, TRemoteEntry& entry);
    QDateTime now();

    QDateTime m_clock;
    qint64 m_clockTaken = 0;
};

// The process-wide parser; its VMS state is shared by every caller.
bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);

// The text functions of the parser (fields are separated by blanks).
namespace ListText {
std::string Field(const std::string& line, int n);
std::string Rest(const std::string& line, int n);
std::string RestKeepingBlanks(const std::string& line, int n);
// "Mon D YYYY" or "Mon D hh:mm" as display text; UnreadableListingDate when
// it cannot be read.
std::string UnixDate(const std::string& text, const QDateTime& now);
// The date format of listings and panes: "MM/dd/yy hh:mm AP" of the fields
// as they stand (no time-zone conversion).
std::string DateText(const QDateTime& dt);
// "MM-DD-YY hh:mmAM"; false when the line must yield no entry.
bool DosDate(const std::string& text, std::string& out);
}  // namespace ListText

// A server type from its name without the "ftpst" prefix, in any letter case.
bool ServerTypeFromName(const std::string& name, TFTPServerType& type);
