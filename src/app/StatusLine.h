#pragma once
// The status bar: two message panels and the transfer-mode panel, and while
// a run moves files the progress bar, elapsed and remaining time in place of
// the second panel. It follows the session's status signals itself.

#include "transfer/TransferProgress.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QLabel;
class QStatusBar;
class QWidget;
class TConnectionWorkflow;
class TQueueView;

class TStatusLine : public QObject {
    Q_OBJECT

public:
    TStatusLine(QStatusBar* bar, TConnectionWorkflow& workflow, QObject* parent);
    ~TStatusLine() override;

    void Show(const QString& text);  // the first panel
    QString Text() const;
    void Show2(const QString& text);  // the second panel
    static QString TransferModeText(int mode);
    void NextTransferMode();  // 自动 → ASCII → 二进制 → 自动 (a click on the panel)
    void ShowTransferMode(int mode);
    // The progress panels; throttled: the queue and these widgets are painted
    // at most ten times a second while a run moves files.
    IProgressView& ProgressView(TQueueView* queue, std::vector<QWidget*> throttled);

    // For tests: the panels as the user sees them.
    QLabel* Panel(int index) const;  // 0, 1; 2 the transfer mode; 3 the lock

Q_SIGNALS:
    void ProgressTitle(const QString& title);  // the run's progress in the window title
    void ProgressEnded();                      // the session's title again

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TProgressView;
    QStatusBar* m_bar;
    TConnectionWorkflow& m_workflow;
    QLabel* m_panel = nullptr;
    QLabel* m_panel2 = nullptr;
    QLabel* m_mode = nullptr;
    QLabel* m_lock = nullptr;  // shown while the session is encrypted
    std::unique_ptr<TProgressView> m_progress;
};
