// ftpprobe: logs in to an FTP server with TFTPclient and prints every
// information and error event, so a user can see why a server refuses them.
#include "ProbeOptions.h"
#include "ftp/Ftp.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {
void printEvent(int kind, const std::string& text)
{
    std::printf("%d\t%s\n", kind, text.c_str());
    std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ParseProbeOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "ftpprobe: %s\n\n%s", error.c_str(), ProbeUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(ProbeUsage, stdout);
        return 0;
    }
    const ProbeOptions& o = *options;

    TFTPclient ftp;
    ftp.UserName = o.user;
    ftp.UserPassword = o.password;
    ftp.FirewallType = o.firewall;
    ftp.Retry = o.retry;
    ftp.RetryDelay = o.retryDelay;
    ftp.Timeout = o.timeout;
    ftp.InitialDirectory = o.directory;
    ftp.ServerDetect = true;
    ftp.ProxyUser = o.proxyUser;
    ftp.ProxyPass = o.proxyPass;
    if (o.firewall == fwNone) {
        ftp.FtpServer = o.host;
        ftp.Port = static_cast<uint16_t>(o.port);
    } else {
        ftp.ProxyHost = o.proxyHost;
        ftp.ProxyPort = o.proxyPort;
        ftp.FtpServer = o.proxyHost;
        ftp.Port = static_cast<uint16_t>(o.proxyPort);
        ftp.SocksHost = o.host;
        ftp.SocksPort = o.port;
    }

    int status = 1;
    auto finish = [&](int code) {
        status = code;
        QTimer::singleShot(0, &app, [&ftp] {
            ftp.Close();
            QCoreApplication::quit();
        });
    };
    // Nothing in the login sequence bounds a server that goes silent after the
    // greeting; the probe gives up when no event came for a while.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    const int quietLimit = (o.timeout > 0 ? o.timeout : 15) + o.retryDelay + 5;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        std::fprintf(stderr, "ftpprobe: no answer for %d seconds\n", quietLimit);
        finish(1);
    });
    watchdog.start(quietLimit * 1000);

    ftp.OnFtpInfo = [&](TFTPclient*, FtpInfo info, const std::string& text) {
        watchdog.start();
        printEvent(info, text);
        if (info == fiAttemptsExhausted)
            finish(1);
    };
    ftp.OnFtpError = [&](TFTPclient*, FtpError err, const std::string& text) {
        watchdog.start();
        printEvent(err, text);
    };
    ftp.OnFtpQuit = [&](TFTPclient*) { finish(1); };
    ftp.OnLoggedIn = [&](TFTPclient* c) {
        std::fprintf(stderr, "ftpprobe: logged in: %s; server type %s; resume %s; directory %s\n",
                     c->Success() ? "yes" : "no", ServerTypeName(c->ServerType).data(),
                     c->ResumeSupported ? "yes" : "no", c->InitialDirectory.c_str());
        finish(c->Success() ? 0 : 1);
    };

    QTimer::singleShot(0, &app, [&ftp] { ftp.Connect(); });
    app.exec();
    return status;
}
