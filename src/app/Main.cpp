#include "app/Main.h"

#include "app/CrashLog.h"
#include "app/DataDirectory.h"
#include "app/FileType.h"
#include "console/cxGraphics.h"
#include "desktop/Keyring.h"
#include "dialogs/About.h"
#include "dialogs/LoginPrompt.h"
#include "dialogs/MessageWindow.h"
#include "dialogs/Preferences.h"
#include "net/EventDispatch.h"
#include "widgets/DialogSize.h"
#include "widgets/QueueView.h"
#include "widgets/corvview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QSplitter>
#include <QStatusBar>
#include <QStorageInfo>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <map>

namespace {
// The log's colour for a line kind: green, navy and red as on a white page,
// lighter tones of the same on a dark one (where navy would vanish); an
// ordinary line gets none and is drawn in the palette's text colour.
QColor logLineColour(int kind, bool darkBackground)
{
    static const QColor light[] = {QColor(0, 128, 0), QColor(0, 0, 128), QColor(255, 0, 0)};
    static const QColor dark[] = {QColor(90, 210, 90), QColor(130, 170, 255), QColor(255, 110, 110)};
    return kind >= lcCommand && kind <= lcError ? (darkBackground ? dark : light)[kind - 1] : QColor();
}
}  // namespace

// ---------------------------------------------------------------- window

// What only the frame does, for the menus.
class TfrmMain::TMenuFrame : public IMenuFrame {
public:
    explicit TMenuFrame(TfrmMain& w) : m_w(w) {}
    void About() override { m_w.mnuAboutClick(); }
    void Preferences() override { m_w.mnuPreferencesClick(); }
    void Hide() override { m_w.mnuHideClick(); }
    TWinConsole* Console() override { return m_w.m_log; }

private:
    TfrmMain& m_w;
};

// What scripts ask of the window.
class TfrmMain::TScriptWindow : public IScriptWindow {
public:
    explicit TScriptWindow(TfrmMain& w) : m_w(w) {}
    void Activate(TFilePane& pane) override { m_w.SetActivePart(pane); }
    void Hide() override { m_w.mnuHideClick(); }
    void Unhide() override { m_w.tryRestoreClick(); }
    void Close(bool questions) override { questions ? (void)m_w.close() : m_w.CloseWithoutQuestions(); }

private:
    TfrmMain& m_w;
};

TfrmMain::TfrmMain(const QString& dataDirectory, QWidget* parent)
    : QMainWindow(parent),
      m_dataDir(dataDirectory),
      m_settingsFile((dataDirectory + QStringLiteral("corvyne.ini")).toStdString(), true),
      m_keyring(std::make_unique<TKeyringVault>()),
      m_widgetPrompt(std::make_unique<TWidgetPrompt>(this))
{
    m_prompt = m_widgetPrompt.get();
    setWindowTitle(QString::fromLatin1(TConnectionWorkflow::ProgramTitle));
    SetApplicationExceptionHandler([this](const std::string& what) { AppException(what); });
    m_firstRun = !m_settingsFile.Exists();
    m_settingsFile.Load();
    m_sites.Load(dataDirectory.toStdString());
    m_sites.Passwords().SetVault(m_keyring.get());
    {
        TIniFile::Batch batch(m_settingsFile);  // a first run's defaults reach the disk at once
        LoadSettings(m_settingsFile, m_settingsFile, m_settings, &m_ftp);
    }
    if (m_sites.ImportValue() == 0)
        m_sites.Sites().WriteInteger("_Groups_", "Import", 1);  // no older version's file on this system

    m_workflow = std::make_unique<TConnectionWorkflow>(m_ftp, m_settings, m_settingsFile, m_sites, *m_prompt, this);
    fillParts();
    buildWidgets();
    m_scriptWindow = std::make_unique<TScriptWindow>(*this);
    m_scripts = m_parts.scripts = new TScriptHost(m_parts, *m_scriptWindow, this);
    connect(m_queuePanel, &TQueuePanel::ScriptStopWanted, m_scripts, &TScriptHost::Stop);
    m_siteCommands = m_parts.siteCommands = new TSiteCommands(m_parts);
    connect(m_siteCommands, &TSiteCommands::TitleWanted, this, &TfrmMain::ShowApplicationTitle);
    m_menuFrame = std::make_unique<TMenuFrame>(*this);
    m_menus = new TMenuBar(m_parts, this, ToolBar, *m_menuFrame);
    connectLogAndStatus();
    connectMessages();
    m_files = m_parts.files = new TFileCommands(m_parts);
    m_workflow->ReloadHistory();
    m_workflow->GoDisconnected();
    LogLine(m_ftp.Description(), lcNormal);

    applySortSettings();
    ApplyViewSettings();
    restoreLayout();
    RegisterSiteQueueType(QCoreApplication::applicationFilePath());
    const QString path = QString::fromStdString(m_settings.Path);
    m_local->SetDirectory(!path.isEmpty() && QFileInfo(path).isDir() ? path : QDir::homePath());
}

