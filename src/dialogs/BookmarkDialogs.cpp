#include "dialogs/BookmarkDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TfrmAddBookmark::TfrmAddBookmark(const QString& caption, const TBookmark& shown, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    txtName = new QLineEdit(QString::fromStdString(shown.Name), this);
    txtPath = new QLineEdit(QString::fromStdString(shown.Path), this);
    form->addRow(QStringLiteral("书签名称:"), txtName);
    form->addRow(QStringLiteral("路径名称:"), txtPath);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    btnOK = buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&N)"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Both boxes filled, and a name the stored form gives back whole.
    auto follow = [this] {
        btnOK->setEnabled(BookmarkNameFits(txtName->text().toStdString()) && !txtPath->text().isEmpty());
    };
    connect(txtName, &QLineEdit::textChanged, this, follow);
    connect(txtPath, &QLineEdit::textChanged, this, follow);
    follow();
}

TBookmark TfrmAddBookmark::Result() const
{
    return {txtName->text().toStdString(), txtPath->text().toStdString()};
}

TfrmBookmark::TfrmBookmark(const std::vector<TBookmark>& bookmarks, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("书签"));
    resize(460, 300);
    auto* layout = new QHBoxLayout(this);
    BookList = new QTreeWidget(this);
    BookList->setHeaderLabels({QStringLiteral("名称"), QStringLiteral("路径")});
    BookList->setRootIsDecorated(false);
    BookList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const TBookmark& b : bookmarks)
        BookList->addTopLevelItem(
            new QTreeWidgetItem(QStringList{QString::fromStdString(b.Name), QString::fromStdString(b.Path)}));
    layout->addWidget(BookList, 1);
    auto* buttons = new QVBoxLayout;
    btnAdd = new QPushButton(QStringLiteral("添加(&A)"), this);
    btnEdit = new QPushButton(QStringLiteral("编辑(&E)"), this);
    btnDelete = new QPushButton(QStringLiteral("删除(&D)"), this);
    auto* ok = new QPushButton(QStringLiteral("确定(&O)"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消(&N)"), this);
    for (QPushButton* b : {btnAdd, btnEdit, btnDelete, ok, cancel})
        buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);
    btnEdit->setEnabled(false);
    btnDelete->setEnabled(false);
    AskBookmark = [this](const QString& caption, TBookmark& b) {
        TfrmAddBookmark dialog(caption, b, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        b = dialog.Result();
        return true;
    };
    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnEdit, &QPushButton::clicked, this, [this] { btnEditClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    connect(BookList, &QTreeWidget::itemSelectionChanged, this, [this] { BookListMouseUp(); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::vector<TBookmark> TfrmBookmark::Bookmarks() const
{
    std::vector<TBookmark> out;
    for (int i = 0; i < BookList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = BookList->topLevelItem(i);
        out.push_back({item->text(0).toStdString(), item->text(1).toStdString()});
    }
    return out;
}

void TfrmBookmark::BookListMouseUp()
{
    const bool selected = !BookList->selectedItems().isEmpty();
    btnEdit->setEnabled(selected);
    btnDelete->setEnabled(selected);
}

void TfrmBookmark::btnAddClick()
{
    TBookmark b;
    if (!AskBookmark(QStringLiteral("添加书签"), b) || !BookmarkNameFits(b.Name) || b.Path.empty())
        return;
    BookList->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::fromStdString(b.Name), QString::fromStdString(b.Path)}));
}

void TfrmBookmark::btnEditClick()
{
    QTreeWidgetItem* item = BookList->currentItem();
    if (!item || !item->isSelected())
        return;
    TBookmark b{item->text(0).toStdString(), item->text(1).toStdString()};
    if (AskBookmark(QStringLiteral("编辑书签"), b) && BookmarkNameFits(b.Name) && !b.Path.empty()) {
        item->setText(0, QString::fromStdString(b.Name));
        item->setText(1, QString::fromStdString(b.Path));
    }
    BookList->clearSelection();
    btnEdit->setEnabled(false);
    btnDelete->setEnabled(false);
}

void TfrmBookmark::btnDeleteClick()
{
    qDeleteAll(BookList->selectedItems());
    btnEdit->setEnabled(false);
    btnDelete->setEnabled(false);
}
