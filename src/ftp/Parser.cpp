#include "ftp/Parser.h"

#include "common/Text.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <ctime>
#include <string_view>

namespace {

constexpr size_t MaxVmsPendingLength = 1024;
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isWholeNumber(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number of exactly the given text (no sign, no blanks), or -1.
int number(std::string_view s)
{
    if (!isWholeNumber(s) || s.size() > 6)
        return -1;
    int value = 0;
    std::from_chars(s.data(), s.data() + s.size(), value);
    return value;
}

// A link's name ends at the arrow before its target; on any other line
// " -> " is part of the name.
std::string cutAtArrow(std::string s, bool link)
{
    const size_t arrow = link ? s.find(" ->") : std::string::npos;
    if (arrow != std::string::npos)
        s.erase(arrow);
    return s;
}

// The fields of one line, split once (a layout asks for many of them): runs
// of blanks count as one blank, and a field with no blank after it (the last
// one) reads as empty. Views into the line, which must outlive the list; the
// first MaxFields fields are kept (layouts read at most ten).
class FieldList {
public:
    explicit FieldList(std::string_view line) : m_line(line)
    {
        // A plain loop: fields are short, a search call per field costs more.
        const size_t n = line.size();
        size_t start = 0;
        while (m_count < MaxFields) {
            m_starts[m_count] = start;
            size_t blank = start;
            while (blank < n && line[blank] != ' ')
                ++blank;
            if (blank == n) {
                m_lastStarts = true;  // the last part has no blank after it: never a field
                break;
            }
            m_ends[m_count++] = blank;
            start = blank;
            while (start < n && line[start] == ' ')
                ++start;
            if (start == n)
                break;
        }
    }
    std::string operator()(int n) const { return std::string(View(n)); }
    std::string_view View(int n) const
    {
        if (n < 0 || static_cast<size_t>(n) >= m_count)
            return {};
        const size_t i = static_cast<size_t>(n);
        return m_line.substr(m_starts[i], m_ends[i] - m_starts[i]);
    }
    // Where the n-th field ends (npos when there is none).
    size_t EndOf(int n) const
    {
        return n < 0 || static_cast<size_t>(n) >= m_count ? std::string_view::npos : m_ends[static_cast<size_t>(n)];
    }
    // Where the n-th part begins, the last one included (the text from there
    // is what ListText::Rest gives before the arrow); npos when there is none.
    size_t StartOf(int n) const
    {
        const auto i = static_cast<size_t>(n);
        if (n < 0 || i > m_count || (i == m_count && !m_lastStarts) || i >= MaxFields)
            return std::string_view::npos;
        return m_starts[i];
    }

private:
    static constexpr size_t MaxFields = 16;
    std::string_view m_line;
    // Not cleared: an entry is written before it is read, and clearing them
    // took a fifth of the time of a whole line.
    size_t m_starts[MaxFields];
    size_t m_ends[MaxFields];  // where field i ends, for i < m_count
    size_t m_count = 0;
    bool m_lastStarts = false;
};

enum class Layout { None, Unix, Dos, Mac, Netware, Os2, Vm, VmVps, Mvs, Vms, Eplf };

Layout layoutOf(TFTPServerType type)
{
    switch (type) {
        case ftpstWin2K:
            return Layout::Dos;
        case ftpstDefault:
        case ftpstUNIX:
        case ftpstRedhat:
        case ftpstCorvyned:
        case ftpstULTRIX:
        case ftpstU5000:
        case ftpstSINTFTPD:
        case ftpstWarFTPD:
        case ftpstUnixHidden:
        case ftpstBSD:
            return Layout::Unix;
        case ftpstMacOS:
            return Layout::Mac;
        case ftpSTNetware:
            return Layout::Netware;
        case ftpstOS2:
            return Layout::Os2;
        case ftpstVM:
            return Layout::Vm;
        case ftpstVMVPS:
            return Layout::VmVps;
        case ftpstMVS:
            return Layout::Mvs;
        case ftpstVmsMultinet:
        case ftpstVmsUcx:
            return Layout::Vms;
        default:
            return Layout::None;
    }
}

}  // namespace

// ---------------------------------------------------------------- text functions

namespace ListText {

std::string Field(const std::string& line, int n)
{
    return FieldList(line)(n);
}

std::string Rest(const std::string& line, int n)
{
    const size_t end = line.size();
    int count = 0;
    for (size_t i = 0; i + 1 < end; ++i) {
        if (line[i] == ' ' && line[i + 1] != ' ' && ++count == n)
            return line.substr(i + 1, end - i - 1);
    }
    return {};
}

std::string RestKeepingBlanks(const std::string& line, int n, bool link)
{
    std::string s = line;
    for (int i = 0; i < n - 1; ++i) {
        const size_t blank = s.find(' ');
        if (blank == std::string::npos)
            return {};
        const size_t next = s.find_first_not_of(' ', blank);
        s = next == std::string::npos ? std::string() : s.substr(next);
    }
    const size_t blank = s.find(' ');
    if (blank == std::string::npos)
        return {};
    return cutAtArrow(s.substr(blank + 1), link);
}

namespace {
// Plain calendar arithmetic for the Unix dates of large listings (the same
// answers as QDate, which costs more per line than the rest of the parse).
bool validDay(int year, int month, int day)
{
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year <= 0 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= Days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Days from 1970-01-01 to a valid day of the proleptic Gregorian calendar.
int64_t daysSinceEpoch(int year, int month, int day)
{
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

TListingDate dayAt(int year, int month, int day, int minuteOfDay)
{
    TListingDate d;
    d.Msecs = daysSinceEpoch(year, month, day) * 86400000 + (minuteOfDay < 0 ? 0 : int64_t{minuteOfDay} * 60000);
    d.Kind = minuteOfDay < 0 ? TListingDate::Day : TListingDate::DayTime;
    return d;
}
}  // namespace

TListingDate UnixDate(std::string_view text, const TUnixClock& now)
{
    const std::string_view name = text.substr(0, 3);
    int m = 0;
    for (int i = 0; i < 12 && m == 0 && name.size() == 3; ++i)
        if (name[0] == Months[i][0] && name[1] == Months[i][1] && name[2] == Months[i][2])
            m = i + 1;
    const int day = number(TrimBlanksView(text.size() > 4 ? text.substr(4, 2) : std::string_view()));
    if (m == 0 || day < 0)
        return TListingDate::Unreadable();
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        const int year = text.size() >= 4 ? number(text.substr(text.size() - 4)) : -1;
        if (!validDay(year, m, day))
            return TListingDate::Unreadable();
        return dayAt(year, m, day, -1);
    }
    const int hour = colon >= 2 ? number(text.substr(colon - 2, 2)) : -1;
    const int minute = number(text.substr(colon + 1, 2));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return TListingDate::Unreadable();
    // No year: this year, unless that is more than a day ahead of the wall
    // clock (compared as plain fields).
    int year = now.Year;
    if (validDay(year, m, day) && dayAt(year, m, day, hour * 60 + minute).Msecs > now.Limit)
        --year;
    if (!validDay(year, m, day))
        return TListingDate::Unreadable();
    return dayAt(year, m, day, hour * 60 + minute);
}

TListingDate UnixDate(const std::string& text, const QDateTime& now)
{
    return UnixDate(std::string_view(text), TUnixClock::Of(now));
}

namespace {

// Up to three numbers separated by one of seps; false when a part is not a
// number.
bool splitNumbers(const std::string& text, const char* seps, std::vector<std::string>& parts)
{
    parts.clear();
    size_t start = 0;
    while (true) {
        const size_t at = text.find_first_of(seps, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos || parts.size() == 3)
            break;
        start = at + 1;
    }
    return true;
}

// "hh:mm", "hh:mm:ss", with "AM"/"PM" glued on or not; invalid when unread.
QTime timeOfDay(const std::string& text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2)
        return {};
    int hour = number(text.substr(0, colon));
    const int minute = number(text.substr(colon + 1, 2));
    std::string rest = text.size() > colon + 3 ? text.substr(colon + 3) : std::string();
    if (rest.size() >= 3 && rest[0] == ':')
        rest.erase(0, 3);  // seconds
    if (rest == "AM" || rest == "PM" || rest == "am" || rest == "pm") {
        if (hour < 1 || hour > 12)
            return {};
        hour = hour % 12 + (rest[0] == 'P' || rest[0] == 'p' ? 12 : 0);  // 12:30AM is half past midnight
    } else if (!rest.empty()) {
        return {};
    }
    return QTime::isValid(hour, minute, 0) ? QTime(hour, minute) : QTime();
}

int fullYear(const std::string& digits)
{
    const int y = number(digits);
    if (y < 0 || (digits.size() != 2 && digits.size() != 4))
        return -1;
    return digits.size() == 4 ? y : (y < 70 ? 2000 + y : 1900 + y);
}

TListingDate withTime(const QDate& day, const std::string& time)
{
    if (!day.isValid())
        return TListingDate::Unreadable();
    if (time.empty())
        return TListingDate::Of(day);
    const QTime t = timeOfDay(time);
    return t.isValid() ? TListingDate::Of(day, t) : TListingDate::Of(day);
}

}  // namespace

TListingDate DosDate(const std::string& date, const std::string& time)
{
    std::vector<std::string> p;
    splitNumbers(date, "-/.", p);
    if (p.size() < 3 || !isWholeNumber(p[2]))
        return {};  // no year: no date, the entry still counts
    const int year = fullYear(p[2]);
    const int a = number(p[0]), b = number(p[1]);
    // Month first, as servers write it; day first when the first number
    // cannot be a month.
    int month = a, day = b;
    if (a > 12 && b >= 1 && b <= 12)
        std::swap(month, day);
    return withTime(QDate::isValid(year, month, day) ? QDate(year, month, day) : QDate(), time);
}

TListingDate IsoDate(const std::string& date, const std::string& time)
{
    std::vector<std::string> p;
    splitNumbers(date, "-/", p);
    if (p.size() < 3)
        return TListingDate::Unreadable();
    const int year = fullYear(p[0]), month = number(p[1]), day = number(p[2]);
    return withTime(QDate::isValid(year, month, day) ? QDate(year, month, day) : QDate(), time);
}

TListingDate VmsDate(const std::string& date, const std::string& time)
{
    std::vector<std::string> p;
    splitNumbers(date, "-", p);
    if (p.size() < 3 || p[1].size() != 3)
        return TListingDate::Unreadable();
    std::string mon = p[1];
    for (size_t i = 1; i < mon.size(); ++i)
        mon[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mon[i])));
    const auto month = std::find(std::begin(Months), std::end(Months), mon);
    const int year = fullYear(p[2]), day = number(p[0]);
    const int m = month == std::end(Months) ? -1 : static_cast<int>(month - std::begin(Months)) + 1;
    return withTime(QDate::isValid(year, m, day) ? QDate(year, m, day) : QDate(), time);
}

