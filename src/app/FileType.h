#pragma once
#include <QString>
#include <QStringList>

#include <string>

// Registers the site-queue file type (.csq) for the user: a shared-mime-info
// type and a desktop entry that opens such files with this program, under
// $XDG_DATA_HOME (normally ~/.local/share). Files are rewritten only when
// they differ (a moved program gets a new Exec line), and the desktop's
// caches are rebuilt when stale. Returns false when a file could not be
// written.
bool RegisterSiteQueueType(const QString& executable);

// A desktop launcher that starts the program with the given arguments (the
// site's name alone when none): "<name>.desktop" in folder, executable.
// path is the file written; false with error set when it could not be.
bool CreateSiteLauncher(const QString& folder, const QString& name, const QString& executable, QString& path,
                        std::string& error, const QStringList& arguments = {});
