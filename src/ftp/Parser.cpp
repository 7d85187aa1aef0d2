#include "ftp/Parser.h"

#include "common/Text.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t MaxVmsPendingLength = 1024;
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isWholeNumber(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A decimal number of exactly the given text (no sign, no blanks), or -1.
int number(const std::string& s)
{
    if (!isWholeNumber(s) || s.size() > 6)
        return -1;
    return std::stoi(s);
}

// Characters from..to (1-based, inclusive) of s, as far as they exist.
std::string chars(const std::string& s, size_t from, size_t to)
{
    if (from < 1 || from > s.size())
        return {};
    return s.substr(from - 1, to - from + 1);
}

// Dates are formatted and compared as plain fields: local-time conversions
// would consult the time zone for every line of a listing.
std::string display(int year, int month, int day, int hour, int minute)
{
    // "MM/dd/yy hh:mm AP", written by hand: one per listing line.
    char text[17];
    auto put2 = [&text](int at, int v) {
        text[at] = static_cast<char>('0' + v / 10 % 10);
        text[at + 1] = static_cast<char>('0' + v % 10);
    };
    put2(0, month);
    text[2] = '/';
    put2(3, day);
    text[5] = '/';
    put2(6, year % 100);
    text[8] = ' ';
    put2(9, hour % 12 == 0 ? 12 : hour % 12);
    text[11] = ':';
    put2(12, minute);
    text[14] = ' ';
    text[15] = hour < 12 ? 'A' : 'P';
    text[16] = 'M';
    return std::string(text, sizeof text);
}

std::string cutAtArrow(std::string s)
{
    const size_t arrow = s.find(" ->");
    if (arrow != std::string::npos)
        s.erase(arrow);
    return s;
}

// The fields of one line, split once (a layout asks for many of them): runs
// of blanks count as one blank, and a field with no blank after it (the last
// one) reads as empty.
class FieldList {
public:
    explicit FieldList(const std::string& line)
    {
        m_text.reserve(line.size());
        for (char c : line)
            if (c != ' ' || m_text.empty() || m_text.back() != ' ')
                m_text += c;
        size_t start = 0;
        while (true) {
            const size_t blank = m_text.find(' ', start);
            if (blank == std::string::npos)
                break;  // the last part has no blank after it: never a field
            m_fields.emplace_back(m_text.data() + start, blank - start);
            start = blank + 1;
        }
    }
    std::string operator()(int n) const
    {
        return n >= 0 && static_cast<size_t>(n) < m_fields.size() ? std::string(m_fields[static_cast<size_t>(n)])
                                                                  : std::string();
    }

private:
    std::string m_text;
    std::vector<std::string_view> m_fields;
};

enum class Layout { None, Unix, Dos, Mac, Netware, Os2, Vm, VmVps, Mvs, Vms };

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
    // As if cut at the arrow first, without copying the line.
    const size_t end = std::min(line.find(" ->"), line.size());
    int count = 0;
    for (size_t i = 0; i + 1 < end; ++i) {
        if (line[i] == ' ' && line[i + 1] != ' ' && ++count == n)
            return line.substr(i + 1, end - i - 1);
    }
    return {};
}

std::string RestKeepingBlanks(const std::string& line, int n)
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
    return cutAtArrow(s.substr(blank + 1));
}

std::string UnixDate(const std::string& text, const QDateTime& now)
{
    const auto month = std::find(std::begin(Months), std::end(Months), text.substr(0, 3));
    const int day = number(TrimBlanks(chars(text, 5, 6)));
    if (month == std::end(Months) || day < 0)
        return UnreadableListingDate;
    const int m = static_cast<int>(month - std::begin(Months)) + 1;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        const int year = text.size() >= 4 ? number(text.substr(text.size() - 4)) : -1;
        if (!QDate::isValid(year, m, day))
            return UnreadableListingDate;
        return display(year, m, day, 0, 0);
    }
    const int hour = colon >= 2 ? number(text.substr(colon - 2, 2)) : -1;
    const int minute = number(text.substr(colon + 1, 2));
    if (!QTime::isValid(hour, minute, 0))
        return UnreadableListingDate;
    // No year: this year, unless that is more than a day ahead of the wall
    // clock (compared as plain fields).
    int year = now.date().year();
    auto msecs = [](const QDate& d, int msOfDay) { return d.toJulianDay() * 86400000 + msOfDay; };
    const qint64 limit = msecs(now.date(), now.time().msecsSinceStartOfDay()) + 86400000;
    if (QDate::isValid(year, m, day) && msecs(QDate(year, m, day), (hour * 60 + minute) * 60000) > limit)
        --year;
    if (!QDate::isValid(year, m, day))
        return UnreadableListingDate;
    return display(year, m, day, hour, minute);
}

std::string DateText(const QDateTime& dt)
{
    return display(dt.date().year(), dt.date().month(), dt.date().day(), dt.time().hour(), dt.time().minute());
}

bool DosDate(const std::string& text, std::string& out)
{
    out.clear();
    const int yy = number(chars(text, 7, 8));
    if (yy < 0)
        return true;  // no year: an empty date, the entry still counts
    const int month = number(chars(text, 1, 2));
    const int day = number(chars(text, 4, 5));
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2)
        return false;
    int hour = number(text.substr(colon - 2, 2));
    const int minute = number(text.substr(colon + 1, 2));
    if (month < 0 || day < 0 || hour < 0 || minute < 0)
        return false;
    if (text.find("PM") != std::string::npos && hour != 12)
        hour += 12;
    const QDateTime dt(QDate(yy < 70 ? 2000 + yy : 1900 + yy, month, day), QTime(hour, minute), Qt::UTC);
    if (!dt.isValid())
        return false;
    out = DateText(dt);
    return true;
}

}  // namespace ListText

