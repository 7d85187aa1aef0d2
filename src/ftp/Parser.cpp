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

// A month's name as listings write it, in any letter case, a trailing "." or
// "," ignored: English (or its first three letters), and the abbreviations
// of the languages servers are set to. 0 when it is none.
int monthOf(std::string_view t)
{
    // The common case first, without a copy: "Jan" as "ls" writes it.
    if (t.size() == 3)
        for (int i = 0; i < 12; ++i)
            if (t[0] == Months[i][0] && t[1] == Months[i][1] && t[2] == Months[i][2])
                return i + 1;
    while (!t.empty() && (t.back() == '.' || t.back() == ','))
        t.remove_suffix(1);
    if (t.size() < 3 || t.size() > 6 || isdigit(static_cast<unsigned char>(t[0])))
        return 0;
    char buffer[6];
    for (size_t i = 0; i < t.size(); ++i)
        buffer[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
    const std::string_view low(buffer, t.size());
    static constexpr std::pair<std::string_view, int> Names[] = {
        // German, French, Hungarian, Spanish, Italian, Dutch, Swedish, Portuguese
        {"mär", 3},  {"mrz", 3},   {"mai", 5},  {"juni", 6}, {"juli", 7}, {"okt", 10}, {"dez", 12}, {"janv", 1},
        {"févr", 2}, {"fév", 2},   {"fevr", 2}, {"mars", 3}, {"avr", 4},  {"juin", 6}, {"juil", 7}, {"jui", 7},
        {"août", 8}, {"aoû", 8},   {"déc", 12}, {"febr", 2}, {"márc", 3}, {"ápr", 4},  {"máj", 5},  {"jún", 6},
        {"júl", 7},  {"szept", 9}, {"ene", 1},  {"abr", 4},  {"ago", 8},  {"dic", 12}, {"gen", 1},  {"mag", 5},
        {"giu", 6},  {"lug", 7},   {"set", 9},  {"ott", 10}, {"mrt", 3},  {"mei", 5},  {"maj", 5},  {"fev", 2},
        {"out", 10},
    };
    for (const auto& [name, month] : Names)
        if (low == name)
            return month;
    static constexpr std::string_view English[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (low.substr(0, 3) == English[i] &&
            std::all_of(low.begin(), low.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
            return i + 1;
    return 0;
}

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
// first MaxFields fields are kept.
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
    // The text from the start of field a to the end of field b; empty when
    // either is missing.
    std::string_view Span(int a, int b) const
    {
        const size_t from = StartOf(a), to = EndOf(b);
        return from == std::string_view::npos || to == std::string_view::npos || to <= from
                   ? std::string_view()
                   : m_line.substr(from, to - from);
    }
    // The text from the n-th part to the end of the line; empty when none.
    std::string_view From(int n) const
    {
        const size_t at = StartOf(n);
        return at == std::string_view::npos ? std::string_view() : m_line.substr(at);
    }
    int Count() const { return static_cast<int>(m_count); }

private:
    static constexpr size_t MaxFields = 32;
    std::string_view m_line;
    // Not cleared: an entry is written before it is read, and clearing them
    // took a fifth of the time of a whole line.
    size_t m_starts[MaxFields];
    size_t m_ends[MaxFields];  // where field i ends, for i < m_count
    size_t m_count = 0;
    bool m_lastStarts = false;
};

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
    if (rest.size() >= 2 && rest[0] == '.' && isWholeNumber(std::string_view(rest).substr(1)))
        rest.clear();  // hundredths (VMS)
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
    if (y < 0 || digits.size() < 2 || digits.size() > 4)
        return -1;
    // Three digits: a server that counts years from 1900 ("103" is 2003).
    return digits.size() == 4 ? y : digits.size() == 3 ? 1900 + y : (y < 70 ? 2000 + y : 1900 + y);
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
    if (p.size() == 3 && p[0].size() == 4)
        return IsoDate(date, time);  // "2002-09-02"
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
    if (p.size() < 3)
        return TListingDate::Unreadable();
    const int year = fullYear(p[2]), day = number(p[0]);
    const int m = monthOf(p[1]) > 0 ? monthOf(p[1]) : -1;
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

using namespace ListText;

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

// "12-25-03", "12-25-2023" or "2023-12-25": the first field of a DOS line.
bool dosDateField(std::string_view f)
{
    const bool yearFirst = f.size() == 10 && f[4] == '-' && f[7] == '-';
    if (!yearFirst && (f.size() < 8 || f.size() > 10 || f[2] != '-' || f[5] != '-'))
        return false;
    for (size_t i = 0; i < f.size(); ++i)
        if (f[i] != '-' && !std::isdigit(static_cast<unsigned char>(f[i])))
            return false;
    return true;
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

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The digits a token begins with, when what follows them is not ASCII
// (Asian dates: "4月", "2003年"), or the whole token when it is digits.
std::string_view leadingDigits(std::string_view t, bool& marked)
{
    size_t n = 0;
    while (n < t.size() && isDigit(t[n]))
        ++n;
    marked = n > 0 && n < t.size() && static_cast<unsigned char>(t[n]) >= 0x80;
    return n > 0 && (n == t.size() || marked) ? t.substr(0, n) : std::string_view();
}

// A day of the month, "7", "07", "26." or "08,".
int dayOf(std::string_view t)
{
    while (!t.empty() && (t.back() == '.' || t.back() == ','))
        t.remove_suffix(1);
    const int d = t.size() <= 2 ? number(t) : -1;
    return d >= 1 && d <= 31 ? d : -1;
}

// "hh:mm" or "h:mm" (seconds allowed) as minutes of the day; 24:00 is the
// next midnight (1440). -1 when it is no time.
int minuteOf(std::string_view t)
{
    const size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || t.size() < colon + 3)
        return -1;
    const int h = number(t.substr(0, colon)), m = number(t.substr(colon + 1, 2));
    if (t.size() > colon + 3 && (t.size() != colon + 6 || t[colon + 3] != ':' || number(t.substr(colon + 4)) < 0))
        return -1;
    if (h < 0 || m < 0 || m > 59 || h > 24 || (h == 24 && m != 0))
        return -1;
    return h * 60 + m;
}

// A year ("2003", or "2003年") or a time of day in a Unix date's last place.
struct YearOrTime {
    int year = -1;
    int minute = -1;
    bool ok() const { return year >= 0 || minute >= 0; }
};

YearOrTime yearOrTime(std::string_view t)
{
    YearOrTime r;
    bool marked = false;
    const std::string_view digits = leadingDigits(t, marked);
    if (digits.size() == 4)
        r.year = number(digits);
    else
        r.minute = minuteOf(t);
    return r;
}

// A Unix listing's date from its fields: the year given, or (a time of day
// instead) this year unless that is more than a day ahead of now.
bool unixDay(int year, int month, int day, int minute, const TUnixClock& now, TListingDate& date)
{
    const bool nextDay = minute == 24 * 60;
    if (nextDay)
        minute = 0;
    if (year < 0) {
        year = now.Year;
        if (validDay(year, month, day) && dayAt(year, month, day, std::max(minute, 0)).Msecs > now.Limit)
            --year;
    }
    if (!validDay(year, month, day))
        return false;
    date = dayAt(year, month, day, minute);
    if (nextDay)
        date.Msecs += 86400000;
    return true;
}

// A whole date in one field: "2005-06-07", "1999/10/12", "2004.07.15",
// "24-04-2003", "18.09.06" is not one (too short a year to tell).
bool numericDay(std::string_view t, int& y, int& m, int& d)
{
    if (t.size() == 10 && (t[4] == '-' || t[4] == '/' || t[4] == '.') && t[7] == t[4]) {
        y = number(t.substr(0, 4)), m = number(t.substr(5, 2)), d = number(t.substr(8, 2));
        return y > 0 && m > 0 && d > 0;
    }
    if (t.size() == 10 && (t[2] == '-' || t[2] == '.') && t[5] == t[2]) {
        d = number(t.substr(0, 2)), m = number(t.substr(3, 2)), y = number(t.substr(6, 4));
        return y > 0 && m > 0 && d > 0;
    }
    // "01-jun-99"
    if (t.size() == 9 && t[2] == '-' && t[6] == '-' && monthOf(t.substr(3, 3)) > 0) {
        d = number(t.substr(0, 2)), m = monthOf(t.substr(3, 3)), y = fullYear(std::string(t.substr(7, 2)));
        return d > 0 && y > 0;
    }
    return false;
}

}  // namespace

namespace {

// The date of a Unix-like line at field i, in the shapes servers write:
// "Apr  8  1994" / "Jan 25 00:17", "Oct 08, 2002 09:47", "26. Juli, 20:10",
// "01 oct 2004", "2005-06-07 21:22", "2004.07.15", "01-jun-99" (first pass);
// "3 29 03:26", "09-26 2000", "4月 18日 2003年", "2003 3月 20" (second pass,
// numbers that a first-pass shape would have read as owner or size). Sets
// how many fields it took and whether the name after it may be padded.
bool readDate(const FieldList& F, int i, int pass, const TUnixClock& now, TListingDate& date, int& used, bool& padded)
{
    const std::string_view t0 = F.View(i), t1 = F.View(i + 1), t2 = F.View(i + 2), t3 = F.View(i + 3);
    padded = false;
    if (pass == 0) {
        int m = monthOf(t0), d = dayOf(t1);
        if (m > 0 && d > 0) {
            const YearOrTime y2 = yearOrTime(t2);
            if (t1.ends_with(',') && y2.year >= 0 && minuteOf(t3) >= 0) {
                used = 4;
                return unixDay(y2.year, m, d, minuteOf(t3), now, date);
            }
            used = 3;
            return y2.ok() && unixDay(y2.year, m, d, y2.minute, now, date);
        }
        d = dayOf(t0), m = monthOf(t1);
        if (m > 0 && d > 0) {
            const YearOrTime y2 = yearOrTime(t2);
            used = 3;
            return y2.ok() && unixDay(y2.year, m, d, y2.minute, now, date);
        }
        int y = 0;
        if (numericDay(t0, y, m, d)) {
            const int minute = minuteOf(t1);
            used = minute >= 0 ? 2 : 1;
            padded = minute < 0;
            return unixDay(y, m, d, minute, now, date);
        }
        return false;
    }
    bool marked0 = false, marked1 = false, marked2 = false;
    const std::string_view a = leadingDigits(t0, marked0), b = leadingDigits(t1, marked1),
                           c = leadingDigits(t2, marked2);
    const bool asian = marked0 || marked1 || marked2;
    if (a.size() == 4 && asian && !b.empty() && !c.empty()) {  // year, month, day
        used = 3;
        return unixDay(number(a), number(b), number(c), -1, now, date);
    }
    if (!a.empty() && a.size() <= 2 && !b.empty() && b.size() <= 2 && (asian || (a == t0 && b == t1))) {
        const YearOrTime y2 = yearOrTime(t2);
        used = 3;
        return y2.ok() && unixDay(y2.year, number(a), number(b), y2.minute, now, date);
    }
    if (t0.size() == 5 && t0[2] == '-' && number(t0.substr(0, 2)) > 0 && number(t0.substr(3)) > 0) {  // "09-26"
        const YearOrTime y1 = yearOrTime(t1);
        used = 2;
        return y1.ok() && unixDay(y1.year, number(t0.substr(0, 2)), number(t0.substr(3)), y1.minute, now, date);
    }
    return false;
}

// A size as a Unix-like line writes it: bytes, or "33.5k" / "2M".
bool unixSize(std::string_view t, int64_t& size)
{
    size = sizeOf(t);
    if (size >= 0)
        return true;
    if (t.size() < 2 || t.size() > 12 || !isDigit(t[0]))
        return false;
    const char unit = static_cast<char>(std::tolower(static_cast<unsigned char>(t.back())));
    const int shift = unit == 'k' ? 10 : unit == 'm' ? 20 : unit == 'g' ? 30 : -1;
    const std::string_view value = t.substr(0, t.size() - 1);
    const size_t dot = value.find('.');
    const std::string_view whole = value.substr(0, dot);
    const std::string_view tenths = dot == std::string_view::npos ? std::string_view() : value.substr(dot + 1);
    if (shift < 0 || !isWholeNumber(whole) || (dot != std::string_view::npos && !isWholeNumber(tenths)))
        return false;
    int64_t scaled = sizeOf(whole);
    double fraction = 0;
    for (size_t i = 0, div = 10; i < tenths.size() && i < 3; ++i, div *= 10)
        fraction += (tenths[i] - '0') / static_cast<double>(div);
    size = (scaled << shift) + static_cast<int64_t>(fraction * static_cast<double>(int64_t{1} << shift));
    return true;
}

// A field of letters then digits ("longgroup123456"): a group the size ran
// into; the digits are the size.
size_t gluedSizeAt(std::string_view t)
{
    size_t n = t.size();
    while (n > 0 && isDigit(t[n - 1]))
        --n;
    return n > 0 && n < t.size() && std::isalpha(static_cast<unsigned char>(t[0])) &&
                   std::isalpha(static_cast<unsigned char>(t[n - 1]))
               ? n
               : std::string_view::npos;
}

// The name from `start`, a link's cut at its arrow; an arrow before the name
// (a field before it that starts with "->") leaves none.
std::string nameFrom(const std::string& line, const FieldList& F, size_t start, int nameField, bool link)
{
    for (int j = 1; j < nameField; ++j) {
        const std::string_view f = F.View(j);
        if (f.size() >= 2 && f[0] == '-' && f[1] == '>')
            return {};
    }
    const size_t arrow = link ? std::min(line.find(" ->", start), line.size()) : line.size();
    return arrow > start ? line.substr(start, arrow - start) : std::string();
}

TListingDate localOfUtc(const QDateTime& utc)
{
    if (!utc.isValid())
        return {};
    const QDateTime t = utc.toLocalTime();
    return TListingDate::Of(t.date(), t.time());
}

bool isFactName(std::string_view line)
{
    size_t n = 0;
    while (n < line.size() && (std::isalnum(static_cast<unsigned char>(line[n])) || line[n] == '.' || line[n] == '-'))
        ++n;
    return n > 0 && n < line.size() && line[n] == '=' && std::isalpha(static_cast<unsigned char>(line[0]));
}

// "20.20" (group.user), "07/03/29", "06/03/04": numbers joined by one sign.
bool joinedNumbers(std::string_view t, char sign, int parts)
{
    int seen = 1;
    size_t run = 0;
    for (const char c : t) {
        if (c == sign) {
            if (run == 0)
                return false;
            ++seen, run = 0;
        } else if (isDigit(c)) {
            ++run;
        } else {
            return false;
        }
    }
    return run > 0 && seen == parts;
}

// "Feb-28-1998" (VxWorks) or "6-Apr-07" (NonStop).
bool monthDashDate(std::string_view t, bool monthFirst)
{
    const size_t a = t.find('-'), b = t.rfind('-');
    if (a == std::string_view::npos || a == b)
        return false;
    const std::string_view p0 = t.substr(0, a), p1 = t.substr(a + 1, b - a - 1), p2 = t.substr(b + 1);
    return monthFirst ? monthOf(p0) > 0 && dayOf(p1) > 0 && isWholeNumber(p2)
                      : dayOf(p0) > 0 && monthOf(p1) > 0 && isWholeNumber(p2);
}

TListLayout layoutOf(TFTPServerType type)
{
    switch (type) {
        case ftpstWin2K:
            return TListLayout::Dos;
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
            return TListLayout::Unix;
        case ftpstMacOS:
            return TListLayout::Mac;
        case ftpSTNetware:
            return TListLayout::Netware;
        case ftpstOS2:
            return TListLayout::Os2;
        case ftpstVM:
            return TListLayout::Vm;
        case ftpstVMVPS:
            return TListLayout::VmVps;
        case ftpstMVS:
            return TListLayout::Mvs;
        case ftpstVmsMultinet:
        case ftpstVmsUcx:
            return TListLayout::Vms;
        default:
            return TListLayout::None;
    }
}

// Three numbers joined by a sign ("07/03/29"), each of at most four digits.
bool threeNumbers(std::string_view t, char sign, int& a, int& b, int& c)
{
    const size_t i = t.find(sign), j = t.rfind(sign);
    if (i == std::string_view::npos || i == j || !joinedNumbers(t, sign, 3))
        return false;
    a = number(t.substr(0, i)), b = number(t.substr(i + 1, j - i - 1)), c = number(t.substr(j + 1));
    return a >= 0 && b >= 0 && c >= 0;
}

// The shapes of the lines some servers send besides "ls -l" and DOS. Each
// reader checks its shape itself too: once a listing's layout is fixed,
// every later line goes straight to its reader.
bool vshellShape(const FieldList& F)
{
    return isWholeNumber(F.View(0)) && monthOf(F.View(1)) > 0 && F.View(2).ends_with(',');
}
bool numericUnixShape(const FieldList& F)
{
    const std::string_view mode = F.View(0);
    return mode.size() >= 6 && mode.size() <= 7 && mode[0] == '0' &&
           mode.find_first_not_of("01234567") == std::string_view::npos && isWholeNumber(F.View(3)) &&
           isWholeNumber(F.View(4));
}
bool vxWorksShape(const FieldList& F)
{
    return isWholeNumber(F.View(0)) && monthDashDate(F.View(1), true);
}
bool os9Shape(const FieldList& F)
{
    int y = 0, m = 0, d = 0;
    return joinedNumbers(F.View(0), '.', 2) && threeNumbers(F.View(1), '/', y, m, d);
}
bool as400Shape(const FieldList& F)
{
    return isWholeNumber(F.View(1)) && F.View(4).starts_with('*') &&
           (joinedNumbers(F.View(2), '/', 3) || joinedNumbers(F.View(2), '.', 3));
}
bool wfFtpShape(const FieldList& F)
{
    return isWholeNumber(F.View(1)) && joinedNumbers(F.View(2), '/', 3) && F.View(3).ends_with('.') &&
           minuteOf(F.Count() > 4 ? F.View(4) : F.From(4)) >= 0;
}
bool nonStopShape(const FieldList& F)
{
    return isWholeNumber(F.View(1)) && isWholeNumber(F.View(2)) && monthDashDate(F.View(3), false);
}

// The shapes a server that calls itself Unix or Windows (or gives no usable
// type) may send besides "ls -l" and DOS lines.
TListLayout otherShape(const std::string& line, const FieldList& F)
{
    const std::string_view trimmed = TrimBlanksView(line);
    const char first = trimmed.empty() ? '\0' : trimmed[0];
    if (isDigit(first) || first == 'D') {
        // OS/2: "size [attributes] [DIR] mm-dd-yy hh:mm name".
        const FieldList S(trimmed);
        for (int i = 1; i <= 3; ++i)
            if (dosDateField(S.View(i)) || (S.View(i).size() == 9 && dosDateField(S.View(i).substr(0, 8))))
                return (isWholeNumber(S.View(0)) || S.View(0) == "DIR") && minuteOf(S.View(i + 1)) >= 0
                           ? TListLayout::Os2
                           : TListLayout::None;
    }
    if (vshellShape(F))
        return TListLayout::VShell;
    if (numericUnixShape(F))
        return TListLayout::NumericUnix;
    if (vxWorksShape(F))
        return TListLayout::VxWorks;
    if (os9Shape(F))
        return TListLayout::Os9;
    if (as400Shape(F))
        return TListLayout::As400;
    if (wfFtpShape(F))
        return TListLayout::WfFtp;
    if (nonStopShape(F))
        return TListLayout::NonStop;
    return TListLayout::None;
}

// The layout of a line: what the line shows, else the server type's.
TListLayout chooseLayout(TFTPServerType serverType, const std::string& line)
{
    // EPLF ("+facts<tab>name") and RFC 3659 facts ("type=file;... name")
    // say what they are in their first characters.
    if (line[0] == '+')
        return TListLayout::Eplf;
    if (isFactName(line))
        return TListLayout::Mlsd;
    const FieldList F(line);
    // A DOS line from a server of another type (a Unix server listing in
    // DOS form) begins with its date.
    if (dosDateField(F.View(0)))
        return TListLayout::Dos;
    const TListLayout own = layoutOf(serverType);
    if (own != TListLayout::Unix && own != TListLayout::Dos && own != TListLayout::None)
        return own;
    if ((line[0] == 'd' || line[0] == '-') && F.View(0).size() == 1 && F.View(1).starts_with('['))
        return TListLayout::Netware;
    if (F.View(0).size() >= 10 && std::string_view("-dlfspcb").find(line[0]) != std::string_view::npos)
        return TListLayout::Unix;
    const TListLayout other = otherShape(line, F);
    if (other != TListLayout::None)
        return other;
    // A type without a layout of its own reads "ls -l" lines.
    return own == TListLayout::None ? TListLayout::Unix : own;
}
}  // namespace

bool TListParser::ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    if (line.empty())
        return false;
    if (OneLayoutPerListing && m_layout != TListLayout::None)
        return parseAs(m_layout, serverType, line, e);
    const TListLayout layout = chooseLayout(serverType, line);
    const bool entry = parseAs(layout, serverType, line, e);
    if (entry && OneLayoutPerListing)
        m_layout = layout;
    return entry;
}

bool TListParser::ParseMlsdLine(const std::string& line, TRemoteEntry& e)
{
    return parseMlsd(line, e, true);
}

bool TListParser::parseAs(TListLayout layout, TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    switch (layout) {
        case TListLayout::None:
            return false;
        case TListLayout::Unix:
            return parseUnix(serverType, line, e);
        case TListLayout::Dos:
            return parseDos(line, e);
        case TListLayout::Mac:
            return parseMac(line, e);
        case TListLayout::Netware:
            return parseNetware(line, e);
        case TListLayout::Os2:
            return parseOs2(line, e);
        case TListLayout::Vm:
            return parseVm(line, e);
        case TListLayout::VmVps:
            return parseVmVps(line, e);
        case TListLayout::Mvs:
            return parseMvs(line, e);
        case TListLayout::Vms:
            return ParseVms(line, e);
        case TListLayout::Eplf:
            return parseEplf(line, e);
        case TListLayout::Mlsd:
            return parseMlsd(line, e, false);
        case TListLayout::VShell:
            return parseVShell(line, e);
        case TListLayout::NumericUnix:
            return parseNumericUnix(line, e);
        case TListLayout::As400:
            return parseAs400(line, e);
        case TListLayout::VxWorks:
            return parseVxWorks(line, e);
        case TListLayout::Os9:
            return parseOs9(line, e);
        case TListLayout::WfFtp:
            return parseWfFtp(line, e);
        case TListLayout::NonStop:
            return parseNonStop(line, e);
    }
    return false;
}

// The most common listing by far, and large ones are Unix: read from views
// of the line, without a copy per field. The size is the number just before
// the date, wherever owner, group and link count leave it.
bool TListParser::parseUnix(TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!kindFromFirst(F.View(0), e))
        return false;
    const TUnixClock& now = clock();
    int sizeAt = -1, dateAt = -1, used = 0;
    bool padded = false;
    int64_t size = -1;
    size_t glued = std::string_view::npos;  // where the size begins when it ran into the group
    TListingDate date;
    // Where "ls -l" puts the size (after link count, owner and group) is
    // tried first: most lines are of that shape, and large listings are.
    const int usual = isWholeNumber(F.View(4)) ? 4 : 3;
    if (sizeOf(F.View(usual)) >= 0 && monthOf(F.View(usual + 1)) > 0 &&
        readDate(F, usual + 1, 0, now, date, used, padded)) {
        sizeAt = usual, dateAt = usual + 1, size = sizeOf(F.View(usual));
    }
    for (int pass = 0; pass < 2 && dateAt < 0; ++pass) {
        for (int i = 1; i + 1 < F.Count() && dateAt < 0; ++i) {
            const std::string_view t = F.View(i);
            int at = i + 1;
            if (!unixSize(t, size)) {
                // A device's "major, minor" ("0, 27" or "109,767"): no size.
                const size_t comma = t.find(',');
                if (comma == std::string_view::npos || comma == 0 || !isWholeNumber(t.substr(0, comma)) ||
                    !(comma + 1 == t.size() ? isWholeNumber(F.View(at++)) : isWholeNumber(t.substr(comma + 1))))
                    continue;
                size = -1;
            }
            if (readDate(F, at, pass, now, date, used, padded))
                sizeAt = i, dateAt = at;
        }
    }
    for (int i = 1; i + 1 < F.Count() && dateAt < 0; ++i) {
        const size_t at = gluedSizeAt(F.View(i));
        if (at != std::string_view::npos && readDate(F, i + 1, 0, now, date, used, padded)) {
            sizeAt = i, dateAt = i + 1, glued = at;
            size = sizeOf(F.View(i).substr(at));
        }
    }
    std::string name;
    if (dateAt >= 0) {
        // Owner and group stand between the link count and the size (a
        // group may have blanks: "Domain Users").
        const int first = isWholeNumber(F.View(1)) && sizeAt > 2 ? 2 : 1;
        e.Owner = sizeAt > first ? F.View(first) : std::string_view();
        e.Group = F.Span(first + 1, sizeAt - 1);
        if (glued != std::string_view::npos)
            e.Group.append(e.Group.empty() ? "" : " ").append(F.View(sizeAt).substr(0, glued));
        e.Size = size;
        e.Date = date;
        // "ls -l" puts one blank after the time or year: any more belong to
        // the name (" lead" is not "lead"); a date in a padded column of its
        // own ("2004.07.15   name") is followed by the padding.
        const int last = dateAt + used - 1;
        if (F.StartOf(last + 1) == std::string::npos)
            return false;
        size_t start = F.EndOf(last) + 1;
        if (padded)
            start = F.StartOf(last + 1);
        name = nameFrom(line, F, start, last + 1, e.IsLink);
    } else {
        // No date in any shape: the fields where "ls -l" puts them, the date
        // unreadable (the fall-back date), as long as a size and a month-like
        // word stand there; or a line without a date at all ("size name").
        const int k = (F.View(1).starts_with('[') || serverType == ftpstRedhat || !isWholeNumber(F.View(4))) ? 3 : 4;
        if (!isWholeNumber(F.View(k)))
            return false;
        e.Owner = F.View(2);
        if (k == 4)
            e.Group = F.View(3);
        e.Size = sizeOf(F.View(k));
        const std::string_view word = F.View(k + 1);
        if (!word.empty() && std::isalpha(static_cast<unsigned char>(word[0])) && F.StartOf(k + 4) != std::string::npos) {
            std::string dateText;
            dateText.append(word).append(" ").append(F.View(k + 2)).append(" ").append(F.View(k + 3));
            e.Date = UnixDate(dateText, now);
            name = nameFrom(line, F, F.EndOf(k + 3) + 1, k + 4, e.IsLink);
        } else if (word.empty() && F.StartOf(k + 1) != std::string::npos) {
            e.Date = {};
            name = F.From(k + 1);
        }
    }
    stripColour(name);
    if (name.empty())
        return false;
    e.Name = std::move(name);
    return true;
}

