// The site commands and bookmarks; see SiteCommands.h.
#include "app/SiteCommands.h"

#include "app/DataDirectory.h"
#include "app/FileCommands.h"
#include "app/FileType.h"
#include "app/LocalPane.h"
#include "app/QueuePanel.h"
#include "app/QuickConnect.h"
#include "app/RemotePane.h"
#include "dialogs/BookmarkDialogs.h"
#include "dialogs/BrowseServer.h"
#include "dialogs/SiteManager.h"
#include "ftp/Ftp.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"
#include "sites/SiteDb.h"
#include "transfer/TransferQueue.h"
#include "widgets/DialogSize.h"
#include "widgets/QueueView.h"
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
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

TSiteCommands::TSiteCommands(TWindowParts& parts) : QObject(parts.window), m_parts(parts)
{
    connect(parts.workflow, &TConnectionWorkflow::HomeBookmarkChanged, this,
            [this](const std::string& dir) { SetHomeBookmark(QString::fromStdString(dir)); });
    connect(parts.workflow, &TConnectionWorkflow::SiteChosen, this, [this] { LoadBookmarks(); });
}

// The site menu under "FTP 服务器"
void TSiteCommands::BuildSiteButton(QToolBar* bar)
{
    GroupMenu = new QMenu(m_parts.window);
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("btnSites"));
    button->setText(QStringLiteral("FTP 服务器"));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMenu(GroupMenu);
    bar->insertWidget(bar->actions().value(0), button);
    RebuildSiteMenu();
}

void TSiteCommands::mnuSaveLocalPathClick()
{
    if (m_parts.workflow->CurrentSite.empty())
        return;
    m_parts.sites->Sites().WriteString(m_parts.workflow->CurrentSite, "LocalDir", m_parts.local->Directory().toStdString());
}

void TSiteCommands::mnuSaveRemotePathClick()
{
    if (m_parts.workflow->CurrentSite.empty() || !m_parts.ftp->Connected())
        return;
    m_parts.sites->Sites().WriteString(m_parts.workflow->CurrentSite, "RemoteDir", m_parts.remote->Directory());
}

void TSiteCommands::mnuNewWindowClick()
{
    // The current site, or the quick-connect fields as one argument with an
    // empty password: a command line is there for every local user to read.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(TQuickConnect::HandedPasswordVariable));
    QString argument = QString::fromStdString(m_parts.workflow->CurrentSite);
    if (argument.isEmpty()) {
        argument =
            m_parts.quick->Server() + QLatin1Char(':') + m_parts.quick->User() + QStringLiteral("::") + m_parts.quick->Port();
        if (!m_parts.quick->Password().isEmpty())
            environment.insert(QString::fromLatin1(TQuickConnect::HandedPasswordVariable), m_parts.quick->Password());
    }
    const QString program = QCoreApplication::applicationFilePath();
    bool started = false;
    if (LaunchNewWindow) {
        started = LaunchNewWindow(program, QStringList{argument} + DataDirectoryArguments(m_parts.dataDir), environment);
    } else {
        QProcess process;
        process.setProgram(program);
        process.setArguments(QStringList{argument} + DataDirectoryArguments(m_parts.dataDir));
        process.setProcessEnvironment(environment);
        started = process.startDetached();
    }
    if (!started)
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法启动 " + program.toStdString());
}

void TSiteCommands::mnuCreateShortcutClick()
{
    const QString name = !m_parts.workflow->CurrentSite.empty() ? QString::fromStdString(m_parts.workflow->CurrentSite)
                                                          : m_parts.quick->Server().trimmed();
    if (name.isEmpty())
        return;
    QString path;
    std::string error;
    if (!CreateSiteLauncher(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), name,
                            QCoreApplication::applicationFilePath(), path, error,
                            QStringList{name} + DataDirectoryArguments(m_parts.dataDir))) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, error);
        return;
    }
    m_parts.Prompt().ShowMessage(MessageKind::Information, "一个快捷方式已被创建在桌面.");
}

