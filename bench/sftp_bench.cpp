// An SFTP session moving one file, measured.
//   sftp_bench get|put PORT REMOTE LOCAL   as "ftptest" with the key in SSH_DIR
// Prints seconds, processor time (all threads), peak memory.
#include "BenchSupport.h"
#include "sftp/Sftp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: sftp_bench get|put PORT REMOTE LOCAL\n");
        return 2;
    }
    const std::string mode = argv[1];
    TSftpSession s;
    s.AskHostKey = [](const THostKey&) { return true; };  // the bench's own server
    TSftpResult last;
    QEventLoop loop;
    QObject::connect(&s, &TSftpSession::Done, [&](const TSftpResult& r) {
        last = r;
        loop.quit();
    });
    TSftpLogin login;
    login.Host = "127.0.0.1";
    login.Port = std::atoi(argv[2]);
    login.User = "ftptest";
    login.SshDir = std::getenv("SSH_DIR") ? std::getenv("SSH_DIR") : "";
    login.UseAgent = false;
    s.Connect(login);
    loop.exec();
    if (!last.Success) {
        std::fprintf(stderr, "login: %s\n", last.Error.c_str());
        return 1;
    }
    const double cpu0 = cpuMs();
    QElapsedTimer t;
    t.start();
    QTimer tick;
    int64_t lastMoved = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (std::getenv("SFTP_TRACE"))
            std::fprintf(stderr, "%6.1f s %7.1f MB/s\n", t.nsecsElapsed() / 1e9, (s.Moved() - lastMoved) / 0.5e6);
        lastMoved = s.Moved();
    });
    tick.start(500);
    if (mode == "get")
        s.Download(argv[3], argv[4]);
    else
        s.Upload(argv[4], argv[3]);
    loop.exec();
    if (!last.Success) {
        std::fprintf(stderr, "%s: %s\n", mode.c_str(), last.Error.c_str());
        return 1;
    }
    std::printf("seconds %.3f\ncpu %.3f\npeak %ld KiB\nbytes %lld\n", t.nsecsElapsed() / 1e9, (cpuMs() - cpu0) / 1000,
                peakKiB(), static_cast<long long>(last.Bytes));
    return 0;
}
