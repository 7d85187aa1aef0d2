#include "session/RunReport.h"

#include <QString>
#include <QtGlobal>

#include <cstring>

void TRunReport::Line(const std::string& text, bool error) const
{
    if (!m_enabled || !error)
        return;
    std::fprintf(m_out, "corvyne: %s\n", text.c_str());
    std::fflush(m_out);
}

void TRunReport::Summary(int status, int transferred, int failed, int queued) const
{
    if (!m_enabled)
        return;
    std::fprintf(m_out, "corvyne: %s (状态 %d): %d 个文件已传输, %d 个失败, %d 个仍在队列中\n",
                 status == 0 ? "完成" : "失败", status, transferred, failed, queued);
    std::fflush(m_out);
}

namespace {
QtMessageHandler previousHandler = nullptr;

bool harmless(const QMessageLogContext& context, const QString& message)
{
    // The offscreen platform cannot do what a window manager does, and says
    // so for every window: nothing a reader of the output can act on.
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0)
        return true;
    return message.startsWith(QLatin1String("This plugin does not support")) ||
           message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void filteringHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if ((type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) && harmless(context, message))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}
}  // namespace

void TRunReport::FilterQtNoise()
{
    QtMessageHandler before = qInstallMessageHandler(filteringHandler);
    if (before != filteringHandler)
        previousHandler = before;
}
