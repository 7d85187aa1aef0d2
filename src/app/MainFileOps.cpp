// The main window's file commands: thin handlers over TRemoteFileOps for the
// remote pane, and the local pane's own (new folder, rename, delete to the
// trash).

#include "dialogs/FolderChooser.h"
#include "session/FileOps.h"
#include "app/Main.h"
#include "dialogs/MessageWindow.h"
#include "dialogs/PropertiesDialog.h"
#include "widgets/corvview.h"
#include "console/cxGraphics.h"

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
            out.push_back({pane->Text(r, 0).toStdString(), pane->Kind(r) == rkFolder});
    return out;
}
}  // namespace

void TfrmMain::buildFileOps()
{
    TRemoteFileOps::Host host;
    host.RemoteDirectory = [this] { return m_remote->CurrentPath(); };
    host.RemoteRows = [this] {
        std::vector<int> all(static_cast<size_t>(m_remote->View()->RowCount()));
        std::iota(all.begin(), all.end(), 0);
        return remoteRows(m_remote->View(), all);
    };
    host.DropCache = [this](const std::string& dir) { m_cache.Drop(dir); };
    host.Status = [this](const std::string& t) { m_status->Show(QString::fromStdString(t)); };
    host.Status2 = [this](const std::string& t) { m_status->Show2(QString::fromStdString(t)); };
    host.StatusText = [this] { return m_status->Text().toStdString(); };
    host.ShowRemote = [this] { m_remote->Show(); };
    host.Prompt = [this]() -> IPrompt& { return *m_prompt; };
    m_fileOps = std::make_unique<TRemoteFileOps>(FTP, *m_workflow, m_settings, std::move(host), this);
    m_parts.fileOps = m_fileOps.get();
    m_queuePanel->Run().DirectoryCreatedElsewhere = [this] { m_fileOps->DirectoryCreated(); };
    buildViewEdit();  // after the queue run: it takes the completions the run does not
}

