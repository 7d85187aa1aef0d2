// The main window's menus: the menu bar, the site menu of the quick-connect
// bar, the panes' command and view pop-ups, and the commands they run that
// belong to no other file. Items whose commands come with later work are
// there and disabled.
#include "app/FileType.h"
#include "app/Main.h"
#include "dialogs/Editor.h"
#include "widgets/DialogSize.h"

#include "console/cxGraphics.h"
#include "desktop/DdeLink.h"
#include "dialogs/Preferences.h"
#include "dialogs/TransferTypeDialogs.h"
#include "widgets/QueueView.h"
#include "widgets/corvview.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace {
// An item whose command is not built yet: shown, never enabled.
QAction* later(QMenu* menu, const QString& caption, const QKeySequence& key = {})
{
    QAction* a = menu->addAction(caption);
    a->setShortcut(key);
    a->setEnabled(false);
    a->setProperty("later", true);
    return a;
}

// Pane actions that need the pane the user works in.
const char* const StyleCaptions[] = {"大图标(&G)", "小图标(&M)", "列表(&L)", "详细资料(&D)"};
}  // namespace

void TfrmMain::buildMenus()
{
    buildServerMenu();
    buildSitesMenu();
    m_siteCommands->BuildBookmarkMenu(menuBar()->addMenu(QStringLiteral("书签(&B)")));  // the site's bookmarks follow
    buildDirectoryMenu();
    buildToolsMenu();
    m_queuePanel->BuildMenu(menuBar()->addMenu(QStringLiteral("队列(&Q)")));
    m_scripts->BuildMenu(menuBar()->addMenu(QStringLiteral("脚本(&C)")));
    buildViewMenu();
    buildOptionsMenu();
    buildHelpMenu();
    buildConsoleMenu();
    m_siteCommands->BuildSiteButton(m_quick->Bar());
    buildToolBar();
    buildPanePopups();
}

// The server menu
void TfrmMain::buildServerMenu()
{
    QMenu* server = menuBar()->addMenu(QStringLiteral("服务器(&S)"));
    QAction* connectItem = server->addAction(QStringLiteral("连接(&C)"), this, [this] { m_quick->Connect(); });
    connectItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    QAction* disconnectItem = server->addAction(QStringLiteral("断开(&D)"), this, [this] { m_quick->Disconnect(); });
    disconnectItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    QAction* reconnect = server->addAction(QStringLiteral("重新连接(&R)"), this, [this] { mnuReconnectClick(); });
    server->addSeparator();
    mnuIdle = server->addAction(QStringLiteral("反空闲(&I)"));
    mnuIdle->setObjectName(QStringLiteral("mnuIdle"));
    mnuIdle->setCheckable(true);
    mnuIdle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(mnuIdle, &QAction::toggled, this, [this](bool on) { m_workflow->IdleEnabled = on; });
    server->addSeparator();
    QAction* print = server->addAction(QStringLiteral("打印(&P)"), this, [this] { m_remote->Print(); });
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* save = server->addAction(QStringLiteral("保存(&S)"), this, [this] { m_remote->AskSaveListing(); });
    server->addSeparator();
    server->addAction(QStringLiteral("复制网址到剪贴板(&U)"), this, [this] { mnuCopyURLClick(false); });
    server->addAction(QStringLiteral("复制日志到剪贴板(&C)"), this, [this] { Memo1->CopyAll(); });
    server->addSeparator();
    server->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);
    connect(server, &QMenu::aboutToShow, this, [=, this] {
        connectItem->setEnabled(m_quick->CanConnect());
        disconnectItem->setEnabled(m_quick->CanDisconnect());
        reconnect->setEnabled(m_quick->CanDisconnect());
        const bool idle = m_workflow->State() == SessionState::Idle;
        print->setEnabled(idle);
        save->setEnabled(idle);
        mnuIdle->setChecked(m_workflow->IdleEnabled);
    });
}

