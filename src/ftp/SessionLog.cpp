#include "ftp/SessionLog.h"

#include <QTime>

#include <cstdio>

void AppendSessionLog(const std::string& path, const std::string& line, bool timestamp)
{
    if (path.empty())
        return;
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f)
        return;
    std::string text;
    if (timestamp)
        text = "[" + QTime::currentTime().toString(QStringLiteral("hh:mm:ss")).toStdString() + "] ";
    text += line;
    text += "\r\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}
