// The queue panel's files: saving and loading the queue, site queues that
// connect and run on their own, and the queue a close interrupted.

#include "app/LocalPane.h"
#include "app/QueuePanel.h"
#include "app/QuickConnect.h"
#include "app/ScriptHost.h"
#include "dialogs/QueueFileDialog.h"
#include "dialup/TTapiComponent.h"
#include "ftp/Ftp.h"
#include "sites/IniFile.h"
#include "sites/Settings.h"
#include "transfer/QueueFile.h"
#include "transfer/TransferQueue.h"
#include "widgets/QueueView.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr const char* QueueSection = "Queue";
}

// ---------------------------------------------------------------- saving

void TQueuePanel::queSaveQueueClick()
{
    if (m_parts.queue->Empty())
        return;
    IPrompt::SaveQueueRequest r;
    // The host data is the session's, or the site's the server field names.
    r.hostAvailable = !m_parts.workflow->CurrentSite.empty() || m_parts.workflow->State() != SessionState::Disconnected;
    r.hostData = r.hostAvailable;
    if (r.hostAvailable) {
        r.host = m_parts.quick->Server().trimmed().toStdString();
        r.port = m_parts.quick->Port().toStdString();
        const QString user = m_parts.quick->User();
        r.anonymous = user.isEmpty() || user == QStringLiteral("anonymous");
        if (!r.anonymous) {
            r.user = user.toStdString();
            r.password = m_parts.quick->Password().toStdString();
        }
    }
    if (RasBackend().Available())
        r.dialEntries = RasBackend().EnumEntries();
    if (!m_parts.Prompt().AskSaveQueue(r) || r.path.empty())
        return;

    std::vector<TQueueEntry> entries;
    entries.reserve(m_parts.queue->Count());
    for (size_t i = 0; i < m_parts.queue->Count(); ++i)
        entries.push_back(m_parts.queue->At(i));
    std::vector<TQueueFileSkip> skipped;
    std::string text;
    if (r.hostData) {
        TSiteQueue q;
        q.Host = r.host;
        q.Port = r.port;
        if (!r.anonymous) {
            q.User = r.user;
            q.Password = r.password;
        }
        q.Dial = r.dial;
        q.HangUp = r.hangUp;
        q.Quit = r.quit;
        q.Entries = std::move(entries);
        text = FormatSiteQueue(q, skipped);
    } else {
        text = FormatPlainQueue(entries, skipped);
    }
    logSkips(skipped);
    std::string error;
    if (!WriteQueueFile(QueueFileSafePath(r.path), text, error))
        m_parts.Prompt().ShowMessage(MessageKind::Error, error);
}

void TQueuePanel::logSkips(const std::vector<TQueueFileSkip>& skipped)
{
    for (const TQueueFileSkip& s : skipped)
        m_parts.Log(s.LogText(), lcError);
}

bool TQueuePanel::SavePlainQueue(const std::string& path, std::string& error)
{
    std::vector<TQueueEntry> entries;
    for (size_t i = 0; i < m_parts.queue->Count(); ++i)
        entries.push_back(m_parts.queue->At(i));
    std::vector<TQueueFileSkip> skipped;
    const std::string text = FormatPlainQueue(entries, skipped);
    logSkips(skipped);
    return WriteQueueFile(path, text, error);
}

bool TQueuePanel::SaveInterruptedQueue()
{
    // Only a site's run can be resumed: the next start connects by its name.
    const SessionState state = m_run->State();
    m_run->TakeBackInFlight();  // files moving on transfer connections are saved too
    if (!IsTransferring(state) || m_parts.workflow->CurrentSite.empty() || m_parts.queue->Empty())
        return false;
    std::string error;
    if (!SavePlainQueue((m_parts.dataDir + QStringLiteral("qfile.dat")).toStdString(), error)) {
        std::fprintf(stderr, "corvyne: %s\n", error.c_str());
        return false;
    }
    m_parts.settingsFile->WriteString(QueueSection, "Site", m_parts.workflow->CurrentSite);
    return true;
}

// ---------------------------------------------------------------- loading

void TQueuePanel::queLoadQueueClick()
{
    std::string path;
    int filter = 0;
    if (!m_parts.Prompt().AskOpenFile("载入队列", {"Corvyne 站点队列 (*.csq)", "Corvyne 队列(*.cqf)"}, path, filter))
        return;
    if (filter == 0)
        LoadSiteQueueFile(path);
    else
        LoadQueueFile(path);
}

size_t TQueuePanel::LoadQueueFile(const std::string& path)
{
    if (!QFileInfo::exists(QString::fromStdString(path)))
        return 0;
    std::string text, error;
    if (!ReadQueueFile(path, text, error)) {
        m_parts.Log(error, lcError);
        return 0;
    }
    std::vector<TQueueFileSkip> skipped;
    std::vector<TQueueEntry> entries = ParsePlainQueue(text, skipped);
    logSkips(skipped);
    for (const std::string& line : m_parts.scripts->AdmitUnattended(entries))
        m_parts.Log(line, lcError);
    const size_t count = entries.size();
    m_parts.queue->Append(std::move(entries));
    m_view->FitColumns();
    return count;
}

