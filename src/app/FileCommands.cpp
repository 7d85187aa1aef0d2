// The file commands: thin handlers over TRemoteFileOps for the remote pane,
// the local pane's own (new folder, rename, delete to the trash), and
// viewing and editing over TViewEdit.

#include "app/FileCommands.h"

#include "app/LocalPane.h"
#include "app/QueuePanel.h"
#include "app/RemotePane.h"
#include "app/StatusLine.h"
#include "console/cxGraphics.h"
#include "dialogs/Editor.h"
#include "dialogs/FolderChooser.h"
#include "dialogs/MessageWindow.h"
#include "dialogs/PropertiesDialog.h"
#include "ftp/Ftp.h"
#include "session/FileOps.h"
#include "session/ListingCache.h"
#include "session/ViewEdit.h"
#include "sites/Settings.h"
#include "widgets/corvview.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QUrl>

#include <numeric>

namespace {
// Rows of the remote pane as the commands see them, ".." left out.
std::vector<TRemoteRow> remoteRows(const TCorvListView* pane, const std::vector<int>& rows)
{
    std::vector<TRemoteRow> out;
    for (int r : rows)
        if (pane->Kind(r) != rkParent)
            out.push_back({pane->NameBytes(r), pane->Kind(r) == rkFolder});
    return out;
}
}  // namespace

TFileCommands::TFileCommands(TWindowParts& parts) : QObject(parts.window), m_parts(parts)
{
    buildFileOps();
    buildViewEdit();  // after the queue run: it takes the completions the run does not
}

TFileCommands::~TFileCommands() = default;

void TFileCommands::buildFileOps()
{
    TRemoteFileOps::Host host;
    host.RemoteDirectory = [this] { return m_parts.remote->CurrentPath(); };
    host.RemoteRows = [this] {
        std::vector<int> all(static_cast<size_t>(m_parts.remote->View()->RowCount()));
        std::iota(all.begin(), all.end(), 0);
        return remoteRows(m_parts.remote->View(), all);
    };
    host.DropCache = [this](const std::string& dir) { m_parts.cache->Drop(dir); };
    host.Status = [this](const std::string& t) { m_parts.status->Show(QString::fromStdString(t)); };
    host.Status2 = [this](const std::string& t) { m_parts.status->Show2(QString::fromStdString(t)); };
    host.StatusText = [this] { return m_parts.status->Text().toStdString(); };
    host.ShowRemote = [this] { m_parts.remote->Show(); };
    host.Prompt = [this]() -> IPrompt& { return m_parts.Prompt(); };
    m_fileOps = std::make_unique<TRemoteFileOps>(*m_parts.ftp, *m_parts.workflow, *m_parts.settings, std::move(host), this);
    m_parts.fileOps = m_fileOps.get();
    m_parts.queuePanel->Run().DirectoryCreatedElsewhere = [this] { m_fileOps->DirectoryCreated(); };
}

namespace {
// The selected rows' names, ".." left out.
std::vector<std::string> selectedNames(const TCorvListView* pane)
{
    std::vector<std::string> names;
    for (int r : pane->SelectedRows())
        if (pane->Kind(r) != rkParent)
            names.push_back(pane->NameBytes(r));
    return names;
}

// A name typed for a new or renamed local entry: one segment, nothing that
// climbs out of the folder.
bool plainLocalName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains('/') &&
           !name.contains(QChar(0));
}
}  // namespace

// Remote commands run only from an idle session: nothing is asked otherwise.
bool TFileCommands::remoteBusy(const TCorvListView* pane) const
{
    return pane == m_parts.remote->View() && m_parts.workflow->State() != SessionState::Idle;
}

void TFileCommands::popNewFoldClick()
{
    if (remoteBusy(m_parts.Active().View()))
        return;
    std::string name;
    if (!m_parts.Prompt().AskText("创建新目录", "目录名称", name) || name.empty())
        return;
    if (m_parts.Active().View() == m_parts.remote->View()) {
        m_fileOps->MakeDirectory(m_parts.ftp->NameCodec().EncodeUtf8(name));
        return;
    }
    // Every missing level of a/b/c.
    const QString path = QDir::cleanPath(m_parts.local->Directory() + QString::fromStdString(name));
    const QString inside = QDir::cleanPath(m_parts.local->Directory()) + QLatin1Char('/');
    if (!path.startsWith(inside) || !QDir().mkpath(path))
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法创建目录: " + name);
    m_parts.local->List();
}