// What the parts share; the queue run and the file commands come later, before any event.
void TfrmMain::fillParts()
{
    m_parts.window = this;
    m_parts.dataDir = m_dataDir;
    m_parts.ftp = &m_ftp;
    m_parts.settings = &m_settings;
    m_parts.settingsFile = &m_settingsFile;
    m_parts.sites = &m_sites;
    m_parts.cache = &m_cache;
    m_parts.queue = &m_transferQueue;
    m_parts.workflow = m_workflow.get();
    m_parts.prompt = [this]() -> IPrompt& { return *m_prompt; };
    m_parts.log = [this](const std::string& text, int colour) { LogLine(text, colour); };
    m_parts.setPrompt = [this](IPrompt* prompt) { SetPrompt(prompt); };
    m_parts.active = [this]() -> TFilePane& { return *m_activePart; };
}


// The session told in the log, the title, the server history and the
// buttons; the status bar and the panes follow it themselves.
void TfrmMain::connectLogAndStatus()
{
    TConnectionWorkflow* flow = m_workflow.get();
    using W = TConnectionWorkflow;
    connect(flow, &W::LineLogged, this, [this](const std::string& t, int c) { LogLine(t, c); });
    connect(flow, &W::CaptionShown, this, [this](const std::string& t) { ShowSessionTitle(t); });
    connect(flow, &W::LogCleared, this, [this] { m_log->Clear(); });
    connect(flow, &W::SoundRequested, this, PlaySettingSound);
    connect(flow, &W::StateChanged, this, [this] {
        // Busy: an hourglass over the remote pane, and over the local one
        // while transferring (else the arrow with an hourglass).
        const SessionState state = m_workflow->State();
        const bool busy = state != SessionState::Idle && state != SessionState::Disconnected &&
                          state != SessionState::Starting && state != SessionState::ConnectionLost;
        for (TFilePane* pane : {static_cast<TFilePane*>(m_local), static_cast<TFilePane*>(m_remote)}) {
            if (!busy)
                pane->View()->unsetCursor();
            else
                pane->View()->setCursor(pane->IsRemote() || IsTransferring(state) ? Qt::WaitCursor : Qt::BusyCursor);
        }
    });
}

