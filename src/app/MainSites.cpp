// The main window's site commands: the site manager and the target-site
// chooser, the site menu of the quick-connect bar, adding and editing the
// current site, its saved paths, a desktop launcher and a new window.
#include "dialogs/BrowseServer.h"
#include "app/DataDirectory.h"
#include "widgets/DialogSize.h"
#include "app/FileType.h"
#include "app/Main.h"
#include "widgets/QueueView.h"
#include "dialogs/SiteManager.h"
#include "widgets/corvview.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

void TfrmMain::mnuSaveLocalPathClick()
{
    if (m_workflow->CurrentSite.empty())
        return;
    m_sites.Sites().WriteString(m_workflow->CurrentSite, "LocalDir", m_local->Directory().toStdString());
}

void TfrmMain::mnuSaveRemotePathClick()
{
    if (m_workflow->CurrentSite.empty() || !FTP.IsConnected())
        return;
    m_sites.Sites().WriteString(m_workflow->CurrentSite, "RemoteDir", m_remote->Directory());
}

void TfrmMain::mnuNewWindowClick()
{
    // The current site, or the quick-connect fields as one argument with an
    // empty password: a command line is there for every local user to read.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(TQuickConnect::HandedPasswordVariable));
    QString argument = QString::fromStdString(m_workflow->CurrentSite);
    if (argument.isEmpty()) {
        argument =
            m_quick->Server() + QLatin1Char(':') + m_quick->User() + QStringLiteral("::") + m_quick->Port();
        if (!m_quick->Password().isEmpty())
            environment.insert(QString::fromLatin1(TQuickConnect::HandedPasswordVariable), m_quick->Password());
    }
    const QString program = QCoreApplication::applicationFilePath();
    bool started = false;
    if (LaunchNewWindow) {
        started = LaunchNewWindow(program, QStringList{argument} + DataDirectoryArguments(m_dataDir), environment);
    } else {
        QProcess process;
        process.setProgram(program);
        process.setArguments(QStringList{argument} + DataDirectoryArguments(m_dataDir));
        process.setProcessEnvironment(environment);
        started = process.startDetached();
    }
    if (!started)
        m_prompt->ShowMessage(MessageKind::Error, "无法启动 " + program.toStdString());
}

void TfrmMain::mnuCreateShortcutClick()
{
    const QString name = !m_workflow->CurrentSite.empty() ? QString::fromStdString(m_workflow->CurrentSite)
                                                          : m_quick->Server().trimmed();
    if (name.isEmpty())
        return;
    QString path;
    std::string error;
    if (!CreateSiteLauncher(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), name,
                            QCoreApplication::applicationFilePath(), path, error,
                            QStringList{name} + DataDirectoryArguments(m_dataDir))) {
        m_prompt->ShowMessage(MessageKind::Error, error);
        return;
    }
    m_prompt->ShowMessage(MessageKind::Information, "一个快捷方式已被创建在桌面.");
}

void TfrmMain::mnuAddCurrentSiteClick()
{
    const QString server = m_quick->Server().trimmed();
    if (!m_workflow->CurrentSite.empty() || server.isEmpty())
        return;
    IPrompt::AddSiteRequest r;
    r.groups = m_sites.Groups();
    if (r.groups.empty())
        r.groups = {"My Servers"};
    // A name the database refuses asks again, as the dialog staying open would.
    std::string name;
    do {
        if (!m_prompt->AskAddSite(r) || r.group < 0 || r.group >= static_cast<int>(r.groups.size()))
            return;
        name = QString::fromStdString(r.name).trimmed().toStdString();
    } while (!m_sites.CheckSiteName(name, *m_prompt));
    const std::string& group = r.groups[static_cast<size_t>(r.group)];
    std::vector<std::string> members = m_sites.GroupSites(group);
    members.push_back(name);
    SortNames(members);
    m_sites.WriteGroupSites(group, members);
    TSiteRecord site;
    site.Name = name;
    site.IP = server.toStdString();
    const QString user = m_quick->User();
    if (!user.isEmpty() && user != QStringLiteral("anonymous")) {
        site.User = user.toStdString();
        site.SetPassword(m_quick->Password().toStdString());
    }
    m_sites.WriteSite(site);
    m_sites.Sites().Document().Set(name, "Port", m_quick->Port().toStdString());  // written even when 21
    m_workflow->CurrentSite = name;
    RebuildSiteMenu();
    ShowApplicationTitle(QString::fromStdString(name));
}

// ---------------------------------------------------------------- site menu

