#include "app/RemotePane.h"

#include "app/QuickConnect.h"
#include "dialogs/Editor.h"
#include "session/ConnectLogic.h"
#include "session/Connection.h"
#include "session/ListingCache.h"
#include "sites/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QTextDocument>

TRemotePane::TRemotePane(TWindowParts& parts, QObject* parent)
    : TFilePane(parts,
                QStringLiteral("Remote"),
                {QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("日期"), QStringLiteral("属性")},
                14,
                parent)
{
    PathBox()->setObjectName(QStringLiteral("RemotePathBox"));
    PathBox()->setEnabled(false);
    connect(PathBox(), &QComboBox::activated, this, [this](int index) {
        const std::string dir = PathBox()->itemData(index).toByteArray().toStdString();
        if (dir != m_dir)
            m_parts.workflow->ChangeRemoteDirectory(dir);
    });
    connectSession();
}

void TRemotePane::connectSession()
{
    TConnectionWorkflow* flow = m_parts.workflow;
    using W = TConnectionWorkflow;
    connect(flow, &W::RemoteCleared, this, [this] { sessionCleared(); });
    connect(flow, &W::ListingLine, this, [this](const std::string& line) { addLine(line); });
    connect(flow, &W::ListingDone, this, [this](bool success) { listingDone(success); });
    connect(flow, &W::DirectoryEntered, this, [this] { remember(); });
    connect(flow, &W::StateChanged, this, [this] { stateChanged(); });
    connect(flow, &W::SitePanesChosen, this,
            [this](const std::string&, const std::string&, const std::string& filter) { ApplySite(filter); });
    flow->SetRemotePane([this] { list(); }, [this] { Show(); });
}

void TRemotePane::sessionCleared()
{
    m_rows.Cancel();
    View()->Clear();
    m_parser.VmsPendingLine.clear();
    if (m_parts.workflow->State() == SessionState::Disconnected) {
        View()->EndUpdate();  // a listing cut off by the disconnect
        m_parts.cache->Clear();
        m_trail.clear();
        m_dir.clear();
        CountLine()->clear();
    } else {
        View()->BeginStream();
    }
}

void TRemotePane::stateChanged()
{
    const SessionState state = m_parts.workflow->State();
    PathBox()->setEnabled(state == SessionState::Idle);
    View()->SetAcceptFiles(state == SessionState::Idle);  // uploads only while idle
    if (state == SessionState::Disconnected)
        PathBox()->clear();
}

bool TRemotePane::autoSize() const
{
    return m_parts.settings->RemoteAutoSize;
}

bool TRemotePane::ignoresCase() const
{
    return ServerIgnoresCase(m_parts.ftp->ServerType);
}

void TRemotePane::addLine(std::string_view line)
{
    // Every line is kept, also those the parser holds back (a VMS name on a
    // line of its own), so that a replay parses exactly as the listing did.
    m_parts.cache->WriteLine(line);
    if (!m_rows.Active()) {
        // The rules of the listing's first line hold for all of it.
        const TListingSwitches& s = m_parts.switches;
        TListingRules rules;
        rules.serverType = m_parts.ftp->ServerType;
        rules.filter = Filter();
        rules.filterFolders = s.filterFolders;
        rules.showLinks = s.showLinks && (!IsTransferring(m_parts.workflow->State()) || !m_parts.settings->GetLink);
        rules.linksAsFiles = s.linksAsFiles;
        rules.mlsd = m_parts.ftp->ListingLines.Mlsd;
        rules.names = m_parts.ftp->SharedNameCodec();
        rules.now = m_parser.Now;
        m_rows.Begin(rules, m_parser.VmsPendingLine, View());
    }
    m_rows.Add(line);
}

