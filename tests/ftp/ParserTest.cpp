// The listing parser: real server lines by family with their expected
// entries, the text functions, dates, and a robustness pass.
#include "ftp/Parser.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    TFTPServerType type;
    const char* line;
    const char* expected;  // "-" or Name|Size|IsDir|IsLink|Owner|Group|Date
};

std::string render(TListParser& p, TFTPServerType type, const std::string& line)
{
    TRemoteEntry e;
    if (!p.ParseListLine(type, line, e))
        return "-";
    return e.Name + "|" + (e.Size >= 0 ? std::to_string(e.Size) : std::string()) + "|" + (e.IsDir ? "1" : "0") + "|" +
           (e.IsLink ? "1" : "0") + "|" + e.Owner + "|" + e.Group + "|" + ListText::DateKey(e.Date);
}

TListParser fixedClock()
{
    TListParser p;
    p.Now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    return p;
}

void check(const std::vector<Row>& rows)
{
    // Each row is a listing of its own; a VMS name line and its continuation
    // are one listing (the name line yields no entry and fixes nothing).
    TListParser p = fixedClock();
    for (const Row& r : rows) {
        if (p.VmsPendingLine.empty())
            p.BeginListing();
        EXPECT_EQ(render(p, r.type, r.line), r.expected) << ServerTypeName(r.type) << ": " << r.line;
    }
}

}  // namespace

