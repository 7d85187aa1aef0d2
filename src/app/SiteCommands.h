#pragma once
// The site commands: the site manager and the target-site chooser, the site
// menu under "FTP 服务器", adding and editing the current site, its saved
// paths, a desktop launcher, a new window, the browse window (a second
// connection of its own), and the current site's bookmarks.

#include "app/WindowParts.h"
#include "dialogs/BrowseServer.h"
#include "panes/PaneLogic.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QProcessEnvironment;

class QToolBar;
class TfrmBookmark;
class TfrmSite;

class TSiteCommands : public QObject {
    Q_OBJECT

public:
    explicit TSiteCommands(TWindowParts& parts);

    // The "FTP 服务器" button before the quick-connect bar's fields.
    void BuildSiteButton(QToolBar* bar);
    void BuildBookmarkMenu(QMenu* menu);

    void mnuSiteManagerClick(const std::string& site = {});  // TfrmSite; site: the one to show
    void mnuEditCurrentSiteClick();
    // Local files from the command line are queued; this picks the site they
    // go to, then connects, uploads them and ends the program.
    void ChooseTargetSite();
    void mnuAddCurrentSiteClick();  // the quick-connect fields as a new site (TfrmSiteGroup)
    void mnuSaveLocalPathClick();
    void mnuSaveRemotePathClick();
    void mnuCreateShortcutClick();  // a desktop launcher for the current site
    // Another window: the current site, or the quick-connect fields with the
    // password handed over in the new process's environment (readable by
    // this user only), never on its command line.
    void mnuNewWindowClick();
    void mnuBrowseServerClick();  // "浏览服务器": a second connection in a window of its own
    TfrmBrowseServer* BrowseWindow() const { return m_browse; }
    void RebuildSiteMenu();
    void SiteMenuChosen(const QString& caption);

    void LoadBookmarks();  // the current site's, after the fixed items
    void mnuAddBookmarkClick();
    void mnuEditBookmarkClick();             // TfrmBookmark
    void GoToBookmark(const QString& path);  // only while idle
    void SetHomeBookmark(const QString& dir);
    // For tests: the menus as the user sees them.
    QMenu* SiteMenu() const { return GroupMenu; }
    QMenu* BookmarkMenu() const { return mnuBookmarks; }
    QAction* HomeBookmarkItem() const { return mnuHomeBookmark; }

    // Instead of the modal dialogs and new processes; tests put their own in.
    std::function<void(TfrmSite& dialog)> SiteManagerOpened;
    std::function<bool(TfrmBookmark& dialog)> BookmarksOpened;
    std::function<bool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)>
        LaunchNewWindow;

Q_SIGNALS:
    void TitleWanted(const QString& title);  // the site just added names the window

private:
    void runSiteManager(TfrmSite& dialog);
    void connectToSite(const QString& name);
    void queueRemoteRows(const std::string& remoteDir, const std::vector<TPaneItem>& rows);

    TWindowParts& m_parts;
    QMenu* GroupMenu = nullptr;
    QMenu* mnuBookmarks = nullptr;
    QAction* mnuHomeBookmark = nullptr;  // "<主目录>": its data is the session's start directory
    QPointer<TfrmBrowseServer> m_browse;
};
