// Sorting rules of the panes as a table, count lines, filters.
#include "panes/PaneLogic.h"

#include <QLocale>

#include <gtest/gtest.h>
#include <algorithm>
#include <thread>

namespace {

TListingDate at(int y, int m, int d, int h = -1, int min = 0)
{
    return h < 0 ? TListingDate::Of(QDate(y, m, d)) : TListingDate::Of(QDate(y, m, d), QTime(h, min));
}

std::vector<TPaneRow> rows()
{
    return {
        {rkFile, "b.txt", 1000, at(2003, 1, 12, 10, 30)},
        {rkFolder, "zeta", -1, at(1999, 6, 1, 9, 0)},
        {rkParent, "..", -1, {}},
        {rkFile, "A.bin", 5000000000, at(2026, 12, 7, 9, 0)},
        {rkLink, "link", 7, at(2020, 1, 1)},
        {rkFolder, "alpha", -1, at(2026, 12, 7, 10, 0)},
        {rkFile, "c.dat", 24, {}},
    };
}

std::vector<QString> sorted(int column, bool ascending, bool mixed)
{
    auto r = rows();
    std::stable_sort(r.begin(), r.end(),
                     [&](const TPaneRow& a, const TPaneRow& b) { return PaneRowLess(a, b, column, ascending, mixed); });
    std::vector<QString> names;
    for (const auto& x : r)
        names.push_back(x.name);
    return names;
}

using Names = std::vector<QString>;

}  // namespace

TEST(PaneSort, ByNameGroupedAndMixed)
{
    EXPECT_EQ(sorted(0, true, false), (Names{"..", "alpha", "zeta", "link", "A.bin", "b.txt", "c.dat"}));
    EXPECT_EQ(sorted(0, false, false), (Names{"..", "zeta", "alpha", "link", "c.dat", "b.txt", "A.bin"}));
    EXPECT_EQ(sorted(0, true, true), (Names{"..", "A.bin", "alpha", "b.txt", "c.dat", "link", "zeta"}));
}

// Names sort without regard to case whatever the locale; in the C locale a
// collator's key alone would put "B.txt" before "a.txt".
TEST(PaneSort, NamesIgnoreCaseInTheCLocaleToo)
{
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        const QLocale before;
        QLocale::setDefault(locale);
        Names names;
        // The keys' collator is made per thread, with the locale of the moment.
        std::thread([&] {
            std::vector<TPaneRow> r = {
                {rkFile, "C.txt", 1, {}}, {rkFile, "B.txt", 1, {}}, {rkFile, "a.txt", 1, {}}, {rkFile, "b.dat", 1, {}}};
            std::stable_sort(r.begin(), r.end(),
                             [](const TPaneRow& a, const TPaneRow& b) { return PaneRowLess(a, b, 0, true, false); });
            for (const TPaneRow& x : r)
                names.push_back(x.name);
        }).join();
        QLocale::setDefault(before);
        EXPECT_EQ(names, (Names{"a.txt", "b.dat", "B.txt", "C.txt"})) << locale.name().toStdString();
    }
}

TEST(PaneSort, BySizeKeepsFoldersAboveFilesBothWays)
{
    // Files small to large, then large to small; over 4 GB compares as a number.
    EXPECT_EQ(sorted(1, true, false), (Names{"..", "zeta", "alpha", "link", "c.dat", "b.txt", "A.bin"}));
    EXPECT_EQ(sorted(1, false, false), (Names{"..", "zeta", "alpha", "link", "A.bin", "b.txt", "c.dat"}));
    // Mixed: empty sizes first.
    const Names mixed = sorted(1, true, true);
    EXPECT_EQ(mixed.front(), "..");
    EXPECT_EQ(Names(mixed.end() - 4, mixed.end()), (Names{"link", "c.dat", "b.txt", "A.bin"}));
}