void TSiteCommands::mnuAddCurrentSiteClick()
{
    const QString server = m_parts.quick->Server().trimmed();
    if (!m_parts.workflow->CurrentSite.empty() || server.isEmpty())
        return;
    IPrompt::AddSiteRequest r;
    r.groups = m_parts.sites->Groups();
    if (r.groups.empty())
        r.groups = {"My Servers"};
    // A name the database refuses asks again, as the dialog staying open would.
    std::string name;
    do {
        if (!m_parts.Prompt().AskAddSite(r) || r.group < 0 || r.group >= static_cast<int>(r.groups.size()))
            return;
        name = QString::fromStdString(r.name).trimmed().toStdString();
    } while (!m_parts.sites->CheckSiteName(name, m_parts.Prompt()));
    const std::string& group = r.groups[static_cast<size_t>(r.group)];
    std::vector<std::string> members = m_parts.sites->GroupSites(group);
    members.push_back(name);
    SortNames(members);
    m_parts.sites->WriteGroupSites(group, members);
    TSiteRecord site;
    site.Name = name;
    site.IP = server.toStdString();
    const QString user = m_parts.quick->User();
    if (!user.isEmpty() && user != QStringLiteral("anonymous")) {
        site.User = user.toStdString();
        site.SetPassword(m_parts.quick->Password().toStdString());
    }
    m_parts.sites->WriteSite(site);
    m_parts.sites->Sites().Document().Set(name, "Port", m_parts.quick->Port().toStdString());  // written even when 21
    m_parts.workflow->CurrentSite = name;
    RebuildSiteMenu();
    Q_EMIT TitleWanted(QString::fromStdString(name));
}

// ---------------------------------------------------------------- site menu

