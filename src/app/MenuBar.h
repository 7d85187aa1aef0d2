#pragma once
// The menus and the command toolbar: the menu bar's menus as tables of
// items (caption, key, command), each menu enabling its items from the
// session and the panes when it opens; the panes' command and view
// pop-ups; the log's own menu; and the custom commands' submenu. The
// commands are the other parts'; what only the frame does (about,
// preferences, hiding, its log) is asked through IMenuFrame.

#include "app/WindowParts.h"

#include <QKeySequence>
#include <QObject>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;
class TWinConsole;
class TfrmCustom;
struct TCustomCommand;

class IMenuFrame {
public:
    virtual ~IMenuFrame() = default;
    virtual void About() = 0;
    virtual void Preferences() = 0;
    virtual void Hide() = 0;
    virtual TWinConsole* Console() = 0;
};

class TMenuBar : public QObject {
    Q_OBJECT

public:
    TMenuBar(TWindowParts& parts, QMainWindow* window, QToolBar* commands, IMenuFrame& frame);

    void RebuildCustomMenu();
    // Every key of the menus as they stand (menu, item, key), then the
    // panes' own keys: the help menu's list.
    std::string ShortcutList() const;
    // The menu text of the program's own command on Ctrl+Shift+key; empty when free.
    std::string BuiltInShortcutOwner(char key) const;
    void mnuDefineCustomClick();  // TfrmCustom; saved and the menu rebuilt when it closes
    // Instead of the modal run of the dialog; tests put their own in.
    std::function<void(TfrmCustom& dialog)> DefineCustomOpened;

    // For tests: the menus the user opens.
    QMenu* CustomMenu() const { return mnuCustom; }
    QMenu* CommandPopup() const { return PopupCommand; }
    QMenu* ViewPopup() const { return PopupView; }

private:
    // A row of a menu's table: nullptr as the caption is a separator; keep
    // receives the item when its enabling or check needs it later.
    struct TItem {
        const char* caption = nullptr;
        std::function<void()> run;
        QKeySequence key = {};
        QAction** keep = nullptr;
    };
    void addItems(QMenu* menu, std::initializer_list<TItem> items);
    QMenu* addMenu(const char* caption);
    std::vector<QAction*> addStyleItems(QMenu* menu);

    void buildServerMenu();
    void buildSitesMenu();
    void buildDirectoryMenu();
    void buildToolsMenu();
    void buildViewMenu();
    void buildOptionsMenu();
    void buildHelpMenu();
    void buildConsoleMenu();
    void buildToolBar();
    void buildCommandPopup();
    void buildViewPopup();
    void runCustomCommand(const TCustomCommand& command);

    TWindowParts& m_parts;
    QMainWindow* m_window;
    QToolBar* m_commands;
    IMenuFrame& m_frame;
    QMenu* mnuCustom = nullptr;
    QMenu* PopupCommand = nullptr;
    QMenu* PopupView = nullptr;
};