TEST(PaneSort, ByDateNewestFirstOnTheFirstClick)
{
    // A row without a date is last both ways.
    EXPECT_EQ(sorted(2, true, false), (Names{"..", "alpha", "zeta", "link", "A.bin", "b.txt", "c.dat"}));
    EXPECT_EQ(sorted(2, false, false), (Names{"..", "zeta", "alpha", "link", "b.txt", "A.bin", "c.dat"}));
    // Dates are compared as dates, whatever the century or the layout they
    // came from: 1969 before 2069, the fall-back date as 1 December 1980.
    std::vector<TPaneRow> r = {{rkFile, "sixty-nine", 1, at(1969, 1, 12)},
                               {rkFile, "twenty-sixty-nine", 1, at(2069, 1, 12)},
                               {rkFile, "unreadable", 1, TListingDate::Unreadable()},
                               {rkFile, "vms", 1, ListText::VmsDate("5-DEC-1999", "23:01:02")},
                               {rkFile, "os2", 1, ListText::DosDate("08-20-98", "16:54")}};
    std::stable_sort(r.begin(), r.end(),
                     [](const TPaneRow& a, const TPaneRow& b) { return PaneRowLess(a, b, 2, false, false); });
    Names names;
    for (const auto& x : r)
        names.push_back(x.name);
    EXPECT_EQ(names, (Names{"sixty-nine", "unreadable", "os2", "vms", "twenty-sixty-nine"}));
}

// Display text is made at the view from the typed date, in the desktop's
// short format; the fall-back date is shown as that day.
TEST(PaneSort, DatesAreWrittenInTheShortFormat)
{
    const QLocale locale = QLocale::system();
    EXPECT_EQ(PaneDateText(at(2069, 1, 12)), locale.toString(QDate(2069, 1, 12), QLocale::ShortFormat));
    EXPECT_NE(PaneDateText(at(2069, 1, 12)), PaneDateText(at(1969, 1, 12)));
    EXPECT_EQ(PaneDateText(at(2023, 12, 25, 0, 30)), locale.toString(QDate(2023, 12, 25), QLocale::ShortFormat) + " " +
                                                         locale.toString(QTime(0, 30), QLocale::ShortFormat));
    EXPECT_EQ(PaneDateText(TListingDate::Unreadable()), locale.toString(QDate(1980, 12, 1), QLocale::ShortFormat));
    EXPECT_TRUE(PaneDateText({}).isEmpty());
}

TEST(CountLines, SummaryAndSelection)
{
    EXPECT_EQ(PaneSummary(1, 2, 1024, "*.*"), QStringLiteral("1 文件夹, 2  文件, 1,024  字节 已列表 [*.*]"));
    EXPECT_EQ(PaneSummary(0, 1, 1, "*.txt"), QStringLiteral("0  文件夹, 1 文件, 1 字节 已列表 [*.txt]"));
    EXPECT_EQ(PaneSummary(0, 1, 5000000000, "*"), QStringLiteral("0  文件夹, 1 文件, 5,000,000,000  字节 已列表 [*]"));
    EXPECT_EQ(SelectionSummary(2, 1, 24, false), QStringLiteral("2  文件夹, 1 文件 已选定 [24 字节]"));
    EXPECT_EQ(SelectionSummary(0, 3, 0, false), QStringLiteral("3  文件 已选定 [0 字节]"));
    EXPECT_EQ(SelectionSummary(1, 1, 5, true), QStringLiteral("转到上级目录"));
    EXPECT_EQ(PaneSizeValue("5,000,000,000"), 5000000000LL);
    // Separators exactly every three digits, up to the largest 64-bit size.
    for (auto [size, text] : {std::pair<int64_t, const char*>{0, "0"},
                              {999, "999"},
                              {1000, "1,000"},
                              {123456, "123,456"},
                              {1234567, "1,234,567"},
                              {-1234, "-1,234"},
                              {INT64_MAX, "9,223,372,036,854,775,807"}}) {
        EXPECT_EQ(PaneSizeText(size), QString::fromLatin1(text));
        EXPECT_EQ(PaneSizeValue(PaneSizeText(size)), size < 0 ? -size : size);
    }
}