void TSiteCommands::RebuildSiteMenu()
{
    GroupMenu->clear();
    std::vector<std::string> groups = m_parts.sites->Groups();
    if (groups.empty()) {
        groups = {"My Servers"};
        m_parts.sites->Sites().WriteString("_Groups_", "g1", "My Servers");
    }
    // A group longer than the screen holds wraps into columns (QMenu does it).
    for (size_t g = 0; g < groups.size(); ++g) {
        QString caption = QString::fromStdString(groups[g]);
        QMenu* sub = GroupMenu->addMenu(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
        const std::vector<std::string> names = m_parts.sites->GroupSites(groups[g]);
        for (size_t i = 0; i < names.size(); ++i) {
            QString item = QString::fromStdString(names[i]);
            QAction* a = sub->addAction(item.replace(QLatin1Char('&'), QStringLiteral("&&")));
            connect(a, &QAction::triggered, this, [this, a] { SiteMenuChosen(a->text()); });
        }
    }
}

void TSiteCommands::SiteMenuChosen(const QString& caption)
{
    QString name = caption;
    name.replace(QStringLiteral("&&"), QStringLiteral("&"));
    connectToSite(name);
}

void TSiteCommands::connectToSite(const QString& name)
{
    const SessionState s = m_parts.workflow->State();
    if (s != SessionState::Disconnected) {
        if (s == SessionState::Downloading || s == SessionState::Uploading) {
            m_parts.Prompt().ShowMessage(MessageKind::Warning, "一个文件传输正在进行. 你必须在登录其他服务器前停止这项传输.");
            return;
        }
        m_parts.quick->Disconnect();
    }
    m_parts.quick->Fill(name);
    m_parts.workflow->CurrentSite.clear();
    m_parts.ftp->InitialDirectory.clear();
    m_parts.workflow->ConnectionDirty = true;
    m_parts.quick->Connect();
}

// ---------------------------------------------------------------- site manager

void TSiteCommands::runSiteManager(TfrmSite& dialog)
{
    if (SiteManagerOpened)
        SiteManagerOpened(dialog);
    else
        dialog.exec();
    // What the saves did with the passwords: a keyring that refused one (the
    // file kept it), or no keyring at all (told once).
    if (const std::string error = m_parts.sites->Passwords().TakeError(); !error.empty())
        m_parts.Log("密钥环: " + error, lcError);
    if (m_parts.sites->SavedScrambled())
        TellPasswordsScrambled(*m_parts.settingsFile, m_parts.Prompt());
}

void TSiteCommands::mnuSiteManagerClick(const std::string& site)
{
    TfrmSite dialog(*m_parts.sites, m_parts.Prompt(), m_parts.settings->AutoSave, TfrmSite::Mode::Normal, m_parts.window);
    new TDialogSize(dialog, *m_parts.settingsFile, "SiteManager");
    dialog.OnSitesChanged = [this] { RebuildSiteMenu(); };
    dialog.Opening(site);
    runSiteManager(dialog);
    m_parts.workflow->ConnectionDirty = true;
    if (!dialog.ChosenSite().empty())
        connectToSite(QString::fromStdString(dialog.ChosenSite()));
}

void TSiteCommands::mnuEditCurrentSiteClick()
{
    if (!m_parts.workflow->CurrentSite.empty() && !m_parts.quick->Server().isEmpty())
        mnuSiteManagerClick(m_parts.workflow->CurrentSite);
}

void TSiteCommands::ChooseTargetSite()
{
    TfrmSite dialog(*m_parts.sites, m_parts.Prompt(), m_parts.settings->AutoSave, TfrmSite::Mode::TargetSite, m_parts.window);
    new TDialogSize(dialog, *m_parts.settingsFile, "TargetSite");
    dialog.Opening();
    runSiteManager(dialog);
    const std::optional<TSiteRecord> site = m_parts.sites->ReadSite(dialog.ChosenSite());
    if (dialog.ChosenSite().empty() || !site)
        return;
    // The queued files go to the site's folder; the program ends with the run.
    m_parts.quick->Fill(QString::fromStdString(site->Name));
    m_parts.ftp->InitialDirectory = site->RemoteDir;
    m_parts.workflow->AfterLogin = AfterLoginAction::StartQueue;
    m_parts.queuePanel->SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
    m_parts.workflow->ConnectionDirty = true;
    m_parts.quick->Connect(true);
}

// ---------------------------------------------------------------- browse server

void TSiteCommands::mnuBrowseServerClick()
{
    if (m_parts.workflow->State() == SessionState::Disconnected)
        return;
    TfrmBrowseServer::Session s;
    s.login = m_parts.ftp;
    s.initialDirectory = m_parts.remote->CurrentPath();
    s.showLinks = m_parts.switches.showLinks;
    s.resolveFile = m_parts.switches.linksAsFiles;
    s.selectLine = m_parts.settingsFile->ReadBool(SetupSection, "SelectLine", false);
    // A window of its own, not kept above this one.
    auto* w = new TfrmBrowseServer(s, m_parts.Prompt());
    m_browse = w;
    w->OnQueue = [this](const std::string& dir, const std::vector<TPaneItem>& rows) { queueRemoteRows(dir, rows); };
    w->RunEditor = [this](const QString& file) { return m_parts.files->BuiltInEditor(file); };
    w->RunViewer = [this](const QString& file) {
        QStringList words = QProcess::splitCommand(QString::fromStdString(m_parts.settings->Viewer));
        if (!words.isEmpty() && m_parts.files->Launch(words.takeFirst(), words << file))
            return;
        if (!m_parts.files->OpenDefault(file))
            m_parts.files->BuiltInViewer(file);
    };
    w->setWindowTitle(QStringLiteral("浏览 ") + m_parts.window->windowTitle());
    w->show();
}

void TSiteCommands::queueRemoteRows(const std::string& remoteDir, const std::vector<TPaneItem>& rows)
{
    const std::string target = m_parts.local->Directory().toStdString();
    std::vector<TQueueEntry> entries;
    for (const TPaneItem& r : rows) {
        // The server's bytes there, the shown name's UTF-8 here.
        const std::string localName = TargetName(*m_parts.ftp, r.name, true);
        if (!SafeEntryName(r.name) || !SafeEntryName(localName)) {
            m_parts.Log("跳过不安全的名称: " + localName, lcError);
            continue;
        }
        if (r.folder)
            entries.push_back({TEntryKind::DownloadDirectory, EnsureTrailingSeparator(remoteDir + r.name), -1,
                               EnsureTrailingSeparator(target + localName)});
        else
            entries.push_back({TEntryKind::DownloadFile, remoteDir + r.name, r.size, target + localName});
    }
    m_parts.queue->Append(std::move(entries));
    m_parts.queuePanel->View()->FitColumns();
}

namespace {
constexpr int FixedItems = 4;  // add, edit, a separator, "<主目录>"
}

void TSiteCommands::BuildBookmarkMenu(QMenu* menu)
{
    mnuBookmarks = menu;
    QAction* add = menu->addAction(QStringLiteral("添加书签(&A)"), this, [this] { mnuAddBookmarkClick(); });
    QAction* edit = menu->addAction(QStringLiteral("编辑书签(&E)"), this, [this] { mnuEditBookmarkClick(); });
    menu->addSeparator();
    mnuHomeBookmark =
        menu->addAction(QStringLiteral("<主目录>"), this, [this] { GoToBookmark(mnuHomeBookmark->data().toString()); });
    connect(menu, &QMenu::aboutToShow, this, [=, this] {
        const bool site = !m_parts.workflow->CurrentSite.empty();
        if (!site && menu->actions().size() > FixedItems)
            LoadBookmarks();  // no site: no bookmarks
        add->setEnabled(site && !m_parts.remote->Directory().empty());
        edit->setEnabled(add->isEnabled());
        mnuHomeBookmark->setEnabled(!mnuHomeBookmark->data().toString().isEmpty());
        mnuHomeBookmark->setToolTip(mnuHomeBookmark->data().toString());
    });
}

void TSiteCommands::LoadBookmarks()
{
    const QList<QAction*> items = mnuBookmarks->actions();
    for (qsizetype i = FixedItems; i < items.size(); ++i) {
        mnuBookmarks->removeAction(items[i]);
        items[i]->deleteLater();
    }
    if (m_parts.workflow->CurrentSite.empty())
        return;
    for (const TBookmark& b : ReadBookmarks(m_parts.sites->Stats(), m_parts.workflow->CurrentSite)) {
        const QString path = QString::fromStdString(b.Path);
        QAction* a =
            mnuBookmarks->addAction(QString::fromStdString(b.Name), this, [this, path] { GoToBookmark(path); });
        a->setToolTip(path);
        a->setData(path);
    }
}

void TSiteCommands::SetHomeBookmark(const QString& dir)
{
    mnuHomeBookmark->setData(dir);
}

void TSiteCommands::GoToBookmark(const QString& path)
{
    if (!path.isEmpty() && m_parts.workflow->State() == SessionState::Idle)
        m_parts.workflow->ChangeRemoteDirectory(path.toStdString());
}

void TSiteCommands::mnuAddBookmarkClick()
{
    if (m_parts.workflow->CurrentSite.empty() || m_parts.remote->Directory().empty())
        return;
    std::string name;
    if (!m_parts.Prompt().AskText("添加书签", "书签名称", name) || name.empty())
        return;
    if (!BookmarkNameFits(name)) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "书签名称不能含有 \":\"");
        return;
    }
    AppendBookmark(m_parts.sites->Stats(), m_parts.workflow->CurrentSite, {name, m_parts.remote->Directory()});
    LoadBookmarks();
}

void TSiteCommands::mnuEditBookmarkClick()
{
    if (m_parts.workflow->CurrentSite.empty())
        return;
    TfrmBookmark dialog(ReadBookmarks(m_parts.sites->Stats(), m_parts.workflow->CurrentSite), m_parts.window);
    new TDialogSize(dialog, *m_parts.settingsFile, "Bookmarks");
    const bool ok = BookmarksOpened ? BookmarksOpened(dialog) : dialog.exec() == QDialog::Accepted;
    if (!ok)
        return;
    RewriteBookmarks(m_parts.sites->Stats(), m_parts.workflow->CurrentSite, dialog.Bookmarks());
    LoadBookmarks();
}