// A DOS line: "date time size|<DIR> name". A line naming a file always
// shows it, whatever its date says.
bool TListParser::parseDos(const std::string& line, TRemoteEntry& e)
{
    if (line.find("*.*") != std::string::npos || !std::isdigit(static_cast<unsigned char>(line[0])))
        return false;
    const FieldList F(line);
    std::string size = F(2);
    const bool dir = size == "<DIR>";
    // Thousands separated by commas ("9,730").
    if (!dir && size.find(',') != std::string::npos && size.find_first_not_of("0123456789,") == std::string::npos)
        size.erase(std::remove(size.begin(), size.end(), ','), size.end());
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

// "d [RWCEAFMS] owner size date name": the name after the padding.
bool TListParser::parseNetware(const std::string& line, TRemoteEntry& e)
{
    if (line.size() < 20 || (line[0] != 'd' && line[0] != '-'))
        return false;
    const FieldList F(line);
    e.IsLink = false;
    e.IsDir = line[0] == 'd';
    const int k = isWholeNumber(F(3)) ? 3 : 4;
    e.Size = sizeOf(F(k));
    e.Owner = F.Span(2, k - 1);  // an owner of two words too
    int used = 0;
    bool padded = false;
    TListingDate date;
    if (readDate(F, k + 1, 0, clock(), date, used, padded)) {
        e.Date = date;
        e.Name = Rest(line, k + 1 + used);
    } else {
        e.Name = Rest(line, k + 4);
        e.Date = UnixDate(F(k + 1) + " " + F(k + 2) + " " + F(k + 3), clock());
    }
    return !e.Name.empty();
}

// "size [attributes] [DIR] date time name": the attributes ("A", "RSA",
// none) vary, the date is the field that looks like one.
bool TListParser::parseOs2(const std::string& line, TRemoteEntry& e)
{
    const std::string s = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    const FieldList S(s);
    auto isDate = [](std::string_view f) { return dosDateField(f) || (f.size() == 9 && dosDateField(f.substr(0, 8))); };
    int date = 0;
    bool dir = false;
    for (; date < 6 && !S.View(date).empty() && !isDate(S.View(date)); ++date)
        dir = dir || S.View(date) == "DIR";
    if (!isDate(S.View(date)))
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

// "NAME TYPE [mode] F|V lrecl records [blocks] date time [owner]": the size
// is the record length times the records (z/VM leaves the file mode out).
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
    int date = format + 3;
    while (date < F.Count() && !joinedNumbers(F.View(date), '-', 3) && !joinedNumbers(F.View(date), '/', 3))
        ++date;
    e.Date = date < F.Count() ? (joinedNumbers(F.View(date), '-', 3) ? IsoDate(F(date), F(date + 1))
                                                                      : DosDate(F(date), F(date + 1)))
                              : TListingDate();
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
        else if (fact.starts_with('m') && sizeOf(fact.substr(1)) >= 0)
            e.Date = localOfUtc(QDateTime::fromSecsSinceEpoch(sizeOf(fact.substr(1)), Qt::UTC));
        at = comma + 1;
    }
    e.Name = line.substr(name);
    return true;
}