void TFileCommands::popDeleteClick()
{
    TCorvListView* pane = m_parts.Active().View();
    if (pane == m_parts.remote->View()) {
        m_fileOps->Delete(remoteRows(m_parts.remote->View(), m_parts.remote->View()->SelectedRows()));
        return;
    }
    const std::vector<std::string> names = selectedNames(m_parts.local->View());
    if (names.empty())
        return;
    // To the trash unless the user chose deleting for good; asked once.
    if (m_parts.settings->ConfirmDel &&
        !m_parts.Prompt().Confirm(m_parts.settings->DeleteOverride ? "要永久删除所选文件吗?" : "要将所选文件移到回收站吗?"))
        return;
    for (const std::string& name : names) {
        const QString path = m_parts.local->Directory() + QString::fromStdString(name);
        const bool ok = m_parts.settings->DeleteOverride ? (QFileInfo(path).isDir() ? false : QFile::remove(path))
                                                  : QFile::moveToTrash(path);
        if (!ok) {
            m_parts.Log("无法删除: " + name, lcError);
            break;
        }
    }
    m_parts.local->List();
}

void TFileCommands::popRenameClick()
{
    TCorvListView* pane = m_parts.Active().View();
    const std::vector<std::string> names = selectedNames(pane);
    if (names.empty() || remoteBusy(pane))
        return;
    if (pane == m_parts.remote->View()) {
        // Shown and typed as text; the old name goes back as the server's
        // bytes, the new one in the server's charset.
        const int row = pane->RowNamedBytes(names.front());
        const std::string shown = row >= 0 ? pane->Text(row, 0).toStdString() : names.front();
        std::string name = shown;
        if (!m_parts.Prompt().AskText("重命名文件", "新的文件名:", name) || name.empty() || name == shown)
            return;
        // The server would replace a file of the new name without a word.
        if (pane->RowNamed(QString::fromStdString(name)) >= 0 &&
            !m_parts.Prompt().Confirm("\"" + name + "\" 已存在. 要替换它吗?"))
            return;
        m_fileOps->Rename(names.front(), m_parts.ftp->NameCodec().EncodeUtf8(name));
        return;
    }
    std::string name = names.front();
    if (!m_parts.Prompt().AskText("重命名文件", "新的文件名:", name) || name.empty() || name == names.front())
        return;
    const QString to = QString::fromStdString(name);
    if (!plainLocalName(to) || !QDir(m_parts.local->Directory()).rename(QString::fromStdString(names.front()), to))
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法重命名: " + names.front());
    m_parts.local->List();
}

void TFileCommands::popMoveClick(const std::string& folder)
{
    if (m_parts.Active().View() == m_parts.local->View()) {
        localMove(selectedNames(m_parts.local->View()), QString::fromStdString(folder));
        return;
    }
    const std::vector<std::string> names = selectedNames(m_parts.remote->View());
    if (names.empty() || remoteBusy(m_parts.remote->View()))
        return;
    std::string target = folder.empty() ? m_parts.remote->CurrentPath() : m_parts.remote->CurrentPath() + folder;
    if (folder.empty()) {
        std::string typed = m_parts.ftp->NameCodec().DecodePath(target).toStdString();
        if (!m_parts.Prompt().AskText("移动文件", "目标目录", typed) || typed.empty())
            return;
        target = m_parts.ftp->NameCodec().EncodeUtf8(typed);
    }
    m_fileOps->Move(names, target);
}

void TFileCommands::localMove(const std::vector<std::string>& names, const QString& folder)
{
    if (names.empty())
        return;
    QString target = m_parts.local->Directory() + folder;
    if (folder.isEmpty()) {
        std::string chosen;
        if (!m_parts.Prompt().AskFolder("选择目录来移动文件", m_parts.local->Directory().toStdString(), chosen) || chosen.empty())
            return;
        target = QString::fromStdString(chosen);
    }
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    for (const std::string& name : names) {
        // Never over an existing entry; across volumes a file is copied, then removed.
        const QString n = QString::fromStdString(name);
        if (!QFile::rename(m_parts.local->Directory() + n, target + n)) {
            m_parts.Prompt().ShowMessage(MessageKind::Error, "无法移动所选文件.");
            return;  // what moved stays moved
        }
    }
    m_parts.local->List();
}

void TFileCommands::popCHMODClick()
{
    const std::vector<std::string> names = selectedNames(m_parts.remote->View());
    if (m_parts.Active().View() != m_parts.remote->View() || names.empty() || remoteBusy(m_parts.remote->View()))
        return;
    std::string mode;
    if (m_parts.Prompt().AskText("权限文件", "输入新的权限", mode) && !mode.empty())
        m_fileOps->Chmod(names, mode);
}

