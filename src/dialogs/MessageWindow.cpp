#include "dialogs/MessageWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmMessageWindow::TfrmMessageWindow(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("服务器消息"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint);
    resize(526, 340);
    auto* v = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    v->addWidget(Memo1);
    auto* bottom = new QHBoxLayout;
    chkOption = new QCheckBox(QStringLiteral("不显示目录信息"), this);
    bottom->addWidget(chkOption);
    bottom->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定(&O)"), this);
    bottom->addWidget(ok);
    v->addLayout(bottom);
    connect(ok, &QPushButton::clicked, this, [this] { btnOKClick(); });
}

void TfrmMessageWindow::btnOKClick()
{
    if (OnOK)
        OnOK(chkOption->isChecked(), size());
    close();
}