// The site menu
void TfrmMain::buildSitesMenu()
{
    QMenu* sites = menuBar()->addMenu(QStringLiteral("站点(&I)"));
    sites->addAction(QStringLiteral("站点管理器(&M)"), this, [this] { m_siteCommands->mnuSiteManagerClick(); })
        ->setShortcut(QKeySequence(Qt::Key_F4));
    QAction* addSite = sites->addAction(QStringLiteral("添加当前站点(&A)"), this, [this] { m_siteCommands->mnuAddCurrentSiteClick(); });
    addSite->setShortcut(QKeySequence(Qt::Key_F8));
    QAction* editSite =
        sites->addAction(QStringLiteral("编辑当前站点(&E)"), this, [this] { m_siteCommands->mnuEditCurrentSiteClick(); });
    QAction* shortcut =
        sites->addAction(QStringLiteral("创建快捷方式(&S)"), this, [this] { m_siteCommands->mnuCreateShortcutClick(); });
    sites->addSeparator();
    QAction* saveLocal =
        sites->addAction(QStringLiteral("保存本地路径(&L)"), this, [this] { m_siteCommands->mnuSaveLocalPathClick(); });
    saveLocal->setShortcut(QKeySequence(Qt::Key_F6));
    QAction* saveRemote =
        sites->addAction(QStringLiteral("保存远程路径(&R)"), this, [this] { m_siteCommands->mnuSaveRemotePathClick(); });
    saveRemote->setShortcut(QKeySequence(Qt::Key_F7));
    sites->addSeparator();
    QAction* browse = sites->addAction(QStringLiteral("浏览服务器"), this, [this] { m_siteCommands->mnuBrowseServerClick(); });
    browse->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    QAction* newWindow = sites->addAction(QStringLiteral("新建窗口(&N)"), this, [this] { m_siteCommands->mnuNewWindowClick(); });
    newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(sites, &QMenu::aboutToShow, this, [=, this] {
        const bool site = !m_quick->Server().isEmpty() && !m_workflow->CurrentSite.empty();
        saveLocal->setEnabled(site);
        shortcut->setEnabled(site);
        editSite->setEnabled(site);
        addSite->setEnabled(m_workflow->State() != SessionState::Disconnected);
        browse->setEnabled(addSite->isEnabled());
        saveRemote->setEnabled(site && FTP.IsConnected());
    });
}

