#include "session/CustomCommands.h"

std::vector<TCustomCommand> ReadCustomCommands(const TIniFile& settings)
{
    std::vector<TCustomCommand> out;
    for (int n = 1;; ++n) {
        const std::string i = std::to_string(n);
        TCustomCommand c;
        c.Caption = settings.ReadString("Commands", "c" + i);
        if (c.Caption.empty())
            return out;
        c.Command = settings.ReadString("Commands", "p" + i);
        const std::string key = settings.ReadString("Commands", "k" + i);
        if (!key.empty()) {
            const char last = key.back();
            c.Shortcut = last >= 'a' && last <= 'z' ? static_cast<char>(last - 'a' + 'A') : last;
        }
        out.push_back(std::move(c));
    }
}

std::string CustomShortcutText(char shortcut)
{
    if (shortcut == 0)
        return {};
    const char key = shortcut >= 'a' && shortcut <= 'z' ? static_cast<char>(shortcut - 'a' + 'A') : shortcut;
    return std::string("Ctrl+Shift+") + key;
}

void WriteCustomCommands(TIniFile& settings, const std::vector<TCustomCommand>& commands)
{
    TIniFile::Batch batch(settings);
    settings.EraseSection("Commands");
    for (size_t n = 0; n < commands.size(); ++n) {
        const std::string i = std::to_string(n + 1);
        settings.WriteString("Commands", "c" + i, commands[n].Caption);
        settings.WriteString("Commands", "p" + i, commands[n].Command);
        settings.WriteString("Commands", "k" + i, CustomShortcutText(commands[n].Shortcut));
    }
}

TCustomKind CustomCommandKind(const std::string& command)
{
    // A "%" that is neither "%f" nor "%d" is the command's own text.
    if (command.find("%f") != std::string::npos)
        return TCustomKind::PerFile;
    if (command.find("%d") != std::string::npos)
        return TCustomKind::Parameter;
    return TCustomKind::Plain;
}

std::vector<std::string> ExpandCustomCommand(const std::string& command, const std::string& parameter,
                                             const std::vector<std::string>& names)
{
    // Positions in the command as written, so that a "%f" inside the typed
    // parameter is text, not a place for names.
    const size_t d = command.find("%d");
    const size_t f = command.find("%f");
    if (f == std::string::npos) {
        std::string text = command;
        if (d != std::string::npos)
            text.replace(d, 2, parameter);
        return {text};
    }
    std::string before = command.substr(0, f), after = command.substr(f + 2);
    if (d != std::string::npos) {
        if (d < f)
            before.replace(d, 2, parameter);
        else
            after.replace(d - f - 2, 2, parameter);
    }
    std::vector<std::string> lines;
    lines.reserve(names.size());
    for (const std::string& name : names)
        lines.push_back(before + name + after);
    return lines;
}
