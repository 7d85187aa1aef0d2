#include "app/MenuBar.h"

#include "app/FileCommands.h"
#include "app/LocalPane.h"
#include "app/QueuePanel.h"
#include "app/QuickConnect.h"
#include "app/RemotePane.h"
#include "app/ScriptHost.h"
#include "app/SiteCommands.h"
#include "console/cxGraphics.h"
#include "dialogs/CustomCommandsDialog.h"
#include "dialogs/TransferTypeDialogs.h"
#include "ftp/Ftp.h"
#include "session/Connection.h"
#include "session/CustomCommands.h"
#include "session/FileOps.h"
#include "session/ListingCache.h"
#include "sites/IniFile.h"
#include "widgets/DialogSize.h"
#include "widgets/QueueView.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStyle>
#include <QToolBar>

#include <set>

namespace {
const char* const StyleCaptions[] = {"大图标(&G)", "小图标(&M)", "列表(&L)", "详细资料(&D)"};
}  // namespace

TMenuBar::TMenuBar(TWindowParts& parts, QMainWindow* window, QToolBar* commands, IMenuFrame& frame)
    : QObject(window), m_parts(parts), m_window(window), m_commands(commands), m_frame(frame)
{
    buildServerMenu();
    buildSitesMenu();
    parts.siteCommands->BuildBookmarkMenu(addMenu("书签(&B)"));  // the site's bookmarks follow its items
    buildDirectoryMenu();
    buildToolsMenu();
    parts.queuePanel->BuildMenu(addMenu("队列(&Q)"));
    parts.scripts->BuildMenu(addMenu("脚本(&C)"));
    buildViewMenu();
    buildOptionsMenu();
    buildHelpMenu();
    buildConsoleMenu();
    parts.siteCommands->BuildSiteButton(parts.quick->Bar());
    buildToolBar();
    buildCommandPopup();
    buildViewPopup();
    for (TFilePane* pane : {static_cast<TFilePane*>(parts.local), static_cast<TFilePane*>(parts.remote)})
        connect(pane, &TFilePane::ContextMenuWanted, this,
                [this](const QPoint& at, bool onItem) { (onItem ? PopupCommand : PopupView)->popup(at); });
}

namespace {

// The desktop theme's icon for a menu item (freedesktop names), with the
// style's own where the item has a usual one and the theme has none.
QIcon menuIcon(const QWidget* window, const char* caption)
{
    struct TMenuIcon {
        const char* caption;
        const char* themeIcon;
        QStyle::StandardPixmap fallback;
    };
    static const TMenuIcon icons[] = {
        {"连接(&C)", "network-connect", QStyle::SP_CustomBase},
        {"断开(&D)", "network-disconnect", QStyle::SP_CustomBase},
        {"退出(&X)", "application-exit", QStyle::SP_DialogCloseButton},
        {"站点管理器(&M)", "network-server", QStyle::SP_DirHomeIcon},
        {"添加当前站点(&A)", "bookmark-new", QStyle::SP_CustomBase},
        {"新建窗口(&N)", "window-new", QStyle::SP_CustomBase},
        {"刷新(&R)", "view-refresh", QStyle::SP_BrowserReload},
        {"创建目录(&D)", "folder-new", QStyle::SP_FileDialogNewFolder},
        {"删除(&L)", "edit-delete", QStyle::SP_TrashIcon},
        {"属性(&P)", "document-properties", QStyle::SP_FileDialogInfoView},
        {"查看(&V)", "document-open", QStyle::SP_CustomBase},
        {"编辑(&E)", "accessories-text-editor", QStyle::SP_CustomBase},
        {"执行(&X)", "system-run", QStyle::SP_CustomBase},
        {"打印(&P)", "document-print", QStyle::SP_CustomBase},
        {"保存(&S)", "document-save", QStyle::SP_DialogSaveButton},
        {"复制到剪贴板(&C)", "edit-copy", QStyle::SP_CustomBase},
        {"查找文件(&F)", "edit-find", QStyle::SP_CustomBase},
        {"查找下一个(&I)", "go-next", QStyle::SP_CustomBase},
        {"全部选定", "edit-select-all", QStyle::SP_CustomBase},
        {"目录(&C)", "help-contents", QStyle::SP_DialogHelpButton},
        {"键盘快捷键(&K)", "preferences-desktop-keyboard", QStyle::SP_CustomBase},
        {"关于(&A)...", "help-about", QStyle::SP_MessageBoxInformation},
    };
    for (const TMenuIcon& i : icons)
        if (std::strcmp(i.caption, caption) == 0)
            return QIcon::fromTheme(QString::fromLatin1(i.themeIcon), i.fallback == QStyle::SP_CustomBase
                                                                          ? QIcon()
                                                                          : window->style()->standardIcon(i.fallback));
    return {};
}

}  // namespace

