#pragma once
// What a run nobody watches (no display, QUIT=YES, a script from the command
// line) tells on the standard error output, where cron mails it and a
// service manager logs it: each error as it is logged, and one summary line
// when the program ends. Qt's own warnings about the offscreen platform are
// left out of that output.

#include <cstdio>
#include <string>

class TRunReport {
public:
    explicit TRunReport(std::FILE* out = stderr) : m_out(out) {}
    void SetEnabled(bool on) { m_enabled = on; }
    bool Enabled() const { return m_enabled; }
    // A log line; only errors are told.
    void Line(const std::string& text, bool error) const;
    // The last line: the exit status and what the run moved and left.
    void Summary(int status, int transferred, int failed, int queued) const;

    // Drops Qt's warnings that an offscreen run always gets (and nothing
    // else) before they reach the standard error output.
    static void FilterQtNoise();

private:
    std::FILE* m_out;
    bool m_enabled = false;
};