std::string DateKey(const TListingDate& d)
{
    switch (d.Kind) {
        case TListingDate::None:
            return {};
        case TListingDate::Fallback:
            return "fallback";
        case TListingDate::Day:
            return d.Value().date().toString(Qt::ISODate).toStdString();
        case TListingDate::DayTime:
            return d.Value().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
    }
    return {};
}

}  // namespace ListText

TUnixClock TUnixClock::Of(const QDateTime& now)
{
    // The same epoch as TListingDate: plain fields counted from 1970-01-01.
    constexpr qint64 EpochJulianDay = 2440588;
    const QDate day = now.date();
    return {day.year(), (day.toJulianDay() - EpochJulianDay) * 86400000 + now.time().msecsSinceStartOfDay() + 86400000};
}

QDate UnreadableListingDay()
{
    return QDate(1980, 12, 1);
}

TListingDate TListingDate::Of(const QDate& day, const QTime& time)
{
    constexpr qint64 EpochJulianDay = 2440588;
    constexpr qint64 MaxDays = 100'000'000;  // some 270,000 years: no listing's date is farther
    TListingDate d;
    const qint64 days = day.isValid() ? day.toJulianDay() - EpochJulianDay : MaxDays + 1;
    if (days < -MaxDays || days > MaxDays)
        return d;  // no date (an invalid day, or one whose milliseconds would overflow)
    d.Msecs = days * 86400000 + (time.isValid() ? time.msecsSinceStartOfDay() : 0);
    d.Kind = time.isValid() ? DayTime : Day;
    return d;
}