namespace {
// The selected rows' names, ".." left out.
std::vector<std::string> selectedNames(const TCorvListView* pane)
{
    std::vector<std::string> names;
    for (int r : pane->SelectedRows())
        if (pane->Kind(r) != rkParent)
            names.push_back(pane->Text(r, 0).toStdString());
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

// m_remote->View() commands run only from an idle session: nothing is asked otherwise.
bool TfrmMain::remoteBusy(const TCorvListView* pane) const
{
    return pane == m_remote->View() && m_workflow->State() != SessionState::Idle;
}

void TfrmMain::popNewFoldClick()
{
    if (remoteBusy(ActivePane()))
        return;
    std::string name;
    if (!m_prompt->AskText("创建新目录", "目录名称", name) || name.empty())
        return;
    if (ActivePane() == m_remote->View()) {
        m_fileOps->MakeDirectory(name);
        return;
    }
    // Every missing level of a/b/c.
    const QString path = QDir::cleanPath(m_local->Directory() + QString::fromStdString(name));
    const QString inside = QDir::cleanPath(m_local->Directory()) + QLatin1Char('/');
    if (!path.startsWith(inside) || !QDir().mkpath(path))
        m_prompt->ShowMessage(MessageKind::Error, "无法创建目录: " + name);
    m_local->List();
}

void TfrmMain::popDeleteClick()
{
    TCorvListView* pane = ActivePane();
    if (pane == m_remote->View()) {
        m_fileOps->Delete(remoteRows(m_remote->View(), m_remote->View()->SelectedRows()));
        return;
    }
    const std::vector<std::string> names = selectedNames(m_local->View());
    if (names.empty())
        return;
    // To the trash unless the user chose deleting for good; asked once.
    if (m_settings.ConfirmDel &&
        !m_prompt->Confirm(m_settings.DeleteOverride ? "要永久删除所选文件吗?" : "要将所选文件移到回收站吗?"))
        return;
    for (const std::string& name : names) {
        const QString path = m_local->Directory() + QString::fromStdString(name);
        const bool ok = m_settings.DeleteOverride ? (QFileInfo(path).isDir() ? false : QFile::remove(path))
                                                  : QFile::moveToTrash(path);
        if (!ok) {
            LogLine("无法删除: " + name, lcError);
            break;
        }
    }
    m_local->List();
}

void TfrmMain::popRenameClick()
{
    TCorvListView* pane = ActivePane();
    const std::vector<std::string> names = selectedNames(pane);
    if (names.empty() || remoteBusy(pane))
        return;
    std::string name = names.front();
    if (!m_prompt->AskText("重命名文件", "新的文件名:", name) || name.empty() || name == names.front())
        return;
    if (pane == m_remote->View()) {
        // The server would replace a file of the new name without a word.
        if (m_remote->View()->RowNamed(QString::fromStdString(name)) >= 0 &&
            !m_prompt->Confirm("\"" + name + "\" 已存在. 要替换它吗?"))
            return;
        m_fileOps->Rename(names.front(), name);
        return;
    }
    const QString to = QString::fromStdString(name);
    if (!plainLocalName(to) || !QDir(m_local->Directory()).rename(QString::fromStdString(names.front()), to))
        m_prompt->ShowMessage(MessageKind::Error, "无法重命名: " + names.front());
    m_local->List();
}

void TfrmMain::popMoveClick(const std::string& folder)
{
    if (ActivePane() == m_local->View()) {
        localMove(selectedNames(m_local->View()), QString::fromStdString(folder));
        return;
    }
    const std::vector<std::string> names = selectedNames(m_remote->View());
    if (names.empty() || remoteBusy(m_remote->View()))
        return;
    std::string target = folder.empty() ? m_remote->CurrentPath() : m_remote->CurrentPath() + folder;
    if (folder.empty() && (!m_prompt->AskText("移动文件", "目标目录", target) || target.empty()))
        return;
    m_fileOps->Move(names, target);
}

void TfrmMain::localMove(const std::vector<std::string>& names, const QString& folder)
{
    if (names.empty())
        return;
    QString target = m_local->Directory() + folder;
    if (folder.isEmpty()) {
        std::string chosen;
        if (!m_prompt->AskFolder("选择目录来移动文件", m_local->Directory().toStdString(), chosen) || chosen.empty())
            return;
        target = QString::fromStdString(chosen);
    }
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    for (const std::string& name : names) {
        // Never over an existing entry; across volumes a file is copied, then removed.
        const QString n = QString::fromStdString(name);
        if (!QFile::rename(m_local->Directory() + n, target + n)) {
            m_prompt->ShowMessage(MessageKind::Error, "无法移动所选文件.");
            return;  // what moved stays moved
        }
    }
    m_local->List();
}

void TfrmMain::popCHMODClick()
{
    const std::vector<std::string> names = selectedNames(m_remote->View());
    if (ActivePane() != m_remote->View() || names.empty() || remoteBusy(m_remote->View()))
        return;
    std::string mode;
    if (m_prompt->AskText("权限文件", "输入新的权限", mode) && !mode.empty())
        m_fileOps->Chmod(names, mode);
}

void TfrmMain::popPropertiesClick()
{
    TCorvListView* pane = ActivePane();
    const std::vector<int> rows = pane->SelectedRows();
    if (rows.empty())
        return;
    if (pane->Kind(rows.front()) == rkParent) {
        m_prompt->ShowMessage(MessageKind::Error, "你无法看到这个项目的属性.");
        return;
    }
    if (pane == m_local->View()) {
        localProperties(m_local->Directory() + m_local->View()->Text(rows.front(), 0));
        return;
    }
    if (remoteBusy(pane))
        return;
    const std::string name = m_remote->View()->Text(rows.front(), 0).toStdString();
    TRemoteProperties p = RemoteProperties(FTP.ListingLines, FTP.ServerType, name);
    if (!p.found) {
        m_prompt->ShowMessage(MessageKind::Error, "此项目的属性不可用.");
        return;
    }
    const int before = p.shown.mode;
    // OK without a change sends nothing.
    if (m_prompt->EditProperties(p.shown) && p.shown.mode != before)
        m_fileOps->Chmod({name}, std::to_string(p.shown.mode));
}

void TfrmMain::localProperties(const QString& path)
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

void TfrmMain::localPropertiesDialog(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        m_prompt->ShowMessage(MessageKind::Error, "此项目的属性不可用.");
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
    if (!m_prompt->EditProperties(shown) || shown.mode == before)
        return;
    QFile::Permissions p;
    for (const Bit& b : bits)
        if (shown.mode / b.place % 10 & b.value)
            p |= b.flag;
    if (!QFile::setPermissions(path, p))
        m_prompt->ShowMessage(MessageKind::Error, "无法改变许可权限: " + path.toStdString());
    m_local->List();
}

void TfrmMain::mnuRawDirectoryClick()
{
    auto* w = new TfrmMessageWindow(this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowTitle(QString::fromStdString("目录 " + m_remote->CurrentPath()));
    w->chkOption->hide();
    QStringList lines;
    for (const std::string_view line : FTP.ListingLines)
        lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    w->Memo1->setPlainText(lines.join('\n'));
    w->show();
}

void TfrmMain::popExecuteClick()
{
    const std::vector<int> rows = m_local->View()->SelectedRows();
    if (ActivePane() != m_local->View() || rows.empty() || m_local->View()->Kind(rows.front()) != rkFile)
        return;
    const QString path = m_local->Directory() + m_local->View()->Text(rows.front(), 0);
    const QFileInfo info(path);
    // A program runs; anything else opens with the desktop's program for it.
    const bool ok = info.isExecutable() && info.isFile() ? launch(path, {}) : openDefault(path);
    if (!ok)
        LogLine("无法打开: " + path.toStdString(), lcError);
}

void TfrmMain::mnuRawCmdClick()
{
    if (m_workflow->State() != SessionState::Idle)
        return;
    std::string text;
    if (m_prompt->AskText("原始命令", "输入原始命令", text) && !text.empty())
        m_fileOps->RawCommand(text);
}

