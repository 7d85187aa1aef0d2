#pragma once
#include "ScriptServer.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// Lets tests drive the reply reader directly, without a connection.
struct FtpClientTestAccess {
    static void replyLine(TFTPclient& c, const std::string& line) { c.ReplyLine(line); }
    static void setReplyState(TFTPclient& c, int32_t state) { c.SetReplyState(state); }
};

// The replies of a plain login after the greeting, by command: USER, PASS,
// SYST, REST 100, REST 0, PWD.
inline std::vector<ScriptReply> plainLoginReplies(const std::string& syst = "215 UNIX Type: L8")
{
    return {{"USER", "331 Password required"},
            {"PASS", "230 Logged in"},
            {"SYST", syst},
            {"REST 100", "350 Restarting at 100"},
            {"REST 0", "350 Restarting at 0"},
            {"PWD", "257 \"/home/bob\" is the current directory"}};
}

inline const std::vector<std::string> plainLoginCommands = {"USER bob", "PASS secret", "SYST",
                                                            "REST 100", "REST 0",      "PWD"};

class ScriptedLogin : public ::testing::Test {
protected:
    ScriptServer server;
    TFTPclient ftp;
    FtpRecorder rec{ftp};

    void SetUp() override
    {
        ftp.FtpServer = "127.0.0.1";
        ftp.Port = server.port();
        ftp.UserName = "bob";
        ftp.UserPassword = "secret";
        ftp.Timeout = 5;
        ftp.Retry = 1;
        ftp.ServerDetect = true;
    }

    // Connects and runs the loop until the login ended one way or another.
    bool login(int ms = 10000)
    {
        ftp.Connect();
        return WaitFor([&] { return rec.loggedIn > 0 || rec.has(fiAttemptsExhausted) || rec.quit > 0; }, ms);
    }
};

// The login replies, then more.
inline std::vector<ScriptReply> loginThen(std::vector<ScriptReply> more)
{
    auto r = plainLoginReplies();
    r.insert(r.end(), more.begin(), more.end());
    return r;
}

class ScriptedTransfer : public ScriptedLogin {
protected:
    QTemporaryDir dir;
    int& done = rec.done;
    bool& doneSuccess = rec.doneSuccess;
    bool waitDone(int ms = 10000)
    {
        return WaitFor([&] { return done > 0; }, ms);
    }
    QString local(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    // Downloads name into the test's folder in the given mode; true when it ended.
    bool get(const char* name, TTransferType mode)
    {
        ftp.RemoteFile = name;
        ftp.LocalFile = local(name).toStdString();
        ftp.TransferMode = mode;
        done = 0;
        ftp.Download(false, false, 0);
        return waitDone();
    }
};