// The directory menu
void TfrmMain::buildDirectoryMenu()
{
    QMenu* dir = menuBar()->addMenu(QStringLiteral("目录(&D)"));
    dir->addAction(QStringLiteral("刷新(&R)"), this, [this] { ActivePart().Refresh(); })
        ->setShortcut(QKeySequence(Qt::Key_F5));
    dir->addAction(QStringLiteral("更改目录"), this, [this] { ActivePart().AskChangeDirectory(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    dir->addAction(QStringLiteral("创建目录(&D)"), this, [this] { m_files->popNewFoldClick(); })
        ->setShortcut(QKeySequence(Qt::Key_Insert));
    dir->addSeparator();
    dir->addAction(QStringLiteral("过滤文件(&L)"), this, [this] { ActivePart().AskFilter(); });
    dir->addAction(QStringLiteral("组选择(&G)"), this, [this] { ActivePart().AskGroupSelect(); });
    dir->addAction(QStringLiteral("查找文件(&F)"), this, [this] { ActivePart().AskFind(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QAction* findNext = dir->addAction(QStringLiteral("查找下一个(&I)"), this, [this] { ActivePart().FindNext(); });
    findNext->setShortcut(QKeySequence(Qt::Key_F3));
    findNext->setEnabled(false);  // until a search finds something
    for (TFilePane* pane : {static_cast<TFilePane*>(m_local), static_cast<TFilePane*>(m_remote)})
        connect(pane, &TFilePane::FindNextAvailable, findNext, &QAction::setEnabled);
    dir->addSeparator();
    dir->addAction(QStringLiteral("复制网址(&U)"), this, [this] { mnuCopyURLClick(true); });
    dir->addAction(QStringLiteral("清空缓存(&U)"), this, [this] { m_cache.Clear(); });
    dir->addSeparator();
    TListingSwitches& on = m_parts.switches;
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
                m_local->List();
            m_remote->ShowAgain();
        });
        connect(dir, &QMenu::aboutToShow, a, [a, value = value] { a->setChecked(*value); });
    }
}

// File commands (file operations, viewing and editing)
void TfrmMain::buildToolsMenu()
{
    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&O)"));
    QAction* toolView = tools->addAction(QStringLiteral("查看(&V)"), this, [this] { m_files->popViewClick(); });
    toolView->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    QAction* toolEdit = tools->addAction(QStringLiteral("编辑(&E)"), this, [this] { m_files->popEditClick(); });
    toolEdit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QAction* toolDelete = tools->addAction(QStringLiteral("删除(&L)"), this, [this] { m_files->popDeleteClick(); });
    QAction* toolRename = tools->addAction(QStringLiteral("重命名(&R)"), this, [this] { m_files->popRenameClick(); });
    toolRename->setShortcut(QKeySequence(Qt::Key_F2));
    QAction* toolMove = tools->addAction(QStringLiteral("移动(&M)"), this, [this] { m_files->popMoveClick(); });
    toolMove->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    QAction* toolChmod = tools->addAction(QStringLiteral("改变许可权限(&C)"), this, [this] { m_files->popCHMODClick(); });
    toolChmod->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* toolProperties = tools->addAction(QStringLiteral("属性(&P)"), this, [this] { m_files->popPropertiesClick(); });
    toolProperties->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    tools->addAction(QStringLiteral("执行(&X)"), this, [this] { m_files->popExecuteClick(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    tools->addSeparator();
    QAction* raw = tools->addAction(QStringLiteral("原始命令(&R)"), this, [this] { m_files->mnuRawCmdClick(); });
    raw->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    QAction* rawListing =
        tools->addAction(QStringLiteral("浏览原始目录(&V)"), this, [this] { m_files->mnuRawDirectoryClick(); });
    connect(tools, &QMenu::aboutToShow, this, [=, this] {
        const bool idle = m_workflow->State() == SessionState::Idle;
        const bool remote = ActivePane() == m_remote->View();
        const bool selected = !ActivePane()->SelectedRows().empty();
        raw->setEnabled(idle);
        mnuCustom->setEnabled(idle && !mnuCustom->isEmpty());
        const std::vector<int> rows = ActivePane()->SelectedRows();
        const bool file = !rows.empty() && ActivePane()->Kind(rows.front()) == rkFile;
        toolView->setEnabled(file && (!remote || idle));
        toolEdit->setEnabled(file && (!remote || idle));
        rawListing->setEnabled(!FTP.ListingLines.empty());
        toolProperties->setEnabled(selected && (!remote || idle));
        // m_remote->View() commands need an idle session; permissions are the remote
        // pane's (a local file's are in its properties).
        toolDelete->setEnabled(selected && (!remote || idle));
        toolRename->setEnabled(selected && (!remote || idle));
        toolMove->setEnabled(selected && (!remote || idle));
        toolChmod->setEnabled(selected && remote && idle);
    });
    // Their keys (Ctrl+Shift+V, Ctrl+E, F2, Ctrl+M, Ctrl+O, Ctrl+Z, Ctrl+R) stay live with the menu
    // closed: the handlers check the pane and the session themselves.
    connect(tools, &QMenu::aboutToHide, this, [=] {
        for (QAction* a : {toolView, toolEdit, toolDelete, toolRename, toolMove, toolChmod, toolProperties, raw})
            a->setEnabled(true);
    });
    tools->addSeparator();
    mnuCustom = tools->addMenu(QStringLiteral("自定义命令(&C)"));
    RebuildCustomMenu();
}

// View: styles and arranging of the active pane
void TfrmMain::buildViewMenu()
{
    auto activePane = [this] { return ActivePane(); };
    QMenu* view = menuBar()->addMenu(QStringLiteral("查看(&V)"));
    auto* styles = new QActionGroup(this);
    std::vector<QAction*> styleItems;
    for (int i = 0; i < 4; ++i) {
        QAction* a = view->addAction(QString::fromUtf8(StyleCaptions[i]), this,
                                     [=, this] { ActivePart().SetViewStyle(static_cast<TViewStyle>(i)); });
        a->setCheckable(true);
        a->setObjectName(QStringLiteral("mnuViewStyle%1").arg(i));
        styles->addAction(a);
        styleItems.push_back(a);
    }
    view->addSeparator();
    QMenu* arrange = view->addMenu(QStringLiteral("排列图标(&I)"));
    arrange->addAction(QStringLiteral("按名称"), this, [=] { activePane()->SortByColumn(0); });
    arrange->addAction(QStringLiteral("按大小"), this, [=] { activePane()->SortByColumn(1); });
    arrange->addAction(QStringLiteral("按日期"), this, [=] { activePane()->SortByColumn(2); });
    arrange->addAction(QStringLiteral("按类型"), this, [=] { activePane()->SortByExtension(); });
    arrange->addSeparator();
    QAction* autoArrange = arrange->addAction(QStringLiteral("自动排列"), this,
                                              [=] { activePane()->SetAutoArrange(!activePane()->AutoArrange()); });
    autoArrange->setCheckable(true);
    arrange->addAction(QStringLiteral("对齐图标"), this, [=] { activePane()->Arrange(); });
    view->addSeparator();
    QAction* all = view->addAction(QStringLiteral("全部选定"), this, [this] { ActivePart().SelectAll(); });
    all->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    view->addAction(QStringLiteral("反向选择"), this, [this] { ActivePart().InvertSelection(); });
    auto followPane = [=] {
        styleItems[static_cast<size_t>(activePane()->ViewStyle())]->setChecked(true);
        autoArrange->setChecked(activePane()->AutoArrange());
    };
    connect(view, &QMenu::aboutToShow, this, followPane);
    connect(arrange, &QMenu::aboutToShow, this, followPane);
}

// The options menu
void TfrmMain::buildOptionsMenu()
{
    QMenu* options = menuBar()->addMenu(QStringLiteral("选项(&P)"));
    mnuShowQueue = options->addAction(QStringLiteral("显示队列(&Q)"), this, [this](bool on) { m_queuePanel->View()->setVisible(on); });
    mnuShowToolbar =
        options->addAction(QStringLiteral("显示工具栏(&T)"), this, [this](bool on) { ToolBar->setVisible(on); });
    mnuShowInfoPanel = options->addAction(QStringLiteral("显示提示(&O)"), this, [this](bool on) {
        m_quick->SetInfoVisible(on);
    });
    for (QAction* a : {mnuShowQueue, mnuShowToolbar, mnuShowInfoPanel})
        a->setCheckable(true);
    options->addSeparator();
    mnuSiteResume = options->addAction(QStringLiteral("站点续传(&E)"), this,
                                       [this] { FTP.ResumeSupported = !FTP.ResumeSupported; });
    mnuSiteResume->setCheckable(true);
    QMenu* preferences = options->addMenu(QStringLiteral("偏好设置(&P)"));
    preferences->addAction(QStringLiteral("常规(&G)"), this, [this] { mnuPreferencesClick(); });
    preferences->addAction(QStringLiteral("&ASCII 类型"), this, [this] { mnuASCIIExtensionsClick(); });
    preferences->addAction(QStringLiteral("重命名类型(&R)"), this, [this] { mnuRenameExtensionsClick(); });
    preferences->addAction(QStringLiteral("自定义命令(&C)"), this, [this] { mnuDefineCustomClick(); });
    m_scripts->AddDdeClientItem(options);
    options->addSeparator();
    QAction* hide = options->addAction(QStringLiteral("隐藏(&H)"), this, [this] { mnuHideClick(); });
    hide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(options, &QMenu::aboutToShow, this, [this] {
        mnuShowQueue->setChecked(!m_queuePanel->View()->isHidden());
        mnuShowToolbar->setChecked(!ToolBar->isHidden());
        mnuShowInfoPanel->setChecked(m_quick->InfoVisible());
        const SessionState s = m_workflow->State();
        mnuSiteResume->setEnabled(s != SessionState::Disconnected && s != SessionState::Connecting);
        mnuSiteResume->setChecked(mnuSiteResume->isEnabled() && FTP.ResumeSupported);
    });
}

// The help menu
void TfrmMain::buildHelpMenu()
{
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    later(help, QStringLiteral("目录(&C)"), QKeySequence(Qt::Key_F1));
    help->addAction(QStringLiteral("关于(&A)..."), this, [this] { mnuAboutClick(); });
}

// The log console's own menu
void TfrmMain::buildConsoleMenu()
{
    auto* consoleMenu = new QMenu(Memo1);
    consoleMenu->addAction(QStringLiteral("复制到剪贴板(&C)"), this, [this] { Memo1->CopyAll(); });
    consoleMenu->addAction(QStringLiteral("保存为文件(&S)"), this, [this] {
        std::string path;
        if (!m_prompt->AskSaveFile("保存日志窗口", "文本文档 (*.txt)", path))
            return;
        try {
            Memo1->SaveToFile(QString::fromStdString(path), true);
        } catch (const std::exception& e) {
            m_prompt->ShowMessage(MessageKind::Error, e.what());
        }
    });
    consoleMenu->addAction(QStringLiteral("清除(&L)"), this, [this] { Memo1->Clear(); });
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [=, this](const QPoint& at) { consoleMenu->popup(Memo1->mapToGlobal(at)); });
}

void TfrmMain::buildToolBar()
{
    // After connect and disconnect: the commands most used, with their hints.
    auto button = [this](QStyle::StandardPixmap icon, const QString& hint, std::function<void()> run) {
        QAction* a = ToolBar->addAction(style()->standardIcon(icon), hint);
        a->setToolTip(hint);
        if (run)
            connect(a, &QAction::triggered, this, std::move(run));
        else
            a->setEnabled(false);  // its command comes with later work
        return a;
    };
    ToolBar->addSeparator();
    button(QStyle::SP_DirHomeIcon, QStringLiteral("站点管理器"), [this] { m_siteCommands->mnuSiteManagerClick(); });
    button(QStyle::SP_FileDialogNewFolder, QStringLiteral("添加当前站点"), [this] { m_siteCommands->mnuAddCurrentSiteClick(); });
    button(QStyle::SP_FileLinkIcon, QStringLiteral("创建站点快捷方式"), [this] { m_siteCommands->mnuCreateShortcutClick(); });
    ToolBar->addSeparator();
    button(QStyle::SP_FileDialogToParent, QStringLiteral("主目录"), [this] { ActivePart().Parent(); });
    button(QStyle::SP_BrowserReload, QStringLiteral("刷新"), [this] { ActivePart().Refresh(); });
    ToolBar->addSeparator();
    button(QStyle::SP_FileDialogContentsView, QStringLiteral("查看"), [this] { m_files->popViewClick(); });
    button(QStyle::SP_FileDialogDetailedView, QStringLiteral("编辑"), [this] { m_files->popEditClick(); });
    button(QStyle::SP_TrashIcon, QStringLiteral("删除"), [this] { m_files->popDeleteClick(); });
    button(QStyle::SP_FileDialogInfoView, QStringLiteral("属性"), [this] { m_files->popPropertiesClick(); });
    ToolBar->addSeparator();
    button(QStyle::SP_FileIcon, QStringLiteral("添加文件"), [this] { m_queuePanel->expAddClick(); });
    button(QStyle::SP_MediaPlay, QStringLiteral("传输队列"), [this] { m_queuePanel->queTransferClick(); });
    button(QStyle::SP_MediaStop, QStringLiteral("中断"), [this] { m_queuePanel->btnAbortClick(); });
    button(QStyle::SP_DialogResetButton, QStringLiteral("清除队列"), [this] { m_queuePanel->queClearClick(); });
    ToolBar->addSeparator();
    button(QStyle::SP_ComputerIcon, QStringLiteral("偏好设置"), [this] { mnuPreferencesClick(); });
}

void TfrmMain::buildPanePopups()
{
    buildCommandPopup();
    buildViewPopup();
}

// A pane's command pop-up: transfer, queue, view, edit and the file commands,
// as the pane and its selection allow.
void TfrmMain::buildCommandPopup()
{
    PopupCommand = new QMenu(this);
    QAction* transfer = PopupCommand->addAction(QStringLiteral("下载"), this, [this] {
        if (ActivePane() == m_local->View())
            m_queuePanel->mnuUploadClick();
        else
            m_queuePanel->mnuDownloadClick();
    });
    QAction* toQueue =
        PopupCommand->addAction(QStringLiteral("队列(&Q)"), this, [this] { m_queuePanel->AddSelectionToQueue(ActivePane()); });
    PopupCommand->addSeparator();
    QAction* view = PopupCommand->addAction(QStringLiteral("查看(&V)"), this, [this] { m_files->popViewClick(); });
    QAction* edit = PopupCommand->addAction(QStringLiteral("编辑(&E)"), this, [this] { m_files->popEditClick(); });
    QAction* execute = PopupCommand->addAction(QStringLiteral("执行"), this, [this] { m_files->popExecuteClick(); });
    PopupCommand->addSeparator();
    QAction* remove = PopupCommand->addAction(QStringLiteral("删除"), this, [this] { m_files->popDeleteClick(); });
    QAction* rename = PopupCommand->addAction(QStringLiteral("重命名"), this, [this] { m_files->popRenameClick(); });
    QAction* move = PopupCommand->addAction(QStringLiteral("移动"), this, [this] { m_files->popMoveClick(); });
    QAction* chmod = PopupCommand->addAction(QStringLiteral("权限"), this, [this] { m_files->popCHMODClick(); });
    QAction* properties = PopupCommand->addAction(QStringLiteral("属性(&P)"), this, [this] { m_files->popPropertiesClick(); });
    QAction* copyAddress =
        PopupCommand->addAction(QStringLiteral("复制网址(&U)"), this, [this] { mnuCopyURLClick(true); });
    connect(PopupCommand, &QMenu::aboutToShow, this, [=, this] {
        TCorvListView* pane = ActivePane();
        const std::vector<int> rows = pane->SelectedRows();
        bool folder = false;
        for (int r : rows)
            folder = folder || pane->Kind(r) == rkFolder;
        const TCommandMenuState m = CommandMenuState(pane == m_remote->View(), m_workflow->State() == SessionState::Idle, folder,
                                                     !rows.empty() && pane->Kind(rows.front()) == rkFile);
        transfer->setText(m.transferCaption);
        // The rules decide; a command not built yet stays disabled.
        auto set = [](QAction* a, bool on) { a->setEnabled(on && !a->property("later").toBool()); };
        set(transfer, m.transfer);
        set(toQueue, !rows.empty());
        set(properties, !rows.empty());
        set(view, m.view);
        set(edit, m.edit);
        set(remove, m.remove);
        set(rename, m.rename);
        set(move, m.move);
        execute->setVisible(m.executeVisible);
        set(execute, m.execute);
        chmod->setVisible(m.permissionsVisible);
        set(chmod, m.permissions);
        copyAddress->setVisible(m.copyAddressVisible);
    });
}

// A pane's view pop-up: the styles, folders, selection.
void TfrmMain::buildViewPopup()
{
    PopupView = new QMenu(this);
    auto* styles = new QActionGroup(this);
    std::vector<QAction*> styleItems;
    for (int i = 0; i < 4; ++i) {
        QAction* a = PopupView->addAction(QString::fromUtf8(StyleCaptions[i]), this,
                                          [=, this] { ActivePart().SetViewStyle(static_cast<TViewStyle>(i)); });
        a->setCheckable(true);
        styles->addAction(a);
        styleItems.push_back(a);
    }
    PopupView->addSeparator();
    QAction* newFolder = PopupView->addAction(QStringLiteral("创建目录"), this, [this] { m_files->popNewFoldClick(); });
    QAction* changeDir =
        PopupView->addAction(QStringLiteral("更改目录"), this, [this] { ActivePart().AskChangeDirectory(); });
    QAction* refresh = PopupView->addAction(QStringLiteral("刷新"), this, [this] { ActivePart().Refresh(); });
    PopupView->addSeparator();
    PopupView->addAction(QStringLiteral("全部选定"), this, [this] { ActivePart().SelectAll(); });
    PopupView->addAction(QStringLiteral("反向选择"), this, [this] { ActivePart().InvertSelection(); });
    connect(PopupView, &QMenu::aboutToShow, this, [=, this] {
        styleItems[static_cast<size_t>(ActivePane()->ViewStyle())]->setChecked(true);
        const SessionState s = m_workflow->State();
        const bool may = !IsTransferring(s) && (ActivePane() != m_remote->View() || s == SessionState::Idle);
        for (QAction* a : {newFolder, changeDir, refresh})
            a->setEnabled(may && !a->property("later").toBool());
    });
}

// ---------------------------------------------------------------- panes

TCorvListView* TfrmMain::ActivePane() const
{
    return m_activePart->View();
}

void TfrmMain::SetActivePane(TCorvListView* pane)
{
    SetActivePart(pane == m_remote->View() ? static_cast<TFilePane&>(*m_remote) : *m_local);
}

void TfrmMain::SetActivePart(TFilePane& pane)
{
    m_activePart = &pane;
    m_local->SetShaded(&pane == m_local);
    m_remote->SetShaded(&pane == m_remote);
}

void TfrmMain::PaneDragDrop(TCorvListView* pane, int sourceTag, int row)
{
    const bool onFolder = row >= 0 && pane->Kind(row) == rkFolder;
    const QString folder = onFolder ? pane->Text(row, 0) : QString();
    if (sourceTag == pane->Tag) {
        if (!onFolder)
            return;
        if (m_settings.ConfirmMove && !m_prompt->Confirm("移动所选文件到 \"" + folder.toStdString() + "\" ?"))
            return;
        if (OnPaneDrop)
            OnPaneDrop({TPaneDrop::Move, pane, folder});
        return;
    }
    TCorvListView* source = pane == m_remote->View() ? m_local->View() : m_remote->View();
    if (OnPaneDrop)
        OnPaneDrop({pane == m_remote->View() ? TPaneDrop::Upload : TPaneDrop::Download, source, folder});
}

// ---------------------------------------------------------------- commands

void TfrmMain::mnuASCIIExtensionsClick()
{
    TfrmASCII(m_settingsFile, m_settings, this).exec();
}

void TfrmMain::mnuRenameExtensionsClick()
{
    TfrmRename(m_settingsFile, m_settings, this).exec();
}

void TfrmMain::mnuPreferencesClick()
{
    // The proxy login, log file and no-proxy hosts as the client has them;
    // the font as the panes show it.
    TfrmPref::Sources src = TfrmPref::ReadSources(m_settingsFile);
    src.ProxyHost = FTP.ProxyHost;
    src.ProxyPort = FTP.ProxyPort;
    src.ProxyUser = FTP.ProxyUser;
    src.ProxyPass = FTP.ProxyPass;
    src.LogFile = FTP.LogFile;
    src.CustomIP = FTP.CustomIP;
    src.NoProxyHosts = FTP.NoProxyHost;
    src.FontName = m_local->View()->font().family();
    src.FontSize = m_local->View()->font().pointSize();
    TfrmPref dialog(m_settings, src, *m_prompt, this);
    new TDialogSize(dialog, m_settingsFile, "Preferences");
    const bool ok = PreferencesOpened ? PreferencesOpened(dialog) : dialog.exec() == QDialog::Accepted;
    m_workflow->ConnectionDirty = true;
    if (!ok)
        return;
    if (!dialog.Write(m_settingsFile))  // kept in memory; the next write tries again
        m_prompt->ShowMessage(MessageKind::Error, "无法保存设置: " + m_settingsFile.LastError());
    LoadSettings(m_settingsFile, m_settingsFile, m_settings, &FTP);
    ApplyViewSettings();
    m_queuePanel->SetCompletionAction(m_settings.XferOption);
}