// ---------------------------------------------------------------- layouts

using namespace ListText;

bool TListParser::ParseListLine(TFTPServerType serverType, const std::string& line, TRemoteEntry& e)
{
    if (line.empty())
        return false;
    Layout layout = layoutOf(serverType);
    if (serverType != ftpstWin2K && std::isdigit(static_cast<unsigned char>(line[0])))
        layout = Layout::Dos;
    if (serverType == ftpstWin2K) {
        const size_t blank = line.find(' ');
        if (blank != std::string::npos && blank >= 10)  // the first blank at position 11 or later
            layout = Layout::Unix;
    }
    const QDateTime now = this->now();
    const FieldList F(line);
    auto kindFromFirst = [&e](char c) {
        if (c == '-' || c == 'f')
            return true;
        if (c == 'd')
            return e.IsDir = true;
        if (c == 'l')
            return e.IsLink = true;
        return false;
    };

    switch (layout) {
        case Layout::None:
            return false;
        case Layout::Unix: {
            if (!kindFromFirst(line[0]))
                return false;
            const int k = (F(1).rfind('[', 0) == 0 || serverType == ftpstRedhat || !isWholeNumber(F(4))) ? 3 : 4;
            e.Owner = F(2);
            if (k == 4)
                e.Group = F(3);
            e.Size = F(k);
            const std::string f1 = F(k + 1);
            const std::string dateText =
                !isWholeNumber(f1) ? f1 + " " + F(k + 2) + " " + F(k + 3) : F(k + 2) + " " + f1 + " " + F(k + 3);
            std::string name = serverType == ftpstUnixHidden ? RestKeepingBlanks(line, k + 4) : Rest(line, k + 4);
            if (!name.empty() && name[0] == '\x1b') {
                // A colour sequence: the name is what it colours.
                const size_t m = name.find('m');
                if (m == std::string::npos) {
                    name.clear();
                } else {
                    const size_t esc = name.find('\x1b', m + 1);
                    name = esc == std::string::npos ? std::string() : name.substr(m + 1, esc - m - 1);
                }
            }
            if (name.empty())
                return false;
            e.Name = name;
            e.Date = UnixDate(dateText, now);
            return true;
        }
        case Layout::Dos: {
            if (line.find("*.*") != std::string::npos)
                return false;
            e.IsDir = false;
            e.IsLink = false;
            e.Owner.clear();
            std::string date;
            if (!DosDate(F(0) + " " + F(1), date))
                return false;
            e.Date = date;
            e.Size = F(2);
            if (e.Size == "<DIR>") {
                e.Size = "0";
                e.IsDir = true;
            }
            e.Name = Rest(line, 3);
            return true;
        }
        case Layout::Mac: {
            if (!kindFromFirst(line[0]))
                return false;
            const int k = e.IsDir ? 2 : 3;
            e.Size = F(k);
            e.Name = Rest(line, k + 4);
            e.Date = UnixDate(F(k + 1) + " " + F(k + 2) + " " + F(k + 3), now);
            return true;
        }
        case Layout::Netware: {
            if (line.size() < 20)
                return false;
            e.IsLink = false;
            e.IsDir = line[0] == 'd';
            const int k = isWholeNumber(F(3)) ? 3 : 4;
            e.Size = F(k);
            e.Name = Rest(line, k + 4);
            e.Date = UnixDate(F(k + 1) + " " + F(k + 2) + " " + F(k + 3), now);
            return true;
        }
        case Layout::Os2: {
            const std::string s = line.substr(std::min(line.find_first_not_of(' '), line.size()));
            e.IsDir = false;
            e.IsLink = false;
            const FieldList S(s);
            e.Size = S(0);
            std::string d = S(1);
            int k = 2;
            if (d == "A" || d == "DIR") {
                k = 3;
                e.IsDir = d == "DIR";
                d = S(2);
            }
            std::string date = d + " " + S(k);
            std::replace(date.begin(), date.end(), '-', '/');
            e.Date = date;
            e.Name = Rest(s, k + 1);
            return true;
        }
        case Layout::Vm:
            e.Name = F(0) + "." + F(1);
            e.Size = F(3);
            e.Date = F(6) + " " + F(7);
            e.IsDir = false;
            return true;
        case Layout::VmVps:
            for (const char* skip : {"=", "总计:  ", " rf trks", "磁道限制   "})
                if (line.find(skip) != std::string::npos)
                    return false;
            e.Name = "." + F(1);
            e.Size = F(2);
            e.Date = F(7) + " " + F(6);
            e.IsDir = false;
            return true;
        case Layout::Mvs: {
            if (line.find("容量单位   ") != std::string::npos)
                return false;
            e.IsLink = false;
            e.IsDir = F(8) == "PO";
            e.Size = F(7);
            e.Name = Rest(line, 9);
            const std::string r = F(2);
            e.Date = chars(r, 6, 10) + "/" + chars(r, 3, 4) + " 12:00 AM";
            return true;
        }
        case Layout::Vms:
            return ParseVms(line, e);
    }
    return false;
}

QDateTime TListParser::now()
{
    if (Now.isValid())
        return Now;
    // Reading the clock (and the time zone) for every line of a large listing
    // costs more than the parse; a second's precision is plenty for dates.
    const qint64 tick = QDateTime::currentMSecsSinceEpoch();
    if (!m_clock.isValid() || tick - m_clockTaken > 1000) {
        m_clock = QDateTime::currentDateTime();
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
    e.Size = V(1);
    e.Date = V(2) + " " + V(3);
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