TEST(ListParser, UnixFamily)
{
    check({
        {ftpstUNIX, "-rw-r--r-- 1 webmaster staff 1234 Jan 12 2003 notes.txt",
         "notes.txt|1234|0|0|webmaster|staff|2003-01-12"},
        {ftpstUNIX, "-rw-r--r-- 1 webmaster 1234 Jan 12 2003 notes.txt", "notes.txt|1234|0|0|webmaster||2003-01-12"},
        {ftpstUNIX, "lrwxrwxrwx 1 root root 7 Jan 12 2003 lib -> usr/lib", "lib|7|0|1|root|root|2003-01-12"},
        // The name is what follows the one blank after the time or year,
        // blanks at both ends included; an arrow ends only a link's name.
        {ftpstUNIX, "-rw-r--r-- 1 1000 1000 5 Dec 07 07:34  lead", " lead|5|0|0|1000|1000|2026-12-07 07:34"},
        {ftpstUNIX, "-rw-r--r-- 1 1000 1000 5 Dec 07 07:34 lead ", "lead |5|0|0|1000|1000|2026-12-07 07:34"},
        {ftpstUNIX, "-rw-r--r-- 1 1000 1000 5 Jan 15  2020 old", "old|5|0|0|1000|1000|2020-01-15"},
        {ftpstUNIX, "-rw-r--r-- 1 1000 1000 5 Dec 07 07:34 a -> b", "a -> b|5|0|0|1000|1000|2026-12-07 07:34"},
        {ftpstUnixHidden, "-rw-r--r-- 1 a b 5 Dec 07 07:34 a -> b", "a -> b|5|0|0|a|b|2026-12-07 07:34"},
        {ftpstUnixHidden, "lrwxrwxrwx 1 a b 5 Dec 07 07:34 a -> b", "a|5|0|1|a|b|2026-12-07 07:34"},
        {ftpstWin2K, "12-07-26  07:34PM                    5 a -> b", "a -> b|5|0|0|||2026-12-07 19:34"},
        // Sockets, pipes and devices are files; a word that only begins like
        // one is no entry.
        {ftpstUNIX, "srwxr-xr-x 1 root root 0 Jan 12 2003 socket", "socket|0|0|0|root|root|2003-01-12"},
        {ftpstUNIX, "prw-r--r-- 1 root root 0 Jan 12 2003 fifo", "fifo|0|0|0|root|root|2003-01-12"},
        {ftpstUNIX, "crw-rw-rw- 1 root root 0 Jan 12 2003 null", "null|0|0|0|root|root|2003-01-12"},
        {ftpstUNIX, "started 1 root root 0 Jan 12 2003 x", "-"},
        {ftpstUNIX, "drwxr-xr-x    2 1001     1001         4096 Dec 07 09:04 子目录",
         "子目录|4096|1|0|1001|1001|2026-12-07 09:04"},
        {ftpstUNIX, "-rw-r--r--   1 ftptest  ftptest         7 Dec  7 09:04 two  inner  blanks.txt",
         "two  inner  blanks.txt|7|0|0|ftptest|ftptest|2026-12-07 09:04"},
        // A time more than a day ahead of now belongs to last year.
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Dec 09 23:15 future", "future|5|0|0|a|b|2025-12-09 23:15"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Dec 08 09:59 tomorrow", "tomorrow|5|0|0|a|b|2026-12-08 09:59"},
        // Day before month (some European servers).
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 12 Jan 2003 dayfirst", "dayfirst|5|0|0|a|b|2003-01-12"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Foo 12 2003 baddate", "baddate|5|0|0|a|b|fallback"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Feb 30 2003 feb30", "feb30|5|0|0|a|b|fallback"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Feb 29 2024 leap", "leap|5|0|0|a|b|2024-02-29"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Feb 29 1900 notleap", "notleap|5|0|0|a|b|fallback"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Feb 29 2000 leap400", "leap400|5|0|0|a|b|2000-02-29"},
        // A year that is no number is no year (never one before year 1).
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 x003 badyear", "badyear|5|0|0|a|b|fallback"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 24:00 badhour", "badhour|5|0|0|a|b|2026-01-13 00:00"},  // 24:00 is the next midnight
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 0000 yearzero", "yearzero|5|0|0|a|b|fallback"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 2003 \x1b[01;32mcolour\x1b[0m", "colour|5|0|0|a|b|2003-01-12"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 2003 \x1b[01;32mno end", "-"},
        {ftpstUNIX, "frw-r--r-- 1 a b 5 Jan 12 2003 f-kind", "f-kind|5|0|0|a|b|2003-01-12"},
        {ftpstUNIX, "- [RWCEAFMS] owner 5 Jan 12 2003 bracket", "bracket|5|0|0|owner||2003-01-12"},
        {ftpstRedhat, "-rw-r--r-- 1 owner 99 Jan 12 2003 rh", "rh|99|0|0|owner||2003-01-12"},
        {ftpstUnixHidden, "-rw-r--r-- 1 a b 5 Jan 12 2003  leading blank", " leading blank|5|0|0|a|b|2003-01-12"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5000000000 Jan 12 2003 huge.iso", "huge.iso|5000000000|0|0|a|b|2003-01-12"},
        {ftpstUNIX, "total 12", "-"},
        {ftpstUNIX, "-rw-r--r-- 1 a b 5 Jan 12 2003", "-"},
        {ftpstBSD, "-rw-r--r--  1 root  wheel  512 Mar  3 2011 bsd.txt", "bsd.txt|512|0|0|root|wheel|2011-03-03"},
        // A type without a layout of its own reads lines by their shape.
        {ftpstAutoDetect, "-rw-r--r-- 1 a b 5 Jan 12 2003 x", "x|5|0|0|a|b|2003-01-12"},
        {ftpstClix, "-rw-r--r-- 1 a b 5 Jan 12 2003 x", "x|5|0|0|a|b|2003-01-12"},
    });
}

