#pragma once
// The directory listing parser: one "LIST" (or "MLSD") line and a server
// type in, one remote directory entry out. Layouts for Unix, DOS/Windows,
// Mac, NetWare, OS/2, VM, VM/VPS, MVS and VMS servers, EPLF and RFC 3659
// facts, and the shapes of a few others (AS/400, VxWorks, OS-9, ...) that
// servers calling themselves Unix send.

#include "ftp/FtpTypes.h"

#include <QDateTime>

#include <cstdint>
#include <string>
#include <string_view>

// A listing's date as typed fields: the wall-clock fields the server wrote
// (held UTC-tagged, so that no time-zone rule is consulted per line), and how
// much of it the line gave.
struct TListingDate {
    enum Kind : uint8_t {
        None,      // the line gives no date
        Day,       // a day without a time of day
        DayTime,   // a day and a time of day
        Fallback,  // a date that could not be read: the fixed fall-back date
    };
    // Milliseconds of the wall-clock fields since 1970-01-01 00:00 (plain
    // numbers: a listing makes one per line and sorts on them).
    int64_t Msecs = 0;
    Kind Kind = None;

    static TListingDate Of(const QDate& day, const QTime& time = QTime());
    static TListingDate Unreadable();
    QDateTime Value() const;  // the fields, UTC-tagged
    bool operator==(const TListingDate& o) const { return Kind == o.Kind && Msecs == o.Msecs; }
};

// What the dates of one listing that give a time instead of a year are read
// against: this year, and the latest moment (as plain fields) they may name.
struct TUnixClock {
    int Year = 1970;
    qint64 Limit = 0;
    static TUnixClock Of(const QDateTime& now);
};

struct TRemoteEntry {
    std::string Name;
    int64_t Size = -1;  // bytes; -1 when the line gives no size
    TListingDate Date;
    std::string Owner;
    std::string Group;
    bool IsDir = false;
    bool IsLink = false;
    // The permission bits as their octal digits (640), when the line gives
    // them as a number (MLSD's "UNIX.mode"); -1 otherwise.
    int Mode = -1;
};

// The fall-back date of lines whose date cannot be read: 1 December 1980.
QDate UnreadableListingDay();

// How a listing's lines are laid out.
enum class TListLayout : uint8_t {
    None,
    Unix,
    Dos,
    Mac,
    Netware,
    Os2,
    Vm,
    VmVps,
    Mvs,
    Vms,
    Eplf,
    Mlsd,        // RFC 3659 facts
    VShell,      // "size Mon DD, YYYY HH:MM name"
    NumericUnix, // "mode owner group size seconds name"
    As400,       // "owner size date time *TYPE name"
    VxWorks,     // "size Mon-DD-YYYY HH:MM:SS name [<DIR>]"
    Os9,         // "owner yy/mm/dd hhmm attributes sector size name"
    WfFtp,       // "name size mm/dd/yy day time" (Nortel routers)
    NonStop,     // "name code size d-Mon-yy time owner, group "perm""
};

class TListParser {
public:
    // True and entry filled when the line is a directory entry; false for
    // headers, totals, blank lines and lines it cannot read. Fields a layout
    // does not set keep their values: pass a cleared entry.
    bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);

    // One line of an "MLSD" answer (RFC 3659: "fact=value;... name"); the
    // listed folder itself and its parent ("cdir", "pdir") are no entries.
    bool ParseMlsdLine(const std::string& line, TRemoteEntry& entry);
    // A line of a listing that answered "MLSD" (mlsd) or "LIST".
    bool ParseLine(TFTPServerType serverType, bool mlsd, const std::string& line, TRemoteEntry& entry)
    {
        return mlsd ? ParseMlsdLine(line, entry) : ParseListLine(serverType, line, entry);
    }

    // A listing is laid out one way: the first line that is an entry fixes
    // the layout of the rest, until the next listing begins.
    void BeginListing() { m_layout = TListLayout::None; }
    TListLayout Layout() const { return m_layout; }
    bool OneLayoutPerListing = true;

    // A VMS name that came on a line of its own, waiting for its continuation.
    std::string VmsPendingLine;

    // The moment "now" for dates that give a time instead of a year; the
    // current time when invalid (tests set it).
    QDateTime Now;

private:
    // One reader per layout; each returns whether the line was an entry.
    bool parseUnix(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);
    bool parseDos(const std::string& line, TRemoteEntry& entry);
    bool parseMac(const std::string& line, TRemoteEntry& entry);
    bool parseNetware(const std::string& line, TRemoteEntry& entry);
    bool parseOs2(const std::string& line, TRemoteEntry& entry);
    bool parseVm(const std::string& line, TRemoteEntry& entry);
    bool parseVmVps(const std::string& line, TRemoteEntry& entry);
    bool parseMvs(const std::string& line, TRemoteEntry& entry);
    bool parseEplf(const std::string& line, TRemoteEntry& entry);
    bool ParseVms(const std::string& line, TRemoteEntry& entry);
    bool parseMlsd(const std::string& line, TRemoteEntry& entry, bool asked);
    bool parseVShell(const std::string& line, TRemoteEntry& entry);
    bool parseNumericUnix(const std::string& line, TRemoteEntry& entry);
    bool parseAs400(const std::string& line, TRemoteEntry& entry);
    bool parseVxWorks(const std::string& line, TRemoteEntry& entry);
    bool parseOs9(const std::string& line, TRemoteEntry& entry);
    bool parseWfFtp(const std::string& line, TRemoteEntry& entry);
    bool parseNonStop(const std::string& line, TRemoteEntry& entry);
    bool parseAs(TListLayout layout, TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);
    const TUnixClock& clock();

    TListLayout m_layout = TListLayout::None;

    TUnixClock m_clock;
    QDateTime m_clockOf;  // the moment m_clock was made from
    qint64 m_clockTaken = 0;
};

// The process-wide parser; its VMS state is shared by every caller.
bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry);

// The text functions of the parser (fields are separated by blanks).
namespace ListText {
std::string Field(const std::string& line, int n);
// The text from the n-th field's start to the end of the line.
std::string Rest(const std::string& line, int n);
// The text after the blank that ends the (n-1)-th field, leading blanks kept;
// a link's name is cut at its arrow.
std::string RestKeepingBlanks(const std::string& line, int n, bool link);
// "Mon D YYYY" or "Mon D hh:mm" (a time: the last year that is not more
// than a day ahead of now); the fall-back date when it cannot be read.
TListingDate UnixDate(const std::string& text, const QDateTime& now);
TListingDate UnixDate(std::string_view text, const TUnixClock& now);
// The date and time fields of a DOS/Windows line ("12-25-23", "12-25-2023",
// "25-12-23" when the first number cannot be a month; "10:30PM", "22:30").
// No year: no date. A date that cannot be read: the fall-back date.
TListingDate DosDate(const std::string& date, const std::string& time);
// "yyyy-MM-dd" or "yyyy/MM/dd", with an optional "hh:mm[:ss]".
TListingDate IsoDate(const std::string& date, const std::string& time);
// "dd-MMM-yyyy" (VMS) with an optional "hh:mm[:ss]".
TListingDate VmsDate(const std::string& date, const std::string& time);
// A fixed text for tools and tests: "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
// "fallback" or empty.
std::string DateKey(const TListingDate& d);
}  // namespace ListText

// A server type from its name without the "ftpst" prefix, in any letter case.
bool ServerTypeFromName(const std::string& name, TFTPServerType& type);
