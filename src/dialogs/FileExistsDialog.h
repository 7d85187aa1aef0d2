#pragma once
// TfrmResume: "重复文件查找", the question a transfer asks when its target
// exists. Seven answers; with the dialog timer on, a countdown that ends
// in the default (overwrite) when nobody answers.

#include "common/Prompt.h"

#include <QDialog>
#include <QTimer>

#include <functional>

class QLabel;
class QPushButton;

class TfrmResume : public QDialog {
    Q_OBJECT

public:
    using Answer = IPrompt::ExistingFileAnswer;
    TfrmResume(IPrompt::ExistingFileRequest& request, QWidget* parent = nullptr);

    // The rename button's question (new name, prefilled); false: cancelled,
    // back to the dialog.
    std::function<bool(std::string& name)> AskNewName;

    Answer Result() const { return m_answer; }
    QPushButton* Button(Answer a) const;
    QLabel* lblDuplicate = nullptr;
    QLabel* lblTop = nullptr;
    QLabel* lblBottom = nullptr;
    QLabel* lblTimer = nullptr;
    // One second of the countdown (the timer's; tests call it themselves).
    void TimerTick();
    bool Counting() const { return m_timer.isActive(); }
    static constexpr int Seconds = 30;

private:
    void answer(Answer a);
    IPrompt::ExistingFileRequest& m_request;
    Answer m_answer = Answer::Cancel;  // closing the window is "cancel"
    QTimer m_timer;
    int m_ticks = 0;
    std::vector<std::pair<QPushButton*, Answer>> m_buttons;
};
