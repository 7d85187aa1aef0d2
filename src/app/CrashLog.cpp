#include "app/CrashLog.h"

#include "sites/IniFile.h"

#include <QDateTime>
#include <QLocale>

QString WriteCrashLog(const QString& dataDirectory, const std::string& message, const TCrashContext& c)
{
    const QString path = dataDirectory + QStringLiteral("error.log");
    const std::string text =
        "生成日志文件: " +
        QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat).toStdString() +
        "\r\nE = " + message + "\r\nV = 2.7.5.610\r\nCS = " + (c.connected ? "1" : "0") +
        "\r\nLC = " + std::to_string(c.sessionState) + "\r\nST = " + c.systemType + "\r\n";
    std::string error;
    return WriteFileAtomically(path.toStdString(), text, error) ? path : QString();
}

std::string CrashMessage(const QString& logPath)
{
    return "一内部错误发生. 文件: \"" + logPath.toStdString() +
           "\" 已被创建并包含此错误信息.  请发送此文件到: 开发者, 并简要描述你在此之前做了什么.  感谢您!";
}
