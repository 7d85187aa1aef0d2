// Every listing line of two other clients' published parser tests, read as
// those projects expect, or as the file's last column decides and says why.
#include "ftp/Parser.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char n = text[++i];
        if (n == 't')
            out += '\t';
        else if (n == 'r')
            out += '\r';
        else if (n == 'n')
            out += '\n';
        else if (n == 'x' && i + 2 < text.size() + 1)
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += n;
    }
    return out;
}

std::vector<std::string> split(const std::string& text, const std::string& sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + sep.size();
    }
}

struct Expected {
    std::string name, size, kind, date;
};

// A date as the listing shows it ("????" any year; "Z" an instant in UTC,
// shown in local time) against what the parser read.
bool dateMatches(std::string pattern, const TListingDate& got)
{
    if (pattern == "*")
        return true;
    if (pattern == "fallback")
        return got.Kind == TListingDate::Fallback;
    if (pattern.empty())
        return got.Kind == TListingDate::None;
    if (pattern.ends_with('Z')) {
        pattern.pop_back();
        const QDateTime utc = QDateTime::fromString(QString::fromStdString(pattern), QStringLiteral("yyyy-MM-dd HH:mm"));
        QDateTime asUtc(utc.date(), utc.time(), Qt::UTC);
        pattern = asUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
    }
    const QString re = QRegularExpression::escape(QString::fromStdString(pattern)).replace(QStringLiteral("\\?"), QStringLiteral("."));
    return QRegularExpression(QRegularExpression::anchoredPattern(re)).match(QString::fromStdString(ListText::DateKey(got))).hasMatch();
}

struct Tally {
    int rows = 0, decided = 0;
};

}  // namespace

TEST(ListParserReference, EveryPublishedLineReadsAsExpectedOrAsDecided)
{
    std::ifstream in(CORVYNE_SOURCE_DIR "/tests/ftp/data/reference-listings.tsv");
    ASSERT_TRUE(in) << "reference-listings.tsv";
    std::map<std::string, Tally> families;
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        if (text.empty() || text[0] == '#')
            continue;
        const std::vector<std::string> c = split(text, "\t");
        ASSERT_GE(c.size(), 8u) << "line " << number;
        TFTPServerType type = ftpstDefault;
        ASSERT_TRUE(ServerTypeFromName(c[2], type)) << "line " << number;
        Expected want{c[4], c[5], c[6], c[7]};
        Tally& tally = families[c[0] + " " + c[1]];
        ++tally.rows;
        if (c.size() > 8) {
            const std::string decision = split(c[8], " # ")[0];
            ASSERT_TRUE(c[8].find(" # ") != std::string::npos) << "line " << number << ": a decision says why";
            ++tally.decided;
            for (const std::string& field : split(decision, "|")) {
                const size_t eq = field.find('=');
                if (eq == std::string::npos)
                    continue;
                const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
                (key == "name" ? want.name : key == "size" ? want.size : key == "kind" ? want.kind : want.date) = value;
            }
        }
        TListParser parser;
        parser.Now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
        TRemoteEntry e;
        bool entry = false;
        for (const std::string& line : split(unescape(c[3]), "\r\n")) {
            e = TRemoteEntry();
            entry = parser.ParseListLine(type, line, e);
        }
        const std::string where = "line " + std::to_string(number) + ": " + c[3];
        if (want.name == "-") {
            EXPECT_FALSE(entry) << where << " read as " << e.Name;
            continue;
        }
        ASSERT_TRUE(entry) << where;
        if (want.name != "*") {
            EXPECT_EQ(e.Name, unescape(want.name)) << where;
        }
        const std::string kind = e.IsDir ? "d" : e.IsLink ? "l" : "f";
        if (want.kind != "*") {
            EXPECT_EQ(kind, want.kind) << where;
        }
        if (want.size != "*" && kind != "d") {
            EXPECT_EQ(e.Size >= 0 ? std::to_string(e.Size) : std::string(), want.size) << where;
        }
        EXPECT_TRUE(dateMatches(want.date, e.Date)) << where << " date " << ListText::DateKey(e.Date) << ", want " << want.date;
    }
    // Each project's lines are all here, and the decisions stay a minority.
    int rows = 0, decided = 0;
    for (const auto& [family, tally] : families)
        rows += tally.rows, decided += tally.decided;
    EXPECT_EQ(rows, 327);
    EXPECT_LT(decided * 4, rows);
}