void TMenuBar::addItems(QMenu* menu, std::initializer_list<TItem> items)
{
    for (const TItem& item : items) {
        if (!item.caption) {
            menu->addSeparator();
            continue;
        }
        QAction* a = item.run ? menu->addAction(QString::fromUtf8(item.caption), this, item.run)
                              : menu->addAction(QString::fromUtf8(item.caption));
        a->setShortcut(item.key);
        a->setIcon(menuIcon(m_window, item.caption));
        if (item.keep)
            *item.keep = a;
    }
}

// The four view styles of the active pane, one checked at a time.
std::vector<QAction*> TMenuBar::addStyleItems(QMenu* menu)
{
    auto* styles = new QActionGroup(menu);
    std::vector<QAction*> items;
    for (int i = 0; i < 4; ++i) {
        QAction* a = menu->addAction(QString::fromUtf8(StyleCaptions[i]), this,
                                     [this, i] { m_parts.Active().SetViewStyle(static_cast<TViewStyle>(i)); });
        a->setCheckable(true);
        styles->addAction(a);
        items.push_back(a);
    }
    return items;
}

QMenu* TMenuBar::addMenu(const char* caption)
{
    return m_window->menuBar()->addMenu(QString::fromUtf8(caption));
}

void TMenuBar::buildServerMenu()
{
    QMenu* server = addMenu("服务器(&S)");
    TConnectionWorkflow* flow = m_parts.workflow;
    QAction *connectItem, *disconnectItem, *reconnect, *idleItem, *print, *save;
    addItems(server, {
                         {"连接(&C)", [this] { m_parts.quick->Connect(); }, Qt::CTRL | Qt::Key_Return, &connectItem},
                         {"断开(&D)", [this] { m_parts.quick->Disconnect(); }, Qt::CTRL | Qt::Key_D, &disconnectItem},
                         {"重新连接(&R)", [flow] { flow->Reconnect(); }, {}, &reconnect},
                         {},
                         {"反空闲(&I)", {}, Qt::CTRL | Qt::Key_I, &idleItem},
                         {},
                         {"打印(&P)", [this] { m_parts.remote->Print(); }, Qt::CTRL | Qt::Key_P, &print},
                         {"保存(&S)", [this] { m_parts.remote->AskSaveListing(); }, {}, &save},
                         {},
                         {"复制网址到剪贴板(&U)", [this] { m_parts.remote->CopyAddress(false); }},
                         {"复制日志到剪贴板(&C)", [this] { m_frame.Console()->CopyAll(); }},
                         {},
                         {"退出(&X)", [this] { m_window->close(); }},
                     });
    idleItem->setObjectName(QStringLiteral("mnuIdle"));
    idleItem->setCheckable(true);
    connect(idleItem, &QAction::toggled, this, [flow](bool on) { flow->IdleEnabled = on; });
    connect(server, &QMenu::aboutToShow, this, [=, this] {
        connectItem->setEnabled(m_parts.quick->CanConnect());
        disconnectItem->setEnabled(m_parts.quick->CanDisconnect());
        reconnect->setEnabled(m_parts.quick->CanDisconnect());
        const bool idle = flow->State() == SessionState::Idle;
        print->setEnabled(idle);
        save->setEnabled(idle);
        idleItem->setChecked(flow->IdleEnabled);
    });
}