void TFileCommands::popPropertiesClick()
{
    TCorvListView* pane = m_parts.Active().View();
    const std::vector<int> rows = pane->SelectedRows();
    if (rows.empty())
        return;
    if (pane->Kind(rows.front()) == rkParent) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "你无法看到这个项目的属性.");
        return;
    }
    if (pane == m_parts.local->View()) {
        localProperties(m_parts.local->Directory() + m_parts.local->View()->Text(rows.front(), 0));
        return;
    }
    if (remoteBusy(pane))
        return;
    const std::string name = m_parts.remote->View()->NameBytes(rows.front());
    TRemoteProperties p = RemoteProperties(m_parts.ftp->ListingLines, m_parts.ftp->ServerType, name);
    if (!p.found) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "此项目的属性不可用.");
        return;
    }
    p.shown.name = pane->Text(rows.front(), 0).toStdString();  // the name as shown, not the server's bytes
    const int before = p.shown.mode;
    // OK without a change sends nothing.
    if (m_parts.Prompt().EditProperties(p.shown) && p.shown.mode != before)
        m_fileOps->Chmod({name}, std::to_string(p.shown.mode));
}

void TFileCommands::localProperties(const QString& path)
{
    // The desktop's file manager shows its own sheet; where none answers on
    // the session bus, ours does.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError())
            localPropertiesDialog(path);
    });
}

void TFileCommands::localPropertiesDialog(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "此项目的属性不可用.");
        return;
    }
    IPrompt::PropertiesRequest shown;
    shown.name = info.fileName().toStdString();
    shown.type = info.isSymLink() ? "本地符号链接" : info.isDir() ? "本地目录" : "本地文件";
    shown.size = PaneSizeText(info.size()).toStdString() + " 字节 ";
    shown.date = info.lastModified().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
    shown.owner = info.owner().toStdString();
    shown.group = info.group().toStdString();
    // 750: a digit per owner, group and world; 4 read, 2 write, 1 execute.
    struct Bit {
        QFile::Permission flag;
        int place, value;
    };
    constexpr Bit bits[] = {{QFile::ReadOwner, 100, 4}, {QFile::WriteOwner, 100, 2}, {QFile::ExeOwner, 100, 1},
                            {QFile::ReadGroup, 10, 4},  {QFile::WriteGroup, 10, 2},  {QFile::ExeGroup, 10, 1},
                            {QFile::ReadOther, 1, 4},   {QFile::WriteOther, 1, 2},   {QFile::ExeOther, 1, 1}};
    for (const Bit& b : bits)
        if (info.permissions() & b.flag)
            shown.mode += b.place * b.value;
    const int before = shown.mode;
    if (!m_parts.Prompt().EditProperties(shown) || shown.mode == before)
        return;
    QFile::Permissions p;
    for (const Bit& b : bits)
        if (shown.mode / b.place % 10 & b.value)
            p |= b.flag;
    if (!QFile::setPermissions(path, p))
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法改变许可权限: " + path.toStdString());
    m_parts.local->List();
}

void TFileCommands::mnuRawDirectoryClick()
{
    auto* w = new TfrmMessageWindow(m_parts.window);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowTitle(QString::fromStdString("目录 " + m_parts.remote->CurrentPath()));
    w->chkOption->hide();
    QStringList lines;
    for (const std::string_view line : m_parts.ftp->ListingLines)
        lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    w->Memo1->setPlainText(lines.join('\n'));
    w->show();
}

void TFileCommands::popExecuteClick()
{
    const std::vector<int> rows = m_parts.local->View()->SelectedRows();
    if (m_parts.Active().View() != m_parts.local->View() || rows.empty() || m_parts.local->View()->Kind(rows.front()) != rkFile)
        return;
    const QString path = m_parts.local->Directory() + m_parts.local->View()->Text(rows.front(), 0);
    const QFileInfo info(path);
    // A program runs; anything else opens with the desktop's program for it.
    const bool ok = info.isExecutable() && info.isFile() ? Launch(path, {}) : OpenDefault(path);
    if (!ok)
        m_parts.Log("无法打开: " + path.toStdString(), lcError);
}

