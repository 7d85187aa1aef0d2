#include "dialogs/FileExistsDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmResume::TfrmResume(IPrompt::ExistingFileRequest& request, QWidget* parent) : QDialog(parent), m_request(request)
{
    setWindowTitle(QStringLiteral("重复文件查找"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblDuplicate = new QLabel(
        QString::fromStdString((request.upload ? "重复的远程文件: " : "重复的本地文件: ") + request.name), this);
    lblTop = new QLabel(QString::fromStdString(request.source), this);
    lblBottom = new QLabel(QString::fromStdString(request.target), this);
    for (QLabel* l : {lblDuplicate, lblTop, lblBottom}) {
        l->setTextFormat(Qt::PlainText);  // names come from servers
        layout->addWidget(l);
    }
    lblTimer = new QLabel(QStringLiteral("计时直到默认: %1").arg(Seconds), this);
    lblTimer->setVisible(request.countdownSeconds > 0);
    layout->addWidget(lblTimer);

    auto* grid = new QGridLayout;
    const std::pair<const char*, Answer> buttons[] = {
        {"覆盖(&O)", Answer::Overwrite}, {"续传(&R)", Answer::Resume},      {"重命名(&E)", Answer::Rename},
        {"跳过(&S)", Answer::Skip},      {"全部跳过(&A)", Answer::SkipAll}, {"全部覆盖(&V)", Answer::OverwriteAll},
        {"取消(&C)", Answer::Cancel}};
    int i = 0;
    for (const auto& [caption, a] : buttons) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setAutoDefault(false);
        grid->addWidget(b, i / 4, i % 4);
        ++i;
        m_buttons.emplace_back(b, a);
        connect(b, &QPushButton::clicked, this, [this, a = a] { answer(a); });
    }
    layout->addLayout(grid);
    Button(Answer::Resume)->setEnabled(request.resumeAllowed);
    Button(Answer::Overwrite)->setDefault(true);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TfrmResume::TimerTick);
    if (request.countdownSeconds > 0)
        m_timer.start();
}

QPushButton* TfrmResume::Button(Answer a) const
{
    for (const auto& [b, answer] : m_buttons)
        if (answer == a)
            return b;
    return nullptr;
}

void TfrmResume::TimerTick()
{
    ++m_ticks;
    if (m_ticks > Seconds) {
        answer(Answer::Overwrite);
        return;
    }
    lblTimer->setText(QStringLiteral("计时直到默认: %1").arg(Seconds - m_ticks));
}

void TfrmResume::answer(Answer a)
{
    if (a == Answer::Rename) {
        // The countdown must not overwrite while the user types a name.
        m_timer.stop();
        std::string name = m_request.newName;
        if (!AskNewName || !AskNewName(name) || name.empty())
            return;
        m_request.newName = name;
    }
    m_timer.stop();
    m_answer = a;
    done(a == Answer::Cancel || a == Answer::Skip || a == Answer::SkipAll ? QDialog::Rejected : QDialog::Accepted);
}