QDateTime TListingDate::Value() const
{
    return QDateTime::fromMSecsSinceEpoch(Msecs, Qt::UTC);
}

TListingDate TListingDate::Unreadable()
{
    TListingDate d = Of(UnreadableListingDay());
    d.Kind = Fallback;
    return d;
}

// ---------------------------------------------------------------- layouts

namespace {
// Sizes are whole numbers of bytes; anything else is no size.
int64_t sizeOf(std::string_view text)
{
    if (!isWholeNumber(text) || text.size() > 18)
        return -1;
    int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}
}  // namespace

using namespace ListText;

namespace {
// "12-25-03" or "12-25-2023": the first field of a DOS line.
bool dosDateField(std::string_view f)
{
    if (f.size() < 8 || f.size() > 10 || f[2] != '-' || f[5] != '-')
        return false;
    for (size_t i = 0; i < f.size(); ++i)
        if (i != 2 && i != 5 && !std::isdigit(static_cast<unsigned char>(f[i])))
            return false;
    return true;
}

// The layout of a line: the server type's, unless the line shows another.
Layout chooseLayout(TFTPServerType serverType, const std::string& line)
{
    // EPLF ("+facts<tab>name") says what it is in its first character.
    if (line[0] == '+')
        return Layout::Eplf;
    const size_t blank = line.find(' ');
    if (serverType == ftpstWin2K) {
        // The first blank at position 11 or later, and not after a date
        // with a four-digit year ("12-25-2023").
        return blank != std::string::npos && blank >= 10 && !std::isdigit(static_cast<unsigned char>(line[0]))
                   ? Layout::Unix
                   : Layout::Dos;
    }
    // A DOS line from a server of another type (a Unix server listing in
    // DOS form): it begins with its date. Other lines that begin with a
    // digit are the server's own (OS/2 sizes, VM names, MVS volumes).
    if (dosDateField(std::string_view(line).substr(0, std::min(blank, line.size()))))
        return Layout::Dos;
    return layoutOf(serverType);
}

// A permission field "prwxr-xr-x": its nine letters after the kind.
bool permissionLetters(std::string_view f)
{
    return f.size() >= 10 && f.substr(1, 9).find_first_not_of("rwxsStTlL-") == std::string_view::npos;
}

bool kindFromFirst(std::string_view first, TRemoteEntry& e)
{
    const char c = first.empty() ? '\0' : first[0];
    // Sockets, pipes and devices are shown as files, as "ls" lists them.
    if (c == '-' || c == 'f' || ((c == 's' || c == 'p' || c == 'c' || c == 'b') && permissionLetters(first)))
        return true;
    if (c == 'd')
        return e.IsDir = true;
    if (c == 'l')
        return e.IsLink = true;
    return false;
}

// A name coloured by the server ("\x1b[01;34mname\x1b[0m"): the name is
// what the sequence colours; an unfinished sequence leaves none.
void stripColour(std::string& name)
{
    if (name.empty() || name[0] != '\x1b')
        return;
    const size_t m = name.find('m');
    if (m == std::string::npos) {
        name.clear();
        return;
    }
    const size_t esc = name.find('\x1b', m + 1);
    name = esc == std::string::npos ? std::string() : name.substr(m + 1, esc - m - 1);
}
}  // namespace