TEST(ListParser, DosFamily)
{
    check({
        {ftpstWin2K, "01-12-03  10:30PM       <DIR>          Program Files", "Program Files|0|1|0|||2003-01-12 22:30"},
        {ftpstWin2K, "07-04-98  12:05AM                 1234 old.txt", "old.txt|1234|0|0|||1998-07-04 00:05"},
        {ftpstWin2K, "-rw-r--r-- 1 owner group 5 Jan 12 2003 unix-on-windows",
         "unix-on-windows|5|0|0|owner|group|2003-01-12"},
        {ftpstUNIX, "01-12-03  10:30AM             1234 digit first.txt",
         "digit first.txt|1234|0|0|||2003-01-12 10:30"},
        {ftpstWin2K, "01-12-xx  10:30AM             1234 noyear", "noyear|1234|0|0|||"},
        // Every line that names a file shows it: four-digit years, day-first
        // dates, and a date that cannot be read gets the fall-back date.
        {ftpstWin2K, "12-25-2023  10:30PM  1234 fouryear.txt", "fouryear.txt|1234|0|0|||2023-12-25 22:30"},
        {ftpstWin2K, "20-05-97  03:31PM  681 .bash_history", ".bash_history|681|0|0|||1997-05-20 15:31"},
        {ftpstWin2K, "12-25-2023  12:30AM  1 midnight", "midnight|1|0|0|||2023-12-25 00:30"},
        {ftpstWin2K, "12-25-2023  12:30PM  1 noon", "noon|1|0|0|||2023-12-25 12:30"},
        {ftpstWin2K, "2023-12-25  22:30  7 iso.txt", "iso.txt|7|0|0|||2023-12-25 22:30"},
        {ftpstWin2K, "13-45-03  10:30AM  5 weird", "weird|5|0|0|||fallback"},
        {ftpstWin2K, "12-25-23  25:99PM  5 badtime", "badtime|5|0|0|||2023-12-25"},
        {ftpstWin2K, "12-25-23  10:30PM  big 5 notasize", "-"},
        {ftpstWin2K, "12-25-23  10:30PM  5", "-"},
        {ftpstWin2K, "ab-12-03  10:30AM             1234 badmonth", "-"},
        {ftpstWin2K, "01-12-03  10:30AM  <DIR>  *.*", "-"},
    });
}