// RFC 3659: "fact=value;fact=value; name" (older drafts leave the last ";"
// out, some servers put a tab for the blank). Times are UTC, shown local.
bool TListParser::parseMlsd(const std::string& line, TRemoteEntry& e, bool asked)
{
    const size_t blank = line.find_first_of(" \t");
    if (blank == std::string::npos || blank + 1 >= line.size() || (blank == 0 && !asked))
        return false;
    e.IsDir = false;
    e.IsLink = false;
    e.Size = -1;
    e.Date = {};
    e.Mode = -1;
    const std::string_view facts(line.data(), blank);
    for (size_t at = 0; at < facts.size();) {
        const size_t semi = std::min(facts.find(';', at), facts.size());
        const std::string_view fact = facts.substr(at, semi - at);
        at = semi + 1;
        const size_t eq = fact.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            // In an answer to "MLSD" a broken fact costs only itself; a LIST
            // line with it is no MLSD line.
            if (asked)
                continue;
            return false;
        }
        std::string key(fact.substr(0, eq));
        std::string value(fact.substr(eq + 1));
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (key == "type") {
            for (char& c : value)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (value == "cdir" || value == "pdir")
                return false;  // the listed folder and its parent
            e.IsDir = value == "dir";
            e.IsLink = value.starts_with("os.unix=slink") || value.starts_with("os.unix=symlink");
        } else if (key == "size") {
            e.Size = sizeOf(value);
        } else if (key == "modify") {
            const std::string_view stamp = std::string_view(value).substr(0, std::min<size_t>(value.find('.'), 14));
            const bool plain = value.size() == 14 || (value.size() > 15 && value[14] == '.' &&
                                                     isWholeNumber(std::string_view(value).substr(15)));
            if (stamp.size() == 14 && isWholeNumber(stamp) && plain) {
                const QDate day(number(stamp.substr(0, 4)), number(stamp.substr(4, 2)), number(stamp.substr(6, 2)));
                const QTime time(number(stamp.substr(8, 2)), number(stamp.substr(10, 2)), number(stamp.substr(12, 2)));
                if (day.isValid() && time.isValid())
                    e.Date = localOfUtc(QDateTime(day, time, Qt::UTC));
            }
        } else if (key == "unix.mode") {
            // "0644" or "644"; the last three octal digits.
            const std::string_view digits = std::string_view(value).substr(value.size() > 3 ? value.size() - 3 : 0);
            if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; }))
                e.Mode = number(digits);
        } else if (key == "unix.owner") {
            e.Owner = value;
        } else if (key == "unix.group") {
            e.Group = value;
        }
    }
    e.Name = line.substr(blank + 1);
    return true;
}

