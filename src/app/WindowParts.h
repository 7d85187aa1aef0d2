#pragma once
// What the main window's parts share. The window owns all of it, fills it in
// while it makes the parts (before any event can reach one) and hands every
// part the same reference; a part reaches another part only through that
// part's own interface.

#include "common/Prompt.h"

#include <QString>

#include <functional>
#include <string>

class QWidget;
class TFTPclient;
class TSettings;
class TIniFile;
class TSiteDatabase;
class TListingCache;
class TTransferQueue;
class TConnectionWorkflow;
class TQueueRun;
class TRemoteFileOps;
class TLocalPane;
class TRemotePane;
class TFilePane;
class TStatusLine;
class TQuickConnect;
class TScriptHost;
class TQueuePanel;
class TFileCommands;
class TSiteCommands;
class TTapi;

// The directory menu's switches, read by both panes when they list.
struct TListingSwitches {
    bool filterFolders = false;  // folders pass the pane's filter too
    bool showLinks = true;
    bool linksAsFiles = false;
};

struct TWindowParts {
    QWidget* window = nullptr;
    QString dataDir;  // ends with "/"
    TFTPclient* ftp = nullptr;
    TSettings* settings = nullptr;
    TIniFile* settingsFile = nullptr;
    TSiteDatabase* sites = nullptr;
    TListingCache* cache = nullptr;
    TTransferQueue* queue = nullptr;
    TConnectionWorkflow* workflow = nullptr;
    TQueueRun* queueRun = nullptr;
    TRemoteFileOps* fileOps = nullptr;

    TLocalPane* local = nullptr;
    TRemotePane* remote = nullptr;
    TStatusLine* status = nullptr;
    TQuickConnect* quick = nullptr;
    TScriptHost* scripts = nullptr;
    TQueuePanel* queuePanel = nullptr;
    TFileCommands* files = nullptr;
    TSiteCommands* siteCommands = nullptr;
    std::function<TFilePane&()> active;  // the pane the user works in

    TTapi* dialer = nullptr;  // the line dialed last (by a site's queue or a script), a child of the window

    TListingSwitches switches;
    QString findText;  // the last "查找文件" text, for either pane

    // The prompt of the moment (the window's, a test's, or a script's).
    std::function<IPrompt&()> prompt;
    std::function<void(IPrompt*)> setPrompt;  // nullptr: the window's own
    // A line in the log with its colour (lcNormal ... lcLocalOnly).
    std::function<void(const std::string& text, int colour)> log;

    IPrompt& Prompt() const { return prompt(); }
    TFilePane& Active() const { return active(); }
    void Log(const std::string& text, int colour) const { log(text, colour); }
};