std::string TRemotePane::CurrentPath() const
{
    const std::string& initial = m_parts.ftp->InitialDirectory;
    std::string dir = initial.empty() ? std::string("/") : initial;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

void TRemotePane::startFill()
{
    m_rows.Cancel();
    // Empty; the rows show in batches as the listing comes, and the end of
    // the listing sorts them.
    View()->EndUpdate();
    View()->Clear();
    View()->BeginStream();
    m_parser.VmsPendingLine.clear();
}

void TRemotePane::list()
{
    startFill();
    const SessionState state = m_parts.workflow->State();
    const std::string dir = CurrentPath();
    if (m_parts.cache->Find(dir).isEmpty() && state != SessionState::Uploading && state != SessionState::DeletingTree)
        m_parts.cache->Begin(dir);
    m_parts.workflow->StartList();
}

void TRemotePane::Show()
{
    TConnectionWorkflow& flow = *m_parts.workflow;
    const std::string dir = CurrentPath();
    const SessionState state = flow.State();
    // A run and a delete list what they enter whatever "AutoRefresh" says:
    // they act on the rows.
    if (!m_parts.settings->AutoRefresh && !IsTransferring(state) && !IsDeleting(state)) {
        m_rows.Cancel();
        View()->Clear();
        m_dir = dir;
        rebuildPathBox();
        ShowSummary();
        flow.GoIdle();
        return;
    }
    TListingLines lines;
    const bool fromCache =
        state == SessionState::RemoteCommand || state == SessionState::Downloading || state == SessionState::Idle;
    TListingCache& cache = *m_parts.cache;
    if (!cache.Find(dir).isEmpty() && fromCache && cache.Read(dir, lines)) {
        // Replayed through the same line handler as a listing from the server.
        startFill();
        m_parts.ftp->ListingLines = std::move(lines);
        for (const std::string_view line : m_parts.ftp->ListingLines)
            addLine(line);
        flow.ListingFromCache();
        return;
    }
    cache.Drop(dir);  // gone, or not to be trusted in this state
    list();
}

void TRemotePane::ShowAgain()
{
    if (View()->RowCount() > 0 && m_parts.workflow->State() == SessionState::Idle)
        Show();
}

void TRemotePane::filterChanged()
{
    ShowAgain();
}

void TRemotePane::listingDone(bool success)
{
    // A link just followed: its trail entry gets the directory it led to.
    if (!m_trail.empty() && m_trail.back().back() == ';') {
        const std::string target = CurrentPath();
        const std::string origin = m_trail.back().substr(0, m_trail.back().size() - 1);
        if (target == origin)
            m_trail.pop_back();  // the link could not be entered
        else
            m_trail.back() += target;
    }
    // Every line made into its row before the rows are finished.
    if (m_rows.Active())
        m_parser.VmsPendingLine = m_rows.Finish();
    m_parts.cache->End(m_parts.ftp->ListingLines.Mlsd);
    TCorvListView* view = View();
    view->EndStream();
    m_dir = CurrentPath();
    if (!IsTransferring(m_parts.workflow->State()) && m_dir != "/" && success)
        // The sort puts it first; without one it goes in at the top, which
        // moves every row.
        view->AddRow(rkParent, {QStringLiteral(".."), QString(), QString(), QString()}, !view->AutoSort);
    view->SortNow();
    if (autoSize())
        FitColumns();
    view->EndUpdate();
    rebuildPathBox();
    ShowSummary();
    Q_EMIT Listed();
}

// Selects the current directory in the path box (the first item when it is
// not there); an empty box is built from the directory's prefixes.
void TRemotePane::rebuildPathBox()
{
    const QByteArray dir = QByteArray::fromStdString(m_dir);
    if (PathBox()->count() == 0)
        for (const std::string& prefix : RemotePathPrefixes(m_dir))
            PathBox()->addItem(m_parts.ftp->NameCodec().DecodePath(prefix), QByteArray::fromStdString(prefix));
    PathBox()->setCurrentIndex(std::max(0, PathBox()->findData(dir)));
}

// The box keeps the folders visited in this session: shown as text, each
// item holding the server's bytes.
void TRemotePane::remember()
{
    const std::string dir = CurrentPath();
    if (PathBox()->findData(QByteArray::fromStdString(dir)) < 0)
        PathBox()->insertItem(0, m_parts.ftp->NameCodec().DecodePath(dir), QByteArray::fromStdString(dir));
}

void TRemotePane::openRow(int row)
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    const int kind = View()->Kind(row);
    if (kind == rkParent) {
        Up();
    } else if (kind == rkFolder || kind == rkLink) {
        if (kind == rkLink)
            m_trail.push_back(m_dir + ";");  // completed with the target once there
        m_parts.workflow->ChangeRemoteDirectory(View()->NameBytes(row));
    } else {
        Q_EMIT FileOpened();
    }
}

// Up from a directory entered through a link goes back to the directory that
// holds the link, not to the parent of the link's target.
void TRemotePane::Up()
{
    if (m_parts.workflow->State() != SessionState::Idle || m_dir == "/" || m_dir.empty())
        return;
    for (auto it = m_trail.rbegin(); it != m_trail.rend(); ++it) {
        const size_t semi = it->find(';');
        if (it->substr(semi + 1) == m_dir) {
            const std::string origin = it->substr(0, semi);
            m_trail.erase(std::next(it).base());
            m_parts.workflow->ChangeRemoteDirectory(origin);
            return;
        }
    }
    m_parts.workflow->ChangeRemoteDirectory("..");
}