// VShell: "size Mon DD, YYYY HH:MM name" ("name/" a folder).
bool TListParser::parseVShell(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!vshellShape(F))
        return false;
    int used = 0;
    bool padded = false;
    TListingDate date;
    if (!readDate(F, 1, 0, clock(), date, used, padded) || F.StartOf(1 + used) == std::string::npos)
        return false;
    std::string name(F.From(1 + used));
    e.IsDir = name.size() > 1 && name.back() == '/';
    if (e.IsDir)
        name.pop_back();
    e.IsLink = false;
    e.Size = sizeOf(F.View(0));
    e.Date = date;
    e.Name = std::move(name);
    return true;
}

// "0100644 owner group size seconds name": the mode in octal, the time in
// seconds since 1970 UTC.
bool TListParser::parseNumericUnix(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!numericUnixShape(F))
        return false;
    std::string name(F.From(5));
    if (name.empty())
        return false;
    int64_t mode = 0;
    for (const char c : F.View(0))
        mode = mode * 8 + (c - '0');
    e.IsDir = (mode & 0170000) == 0040000;
    e.IsLink = (mode & 0170000) == 0120000;
    e.Owner = F.View(1);
    e.Group = F.View(2);
    e.Size = sizeOf(F.View(3));
    e.Date = localOfUtc(QDateTime::fromSecsSinceEpoch(sizeOf(F.View(4)), Qt::UTC));
    e.Name = std::move(name);
    return true;
}