void TMenuBar::buildSitesMenu()
{
    QMenu* sites = addMenu("站点(&I)");
    TSiteCommands* c = m_parts.siteCommands;
    QAction *addSite, *editSite, *shortcut, *saveLocal, *saveRemote, *browse;
    addItems(sites, {
                        {"站点管理器(&M)", [c] { c->mnuSiteManagerClick(); }, Qt::Key_F4},
                        {"添加当前站点(&A)", [c] { c->mnuAddCurrentSiteClick(); }, Qt::Key_F8, &addSite},
                        {"编辑当前站点(&E)", [c] { c->mnuEditCurrentSiteClick(); }, {}, &editSite},
                        {"创建快捷方式(&S)", [c] { c->mnuCreateShortcutClick(); }, {}, &shortcut},
                        {},
                        {"保存本地路径(&L)", [c] { c->mnuSaveLocalPathClick(); }, Qt::Key_F6, &saveLocal},
                        {"保存远程路径(&R)", [c] { c->mnuSaveRemotePathClick(); }, Qt::Key_F7, &saveRemote},
                        {},
                        {"浏览服务器", [c] { c->mnuBrowseServerClick(); }, Qt::CTRL | Qt::Key_B, &browse},
                        {"新建窗口(&N)", [c] { c->mnuNewWindowClick(); }, Qt::CTRL | Qt::Key_N},
                    });
    connect(sites, &QMenu::aboutToShow, this, [=, this] {
        const TConnectionWorkflow& flow = *m_parts.workflow;
        const bool site = !m_parts.quick->Server().isEmpty() && !flow.CurrentSite.empty();
        saveLocal->setEnabled(site);
        shortcut->setEnabled(site);
        editSite->setEnabled(site);
        addSite->setEnabled(flow.State() != SessionState::Disconnected);
        browse->setEnabled(addSite->isEnabled());
        saveRemote->setEnabled(site && m_parts.ftp->Connected());
    });
}

void TMenuBar::buildDirectoryMenu()
{
    QMenu* dir = addMenu("目录(&D)");
    TWindowParts& p = m_parts;
    QAction* findNext;
    addItems(dir, {
                      {"刷新(&R)", [&p] { p.Active().Refresh(); }, Qt::Key_F5},
                      {"更改目录", [&p] { p.Active().AskChangeDirectory(); }, Qt::CTRL | Qt::Key_Insert},
                      {"编辑路径(&P)", [&p] { p.Active().FocusPathBox(); }, Qt::CTRL | Qt::Key_L},
                      {"创建目录(&D)", [&p] { p.files->popNewFoldClick(); }, Qt::Key_Insert},
                      {},
                      {"过滤文件(&L)", [&p] { p.Active().AskFilter(); }},
                      {"组选择(&G)", [&p] { p.Active().AskGroupSelect(); }},
                      {"查找文件(&F)", [&p] { p.Active().AskFind(); }, Qt::CTRL | Qt::Key_F},
                      {"查找下一个(&I)", [&p] { p.Active().FindNext(); }, Qt::Key_F3, &findNext},
                      {},
                      {"复制网址(&U)", [&p] { p.remote->CopyAddress(true); }},
                      {"清空缓存(&U)", [&p] { p.cache->Clear(); }},
                      {},
                  });
    findNext->setEnabled(false);  // until a search finds something
    for (TFilePane* pane : {static_cast<TFilePane*>(p.local), static_cast<TFilePane*>(p.remote)})
        connect(pane, &TFilePane::FindNextAvailable, findNext, &QAction::setEnabled);
    TListingSwitches& on = p.switches;
    const std::pair<const char*, bool*> switches[] = {{"过滤目录(&D)", &on.filterFolders},
                                                      {"显示链接(&S)", &on.showLinks},
                                                      {"作为文件解析链接(&R)", &on.linksAsFiles}};
    for (auto [caption, value] : switches) {
        QAction* a = dir->addAction(QString::fromUtf8(caption));
        a->setCheckable(true);
        // The panes the switch affects are shown again (the remote one from
        // the listing cache).
        connect(a, &QAction::triggered, this, [this, a, value = value] {
            *value = !*value;
            a->setChecked(*value);
            if (value == &m_parts.switches.filterFolders)
                m_parts.local->List();
            m_parts.remote->ShowAgain();
        });
        connect(dir, &QMenu::aboutToShow, a, [a, value = value] { a->setChecked(*value); });
    }
}