// Server and directory messages in their own window.
void TfrmMain::connectMessages()
{
    TConnectionWorkflow* flow = m_workflow.get();
    using W = TConnectionWorkflow;
    connect(flow, &W::MessagesArrived, this, [this](bool server, const std::vector<std::string>& lines) {
        if (!m_messageWindow) {
            m_messageWindow = new TfrmMessageWindow(this);
            m_messageWindow->setAttribute(Qt::WA_DeleteOnClose);
            m_messageWindow->resize(m_settings.ServerMessageWidth, m_settings.ServerMessageHeight);
        }
        TfrmMessageWindow* w = m_messageWindow;
        w->ServerMessages = server;
        w->setWindowTitle(server ? QStringLiteral("服务器消息") : QStringLiteral("目录信息"));
        w->chkOption->setText(server ? QStringLiteral("不显示服务器消息") : QStringLiteral("不显示目录信息"));
        QString text;
        for (const std::string& line : lines)
            text += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())) + QLatin1Char('\n');
        w->Memo1->setPlainText(text);
        w->OnOK = [this, server](bool dontShow, QSize size) {
            TIniFile::Batch batch(m_settingsFile);
            if (dontShow) {
                m_settingsFile.WriteBool(SetupSection, server ? "ShowMessages" : "MessageWin", false);
                (server ? m_settings.ShowMessages : m_settings.MessageWin) = false;
            }
            m_settingsFile.WriteInteger(SetupSection, "ServerMessageWidth", size.width());
            m_settingsFile.WriteInteger(SetupSection, "ServerMessageHeight", size.height());
            m_settings.ServerMessageWidth = size.width();
            m_settings.ServerMessageHeight = size.height();
        };
        // Shown without taking the focus unless this window is the active one.
        w->setAttribute(Qt::WA_ShowWithoutActivating, !isActiveWindow());
        w->show();
    });
    connect(flow, &W::MessagesClosed, this, [this] {
        if (m_messageWindow)
            m_messageWindow->close();
    });
}

void TfrmMain::ApplyViewSettings()
{
    ApplyClientViewSettings(m_settingsFile, m_ftp, &m_sites.Passwords());
    const bool headers = !m_settingsFile.ReadBool(SetupSection, "HideHeader", false);
    const bool wholeRow = m_settingsFile.ReadBool(SetupSection, "SelectLine", false);
    for (TCorvListView* pane : {m_local->View(), m_remote->View()}) {
        pane->Header()->setVisible(headers);
        pane->SetMixedOrder(m_settings.AlphaSort);
        pane->SetRowSelect(wholeRow);
    }
    // A font of the user's choice for the panes, the queue, the log and the
    // status bar; without one the desktop's font stays.
    const std::string name = m_settingsFile.ReadString(SetupSection, "FontName");
    const int size = m_settingsFile.ReadInteger(SetupSection, "FontSize", 0);
    if (name.empty() && size <= 0)
        return;
    QFont font = m_local->View()->font();
    if (!name.empty())
        font.setFamily(QString::fromStdString(name));
    if (size > 0)
        font.setPointSize(size);
    if (font == m_local->View()->font())
        return;
    for (QWidget* w : std::initializer_list<QWidget*>{m_local->View(), m_remote->View(), m_queuePanel->View(), m_log, statusBar()})
        w->setFont(font);
    statusBar()->setFixedHeight(QFontInfo(font).pixelSize() + 12);
}

void TfrmMain::applySortSettings()
{
    for (TCorvListView* pane : {m_local->View(), m_remote->View()})
        pane->AutoSort = true;
    m_local->View()->SetSort(m_settingsFile.ReadInteger(SetupSection, "SortLocalColumn", 0),
                   m_settingsFile.ReadBool(SetupSection, "SortLocalAscend", true));
    m_remote->View()->SetSort(m_settingsFile.ReadInteger(SetupSection, "SortRemoteColumn", 0),
                    m_settingsFile.ReadBool(SetupSection, "SortRemoteAscend", true));
    m_parts.switches.showLinks = m_settingsFile.ReadBool(SetupSection, "ShowLinks", true);
    m_parts.switches.linksAsFiles = m_settingsFile.ReadBool(SetupSection, "ResolveFile", false);
}

void TfrmMain::SetPrompt(IPrompt* prompt)
{
    m_prompt = prompt ? prompt : m_widgetPrompt.get();
    m_workflow->SetPrompt(*m_prompt);
    m_queuePanel->Run().SetPrompt(*m_prompt);
}

TfrmMain::~TfrmMain()
{
    SetApplicationExceptionHandler(nullptr);
    // The parts hold the session by reference: they go before it does (as
    // children they would outlive the members).
    for (QObject* part : std::initializer_list<QObject*>{m_menus, m_siteCommands, m_files, m_scripts, m_queuePanel,
                                                         m_quick, m_status, m_remote, m_local})
        delete part;
}