void TFileCommands::mnuRawCmdClick()
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    if (!m_parts.ftp->OffersRawCommands()) {
        m_parts.Log("SFTP 连接没有原始命令", lcError);
        return;
    }
    std::string text;
    if (m_parts.Prompt().AskText("原始命令", "输入原始命令", text) && !text.empty())
        m_fileOps->RawCommand(m_parts.ftp->NameCodec().EncodeUtf8(text));
}


void TFileCommands::buildViewEdit()
{
    TViewEdit::Host host;
    host.RemoteDirectory = [this] { return m_parts.remote->CurrentPath(); };
    host.Status = [this](const std::string& t) { m_parts.status->Show(QString::fromStdString(t)); };
    host.Status2 = [this](const std::string& t) { m_parts.status->Show2(QString::fromStdString(t)); };
    host.DropCache = [this](const std::string& dir) { m_parts.cache->Drop(dir); };
    host.ShowRemote = [this] { m_parts.remote->Show(); };
    host.ResetProgress = [this] { m_parts.status->Show2({}); };
    host.OpenWith = [this](const std::string& program, const std::string& file) {
        // The program's own arguments may follow its name ("kate -n").
        QStringList words = QProcess::splitCommand(QString::fromStdString(program));
        if (words.isEmpty())
            return false;
        const QString name = words.takeFirst();
        return Launch(name, words << QString::fromStdString(file));
    };
    host.OpenDefault = [this](const std::string& file) { return OpenDefault(QString::fromStdString(file)); };
    host.BuiltInViewer = [this](const std::string& file) { BuiltInViewer(QString::fromStdString(file)); };
    host.BuiltInEditor = [this](const std::string& file) { return BuiltInEditor(QString::fromStdString(file)); };
    host.Prompt = [this]() -> IPrompt& { return m_parts.Prompt(); };
    host.Log = [this](const std::string& text, int colour) { m_parts.Log(text, colour); };
    m_viewEdit = std::make_unique<TViewEdit>(*m_parts.ftp, *m_parts.workflow, *m_parts.settings, *m_parts.settingsFile, std::move(host), this);
}

void TFileCommands::BuiltInViewer(const QString& file)
{
    auto* viewer = new TfrmEditor(m_parts.Prompt(), m_parts.window);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    if (viewer->LoadFile(file, true))
        viewer->show();
    else
        viewer->deleteLater();
}

bool TFileCommands::BuiltInEditor(const QString& file)
{
    if (RunEditor)
        return RunEditor(file);
    TfrmEditor editor(m_parts.Prompt(), m_parts.window);
    return editor.LoadFile(file, false) && editor.exec() == QDialog::Accepted;
}

bool TFileCommands::OpenUrl(const QUrl& url)
{
    return OpenUrlHook ? OpenUrlHook(url) : QDesktopServices::openUrl(url);
}

bool TFileCommands::Launch(const QString& program, const QStringList& arguments)
{
    return LaunchProgram ? LaunchProgram(program, arguments) : QProcess::startDetached(program, arguments, m_parts.local->Directory());
}

bool TFileCommands::OpenDefault(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    return OpenUrlHook ? OpenUrlHook(url) : QDesktopServices::openUrl(url);
}

namespace {
// The first selected row, when it is a file: viewing and editing need one.
int firstFileRow(const TCorvListView* pane)
{
    const std::vector<int> rows = pane->SelectedRows();
    return !rows.empty() && pane->Kind(rows.front()) == rkFile ? rows.front() : -1;
}
}  // namespace

void TFileCommands::popViewClick()
{
    TCorvListView* pane = m_parts.Active().View();
    const int row = firstFileRow(pane);
    if (row < 0)
        return;
    if (pane == m_parts.remote->View()) {
        m_viewEdit->ViewRemote(m_parts.remote->View()->NameBytes(row), m_parts.remote->View()->Size(row));
        return;
    }
    std::vector<std::string> paths;
    for (int r : m_parts.local->View()->SelectedRows())
        if (m_parts.local->View()->Kind(r) == rkFile)
            paths.push_back((m_parts.local->Directory() + m_parts.local->View()->Text(r, 0)).toStdString());
    m_viewEdit->ViewLocal(paths);
}

void TFileCommands::popEditClick()
{
    TCorvListView* pane = m_parts.Active().View();
    const int row = firstFileRow(pane);
    if (row < 0)
        return;
    if (pane == m_parts.remote->View())
        m_viewEdit->EditRemote(m_parts.remote->View()->NameBytes(row), m_parts.remote->View()->Size(row));
    else
        m_viewEdit->EditLocal((m_parts.local->Directory() + m_parts.local->View()->Text(row, 0)).toStdString());
}
