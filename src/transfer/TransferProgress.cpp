#include "transfer/TransferProgress.h"

#include "common/TextFormat.h"
#include "net/NewSocket.h"

#include <QFile>
#include <QLocale>

#include <charconv>
#include <cmath>
#include <cstdio>

std::string ClockText(int64_t seconds)
{
    seconds = std::max<int64_t>(seconds, 0);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.2lld:%.2lld:%.2lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return buf;
}

std::string GroupedNumber(int64_t n)
{
    return PaneSizeText(n).toStdString();
}

std::string FileCountText(int64_t files)
{
    return std::to_string(files) + " 文件";
}

TProgressDisplay ComputeProgress(const TProgressFigures& f)
{
    TProgressDisplay d;
    d.elapsed = "逝去:" + ClockText(f.seconds);
    const int64_t speed = f.seconds > 0 ? f.bytesMoved / f.seconds : 0;
    const std::string files = FileCountText(f.filesLeft + 1);
    d.title = "FTP - " + files + " (--:--:--)";
    if (speed == 0)
        return d;
    d.speedKnown = true;
    const int64_t done = f.bytesMoved + f.resumePos;
    const auto secondsFor = [speed](int64_t bytes) {
        return static_cast<int64_t>(std::llround(static_cast<double>(bytes) / static_cast<double>(speed)));
    };
    const int64_t fileLeft = secondsFor(f.fileSize - done);
    const int64_t queueLeft = secondsFor(f.queueBytes - done);
    char rate[64];
    if (f.showCps)
        std::snprintf(rate, sizeof rate, "%lld cps)", static_cast<long long>(speed));
    else
        std::snprintf(rate, sizeof rate, "%.2f KB/s)", static_cast<double>(speed) / 1024.0);
    d.text = GroupedNumber(done) + " (" + rate;
    if (queueLeft > 0 && f.fileSize > 0) {
        d.percent = static_cast<int>(std::clamp<int64_t>(
            std::llround(static_cast<double>(done) / static_cast<double>(f.fileSize) * 100.0), 0, 100));
        d.remaining = "剩余:" + ClockText(fileLeft);
        d.title = "FTP - " + files + "  (" + ClockText(queueLeft) + ")";
    }
    return d;
}

std::string FinishedSpeedText(int64_t bytes, uint32_t elapsedMs, bool showCps)
{
    const double ms = elapsedMs == 0 ? 1.0 : elapsedMs;
    char buf[64];
    if (showCps)
        std::snprintf(buf, sizeof buf, "%.2f cps)", static_cast<double>(bytes) / ms * 1000.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f KB/s)", static_cast<double>(bytes) / ms);
    return buf;
}

std::string TransferLogLine(const TTransferLogRecord& r)
{
    // A tab or line end inside a field would shift every later column.
    const auto field = [](std::string s) {
        for (char& c : s)
            if (c == '\t' || c == '\r' || c == '\n')
                c = ' ';
        return s;
    };
    const std::string started = QLocale::system().toString(r.started, QLocale::ShortFormat).toStdString();
    return std::string(r.upload ? "PUT" : "GET") + '\t' + field(r.remoteFile) + '\t' + std::to_string(r.bytes) + '\t' +
           field(r.localHost) + '\t' + field(r.server) + '\t' + started + '\t' + std::to_string(r.seconds) + '\t' +
           (r.success ? "Success" : "Failed") + '\n';
}

bool AppendTransferLog(const std::string& path, const TTransferLogRecord& r)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const std::string line = TransferLogLine(r);
    return f.write(line.data(), static_cast<qint64>(line.size())) == static_cast<qint64>(line.size()) && f.flush();
}

TTransferProgress::TTransferProgress(TFTPclient& client, const TSettings& settings, IProgressView& view,
                                     QObject* parent)
    : QObject(parent), m_ftp(client), m_settings(settings), m_view(view)
{
    m_timer.setInterval(300);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(TickCount()); });
}

void TTransferProgress::ShowTransferPanels()
{
    if (m_panels)
        return;
    m_panels = true;
    m_view.ShowTransferPanels();
}

void TTransferProgress::ShowNormalPanels()
{
    m_timer.stop();
    if (!m_panels)
        return;
    m_panels = false;
    m_view.ShowNormalPanels();
}