bool TListParser::ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    if (line.empty())
        return false;
    switch (chooseLayout(serverType, line)) {
        case Layout::None:
            return false;
        case Layout::Unix:
            return parseUnix(serverType, line, e);
        case Layout::Dos:
            return parseDos(line, e);
        case Layout::Mac:
            return parseMac(line, e);
        case Layout::Netware:
            return parseNetware(line, e);
        case Layout::Os2:
            return parseOs2(line, e);
        case Layout::Vm:
            return parseVm(line, e);
        case Layout::VmVps:
            return parseVmVps(line, e);
        case Layout::Mvs:
            return parseMvs(line, e);
        case Layout::Vms:
            return ParseVms(line, e);
        case Layout::Eplf:
            return parseEplf(line, e);
    }
    return false;
}

// The most common listing by far, and large ones are Unix: read from views
// of the line, without a copy per field.
bool TListParser::parseUnix(TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!kindFromFirst(F.View(0), e))
        return false;
    const int k = (F.View(1).starts_with('[') || serverType == ftpstRedhat || !isWholeNumber(F.View(4))) ? 3 : 4;
    e.Owner = F.View(2);
    if (k == 4)
        e.Group = F.View(3);
    e.Size = sizeOf(F.View(k));
    const std::string_view f1 = F.View(k + 1);
    const bool dayFirst = isWholeNumber(f1);
    std::string dateText;
    dateText.append(dayFirst ? F.View(k + 2) : f1).append(" ");
    dateText.append(dayFirst ? f1 : F.View(k + 2)).append(" ").append(F.View(k + 3));
    std::string name;
    if (serverType == ftpstUnixHidden) {
        name = RestKeepingBlanks(line, k + 4, e.IsLink);
    } else if (F.StartOf(k + 4) != std::string::npos) {
        // "ls -l" puts one blank after the time or year: any more belong to
        // the name (" lead" is not "lead"). A link's name ends at its arrow;
        // an arrow before the name (a field after a blank that starts with
        // "->") leaves no name.
        const size_t start = F.EndOf(k + 3) + 1;
        bool arrowBefore = false;
        for (int j = 1; j < k + 4; ++j) {
            const std::string_view f = F.View(j);
            arrowBefore = arrowBefore || (f.size() >= 2 && f[0] == '-' && f[1] == '>');
        }
        const size_t arrow = e.IsLink ? std::min(line.find(" ->", start), line.size()) : line.size();
        if (!arrowBefore && arrow > start)
            name.assign(line, start, arrow - start);
    }
    stripColour(name);
    if (name.empty())
        return false;
    e.Name = std::move(name);
    e.Date = UnixDate(dateText, clock());
    return true;
}