void TMenuBar::buildToolsMenu()
{
    QMenu* tools = addMenu("工具(&O)");
    TFileCommands* f = m_parts.files;
    QAction *view, *edit, *remove, *rename, *move, *chmod, *properties, *raw, *rawListing;
    addItems(tools, {
                        {"查看(&V)", [f] { f->popViewClick(); }, Qt::CTRL | Qt::SHIFT | Qt::Key_V, &view},
                        {"编辑(&E)", [f] { f->popEditClick(); }, Qt::CTRL | Qt::Key_E, &edit},
                        {"删除(&L)", [f] { f->popDeleteClick(); }, {}, &remove},
                        {"重命名(&R)", [f] { f->popRenameClick(); }, Qt::Key_F2, &rename},
                        {"移动(&M)", [f] { f->popMoveClick(); }, Qt::CTRL | Qt::Key_M, &move},
                        {"改变许可权限(&C)", [f] { f->popCHMODClick(); }, Qt::CTRL | Qt::Key_O, &chmod},
                        {"属性(&P)", [f] { f->popPropertiesClick(); }, Qt::CTRL | Qt::Key_Z, &properties},
                        {"执行(&X)", [f] { f->popExecuteClick(); }, Qt::CTRL | Qt::Key_Y},
                        {},
                        {"原始命令(&R)", [f] { f->mnuRawCmdClick(); }, Qt::CTRL | Qt::Key_R, &raw},
                        {"浏览原始目录(&V)", [f] { f->mnuRawDirectoryClick(); }, {}, &rawListing},
                        {},
                    });
    connect(tools, &QMenu::aboutToShow, this, [=, this] {
        const bool idle = m_parts.workflow->State() == SessionState::Idle;
        const TFilePane& pane = m_parts.Active();
        const bool remote = pane.IsRemote();
        const std::vector<int> rows = pane.View()->SelectedRows();
        const bool selected = !rows.empty();
        const bool file = selected && pane.View()->Kind(rows.front()) == rkFile;
        // The menu says why they are off over SFTP.
        const bool rawOffered = m_parts.ftp->OffersRawCommands();
        raw->setText(rawOffered ? QStringLiteral("原始命令(&R)") : QStringLiteral("原始命令(&R) (SFTP 连接没有)"));
        mnuCustom->setTitle(rawOffered ? QStringLiteral("自定义命令(&C)")
                                       : QStringLiteral("自定义命令(&C) (SFTP 连接没有)"));
        raw->setEnabled(idle && rawOffered);
        mnuCustom->setEnabled(idle && rawOffered && !mnuCustom->isEmpty());
        view->setEnabled(file && (!remote || idle));
        edit->setEnabled(file && (!remote || idle));
        rawListing->setEnabled(!m_parts.ftp->ListingLines.empty());
        // Remote commands need an idle session; permissions are the remote
        // pane's (a local file's are in its properties).
        for (QAction* a : {properties, remove, rename, move})
            a->setEnabled(selected && (!remote || idle));
        chmod->setEnabled(selected && remote && idle);
    });
    // Their keys stay live with the menu closed: the handlers check the pane
    // and the session themselves.
    connect(tools, &QMenu::aboutToHide, this, [=] {
        for (QAction* a : {view, edit, remove, rename, move, chmod, properties, raw})
            a->setEnabled(true);
    });
    mnuCustom = tools->addMenu(QStringLiteral("自定义命令(&C)"));
    RebuildCustomMenu();
}

