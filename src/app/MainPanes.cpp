// The panes of the main window: local and remote listings, the listing
// cache, count lines, path boxes, navigation, filters, find and selection.
#include "app/Main.h"

#include "widgets/corvview.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include <map>

namespace {
QString folderPath(const QString& dir)
{
    QString path = QDir(dir).absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
}  // namespace

void TfrmMain::SetLocalDirectory(const QString& dir)
{
    m_localDir = folderPath(dir);
    ListLocalDirectory();
}

void TfrmMain::ListLocalDirectory()
{
    if (!QFileInfo(m_localDir).isDir()) {
        // Gone: the start folder of the settings, else the home folder.
        const QString path = QString::fromStdString(m_settings.Path);
        m_localDir = folderPath(!path.isEmpty() && QFileInfo(path).isDir() ? path : QDir::homePath());
    }
    SendDdeStatus("目录: " + m_localDir.toStdString());
    Local->BeginUpdate();
    Local->Clear();
    const bool transferring = IsTransferring(m_workflow->State());
    // No way up while a run moves this pane itself, nor above the root.
    const bool parentWanted = !transferring && m_localDir != QLatin1String("/");
    const bool parentListed = addLocalRows(parentWanted);
    if (m_settings.ForceParent && !parentListed && parentWanted)
        Local->AddRow(rkParent, {QStringLiteral(".."), QString(), QString()});
    Local->SortNow();
    if (m_settings.LocalAutoSize && isVisible())
        FitColumns(Local);
    Local->EndUpdate();
    rebuildLocalPathBox();
    showSummary(Local);
    if (!transferring)
        sendListingToDde(Local, "结束本地目录");
}

bool TfrmMain::addLocalRows(bool parentWanted)
{
    const QFileInfoList entries =
        QDir(m_localDir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDot, QDir::NoSort);
    bool parentListed = false;
    for (const QFileInfo& fi : entries) {
        const QString name = fi.fileName();
        if (name == QLatin1String("..")) {
            if (parentWanted)
                Local->AddRow(rkParent, {name, QString(), QString()});
            parentListed = parentListed || parentWanted;
            continue;
        }
        const bool isDir = fi.isDir();
        if (!(MaskMatch(name, m_localFilter) || (isDir && !mnuFilterDirectories->isChecked())))
            continue;
        const QDateTime modified = fi.lastModified();
        const TListingDate date =
            modified.isValid() ? TListingDate::Of(modified.date(), modified.time()) : TListingDate();
        Local->AddEntry(isDir ? rkFolder : rkFile, name, isDir ? -1 : fi.size(), date);
    }
    return parentListed;
}

void TfrmMain::addRemoteLine(std::string_view line)
{
    // Every line is kept, also those the parser holds back (a VMS name on a
    // line of its own), so that a replay parses exactly as the listing did.
    m_cache.WriteLine(line);
    if (!m_listingRows.Active()) {
        // The rules of the listing's first line hold for all of it.
        TListingRules rules;
        rules.serverType = FTP.ServerType;
        rules.filter = m_remoteFilter;
        rules.filterFolders = mnuFilterDirectories->isChecked();
        rules.showLinks = mnuShowLinks->isChecked() && (!IsTransferring(m_workflow->State()) || !m_settings.GetLink);
        rules.linksAsFiles = mnuResolveFile->isChecked();
        rules.now = m_parser.Now;
        m_listingRows.Begin(rules, m_parser.VmsPendingLine, Remote);
    }
    m_listingRows.Add(line);
}

std::string TfrmMain::currentRemotePath() const
{
    std::string dir = FTP.InitialDirectory.empty() ? std::string("/") : FTP.InitialDirectory;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

void TfrmMain::startRemoteFill()
{
    m_listingRows.Cancel();
    // Empty; the rows show in batches as the listing comes, and the end of
    // the listing sorts them.
    Remote->EndUpdate();
    Remote->Clear();
    Remote->BeginStream();
    m_parser.VmsPendingLine.clear();
}

void TfrmMain::listRemoteDirectory()
{
    startRemoteFill();
    const SessionState state = m_workflow->State();
    const std::string dir = currentRemotePath();
    if (m_cache.Find(dir).isEmpty() && state != SessionState::Uploading && state != SessionState::DeletingTree)
        m_cache.Begin(dir);
    m_workflow->StartList();
}

void TfrmMain::showRemoteDirectory()
{
    const std::string dir = currentRemotePath();
    // A run and a delete list what they enter whatever "AutoRefresh" says:
    // they act on the rows.
    if (!m_settings.AutoRefresh && !IsTransferring(m_workflow->State()) && !IsDeleting(m_workflow->State())) {
        m_listingRows.Cancel();
        Remote->Clear();
        m_remoteDir = dir;
        rebuildRemotePathBox();
        showSummary(Remote);
        m_workflow->GoIdle();
        return;
    }
    const SessionState state = m_workflow->State();
    TListingLines lines;
    const bool fromCache =
        state == SessionState::RemoteCommand || state == SessionState::Downloading || state == SessionState::Idle;
    if (!m_cache.Find(dir).isEmpty() && fromCache && m_cache.Read(dir, lines)) {
        // Replayed through the same line handler as a listing from the server.
        startRemoteFill();
        FTP.ListingLines = std::move(lines);
        for (const std::string_view line : FTP.ListingLines)
            addRemoteLine(line);
        m_workflow->ListingFromCache();
        return;
    }
    m_cache.Drop(dir);  // gone, or not to be trusted in this state
    listRemoteDirectory();
}

void TfrmMain::remoteListingDone(bool success)
{
    // A link just followed: its trail entry gets the directory it led to.
    if (!m_linkTrail.empty() && m_linkTrail.back().back() == ';') {
        const std::string target = currentRemotePath();
        const std::string origin = m_linkTrail.back().substr(0, m_linkTrail.back().size() - 1);
        if (target == origin)
            m_linkTrail.pop_back();  // the link could not be entered
        else
            m_linkTrail.back() += target;
    }
    // Every line made into its row before the rows are finished.
    if (m_listingRows.Active())
        m_parser.VmsPendingLine = m_listingRows.Finish();
    m_cache.End();
    Remote->EndStream();
    m_remoteDir = currentRemotePath();
    if (!IsTransferring(m_workflow->State()) && m_remoteDir != "/" && success)
        // The sort puts it first; without one it goes in at the top, which
        // moves every row.
        Remote->AddRow(rkParent, {QStringLiteral(".."), QString(), QString(), QString()}, !Remote->AutoSort);
    Remote->SortNow();
    if (m_settings.RemoteAutoSize)
        FitColumns(Remote);
    Remote->EndUpdate();
    rebuildRemotePathBox();
    showSummary(Remote);
    sendListingToDde(Remote, "结束远程目录");
}

void TfrmMain::FitColumns(TCorvListView* pane)
{
    if (pane->ViewStyle() != TViewStyle::Report)
        return;
    pane->SizeColumnsToContent();
    // Sizes at least 65 wide, dates 100, a fourth column 50.
    const int minimum[] = {0, 65, 100, 50};
    for (int c = 1; c < std::min(pane->ColumnCount(), 4); ++c)
        if (pane->ColumnWidth(c) < minimum[c])
            pane->SetColumnWidth(c, minimum[c]);
    fillNameColumn(pane);
}

void TfrmMain::fillNameColumn(TCorvListView* pane)
{
    // The name column takes what is left (less room for a scroll bar when
    // the rows do not fit on one page), and never less than its content.
    if (pane->ViewStyle() != TViewStyle::Report)
        return;
    int others = 0;
    for (int c = 1; c < pane->ColumnCount(); ++c)
        others += pane->ColumnWidth(c);
    const int margin = pane->RowCount() > pane->VisibleRowCapacity() ? 20 : 4;
    pane->SetColumnWidth(0, std::max(pane->ContentWidth(0), pane->width() - others - margin));
}

// Selects the current directory in the remote path box (the first item when
// it is not there); an empty box is built from the directory's prefixes.
void TfrmMain::rebuildRemotePathBox()
{
    const QString dir = QString::fromStdString(m_remoteDir);
    if (RemotePathBox->count() == 0)
        RemotePathBox->addItems(RemotePathItems(dir));
    RemotePathBox->setCurrentIndex(std::max(0, RemotePathBox->findText(dir)));
}

// A directory reached by a change goes on top of the box unless it is there:
// the box keeps the folders visited in this session.
void TfrmMain::rememberRemoteDirectory()
{
    const QString dir = QString::fromStdString(currentRemotePath());
    if (RemotePathBox->findText(dir) < 0)
        RemotePathBox->insertItem(0, dir);
}

namespace {
// The dropped-down local path box: each level 8 pixels further in.
class TPathLevelDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o = option;
        const QString item = index.data(Qt::UserRole).toString();
        o.rect.adjust(8 * std::max(0, item.section(QLatin1Char(':'), 0, 0).toInt() - 1), 0, 0, 0);
        QStyledItemDelegate::paint(painter, o, index);
    }
};
}  // namespace

