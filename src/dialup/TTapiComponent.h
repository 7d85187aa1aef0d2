#pragma once
// TTapi: brings a dial-up connection up from a phone-book entry, redials
// after failures, watches the line while it is up and hangs it up.

#include "dialup/Ras2.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class TTapi : public QObject {
    Q_OBJECT

public:
    explicit TTapi(IRasBackend& backend = RasBackend(), QObject* parent = nullptr);
    ~TTapi() override;

    bool Available() const { return m_available; }
    std::string EntryName;
    int MaxRedials = 1;
    int RedialDelay = 10;      // seconds
    int GiveUpDelayMs = 5000;  // before a final failure is reported
    int HangUpPauseMs = 3000;  // the line needs this long before it can be dialled again
    std::vector<std::string> Entries;
    std::vector<std::string> ActiveConnections;
    std::function<void(TTapi*)> OnConnected;
    // Called once when dialling ends without a connection.
    std::function<void(TTapi*)> OnGiveUp;

    bool LoadEntry(const std::string& name);
    void Dial();
    void HangUp();
    bool EnumActiveConnections();
    uintptr_t FindConnection(const std::string& name);
    uintptr_t Connection() const { return m_connection; }
    int FailureCount() const { return m_failures; }

private:
    void DialAttempt();
    void Failed();
    void DialEvent(uintptr_t connection, int state, int error);
    void PollStatus();

    IRasBackend& m_backend;
    bool m_available;
    TDialParams m_params;
    uintptr_t m_connection = 0;
    int m_failures = 0;
    bool m_giveUpPending = false;
    qint64 m_lineFreeAt = 0;  // ms since epoch when the last hang-up's pause ends
    QTimer m_redialTimer;
    QTimer m_pollTimer;
};

// The main window's uses of the dialler.
bool RemoteAccessPresent();
// True when at least one dial-up connection is up.
bool AnyDialupActive();
// Hangs up the first active connection; log(text, isError) reports it
// unless quiet.
void HangUpActiveConnection(bool quiet, const std::function<void(const std::string&, bool)>& log);
