// The main window's side of the transfer progress: the status bar's
// transfer layout (progress bar, elapsed, remaining), the window title and
// the tray tip. The figures and checks are TTransferProgress.

#include "app/Main.h"
#include "widgets/QueueView.h"
#include "console/cxGraphics.h"
#include "desktop/PowerBackend.h"

#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
// Panel 1 of the transfer layout: a yellow bar with the byte count and speed
// over it.
class TProgressPanel : public QWidget {
public:
    explicit TProgressPanel(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("ProgressPanel")); }
    void Show(int percent, const QString& text)
    {
        m_percent = percent;
        m_text = text;
        setProperty("percent", percent);
        setProperty("text", text);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        p.fillRect(QRect(0, 0, (m_percent * width() + 50) / 100, height()), QColor(255, 255, 0));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect().adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, m_text);
    }

private:
    int m_percent = 0;
    QString m_text;
};

// While a run moves many small files, the queue list, the log and the
// status bar change several times per file; painting each change (and laying
// the queue's rows out at each) would cost more than the files. During a run
// they are laid out and painted at most ten times a second.
class TRepaintThrottle {
public:
    TRepaintThrottle(TQueueView* queue, std::vector<QWidget*> others) : m_queue(queue), m_widgets(std::move(others))
    {
        m_widgets.push_back(queue);
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_queue->HoldLayout(false);
            for (QWidget* w : m_widgets) {
                w->setUpdatesEnabled(true);
                w->repaint();
                w->setUpdatesEnabled(false);
            }
            m_queue->HoldLayout(true);
        });
    }
    void SetActive(bool on)
    {
        if (on == m_timer.isActive())
            return;
        m_queue->HoldLayout(on);
        for (QWidget* w : m_widgets)
            w->setUpdatesEnabled(!on);  // enabling again paints them once
        if (on)
            m_timer.start();
        else
            m_timer.stop();
    }

private:
    TQueueView* m_queue;
    std::vector<QWidget*> m_widgets;
    QTimer m_timer;
};

class TWindowProgressView : public IProgressView {
public:
    explicit TWindowProgressView(TfrmMain& w) : m_w(w), m_throttle(w.Queue, {w.Memo1, w.statusBar()})
    {
        m_bar = new TProgressPanel(&w);
        m_elapsed = new QLabel(&w);
        m_elapsed->setObjectName(QStringLiteral("ElapsedPanel"));
        m_remaining = new QLabel(&w);
        m_remaining->setObjectName(QStringLiteral("RemainingPanel"));
        for (QWidget* panel :
             {static_cast<QWidget*>(m_bar), static_cast<QWidget*>(m_elapsed), static_cast<QWidget*>(m_remaining)})
            panel->hide();
    }
    void ShowTransferPanels() override
    {
        // As wide as their longest texts in the font in use: a byte count
        // of a terabyte and its speed, nine hundred hours.
        const auto fit = [](QWidget* panel, const QString& longest) {
            panel->setFixedWidth(panel->fontMetrics().horizontalAdvance(longest) + 12);
        };
        fit(m_bar, QStringLiteral("999,999,999,999 (99999.99 KB/s)"));
        fit(m_elapsed, QStringLiteral("逝去:999:00:00"));
        fit(m_remaining, QStringLiteral("剩余:999:00:00"));
        m_w.StatusPanel2->hide();
        QStatusBar* bar = m_w.statusBar();
        int at = 1;
        for (QWidget* panel :
             {static_cast<QWidget*>(m_bar), static_cast<QWidget*>(m_elapsed), static_cast<QWidget*>(m_remaining)}) {
            bar->insertWidget(at++, panel);
            panel->show();
        }
        ClearProgress();
        m_throttle.SetActive(true);
    }
    void ShowNormalPanels() override
    {
        m_throttle.SetActive(false);
        for (QWidget* panel :
             {static_cast<QWidget*>(m_bar), static_cast<QWidget*>(m_elapsed), static_cast<QWidget*>(m_remaining)}) {
            m_w.statusBar()->removeWidget(panel);
            panel->hide();
        }
        m_w.StatusPanel2->setText({});
        m_w.StatusPanel2->show();
        m_w.ShowApplicationTitle(m_w.SessionTitle());
    }
    void ClearProgress() override
    {
        // Called at every file: setText leaves an empty label alone, where
        // clear() would lay the status bar out again each time.
        m_bar->Show(0, {});
        m_elapsed->setText({});
        m_remaining->setText({});
    }
    void ShowProgress(const TProgressDisplay& d) override
    {
        m_elapsed->setText(QString::fromStdString(d.elapsed));
        if (!d.speedKnown) {
            m_bar->Show(0, {});
            return;
        }
        m_bar->Show(d.percent, QString::fromStdString(d.text));
        if (!d.remaining.empty())
            m_remaining->setText(QString::fromStdString(d.remaining));
    }
    void SetTitle(const std::string& title) override { m_w.ShowApplicationTitle(QString::fromStdString(title)); }

private:
    TfrmMain& m_w;
    TRepaintThrottle m_throttle;
    TProgressPanel* m_bar;
    QLabel* m_elapsed;
    QLabel* m_remaining;
};
}  // namespace

void TfrmMain::buildProgress()
{
    m_progressView = std::make_unique<TWindowProgressView>(*this);
    m_progress = std::make_unique<TTransferProgress>(FTP, m_settings, *m_progressView, this);
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
