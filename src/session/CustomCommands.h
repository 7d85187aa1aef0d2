#pragma once
// Custom commands: raw FTP commands the user names once and sends from a
// menu. "%f" stands for each selected remote name in turn (one command per
// name), "%d" for a text asked for when the command is chosen.

#include "sites/IniFile.h"

#include <optional>
#include <string>
#include <vector>

struct TCustomCommand {
    std::string Caption;
    std::string Command;
    char Shortcut = 0;  // Ctrl+Shift + this letter or digit; 0: none
    bool operator==(const TCustomCommand&) const = default;
};

// Section "Commands": "c"n caption, "p"n command, "k"n the short-cut text
// ("Ctrl+Shift+A"; only its last character is read). The list ends at the
// first empty caption.
std::vector<TCustomCommand> ReadCustomCommands(const TIniFile& settings);
void WriteCustomCommands(TIniFile& settings, const std::vector<TCustomCommand>& commands);
std::string CustomShortcutText(char shortcut);  // "Ctrl+Shift+A", or empty

// How a command is sent: as it stands, after asking for "%d", or once per
// selected name ("%f", asking first when it also holds "%d").
enum class TCustomKind { Plain, Parameter, PerFile };
TCustomKind CustomCommandKind(const std::string& command);
// The lines to send. parameter replaces the first "%d" (when the command
// holds one); each name replaces the first "%f" in its own line.
std::vector<std::string> ExpandCustomCommand(const std::string& command, const std::string& parameter,
                                             const std::vector<std::string>& names);