void TfrmMain::RebuildSiteMenu()
{
    GroupMenu->clear();
    std::vector<std::string> groups = m_sites.Groups();
    if (groups.empty()) {
        groups = {"My Servers"};
        m_sites.Sites().WriteString("_Groups_", "g1", "My Servers");
    }
    // A group longer than the screen holds wraps into columns (QMenu does it).
    for (size_t g = 0; g < groups.size(); ++g) {
        QString caption = QString::fromStdString(groups[g]);
        QMenu* sub = GroupMenu->addMenu(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
        const std::vector<std::string> names = m_sites.GroupSites(groups[g]);
        for (size_t i = 0; i < names.size(); ++i) {
            QString item = QString::fromStdString(names[i]);
            QAction* a = sub->addAction(item.replace(QLatin1Char('&'), QStringLiteral("&&")));
            connect(a, &QAction::triggered, this, [this, a] { SiteMenuChosen(a->text()); });
        }
    }
}

void TfrmMain::SiteMenuChosen(const QString& caption)
{
    QString name = caption;
    name.replace(QStringLiteral("&&"), QStringLiteral("&"));
    connectToSite(name);
}

void TfrmMain::connectToSite(const QString& name)
{
    const SessionState s = m_workflow->State();
    if (s != SessionState::Disconnected) {
        if (s == SessionState::Downloading || s == SessionState::Uploading) {
            m_prompt->ShowMessage(MessageKind::Warning, "一个文件传输正在进行. 你必须在登录其他服务器前停止这项传输.");
            return;
        }
        m_quick->Disconnect();
    }
    m_quick->Fill(name);
    m_workflow->CurrentSite.clear();
    FTP.InitialDirectory.clear();
    m_workflow->ConnectionDirty = true;
    m_quick->Connect();
}

// ---------------------------------------------------------------- site manager

void TfrmMain::runSiteManager(TfrmSite& dialog)
{
    if (SiteManagerOpened)
        SiteManagerOpened(dialog);
    else
        dialog.exec();
}

void TfrmMain::mnuSiteManagerClick(const std::string& site)
{
    TfrmSite dialog(m_sites, *m_prompt, m_settings.AutoSave, TfrmSite::Mode::Normal, this);
    new TDialogSize(dialog, m_settingsFile, "SiteManager");
    dialog.OnSitesChanged = [this] { RebuildSiteMenu(); };
    dialog.Opening(site);
    runSiteManager(dialog);
    m_workflow->ConnectionDirty = true;
    if (!dialog.ChosenSite().empty())
        connectToSite(QString::fromStdString(dialog.ChosenSite()));
}

void TfrmMain::mnuEditCurrentSiteClick()
{
    if (!m_workflow->CurrentSite.empty() && !m_quick->Server().isEmpty())
        mnuSiteManagerClick(m_workflow->CurrentSite);
}

void TfrmMain::ChooseTargetSite()
{
    TfrmSite dialog(m_sites, *m_prompt, m_settings.AutoSave, TfrmSite::Mode::TargetSite, this);
    new TDialogSize(dialog, m_settingsFile, "TargetSite");
    dialog.Opening();
    runSiteManager(dialog);
    const std::optional<TSiteRecord> site = m_sites.ReadSite(dialog.ChosenSite());
    if (dialog.ChosenSite().empty() || !site)
        return;
    // The queued files go to the site's folder; the program ends with the run.
    m_quick->Fill(QString::fromStdString(site->Name));
    FTP.InitialDirectory = site->RemoteDir;
    m_workflow->AfterLogin = AfterLoginAction::StartQueue;
    m_queuePanel->SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
    m_workflow->ConnectionDirty = true;
    m_quick->Connect(true);
}

// ---------------------------------------------------------------- browse server

void TfrmMain::mnuBrowseServerClick()
{
    if (m_workflow->State() == SessionState::Disconnected)
        return;
    TfrmBrowseServer::Session s;
    s.server = FTP.FtpServer;
    s.user = FTP.UserName;
    s.password = FTP.UserPassword;
    s.port = FTP.Port;
    s.initialDirectory = m_remote->CurrentPath();
    s.customIP = m_settingsFile.ReadString(SetupSection, "CustomIP");
    s.usePasv = m_settings.UsePasv;
    s.proxyHost = FTP.ProxyHost;
    s.proxyPort = FTP.ProxyPort;
    s.socks = m_settings.EnableProxy && m_settings.ProxyMode == 2;
    s.serverType = FTP.ServerType;
    s.showLinks = m_parts.switches.showLinks;
    s.resolveFile = m_parts.switches.linksAsFiles;
    s.selectLine = m_settingsFile.ReadBool(SetupSection, "SelectLine", false);
    // A window of its own, not kept above this one.
    auto* w = new TfrmBrowseServer(s, *m_prompt);
    BrowseWindow = w;
    w->OnQueue = [this](const std::string& dir, const std::vector<TPaneItem>& rows) { queueRemoteRows(dir, rows); };
    w->RunEditor = [this](const QString& file) { return m_files->BuiltInEditor(file); };
    w->RunViewer = [this](const QString& file) {
        QStringList words = QProcess::splitCommand(QString::fromStdString(m_settings.Viewer));
        if (!words.isEmpty() && m_files->Launch(words.takeFirst(), words << file))
            return;
        if (!m_files->OpenDefault(file))
            m_files->BuiltInViewer(file);
    };
    w->setWindowTitle(QStringLiteral("浏览 ") + windowTitle());
    w->show();
}

void TfrmMain::queueRemoteRows(const std::string& remoteDir, const std::vector<TPaneItem>& rows)
{
    const std::string target = m_local->Directory().toStdString();
    std::vector<TQueueEntry> entries;
    for (const TPaneItem& r : rows) {
        if (!SafeEntryName(r.name)) {
            LogLine("跳过不安全的名称: " + r.name, lcError);
            continue;
        }
        if (r.folder)
            entries.push_back({TEntryKind::DownloadDirectory, EnsureTrailingSeparator(remoteDir + r.name), -1,
                               EnsureTrailingSeparator(target + r.name)});
        else
            entries.push_back({TEntryKind::DownloadFile, remoteDir + r.name, r.size, target + r.name});
    }
    m_transferQueue.Append(std::move(entries));
    m_queuePanel->View()->FitColumns();
}
