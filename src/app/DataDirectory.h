#pragma once
#include <QString>
#include <QStringList>

// The arguments the program acts on: every parameter except the program
// itself and switches ("/name" or "--name" for a known switch name).
QStringList CollectArguments(const QStringList& parameters);

// The data directory: "DATA=<dir>" when given and existing, else
// $XDG_CONFIG_HOME/corvyne/ (created). Ends with "/". When a given directory
// does not exist, error holds the message for the user.
QString ResolveDataDirectory(const QStringList& arguments, QString& error);