QAbstractItemDelegate* NewPathLevelDelegate(QObject* parent)
{
    return new TPathLevelDelegate(parent);
}

void TfrmMain::rebuildLocalPathBox()
{
    QStringList roots;
    std::map<QString, qint64> freeBytes;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady())
            continue;
        QString root = v.rootPath();
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (!roots.contains(root)) {
            roots << root;
            freeBytes[root] = v.bytesFree();
        }
    }
    std::sort(roots.begin(), roots.end());
    LocalPathBox->clear();
    const QStringList items = LocalPathItems(m_localDir, roots);
    for (const QString& item : items) {
        const QString path = item.mid(item.indexOf(QLatin1Char(':')) + 1);
        QString text = path;
        if (item.startsWith(QLatin1String("1:")) && freeBytes.count(path))
            text += QStringLiteral("   [%1 Mb free]").arg(freeBytes[path] / 1048576.0, 0, 'f', 2);
        LocalPathBox->addItem(text, item);
    }
    // The current directory is the last item of its volume: an open folder.
    int current = -1;
    for (int i = 0; i < LocalPathBox->count(); ++i)
        if (LocalPathBox->itemData(i).toString().mid(LocalPathBox->itemData(i).toString().indexOf(':') + 1) ==
            m_localDir)
            current = i;
    for (int i = 0; i < LocalPathBox->count(); ++i) {
        const bool root = LocalPathBox->itemData(i).toString().startsWith(QLatin1String("1:"));
        LocalPathBox->setItemIcon(i, style()->standardIcon(i == current ? QStyle::SP_DirOpenIcon
                                                           : root       ? QStyle::SP_DriveHDIcon
                                                                        : QStyle::SP_DirClosedIcon));
    }
    LocalPathBox->setCurrentIndex(current);
}

