// The main window's custom commands: the submenu built from the settings,
// running a command, and the dialog that edits them.

#include "app/Custom.h"
#include "app/Main.h"
#include "app/corvview.h"

#include <QMenu>

void TfrmMain::RebuildCustomMenu()
{
    mnuCustom->clear();
    const std::vector<TCustomCommand> commands = ReadCustomCommands(m_settingsFile);
    for (const TCustomCommand& c : commands) {
        QAction* a = mnuCustom->addAction(QString::fromStdString(c.Caption), this, [this, c] { RunCustomCommand(c); });
        a->setToolTip(QString::fromStdString(c.Command));
        a->setStatusTip(QString::fromStdString(c.Command));
        if (c.Shortcut)
            a->setShortcut(QKeySequence(QString::fromStdString(CustomShortcutText(c.Shortcut))));
    }
    mnuCustom->setEnabled(!commands.empty());
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
        for (int r : Remote->SelectedRows())
            if (Remote->Kind(r) != rkParent)
                names.push_back(Remote->Text(r, 0).toStdString());
    const std::vector<std::string> lines = ExpandCustomCommand(command.Command, parameter, names);
    if (CustomCommandKind(command.Command) == TCustomKind::PerFile)
        m_fileOps->CustomCommands(lines);
    else
        m_fileOps->RawCommand(lines.front());
}

void TfrmMain::mnuDefineCustomClick()
{
    TfrmCustom dialog(ReadCustomCommands(m_settingsFile), this);
    dialog.OnSave = [this](const std::vector<TCustomCommand>& commands) {
        WriteCustomCommands(m_settingsFile, commands);
    };
    if (DefineCustomOpened)
        DefineCustomOpened(dialog);
    else
        dialog.exec();
    WriteCustomCommands(m_settingsFile, dialog.Commands());
    RebuildCustomMenu();
}
