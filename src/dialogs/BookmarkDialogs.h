#pragma once
// TfrmBookmark: "书签" — the current site's bookmarks edited as a list;
// TfrmAddBookmark: one bookmark's name and path.

#include "sites/Bookmarks.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;
class QTreeWidget;

class TfrmAddBookmark : public QDialog {
    Q_OBJECT

public:
    TfrmAddBookmark(const QString& caption, const TBookmark& shown, QWidget* parent = nullptr);
    TBookmark Result() const;
    QLineEdit *txtName = nullptr, *txtPath = nullptr;
    QPushButton* btnOK = nullptr;
};

class TfrmBookmark : public QDialog {
    Q_OBJECT

public:
    explicit TfrmBookmark(const std::vector<TBookmark>& bookmarks, QWidget* parent = nullptr);
    std::vector<TBookmark> Bookmarks() const;  // the rows, in order

    QTreeWidget* BookList = nullptr;
    QPushButton *btnAdd = nullptr, *btnEdit = nullptr, *btnDelete = nullptr;
    void btnAddClick();
    void btnEditClick();
    void btnDeleteClick();
    void BookListMouseUp();  // edit and delete follow the selection
    // One bookmark asked for (caption "添加书签" or "编辑书签"); tests put their own in.
    std::function<bool(const QString& caption, TBookmark& bookmark)> AskBookmark;
};
