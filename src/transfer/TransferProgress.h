#pragma once
// How far the running transfer is: every 300 ms the elapsed and remaining
// time, the byte count and speed, and the queue's file count and time left
// for the window title. The same tick watches for a final reply that never
// comes (hang) and for a data connection that stops moving (stall). After
// each file: the transfer log line and the site's statistics.

#include "ftp/Ftp.h"
#include "sites/Settings.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

// "%.2d:%.2d:%.2d"; hours take more digits past 99.
std::string ClockText(int64_t seconds);
// 1234567 -> "1,234,567".
std::string GroupedNumber(int64_t n);
// "1 文件", "3 文件": the files still to move, the running one included.
std::string FileCountText(int64_t files);

// What the tick reads, as plain numbers.
struct TProgressFigures {
    int64_t seconds = 0;     // whole seconds since the data connection stood
    int64_t bytesMoved = 0;  // in this transfer
    int64_t resumePos = 0;
    int64_t fileSize = 0;    // expected size of this file; 0 unknown
    int64_t queueBytes = 0;  // sizes of the file entries still queued
    int64_t filesLeft = 0;   // file entries queued less one
    bool showCps = false;
};

// What the display shows for one tick.
struct TProgressDisplay {
    std::string elapsed;    // "逝去:00:00:10"
    std::string remaining;  // "剩余:00:00:20"; empty when unknown
    int percent = 0;        // bar width, 0..100
    std::string text;       // "1,048,576 (102.40 KB/s)"; empty while nothing moves
    std::string title;      // "FTP - 3 文件  (00:01:05)"
    bool speedKnown = false;
};
TProgressDisplay ComputeProgress(const TProgressFigures& f);

// The speed part of the finished-transfer log line (the caller writes "(").
std::string FinishedSpeedText(int64_t bytes, uint32_t elapsedMs, bool showCps);

// One line of the transfer log: eight tab-separated fields.
struct TTransferLogRecord {
    bool upload = false;
    std::string remoteFile;
    int64_t bytes = 0;
    std::string localHost, server;
    QDateTime started;
    int64_t seconds = 0;
    bool success = false;
};
std::string TransferLogLine(const TTransferLogRecord& r);
// Appends the line; false when the file cannot be opened or written.
bool AppendTransferLog(const std::string& path, const TTransferLogRecord& r);

// The status bar as the progress sees it.
class IProgressView {
public:
    virtual ~IProgressView() = default;
    virtual void ShowTransferPanels() = 0;
    virtual void ShowNormalPanels() = 0;
    virtual void ClearProgress() = 0;
    virtual void ShowProgress(const TProgressDisplay& d) = 0;
    virtual void SetTitle(const std::string& title) = 0;
};

class TTransferProgress : public QObject {
    Q_OBJECT

public:
    TTransferProgress(TFTPclient& client, const TSettings& settings, IProgressView& view, QObject* parent = nullptr);

    // The queue's figures, read at every tick.
    std::function<int64_t()> QueueBytes;
    std::function<int64_t()> FilesLeft;
    std::function<int64_t()> CurrentFileSize;
    std::function<bool()> Transferring;
    // Data finished, the final reply never came: the file counts as done.
    std::function<void()> OnHung;
    // No data for longer than the packet time-out: reconnect and resume.
    std::function<void()> OnStalled;
    // Files moving on transfer connections: their sum instead of this
    // client's file (false: none move, this client's figures count).
    std::function<bool(TProgressFigures& figures)> OtherConnections;

    void ShowTransferPanels();
    void ShowNormalPanels();
    // At each head: the timer stops and the display empties.
    void Reset();
    // A new head while transferring: "waiting" until figures come.
    void Waiting();
    // A file's transfer starts (its start time for the log, stall counters).
    void FileStarted();
    void DataConnected() { m_timer.start(); }
    void Stop() { m_timer.stop(); }
    bool Running() const { return m_timer.isActive(); }
    // The size the server announces for a binary download started without
    // one; it then counts as the file's size and in the queue's bytes.
    void SizeAnnounced(const std::string& text);
    // The transfer log line (success as the client saw it unless given); a
    // failure to write turns the log off until restart.
    void LogTransfer(bool upload, std::optional<bool> success = std::nullopt);
    // The same line for a file another connection moved.
    void LogTransferOf(bool upload, const std::string& remoteFile, int64_t bytes, uint32_t milliseconds,
                       bool success);
    // One tick (the timer's, or a test's with its own clock).
    void Tick(uint32_t now);

private:
    void writeLog(bool upload, const std::string& remoteFile, int64_t bytes, uint32_t milliseconds, bool success,
                  const QDateTime& started);
    TFTPclient& m_ftp;
    const TSettings& m_settings;
    IProgressView& m_view;
    QTimer m_timer;
    bool m_logOff = false;  // a write failed: off until the program starts again
    QDateTime m_fileStart;
    bool m_panels = false;  // the transfer layout is up
    int64_t m_announced = 0;
    int64_t m_lastShown = 0;
    int64_t m_stallPackets = 0;
    int64_t m_stallSince = 0;
};