TEST(Filters, MaskMatch)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"README", "*.*", true},
        {"notes.TXT", "*.txt", true},
        {"notes.txt.bak", "*.txt", false},
        {"a1.c", "a?.c", true},
        {"a12.c", "a?.c", false},
        {"data7.csv", "data[0-9].csv", true},
        {"datax.csv", "data[0-9].csv", false},
        {"x", "[!a]", true},
        {"文件.txt", "*.txt", true},
        {"", "*", true},
        {"abc", "", false},
        {"aXbXc", "a*b*c", true},
    };
    for (auto [name, mask, expected] : cases)
        EXPECT_EQ(MaskMatch(QString::fromUtf8(name), QString::fromUtf8(mask)), expected) << name << " " << mask;
}

TEST(PathBoxes, RemoteAndLocalItems)
{
    EXPECT_EQ(RemotePathPrefixes("/pub/files/"), (std::vector<std::string>{"/pub/files/", "/pub/", "/"}));
    EXPECT_EQ(RemotePathPrefixes("/"), std::vector<std::string>{"/"});
    EXPECT_EQ(LocalPathItems(QStringLiteral("/home/bob/dl/"), {QStringLiteral("/"), QStringLiteral("/home/")}),
              (QStringList{QStringLiteral("1:/"), QStringLiteral("1:/home/"), QStringLiteral("2:/home/bob/"),
                           QStringLiteral("3:/home/bob/dl/")}));
}

TEST(PaneMenus, CommandMenuFollowsPaneStateAndSelection)
{
    // Remote pane, idle, a file first: everything there, execute hidden.
    TCommandMenuState m = CommandMenuState(true, true, false, true);
    EXPECT_EQ(m.transferCaption, QStringLiteral("下载"));
    EXPECT_TRUE(m.transfer && m.view && m.edit && m.remove && m.rename && m.move && m.permissions);
    EXPECT_FALSE(m.executeVisible);
    EXPECT_TRUE(m.permissionsVisible && m.copyAddressVisible);
    // Remote pane while busy: nothing that needs the connection.
    m = CommandMenuState(true, false, true, false);
    EXPECT_FALSE(m.transfer || m.view || m.edit || m.remove || m.rename || m.move || m.permissions);
    EXPECT_FALSE(m.copyAddressVisible);
    // Local pane while busy: local commands stay, a folder blocks edit and execute.
    m = CommandMenuState(false, false, true, false);
    EXPECT_EQ(m.transferCaption, QStringLiteral("上传"));
    EXPECT_FALSE(m.transfer);
    EXPECT_TRUE(m.view && m.remove && m.rename && m.move);
    EXPECT_FALSE(m.edit || m.execute || m.permissionsVisible || m.copyAddressVisible);
    EXPECT_TRUE(m.executeVisible);
    EXPECT_TRUE(CommandMenuState(false, false, false, true).execute);
}

TEST(PaneMenus, DragAcceptance)
{
    constexpr int queue = 10, local = 12, remote = 14;
    struct Case {
        bool remotePane;
        int source, targetKind;
        bool targetSelected, idle, transferring, accepted;
    } cases[] = {
        {true, local, -1, false, true, false, true},          // upload into the current directory
        {true, local, rkFile, false, true, false, true},      // anywhere from the other pane
        {true, local, -1, false, false, false, false},        // remote only while idle
        {true, remote, rkFolder, false, true, false, true},   // a move into a folder
        {true, remote, rkFolder, true, true, false, false},   // not onto a dragged row
        {true, remote, rkFile, false, true, false, false},    // not onto a file
        {true, remote, rkLink, false, true, false, false},    // nor a link
        {true, queue, -1, false, true, false, false},         // queue rows are the queue's
        {false, remote, -1, false, false, false, true},       // local takes downloads while busy
        {false, remote, -1, false, false, true, false},       // but not while transferring
        {false, local, rkFolder, false, false, false, true},  // a local move
        {false, local, rkParent, false, true, false, false},  // not onto ".."
    };
    for (const Case& c : cases)
        EXPECT_EQ(PaneAcceptsDrag(c.remotePane, c.source, c.targetKind, c.targetSelected, c.idle, c.transferring),
                  c.accepted)
            << c.remotePane << " " << c.source << " " << c.targetKind;
}