TEST(ListParser, HostAndOtherFamilies)
{
    check({
        {ftpstMacOS, "-rwxr-xr-x 1 owner 12345 Jan 12 2003 mac file", "mac file|12345|0|0|||2003-01-12"},
        {ftpstMacOS, "drwxr-xr-x folder 7 Jan 12 2003 Folder", "Folder|7|1|0|||2003-01-12"},
        {ftpSTNetware, "d [RWCEAFMS] supervisor   512 Jan 12 2003 PUBLIC", "PUBLIC|512|1|0|supervisor||2003-01-12"},
        {ftpSTNetware, "- [RWCEAFMS] super visor 1024 Jan 12 2003 file.dat", "file.dat|1024|0|0|super visor||2003-01-12"},
        {ftpSTNetware, "d [R] x 1 Jan", "-"},
        {ftpstOS2, "     0           DIR   08-20-98   16:54  docs", "docs|0|1|0|||1998-08-20 16:54"},
        {ftpstOS2, "  1234      A    08-20-98   16:54  file.txt", "file.txt|1234|0|0|||1998-08-20 16:54"},
        // OS/2 lines begin with the size: not DOS lines, whatever their first digit.
        {ftpstOS2, "149473      A          11-17-98   16:07  POPUPLOG.OS2", "POPUPLOG.OS2|149473|0|0|||1998-11-17 16:07"},
        {ftpstOS2, "587823    RSA    DIR   01-08-97   13:58  OS2KRNL", "OS2KRNL|587823|1|0|||1997-01-08 13:58"},
        // VM: the size is the record length times the records; z/VM names
        // begin with a digit and leave the file mode out.
        {ftpstVM, "PROFILE EXEC A1 V 80 10 2003-01-12 10:30:00 DISK", "PROFILE.EXEC|800|0|0|||2003-01-12 10:30"},
        {ftpstVM, "70-ZVMFILE  TRACE   V        65      107        2 2005-10-04 15:28:42 060191",
         "70-ZVMFILE.TRACE|6955|0|0|||2005-10-04 15:28"},
        // A Unix server listing in DOS form is read as DOS.
        {ftpstUNIX, "01-08-2003  01:30PM       <DIR>          folder", "folder|0|1|0|||2003-01-08 13:30"},
        {ftpstUNIX, "12-25-03  09:05AM                 1234 file.txt", "file.txt|1234|0|0|||2003-12-25 09:05"},
        {ftpstVMVPS, "x NAME 42 a b c 10:30 2003-01-12 y", ".NAME|42|0|0|||2003-01-12 10:30"},
        {ftpstVMVPS, "x = y", "-"},
        {ftpstMVS, "VOL001 3390   2003/01/12  1   15  FB     80  6160  PO  SRC.LIB", "SRC.LIB||1|0|||2003-01-12"},
        // No column holds a size in bytes (6160 is the block size).
        {ftpstMVS, "VOL001 3390   2003/01/12  1   15  FB     80  6160  PS  DATA.SET", "DATA.SET||0|0|||2003-01-12"},
        // The real server's own header is no data set; migrated data sets
        // are shown by name.
        {ftpstMVS, "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", "-"},
        {ftpstMVS, "Migrated                                                OLD.DATA.SET", "OLD.DATA.SET||0|0|||"},
        {ftpstMVS, "Migrated", "-"},
        // The extent and used columns run together; a VSAM data set and a
        // migrated one after tabs show their names.
        {ftpstMVS, "PEX26F 3390   2017/07/03  115807  FB   29600 29600  PS    INCOMING.FIN.D170630.T160630",
         "INCOMING.FIN.D170630.T160630||0|0|||2017-07-03"},
        {ftpstMVS, "TSO004 3390   VSAM 64-mvs-file", "64-mvs-file||0|0|||"},
        {ftpstMVS, "Migrated\t\t\t\t69-SOME.FILE", "69-SOME.FILE||0|0|||"},
        // The members of a partitioned data set, with statistics or alone.
        {ftpstMVS, "SAVE03    01.03 2002/09/12 2002/10/11 09:37    11    11     0 KIL001",
         "SAVE03||0|0|||2002-10-11 09:37"},
        {ftpstMVS, "Name     VV.MM   Created       Changed      Size  Init   Mod   Id", "-"},
        {ftpstMVS, "MEMBER1", "MEMBER1||0|0|||"},
    });
}

// EPLF says what each entry is in facts; its time is UTC, shown in local time.
TEST(ListParser, EplfWhateverTheServerType)
{
    TListParser p = fixedClock();
    const auto local = [](qint64 seconds) {
        const QDateTime t = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toLocalTime();
        return ListText::DateKey(TListingDate::Of(t.date(), t.time()));
    };
    for (TFTPServerType type : {ftpstUNIX, ftpstDefault, ftpstWin2K}) {
        EXPECT_EQ(render(p, type, "+i8388621.48594,m825718503,r,s280,\tdjb.html"),
                  "djb.html|280|0|0|||" + local(825718503));
        EXPECT_EQ(render(p, type, "+i8388621.48594,m825718503,r,s280, djb.html"),
                  "djb.html|280|0|0|||" + local(825718503));
        EXPECT_EQ(render(p, type, "+i8388621.50690,m824255907,/,\t514"), "514||1|0|||" + local(824255907));
        // A name with blanks and commas is the name; facts without a name are no entry.
        EXPECT_EQ(render(p, type, "+r,s5,\ta, b c"), "a, b c|5|0|0|||");
        EXPECT_EQ(render(p, type, "+i1,m2,r,s3"), "-");
        EXPECT_EQ(render(p, type, "+r,\t"), "-");
        // A time the calendar cannot hold is no date, not an overflow.
        EXPECT_EQ(render(p, type, "+r,m999999999999999999,\tfar"), "far||0|0|||");
        EXPECT_EQ(render(p, type, "+r,m99999999999999,\tfar"), "far||0|0|||");
    }
}

