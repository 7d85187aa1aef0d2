// ftpprobe: logs in to an FTP server with TFTPclient, optionally lists,
// downloads or uploads, and prints every information and error event, so a
// user can see why a server refuses them.
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

class Probe {
public:
    explicit Probe(const ProbeOptions& o) : m_o(o)
    {
        m_ftp.UserName = o.user;
        m_ftp.UserPassword = o.password;
        m_ftp.FirewallType = o.firewall;
        m_ftp.Retry = o.retry;
        m_ftp.RetryDelay = o.retryDelay;
        m_ftp.Timeout = o.timeout;
        m_ftp.InitialDirectory = o.directory;
        m_ftp.ServerDetect = true;
        m_ftp.ProxyUser = o.proxyUser;
        m_ftp.ProxyPass = o.proxyPass;
        m_ftp.UsePasv = o.passive;
        m_ftp.UseAppe = o.appe;
        m_ftp.UsePasvAddress = o.pasvAddress;
        m_ftp.TransferMode = o.ascii ? AsciiTransfer : BinaryTransfer;
        m_ftp.Tls = o.tls;
        m_ftp.OnCertificate = [trust = o.trust](TFTPclient* c, const TCertificateInfo& info) {
            std::fprintf(stderr, "ftpprobe: certificate %s (%s), SHA-256 %s\n", info.Subject.c_str(),
                         info.VerifyText.c_str(), info.Sha256.c_str());
            c->AnswerCertificate(!trust.empty() && trust == info.Sha256);
        };
        if (o.firewall == fwNone) {
            m_ftp.FtpServer = o.host;
            m_ftp.Port = static_cast<uint16_t>(o.port);
        } else {
            m_ftp.ProxyHost = o.proxyHost;
            m_ftp.ProxyPort = o.proxyPort;
            m_ftp.FtpServer = o.proxyHost;
            m_ftp.Port = static_cast<uint16_t>(o.proxyPort);
            m_ftp.SocksHost = o.host;
            m_ftp.SocksPort = o.port;
        }

        // Nothing in the protocol bounds a server that goes silent after the
        // greeting; the probe gives up when no event came for a while.
        m_quietLimit = (o.timeout > 0 ? o.timeout : 15) + o.retryDelay + 30;
        m_watchdog.setSingleShot(true);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
            TCustomCorvSocket& data = m_ftp.DataSocket();
            if (data.IsConnected() && TFTPclient::TickDiff(data.LastActivity, TickCount()) < 1000u * m_quietLimit) {
                m_watchdog.start();  // a transfer is still moving
                return;
            }
            std::fprintf(stderr, "ftpprobe: no answer for %d seconds\n", m_quietLimit);
            finish(1);
        });

        m_ftp.OnFtpInfo = [this](TFTPclient*, FtpInfo info, const std::string& text) {
            m_watchdog.start();
            if (info == fiReplyLine)
                m_lastReply = text;
            if (info != fiListingData)  // one per listing line, says nothing
                printEvent(info, text);
            if (info == fiAttemptsExhausted)
                finish(1);
        };
        m_ftp.OnFtpError = [this](TFTPclient*, FtpError err, const std::string& text) {
            m_watchdog.start();
            printEvent(err, text);
            // Local file problems end the command at once: no event follows.
            if (err == feLocalWrite || err == feLocalRead)
                finish(1);
        };
        m_ftp.OnFtpQuit = [this](TFTPclient*) { finish(1); };
        m_ftp.OnLoggedIn = [this](TFTPclient* c) {
            std::fprintf(stderr, "ftpprobe: logged in: %s; server type %s; resume %s; directory %s\n",
                         c->Success() ? "yes" : "no", ServerTypeName(c->ServerType).data(),
                         c->ResumeSupported ? "yes" : "no", c->InitialDirectory.c_str());
            if (!c->Success())
                finish(1);
            else
                startCommand();
        };
        m_ftp.OnRawCommand = [this](TFTPclient*) { rawReply(); };
        auto done = [this](TFTPclient* c) { transferDone(c->Success()); };
        m_ftp.OnListingDone = done;
        m_ftp.OnFileReceived = done;
        m_ftp.OnFileStored = done;
    }

    int run()
    {
        m_watchdog.start(m_quietLimit * 1000);
        QTimer::singleShot(0, [this] { m_ftp.Connect(); });
        QCoreApplication::exec();
        return m_status;
    }

private:
    void finish(int code)
    {
        m_status = code;
        QTimer::singleShot(0, [this] {
            m_ftp.Close();
            QCoreApplication::quit();
        });
    }

    void startCommand()
    {
        m_started = TickCount();
        switch (m_o.command) {
            case ProbeOptions::Command::None:
                finish(0);
                break;
            case ProbeOptions::Command::List:
                m_ftp.List();
                break;
            case ProbeOptions::Command::Get:
                m_ftp.RemoteFile = m_o.source;
                m_ftp.LocalFile = m_o.target;
                m_ftp.Download(m_o.resume, false, 0);
                break;
            case ProbeOptions::Command::Put:
                m_ftp.LocalFile = m_o.source;
                m_ftp.RemoteFile = m_o.target;
                if (m_o.resume && !m_o.ascii) {
                    // The remote size tells where to restart; SIZE wants binary mode.
                    m_sizeStep = 1;
                    m_ftp.SendRawCommand("TYPE I");
                } else {
                    m_ftp.ResumePos = 0;
                    m_ftp.Upload(false);
                }
                break;
        }
    }

    void rawReply()
    {
        if (m_sizeStep == 1) {
            m_sizeStep = 2;
            m_ftp.SendRawCommand("SIZE " + m_o.target);
            return;
        }
        m_sizeStep = 0;
        int64_t size = 0;
        if (m_lastReply.compare(0, 4, "213 ") == 0)
            size = std::strtoll(m_lastReply.c_str() + 4, nullptr, 10);
        m_ftp.ResumePos = size;
        m_started = TickCount();
        m_ftp.Upload(false);
    }

    void transferDone(bool success)
    {
        const double seconds = TFTPclient::TickDiff(m_started, TickCount()) / 1000.0;
        const double mbps = seconds > 0 ? m_ftp.TransferBytes / seconds / 1e6 : 0.0;
        std::printf("# %lld bytes in %.3f s, %.2f MB/s\n", static_cast<long long>(m_ftp.TransferBytes), seconds, mbps);
        std::fflush(stdout);
        finish(success ? 0 : 1);
    }

    const ProbeOptions& m_o;
    TFTPclient m_ftp;
    QTimer m_watchdog;
    int m_quietLimit = 0;
    int m_status = 1;
    uint32_t m_started = 0;
    int m_sizeStep = 0;
    std::string m_lastReply;
};

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
    Probe probe(*options);
    return probe.run();
}
