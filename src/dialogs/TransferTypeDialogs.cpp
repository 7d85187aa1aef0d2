#include "dialogs/TransferTypeDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// "确定(&O)" and "取消(&N)" under a dialog; OK runs save and closes only when
// it succeeded.
QPushButton* okCancel(QDialog* d, QVBoxLayout* layout, std::function<bool()> save)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定(&O)"), d);
    auto* cancel = new QPushButton(QStringLiteral("取消(&N)"), d);
    ok->setDefault(true);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    QObject::connect(ok, &QPushButton::clicked, d, [d, save = std::move(save)] {
        if (save())
            d->accept();
        else
            QMessageBox::critical(d, d->windowTitle(), QStringLiteral("无法保存设置文件."));
    });
    QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
    return ok;
}
}  // namespace

TfrmASCII::TfrmASCII(TIniFile& settingsFile, TSettings& settings, QWidget* parent)
    : QDialog(parent), m_file(settingsFile), m_settings(settings)
{
    setWindowTitle(QStringLiteral("ASCII 类型"));
    auto* layout = new QVBoxLayout(this);
    auto* addRow = new QHBoxLayout;
    edtExtension = new QLineEdit(this);
    btnAdd = new QPushButton(QStringLiteral("添加(&A)"), this);
    btnAdd->setEnabled(false);
    addRow->addWidget(edtExtension);
    addRow->addWidget(btnAdd);
    layout->addLayout(addRow);
    lstExtensions = new QListWidget(this);
    lstExtensions->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const std::string& e : settings.AsciiExtensions)
        lstExtensions->addItem(QString::fromStdString(e));
    layout->addWidget(lstExtensions);
    btnDelete = new QPushButton(QStringLiteral("删除(&D)"), this);
    btnDelete->setEnabled(false);
    layout->addWidget(btnDelete, 0, Qt::AlignLeft);
    chkNoExtensions = new QCheckBox(QStringLiteral("使用ASCII模式传输未知类型的文件"), this);
    chkNoExtensions->setChecked(settings.AsciiNoExtensions);
    layout->addWidget(chkNoExtensions);
    btnOK = okCancel(this, layout, [this] { return Save(); });

    // What is typed is upper-cased, as the patterns are matched.
    connect(edtExtension, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int at = edtExtension->cursorPosition();
        edtExtension->setText(text.toUpper());
        edtExtension->setCursorPosition(at);
    });
    connect(edtExtension, &QLineEdit::textChanged, this,
            [this](const QString& text) { btnAdd->setEnabled(!text.trimmed().isEmpty()); });
    connect(btnAdd, &QPushButton::clicked, this, [this] {
        lstExtensions->addItem(edtExtension->text().trimmed());
        edtExtension->clear();
    });
    connect(lstExtensions, &QListWidget::itemSelectionChanged, this,
            [this] { btnDelete->setEnabled(!lstExtensions->selectedItems().isEmpty()); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { qDeleteAll(lstExtensions->selectedItems()); });
}

bool TfrmASCII::Save()
{
    std::vector<std::string> list;
    for (int i = 0; i < lstExtensions->count(); ++i)
        list.push_back(lstExtensions->item(i)->text().toStdString());
    bool ok = true;
    {
        TIniFile::Batch batch(m_file);
        ok = m_file.WriteList("Extensions", "e", list) && ok;
        ok = m_file.WriteInteger("Extensions", "Count", static_cast<int>(list.size())) && ok;
        ok = m_file.WriteBool(SetupSection, "AsciiNoExtensions", chkNoExtensions->isChecked()) && ok;
    }
    ok = m_file.Flush() && ok;
    m_settings.AsciiExtensions = std::move(list);
    m_settings.AsciiNoExtensions = chkNoExtensions->isChecked();
    return ok;
}

TfrmRename::TfrmRename(TIniFile& settingsFile, TSettings& settings, QWidget* parent)
    : QDialog(parent), m_file(settingsFile), m_settings(settings)
{
    setWindowTitle(QStringLiteral("重命名类型"));
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QHBoxLayout;
    edtLocal = new QLineEdit(this);
    edtRemote = new QLineEdit(this);
    fields->addWidget(new QLabel(QStringLiteral("本地"), this));
    fields->addWidget(edtLocal);
    fields->addWidget(new QLabel(QStringLiteral("远程"), this));
    fields->addWidget(edtRemote);
    btnAdd = new QPushButton(QStringLiteral("添加(&A)"), this);
    btnAdd->setEnabled(false);
    fields->addWidget(btnAdd);
    layout->addLayout(fields);
    lstRules = new QTreeWidget(this);
    lstRules->setRootIsDecorated(false);
    lstRules->setHeaderLabels({QStringLiteral("本地"), QStringLiteral("远程")});
    lstRules->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const std::string& rule : settings.RenameRules) {
        const QString r = QString::fromStdString(rule);
        const int comma = r.indexOf(',');
        new QTreeWidgetItem(lstRules, {r.left(comma < 0 ? r.size() : comma), comma < 0 ? QString() : r.mid(comma + 1)});
    }
    layout->addWidget(lstRules);
    btnDelete = new QPushButton(QStringLiteral("删除(&D)"), this);
    btnDelete->setEnabled(false);
    layout->addWidget(btnDelete, 0, Qt::AlignLeft);
    btnOK = okCancel(this, layout, [this] { return Save(); });

    auto filled = [this] { btnAdd->setEnabled(!edtLocal->text().isEmpty() && !edtRemote->text().isEmpty()); };
    connect(edtLocal, &QLineEdit::textChanged, this, filled);
    connect(edtRemote, &QLineEdit::textChanged, this, filled);
    connect(btnAdd, &QPushButton::clicked, this, [this] {
        // A comma inside a part would move the split when the rule is read back.
        if (edtLocal->text().contains(',') || edtRemote->text().contains(','))
            return;
        new QTreeWidgetItem(lstRules, {edtLocal->text(), edtRemote->text()});
        edtLocal->clear();
        edtRemote->clear();
    });
    connect(lstRules, &QTreeWidget::itemSelectionChanged, this,
            [this] { btnDelete->setEnabled(!lstRules->selectedItems().isEmpty()); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { qDeleteAll(lstRules->selectedItems()); });
}

bool TfrmRename::Save()
{
    std::vector<std::string> rules;
    for (int i = 0; i < lstRules->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lstRules->topLevelItem(i);
        rules.push_back((item->text(0) + ',' + item->text(1)).toStdString());
    }
    bool ok = m_file.WriteList("Rename", "r", rules);
    ok = m_file.Flush() && ok;
    m_settings.RenameRules = std::move(rules);
    return ok;
}
