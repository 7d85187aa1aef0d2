// The custom-command dialog: add, update (saved at once), delete, and when
// its buttons may be pressed.

#include "dialogs/CustomCommandsDialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(CustomDialog, AddUpdateAndDeleteFollowTheFieldsAndTheRowClicked)
{
    TfrmCustom d({{"Who", "SITE WHO", 0}});
    std::vector<std::vector<TCustomCommand>> saved;
    d.OnSave = [&](const std::vector<TCustomCommand>& c) { saved.push_back(c); };
    EXPECT_EQ(d.CustomList->count(), 1);
    EXPECT_FALSE(d.btnAdd->isEnabled() || d.btnDelete->isEnabled());

    d.txtCaption->setText(QStringLiteral("Mode"));
    EXPECT_FALSE(d.btnAdd->isEnabled());  // a command too
    d.txtCommand->setText(QStringLiteral("SITE CHMOD 644 %f"));
    d.txtShortcut->setText(QStringLiteral("a"));
    ASSERT_TRUE(d.btnAdd->isEnabled());
    d.btnAddClick();
    ASSERT_EQ(d.Commands().size(), 2u);
    EXPECT_EQ(d.Commands()[1], (TCustomCommand{"Mode", "SITE CHMOD 644 %f", 'A'}));
    EXPECT_TRUE(d.txtCaption->text().isEmpty());
    EXPECT_TRUE(saved.empty());  // an addition is saved when the dialog closes

    d.CustomListClick(1);
    EXPECT_EQ(d.btnAdd->text(), QStringLiteral("更新(&U)"));
    EXPECT_EQ(d.txtShortcut->text(), QStringLiteral("A"));
    EXPECT_TRUE(d.btnDelete->isEnabled());
    d.txtCommand->setText(QStringLiteral("SITE CHMOD 600 %f"));
    d.txtShortcut->clear();  // an empty field keeps the short-cut
    d.btnAddClick();
    EXPECT_EQ(d.Commands()[1], (TCustomCommand{"Mode", "SITE CHMOD 600 %f", 'A'}));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], d.Commands());
    EXPECT_EQ(d.btnAdd->text(), QStringLiteral("添加(&A)"));

    d.CustomListClick(0);
    d.btnDeleteClick();
    EXPECT_EQ(d.Commands(), (std::vector<TCustomCommand>{{"Mode", "SITE CHMOD 600 %f", 'A'}}));
    EXPECT_EQ(d.CustomList->count(), 1);
    EXPECT_FALSE(d.btnAdd->isEnabled() || d.btnDelete->isEnabled());
}