TEST(ListParser, VmsNameOnItsOwnLineJoinsTheNext)
{
    TListParser p = fixedClock();
    EXPECT_EQ(render(p, ftpstVmsUcx, "LONGNAME.TXT;1"), "-");
    EXPECT_EQ(p.VmsPendingLine, "LONGNAME.TXT;1");
    EXPECT_EQ(render(p, ftpstVmsUcx, "      12  12-JAN-2003 10:30:15 [GROUP,OWNER] (RWED,RWED,RE,)"),
              "LONGNAME.TXT|6144|0|0|GROUP,OWNER||2003-01-12 10:30");
    EXPECT_EQ(p.VmsPendingLine, "");
    EXPECT_EQ(render(p, ftpstVmsMultinet, "SUBDIR.DIR;1 12 12-JAN-2003 10:30:15 x"),
              "SUBDIR|6144|1|0|||2003-01-12 10:30");
    EXPECT_EQ(render(p, ftpstVmsUcx, "Total of 2 files"), "-");
    EXPECT_EQ(render(p, ftpstVmsUcx, "BLOCKS.DAT;3 12/24 5-DEC-1999 23:01:02 x"),
              "BLOCKS.DAT|6144|0|0|||1999-12-05 23:01");  // blocks of 512 bytes
    EXPECT_EQ(render(p, ftpstVmsUcx, "ALONE.TXT;2"), "-");
    // Whatever line comes next is joined to a waiting name.
    EXPECT_EQ(render(p, ftpstVmsUcx, "no semicolon here"), "ALONE.TXT||0|0|||fallback");
    // A joined line whose name is still missing does not wait again.
    EXPECT_EQ(render(p, ftpstVmsUcx, " X;1"), "-");
    EXPECT_EQ(render(p, ftpstVmsUcx, " Y;1"), "-");
    EXPECT_EQ(p.VmsPendingLine, "");
}

TEST(ListParser, TextFunctions)
{
    using namespace ListText;
    EXPECT_EQ(Field("a  b   c d", 0), "a");
    EXPECT_EQ(Field("a  b   c d", 2), "c");
    EXPECT_EQ(Field("a  b   c d", 3), "");  // the last field has no blank after it
    EXPECT_EQ(Field("a b", 5), "");
    EXPECT_EQ(Rest("a b  c d  e", 2), "c d  e");
    EXPECT_EQ(Rest("a b link -> target", 2), "link -> target");
    EXPECT_EQ(Rest("a b", 4), "");
    EXPECT_EQ(RestKeepingBlanks("a  b  c  d", 2, false), " c  d");
    EXPECT_EQ(RestKeepingBlanks("a b  name -> t", 2, true), " name");
    EXPECT_EQ(RestKeepingBlanks("a b  name -> t", 2, false), " name -> t");
    EXPECT_EQ(RestKeepingBlanks("a", 3, false), "");
}

TEST(ListParser, ProcessWideParserSharesVmsState)
{
    TRemoteEntry e;
    EXPECT_FALSE(ParseListLine(ftpstVmsUcx, "SHARED.TXT;1", e));
    EXPECT_TRUE(ParseListLine(ftpstVmsUcx, " 5 1-JAN-2020 00:00:00 x", e));
    EXPECT_EQ(e.Name, "SHARED.TXT");
    TFTPServerType t = ftpstDefault;
    EXPECT_TRUE(ServerTypeFromName("netware", t));
    EXPECT_EQ(t, ftpSTNetware);
    EXPECT_TRUE(ServerTypeFromName("VmsUcx", t));
    EXPECT_EQ(t, ftpstVmsUcx);
    EXPECT_FALSE(ServerTypeFromName("ftpstUNIX", t));
}

