// The main window's queue files: saving and loading the queue, site queues
// that connect and run on their own, and the queue a close interrupted.

#include "app/Main.h"
#include "dialogs/QueueFileDialog.h"
#include "dialup/TTapiComponent.h"
#include "transfer/QueueFile.h"
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

bool TWidgetPrompt::AskSaveFile(const std::string& title, const std::string& filter, std::string& path)
{
    const QString chosen = QFileDialog::getSaveFileName(m_parent, QString::fromStdString(title),
                                                        QString::fromStdString(path), QString::fromStdString(filter));
    if (chosen.isEmpty())
        return false;
    path = chosen.toStdString();
    return true;
}

bool TWidgetPrompt::AskOpenFile(const std::string& title, const std::vector<std::string>& filters, std::string& path,
                                int& filter)
{
    QStringList list;
    for (const std::string& f : filters)
        list << QString::fromStdString(f);
    QString selected = list.value(filter);
    const QString chosen =
        QFileDialog::getOpenFileName(m_parent, QString::fromStdString(title), QString::fromStdString(path),
                                     list.join(QStringLiteral(";;")), &selected);
    if (chosen.isEmpty())
        return false;
    path = chosen.toStdString();
    filter = std::max<int>(0, static_cast<int>(list.indexOf(selected)));
    return true;
}