void TRemotePane::Parent()
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    // The parent of the directory the path box shows.
    std::string shown = PathBox()->currentData().toByteArray().toStdString();
    if (shown.size() > 1 && shown.back() == '/')
        shown.pop_back();
    const size_t slash = shown.rfind('/');
    if (slash == std::string::npos || shown == "/")
        return;
    m_parts.workflow->ChangeRemoteDirectory(shown.substr(0, slash + 1));
}

void TRemotePane::Refresh()
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    m_parts.cache->Drop(CurrentPath());
    m_parts.workflow->UserRefresh();
}

void TRemotePane::AskChangeDirectory()
{
    if (IsTransferring(m_parts.workflow->State()))
        return;
    std::string dir = m_parts.ftp->NameCodec().DecodePath(m_dir).toStdString();
    if (!m_parts.Prompt().AskText("更改目录", "输入新的目录", dir))
        return;
    dir = m_parts.ftp->NameCodec().EncodeUtf8(dir);
    if (m_parts.workflow->State() == SessionState::Idle && dir != m_dir)
        m_parts.workflow->ChangeRemoteDirectory(dir);
}

bool TRemotePane::FindRow(const QString& name, QString& shown, QString& size, QString& date) const
{
    const TCorvListView* view = View();
    for (int i = 0; i < view->RowCount(); ++i) {
        if (view->Text(i, 0).compare(name, Qt::CaseInsensitive) == 0) {
            shown = view->Text(i, 0);
            size = view->Text(i, 1);
            date = view->Text(i, 2);
            return true;
        }
    }
    return false;
}

QString TRemotePane::listingHeader(const QString& date) const
{
    return date + QStringLiteral("\t\t") + QString::fromStdString(m_parts.ftp->FtpServer) + QStringLiteral("\t\t") +
           QString::fromStdString(m_dir);
}

QStringList TRemotePane::ListingReport(const QString& date) const
{
    QStringList lines;
    lines << listingHeader(date) << QString();
    for (const std::string_view line : m_parts.ftp->ListingLines)
        lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    return lines;
}

void TRemotePane::AskSaveListing()
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    IPrompt& prompt = m_parts.Prompt();
    std::string path;
    if (!prompt.AskSaveFile("远程目录另存为", "文本文档 (*.txt)", path))
        return;
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        prompt.ShowMessage(MessageKind::Error, "无法保存文件 \"" + path + "\": " + f.errorString().toStdString());
        return;
    }
    // The header line, a blank line, the listing's lines as the server sent them.
    QByteArray text = (listingHeader(PaneDateText(TListingDate::Of(QDate::currentDate(), QTime::currentTime()))) +
                       QStringLiteral("\r\n\r\n"))
                          .toUtf8();
    for (const std::string_view line : m_parts.ftp->ListingLines)
        text.append(line.data(), static_cast<qsizetype>(line.size())).append("\r\n");
    if (f.write(text) != text.size())
        prompt.ShowMessage(MessageKind::Error, "无法保存文件 \"" + path + "\": " + f.errorString().toStdString());
}

void TRemotePane::Print()
{
    if (m_parts.workflow->State() != SessionState::Idle)
        return;
    // A blank line, the header with the date as month/day/yy hh:mm, the listing.
    const QString date = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("MM/dd/yy hh:mm"));
    QFont font = View()->font();
    font.setPointSize(12);
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setPlainText(QStringLiteral("\n") + ListingReport(date).join(QLatin1Char('\n')));
    PrintDocument(m_parts.Prompt(), doc);
}

void TRemotePane::CopyAddress(bool file)
{
    std::string name;
    if (file) {
        const std::vector<int> selected = View()->SelectedRows();
        if (selected.empty() || View()->Kind(selected.front()) != rkFile)
            return;
        name = View()->Text(selected.front(), 0).toStdString();
    }
    const bool connected = m_parts.workflow->State() != SessionState::Disconnected;
    const TQuickConnect& quick = *m_parts.quick;
    const std::string text =
        CopyAddressText(quick.Server().toStdString(), quick.Port().toStdString(), connected, m_dir, name);
    QApplication::clipboard()->setText(QString::fromStdString(text));
}