void TfrmMain::buildWidgets()
{
    resize(960, 680);
    buildQuickConnectBar();
    buildPanes();
    buildBottom(MiddleSplitter);
    m_status = m_parts.status = new TStatusLine(statusBar(), *m_workflow, this);
    connect(m_status, &TStatusLine::ProgressTitle, this, [this](const QString& t) { ShowApplicationTitle(t); });
    connect(m_status, &TStatusLine::ProgressEnded, this, [this] { ShowApplicationTitle(m_sessionTitle); });
    m_queuePanel->AttachProgress({m_log, statusBar()});
    SetActivePart(*m_local);
}

// The toolbar's connect buttons and the quick-connect bar.
void TfrmMain::buildQuickConnectBar()
{
    ToolBar = new QToolBar(QStringLiteral("工具栏"), this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setIconSize(QSize(20, 20));
    addToolBar(ToolBar);
    addToolBarBreak();
    m_quick = m_parts.quick = new TQuickConnect(m_parts, this, ToolBar);
}

// The two panes side by side, and what they ask of the rest of the window.
void TfrmMain::buildPanes()
{
    m_local = m_parts.local = new TLocalPane(m_parts, this);
    m_remote = m_parts.remote = new TRemotePane(m_parts, this);
    auto* panes = MiddleSplitter = new QSplitter(Qt::Horizontal);
    panes->setObjectName(QStringLiteral("MiddleSplitter"));
    for (TFilePane* pane : {static_cast<TFilePane*>(m_local), static_cast<TFilePane*>(m_remote)}) {
        panes->addWidget(pane->Box());
        connect(pane, &TFilePane::Entered, this, [this, pane] { SetActivePart(*pane); });
        connect(pane, &TFilePane::FileOpened, this, [this, pane] { fileDoubleClick(pane->View()); });
        connect(pane, &TFilePane::DeletePressed, this, [this] { m_files->popDeleteClick(); });
        connect(pane, &TFilePane::RowsDropped, this,
                [this, pane](int source, int row) { PaneDragDrop(pane->View(), source, row); });
    }    // Rows dropped on the other pane are transferred, onto a folder of their own pane moved.
    m_onPaneDrop = [this](const TPaneDrop& drop) {
        const std::string folder = drop.folder.toStdString();
        if (drop.kind == TPaneDrop::Download) {
            m_queuePanel->mnuDownloadClick(folder);
        } else if (drop.kind == TPaneDrop::Upload) {
            m_queuePanel->mnuUploadClick(folder);
        } else if (drop.kind == TPaneDrop::Move && !folder.empty()) {
            SetActivePane(drop.source);
            m_files->popMoveClick(folder);
        }
    };
}

// The queue and the log below the panes, and the splitters' rules.
void TfrmMain::buildBottom(QSplitter* panes)
{
    auto* bottom = QueueSplitter = new QSplitter(Qt::Horizontal);
    bottom->setObjectName(QStringLiteral("QueueSplitter"));
    m_queuePanel = m_parts.queuePanel = new TQueuePanel(m_parts, bottom);
    connect(m_queuePanel, &TQueuePanel::CloseWanted, this, [this] { CloseWithoutQuestions(); });
    connect(m_queuePanel, &TQueuePanel::SitesWanted, this, [this] { m_siteCommands->mnuSiteManagerClick(); });
    m_log = new TWinConsole(bottom);
    m_log->SelectColor = Qt::green;
    TURLData url = m_log->URLText();
    url.Enabled = false;
    url.Clickable = false;
    m_log->SetURLText(url);
    auto* main = BottomSplitter = new QSplitter(Qt::Vertical);
    main->setObjectName(QStringLiteral("BottomSplitter"));
    main->addWidget(panes);
    main->addWidget(bottom);
    // The remote pane, the queue and the bottom panel keep their saved sizes
    // in pixels whatever size the window is given (also when it gets its
    // saved size after the splitters got theirs); the local pane, the log
    // and the panes take the rest.
    for (auto [sp, grows] : {std::pair{panes, 0}, {bottom, 1}, {main, 0}}) {
        sp->setStretchFactor(grows, 1);
        sp->setStretchFactor(1 - grows, 0);
    }
    setCentralWidget(main);
    // The splitters' minimums: the remote pane 40 wide, the queue 200 wide,
    // the bottom panel (queue and log) 100 high.
    panes->widget(1)->setMinimumWidth(40);
    m_queuePanel->View()->setMinimumWidth(200);
    bottom->setMinimumHeight(100);
    for (QSplitter* sp : {panes, bottom, main})
        sp->setChildrenCollapsible(false);
}

// A file row opened: the "DoubleClick" choice (0 transfer, 1 view, 2 edit, 3 queue).
void TfrmMain::fileDoubleClick(TCorvListView* pane)
{
    if (m_settings.DoubleClick == 3)
        m_queuePanel->AddSelectionToQueue(pane);
    else if (m_settings.DoubleClick == 1)
        m_files->popViewClick();
    else if (m_settings.DoubleClick == 2)
        m_files->popEditClick();
    else if (m_settings.DoubleClick == 0 && m_workflow->State() == SessionState::Idle)
        pane == m_remote->View() ? m_queuePanel->mnuDownloadClick() : m_queuePanel->mnuUploadClick();
}

void TfrmMain::mnuHideClick()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        showMinimized();  // no notification area: the window just minimizes
        return;
    }
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(
            windowIcon().isNull() ? style()->standardIcon(QStyle::SP_DriveNetIcon) : windowIcon(), this);
        auto* menu = new QMenu(this);
        QAction* restore = menu->addAction(QStringLiteral("恢复(&R)"), this, [this] { tryRestoreClick(); });
        menu->setDefaultAction(restore);
        menu->addAction(QStringLiteral("退出(&E)"), this, [this] { tryExitClick(); });
        m_tray->setContextMenu(menu);
        connect(m_tray, &QSystemTrayIcon::activated, this, &TfrmMain::trayActivated);
    }
    m_tray->setToolTip(windowTitle().left(63));
    m_tray->show();
    m_hiddenToTray = true;
    hide();
}