void TMenuBar::buildViewMenu()
{
    QMenu* view = addMenu("查看(&V)");
    TWindowParts& p = m_parts;
    const std::vector<QAction*> styleItems = addStyleItems(view);
    for (size_t i = 0; i < styleItems.size(); ++i)
        styleItems[i]->setObjectName(QStringLiteral("mnuViewStyle%1").arg(i));
    view->addSeparator();
    QMenu* arrange = view->addMenu(QStringLiteral("排列图标(&I)"));
    QAction* autoArrange;
    addItems(arrange, {
                          {"按名称", [&p] { p.Active().View()->SortByColumn(0); }},
                          {"按大小", [&p] { p.Active().View()->SortByColumn(1); }},
                          {"按日期", [&p] { p.Active().View()->SortByColumn(2); }},
                          {"按类型", [&p] { p.Active().View()->SortByExtension(); }},
                          {},
                          {"自动排列",
                           [&p] { p.Active().View()->SetAutoArrange(!p.Active().View()->AutoArrange()); },
                           {},
                           &autoArrange},
                          {"对齐图标", [&p] { p.Active().View()->Arrange(); }},
                      });
    autoArrange->setCheckable(true);
    addItems(view, {
                       {},
                       {"全部选定", [&p] { p.Active().SelectAll(); }, Qt::CTRL | Qt::Key_A},
                       {"反向选择", [&p] { p.Active().InvertSelection(); }},
                   });
    auto followPane = [=, &p] {
        styleItems[static_cast<size_t>(p.Active().View()->ViewStyle())]->setChecked(true);
        autoArrange->setChecked(p.Active().View()->AutoArrange());
    };
    connect(view, &QMenu::aboutToShow, this, followPane);
    connect(arrange, &QMenu::aboutToShow, this, followPane);
}

void TMenuBar::buildOptionsMenu()
{
    QMenu* options = addMenu("选项(&P)");
    QAction *showQueue, *showToolbar, *showInfo, *siteResume;
    TFTPclient* ftp = m_parts.ftp;
    addItems(options, {
                          {"显示队列(&Q)", {}, {}, &showQueue},
                          {"显示工具栏(&T)", {}, {}, &showToolbar},
                          {"显示提示(&O)", {}, {}, &showInfo},
                          {},
                          {"站点续传(&E)", [ftp] { ftp->ResumeSupported = !ftp->ResumeSupported; }, {}, &siteResume},
                      });
    connect(showQueue, &QAction::triggered, this, [this](bool on) { m_parts.queuePanel->View()->setVisible(on); });
    connect(showToolbar, &QAction::triggered, m_commands, &QWidget::setVisible);
    connect(showInfo, &QAction::triggered, this, [this](bool on) { m_parts.quick->SetInfoVisible(on); });
    for (QAction* a : {showQueue, showToolbar, showInfo, siteResume})
        a->setCheckable(true);
    QMenu* preferences = options->addMenu(QStringLiteral("偏好设置(&P)"));
    TWindowParts& p = m_parts;
    addItems(preferences, {
                              {"常规(&G)", [this] { m_frame.Preferences(); }},
                              {"&ASCII 类型", [&p] { TfrmASCII(*p.settingsFile, *p.settings, p.window).exec(); }},
                              {"重命名类型(&R)", [&p] { TfrmRename(*p.settingsFile, *p.settings, p.window).exec(); }},
                              {"自定义命令(&C)", [this] { mnuDefineCustomClick(); }},
                          });
    p.scripts->AddDdeClientItem(options);
    addItems(options, {{}, {"隐藏(&H)", [this] { m_frame.Hide(); }, Qt::CTRL | Qt::Key_H}});
    connect(options, &QMenu::aboutToShow, this, [=, this] {
        showQueue->setChecked(!m_parts.queuePanel->View()->isHidden());
        showToolbar->setChecked(!m_commands->isHidden());
        showInfo->setChecked(m_parts.quick->InfoVisible());
        const SessionState s = m_parts.workflow->State();
        siteResume->setEnabled(s != SessionState::Disconnected && s != SessionState::Connecting);
        siteResume->setChecked(siteResume->isEnabled() && ftp->ResumeSupported);
    });
}

std::string TMenuBar::ShortcutList() const
{
    const auto plain = [](QString text) {
        text.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&|\\.\\.\\.$")));
        return text.trimmed();
    };
    QString out;
    std::function<void(const QMenu*, const QString&)> walk = [&](const QMenu* menu, const QString& path) {
        for (const QAction* a : menu->actions()) {
            if (a->menu())
                walk(a->menu(), path + QStringLiteral(" › ") + plain(a->text()));
            else if (!a->shortcut().isEmpty())
                out += a->shortcut().toString(QKeySequence::NativeText) + QStringLiteral("\t") + path +
                       QStringLiteral(" › ") + plain(a->text()) + QLatin1Char('\n');
        }
    };
    for (const QAction* a : m_window->menuBar()->actions())
        if (a->menu())
            walk(a->menu(), plain(a->text()));
    out += QStringLiteral(
        "Enter\t窗格 › 打开文件夹\n"
        "Backspace\t窗格 › 上一级目录\n"
        "Del\t窗格 › 删除所选\n"
        "Tab\t窗格 › 切换到另一个窗格\n");
    return out.toStdString();
}