// A line naming a file always shows it, whatever its date says: a date, a
// size or "<DIR>", a name.
bool TListParser::parseDos(const std::string& line, TRemoteEntry& e)
{
    if (line.find("*.*") != std::string::npos || !std::isdigit(static_cast<unsigned char>(line[0])))
        return false;
    const FieldList F(line);
    const std::string size = F(2);
    const bool dir = size == "<DIR>";
    if (!dir && !isWholeNumber(size))
        return false;
    std::string name = Rest(line, 3);
    if (name.empty())
        return false;
    e.IsDir = dir;
    e.IsLink = false;
    e.Owner.clear();
    e.Date = DosDate(F(0), F(1));
    e.Size = dir ? 0 : sizeOf(size);
    e.Name = std::move(name);
    return true;
}

bool TListParser::parseMac(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!kindFromFirst(F.View(0), e))
        return false;
    const int k = e.IsDir ? 2 : 3;
    e.Size = sizeOf(F(k));
    e.Name = cutAtArrow(Rest(line, k + 4), e.IsLink);
    e.Date = UnixDate(F(k + 1) + " " + F(k + 2) + " " + F(k + 3), clock());
    return true;
}

bool TListParser::parseNetware(const std::string& line, TRemoteEntry& e)
{
    if (line.size() < 20)
        return false;
    const FieldList F(line);
    e.IsLink = false;
    e.IsDir = line[0] == 'd';
    const int k = isWholeNumber(F(3)) ? 3 : 4;
    e.Size = sizeOf(F(k));
    e.Name = Rest(line, k + 4);
    e.Date = UnixDate(F(k + 1) + " " + F(k + 2) + " " + F(k + 3), clock());
    return true;
}

