#include "app/StatusLine.h"

#include "session/Connection.h"
#include "widgets/QueueView.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
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
}  // namespace

class TStatusLine::TProgressView : public IProgressView {
public:
    TProgressView(TStatusLine& line, TQueueView* queue, std::vector<QWidget*> throttled)
        : m_line(line), m_throttle(queue, std::move(throttled))
    {
        QWidget* owner = line.m_bar;
        m_bar = new TProgressPanel(owner);
        m_elapsed = new QLabel(owner);
        m_elapsed->setObjectName(QStringLiteral("ElapsedPanel"));
        m_remaining = new QLabel(owner);
        m_remaining->setObjectName(QStringLiteral("RemainingPanel"));
        for (QWidget* panel : panels())
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
        m_line.m_panel2->hide();
        int at = 1;
        for (QWidget* panel : panels()) {
            m_line.m_bar->insertWidget(at++, panel);
            panel->show();
        }
        ClearProgress();
        m_throttle.SetActive(true);
    }
    void ShowNormalPanels() override
    {
        m_throttle.SetActive(false);
        for (QWidget* panel : panels()) {
            m_line.m_bar->removeWidget(panel);
            panel->hide();
        }
        m_line.m_panel2->setText({});
        m_line.m_panel2->show();
        Q_EMIT m_line.ProgressEnded();
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
    void SetTitle(const std::string& title) override { Q_EMIT m_line.ProgressTitle(QString::fromStdString(title)); }

private:
    std::vector<QWidget*> panels() const { return {m_bar, m_elapsed, m_remaining}; }

    TStatusLine& m_line;
    TRepaintThrottle m_throttle;
    TProgressPanel* m_bar;
    QLabel* m_elapsed;
    QLabel* m_remaining;
};

TStatusLine::TStatusLine(QStatusBar* bar, TConnectionWorkflow& workflow, QObject* parent)
    : QObject(parent), m_bar(bar), m_workflow(workflow)
{
    m_panel = new QLabel(bar);
    m_panel->setObjectName(QStringLiteral("StatusPanel"));
    m_panel2 = new QLabel(bar);
    m_panel2->setObjectName(QStringLiteral("StatusPanel2"));
    for (QLabel* l : {m_panel, m_panel2})  // the bar's shares set the widths, not the texts
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(m_panel, 1);
    bar->addWidget(m_panel2, 1);
    m_mode = new QLabel(TransferModeText(2), bar);
    m_mode->setObjectName(QStringLiteral("pnlTransferMode"));
    m_mode->setToolTip(QStringLiteral("传输模式(点击此处更改)"));
    m_mode->setAlignment(Qt::AlignCenter);
    m_mode->setMinimumWidth(60);
    m_mode->installEventFilter(this);
    bar->addPermanentWidget(m_mode);
    m_lock = new QLabel(QStringLiteral("🔒 TLS"), bar);
    m_lock->setObjectName(QStringLiteral("pnlEncryption"));
    m_lock->setAlignment(Qt::AlignCenter);
    m_lock->hide();
    bar->addPermanentWidget(m_lock);

    using W = TConnectionWorkflow;
    connect(&workflow, &W::EncryptionShown, this, [this](bool encrypted, const std::string& description) {
        m_lock->setVisible(encrypted);
        m_lock->setToolTip(encrypted ? QStringLiteral("已加密: ") + QString::fromStdString(description) : QString());
    });
    connect(&workflow, &W::StatusShown, this, [this](const std::string& t) { Show(QString::fromStdString(t)); });
    connect(&workflow, &W::Status2Shown, this, [this](const std::string& t) { Show2(QString::fromStdString(t)); });
    connect(&workflow, &W::TransferModeShown, this, [this](int mode) { ShowTransferMode(mode); });
}

TStatusLine::~TStatusLine() = default;

void TStatusLine::Show(const QString& text)
{
    m_panel->setText(text);
}

QString TStatusLine::Text() const
{
    return m_panel->text();
}

void TStatusLine::Show2(const QString& text)
{
    m_panel2->setText(text);
}

QString TStatusLine::TransferModeText(int mode)
{
    return mode == 0 ? QStringLiteral("ASCII") : mode == 1 ? QStringLiteral("二进制") : QStringLiteral("自动");
}

void TStatusLine::NextTransferMode()
{
    const int mode = m_workflow.TransferModePanel;
    const int next = mode == 2 ? 0 : mode == 0 ? 1 : 2;
    m_workflow.TransferModePanel = next;
    ShowTransferMode(next);
}

void TStatusLine::ShowTransferMode(int mode)
{
    m_mode->setText(TransferModeText(mode));
}

IProgressView& TStatusLine::ProgressView(TQueueView* queue, std::vector<QWidget*> throttled)
{
    if (!m_progress)
        m_progress = std::make_unique<TProgressView>(*this, queue, std::move(throttled));
    return *m_progress;
}

QLabel* TStatusLine::Panel(int index) const
{
    return index == 0 ? m_panel : index == 1 ? m_panel2 : index == 2 ? m_mode : m_lock;
}

bool TStatusLine::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mode && event->type() == QEvent::MouseButtonRelease) {
        NextTransferMode();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
