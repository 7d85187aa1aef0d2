// The main window's side of the transfer progress: the window title and the
// tray tip. The figures and checks are TTransferProgress, the panels the
// status line's.

#include "app/Main.h"
#include "widgets/QueueView.h"
#include "console/cxGraphics.h"
#include "desktop/PowerBackend.h"

#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

void TfrmMain::buildProgress()
{
    IProgressView& view = m_status->ProgressView(Queue, {Memo1, statusBar()});
    m_progress = std::make_unique<TTransferProgress>(FTP, m_settings, view, this);
    m_queueRun->SetProgress(m_progress.get());
    m_power = std::make_unique<TLogindPower>();
    m_queueRun->SetPowerBackend(m_power.get());
    m_queueRun->OnStatistics = [this](bool upload, int64_t bytes) {
        if (!m_workflow->CurrentSite.empty())
            m_sites.AddTransfer(m_workflow->CurrentSite, upload, static_cast<double>(bytes));
    };
}

void TfrmMain::ShowSessionTitle(const std::string& title)
{
    m_sessionTitle = QString::fromStdString(title);
    ShowApplicationTitle(m_sessionTitle);
}

void TfrmMain::ShowApplicationTitle(const QString& title)
{
    setWindowTitle(title);
    if (m_tray)
        m_tray->setToolTip(title.left(63));
}