// AS/400: "owner size date time *TYPE name" ("*DIR" a folder; "name/" too).
// A date "04/03/24" is month first, as the system's default (*MDY) writes it;
// day first when the first number cannot be a month.
bool TListParser::parseAs400(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!as400Shape(F))
        return false;
    std::string name(TrimBlanksView(F.From(5)));
    e.IsDir = F.View(4) == "*DIR" || F.View(4) == "*LIB";
    if (name.size() > 1 && name.back() == '/') {
        e.IsDir = true;
        name.pop_back();
    }
    if (const size_t slash = name.rfind('/'); slash != std::string::npos && slash + 1 < name.size())
        name.erase(0, slash + 1);  // a path: its last part
    if (name.empty())
        return false;
    e.IsLink = false;
    e.Owner = F.View(0);
    e.Size = sizeOf(F.View(1));
    std::string time(F.View(3));
    if (minuteOf(time) < 0)
        time.clear();
    e.Date = DosDate(F(2), time.substr(0, 5));
    e.Name = std::move(name);
    return true;
}

// VxWorks: "size Mon-DD-YYYY HH:MM:SS name [<DIR>]".
bool TListParser::parseVxWorks(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!vxWorksShape(F))
        return false;
    std::string name(F.From(3));
    e.IsDir = name.ends_with(" <DIR>");
    if (e.IsDir)
        name = TrimBlanks(name.substr(0, name.size() - 6));
    if (name.empty())
        return false;
    const std::string_view d = F.View(1);
    const size_t a = d.find('-'), b = d.rfind('-');
    const QDate day(number(d.substr(b + 1)), monthOf(d.substr(0, a)), number(d.substr(a + 1, b - a - 1)));
    const int minute = minuteOf(F.View(2));
    e.IsLink = false;
    e.Size = sizeOf(F.View(0));
    e.Date = day.isValid() ? TListingDate::Of(day, minute >= 0 ? QTime(minute / 60, minute % 60) : QTime())
                           : TListingDate::Unreadable();
    e.Name = std::move(name);
    return true;
}