void TMenuBar::buildHelpMenu()
{
    QMenu* help = addMenu("帮助(&H)");
    QAction* contents;
    addItems(help,
             {{"目录(&C)", {}, Qt::Key_F1, &contents},
              {"键盘快捷键(&K)", [this] { m_parts.Prompt().ShowMessage(MessageKind::Information, ShortcutList()); }},
              {"关于(&A)...", [this] { m_frame.About(); }}});
    contents->setEnabled(false);  // its command comes with later work
}

// The log console's own menu
void TMenuBar::buildConsoleMenu()
{
    TWinConsole* console = m_frame.Console();
    auto* menu = new QMenu(console);
    addItems(menu, {
                       {"复制到剪贴板(&C)", [console] { console->CopyAll(); }},
                       {"保存为文件(&S)",
                        [this, console] {
                            std::string path;
                            if (!m_parts.Prompt().AskSaveFile("保存日志窗口", "文本文档 (*.txt)", path))
                                return;
                            try {
                                console->SaveToFile(QString::fromStdString(path), true);
                            } catch (const std::exception& e) {
                                m_parts.Prompt().ShowMessage(MessageKind::Error, e.what());
                            }
                        }},
                       {"清除(&L)", [console] { console->Clear(); }},
                   });
    console->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(console, &QWidget::customContextMenuRequested, this,
            [=](const QPoint& at) { menu->popup(console->mapToGlobal(at)); });
}

// After connect and disconnect: the commands most used, with their hints.
void TMenuBar::buildToolBar()
{
    struct TButton {
        const char* themeIcon;        // the freedesktop name, looked up in the desktop's theme
        QStyle::StandardPixmap icon;  // where the theme has none
        const char* hint;  // nullptr: a separator
        std::function<void()> run;
    };
    TWindowParts& p = m_parts;
    const TButton buttons[] = {
        {nullptr, QStyle::SP_CustomBase, nullptr, {}},
        {"network-server", QStyle::SP_DirHomeIcon, "站点管理器", [&p] { p.siteCommands->mnuSiteManagerClick(); }},
        {"bookmark-new", QStyle::SP_FileDialogNewFolder, "添加当前站点",
         [&p] { p.siteCommands->mnuAddCurrentSiteClick(); }},
        {"insert-link", QStyle::SP_FileLinkIcon, "创建站点快捷方式",
         [&p] { p.siteCommands->mnuCreateShortcutClick(); }},
        {nullptr, QStyle::SP_CustomBase, nullptr, {}},
        {"go-home", QStyle::SP_FileDialogToParent, "主目录", [&p] { p.Active().Parent(); }},
        {"view-refresh", QStyle::SP_BrowserReload, "刷新", [&p] { p.Active().Refresh(); }},
        {nullptr, QStyle::SP_CustomBase, nullptr, {}},
        {"document-open", QStyle::SP_FileDialogContentsView, "查看", [&p] { p.files->popViewClick(); }},
        {"accessories-text-editor", QStyle::SP_FileDialogDetailedView, "编辑", [&p] { p.files->popEditClick(); }},
        {"edit-delete", QStyle::SP_TrashIcon, "删除", [&p] { p.files->popDeleteClick(); }},
        {"document-properties", QStyle::SP_FileDialogInfoView, "属性", [&p] { p.files->popPropertiesClick(); }},
        {nullptr, QStyle::SP_CustomBase, nullptr, {}},
        {"list-add", QStyle::SP_FileIcon, "添加文件", [&p] { p.queuePanel->expAddClick(); }},
        {"media-playback-start", QStyle::SP_MediaPlay, "传输队列", [&p] { p.queuePanel->queTransferClick(); }},
        {"process-stop", QStyle::SP_MediaStop, "中断", [&p] { p.queuePanel->btnAbortClick(); }},
        {"edit-clear", QStyle::SP_DialogResetButton, "清除队列", [&p] { p.queuePanel->queClearClick(); }},
        {nullptr, QStyle::SP_CustomBase, nullptr, {}},
        {"preferences-system", QStyle::SP_ComputerIcon, "偏好设置", [this] { m_frame.Preferences(); }},
    };
    for (const TButton& b : buttons) {
        if (!b.hint) {
            m_commands->addSeparator();
            continue;
        }
        const QString hint = QString::fromUtf8(b.hint);
        QAction* a = m_commands->addAction(
            QIcon::fromTheme(QString::fromLatin1(b.themeIcon), m_window->style()->standardIcon(b.icon)), hint);
        a->setToolTip(hint);
        connect(a, &QAction::triggered, this, b.run);
    }
}