void TfrmMain::ShowSessionTitle(const std::string& title)
{
    m_sessionTitle = QString::fromStdString(title);
    ShowApplicationTitle(m_sessionTitle);
}

void TfrmMain::ShowApplicationTitle(const QString& title)
{
    setWindowTitle(title);
    if (m_tray)
        m_tray->setToolTip(title.left(63));
}

// A double click on the icon restores; a single click does nothing (the
// menu has "恢复(&R)" for desktops that report no double click).
void TfrmMain::trayActivated(int reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        tryRestoreClick();
}

// Closed as it is, hidden: no flash of the window, and the layout saved as
// that of a hidden window.
void TfrmMain::tryExitClick()
{
    QCoreApplication::processEvents();
    close();
}

void TfrmMain::tryRestoreClick()
{
    if (m_tray)
        m_tray->hide();
    m_hiddenToTray = false;
    showNormal();
    raise();
    activateWindow();
    m_log->update();
}

void TfrmMain::HandOffCommandLine(const QStringList& arguments)
{
    switch (ClassifyCommandLine(arguments)) {
        case TCommandLineKind::None:
            return m_queuePanel->OfferInterruptedQueue();
        case TCommandLineKind::SiteQueueFile:
            m_queuePanel->LoadSiteQueueFile(arguments.front().toStdString());
            return;
        case TCommandLineKind::Host:
            // Connects once the window is shown and idle.
            m_quick->FillHanded(arguments.join(QLatin1Char(' ')));
            QTimer::singleShot(0, this, [this] {
                if (m_settings.LocalAutoSize)
                    m_local->FitColumns();
                m_quick->Connect();
            });
            return;
        case TCommandLineKind::LocalFiles:
            m_queuePanel->QueueFileDrop(arguments);
            if (m_settings.ConnectDrop)
                QTimer::singleShot(0, this, [this] { m_siteCommands->ChooseTargetSite(); });
            return;
        case TCommandLineKind::Keywords:
            return m_scripts->KeywordCommandLine(arguments);
        case TCommandLineKind::Script:
            // "+script.txt more words": the rest belongs to the file's name.
            m_scripts->RunStartScript(arguments.join(QLatin1Char(' ')).mid(1));
            return;
    }
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Shown: the server field has the focus; the local pane, filled while
    // the window was hidden, gets its columns fitted.
    m_quick->ServerField()->setFocus();
    if (m_halveSplits) {
        m_halveSplits = false;
        MiddleSplitter->setSizes({MiddleSplitter->width() / 2, MiddleSplitter->width() / 2});
        QueueSplitter->setSizes({QueueSplitter->width() / 2, QueueSplitter->width() / 2});
    }
    if (m_settings.LocalAutoSize)
        m_local->FitColumns();
    m_queuePanel->View()->FitColumns();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimizing with the "Hide" setting on goes to the notification area.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_settings.Hide &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] { mnuHideClick(); });
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        showMinimized();  // Esc minimizes (to the tray when "Hide" is on)
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmMain::mnuAboutClick()
{
    TfrmAbout about(this);
    about.exec();
}