// Microware OS-9: "group.user yy/mm/dd hhmm attributes sector size name".
bool TListParser::parseOs9(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!os9Shape(F))
        return false;
    std::string name(F.From(6));
    if (name.empty())
        return false;
    int y = 0, m = 0, d = 0;
    threeNumbers(F.View(1), '/', y, m, d);
    const QDate day(y < 100 ? (y < 70 ? 2000 + y : 1900 + y) : y, m, d);
    e.IsDir = F.View(3).starts_with('d');
    e.IsLink = false;
    e.Owner = F.View(0);
    e.Size = sizeOf(F.View(5));
    e.Date = day.isValid() ? TListingDate::Of(day) : TListingDate::Unreadable();
    e.Name = std::move(name);
    return true;
}

// Nortel wfFtp: "name size mm/dd/yy day. hh:mm:ss".
bool TListParser::parseWfFtp(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!wfFtpShape(F))
        return false;
    const std::string_view time = F.Count() > 4 ? F.View(4) : F.From(4);
    e.IsDir = false;
    e.IsLink = false;
    e.Size = sizeOf(F.View(1));
    e.Date = DosDate(F(2), std::string(time.substr(0, 5)));
    e.Name = F.View(0);
    return true;
}

// HP NonStop: "name code size d-Mon-yy hh:mm:ss owner, group "rwep"".
bool TListParser::parseNonStop(const std::string& line, TRemoteEntry& e)
{
    const FieldList F(line);
    if (!nonStopShape(F))
        return false;
    const std::string_view d = F.View(3);
    const size_t a = d.find('-'), b = d.rfind('-');
    const QDate day(fullYear(std::string(d.substr(b + 1))), monthOf(d.substr(a + 1, b - a - 1)), number(d.substr(0, a)));
    const int minute = minuteOf(F.View(4));
    e.IsDir = false;
    e.IsLink = false;
    e.Size = sizeOf(F.View(2));
    e.Date = day.isValid() ? TListingDate::Of(day, minute >= 0 ? QTime(minute / 60, minute % 60) : QTime())
                           : TListingDate::Unreadable();
    e.Name = F.View(0);
    return true;
}