void TfrmMain::showSummary(TCorvListView* pane)
{
    QLabel* label = pane == Local ? PanelLocalCount : PanelRemoteCount;
    if (pane->RowCount() == 0) {
        label->clear();
        return;
    }
    const std::vector<int> selected = pane->SelectedRows();
    int folders = 0, others = 0;
    int64_t bytes = 0;
    if (selected.empty()) {
        for (int i = 0; i < pane->RowCount(); ++i) {
            const int kind = pane->Kind(i);
            if (kind == rkFolder)
                ++folders;
            else if (kind == rkFile || kind == rkLink)
                ++others;
            if (kind == rkFile)
                bytes += std::max<int64_t>(0, pane->Size(i));
        }
        label->setText(PaneSummary(folders, others, bytes, pane == Local ? m_localFilter : m_remoteFilter));
        return;
    }
    for (int row : selected) {
        const int kind = pane->Kind(row);
        if (kind == rkParent)
            continue;
        if (kind == rkFolder) {
            ++folders;
        } else {
            ++others;
            bytes += std::max<int64_t>(0, pane->Size(row));
        }
    }
    // The rows as the pane shows them: the first selected is the topmost.
    label->setText(SelectionSummary(folders, others, bytes, pane->Kind(selected.front()) == rkParent));
}

void TfrmMain::localDoubleClick(int row)
{
    if (row < 0 || row >= Local->RowCount() || IsTransferring(m_workflow->State()))
        return;
    const int kind = Local->Kind(row);
    const QString name = Local->Text(row, 0);
    if (kind == rkParent) {
        QDir d(m_localDir);
        if (d.cdUp())
            SetLocalDirectory(d.absolutePath());
    } else if (kind == rkFolder || (kind == rkLink && QFileInfo(m_localDir + name).isDir())) {
        SetLocalDirectory(m_localDir + name);
    } else {
        fileDoubleClick(Local);
    }
}

// A file row: the "DoubleClick" choice (0 transfer, 1 view, 2 edit, 3 queue).
void TfrmMain::fileDoubleClick(TCorvListView* pane)
{
    if (m_settings.DoubleClick == 3)
        AddSelectionToQueue(pane);
    else if (m_settings.DoubleClick == 1)
        popViewClick();
    else if (m_settings.DoubleClick == 2)
        popEditClick();
    else if (m_settings.DoubleClick == 0 && m_workflow->State() == SessionState::Idle)
        pane == Remote ? mnuDownloadClick() : mnuUploadClick();
}

