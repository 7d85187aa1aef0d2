// The transfer queue of the real main window, measured.
//   queue_bench tree PORT FOLDER [INTO]  a remote folder downloaded through the queue
//   queue_bench file PORT NAME [INTO]    one (large) file through the queue, with the
//                                  longest pause of the event loop meanwhile
//   queue_bench entries N          N entries added to the shown queue one by
//                                  one, then the head removed N times
//   queue_bench browse PORT FOLDER BIG [INTO]  the folder BIG listed again in
//                                  the remote pane, idle and while FOLDER's
//                                  files download on 4 transfer connections
// Prints seconds, processor time, peak memory.
#include "BenchSupport.h"
#include "app/Main.h"
#include "session/QueueRun.h"
#include "widgets/QueueView.h"
#include "widgets/corvview.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until cond holds (checked every 20 ms) or ms pass.
bool waitFor(const std::function<bool()>& cond, int ms)
{
    if (cond())
        return true;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (cond())
            loop.quit();
    });
    tick.start(20);
    QTimer::singleShot(ms, &loop, [&] { loop.exit(1); });
    return loop.exec() == 0;
}

int transfer(TfrmMain& w, const char* port, const QString& name, const QString& into, bool pauses)
{
    w.LocalPane().SetDirectory(into);
    // QB_ADDRESS: another address for the field (an sftp:// one, with QB_SSH_DIR's keys).
    const char* address = std::getenv("QB_ADDRESS");
    w.QuickConnect().ServerField()->setEditText(address && *address
                                                    ? QString::fromLocal8Bit(address)
                                                    : QStringLiteral("127.0.0.1:ftptest:ftppass:%1").arg(port));
    if (const char* ssh = std::getenv("QB_SSH_DIR"))
        w.FTP().SshDir = ssh;
    w.QuickConnect().Connect();
    auto idle = [&] { return w.Workflow().State() == SessionState::Idle; };
    if (!waitFor(idle, 60000)) {
        std::fprintf(stderr, "no login\n");
        return 1;
    }
    w.RemotePane().View()->SelectWhere([&](int r) { return w.RemotePane().View()->Text(r, 0) == name; });
    if (w.RemotePane().View()->SelectedRows().empty()) {
        std::fprintf(stderr, "no row %s\n", qPrintable(name));
        return 1;
    }
    // The longest gap between two ticks of a 5 ms timer, less its interval:
    // how long the window could not answer the user.
    QElapsedTimer gap;
    int64_t longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] { longest = std::max<int64_t>(longest, gap.restart() - 5); });
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    if (pauses) {
        gap.start();
        probe.start(5);
    }
    w.QueuePanel().mnuDownloadClick();
    const auto ended = [&] { return idle() && w.QueueRun().State() == SessionState::Idle; };
    if (!waitFor(ended, 3'600'000)) {
        std::fprintf(stderr, "run did not end\n");
        return 1;
    }
    probe.stop();
    const double secs = t.nsecsElapsed() / 1e9;
    std::printf("seconds %.3f\ncpu %.3f\npeak %ld KiB\n", secs, cpuSeconds() - cpu0, peakKiB());
    if (pauses)
        std::printf("longest event-loop pause %lld ms\n", static_cast<long long>(longest));
    return 0;
}

// The remote pane's folder listed again from the server; seconds, or -1.
double relist(TfrmMain& w)
{
    QElapsedTimer t;
    t.start();
    w.RemotePane().Refresh();
    if (!waitFor([&] { return w.Workflow().State() == SessionState::Idle; }, 600000))
        return -1;
    return t.nsecsElapsed() / 1e9;
}