// A pane's command pop-up: transfer, queue, view, edit and the file commands,
// as the pane and its selection allow.
void TMenuBar::buildCommandPopup()
{
    PopupCommand = new QMenu(m_window);
    TWindowParts& p = m_parts;
    TFileCommands* f = p.files;
    QAction *transfer, *toQueue, *view, *edit, *execute, *remove, *rename, *move, *chmod, *properties, *copyAddress;
    addItems(PopupCommand,
             {
                 {"下载",
                  [&p] {
                      if (p.Active().IsRemote())
                          p.queuePanel->mnuDownloadClick();
                      else
                          p.queuePanel->mnuUploadClick();
                  },
                  {},
                  &transfer},
                 {"队列(&Q)", [&p] { p.queuePanel->AddSelectionToQueue(p.Active().View()); }, {}, &toQueue},
                 {},
                 {"查看(&V)", [f] { f->popViewClick(); }, {}, &view},
                 {"编辑(&E)", [f] { f->popEditClick(); }, {}, &edit},
                 {"执行", [f] { f->popExecuteClick(); }, {}, &execute},
                 {},
                 {"删除", [f] { f->popDeleteClick(); }, {}, &remove},
                 {"重命名", [f] { f->popRenameClick(); }, {}, &rename},
                 {"移动", [f] { f->popMoveClick(); }, {}, &move},
                 {"权限", [f] { f->popCHMODClick(); }, {}, &chmod},
                 {"属性(&P)", [f] { f->popPropertiesClick(); }, {}, &properties},
                 {"复制网址(&U)", [&p] { p.remote->CopyAddress(true); }, {}, &copyAddress},
             });
    connect(PopupCommand, &QMenu::aboutToShow, this, [=, this] {
        const TFilePane& pane = m_parts.Active();
        const std::vector<int> rows = pane.View()->SelectedRows();
        bool folder = false;
        for (int r : rows)
            folder = folder || pane.View()->Kind(r) == rkFolder;
        const TCommandMenuState m =
            CommandMenuState(pane.IsRemote(), m_parts.workflow->State() == SessionState::Idle, folder,
                             !rows.empty() && pane.View()->Kind(rows.front()) == rkFile);
        transfer->setText(m.transferCaption);
        transfer->setEnabled(m.transfer);
        toQueue->setEnabled(!rows.empty());
        properties->setEnabled(!rows.empty());
        view->setEnabled(m.view);
        edit->setEnabled(m.edit);
        remove->setEnabled(m.remove);
        rename->setEnabled(m.rename);
        move->setEnabled(m.move);
        execute->setVisible(m.executeVisible);
        execute->setEnabled(m.execute);
        chmod->setVisible(m.permissionsVisible);
        chmod->setEnabled(m.permissions);
        copyAddress->setVisible(m.copyAddressVisible);
    });
}

