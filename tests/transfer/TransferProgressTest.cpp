#include "transfer/TransferProgress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(TransferProgress, FiguresOfAResumedFileAndOfAQueue)
{
    // 2,000,000 bytes resumed at 500,000, another 500,000 moved in 10 s.
    TProgressFigures f;
    f.seconds = 10;
    f.bytesMoved = 500'000;
    f.resumePos = 500'000;
    f.fileSize = 2'000'000;
    f.queueBytes = 3'000'000;
    f.filesLeft = 1;
    TProgressDisplay d = ComputeProgress(f);
    EXPECT_EQ(d.elapsed, "逝去:00:00:10");
    EXPECT_EQ(d.remaining, "剩余:00:00:20");
    EXPECT_EQ(d.percent, 50);
    EXPECT_EQ(d.text, "1,000,000 (48.83 KB/s)");
    EXPECT_EQ(d.title, "FTP - 2 文件  (00:00:40)");
    f.showCps = true;
    EXPECT_EQ(ComputeProgress(f).text, "1,000,000 (50000 cps)");

    // Nothing moved yet: no speed, an empty bar, no guess at the time left.
    f.bytesMoved = 0;
    d = ComputeProgress(f);
    EXPECT_FALSE(d.speedKnown);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.percent, 0);
    EXPECT_EQ(d.remaining, "");

    // No sizes anywhere: the queue's time is unknown.
    f = {};
    f.seconds = 4;
    f.bytesMoved = 4096;
    d = ComputeProgress(f);
    EXPECT_EQ(d.title, "FTP - 1 文件 (--:--:--)");
    EXPECT_EQ(d.text, "4,096 (1.00 KB/s)");

    // A server that sends more than it announced never shows over 100 %.
    f.fileSize = 1000;
    f.queueBytes = 1'000'000;
    EXPECT_EQ(ComputeProgress(f).percent, 100);
}

TEST(TransferProgress, ClockAndNumberTexts)
{
    EXPECT_EQ(ClockText(0), "00:00:00");
    EXPECT_EQ(ClockText(3661), "01:01:01");
    EXPECT_EQ(ClockText(3'600'000), "1000:00:00");
    EXPECT_EQ(ClockText(-5), "00:00:00");
    EXPECT_EQ(GroupedNumber(0), "0");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1'048'576), "1,048,576");
    EXPECT_EQ(GroupedNumber(-1234), "-1,234");
    EXPECT_EQ(FinishedSpeedText(1'000'000, 0, false), "1000000.00 KB/s)");  // 0 ms counts as 1
    EXPECT_EQ(FinishedSpeedText(1'000'000, 2000, true), "500000.00 cps)");
}

TEST(TransferProgress, TransferLogLinesKeepTheirColumns)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/xfer.log").toStdString();
    TTransferLogRecord r;
    r.remoteFile = "a\tb\nc.txt";  // a server's name must not add columns or lines
    r.bytes = 1234;
    r.localHost = "127.0.0.1";
    r.server = "127.0.0.1";
    r.started = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    r.seconds = 3;
    r.success = true;
    ASSERT_TRUE(AppendTransferLog(path, r));
    r.upload = true;
    r.success = false;
    ASSERT_TRUE(AppendTransferLog(path, r));
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList get = lines[0].split('\t');
    ASSERT_EQ(get.size(), 8);
    EXPECT_EQ(get[0], "GET");
    EXPECT_EQ(get[1], "a b c.txt");
    EXPECT_EQ(get[2], "1234");
    EXPECT_EQ(get[6], "3");
    EXPECT_EQ(get[7], "Success");
    EXPECT_TRUE(lines[1].startsWith("PUT\t"));
    EXPECT_TRUE(lines[1].endsWith("\tFailed"));

    // A log that cannot be written says so (the caller turns the log off).
    EXPECT_FALSE(AppendTransferLog(dir.path().toStdString(), r));
    EXPECT_FALSE(AppendTransferLog((dir.path() + "/no/such/dir/x.log").toStdString(), r));
}

}  // namespace
