// Appending 100,000 coloured lines to a visible TWinConsole with MaxRecords
// 500: lines per second and resident memory at each tenth of the run.
#include "console/cxGraphics.h"

#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {
long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 100000;
    TWinConsole console;
    console.resize(800, 300);
    console.show();
    QApplication::processEvents();
    const QColor colors[] = {Qt::black, QColor(0, 128, 0), QColor(0, 0, 128), QColor(255, 0, 0)};
    const int step = total / 10;
    QElapsedTimer t;
    t.start();
    qint64 last = 0;
    std::printf("%8s %12s %10s\n", "lines", "lines/s", "RSS KiB");
    for (int i = 1; i <= total; ++i) {
        console.AddColoredLine(
            QStringLiteral("226 Transfer complete for file number %1 of the run, see ftp://127.0.0.1/pub").arg(i),
            colors[i % 4]);
        if (i % 50 == 0)
            QApplication::processEvents();  // paint as a running program would
        if (i % step == 0) {
            const qint64 now = t.nsecsElapsed();
            std::printf("%8d %12.0f %10ld\n", i, step / ((now - last) / 1e9), residentKiB());
            last = now;
        }
    }
    std::printf("kept %d lines; overall %.0f lines/s\n", console.LineCount(), total / (t.nsecsElapsed() / 1e9));
    return 0;
}
