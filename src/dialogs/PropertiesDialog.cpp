#include "dialogs/PropertiesDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
constexpr int Bits[9] = {400, 200, 100, 40, 20, 10, 4, 2, 1};
}

TfrmProperties::TfrmProperties(const IPrompt::PropertiesRequest& shown, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("属性"));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget(tabs);
    tabs->addTab(page, QStringLiteral("常规"));
    layout->addWidget(tabs);
    auto* pageLayout = new QVBoxLayout(page);
    auto* form = new QFormLayout;
    auto label = [&](const char* caption, const std::string& value) {
        auto* l = new QLabel(QString::fromStdString(value), page);
        l->setTextFormat(Qt::PlainText);  // names come from servers
        form->addRow(QString::fromUtf8(caption), l);
    };
    label("名称:", shown.name);
    label("类型:", shown.type);
    label("大小:", shown.size);
    label("日期:", shown.date);
    label("主人:", shown.owner);
    label("团体:", shown.group);
    pageLayout->addLayout(form);
    pageLayout->addWidget(new QLabel(QStringLiteral("并非所有的服务器都支持改变许可权限"), page));
    auto* groups = new QHBoxLayout;
    const char* who[3] = {"主人", "团体", "公众"};
    const char* what[3] = {"读", "写", "执行"};
    for (int g = 0; g < 3; ++g) {
        auto* box = new QGroupBox(QString::fromUtf8(who[g]), page);
        auto* v = new QVBoxLayout(box);
        for (int k = 0; k < 3; ++k) {
            QCheckBox* c = new QCheckBox(QString::fromUtf8(what[k]), box);
            const int i = g * 3 + k;
            // 750: the group's digit (7, 5, 0), then its bit (4 read, 2 write, 1 execute).
            const int digit = shown.mode / (g == 0 ? 100 : g == 1 ? 10 : 1) % 10;
            c->setChecked(digit & (4 >> k));
            Boxes[static_cast<size_t>(i)] = c;
            v->addWidget(c);
        }
        groups->addWidget(box);
    }
    pageLayout->addLayout(groups);
    pnlPriv = new QLabel(page);
    pnlPriv->setAlignment(Qt::AlignCenter);
    pageLayout->addWidget(pnlPriv);
    auto update = [this] { pnlPriv->setText(QString::number(Mode())); };
    for (QCheckBox* c : Boxes)
        connect(c, &QCheckBox::toggled, this, update);
    update();
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int TfrmProperties::Mode() const
{
    int mode = 0;
    for (size_t i = 0; i < Boxes.size(); ++i)
        if (Boxes[i]->isChecked())
            mode += Bits[i];
    return mode;
}
