#pragma once
#include <QString>

// Registers the site-queue file type (.csq) for the user: a shared-mime-info
// type and a desktop entry that opens such files with this program, under
// $XDG_DATA_HOME (normally ~/.local/share). Existing files are left alone.
// Returns false when a file could not be written.
bool RegisterSiteQueueType(const QString& executable);