IPrompt::Answer TWidgetPrompt::AskYesNoCancel(const std::string& text)
{
    const auto button =
        QMessageBox::question(m_parent, QStringLiteral("Corvyne"), QString::fromStdString(text),
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool TWidgetPrompt::AskSaveQueue(SaveQueueRequest& request)
{
    TfrmQueue dialog(
        request,
        [this](const std::string& filter, std::string& path) { return AskSaveFile("保存队列...", filter, path); },
        m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Result(request);
    return true;
}

// ---------------------------------------------------------------- saving

void TfrmMain::queSaveQueueClick()
{
    if (m_transferQueue.Empty())
        return;
    IPrompt::SaveQueueRequest r;
    // The host data is the session's, or the site's the server field names.
    r.hostAvailable = !m_workflow->CurrentSite.empty() || m_workflow->State() != SessionState::Disconnected;
    r.hostData = r.hostAvailable;
    if (r.hostAvailable) {
        r.host = m_quick->Server().trimmed().toStdString();
        r.port = m_quick->Port().toStdString();
        const QString user = m_quick->User();
        r.anonymous = user.isEmpty() || user == QStringLiteral("anonymous");
        if (!r.anonymous) {
            r.user = user.toStdString();
            r.password = m_quick->Password().toStdString();
        }
    }
    if (RasBackend().Available())
        r.dialEntries = RasBackend().EnumEntries();
    if (!m_prompt->AskSaveQueue(r) || r.path.empty())
        return;

    std::vector<TQueueEntry> entries;
    entries.reserve(m_transferQueue.Count());
    for (size_t i = 0; i < m_transferQueue.Count(); ++i)
        entries.push_back(m_transferQueue.At(i));
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
    logQueueFileSkips(skipped);
    std::string error;
    if (!WriteQueueFile(QueueFileSafePath(r.path), text, error))
        m_prompt->ShowMessage(MessageKind::Error, error);
}

void TfrmMain::logQueueFileSkips(const std::vector<TQueueFileSkip>& skipped)
{
    for (const TQueueFileSkip& s : skipped)
        LogLine(s.LogText(), lcError);
}

bool TfrmMain::SavePlainQueue(const std::string& path, std::string& error)
{
    std::vector<TQueueEntry> entries;
    for (size_t i = 0; i < m_transferQueue.Count(); ++i)
        entries.push_back(m_transferQueue.At(i));
    std::vector<TQueueFileSkip> skipped;
    const std::string text = FormatPlainQueue(entries, skipped);
    logQueueFileSkips(skipped);
    return WriteQueueFile(path, text, error);
}

bool TfrmMain::SaveInterruptedQueue()
{
    // Only a site's run can be resumed: the next start connects by its name.
    if (!IsTransferring(m_workflow->State()) || m_workflow->CurrentSite.empty() || m_transferQueue.Empty())
        return false;
    std::string error;
    if (!SavePlainQueue((m_dataDir + QStringLiteral("qfile.dat")).toStdString(), error)) {
        std::fprintf(stderr, "corvyne: %s\n", error.c_str());
        return false;
    }
    m_settingsFile.WriteString(QueueSection, "Site", m_workflow->CurrentSite);
    return true;
}

// ---------------------------------------------------------------- loading

void TfrmMain::queLoadQueueClick()
{
    std::string path;
    int filter = 0;
    if (!m_prompt->AskOpenFile("载入队列", {"Corvyne 站点队列 (*.csq)", "Corvyne 队列(*.cqf)"}, path, filter))
        return;
    if (filter == 0)
        LoadSiteQueueFile(path);
    else
        LoadQueueFile(path);
}

size_t TfrmMain::LoadQueueFile(const std::string& path)
{
    if (!QFileInfo::exists(QString::fromStdString(path)))
        return 0;
    std::string text, error;
    if (!ReadQueueFile(path, text, error)) {
        LogLine(error, lcError);
        return 0;
    }
    std::vector<TQueueFileSkip> skipped;
    std::vector<TQueueEntry> entries = ParsePlainQueue(text, skipped);
    logQueueFileSkips(skipped);
    for (const std::string& line : m_scripts->AdmitUnattended(entries))
        LogLine(line, lcError);
    const size_t count = entries.size();
    m_transferQueue.Append(std::move(entries));
    Queue->FitColumns();
    return count;
}

bool TfrmMain::LoadSiteQueueFile(std::string argument)
{
    if (QString::fromStdString(argument.substr(0, 6)).compare(QStringLiteral("QUEUE="), Qt::CaseInsensitive) == 0)
        argument.erase(0, 6);
    LogLine("正载入站点队列文件...", lcNormal);
    std::string text, error;
    if (!ReadQueueFile(argument, text, error)) {
        LogLine(error, lcError);  // the queue stays as it was
        return false;
    }
    std::vector<TQueueFileSkip> skipped;
    TSiteQueue q = ParseSiteQueue(text, skipped);
    // A site queue is input from anywhere that connects and moves files at
    // once: a user sees what it will do first; a run without one takes only
    // what stays inside its local folder.
    if (!m_queueRun->NoUser && !m_prompt->Confirm(SiteQueueQuestion(argument, q))) {
        LogLine("站点队列文件没有运行: " + argument, lcNormal);
        return false;
    }
    const std::vector<std::string> refused = m_scripts->AdmitUnattended(q.Entries);
    // The connect starts a new log: what was skipped is told after it.
    struct LogAtEnd {
        TfrmMain& w;
        const std::vector<TQueueFileSkip>& skipped;
        const std::vector<std::string>& refused;
        ~LogAtEnd()
        {
            w.logQueueFileSkips(skipped);
            for (const std::string& line : refused)
                w.LogLine(line, lcError);
        }
    } logAtEnd{*this, skipped, refused};
    m_transferQueue.Clear();
    applySiteQueue(q);
    if (!m_transferQueue.Empty() && !q.Host.empty()) {
        m_workflow->AfterLogin = AfterLoginAction::StartQueue;
        dialThenConnect(q.Dial);
    }
    return true;
}

// A site queue's login into the quick-connect fields, its options, its entries.
void TfrmMain::applySiteQueue(const TSiteQueue& q)
{
    if (!q.Host.empty()) {
        m_quick->Fill(QString::fromStdString(q.Host));
        m_workflow->ConnectionDirty = true;
    }
    std::optional<QString> port;
    if (q.Port)
        port = QString::fromStdString(*q.Port);
    m_quick->SetLogin(q.User, q.Password, port);
    if (q.Quit)
        SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
    if (q.HangUp)
        m_queueRun->HangUpWhenDone = true;
    m_transferQueue.Append(std::vector<TQueueEntry>(q.Entries));
    Queue->FitColumns();
}

// Connects, after dialling the entry when one is named.
void TfrmMain::dialThenConnect(const std::string& entry)
{
    if (entry.empty()) {
        m_quick->Connect(true);
        return;
    }
    LogLine("Dialing " + entry + "...", lcNormal);
    delete m_parts.dialer;
    TTapi* dialer = m_parts.dialer = new TTapi(RasBackend(), this);
    if (!dialer->Available() || !dialer->LoadEntry(entry)) {
        // Without that entry the line may well be up another way: try.
        LogLine("无法拨号 " + entry + ", 直接连接", lcError);
        m_quick->Connect(true);
        return;
    }
    dialer->OnConnected = [this](TTapi*) { QTimer::singleShot(0, this, [this] { m_quick->Connect(true); }); };
    dialer->OnGiveUp = [this](TTapi* t) { LogLine("拨号失败: " + t->EntryName, lcError); };
    dialer->Dial();
}

void TfrmMain::OfferInterruptedQueue()
{
    const std::string site = m_settingsFile.ReadString(QueueSection, "Site");
    if (site.empty()) {
        if (m_settings.ShowSiteManager)  // nothing to resume: the sites, as the user asked
            QTimer::singleShot(0, this, [this] { mnuSiteManagerClick(); });
        return;
    }
    const QString path = m_dataDir + QStringLiteral("qfile.dat");
    if (!QFileInfo::exists(path)) {
        m_settingsFile.EraseSection(QueueSection);
        return;
    }
    switch (m_prompt->AskYesNoCancel("一批量传输 \"" + site + "\" 没有完成.  你要立即连接并完成它吗 ?")) {
        case IPrompt::Answer::No:
            return;  // asked again at the next start
        case IPrompt::Answer::Cancel:
            m_settingsFile.EraseSection(QueueSection);
            return;
        case IPrompt::Answer::Yes:
            break;
    }
    m_settingsFile.EraseSection(QueueSection);
    const bool had = !m_transferQueue.Empty();
    if (LoadQueueFile(path.toStdString()) > 0)
        QFile::remove(path);  // a file nothing came from stays for the user to look at
    if (m_transferQueue.Empty()) {
        m_prompt->ShowMessage(MessageKind::Error, "无法载入队列数据文件.");
        return;
    }
    // The session starts where the first download came from.
    const TQueueEntry& first = m_transferQueue.At(0);
    if (!had && IsDownloadEntry(first.Kind))
        FTP.InitialDirectory = ParentPath(first.Source);
    m_workflow->AfterLogin = AfterLoginAction::ResumeQueue;
    m_quick->Fill(QString::fromStdString(site));
    m_quick->Connect(true);
}
