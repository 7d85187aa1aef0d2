#include "widgets/DialogSize.h"

#include <QDialog>
#include <QEvent>
#include <QScreen>

#include <cstdlib>
#include <utility>

namespace {
constexpr const char* Section = "Dialogs";
}

TDialogSize::TDialogSize(QDialog& dialog, TIniFile& settings, std::string key)
    : QObject(&dialog), m_dialog(dialog), m_settings(settings), m_key(std::move(key))
{
    dialog.installEventFilter(this);
}

bool TDialogSize::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &m_dialog)
        return false;
    if (event->type() == QEvent::Show) {
        QSize size = m_dialog.sizeHint().expandedTo(m_dialog.minimumSizeHint());
        const std::string saved = m_settings.ReadString(Section, m_key);
        const size_t comma = saved.find(',');
        if (comma != std::string::npos) {
            const int w = std::atoi(saved.substr(0, comma).c_str());
            const int h = std::atoi(saved.substr(comma + 1).c_str());
            if (w > 0 && h > 0)
                size = QSize(w, h).expandedTo(m_dialog.minimumSizeHint());
        }
        if (const QScreen* screen = m_dialog.screen())
            size = size.boundedTo(screen->availableSize());
        m_dialog.resize(size);
    } else if (event->type() == QEvent::Hide) {
        m_settings.WriteString(Section, m_key,
                               std::to_string(m_dialog.width()) + "," + std::to_string(m_dialog.height()));
    }
    return false;
}