// A member of a partitioned data set: "NAME VV.MM created changed time size
// init mod id", a load module's "NAME size(hex) ttr ...", or the name alone
// when the member has no statistics.
namespace {
bool hexNumber(std::string_view t, int64_t& value)
{
    if (t.size() != 6 || t.find_first_not_of("0123456789ABCDEFabcdef") != std::string_view::npos)
        return false;
    value = 0;
    std::from_chars(t.data(), t.data() + t.size(), value, 16);
    return true;
}

bool mvsMember(const FieldList& F, const std::string& line, TRemoteEntry& e)
{
    const std::string_view version = F.View(1);
    const bool stats = version.size() == 5 && version[2] == '.' && isWholeNumber(version.substr(0, 2)) &&
                       isWholeNumber(version.substr(3)) && F.View(3).size() == 10 && F.View(3)[4] == '/';
    int64_t hex = -1, ttr = -1;
    const bool module = hexNumber(F.View(1), hex) && hexNumber(F.View(2), ttr);
    const std::string_view whole = TrimBlanksView(line);
    const bool alone = !whole.empty() && whole.find(' ') == std::string_view::npos && whole != "Migrated";
    if (!stats && !alone && !module)
        return false;
    e.Name = stats || module ? F(0) : std::string(whole);
    e.Size = module ? hex : -1;
    e.Date = stats ? IsoDate(F(3), F(4)) : TListingDate();
    return true;
}
}  // namespace

