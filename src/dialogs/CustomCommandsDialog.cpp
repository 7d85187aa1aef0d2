#include "dialogs/CustomCommandsDialog.h"

#include <QFormLayout>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TfrmCustom::TfrmCustom(std::vector<TCustomCommand> commands, QWidget* parent)
    : QDialog(parent), m_commands(std::move(commands))
{
    setWindowTitle(QStringLiteral("自定义命令"));
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* form = new QFormLayout;
    txtCaption = new QLineEdit(this);
    txtCommand = new QLineEdit(this);
    txtShortcut = new QLineEdit(this);
    txtShortcut->setMaxLength(1);
    txtShortcut->setFixedWidth(txtShortcut->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 12);
    form->addRow(QStringLiteral("标题:"), txtCaption);
    form->addRow(QStringLiteral("命令:"), txtCommand);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(new QLabel(QStringLiteral("Ctrl+Shift+"), this));
    keyRow->addWidget(txtShortcut);
    keyRow->addStretch();
    form->addRow(QStringLiteral("快捷键:"), keyRow);
    left->addLayout(form);
    auto* note = new QLabel(QStringLiteral("命令符:\n%f - 所选文件名\n%d - 对话框文字"), this);
    note->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    left->addWidget(note);
    lblProblem = new QLabel(this);
    lblProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    lblProblem->setWordWrap(true);
    lblProblem->hide();
    left->addWidget(lblProblem);
    CustomList = new QListWidget(this);
    left->addWidget(CustomList, 1);
    layout->addLayout(left, 1);

    auto* buttons = new QVBoxLayout;
    btnAdd = new QPushButton(QStringLiteral("添加(&A)"), this);
    btnDelete = new QPushButton(QStringLiteral("删除(&D)"), this);
    btnExit = new QPushButton(QStringLiteral("退出(&X)"), this);
    btnExit->setDefault(true);
    for (QPushButton* b : {btnAdd, btnDelete, btnExit})
        buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);

    connect(txtCaption, &QLineEdit::textChanged, this, [this] { follow(); });
    connect(txtCommand, &QLineEdit::textChanged, this, [this] { follow(); });
    connect(CustomList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { CustomListClick(CustomList->row(item)); });
    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    connect(btnExit, &QPushButton::clicked, this, &QDialog::accept);
    refill();
    clearFields();
}

void TfrmCustom::refill()
{
    CustomList->clear();
    for (const TCustomCommand& c : m_commands)
        CustomList->addItem(QString::fromStdString(c.Caption));
}

void TfrmCustom::clearFields()
{
    m_selected = -1;
    txtCaption->clear();
    txtCommand->clear();
    txtShortcut->clear();
    lblProblem->hide();
    btnAdd->setText(QStringLiteral("添加(&A)"));
    btnDelete->setEnabled(false);
    follow();
}

void TfrmCustom::follow()
{
    btnAdd->setEnabled(!txtCaption->text().isEmpty() && !txtCommand->text().isEmpty());
}

void TfrmCustom::CustomListClick(int row)
{
    if (row < 0 || row >= static_cast<int>(m_commands.size()))
        return;
    const TCustomCommand& c = m_commands[static_cast<size_t>(row)];
    m_selected = row;
    txtCaption->setText(QString::fromStdString(c.Caption));
    txtCommand->setText(QString::fromStdString(c.Command));
    txtShortcut->setText(c.Shortcut ? QString(QLatin1Char(c.Shortcut)) : QString());
    btnDelete->setEnabled(true);
    btnAdd->setText(QStringLiteral("更新(&U)"));
}

void TfrmCustom::btnAddClick()
{
    if (txtCaption->text().isEmpty() || txtCommand->text().isEmpty())
        return;
    // A short-cut is one plain letter or digit; anything else is none.
    const QString key = txtShortcut->text().toUpper();
    const char shortcut = key.size() == 1 && key[0].isLetterOrNumber() && key[0].unicode() < 0x80
                              ? static_cast<char>(key[0].unicode())
                              : 0;
    // Two commands on one key run neither: a key already taken is refused.
    if (shortcut) {
        std::string owner = ShortcutOwner ? ShortcutOwner(shortcut) : std::string();
        for (size_t i = 0; i < m_commands.size() && owner.empty(); ++i)
            if (static_cast<int>(i) != m_selected && m_commands[i].Shortcut == shortcut)
                owner = m_commands[i].Caption;
        if (!owner.empty()) {
            lblProblem->setText(QStringLiteral("%1 已被 \"%2\" 使用.  请选择另外的键.")
                                    .arg(QString::fromStdString(CustomShortcutText(shortcut)),
                                         QString::fromStdString(owner)));
            lblProblem->show();
            txtShortcut->setFocus();
            txtShortcut->selectAll();
            return;
        }
    }
    TCustomCommand c{txtCaption->text().toStdString(), txtCommand->text().toStdString(), shortcut};
    if (m_selected >= 0) {
        TCustomCommand& old = m_commands[static_cast<size_t>(m_selected)];
        if (!shortcut)
            c.Shortcut = old.Shortcut;  // an empty field keeps the short-cut
        old = c;
        if (OnSave)
            OnSave(m_commands);
    } else {
        m_commands.push_back(c);
    }
    refill();
    clearFields();
}

void TfrmCustom::btnDeleteClick()
{
    if (m_selected < 0 || m_selected >= static_cast<int>(m_commands.size()))
        return;
    m_commands.erase(m_commands.begin() + m_selected);
    refill();
    clearFields();
}

void TfrmCustom::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool typed = !txtCaption->text().isEmpty() || !txtCommand->text().isEmpty();
    if (enter && typed) {
        if (btnAdd->isEnabled())
            btnAddClick();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