void TfrmMain::LogLine(const std::string& text, int colour)
{
    const bool dark = m_log->palette().color(QPalette::Base).lightness() < 128;
    m_log->AddColoredLine(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                          logLineColour(colour, dark));
    if (m_scripts)
        m_scripts->ForwardLogLine(text, colour);
    m_report.Line(text, colour == lcError);
}

void TfrmMain::AppException(const std::string& what)
{
    TCrashContext context;
    context.connected = m_ftp.Connected();
    context.sessionState =
        m_workflow ? static_cast<int>(m_workflow->State()) : static_cast<int>(SessionState::Starting);
    context.systemType = m_ftp.SystemType();
    const QString log = WriteCrashLog(m_dataDir, what, context);
    m_prompt->ShowMessage(MessageKind::Error, CrashMessage(log));
}

// ---------------------------------------------------------------- layout

void TfrmMain::restoreLayout()
{
    const TIniFile& f = m_settingsFile;
    const int halfWidth = width() / 2;
    m_queuePanel->View()->setVisible(f.ReadBool(SetupSection, "QueueVisible", true));
    ToolBar->setVisible(f.ReadBool(SetupSection, "ShowToolbar", true));
    const bool info = f.ReadBool(SetupSection, "ShowInfoPanel", true);
    m_quick->SetInfoVisible(info);
    int remote = f.ReadInteger(SetupSection, "RemoteSize", 0);
    m_halveSplits = remote <= 0 || m_firstRun;
    if (m_halveSplits)
        remote = halfWidth;  // halved again at the first show, at the real width
    MiddleSplitter->setSizes({std::max(40, width() - remote), std::max(40, remote)});
    int queue = f.ReadInteger(SetupSection, "QueueSize", halfWidth);
    if (queue <= 0 || m_firstRun)
        queue = halfWidth;
    QueueSplitter->setSizes({queue, std::max(200, width() - queue)});
    int server = f.ReadInteger(SetupSection, "ServerSize", 150);
    if (server <= 0)
        server = 150;
    BottomSplitter->setSizes({std::max(100, height() - server), server});
    // View styles (0 large icons .. 3 details) and, where columns are not
    // fitted, their widths.
    auto style = [&](const char* key) {
        return static_cast<TViewStyle>(std::clamp(f.ReadInteger(SetupSection, key, 3), 0, 3));
    };
    m_remote->SetViewStyle(style("RemoteIcon"));
    m_local->SetViewStyle(style("LocalIcon"));
    if (!m_settings.LocalAutoSize)
        for (auto [c, key, width] :
             {std::tuple{0, "LocalNameWidth", 150}, {1, "LocalSizeWidth", 75}, {2, "LocalDateWidth", 120}})
            m_local->View()->SetColumnWidth(c, f.ReadInteger(SetupSection, key, width));
    if (!m_settings.RemoteAutoSize)
        for (auto [c, key, width] : {std::tuple{0, "RemoteNameWidth", 150},
                                     {1, "RemoteSizeWidth", 75},
                                     {2, "RemoteDateWidth", 120},
                                     {3, "RemoteAttrWidth", 65}})
            m_remote->View()->SetColumnWidth(c, f.ReadInteger(SetupSection, key, width));
    const int state = f.ReadInteger(SetupSection, "WindowState", 3);
    if (state != 0) {
        const QRect r = geometry();
        setGeometry(f.ReadInteger(SetupSection, "Left", r.left()), f.ReadInteger(SetupSection, "Top", r.top()),
                    f.ReadInteger(SetupSection, "Width", r.width()), f.ReadInteger(SetupSection, "Height", r.height()));
        if (state >= 2)
            setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void TfrmMain::saveLayout()
{
    TIniFile& f = m_settingsFile;
    TIniFile::Batch batch(f);
    if (isVisible() && isActiveWindow() && !isMaximized() && !isMinimized()) {
        f.WriteInteger(SetupSection, "WindowState", 1);
        f.WriteInteger(SetupSection, "Top", geometry().top());
        f.WriteInteger(SetupSection, "Left", geometry().left());
        f.WriteInteger(SetupSection, "Width", geometry().width());
        f.WriteInteger(SetupSection, "Height", geometry().height());
    } else {
        f.WriteInteger(SetupSection, "WindowState", 2);
    }
    if (!m_settings.LocalAutoSize)
        for (auto [c, key] : {std::pair{0, "LocalNameWidth"}, {1, "LocalSizeWidth"}, {2, "LocalDateWidth"}})
            f.WriteInteger(SetupSection, key, m_local->View()->ColumnWidth(c));
    if (!m_settings.RemoteAutoSize)
        for (auto [c, key] :
             {std::pair{0, "RemoteNameWidth"}, {1, "RemoteSizeWidth"}, {2, "RemoteDateWidth"}, {3, "RemoteAttrWidth"}})
            f.WriteInteger(SetupSection, key, m_remote->View()->ColumnWidth(c));
    f.WriteString(SetupSection, "Version", ProgramVersionText);
    f.WriteInteger(SetupSection, "RemoteIcon", static_cast<int>(m_remote->View()->ViewStyle()));
    f.WriteInteger(SetupSection, "LocalIcon", static_cast<int>(m_local->View()->ViewStyle()));
    f.WriteBool(SetupSection, "ShowQueue", !m_queuePanel->View()->isHidden());
    f.WriteInteger(SetupSection, "RemoteSize", MiddleSplitter->sizes().value(1));
    f.WriteInteger(SetupSection, "ServerSize", BottomSplitter->sizes().value(1));
    f.WriteInteger(SetupSection, "QueueSize", QueueSplitter->sizes().value(0));
    f.WriteBool(SetupSection, "ShowLinks", m_parts.switches.showLinks);
    f.WriteBool(SetupSection, "ShowToolbar", !ToolBar->isHidden());
    f.WriteBool(SetupSection, "ShowInfoPanel", m_quick->InfoVisible());
    f.WriteBool(SetupSection, "QueueVisible", !m_queuePanel->View()->isHidden());
    f.WriteBool(SetupSection, "ResolveFile", m_parts.switches.linksAsFiles);
    f.WriteInteger(SetupSection, "SortLocalColumn", m_local->View()->SortColumn());
    f.WriteBool(SetupSection, "SortLocalAscend", m_local->View()->Ascending());
    f.WriteInteger(SetupSection, "SortRemoteColumn", m_remote->View()->SortColumn());
    f.WriteBool(SetupSection, "SortRemoteAscend", m_remote->View()->Ascending());
}

void TfrmMain::CloseWithoutQuestions()
{
    m_closeWithoutQuestions = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* e)
{
    // The closing questions, unless the session is ending.
    const char* question = nullptr;
    if (IsTransferring(m_parts.queueRun->State()) && m_settings.ExitWarn)
        question = "一个传输正在进行.  你确定要退出吗?";
    else if (m_settings.ConfirmQueue && m_queuePanel->View()->RowCount() > 0)
        question = "仍有文件在传输队列中.  你确定要退出吗?";
    if (question && !m_closeWithoutQuestions && !m_prompt->Confirm(question)) {
        e->ignore();
        return;
    }
    setWindowTitle(QStringLiteral("正关闭 Corvyne..."));
    if (m_workflow->State() > SessionState::Connecting && m_workflow->State() != SessionState::Starting)
        m_ftp.SendRawCommand("QUIT");
    m_scripts->End();            // the script ends, the partner hears the link close
    if (m_queuePanel->SaveInterruptedQueue())  // offered again at the next start
        m_ftp.Abort();
    m_ftp.Close();
    m_cache.Clear();
    saveLayout();
    // Failures are told; at the end of a session no dialog can wait for an
    // answer, so they go to the standard error output.
    auto tell = [this](const std::string& error) {
        if (m_closeWithoutQuestions)
            std::fprintf(stderr, "corvyne: %s\n", error.c_str());
        else
            m_prompt->ShowMessage(MessageKind::Error, error);
    };
    if (!m_settingsFile.LastError().empty())
        tell(m_settingsFile.LastError());
    KeepProxyPassword(m_settingsFile, m_sites.Passwords());
    if (!m_sites.SaveSites() || !m_sites.SaveStats())
        tell(m_sites.LastError());
    m_report.Summary(m_scripts->ExitStatus(), m_queuePanel->Run().Completed, m_queuePanel->Run().Failures,
                     static_cast<int>(m_transferQueue.Count()));
    SetApplicationExceptionHandler(nullptr);
    e->accept();
}

// ---------------------------------------------------------------- panes and preferences

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
        if (m_onPaneDrop)
            m_onPaneDrop({TPaneDrop::Move, pane, folder});
        return;
    }
    TCorvListView* source = pane == m_remote->View() ? m_local->View() : m_remote->View();
    if (m_onPaneDrop)
        m_onPaneDrop({pane == m_remote->View() ? TPaneDrop::Upload : TPaneDrop::Download, source, folder});
}

