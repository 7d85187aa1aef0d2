#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>

bool WaitFor(const std::function<bool()>& cond, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

FtpRecorder::FtpRecorder(TFTPclient& client)
{
    client.OnFtpInfo = [this](TFTPclient*, FtpInfo info, const std::string& text) {
        events.push_back(std::to_string(info) + "\t" + text);
        kinds.push_back(info);
        if (info == fiCommandSent)
            commands.push_back(text);
    };
    client.OnFtpError = [this](TFTPclient*, FtpError error, const std::string& text) {
        events.push_back(std::to_string(error) + "\t" + text);
        kinds.push_back(error);
    };
    client.OnLoggedIn = [this](TFTPclient* c) {
        ++loggedIn;
        loggedInSuccess = c->Success();
    };
    client.OnFtpQuit = [this](TFTPclient*) { ++quit; };
}

bool FtpRecorder::has(int kind) const
{
    return count(kind) > 0;
}

bool FtpRecorder::has(int kind, const std::string& text) const
{
    return std::find(events.begin(), events.end(), std::to_string(kind) + "\t" + text) != events.end();
}

int FtpRecorder::count(int kind) const
{
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

std::vector<int> FtpRecorder::flow() const
{
    std::vector<int> out;
    for (int k : kinds)
        if (k != fiReplyLine && (k < fiMultiLineFirst || k > fiMultiLineInner))
            out.push_back(k);
    return out;
}

std::string FtpRecorder::dump() const
{
    std::string out;
    for (const auto& e : events)
        out += e + "\n";
    return out;
}