// "size [attributes] [DIR] date time name": the attributes ("A", "RSA",
// none) vary, the date is the field that looks like one.
bool TListParser::parseOs2(const std::string& line, TRemoteEntry& e)
{
    const std::string s = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    const FieldList S(s);
    int date = 1;
    bool dir = false;
    for (; date < 6 && !S.View(date).empty() && !dosDateField(S.View(date)); ++date)
        dir = dir || S.View(date) == "DIR";
    if (!dosDateField(S.View(date)))
        return false;
    std::string name = Rest(s, date + 2);
    if (name.empty())
        return false;
    e.IsDir = dir;
    e.IsLink = false;
    e.Size = sizeOf(S(0));
    e.Date = DosDate(S(date), S(date + 1));
    e.Name = std::move(name);
    return true;
}

// "NAME TYPE [mode] F|V lrecl records ... date time": the size is the
// record length times the records (z/VM leaves the file mode out).
bool TListParser::parseVm(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    e.Name = F(0) + "." + F(1);
    const int format = F(2) == "F" || F(2) == "V" ? 2 : 3;
    const int64_t length = sizeOf(F(format + 1));
    const int64_t records = sizeOf(F(format + 2));
    e.Size = length >= 0 && records >= 0 && length < (int64_t(1) << 31) && records < (int64_t(1) << 31)
                 ? length * records
                 : -1;
    e.Date = IsoDate(F(6), F(7));
    e.IsDir = false;
    return true;
}

bool TListParser::parseVmVps(const std::string& line, TRemoteEntry& e)
{
    for (const char* skip : {"=", "总计:  ", " rf trks", "磁道限制   "})
        if (line.find(skip) != std::string::npos)
            return false;
    const FieldList F(line);
    e.Name = F(1);
    e.Name.insert(0, 1, '.');  // not "." + F(1): GCC 12 warns wrongly at -O2 (-Wrestrict)
    e.Size = sizeOf(F(2));
    e.Date = IsoDate(F(7), F(6));
    e.IsDir = false;
    return true;
}

// EPLF: "+facts,<tab>name" (some servers put a blank for the tab): "/" a
// folder, "r" a file, "s" its size, "m" its time in seconds since 1970 UTC.
bool TListParser::parseEplf(const std::string& line, TRemoteEntry& e)
{
    size_t end = line.find('\t');
    size_t name = end + 1;
    if (end == std::string::npos) {
        end = line.find(", ");
        name = end + 2;
    }
    if (end == std::string::npos || name >= line.size())
        return false;
    e.IsDir = false;
    e.IsLink = false;
    e.Size = -1;
    e.Date = {};
    for (size_t at = 1; at < end;) {
        const size_t comma = std::min(line.find(',', at), end);
        const std::string_view fact(line.data() + at, comma - at);
        if (fact == "/")
            e.IsDir = true;
        else if (fact.starts_with('s'))
            e.Size = sizeOf(fact.substr(1));
        else if (fact.starts_with('m') && sizeOf(fact.substr(1)) >= 0) {
            const QDateTime t = QDateTime::fromSecsSinceEpoch(sizeOf(fact.substr(1)), Qt::UTC).toLocalTime();
            e.Date = TListingDate::Of(t.date(), t.time());
        }
        at = comma + 1;
    }
    e.Name = line.substr(name);
    return true;
}

// A member of a partitioned data set: "NAME VV.MM created changed time size
// init mod id", or the name alone when the member has no statistics.
namespace {
bool mvsMember(const FieldList& F, const std::string& line, TRemoteEntry& e)
{
    const std::string_view version = F.View(1);
    const bool stats = version.size() == 5 && version[2] == '.' && isWholeNumber(version.substr(0, 2)) &&
                       isWholeNumber(version.substr(3)) && F.View(3).size() == 10 && F.View(3)[4] == '/';
    const std::string_view whole = TrimBlanksView(line);
    const bool alone = !whole.empty() && whole.find(' ') == std::string_view::npos && whole != "Migrated";
    if (!stats && !alone)
        return false;
    e.Name = stats ? F(0) : std::string(whole);
    e.Size = -1;
    e.Date = stats ? IsoDate(F(3), F(4)) : TListingDate();
    return true;
}
}  // namespace

