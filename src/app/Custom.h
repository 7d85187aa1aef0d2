#pragma once
// TfrmCustom: "自定义命令" — the custom commands, added, updated and deleted
// in a list; the caller saves them when it closes.

#include "app/CustomCommands.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

class TfrmCustom : public QDialog {
    Q_OBJECT

public:
    explicit TfrmCustom(std::vector<TCustomCommand> commands, QWidget* parent = nullptr);
    const std::vector<TCustomCommand>& Commands() const { return m_commands; }

    QLineEdit *txtCaption = nullptr, *txtCommand = nullptr, *txtShortcut = nullptr;
    QListWidget* CustomList = nullptr;
    QPushButton *btnAdd = nullptr, *btnDelete = nullptr, *btnExit = nullptr;

    void CustomListClick(int row);
    void btnAddClick();  // adds, or updates the row clicked
    void btnDeleteClick();
    // An update is saved at once (the caller saves everything on close too).
    std::function<void(const std::vector<TCustomCommand>&)> OnSave;

private:
    void refill();
    void clearFields();
    void follow();

    std::vector<TCustomCommand> m_commands;
    int m_selected = -1;  // the row being updated; -1: the button adds
};