void TfrmMain::remoteDoubleClick(int row)
{
    if (row < 0 || row >= Remote->RowCount() || m_workflow->State() != SessionState::Idle)
        return;
    const int kind = Remote->Kind(row);
    if (kind == rkParent) {
        remoteUp();
    } else if (kind == rkFolder || kind == rkLink) {
        if (kind == rkLink)
            m_linkTrail.push_back(m_remoteDir + ";");  // completed with the target once there
        m_workflow->ChangeRemoteDirectory(Remote->Text(row, 0).toStdString());
    } else {
        fileDoubleClick(Remote);
    }
}

// Up from a directory entered through a link goes back to the directory that
// holds the link, not to the parent of the link's target.
void TfrmMain::remoteUp()
{
    for (auto it = m_linkTrail.rbegin(); it != m_linkTrail.rend(); ++it) {
        const size_t semi = it->find(';');
        if (it->substr(semi + 1) == m_remoteDir) {
            const std::string origin = it->substr(0, semi);
            m_linkTrail.erase(std::next(it).base());
            m_workflow->ChangeRemoteDirectory(origin);
            return;
        }
    }
    m_workflow->ChangeRemoteDirectory("..");
}

void TfrmMain::expParentClick()
{
    if (ActivePane() == Remote) {
        if (m_workflow->State() != SessionState::Idle)
            return;
        // The parent of the directory the path box shows.
        QString shown = RemotePathBox->currentText();
        if (shown.endsWith(QLatin1Char('/')) && shown.size() > 1)
            shown.chop(1);
        const qsizetype slash = shown.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || shown == QLatin1String("/"))
            return;
        m_workflow->ChangeRemoteDirectory(shown.left(slash + 1).toStdString());
        return;
    }
    if (IsTransferring(m_workflow->State()) || m_localDir == QLatin1String("/"))
        return;
    QDir d(m_localDir);
    if (d.cdUp())
        SetLocalDirectory(d.absolutePath());
}

void TfrmMain::mnuFilterClick(bool remote)
{
    std::string filter = (remote ? m_remoteFilter : m_localFilter).toStdString();
    if (!m_prompt->AskText(remote ? "远程过滤" : "本地过滤", "输入过滤条件", filter))
        return;
    if (filter.empty() || filter == "*" || filter == "*.*")
        filter = "*.*";
    if (remote) {
        m_remoteFilter = QString::fromStdString(filter);
        if (Remote->RowCount() > 0 && m_workflow->State() == SessionState::Idle)
            showRemoteDirectory();
    } else {
        m_localFilter = QString::fromStdString(filter);
        ListLocalDirectory();
    }
}

// A site's own local folder and filters, applied when it is connected to.
void TfrmMain::applySitePanes(const std::string& localDir, const std::string& localFilter,
                              const std::string& remoteFilter)
{
    m_remoteFilter = QString::fromStdString(remoteFilter.empty() ? "*.*" : remoteFilter);
    const QString dir = QString::fromStdString(localDir);
    m_localFilter = QString::fromStdString(localFilter.empty() ? "*.*" : localFilter);
    if (!dir.isEmpty() && QFileInfo(dir).isDir())
        SetLocalDirectory(dir);
    else
        ListLocalDirectory();
}

void TfrmMain::mnuGroupSelectClick(TCorvListView* pane)
{
    std::string text;
    if (!m_prompt->AskText("组选择", "输入过滤条件", text))
        return;
    const QString mask = QString::fromStdString(text);
    const bool wild = mask.contains(QLatin1Char('*'));
    pane->SelectWhere([&](int row) {
        const QString& name = pane->Text(row, 0);
        return pane->Kind(row) != rkParent &&
               (wild ? MaskMatch(name, mask) : name.compare(mask, Qt::CaseInsensitive) == 0);
    });
    showSummary(pane);
}

void TfrmMain::mnuFindClick(TCorvListView* pane)
{
    std::string text = m_findText.toStdString();
    if (!m_prompt->AskText("查找文件", "查找", text) || text.empty())
        return;
    m_findText = QString::fromStdString(text);
    pane->ClearSelection();
    pane->SetCurrentRow(-1);
    mnuFindNextClick(pane);
}