// "Volume Unit Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname": the data
// set's organisation is found by its value (the extent and used columns run
// together on some servers), the name follows it; a VSAM or migrated data
// set shows only its name. Tabs separate like blanks.
bool TListParser::parseMvs(const std::string& input, TRemoteEntry& e)
{
    std::string line = input;
    std::replace(line.begin(), line.end(), '\t', ' ');
    const FieldList F(line);
    // The header, in the server's words or translated.
    if (line.find("容量单位   ") != std::string::npos || (F(0) == "Volume" && line.find("Dsname") != std::string::npos))
        return false;
    e.IsLink = false;
    e.IsDir = false;
    const bool vsam = F(2) == "VSAM" || F(1) == "VSAM";
    if (F(0) == "Migrated" || vsam) {
        const int at = F(0) == "Migrated" ? 1 : F(1) == "VSAM" ? 2 : 3;
        const std::string name = TrimBlanks(Rest(line, at));
        if (name.empty() || name.find(' ') != std::string::npos)
            return false;
        e.Size = -1;
        e.Name = name;
        e.Date = {};
        return true;
    }
    if (mvsMember(F, line, e))
        return true;
    int org = 3;
    while (org < 10 && !F(org).empty() && F(org) != "PS" && F(org) != "PO" && F(org) != "PO-E" && F(org) != "DA" &&
           F(org) != "IS" && F(org) != "VS")
        ++org;
    if (org >= 10 || F(org).empty())
        return false;
    e.IsDir = F(org).starts_with("PO");
    e.Size = sizeOf(F(org - 1));
    e.Name = Rest(line, org + 1);
    e.Date = IsoDate(F(2), {});
    return !e.Name.empty();
}

const TUnixClock& TListParser::clock()
{
    if (Now.isValid()) {
        if (Now != m_clockOf) {
            m_clockOf = Now;
            m_clock = TUnixClock::Of(Now);
        }
        return m_clock;
    }
    // Reading the clock (and the time zone) for every line of a large listing
    // costs more than the parse; a second's precision is plenty for dates, and
    // the coarse clock answers without reading the hardware.
    timespec ts{};
    clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    const qint64 tick = static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    if (!m_clockOf.isValid() || tick - m_clockTaken > 1000 || tick < m_clockTaken) {
        m_clockOf = QDateTime::currentDateTime();
        m_clock = TUnixClock::Of(m_clockOf);
        m_clockTaken = tick;
    }
    return m_clock;
}

bool TListParser::ParseVms(const std::string& input, TRemoteEntry& e)
{
    std::string line = input;
    const bool joined = !VmsPendingLine.empty();
    if (joined) {
        line = VmsPendingLine + line;
        VmsPendingLine.clear();
    }
    if (line.find(';') == std::string::npos) {
        VmsPendingLine.clear();
        return false;
    }
    const FieldList V(line);
    std::string name = V(0);
    if (name.empty()) {
        // The name stands alone; its data follows. Only a single line waits:
        // joined lines never wait again, so a hostile listing cannot grow it.
        if (!joined && line.size() <= MaxVmsPendingLength)
            VmsPendingLine = line;
        return false;
    }
    name.erase(std::min(name.find(';'), name.size()));
    const size_t dir = name.find(".DIR");
    if (dir != std::string::npos) {
        e.IsDir = true;
        name.erase(dir);
    }
    e.Name = name;
    const std::string blocks = V(1);  // "used/allocated" on some servers
    e.Size = sizeOf(blocks.substr(0, blocks.find('/')));
    e.Date = VmsDate(V(2), V(3));
    return true;
}

bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry)
{
    static TListParser shared;
    return shared.ParseListLine(serverType, line, entry);
}

bool ServerTypeFromName(const std::string& name, TFTPServerType& type)
{
    std::string wanted = name;
    std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (int i = 0; i < FtpServerTypeCount; ++i) {
        std::string candidate(ServerTypeName(static_cast<TFTPServerType>(i)).substr(5));
        std::transform(candidate.begin(), candidate.end(), candidate.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (candidate == wanted) {
            type = static_cast<TFTPServerType>(i);
            return true;
        }
    }
    return false;
}