void TfrmMain::mnuPreferencesClick()
{
    // The proxy login, log file and no-proxy hosts as the client has them;
    // the font as the panes show it.
    TfrmPref::Sources src = TfrmPref::ReadSources(m_settingsFile);
    src.ProxyHost = m_ftp.ProxyHost;
    src.ProxyPort = m_ftp.ProxyPort;
    src.ProxyUser = m_ftp.ProxyUser;
    src.ProxyPass = m_ftp.ProxyPass;
    src.LogFile = m_ftp.LogFile;
    src.CustomIP = m_ftp.CustomIP;
    src.NoProxyHosts = m_ftp.NoProxyHost;
    src.FontName = m_local->View()->font().family();
    src.FontSize = m_local->View()->font().pointSize();
    TfrmPref dialog(m_settings, src, *m_prompt, this);
    new TDialogSize(dialog, m_settingsFile, "Preferences");
    const bool ok = m_preferencesOpened ? m_preferencesOpened(dialog) : dialog.exec() == QDialog::Accepted;
    m_workflow->ConnectionDirty = true;
    if (!ok)
        return;
    if (!dialog.Write(m_settingsFile))  // kept in memory; the next write tries again
        m_prompt->ShowMessage(MessageKind::Error, "无法保存设置: " + m_settingsFile.LastError());
    if (KeepProxyPassword(m_settingsFile, m_sites.Passwords()))
        TellPasswordsScrambled(m_settingsFile, *m_prompt);
    LoadSettings(m_settingsFile, m_settingsFile, m_settings, &m_ftp);
    ApplyViewSettings();
    m_queuePanel->SetCompletionAction(m_settings.XferOption);
}