bool TQueuePanel::LoadSiteQueueFile(std::string argument)
{
    if (QString::fromStdString(argument.substr(0, 6)).compare(QStringLiteral("QUEUE="), Qt::CaseInsensitive) == 0)
        argument.erase(0, 6);
    m_parts.Log("正载入站点队列文件...", lcNormal);
    std::string text, error;
    if (!ReadQueueFile(argument, text, error)) {
        m_parts.Log(error, lcError);  // the queue stays as it was
        return false;
    }
    std::vector<TQueueFileSkip> skipped;
    TSiteQueue q = ParseSiteQueue(text, skipped);
    // A site queue is input from anywhere that connects and moves files at
    // once: a user sees what it will do first; a run without one takes only
    // what stays inside its local folder.
    if (!m_run->NoUser && !m_parts.Prompt().Confirm(SiteQueueQuestion(argument, q))) {
        m_parts.Log("站点队列文件没有运行: " + argument, lcNormal);
        return false;
    }
    const std::vector<std::string> refused = m_parts.scripts->AdmitUnattended(q.Entries);
    // The connect starts a new log: what was skipped is told after it.
    struct LogAtEnd {
        TQueuePanel& w;
        const std::vector<TQueueFileSkip>& skipped;
        const std::vector<std::string>& refused;
        ~LogAtEnd()
        {
            w.logSkips(skipped);
            for (const std::string& line : refused)
                w.m_parts.Log(line, lcError);
        }
    } logAtEnd{*this, skipped, refused};
    m_parts.queue->Clear();
    applySiteQueue(q);
    if (!m_parts.queue->Empty() && !q.Host.empty()) {
        m_parts.workflow->AfterLogin = AfterLoginAction::StartQueue;
        dialThenConnect(q.Dial);
    }
    return true;
}

// A site queue's login into the quick-connect fields, its options, its entries.
void TQueuePanel::applySiteQueue(const TSiteQueue& q)
{
    if (!q.Host.empty()) {
        m_parts.quick->Fill(QString::fromStdString(q.Host));
        m_parts.workflow->ConnectionDirty = true;
    }
    std::optional<QString> port;
    if (q.Port)
        port = QString::fromStdString(*q.Port);
    m_parts.quick->SetLogin(q.User, q.Password, port);
    if (q.Quit)
        SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
    if (q.HangUp)
        m_run->HangUpWhenDone = true;
    m_parts.queue->Append(std::vector<TQueueEntry>(q.Entries));
    m_view->FitColumns();
}

// Connects, after dialling the entry when one is named.
void TQueuePanel::dialThenConnect(const std::string& entry)
{
    if (entry.empty()) {
        m_parts.quick->Connect(true);
        return;
    }
    m_parts.Log("Dialing " + entry + "...", lcNormal);
    delete m_parts.dialer;
    TTapi* dialer = m_parts.dialer = new TTapi(RasBackend(), m_parts.window);
    if (!dialer->Available() || !dialer->LoadEntry(entry)) {
        // Without that entry the line may well be up another way: try.
        m_parts.Log("无法拨号 " + entry + ", 直接连接", lcError);
        m_parts.quick->Connect(true);
        return;
    }
    dialer->OnConnected = [this](TTapi*) { QTimer::singleShot(0, this, [this] { m_parts.quick->Connect(true); }); };
    dialer->OnGiveUp = [this](TTapi* t) { m_parts.Log("拨号失败: " + t->EntryName, lcError); };
    dialer->Dial();
}

void TQueuePanel::OfferInterruptedQueue()
{
    const std::string site = m_parts.settingsFile->ReadString(QueueSection, "Site");
    if (site.empty()) {
        if (m_parts.settings->ShowSiteManager)  // nothing to resume: the sites, as the user asked
            QTimer::singleShot(0, this, [this] { Q_EMIT SitesWanted(); });
        return;
    }
    const QString path = m_parts.dataDir + QStringLiteral("qfile.dat");
    if (!QFileInfo::exists(path)) {
        m_parts.settingsFile->EraseSection(QueueSection);
        return;
    }
    switch (m_parts.Prompt().AskYesNoCancel("一批量传输 \"" + site + "\" 没有完成.  你要立即连接并完成它吗 ?")) {
        case IPrompt::Answer::No:
            return;  // asked again at the next start
        case IPrompt::Answer::Cancel:
            m_parts.settingsFile->EraseSection(QueueSection);
            return;
        case IPrompt::Answer::Yes:
            break;
    }
    m_parts.settingsFile->EraseSection(QueueSection);
    const bool had = !m_parts.queue->Empty();
    if (LoadQueueFile(path.toStdString()) > 0)
        QFile::remove(path);  // a file nothing came from stays for the user to look at
    if (m_parts.queue->Empty()) {
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法载入队列数据文件.");
        return;
    }
    // The session starts where the first download came from.
    const TQueueEntry& first = m_parts.queue->At(0);
    if (!had && IsDownloadEntry(first.Kind))
        m_parts.ftp->InitialDirectory = ParentPath(first.Source);
    m_parts.workflow->AfterLogin = AfterLoginAction::ResumeQueue;
    m_parts.quick->Fill(QString::fromStdString(site));
    m_parts.quick->Connect(true);
}
