#include "dialogs/LoginPrompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmInput::TfrmInput(const IPrompt::LoginRequest& r, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("登录"));
    auto* form = new QFormLayout(this);
    lblSkey = new QLabel(QString::fromStdString(r.challenge), this);
    form->addRow(lblSkey);
    lblKey = new QLabel(QStringLiteral("用户名(&U)"), this);
    txtUsername = new QLineEdit(QString::fromStdString(r.user), this);
    lblKey->setBuddy(txtUsername);
    form->addRow(lblKey, txtUsername);
    lblPassword = new QLabel(QStringLiteral("密码(&W)"), this);
    txtPassword = new QLineEdit(this);
    txtPassword->setEchoMode(QLineEdit::Password);
    lblPassword->setBuddy(txtPassword);
    form->addRow(lblPassword, txtPassword);
    chkSaveInfo = new QCheckBox(QStringLiteral("保存密码"), this);
    form->addRow(chkSaveInfo);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);

    lblSkey->setVisible(r.mode == IPrompt::LoginRequest::Challenge);
    switch (r.mode) {
        case IPrompt::LoginRequest::Credentials:
            (r.user.empty() ? txtUsername : txtPassword)->setFocus();
            break;
        case IPrompt::LoginRequest::UserOnly:
            lblPassword->hide();
            txtPassword->hide();
            chkSaveInfo->hide();
            txtUsername->setFocus();
            break;
        case IPrompt::LoginRequest::Challenge:
            lblKey->setText(QStringLiteral("Key: "));
            txtUsername->hide();
            chkSaveInfo->setEnabled(false);
            txtPassword->setFocus();
            break;
    }
}

void TfrmInput::Result(IPrompt::LoginRequest& r) const
{
    if (txtUsername->isVisible() || r.mode != IPrompt::LoginRequest::Challenge)
        r.user = txtUsername->text().toStdString();
    r.password = txtPassword->text().toStdString();
    r.savePassword = chkSaveInfo->isChecked();
}