// A listing is laid out one way: its first entry fixes the layout, and a
// line of another shape in it is no entry; the next listing chooses afresh.
// A VMS name waiting for its fields is no entry and fixes nothing.
TEST(ListParser, OneLayoutPerListing)
{
    TListParser p = fixedClock();
    const std::string unixLine = "-rw-r--r-- 1 a b 5 Jan 12 2003 x";
    EXPECT_EQ(render(p, ftpstUNIX, "total 3"), "-");
    EXPECT_EQ(p.Layout(), TListLayout::None);
    EXPECT_EQ(render(p, ftpstUNIX, "12-25-03  09:05AM                 1234 file.txt"), "file.txt|1234|0|0|||2003-12-25 09:05");
    EXPECT_EQ(p.Layout(), TListLayout::Dos);
    EXPECT_EQ(render(p, ftpstUNIX, unixLine), "-");
    p.BeginListing();
    EXPECT_EQ(render(p, ftpstUNIX, unixLine), "x|5|0|0|a|b|2003-01-12");
    EXPECT_EQ(p.Layout(), TListLayout::Unix);
    // A Windows server listing in Unix form keeps to it.
    p.BeginListing();
    EXPECT_EQ(render(p, ftpstWin2K, unixLine), "x|5|0|0|a|b|2003-01-12");
    EXPECT_EQ(render(p, ftpstWin2K, "drwx------ 4 maxm Domain Users 512 Oct 2 2003 .metadata"),
              ".metadata|512|1|0|maxm|Domain Users|2003-10-02");
    // VMS: the name line waits, its continuation is read by the same layout.
    p.BeginListing();
    EXPECT_EQ(render(p, ftpstVmsUcx, "A.TXT;1 1 1-JAN-2020 10:00"), "A.TXT|512|0|0|||2020-01-01 10:00");
    EXPECT_EQ(render(p, ftpstVmsUcx, "LONG_NAME.TXT;12"), "-");
    EXPECT_EQ(render(p, ftpstVmsUcx, "   4/15   24-FEB-2003 13:17:24  [POSTWARE,LP]    (RWED,RWED,RE,)"),
              "LONG_NAME.TXT|2048|0|0|POSTWARE,LP||2003-02-24 13:17");
    // The process-wide parser, shared by callers line by line, fixes nothing.
    TRemoteEntry e;
    EXPECT_TRUE(ParseListLine(ftpstUNIX, "12-25-03  09:05AM                 1234 file.txt", e));
    EXPECT_TRUE(ParseListLine(ftpstUNIX, unixLine, e));
}

// MLSD lines asked for as such: the facts say what an entry is; times are
// UTC, shown local; the listed folder and its parent are no rows; a line
// without facts is a name.
TEST(ListParser, MlsdFacts)
{
    TListParser p = fixedClock();
    TRemoteEntry e;
    ASSERT_TRUE(p.ParseMlsdLine("type=dir;modify=20240102030405;UNIX.owner=ann;UNIX.group=staff; My Docs", e));
    EXPECT_EQ(e.Name, "My Docs");
    EXPECT_TRUE(e.IsDir);
    EXPECT_EQ(e.Owner, "ann");
    EXPECT_EQ(e.Group, "staff");
    const QDateTime local = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC).toLocalTime();
    EXPECT_EQ(ListText::DateKey(e.Date), local.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString());
    e = TRemoteEntry();
    ASSERT_TRUE(p.ParseMlsdLine("Type=OS.unix=slink:/etc/x;Size=9; link", e));
    EXPECT_TRUE(e.IsLink);
    EXPECT_EQ(e.Size, 9);
    e = TRemoteEntry();
    ASSERT_TRUE(p.ParseMlsdLine(" /no/facts", e));
    EXPECT_EQ(e.Name, "/no/facts");
    for (const char* none : {"type=cdir; /pub", "type=pdir; /", "type=file;", "x"})
        EXPECT_FALSE(p.ParseMlsdLine(none, e)) << none;
    // A broken fact costs only itself in an answer to MLSD, and the whole
    // line in a LIST answer (where it would be no MLSD line).
    e = TRemoteEntry();
    ASSERT_TRUE(p.ParseMlsdLine("Type=dir;Size; x", e));
    EXPECT_EQ(e.Mode, -1);
    for (const auto& [mode, read] : {std::pair<const char*, int>{"0640", 640}, {"755", 755}, {"100644", 644},
                                     {"0689", -1}, {"", -1}, {"rwx", -1}}) {
        e = TRemoteEntry();
        ASSERT_TRUE(p.ParseMlsdLine(std::string("type=file;UNIX.mode=") + mode + "; f", e));
        EXPECT_EQ(e.Mode, read) << mode;
    }
    e = TRemoteEntry();
    ASSERT_TRUE(p.ParseMlsdLine("Type=dir;Size; x", e));
    EXPECT_TRUE(e.IsDir);
    EXPECT_EQ(e.Name, "x");
    // An impossible time is no time, not a wrong one.
    e = TRemoteEntry();
    ASSERT_TRUE(p.ParseMlsdLine("type=file;modify=20241341256161; odd", e));
    EXPECT_EQ(e.Date.Kind, TListingDate::None);
}