void TTransferProgress::Reset()
{
    m_timer.stop();
    m_lastShown = 0;
    m_announced = 0;
    m_view.ClearProgress();
}

void TTransferProgress::Waiting()
{
    if (Transferring && Transferring())
        m_view.SetTitle("FTP: 等待 (--:--:--)");
}

void TTransferProgress::FileStarted()
{
    m_fileStart = QDateTime::currentDateTime();
    m_stallPackets = 0;
    m_stallSince = 0;
}

void TTransferProgress::SizeAnnounced(const std::string& text)
{
    int64_t size = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
    const int64_t current = CurrentFileSize ? CurrentFileSize() : 0;
    if (ec == std::errc() && end == text.data() + text.size() && m_ftp.ExpectedSize == 0 && size > current &&
        m_ftp.TransferMode == BinaryTransfer)
        m_announced = size;
}

void TTransferProgress::LogTransfer(bool upload, std::optional<bool> success)
{
    writeLog(upload, m_ftp.RemoteFile, m_ftp.TransferBytes, m_ftp.TransferTime, success.value_or(m_ftp.Success()),
             m_fileStart.isValid() ? m_fileStart : QDateTime::currentDateTime());
}

void TTransferProgress::LogTransferOf(bool upload, const std::string& remoteFile, int64_t bytes,
                                      uint32_t milliseconds, bool success)
{
    writeLog(upload, remoteFile, bytes, milliseconds, success,
             QDateTime::currentDateTime().addMSecs(-static_cast<qint64>(milliseconds)));
}

void TTransferProgress::writeLog(bool upload, const std::string& remoteFile, int64_t bytes, uint32_t milliseconds,
                                 bool success, const QDateTime& started)
{
    if (m_logOff || m_settings.CustomLogFile.empty())
        return;
    TTransferLogRecord r;
    r.upload = upload;
    r.remoteFile = remoteFile;
    r.bytes = bytes;
    r.localHost = m_ftp.LocalHost();
    r.server = m_ftp.FtpServer;
    r.started = started;
    r.seconds = milliseconds / 1000;
    r.success = success;
    if (!AppendTransferLog(m_settings.CustomLogFile, r))
        m_logOff = true;
}

void TTransferProgress::Tick(uint32_t now)
{
    if (TProgressFigures f; OtherConnections && m_panels && OtherConnections(f)) {
        if (f.seconds < 1 || f.seconds == m_lastShown)
            return;
        m_lastShown = f.seconds;
        f.showCps = m_settings.ShowCps;
        const TProgressDisplay d = ComputeProgress(f);
        m_view.ShowProgress(d);
        if (d.speedKnown)
            m_view.SetTitle(d.title);
        return;
    }
    const int64_t secs = TFTPclient::TickDiff(m_ftp.TransferStart, now) / 1000;
    if (secs < 1 || secs == m_lastShown || !m_panels || !(Transferring && Transferring()))
        return;
    m_lastShown = secs;
    if (m_ftp.ReplyState() == rsTransfer && m_ftp.DataDone && !m_ftp.ReplyDone &&
        TFTPclient::TickDiff(m_ftp.DataSocket().LastActivity, now) > static_cast<uint32_t>(m_settings.HangTimeout)) {
        m_timer.stop();
        if (OnHung)
            OnHung();
        return;
    }
    if (m_settings.StallProtection) {
        if (m_ftp.PacketCount > m_stallPackets) {
            m_stallSince = secs;
            m_stallPackets = m_ftp.PacketCount;
        } else if (m_stallSince + m_settings.PacketTimeout < secs) {
            m_timer.stop();
            if (OnStalled)
                OnStalled();
            return;
        }
    }
    TProgressFigures f;
    f.seconds = secs;
    f.bytesMoved = m_ftp.TransferBytes;
    f.resumePos = m_ftp.ResumePos;
    f.fileSize = m_announced > 0 ? m_announced : (CurrentFileSize ? CurrentFileSize() : 0);
    f.queueBytes = (QueueBytes ? QueueBytes() : 0) + m_announced;
    f.filesLeft = FilesLeft ? FilesLeft() : 0;
    f.showCps = m_settings.ShowCps;
    const TProgressDisplay d = ComputeProgress(f);
    m_view.ShowProgress(d);
    if (d.speedKnown)
        m_view.SetTitle(d.title);
}
