// The main window's custom commands: the submenu built from the settings,
// running a command, and the dialog that edits them.

#include "app/Main.h"
#include "dialogs/CustomCommandsDialog.h"
#include "widgets/DialogSize.h"
#include "widgets/corvview.h"

#include <QMenu>
#include <QRegularExpression>

#include <set>

void TfrmMain::RebuildCustomMenu()
{
    mnuCustom->clear();
    const std::vector<TCustomCommand> commands = ReadCustomCommands(m_settingsFile);
    std::set<char> taken;
    for (const TCustomCommand& c : commands) {
        // A key taken already (a file from before keys were checked) stays
        // with its first owner: two owners would run neither.
        const bool free = c.Shortcut && BuiltInShortcutOwner(c.Shortcut).empty() && taken.insert(c.Shortcut).second;
        QAction* a = mnuCustom->addAction(QString::fromStdString(c.Caption), this, [this, c] { RunCustomCommand(c); });
        a->setToolTip(QString::fromStdString(c.Command));
        a->setStatusTip(QString::fromStdString(c.Command));
        if (free)
            a->setShortcut(QKeySequence(QString::fromStdString(CustomShortcutText(c.Shortcut))));
    }
    mnuCustom->setEnabled(!commands.empty());
}

std::string TfrmMain::BuiltInShortcutOwner(char key) const
{
    const QKeySequence wanted(QString::fromStdString(CustomShortcutText(key)));
    const QList<QAction*> custom = mnuCustom->actions();
    for (QAction* a : findChildren<QAction*>())
        if (a->shortcut() == wanted && !custom.contains(a))
            return a->text()
                .remove(QRegularExpression(QStringLiteral("\\(&.\\)")))
                .remove(QLatin1Char('&'))
                .toStdString();
    return {};
}

void TfrmMain::RunCustomCommand(const TCustomCommand& command)
{
    if (m_workflow->State() != SessionState::Idle)
        return;
    // "%d": asked once; a cancelled box gives an empty text.
    std::string parameter;
    if (command.Command.find("%d") != std::string::npos)
        m_prompt->AskText("自定义命令", "输入参数", parameter);
    std::vector<std::string> names;
    if (CustomCommandKind(command.Command) == TCustomKind::PerFile)
        for (int r : m_remote->View()->SelectedRows())
            if (m_remote->View()->Kind(r) != rkParent)
                names.push_back(m_remote->View()->Text(r, 0).toStdString());
    const std::vector<std::string> lines = ExpandCustomCommand(command.Command, parameter, names);
    if (CustomCommandKind(command.Command) == TCustomKind::PerFile)
        m_parts.fileOps->CustomCommands(lines);
    else
        m_parts.fileOps->RawCommand(lines.front());
}

void TfrmMain::mnuDefineCustomClick()
{
    TfrmCustom dialog(ReadCustomCommands(m_settingsFile), this);
    new TDialogSize(dialog, m_settingsFile, "CustomCommands");
    dialog.OnSave = [this](const std::vector<TCustomCommand>& commands) {
        WriteCustomCommands(m_settingsFile, commands);
    };
    // The custom commands' own keys are checked by the dialog, among themselves.
    dialog.ShortcutOwner = [this](char key) { return BuiltInShortcutOwner(key); };
    if (DefineCustomOpened)
        DefineCustomOpened(dialog);
    else
        dialog.exec();
    WriteCustomCommands(m_settingsFile, dialog.Commands());
    RebuildCustomMenu();
}