// "Volume Unit Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname": the data
// set's organisation is found by its value (the extent and used columns run
// together on some servers), the name follows it; a VSAM, migrated or tape
// data set shows only its name. Tabs separate like blanks. No column gives a
// size in bytes.
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
    if (F(0) == "Migrated" || vsam || F(1) == "Tape") {
        const int at = F(0) == "Migrated" ? 1 : F(1) == "VSAM" || F(1) == "Tape" ? 2 : 3;
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
    e.Size = -1;
    e.Name = Rest(line, org + 1);
    e.Date = joinedNumbers(F.View(2), '/', 3) ? IsoDate(F(2), {}) : TListingDate();
    return !e.Name.empty();
}


// VMS: "NAME.EXT;version size date time [owner] (protection)", the fields
// after the name in whatever order the server writes them; the size in
// 512-byte blocks ("9", "9/12" used/allocated) or "2KB". A name alone on its
// line waits for the line of its fields.
bool TListParser::ParseVms(const std::string& input, TRemoteEntry& e)
{
    std::string line = input;
    const bool joined = !VmsPendingLine.empty();
    if (joined) {
        line = VmsPendingLine + " " + line;  // the fields' line may begin with the size
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
    e.IsDir = dir != std::string::npos;
    if (e.IsDir)
        name.erase(dir);
    if (name.empty())
        return false;
    e.Name = name;
    e.IsLink = false;
    e.Size = -1;
    int date = -1;
    bool sized = false;
    for (int i = 1; i < V.Count() || (i == V.Count() && !V.From(i).empty()); ++i) {
        const std::string_view f = i < V.Count() ? V.View(i) : V.From(i);
        if (date < 0 && monthDashDate(f, false)) {
            date = i;
            continue;
        }
        if (f.starts_with('[')) {
            e.Owner = std::string(f.substr(1, f.find(']') == std::string_view::npos ? f.size() - 1 : f.find(']') - 1));
            continue;
        }
        if (sized || (date >= 0 && i == date + 1 && f.find(':') != std::string_view::npos))
            continue;
        const std::string_view blocks = f.substr(0, f.find('/'));
        if (isWholeNumber(blocks) && (blocks.size() == f.size() || isWholeNumber(f.substr(blocks.size() + 1)))) {
            e.Size = sizeOf(blocks) >= 0 && blocks.size() < 12 ? sizeOf(blocks) * 512 : -1;
            sized = true;
        } else if (f.size() > 2 && f.ends_with("KB") && isWholeNumber(f.substr(0, f.size() - 2))) {
            e.Size = sizeOf(f.substr(0, f.size() - 2)) * 1024;
            sized = true;
        } else if (i == 1) {
            sized = true;  // the size column holds no number: no size
        }
    }
    if (date < 0) {
        e.Date = TListingDate::Unreadable();
        return true;
    }
    const std::string_view time = date + 1 < V.Count() ? V.View(date + 1) : V.From(date + 1);
    e.Date = VmsDate(std::string(date < V.Count() ? V.View(date) : V.From(date)),
                     time.find(':') != std::string_view::npos ? std::string(time) : std::string());
    return true;
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

bool ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& entry)
{
    // Callers share it one line at a time, from any listing: no layout is
    // fixed by a line before.
    static TListParser shared = [] {
        TListParser p;
        p.OneLayoutPerListing = false;
        return p;
    }();
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
