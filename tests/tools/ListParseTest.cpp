// listparse: the tool over a listing mixing layouts and a VMS continuation.
#include <QProcess>

#include <gtest/gtest.h>

TEST(ListParseTool, PrintsOneLinePerInputLine)
{
    QProcess p;
    p.start(QStringLiteral(LISTPARSE_PATH), {});
    ASSERT_TRUE(p.waitForStarted());
    p.write(
        "UNIX\t-rw-r--r-- 1 webmaster staff 1234 Jan 12 2003 notes.txt\n"
        "unix\ttotal 12\n"
        "Win2K\t01-12-03  10:30PM       <DIR>          Program Files\r\n"
        "VmsUcx\tLONGNAME.TXT;1\n"
        "vmsucx\t      12  12-JAN-2003 10:30:15 [GROUP,OWNER] (RWED,RWED,RE,)\n"
        "Netware\td [RWCEAFMS] supervisor   512 Jan 12 2003 PUBLIC\n"
        "UNIX\tType=file;Size=3; tab\there\n"
        "bogus\tline\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 1);  // the bogus type
    EXPECT_EQ(p.readAllStandardOutput().toStdString(),
              "notes.txt\t1234\t0\t0\twebmaster\tstaff\t2003-01-12\n"
              "-\n"
              "Program Files\t0\t1\t0\t\t\t2003-01-12 22:30\n"
              "-\n"
              "LONGNAME.TXT\t6144\t0\t0\tGROUP,OWNER\t\t2003-01-12 10:30\n"
              "PUBLIC\t512\t1\t0\tsupervisor\t\t2003-01-12\n"
              // Each line is a listing of its own, and a tab in a name is escaped.
              "tab\\there\t3\t0\t0\t\t\t\n"
              "-\n");
}