// Blanks, tabs and line ends inserted at every position of every line: the
// parser must neither crash nor read out of range (run under the sanitizers).
TEST(ListParser, RobustnessPass)
{
    const std::vector<std::string> lines = {"-rw-r--r-- 1 webmaster staff 1234 Jan 12 2003 notes.txt",
                                            "lrwxrwxrwx 1 root root 7 Jan 12 2003 lib -> usr/lib",
                                            "01-12-03  10:30PM       <DIR>          Program Files",
                                            "     0           DIR   08-20-98   16:54  docs",
                                            "SUBDIR.DIR;1 12 12-JAN-2003 10:30:15 x",
                                            "VOL001 3390   2003/01/12  1   15  FB     80  6160  PO  SRC.LIB",
                                            "d [RWCEAFMS] supervisor   512 Jan 12 2003 PUBLIC",
                                            "-rw-r--r-- 1 a b 5 Jan 12 2003 \x1b[01;32mcolour\x1b[0m",
                                            "Type=file;Size=431;Modify=20130303210732;UNIX.mode=0664; HEADER.html",
                                            "QSYS            77824 02/23/00 15:09:55 *DIR 44-ibm-as400 dir/",
                                            "2048    Feb-28-1998  05:23:30   49-nortel-vxworks dir <DIR>",
                                            "20.20 07/03/29 1026 d-ewrewr 2650 85920 51-OS-9 dir",
                                            "48-nortel-wfftp-file       1014196  06/03/04  Thur.   10:20:03",
                                            "57-HP_NonStop 101 528 6-Apr-07 14:21:18 255, 0 \"oooo\"",
                                            "0  Dec 12, 2002 02:13 22-vshell-old dir/",
                                            "0100644   500  101   12345    123456789       20-unix-numerical file",
                                            "-r--r--r-- 1 root root 2096 8\xed 17 08:52 34-asian date file",
                                            "crw-r----- 1 root kmem 0, 27 Jan 30 11:42 kmem"};
    TListParser p;
    int parsed = 0;
    for (const std::string& base : lines)
        for (size_t pos = 0; pos <= base.size(); ++pos)
            for (const char* insert : {" ", "\t", "\r", "\n", "  ", ":", "\x1b", "/", "-", ","})
                for (int type = 0; type < FtpServerTypeCount; ++type) {
                    std::string line = base;
                    line.insert(pos, insert);
                    TRemoteEntry e;
                    // Each layout chosen afresh, then the line read by the
                    // layout an earlier line fixed (readers meet any shape).
                    p.BeginListing();
                    parsed += p.ParseListLine(static_cast<TFTPServerType>(type), line, e) ? 1 : 0;
                    for (size_t cut : {pos, line.size() / 2})
                        p.ParseListLine(static_cast<TFTPServerType>(type), line.substr(0, cut), e);
                    p.ParseMlsdLine(line, e);
                }
    EXPECT_GT(parsed, 0);
}