bool TfrmMain::mnuFindNextClick(TCorvListView* pane)
{
    if (m_findText.isEmpty())
        return false;
    int start = 0;
    const std::vector<int> selected = pane->SelectedRows();
    if (!selected.empty()) {
        start = selected.front() + 1;
        pane->SetSelected(selected.front(), false);
    }
    for (int i = start; i < pane->RowCount(); ++i) {
        if (pane->Text(i, 0).contains(m_findText, Qt::CaseInsensitive)) {
            pane->SetSelected(i, true);
            pane->ScrollToRow(i);
            pane->SetCurrentRow(i);
            pane->setFocus();
            mnuFindNext->setEnabled(true);
            return true;
        }
    }
    mnuFindNext->setEnabled(false);
    m_prompt->ShowMessage(MessageKind::Information, "文件没找到");
    return false;
}

bool TfrmMain::FindRemoteRow(const QString& name, QString& shown, QString& size, QString& date) const
{
    for (int i = 0; i < Remote->RowCount(); ++i) {
        if (Remote->Text(i, 0).compare(name, Qt::CaseInsensitive) == 0) {
            shown = Remote->Text(i, 0);
            size = Remote->Text(i, 1);
            date = Remote->Text(i, 2);
            return true;
        }
    }
    return false;
}

void TfrmMain::mnuSelectAllClick(TCorvListView* pane)
{
    pane->SelectWhere([pane](int row) { return pane->Kind(row) != rkParent; });
    showSummary(pane);
}

void TfrmMain::mnuInvertSelectionClick(TCorvListView* pane)
{
    std::vector<bool> was(static_cast<size_t>(pane->RowCount()));
    for (int row : pane->SelectedRows())
        was[static_cast<size_t>(row)] = true;
    pane->SelectWhere([&](int row) { return pane->Kind(row) != rkParent && !was[static_cast<size_t>(row)]; });
    showSummary(pane);
}

void TfrmMain::mnuSaveListingClick()
{
    if (m_workflow->State() != SessionState::Idle)
        return;
    std::string path;
    if (!m_prompt->AskSaveFile("远程目录另存为", "文本文档 (*.txt)", path))
        return;
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_prompt->ShowMessage(MessageKind::Error, "无法保存文件 \"" + path + "\": " + f.errorString().toStdString());
        return;
    }
    // The header line, a blank line, the listing's lines as the server sent them.
    QByteArray text = (listingHeader(PaneDateText(TListingDate::Of(QDate::currentDate(), QTime::currentTime()))) +
                       QStringLiteral("\r\n\r\n"))
                          .toUtf8();
    for (const std::string_view line : FTP.ListingLines)
        text.append(line.data(), static_cast<qsizetype>(line.size())).append("\r\n");
    if (f.write(text) != text.size())
        m_prompt->ShowMessage(MessageKind::Error, "无法保存文件 \"" + path + "\": " + f.errorString().toStdString());
}

void TfrmMain::popChangeDirClick(bool remote)
{
    if (IsTransferring(m_workflow->State()))
        return;
    std::string dir = remote ? m_remoteDir : m_localDir.toStdString();
    if (!m_prompt->AskText("更改目录", "输入新的目录", dir))
        return;
    if (remote) {
        if (m_workflow->State() == SessionState::Idle && dir != m_remoteDir)
            m_workflow->ChangeRemoteDirectory(dir);
    } else {
        const QString path = QString::fromStdString(dir);
        if (QFileInfo(path).isDir() && QDir(path).absolutePath() + "/" != m_localDir)
            SetLocalDirectory(path);
    }
}

bool TfrmMain::paneKeyDown(TCorvListView* pane, QKeyEvent* key)
{
    const int current = pane->CurrentRow();
    switch (key->key()) {
        case Qt::Key_Backspace:
            if (pane == Local) {
                QDir d(m_localDir);
                if (m_localDir != QLatin1String("/") && d.cdUp())
                    SetLocalDirectory(d.absolutePath());
            } else if (m_workflow->State() == SessionState::Idle && m_remoteDir != "/" && !m_remoteDir.empty()) {
                remoteUp();
            }
            return true;
        case Qt::Key_Delete:
            SetActivePane(pane);
            popDeleteClick();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (current >= 0 && pane->Kind(current) != rkFile) {
                pane == Local ? localDoubleClick(current) : remoteDoubleClick(current);
                return true;
            }
            return false;
        default:
            return false;
    }
}

void TfrmMain::popRefreshClick(bool remote)
{
    if (!remote) {
        ListLocalDirectory();
        return;
    }
    if (m_workflow->State() == SessionState::Idle) {
        m_cache.Drop(currentRemotePath());
        m_workflow->UserRefresh();
    }
}
