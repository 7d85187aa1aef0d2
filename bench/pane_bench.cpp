// A remote directory listed into the real main window: login, "LIST", parse,
// rows, sort and fitted columns, then the same directory shown again from the
// listing cache. Prints seconds and peak memory.
//   pane_bench PORT DIRECTORY   (DIRECTORY relative to the login directory)
#include "BenchSupport.h"
#include "app/Main.h"
#include "widgets/corvview.h"
#include "console/cxGraphics.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

namespace {
bool waitIdle(TfrmMain& w, int ms)
{
    // Blocks in the event loop as the program does (a loop of
    // processEvents with a time limit would poll without pause and take the
    // processor from the server being measured).
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (w.Workflow().State() == SessionState::Idle)
            loop.quit();
    });
    tick.start(2);  // fine enough not to add to the figure, rare enough not to compete
    QTimer::singleShot(ms, &loop, [&] { loop.exit(1); });
    return w.Workflow().State() == SessionState::Idle || loop.exec() == 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: pane_bench PORT DIRECTORY\n");
        return 2;
    }
    QTemporaryDir data;
    TfrmMain w(data.path() + "/");
    w.Settings().UsePasv = true;
    w.show();
    // A user clicks in a window already on the screen: its first layout and
    // paint (fonts, glyphs) are done before the clock starts.
    QCoreApplication::processEvents();
    w.repaint();
    QCoreApplication::processEvents();
    // "host|dir": the directory is entered relative to the login directory.
    const QString field =
        QStringLiteral("127.0.0.1|%1:ftptest:ftppass:%2").arg(QString::fromLocal8Bit(argv[2]), argv[1]);
    // Where the time goes, in milliseconds from the click: greeting, "LIST"
    // sent, data connection, first listing line, end of the listing data,
    // "226", first rows shown, the rows sorted and shown (idle). The clock is
    // read once per event, not per line: the product does not pay for it.
    QElapsedTimer since;
    double greeting = -1, listSent = -1, dataUp = -1, firstLine = -1, dataEnd = -1, complete = -1, firstRows = -1;
    const bool trace = std::getenv("PANE_TRACE") != nullptr;  // each command and reply, timed
    auto previous = w.FTP().OnFtpInfo;
    w.FTP().OnFtpInfo = [&, previous](TFTPclient* c, FtpInfo info, const std::string& text) {
        const auto now = [&] { return since.nsecsElapsed() / 1e6; };
        if (trace && (info == fiCommandSent || info == fiReplyLine))
            std::fprintf(stderr, "%7.1f %s %s\n", now(), info == fiCommandSent ? ">" : "<", text.c_str());
        if (info == fiListingLine) {
            if (firstLine < 0)
                firstLine = now();
        } else if (info == fiConnected && greeting < 0) {
            greeting = now();
        } else if (info == fiCommandSent && (text.rfind("LIST", 0) == 0 || text == "MLSD") && listSent < 0) {
            listSent = now();
        } else if (info == fiDataConnected && dataUp < 0) {
            dataUp = now();
        } else if (info == fiListingReady && dataEnd < 0) {
            dataEnd = now();
        } else if (info == fiTransferComplete && complete < 0) {
            complete = now();
        }
        previous(c, info, text);
    };
    QObject::connect(w.RemotePane().View()->View()->model(), &QAbstractItemModel::rowsInserted, &w, [&] {
        if (firstRows < 0 && firstLine >= 0)
            firstRows = since.nsecsElapsed() / 1e6;
    });
    w.QuickConnect().ServerField()->setEditText(field);
    const double cpuBefore = cpuMs();
    since.start();
    w.QuickConnect().Connect();
    if (!waitIdle(w, 120000)) {
        std::fprintf(stderr, "listing did not finish\n");
        return 1;
    }
    const double first = since.nsecsElapsed() / 1e9;
    const double cpu = cpuMs() - cpuBefore;
    std::printf(
        "timeline (ms): connected %.0f, listing sent %.0f, data connection %.0f, first line %.0f, data end %.0f, "
        "226 %.0f, shown %.0f\n",
        greeting, listSent, dataUp, firstLine, dataEnd, complete, first * 1000);
    const int rows = w.RemotePane().View()->RowCount();
    std::printf("data connection to last line %.3f s\n", w.FTP().TransferTime / 1000.0);
    std::printf("first listing line to first rows shown %.0f ms\n", firstRows - firstLine);
    std::printf("first listing line to last %.0f ms\n", dataEnd - firstLine);
    std::printf("processor time for the listing (all threads) %.0f ms\n", cpu);
    std::printf("peak memory after the listing %ld KiB\n", peakKiB());
    QElapsedTimer t;

    // Up and back in again: the second visit replays the cached listing.
    w.RemotePane().View()->EmitDoubleClick(0);  // ".."
    waitIdle(w, 60000);
    int back = -1;
    const QString name = QString::fromLocal8Bit(argv[2]).section(QLatin1Char('/'), -1);
    for (int i = 0; i < w.RemotePane().View()->RowCount() && back < 0; ++i)
        if (w.RemotePane().View()->Text(i, 0) == name)
            back = i;
    double cached = -1;
    if (back >= 0) {
        t.restart();
        w.RemotePane().View()->EmitDoubleClick(back);
        waitIdle(w, 60000);
        cached = t.nsecsElapsed() / 1e9;
    }
    std::printf(
        "rows %d\nlisted (login, LIST, parse, rows, sort, fit) %.3f s\nfrom the cache %.3f s\npeak memory %ld KiB\n",
        rows, first, cached, peakKiB());
    return 0;
}
