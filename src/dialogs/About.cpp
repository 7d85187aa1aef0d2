#include "dialogs/About.h"

#include "widgets/verslab.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关于 Corvyne"));
    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel(this);
    const QIcon appIcon = QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_DriveNetIcon)
                                                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(48, 48));
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* name = new QLabel(QStringLiteral("Corvyne"), this);
    QFont f = name->font();
    f.setPointSize(f.pointSize() + 4);
    f.setBold(true);
    name->setFont(f);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    lblVersion = new TVersionLabel(this);
    lblVersion->SetInfoPrefix(QStringLiteral("版本:"));
    layout->addWidget(lblVersion, 0, Qt::AlignHCenter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

TfrmSplash::TfrmSplash() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("Corvyne"), this);
    QFont f = name->font();
    f.setPointSize(f.pointSize() + 10);
    f.setBold(true);
    name->setFont(f);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(new QLabel(QStringLiteral("FTP 客户端"), this), 0, Qt::AlignHCenter);
    lblVersion = new TVersionLabel(this);
    lblVersion->SetInfoPrefix(QStringLiteral("Version:"));
    layout->addWidget(lblVersion, 0, Qt::AlignHCenter);
    resize(320, 160);
}