int browse(TfrmMain& w, const char* port, const QString& folder, const QString& big, const QString& into)
{
    w.LocalPane().SetDirectory(into);
    w.QuickConnect().ServerField()->setEditText(QStringLiteral("127.0.0.1:ftptest:ftppass:%1").arg(port));
    w.QuickConnect().Connect();
    auto idle = [&] { return w.Workflow().State() == SessionState::Idle; };
    if (!waitFor(idle, 60000)) {
        std::fprintf(stderr, "no login\n");
        return 1;
    }
    const std::string root = w.RemotePane().CurrentPath();
    int row = -1;
    for (int i = 0; i < w.RemotePane().View()->RowCount() && row < 0; ++i)
        if (w.RemotePane().View()->Text(i, 0) == big)
            row = i;
    if (row < 0) {
        std::fprintf(stderr, "no row %s\n", qPrintable(big));
        return 1;
    }
    w.RemotePane().View()->EmitDoubleClick(row);
    if (!waitFor(idle, 600000))
        return 1;
    double quiet = -1, busy = -1;
    for (int i = 0; i < 3; ++i) {
        const double s = relist(w);
        quiet = quiet < 0 || s < quiet ? s : quiet;
    }
    const int rows = w.RemotePane().View()->RowCount();
    // The files of FOLDER down on 4 transfer connections, under a limit that
    // keeps them moving for the listings.
    w.Settings().MaxTransfers = 4;
    if (const char* limit = std::getenv("QB_LIMIT"))
        w.Settings().DownloadLimit = std::atoi(limit);
    w.QueueEntries().Append({{TEntryKind::DownloadDirectory, root + folder.toStdString() + "/", -1,
                              (into + "/" + folder + "/").toStdString()}});
    w.QueuePanel().queTransferClick();
    TTransferPool* pool = w.QueueRun().Pool();
    if (!waitFor([&] { return pool && pool->Running().size() == 4; }, 60000)) {
        std::fprintf(stderr, "no four transfers\n");
        return 1;
    }
    int counted = 0;
    for (int i = 0; i < 3; ++i) {
        const double s = relist(w);
        if (pool->Running().size() < 4)
            break;  // the listing did not run beside four transfers to its end
        busy = busy < 0 || s < busy ? s : busy;
        ++counted;
    }
    w.QueueRun().Abort();
    waitFor([&] { return w.QueueRun().State() == SessionState::Idle; }, 60000);
    if (counted == 0) {
        std::fprintf(stderr, "the transfers ended before a listing did: raise the files' size or lower QB_LIMIT\n");
        return 1;
    }
    std::printf("rows %d\nidle %.3f\nbusy %.3f\nratio %.2f\n", rows, quiet, busy, busy / quiet);
    return 0;
}

int entries(TfrmMain& w, long n)
{
    TTransferQueue& q = w.QueueEntries();
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuSeconds();
    for (long i = 0; i < n; ++i) {
        const std::string name = "file-" + std::to_string(i) + ".dat";
        q.Append({{TEntryKind::DownloadFile, "/pub/" + name, 1000 + i, "/tmp/dl/" + name}});
        if (i % 1000 == 0)
            QCoreApplication::processEvents();  // the view keeps up as it would
        if ((i + 1) % (n / 4) == 0)
            std::printf("added %ld: %.3f s\n", i + 1, t.nsecsElapsed() / 1e9);
    }
    QCoreApplication::processEvents();
    const double added = t.nsecsElapsed() / 1e9;
    const long peakAdded = peakKiB();
    t.restart();
    for (long i = 0; i < n; ++i) {
        q.RemoveHead();
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
        if ((i + 1) % (n / 4) == 0)
            std::printf("removed %ld: %.3f s\n", i + 1, t.nsecsElapsed() / 1e9);
    }
    QCoreApplication::processEvents();
    std::printf("add %.3f s, remove %.3f s, cpu %.3f s, peak %ld KiB (after adding %ld KiB)\n", added,
                t.nsecsElapsed() / 1e9, cpuSeconds() - cpu0, peakKiB(), peakAdded);
    return q.Empty() ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode != "entries" && argc < 4) || (mode == "entries" && argc < 3)) {
        std::fprintf(stderr, "usage: queue_bench tree|file PORT NAME | entries N\n");
        return 2;
    }
    QTemporaryDir data;
    if (const char* trust = std::getenv("QB_TRUST"); trust && *trust && mode != "entries") {
        // FTPS: the server's certificate trusted as a user would have kept it.
        std::ofstream(data.filePath(QStringLiteral("certificates.ini")).toStdString())
            << "[127.0.0.1:" << argv[2] << "]\r\nSHA256=" << trust << "\r\n";
    }
    TfrmMain w(data.path() + "/");
    w.Settings().UsePasv = true;
    w.Settings().FreeSpace = false;
    if (std::getenv("QB_NOREFRESH"))
        w.Settings().ReceiveRefresh = false;
    if (const char* n = std::getenv("QB_CONNECTIONS"))
        w.Settings().MaxTransfers = std::atoi(n);  // files at once on transfer connections
    w.show();
    if (mode == "entries")
        return entries(w, std::stol(argv[2]));
    QTemporaryDir scratch;
    if (mode == "browse") {
        if (argc < 5)
            return 2;
        const QString into = argc > 5 ? QString::fromLocal8Bit(argv[5]) : scratch.path();
        return browse(w, argv[2], QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]), into);
    }
    const QString into = argc > 4 ? QString::fromLocal8Bit(argv[4]) : scratch.path();
    return transfer(w, argv[2], QString::fromLocal8Bit(argv[3]), into, mode == "file");
}
