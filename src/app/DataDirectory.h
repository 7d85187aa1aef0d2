#pragma once
#include <QString>
#include <QStringList>

// The arguments the program acts on: every parameter except the program
// itself and switches ("/name" or "--name" for a known switch name). A
// parameter holding a double quote opens a quoted argument that the next one
// holding a double quote closes: the parameters between are joined with
// blanks and the quotes dropped (a quote never closed ends at the last one).
QStringList CollectArguments(const QStringList& parameters);

// What the command line asks for, in the order the forms are tried.
enum class TCommandLineKind {
    None,           // no arguments
    SiteQueueFile,  // one existing file with a HOST in its HOSTINFO section
    Keywords,       // the first argument holds "="
    Script,         // "+script [parameters]"
    LocalFiles,     // local paths to upload
    Host,           // the rest: a server text to connect to
};
TCommandLineKind ClassifyCommandLine(const QStringList& arguments);

// The data directory: "DATA=<dir>" when given and existing, else
// $XDG_CONFIG_HOME/corvyne/ (created). Ends with "/". When a given directory
// does not exist, error holds the message for the user. Every "DATA="
// argument is taken out of arguments: the rest is the command line proper.
QString ResolveDataDirectory(QStringList& arguments, QString& error);

// The data folder when the command line names none (ends with "/").
QString DefaultDataDirectory();
// What a program started from this one (a new window, a desktop launcher)
// needs on its command line to use the same data folder: nothing for the
// default one, else "DATA=<folder>".
QStringList DataDirectoryArguments(const QString& dataDir);

// Whether the command line runs without a user: QUIT=YES, SCRIPT= or a
// "+script". Such a run never opens a dialog.
bool RunsWithoutUser(const QStringList& arguments);

// Sets HOME from the password database when it is unset or empty (cron,
// "env -i"): Qt's home, configuration and data folders then never fall back
// to "/". Returns the home in force afterwards.
QString EnsureHomeDirectory();
