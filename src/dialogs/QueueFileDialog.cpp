#include "dialogs/QueueFileDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
const char* const NoDial = "<无>";
}

TfrmQueue::TfrmQueue(const IPrompt::SaveQueueRequest& request, PathChooser choosePath, QWidget* parent)
    : QDialog(parent), m_choosePath(std::move(choosePath)), m_hostAvailable(request.hostAvailable)
{
    setWindowTitle(QStringLiteral("保存队列..."));
    auto* layout = new QVBoxLayout(this);

    grpHost = new QGroupBox(QStringLiteral(" 主机数据 "), this);
    auto* form = new QFormLayout(grpHost);
    auto field = [&](const char* caption, const std::string& value) {
        auto* e = new QLineEdit(QString::fromStdString(value), grpHost);
        form->addRow(QString::fromUtf8(caption), e);
        return e;
    };
    txtHost = field("地址:", request.host);
    txtPort = field("端口:", request.port);
    txtUser = field("用户名:", request.user);
    txtPass = field("密码:", request.password);
    txtPass->setEchoMode(QLineEdit::Password);
    chkAnonymous = new QCheckBox(QStringLiteral("匿名登录"), grpHost);
    chkAnonymous->setChecked(request.anonymous);
    form->addRow(chkAnonymous);
    layout->addWidget(grpHost);

    rdoCSQ = new QRadioButton(QStringLiteral("保存包含主机数据(*.csq)"), this);
    rdoCQF = new QRadioButton(QStringLiteral("保存不包含主机数据(*.cqf)"), this);
    (request.hostData && request.hostAvailable ? rdoCSQ : rdoCQF)->setChecked(true);
    layout->addWidget(rdoCSQ);
    layout->addWidget(rdoCQF);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("文件名:"), this));
    txtPathname = new QLineEdit(QString::fromStdString(request.path), this);
    txtPathname->setReadOnly(true);
    pathRow->addWidget(txtPathname, 1);
    btnBrowse = new QPushButton(QStringLiteral("?"), this);
    btnBrowse->setFixedWidth(btnBrowse->fontMetrics().horizontalAdvance(QStringLiteral("??")) + 16);
    pathRow->addWidget(btnBrowse);
    layout->addLayout(pathRow);

    grpAdvanced = new QGroupBox(this);
    auto* adv = new QFormLayout(grpAdvanced);
    cboDial = new QComboBox(grpAdvanced);
    cboDial->addItem(QString::fromUtf8(NoDial));
    for (const std::string& entry : request.dialEntries)
        cboDial->addItem(QString::fromStdString(entry));
    const int chosen = cboDial->findText(QString::fromStdString(request.dial));
    cboDial->setCurrentIndex(request.dial.empty() || chosen < 0 ? 0 : chosen);
    adv->addRow(QStringLiteral("拨 ISP:"), cboDial);
    chkHangUp = new QCheckBox(QStringLiteral("传输后挂断"), grpAdvanced);
    chkHangUp->setChecked(request.hangUp);
    chkQuit = new QCheckBox(QStringLiteral("传输后关闭 Corvyne"), grpAdvanced);
    chkQuit->setChecked(request.quit);
    adv->addRow(chkHangUp);
    adv->addRow(chkQuit);
    grpAdvanced->setVisible(false);
    layout->addWidget(grpAdvanced);

    auto* buttons = new QHBoxLayout;
    btnAdvanced = new QPushButton(QStringLiteral("高级 >>"), this);
    btnSave = new QPushButton(QStringLiteral("保存(&S)"), this);
    btnSave->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消(&N)"), this);
    buttons->addWidget(btnAdvanced);
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(chkAnonymous, &QCheckBox::toggled, this, [this] { follow(); });
    connect(rdoCSQ, &QRadioButton::toggled, this, [this] { follow(); });
    connect(txtPathname, &QLineEdit::textChanged, this, [this] { follow(); });
    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(btnAdvanced, &QPushButton::clicked, this, [this] { btnAdvancedClick(); });
    connect(btnSave, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    follow();
}

void TfrmQueue::follow()
{
    rdoCSQ->setEnabled(m_hostAvailable);
    const bool host = m_hostAvailable && rdoCSQ->isChecked();
    grpHost->setEnabled(host);
    btnAdvanced->setEnabled(host);
    txtUser->setEnabled(!chkAnonymous->isChecked());
    txtPass->setEnabled(!chkAnonymous->isChecked());
    btnSave->setEnabled(!txtPathname->text().isEmpty());
}

void TfrmQueue::btnBrowseClick()
{
    const bool site = rdoCSQ->isChecked();
    std::string path = txtPathname->text().toStdString();
    if (!m_choosePath(site ? "Corvyne 站点队列 (*.csq)" : "Corvyne 队列 (*.cqf)", path) || path.empty())
        return;
    // A name typed without an extension gets the chosen form's.
    const QString chosen = QString::fromStdString(path);
    const bool hasSuffix = chosen.section(QLatin1Char('/'), -1).contains(QLatin1Char('.'));
    txtPathname->setText(hasSuffix ? chosen : chosen + (site ? QStringLiteral(".csq") : QStringLiteral(".cqf")));
}

void TfrmQueue::btnAdvancedClick()
{
    const bool show = grpAdvanced->isHidden();
    grpAdvanced->setVisible(show);
    btnAdvanced->setText(show ? QStringLiteral("高级 <<") : QStringLiteral("高级 >>"));
    adjustSize();
}

void TfrmQueue::Result(IPrompt::SaveQueueRequest& request) const
{
    request.hostData = m_hostAvailable && rdoCSQ->isChecked();
    request.host = txtHost->text().toStdString();
    request.port = txtPort->text().toStdString();
    request.user = txtUser->text().toStdString();
    request.password = txtPass->text().toStdString();
    request.anonymous = chkAnonymous->isChecked();
    request.dial = cboDial->currentIndex() > 0 ? cboDial->currentText().toStdString() : std::string();
    request.hangUp = chkHangUp->isChecked();
    request.quit = chkQuit->isChecked();
    request.path = txtPathname->text().toStdString();
}
