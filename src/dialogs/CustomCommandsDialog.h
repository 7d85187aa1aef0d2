#pragma once
// TfrmCustom: "自定义命令" — the custom commands, added, updated and deleted
// in a list; the caller saves them when it closes.

#include "session/CustomCommands.h"

#include <QDialog>

#include <functional>

class QLabel;
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
    QLabel* lblProblem = nullptr;  // why the last add was refused; hidden when nothing is wrong

    void CustomListClick(int row);
    void btnAddClick();  // adds, or updates the row clicked
    void btnDeleteClick();
    // An update is saved at once (the caller saves everything on close too).
    std::function<void(const std::vector<TCustomCommand>&)> OnSave;
    // The program's own command that Ctrl+Shift+key already runs (its menu
    // text), empty when the key is free: such a key is refused.
    std::function<std::string(char key)> ShortcutOwner;

protected:
    // Enter in a field that holds text adds it (or updates the row) instead
    // of closing the dialog and losing it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refill();
    void clearFields();
    void follow();

    std::vector<TCustomCommand> m_commands;
    int m_selected = -1;  // the row being updated; -1: the button adds
};
