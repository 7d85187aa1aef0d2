#pragma once
// The crash log: an exception that reaches the event loop rewrites error.log
// in the data directory with what was going on, and the user is told where
// it is; the program goes on.

#include <QString>

#include <functional>
#include <string>

struct TCrashContext {
    bool connected = false;  // the control connection is open
    int sessionState = 0;
    std::string systemType;  // the server's "SYST" reply as stored
};

// Writes the six lines of error.log; returns its path (empty on failure).
QString WriteCrashLog(const QString& dataDirectory, const std::string& message, const TCrashContext& context);
// The message shown after a crash log was written.
std::string CrashMessage(const QString& logPath);