// A pane's view pop-up: the styles, folders, selection.
void TMenuBar::buildViewPopup()
{
    PopupView = new QMenu(m_window);
    TWindowParts& p = m_parts;
    const std::vector<QAction*> styleItems = addStyleItems(PopupView);
    QAction *newFolder, *changeDir, *refresh;
    addItems(PopupView, {
                            {},
                            {"创建目录", [&p] { p.files->popNewFoldClick(); }, {}, &newFolder},
                            {"更改目录", [&p] { p.Active().AskChangeDirectory(); }, {}, &changeDir},
                            {"刷新", [&p] { p.Active().Refresh(); }, {}, &refresh},
                            {},
                            {"全部选定", [&p] { p.Active().SelectAll(); }},
                            {"反向选择", [&p] { p.Active().InvertSelection(); }},
                        });
    connect(PopupView, &QMenu::aboutToShow, this, [=, this] {
        styleItems[static_cast<size_t>(m_parts.Active().View()->ViewStyle())]->setChecked(true);
        const SessionState s = m_parts.workflow->State();
        const bool may = !IsTransferring(s) && (!m_parts.Active().IsRemote() || s == SessionState::Idle);
        for (QAction* a : {newFolder, changeDir, refresh})
            a->setEnabled(may);
    });
}

// ---------------------------------------------------------------- custom commands

void TMenuBar::RebuildCustomMenu()
{
    mnuCustom->clear();
    const std::vector<TCustomCommand> commands = ReadCustomCommands(*m_parts.settingsFile);
    std::set<char> taken;
    for (const TCustomCommand& c : commands) {
        // A key taken already (a file from before keys were checked) stays
        // with its first owner: two owners would run neither.
        const bool free = c.Shortcut && BuiltInShortcutOwner(c.Shortcut).empty() && taken.insert(c.Shortcut).second;
        QAction* a = mnuCustom->addAction(QString::fromStdString(c.Caption), this, [this, c] { runCustomCommand(c); });
        a->setToolTip(QString::fromStdString(c.Command));
        a->setStatusTip(QString::fromStdString(c.Command));
        if (free)
            a->setShortcut(QKeySequence(QString::fromStdString(CustomShortcutText(c.Shortcut))));
    }
    mnuCustom->setEnabled(!commands.empty());
}

std::string TMenuBar::BuiltInShortcutOwner(char key) const
{
    const QKeySequence wanted(QString::fromStdString(CustomShortcutText(key)));
    const QList<QAction*> custom = mnuCustom->actions();
    for (QAction* a : m_window->findChildren<QAction*>())
        if (a->shortcut() == wanted && !custom.contains(a))
            return a->text()
                .remove(QRegularExpression(QStringLiteral("\\(&.\\)")))
                .remove(QLatin1Char('&'))
                .toStdString();
    return {};
}

void TMenuBar::runCustomCommand(const TCustomCommand& command)
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    if (!m_parts.ftp->OffersRawCommands()) {
        m_parts.Log("SFTP 连接没有自定义命令", lcError);
        return;
    }
    // "%d": asked once; a cancelled box gives an empty text.
    std::string parameter;
    if (command.Command.find("%d") != std::string::npos)
        m_parts.Prompt().AskText("自定义命令", "输入参数", parameter);
    std::vector<std::string> names;
    const TCorvListView* remote = m_parts.remote->View();
    if (CustomCommandKind(command.Command) == TCustomKind::PerFile)
        for (int r : remote->SelectedRows())
            if (remote->Kind(r) != rkParent)
                names.push_back(remote->NameBytes(r));
    const std::vector<std::string> lines = ExpandCustomCommand(command.Command, parameter, names);
    if (CustomCommandKind(command.Command) == TCustomKind::PerFile)
        m_parts.fileOps->CustomCommands(lines);
    else
        m_parts.fileOps->RawCommand(lines.front());
}

void TMenuBar::mnuDefineCustomClick()
{
    TIniFile& settings = *m_parts.settingsFile;
    TfrmCustom dialog(ReadCustomCommands(settings), m_window);
    new TDialogSize(dialog, settings, "CustomCommands");
    dialog.OnSave = [&settings](const std::vector<TCustomCommand>& commands) {
        WriteCustomCommands(settings, commands);
    };
    // The custom commands' own keys are checked by the dialog, among themselves.
    dialog.ShortcutOwner = [this](char key) { return BuiltInShortcutOwner(key); };
    if (DefineCustomOpened)
        DefineCustomOpened(dialog);
    else
        dialog.exec();
    WriteCustomCommands(settings, dialog.Commands());
    RebuildCustomMenu();
}
