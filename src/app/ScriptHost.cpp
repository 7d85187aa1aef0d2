// The window without a user; see ScriptHost.h.
#include "app/ScriptHost.h"

#include "app/DataDirectory.h"
#include "app/FileCommands.h"
#include "app/FileType.h"
#include "app/LocalPane.h"
#include "app/QueuePanel.h"
#include "app/QuickConnect.h"
#include "app/RemotePane.h"
#include "app/StatusLine.h"
#include "desktop/DdeLink.h"
#include "dialup/TTapiComponent.h"
#include "ftp/Ftp.h"
#include "panes/PaneLogic.h"
#include "session/FileOps.h"
#include "session/QueueRun.h"
#include "sites/Netrc.h"
#include "sites/Settings.h"
#include "transfer/QueueFile.h"
#include "transfer/TransferQueue.h"
#include "widgets/QueueView.h"
#include "widgets/corvview.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <map>

namespace {
constexpr qint64 MaxScriptFile = 16 * 1024 * 1024;

bool settled(SessionState s)
{
    return s == SessionState::Idle || s == SessionState::Disconnected;
}

const char* stateText(SessionState s)
{
    switch (s) {
        case SessionState::Disconnected:
            return "Corvyne: 没有连接";
        case SessionState::Connecting:
            return "Corvyne: 连接到服务器";
        case SessionState::Idle:
            return "Corvyne: 空闲";
        case SessionState::Downloading:
            return "Corvyne: 接收文件";
        case SessionState::Uploading:
            return "Corvyne: 发送文件";
        case SessionState::RemoteCommand:
            return "Corvyne: 对话繁忙";
        default:
            return nullptr;
    }
}

// "a:b" at its first ":"; other is empty without one.
void splitPair(const std::string& text, std::string& name, std::string& other)
{
    const size_t colon = text.find(':');
    name = text.substr(0, colon);
    other = colon == std::string::npos ? std::string() : text.substr(colon + 1);
}
}  // namespace

// While a script or an unattended command line runs no dialog opens: a
// question gets the answer the command itself implies (yes), a message goes
// to the log, and anything that needs a person is declined.
class TScriptHost::TUnattendedPrompt : public IPrompt {
public:
    explicit TUnattendedPrompt(const TWindowParts& parts) : m_parts(parts) {}
    void ShowMessage(MessageKind kind, const std::string& text) override
    {
        m_parts.Log(text, kind == MessageKind::Information ? lcNormal : lcError);
    }
    bool Confirm(const std::string& text) override
    {
        m_parts.Log(text + " 是", lcNormal);
        return true;
    }
    // Nobody to ask: a certificate not trusted before ends the run, and the
    // log says how to trust it.
    CertificateAnswer AskCertificate(const CertificateRequest& request) override
    {
        m_parts.Log("证书不受信任, 无人值守的运行不能接受它: " + request.server + " (" + request.problem +
                        "), SHA-256 " + request.sha256 +
                        ". 请先在窗口中连接并选择\"总是信任\", 或用 SSL_CERT_FILE 指定可信的证书.",
                    lcError);
        return CertificateAnswer::Refuse;
    }
    // Nor a host key: an unattended run never trusts a new one.
    bool AskHostKey(const HostKeyRequest& request) override
    {
        m_parts.Log("主机密钥未知, 无人值守的运行不信任新的主机密钥: " + request.server + " " + request.keyType + " " +
                        request.sha256 + ". 请先在窗口中连接并信任它, 或用 ssh 把它加入 known_hosts.",
                    lcError);
        return false;
    }

private:
    const TWindowParts& m_parts;
};

TScriptHost::TScriptHost(TWindowParts& parts, IScriptWindow& window, QObject* parent)
    : QObject(parent), m_parts(parts), m_window(window), m_unattendedPrompt(std::make_unique<TUnattendedPrompt>(parts))
{
    ScriptTimer = new QTimer(this);
    ScriptTimer->setSingleShot(true);
    connect(ScriptTimer, &QTimer::timeout, this, [this] { timerFired(); });
    // Scripts go on when the session settles.
    connect(parts.workflow, &TConnectionWorkflow::StateChanged, this,
            [this] { stateChanged(std::exchange(m_lastState, m_parts.workflow->State())); });
    startDdeServer();
}

TScriptHost::~TScriptHost() = default;

// ---------------------------------------------------------------- menus

void TScriptHost::BuildMenu(QMenu* menu)
{
    mnuRunScript = menu->addAction(QStringLiteral("运行脚本(&S)"), this, [this] { mnuRunScriptClick(); });
    mnuRunScript->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    menu->addAction(QStringLiteral("浏览脚本(&R)"), this, [this] { mnuScriptShortcutClick(); });
    menu->addAction(QStringLiteral("脚本命令(&C)"), this, [this] { mnuScriptCommandClick(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("运行程序(&P)"), this, [this] { mnuRunProgramClick(); });
    menu->addAction(QStringLiteral("打开网址(&O)"), this, [this] { mnuRunURLClick(); });
}

void TScriptHost::AddDdeClientItem(QMenu* options)
{
    mnuDDEClient = options->addAction(QStringLiteral("DDE 客户端"), this, [this] { mnuDDEClientClick(); });
    mnuDDEClient->setCheckable(true);
    // The check follows the link, not the click.
    connect(mnuDDEClient, &QAction::triggered, this, [this] { mnuDDEClient->setChecked(DDEClient->IsOpen()); });
}

void TScriptHost::mnuRunScriptClick()
{
    if (m_script.ScriptRunning) {
        Stop();
        return;
    }
    std::string path;
    int filter = 0;
    if (m_parts.Prompt().AskOpenFile("运行脚本", {"脚本文件 (*.txt)"}, path, filter) && !path.empty())
        RunScriptFile(QString::fromStdString(path), true);
}

void TScriptHost::mnuScriptShortcutClick()
{
    std::string path;
    int filter = 0;
    if (!m_parts.Prompt().AskOpenFile("浏览脚本", {"脚本文件 (*.txt)"}, path, filter) || path.empty())
        return;
    const QString script = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    QString made;
    std::string error;
    if (!CreateSiteLauncher(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                            QFileInfo(script).fileName(), QCoreApplication::applicationFilePath(), made, error,
                            QStringList{QLatin1Char('+') + script} + DataDirectoryArguments(m_parts.dataDir)))
        m_parts.Prompt().ShowMessage(MessageKind::Error, error);
    else
        m_parts.Prompt().ShowMessage(MessageKind::Information, "一个快捷方式已被创建在桌面.");
}

void TScriptHost::mnuScriptCommandClick()
{
    std::string text;
    if (!m_parts.Prompt().AskText("脚本命令", "执行的命令", text) || text.empty())
        return;
    const TCompiledLine c = compileLine(text, -1);
    if (c.error != TScriptError::None) {
        m_parts.Log("无效命令: \"" + text + "\"", lcNormal);
        return;
    }
    ExecuteScriptCommand(c.text);
}

void TScriptHost::mnuRunProgramClick()
{
    std::string path;
    int filter = 0;
    if (m_parts.Prompt().AskOpenFile("运行程序", {"可执行文件 (*)"}, path, filter) && !path.empty() &&
        !m_parts.files->Launch(QString::fromStdString(path), {}))
        m_parts.Prompt().ShowMessage(MessageKind::Error, "无法启动 " + path);
}

void TScriptHost::mnuRunURLClick()
{
    std::string address = "http://";
    if (m_parts.Prompt().AskText("打开网址", "要打开网址", address) && !address.empty() && address != "http://")
        m_parts.files->OpenUrl(QUrl::fromUserInput(QString::fromStdString(address)));
}


// ---------------------------------------------------------------- scripts

bool TScriptHost::RunScriptFile(const QString& path, bool startNow)
{
    // A relative name: from the current folder first, then the program's.
    QString file = path;
    if (QFileInfo(path).isRelative() && !QFileInfo::exists(path))
        file = QCoreApplication::applicationDirPath() + QLatin1Char('/') + path;
    if (!QFileInfo::exists(file)) {
        m_parts.Log("错误: 不能打开脚本文件", lcNormal);
        unattendedFailed();
        return false;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxScriptFile) {
        m_script.Stop();
        m_parts.Prompt().ShowMessage(MessageKind::Error, "打开脚本文件错误.");
        unattendedFailed();
        return false;
    }
    const QByteArray text = f.readAll();
    const TScriptRunner::LoadResult r =
        m_script.Load(std::string_view(text.constData(), text.size()), QDate::currentDate());
    if (r.errorLine > 0) {
        reportError(r.errorLine, r.error);
        unattendedFailed();
        return false;
    }
    if (!m_script.ScriptRunning)
        return false;
    started();
    if (startNow)
        runNextCommand();
    return true;
}

TCompiledLine TScriptHost::compileLine(const std::string& line, int lineNumber)
{
    const TCompiledLine c =
        CompileScriptLine(QString::fromStdString(line).trimmed().toStdString(), QDate::currentDate());
    if (c.error != TScriptError::None)
        reportError(lineNumber, c.error);
    return c;
}

void TScriptHost::reportError(int lineNumber, TScriptError kind)
{
    if (lineNumber > 0) {
        const std::string text = "错误在脚本文件 (行" + std::to_string(lineNumber) + "). " + ScriptErrorText(kind);
        m_script.Stop();
        // A script started without a person (a "+" start) cannot wait for a box.
        if (m_quitWhenDone)
            m_parts.Log(text, lcError);
        else
            m_parts.Prompt().ShowMessage(MessageKind::Error, text);
    }
    sendDdeStatus("Corvyne: 错误在 DDE 命令");
}

void TScriptHost::started()
{
    if (!m_errorsChained) {
        // A data connection that fails while a script runs ends the script
        // (the workflow logs the error).
        m_errorsChained = true;
        m_parts.ftp->OnFtpError = [this, before = m_parts.ftp->OnFtpError](TFTPclient* c, ::FtpError kind, const std::string& text) {
            if (before)
                before(c, kind, text);
            if (kind == feScriptDataConnection && m_script.ScriptRunning) {
                m_script.ScriptCommands.clear();
                m_script.LoopIndex = 0;
                unattendedFailed();
                runNextCommand();
            }
        };
    }
    mnuRunScript->setText(QStringLiteral("停止脚本(&S)"));
    m_parts.queueRun->ScriptRunning = true;
    m_goesOn = false;
    m_step = {};
    beginUnattended();
}

void TScriptHost::ended()
{
    m_waits = false;
    mnuRunScript->setText(QStringLiteral("运行脚本(&S)"));
    m_parts.queueRun->ScriptRunning = false;
    m_parts.status->Show(QStringLiteral("完成脚本"));
    m_parts.remote->View()->ClearSelection();
    if (!m_unattended)
        endUnattended();
    // A script the command line started ends the program when it ends, with
    // its status (EXIT is not needed).
    if (m_quitWhenDone)
        QTimer::singleShot(0, this, [this] { m_window.Close(false); });
}

void TScriptHost::beginUnattended()
{
    m_parts.queueRun->NoUser = true;
    if (&m_parts.Prompt() == m_unattendedPrompt.get())
        return;
    m_promptBefore = &m_parts.Prompt();
    m_parts.setPrompt(m_unattendedPrompt.get());
}

void TScriptHost::endUnattended()
{
    m_parts.queueRun->NoUser = false;
    if (&m_parts.Prompt() == m_unattendedPrompt.get() && m_promptBefore)
        m_parts.setPrompt(m_promptBefore);
}

void TScriptHost::unattendedFailed()
{
    if (m_unattended || m_quitWhenDone)
        m_exitStatus = 1;
}

void TScriptHost::RunStartScript(const QString& path)
{
    // No dialog may wait in such a run, not even for a script that cannot
    // be read; one that cannot run ends the program at once.
    m_quitWhenDone = true;
    beginUnattended();
    if (!RunScriptFile(path, true))
        QTimer::singleShot(0, this, [this] { m_window.Close(false); });
}

void TScriptHost::Stop()
{
    if (!m_script.ScriptRunning)
        return;
    ScriptTimer->stop();
    m_script.Stop();
    ended();
}

std::vector<std::string> TScriptHost::AdmitUnattended(std::vector<TQueueEntry>& entries)
{
    std::vector<std::string> refused;
    if (!m_parts.queueRun->NoUser)
        return refused;
    const std::string root = m_parts.local->Directory().toStdString();
    for (const TQueueEntry& e : TakeEntriesOutside(entries, root)) {
        refused.push_back("拒绝队列项目: 本地路径在 " + root +
                          " 之外: " + (IsDownloadEntry(e.Kind) ? e.Target : e.Source));
        unattendedFailed();
    }
    return refused;
}

int TScriptHost::ExitStatus() const
{
    if (m_exitStatus != 0)
        return m_exitStatus;
    // An unattended run succeeded when nothing failed and (QUIT=YES) nothing
    // is left; a "+" script when nothing failed.
    if ((m_unattended || m_quitWhenDone) && m_parts.queueRun->Failures > 0)
        return 1;
    return (m_unattended || m_quitWhenDone) && !m_parts.queue->Empty() ? 1 : 0;
}

bool TScriptHost::stepEnded()
{
    const std::optional<std::string> failure =
        m_step.End(m_parts.ftp->CommandRefusals(), m_parts.queueRun->Failures, m_parts.ftp->LastRefusal());
    if (!failure)
        return true;
    // A failed command never lets the script go on as if it had worked (the
    // next line may act on the wrong folder): the script stops there unless
    // it said ONERROR:CONTINUE, and the run's status says it failed.
    m_parts.Log(*failure, lcError);
    unattendedFailed();
    if (m_goesOn)
        return true;
    m_parts.Log("脚本结束.", lcError);
    m_script.Stop();
    ended();
    return false;
}

void TScriptHost::runNextCommand()
{
    m_waits = false;
    if (m_script.ScriptRunning && m_step.Active() && !stepEnded())
        return;
    const TScriptRunner::Next next = m_script.TakeNext();
    if (next.kind == TScriptRunner::NextKind::LoopNotClosed) {
        m_parts.Log("脚本错误: LOOP 没有 ENDLOOP, 脚本结束.", lcError);
        m_script.Stop();
        unattendedFailed();
    }
    if (next.kind != TScriptRunner::NextKind::Command) {
        m_script.ScriptRunning = false;
        ended();
        return;
    }
    ExecuteScriptCommand(next.command);
}

void TScriptHost::continueSoon()
{
    if (m_continuing)
        return;
    m_continuing = true;
    // Through the event loop: an endless loop of commands that go on at once
    // never blocks the window, and a command is never run inside the handler
    // of the one before.
    QTimer::singleShot(0, this, [this] {
        m_continuing = false;
        if (!m_script.ScriptRunning)
            return;
        if (!settled(m_parts.workflow->State()) && m_waitsForState) {
            m_waits = true;  // something began meanwhile (a listing after a delete)
            return;
        }
        runNextCommand();
    });
}

void TScriptHost::stateChanged(SessionState previous)
{
    const SessionState now = m_parts.workflow->State();
    // A connection that never came: an unattended run ends here.
    if (now == SessionState::Disconnected &&
        (previous == SessionState::Connecting || previous == SessionState::Connected)) {
        if (m_unattended || (m_quitWhenDone && m_script.ScriptRunning)) {
            m_exitStatus = 1;
            m_script.Stop();
            QTimer::singleShot(0, this, [this] { m_window.Close(false); });
            return;
        }
    }
    if (m_waits && settled(now))
        continueSoon();
    // QUIT=YES with nothing (left) to transfer: the work is done.
    if (m_unattended && now == SessionState::Idle && m_parts.queue->Empty() && !m_script.ScriptRunning && m_parts.window->isVisible())
        QTimer::singleShot(0, this, [this] { m_window.Close(false); });
}

void TScriptHost::timerFired()
{
    ScriptTimer->stop();
    if (m_script.ScriptRunning)
        runNextCommand();
}

TScriptHost::ScriptWait TScriptHost::scriptTransfer(const TScriptCommand& c)
{
    const bool download = c.code == TScriptCode::Get;
    TFilePane& part = download ? static_cast<TFilePane&>(*m_parts.remote) : *m_parts.local;
    TCorvListView* pane = part.View();
    m_window.Activate(part);
    if (m_parts.workflow->State() != SessionState::Idle) {
        m_parts.Log("不能传输: 没有空闲的连接", lcError);
        unattendedFailed();
        return ScriptWait::None;
    }
    if (c.argument.find('*') != std::string::npos) {
        if (!part.SelectMatching(c.argument)) {
            m_parts.Log("没有找到文件匹配: " + c.argument, lcNormal);
            return ScriptWait::None;
        }
        m_parts.queueRun->StartQueue();
        m_parts.queueRun->DeleteAfterUpload = c.code == TScriptCode::PutDel;
        m_parts.queuePanel->AddSelectionToQueue(pane);
    } else {
        std::string name, other;
        splitPair(c.argument, name, other);
        const std::string remote = m_parts.remote->CurrentPath();
        const std::string local = m_parts.local->Directory().toStdString();
        const std::string target = other.empty() ? name : other;
        TQueueEntry e;
        if (download) {
            e = {TEntryKind::DownloadFile, remote + name, -1, local + target};
        } else {
            const QFileInfo f(QString::fromStdString(local + name));
            e = {TEntryKind::UploadFile, local + name, f.exists() ? f.size() : -1, remote + target};
        }
        m_parts.queueRun->StartQueue();
        m_parts.queueRun->DeleteAfterUpload = c.code == TScriptCode::PutDel;
        m_parts.queue->Append(e);
    }
    m_parts.queuePanel->View()->FitColumns();
    m_parts.queueRun->ProcessQueueHead();
    return ScriptWait::State;
}

TScriptHost::ScriptWait TScriptHost::localStepDone(bool ok, const std::string& failure)
{
    if (!ok) {
        m_parts.Log(failure, lcError);
        stepFailed();
    }
    m_parts.local->List();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::started(bool began)
{
    // A remote command that could not even start (no connection, the session
    // busy) failed.
    if (!began) {
        m_parts.Log("不能执行: 没有空闲的连接", lcError);
        stepFailed();
    }
    return began ? ScriptWait::State : ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptDel(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_parts.local) : *m_parts.remote;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local && a.find('*') == std::string::npos) {
        m_parts.Log("删除文件: " + a, lcNormal);
        return localStepDone(QFile::remove(m_parts.local->Directory() + arg), "无法删除: " + a);
    }
    if (!part.SelectMatching(a)) {
        // A mask that matches nothing deletes nothing; a name that is
        // not there is a delete that failed.
        if (a.find('*') == std::string::npos) {
            m_parts.Log("无法删除: 没有这个文件: " + a, lcError);
            stepFailed();
        }
        return ScriptWait::None;
    }
    m_window.Activate(part);
    m_parts.files->popDeleteClick();
    return ScriptWait::State;
}

TScriptHost::ScriptWait TScriptHost::scriptRename(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    std::string from, to;
    splitPair(a, from, to);
    if (from.empty() || to.empty()) {
        m_parts.Log("无法重命名: " + a, lcError);
        stepFailed();
        return ScriptWait::None;
    }
    if (!local) {
        // The server would replace a file of the new name: a script
        // never does that unasked.
        if (m_parts.remote->View()->RowNamed(QString::fromStdString(to)) >= 0) {
            m_parts.Log("无法重命名: \"" + to + "\" 已存在", lcError);
            stepFailed();
            return ScriptWait::None;
        }
        return started(m_parts.fileOps->Rename(from, to));
    }
    const bool renamed = !QFileInfo::exists(m_parts.local->Directory() + QString::fromStdString(to)) &&
                         QDir(m_parts.local->Directory()).rename(QString::fromStdString(from), QString::fromStdString(to));
    return localStepDone(renamed, "无法重命名: " + from);
}

TScriptHost::ScriptWait TScriptHost::scriptQueueSelection(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_parts.local) : *m_parts.remote;
    if (part.SelectMatching(c.argument))
        m_parts.queuePanel->AddSelectionToQueue(part.View());
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptCd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local) {
        const QString dir = QDir::isAbsolutePath(arg) ? arg : m_parts.local->Directory() + arg;
        if (!QFileInfo(dir).isDir()) {
            m_parts.Log("无法进入目录: " + a, lcError);
            stepFailed();
            return ScriptWait::None;
        }
        m_parts.local->SetDirectory(dir);
        return ScriptWait::None;
    }
    return started(m_parts.workflow->ChangeRemoteDirectory(a));
}

TScriptHost::ScriptWait TScriptHost::scriptMd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local)
        return localStepDone(QDir(m_parts.local->Directory()).mkpath(arg), "无法创建目录: " + a);
    return started(m_parts.fileOps->MakeDirectory(a));
}

TScriptHost::ScriptWait TScriptHost::scriptRd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local)
        return localStepDone(QDir(m_parts.local->Directory()).rmdir(arg), "无法删除目录: " + a);
    return started(m_parts.fileOps->RawCommand("RMD " + a));
}

TScriptHost::ScriptWait TScriptHost::scriptDir(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    if (local) {
        m_parts.local->List();
        return ScriptWait::None;
    }
    if (m_parts.workflow->State() == SessionState::Idle && m_parts.workflow->UserRefresh())
        return ScriptWait::State;
    sendDdeStatus("Corvyne: 不能获取远程目录.");
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptPath(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    sendDdeStatus(local ? "本地路径: " + m_parts.local->Directory().toStdString() : "远程路径: " + m_parts.remote->Directory());
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptFilter(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_parts.local) : *m_parts.remote;
    part.SetFilter(QString::fromStdString(c.argument));  // from the pane's next listing
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptIfExist(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_parts.local) : *m_parts.remote;
    if (!part.MatchingRows(c.argument).empty())
        part.View()->ClearSelection();
    else
        m_script.SkipToEndIf();
    return ScriptWait::None;
}

// One handler per command; each says whether the script waits for the
// session to settle, goes on at once, or goes on by itself (a delay, a dial,
// a script file) or has ended.
const TScriptHost::ScriptHandler* TScriptHost::scriptHandler(TScriptCode code)
{
    using C = TScriptCode;
    static const std::map<TScriptCode, ScriptHandler> table = {
        {C::OnError, &TScriptHost::scriptOnError},
        {C::Connect, &TScriptHost::scriptConnect},
        {C::Disconnect, &TScriptHost::scriptDisconnect},
        {C::Abort, &TScriptHost::scriptAbort},
        {C::Hide, &TScriptHost::scriptHide},
        {C::Unhide, &TScriptHost::scriptUnhide},
        {C::Status, &TScriptHost::scriptStatus},
        {C::HangUp, &TScriptHost::scriptHangUp},
        {C::Script, &TScriptHost::scriptScript},
        {C::Exit, &TScriptHost::scriptExit},
        {C::Ascii, &TScriptHost::scriptMode},
        {C::Binary, &TScriptHost::scriptMode},
        {C::Auto, &TScriptHost::scriptMode},
        {C::Transfer, &TScriptHost::scriptQueueTransfer},
        {C::Get, &TScriptHost::scriptTransfer},
        {C::Put, &TScriptHost::scriptTransfer},
        {C::PutDel, &TScriptHost::scriptTransfer},
        {C::Chmod, &TScriptHost::scriptChmod},
        {C::Raw, &TScriptHost::scriptRaw},
        {C::DdeLink, &TScriptHost::scriptDdeLink},
        {C::DdeOpen, &TScriptHost::scriptDdeOpen},
        {C::DdeClose, &TScriptHost::scriptDdeClose},
        {C::LoadQueue, &TScriptHost::scriptLoadQueue},
        {C::SaveQueue, &TScriptHost::scriptSaveQueue},
        {C::ClearQueue, &TScriptHost::scriptClearQueue},
        {C::Loop, &TScriptHost::scriptLoop},
        {C::EndLoop, &TScriptHost::scriptEndLoop},
        {C::Delay, &TScriptHost::scriptDelay},
        {C::Dial, &TScriptHost::scriptDial},
        {C::Run, &TScriptHost::scriptRun},
        {C::IfExist, &TScriptHost::scriptIfExist},
        {C::Del, &TScriptHost::scriptDel},
        {C::Rename, &TScriptHost::scriptRename},
        {C::Queue, &TScriptHost::scriptQueueSelection},
        {C::Cd, &TScriptHost::scriptCd},
        {C::Md, &TScriptHost::scriptMd},
        {C::Rd, &TScriptHost::scriptRd},
        {C::Dir, &TScriptHost::scriptDir},
        {C::Path, &TScriptHost::scriptPath},
        {C::Filter, &TScriptHost::scriptFilter},
        {C::EndIf, &TScriptHost::scriptNothing},
    };
    const auto it = table.find(code);
    return it == table.end() ? nullptr : &it->second;
}

void TScriptHost::ExecuteScriptCommand(const std::string& compiled)
{
    const std::optional<TScriptCommand> decoded = DecodeScriptCommand(compiled);
    const ScriptHandler* handler = decoded ? scriptHandler(decoded->code) : nullptr;
    if (!handler)
        return;
    if (m_script.ScriptRunning)
        m_step.Begin(*decoded, m_parts.ftp->CommandRefusals(), m_parts.queueRun->Failures);
    const ScriptWait wait = (this->*(*handler))(*decoded);
    if (wait == ScriptWait::Own)
        return;
    if (!m_script.ScriptRunning) {
        if (m_script.ScriptCommands.empty() && mnuRunScript->text() != QStringLiteral("运行脚本(&S)"))
            ended();  // a command above ended the script
        return;
    }
    // A command that began nothing to wait for (already idle, or refused)
    // goes on at once.
    m_waitsForState = wait == ScriptWait::State;
    if (wait == ScriptWait::State && !settled(m_parts.workflow->State()))
        m_waits = true;
    else
        continueSoon();
}

TScriptHost::ScriptWait TScriptHost::scriptNothing(const TScriptCommand&)
{
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptOnError(const TScriptCommand& c)
{
    const QString how = QString::fromStdString(c.argument).trimmed().toUpper();
    if (how == QStringLiteral("CONTINUE") || how == QStringLiteral("STOP"))
        m_goesOn = how == QStringLiteral("CONTINUE");
    else
        stepFailed();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptConnect(const TScriptCommand& c)
{
    m_parts.workflow->ConnectionDirty = true;
    m_parts.quick->Fill(QString::fromStdString(c.argument));
    m_parts.quick->Connect(true);
    return ScriptWait::State;
}

TScriptHost::ScriptWait TScriptHost::scriptDisconnect(const TScriptCommand&)
{
    m_parts.quick->Disconnect();
    return ScriptWait::State;
}

TScriptHost::ScriptWait TScriptHost::scriptAbort(const TScriptCommand&)
{
    const bool stopsScript =
        m_script.ScriptRunning && static_cast<int>(m_parts.workflow->State()) > static_cast<int>(SessionState::Connected);
    m_parts.queuePanel->btnAbortClick(false);
    if (!stopsScript)
        return ScriptWait::None;
    m_script.Stop();
    ended();
    return ScriptWait::Own;
}

TScriptHost::ScriptWait TScriptHost::scriptHide(const TScriptCommand&)
{
    m_window.Hide();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptUnhide(const TScriptCommand&)
{
    m_window.Unhide();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptStatus(const TScriptCommand&)
{
    if (const char* text = stateText(m_parts.workflow->State()))
        sendDdeStatus(text);
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptHangUp(const TScriptCommand&)
{
    if (m_parts.dialer)
        m_parts.dialer->HangUp();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptScript(const TScriptCommand& c)
{
    if (m_script.ScriptRunning)
        return ScriptWait::None;  // inside a script: nothing, and on at once
    RunScriptFile(QString::fromStdString(c.argument), true);
    return ScriptWait::Own;  // the script goes on by itself
}

TScriptHost::ScriptWait TScriptHost::scriptExit(const TScriptCommand&)
{
    m_script.Stop();
    QTimer::singleShot(0, this, [this] { m_window.Close(true); });
    return ScriptWait::Own;
}

TScriptHost::ScriptWait TScriptHost::scriptMode(const TScriptCommand& c)
{
    const int mode = static_cast<int>(c.code) - static_cast<int>(TScriptCode::Ascii);
    m_parts.workflow->TransferModePanel = mode;
    m_parts.status->ShowTransferMode(mode);
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptQueueTransfer(const TScriptCommand&)
{
    if (m_parts.workflow->State() != SessionState::Idle || m_parts.queue->Empty())
        return ScriptWait::None;
    m_parts.queuePanel->queTransferClick();
    return ScriptWait::State;
}

TScriptHost::ScriptWait TScriptHost::scriptChmod(const TScriptCommand& c)
{
    std::string mode, mask;
    splitPair(c.argument, mode, mask);
    std::vector<std::string> names;
    for (int r : m_parts.remote->MatchingRows(mask))
        names.push_back(m_parts.remote->View()->NameBytes(r));
    return names.empty() ? ScriptWait::None : started(m_parts.fileOps->Chmod(names, mode));
}

TScriptHost::ScriptWait TScriptHost::scriptRaw(const TScriptCommand& c)
{
    return started(m_parts.fileOps->RawCommand(c.argument));
}

TScriptHost::ScriptWait TScriptHost::scriptDdeLink(const TScriptCommand& c)
{
    const std::string& a = c.argument;
    const size_t first = a.find(':');
    const size_t second = first == std::string::npos ? first : a.find(':', first + 1);
    DDEClient->Close();
    m_parts.settings->DDEService = a.substr(0, first);
    m_parts.settings->DDETopic = first == std::string::npos ? std::string() : a.substr(first + 1, second - first - 1);
    m_parts.settings->DDECommand = second == std::string::npos ? std::string() : a.substr(second + 1);
    openDdeClient();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptDdeOpen(const TScriptCommand&)
{
    openDdeClient();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptDdeClose(const TScriptCommand&)
{
    DDEClient->Close();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptLoadQueue(const TScriptCommand& c)
{
    if (!QFileInfo(QString::fromStdString(c.argument)).isFile()) {
        m_parts.Log("无法载入队列文件: " + c.argument, lcError);
        stepFailed();
        return ScriptWait::None;
    }
    m_parts.queuePanel->LoadQueueFile(c.argument);
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptSaveQueue(const TScriptCommand& c)
{
    std::string error;
    if (!m_parts.queuePanel->SavePlainQueue(QueueFileSafePath(c.argument), error)) {
        m_parts.Log(error, lcError);
        stepFailed();
    }
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptClearQueue(const TScriptCommand&)
{
    m_parts.queue->Clear();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptLoop(const TScriptCommand& c)
{
    switch (m_script.BeginLoop(c.argument)) {
        case TScriptRunner::LoopStart::Started:
            return ScriptWait::None;
        case TScriptRunner::LoopStart::CountTooLarge:
            m_parts.Log("脚本错误: 循环次数过大: " + c.argument, lcError);
            break;
        case TScriptRunner::LoopStart::Nested:
            m_parts.Log("脚本错误: 循环不能嵌套, 脚本结束.", lcError);
            break;
    }
    m_script.Stop();
    unattendedFailed();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptEndLoop(const TScriptCommand&)
{
    m_script.EndLoop();
    return ScriptWait::None;
}

TScriptHost::ScriptWait TScriptHost::scriptDelay(const TScriptCommand& c)
{
    const std::optional<int> seconds = ParseIniInteger(c.argument);
    if (!seconds || *seconds < 0 || *seconds > 24 * 3600) {
        m_parts.Log("脚本错误: 无效的暂停秒数: " + c.argument, lcError);
        return ScriptWait::None;
    }
    m_parts.status->Show(QStringLiteral("脚本暂停%1秒").arg(*seconds));
    ScriptTimer->start(*seconds * 1000);
    return ScriptWait::Own;  // the timer goes on
}

TScriptHost::ScriptWait TScriptHost::scriptDial(const TScriptCommand& c)
{
    delete m_parts.dialer;
    TTapi* dialer = m_parts.dialer = new TTapi(RasBackend(), m_parts.window);
    if (!dialer->Available() || !dialer->LoadEntry(c.argument)) {
        m_parts.Log("无法拨号 " + c.argument, lcError);
        stepFailed();
        return ScriptWait::None;
    }
    dialer->OnConnected = [this](TTapi*) {
        if (m_script.ScriptRunning)
            continueSoon();
    };
    dialer->OnGiveUp = [this](TTapi* t) {
        m_parts.Log("拨号失败: " + t->EntryName, lcError);
        if (m_script.ScriptRunning) {
            stepFailed();  // what follows needs the line
            continueSoon();
        }
    };
    dialer->Dial();
    return ScriptWait::Own;
}

TScriptHost::ScriptWait TScriptHost::scriptRun(const TScriptCommand& c)
{
    QStringList parts = QProcess::splitCommand(QString::fromStdString(c.argument));
    if (parts.isEmpty() || !m_parts.files->Launch(parts.takeFirst(), parts)) {
        m_parts.Log("无法运行: " + c.argument, lcError);
        stepFailed();
    }
    return ScriptWait::None;
}

// ---------------------------------------------------------------- keyword command line

// What the keywords of a command line gathered before anything connects.
struct TScriptHost::KeywordLogin {
    QString host, siteQueue, malformed;
    std::optional<std::string> user, pass;
    std::optional<QString> port;
    bool missingQueue = false;
};

void TScriptHost::takeKeyword(const QString& key, const QString& value, KeywordLogin& login)
{
    if (key == QStringLiteral("HOST")) {
        login.host = value;
    } else if (key == QStringLiteral("USER")) {
        login.user = value.toStdString();
    } else if (key == QStringLiteral("PASS")) {
        login.pass = value.toStdString();
    } else if (key == QStringLiteral("PORT")) {
        login.port = value;
    } else if (key == QStringLiteral("QUEUE")) {
        if (!QFileInfo(value).isFile()) {
            m_parts.Log("无法载入队列文件: " + value.toStdString(), lcError);
            login.missingQueue = true;
        } else if (ClassifyCommandLine({value}) == TCommandLineKind::SiteQueueFile) {
            login.siteQueue = value;
        } else {
            m_parts.queuePanel->LoadQueueFile(value.toStdString());
        }
    } else if (key == QStringLiteral("SCRIPT")) {
        RunStartScript(value);
    } else if (key == QStringLiteral("DDE")) {
        mnuDDEClientClick();
    } else if (key == QStringLiteral("GET")) {
        m_parts.queue->Append(KeywordGetEntry(value.toStdString(), EnsureTrailingSeparator(m_parts.settings->Path)));
    } else if (key == QStringLiteral("PUT")) {
        m_parts.queue->Append(KeywordPutEntry(value.toStdString()));
    } else if (key == QStringLiteral("QUIT")) {
        m_parts.queuePanel->SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
        m_unattended = true;
        beginUnattended();
    } else if (key == QStringLiteral("LOCALDIR")) {
        m_parts.local->SetDirectory(value);
    } else if (key == QStringLiteral("REMOTEDIR")) {
        m_parts.ftp->InitialDirectory = EnsureTrailingSeparator(value.toStdString());
    }
}

void TScriptHost::KeywordCommandLine(const QStringList& arguments)
{
    m_parts.workflow->AfterLogin = AfterLoginAction::CommandLineQueue;
    KeywordLogin login;
    for (const QString& argument : arguments) {
        const qsizetype eq = argument.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = argument.left(eq).toUpper();
        const QString value = argument.mid(eq + 1);
        // A CR or LF would end a command to the server early, or smuggle in
        // another: such a value is a broken command line, not a name.
        if (std::any_of(value.begin(), value.end(), [](QChar c) { return c.unicode() < 32 || c.unicode() == 127; })) {
            m_parts.Log("命令行参数含有控制字符: " + key.toStdString() + "=", lcError);
            login.malformed = key;
            continue;
        }
        takeKeyword(key, value, login);
    }
    m_parts.queuePanel->View()->FitColumns();
    if (login.missingQueue)
        unattendedFailed();  // QUIT=YES may come after QUEUE=
    const bool noHost = login.host.isEmpty() && login.siteQueue.isEmpty();
    if (m_unattended && (!login.malformed.isEmpty() || noHost)) {
        // Nothing of a broken command line runs; without a host the run
        // cannot succeed.
        if (login.malformed.isEmpty())
            m_parts.Log("命令行没有 HOST", lcError);
        m_exitStatus = 2;
        QTimer::singleShot(0, this, [this] { m_window.Close(false); });
        return;
    }
    if (!login.siteQueue.isEmpty()) {
        m_parts.queuePanel->LoadSiteQueueFile(login.siteQueue.toStdString());
        return;
    }
    if (login.host.isEmpty())
        return;
    // A password on the command line is in every user's process list: it
    // may come from the environment or ~/.netrc instead.
    std::string refusal;
    CompleteLogin(login.host.toStdString(), login.user, login.pass, &refusal);
    if (!refusal.empty())
        m_parts.Log(refusal, lcError);
    m_parts.quick->Fill(login.host, login.user, login.pass, login.port);
    m_parts.workflow->ConnectionDirty = true;
    QTimer::singleShot(0, this, [this] {
        // What was queued starts after the first listing.
        m_parts.workflow->AfterLogin = m_parts.queue->Empty() ? AfterLoginAction::None : AfterLoginAction::StartQueue;
        m_parts.quick->Connect(true);
    });
}

// ---------------------------------------------------------------- the automation link

void TScriptHost::startDdeServer()
{
    DDEServer = new TDdeServer(QDBusConnection::sessionBus(), this);
    DDEClient = new TDdeClient(QDBusConnection::sessionBus(), this);
    DDEServer->OnPoke = [this](const QString& item, const QString& data) {
        if (item.compare(QStringLiteral("cmd"), Qt::CaseInsensitive) == 0)
            cmdPokeData(data.toStdString());
    };
    DDEClient->OnOpen = [this] { ddeClientOpened(); };
    // The partner hears every folder the panes list, and their rows.
    connect(m_parts.local, &TLocalPane::Listed, this, [this](bool rowsWanted) {
        sendDdeStatus("目录: " + m_parts.local->Directory().toStdString());
        if (rowsWanted)
            sendListingToDde(m_parts.local->View(), "结束本地目录");
    });
    connect(m_parts.remote, &TRemotePane::Listed, this, [this] { sendListingToDde(m_parts.remote->View(), "结束远程目录"); });
    DDEClient->OnClose = [this] { ddeClientClosed(); };
    // The service is the executable's name without its extension.
    const QString service =
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().section(QLatin1Char('.'), 0, 0);
    QString error;
    if (!DDEServer->Start(service, QStringLiteral("link"), error))
        m_parts.Log("DDE 服务器关闭: " + error.toStdString(), lcLocalOnly);
}

void TScriptHost::End()
{
    ScriptTimer->stop();
    m_script.Stop();
    DDEClient->Close();
}

void TScriptHost::cmdPokeData(const std::string& text)
{
    // A line from outside: shown and answered at a bounded length.
    const std::string shown = text.size() > 200 ? text.substr(0, 200) + "..." : text;
    if (m_parts.settings->DDEShow)
        m_parts.Log("DDE> " + shown, lcLocalOnly);
    const TCompiledLine c = compileLine(text, -1);
    if (c.error != TScriptError::None) {
        m_parts.Log("DDE 命令无效: " + ScriptErrorText(c.error), lcLocalOnly);
        sendDdeStatus("Corvyne: 未知命令 \"" + shown + "\"");
        return;
    }
    ExecuteScriptCommand(c.text);
}

void TScriptHost::sendDdeStatus(const std::string& text)
{
    if (DDEClient && DDEClient->IsOpen())
        DDEClient->Poke(QString::fromStdString(m_parts.settings->DDECommand + " " + text));
}

void TScriptHost::ForwardLogLine(const std::string& text, int colour)
{
    // Not continuation lines of a reply ("230-..."), nor the program's own.
    if (colour == lcLocalOnly || (text.size() >= 4 && text[3] == '-') || (m_parts.settings->DDEFilter && colour == lcCommand))
        return;
    sendDdeStatus(text);
}

void TScriptHost::sendListingToDde(TCorvListView* pane, const char* end)
{
    if (!DDEClient || !DDEClient->IsOpen())
        return;
    // A file as its name and size, anything else (folders, links) in brackets.
    for (int r = 0; r < pane->RowCount(); ++r) {
        const std::string name = pane->Text(r, 0).toStdString();
        sendDdeStatus(pane->Kind(r) == rkFile ? name + " (" + pane->Text(r, 1).toStdString() + ")" : "[" + name + "]");
    }
    sendDdeStatus(end);
}

bool TScriptHost::openDdeClient()
{
    DDEClient->Service = QString::fromStdString(m_parts.settings->DDEService);
    DDEClient->Topic = QString::fromStdString(m_parts.settings->DDETopic);
    const bool open = DDEClient->Open();
    if (mnuDDEClient)
        mnuDDEClient->setChecked(open);
    return open;
}

void TScriptHost::mnuDDEClientClick()
{
    if (DDEClient->IsOpen()) {
        DDEClient->Close();
        return;
    }
    if (!openDdeClient()) {
        m_parts.Log("错误: DDE 链接失败.", lcNormal);
        return;
    }
    std::string command = m_parts.settings->DDECommand;
    if (m_parts.settings->DDEPrompt && m_parts.Prompt().AskText("DDE 命令", "输入 DDE 命令", command))
        m_parts.settings->DDECommand = command;  // for this run only
}

void TScriptHost::ddeClientOpened()
{
    if (mnuDDEClient)
        mnuDDEClient->setChecked(true);
    sendDdeStatus(std::string(TConnectionWorkflow::ProgramTitle) + " DDE 链接打开.");
    m_parts.Log("DDE 链接打开.", lcLocalOnly);
}

void TScriptHost::ddeClientClosed()
{
    sendDdeStatus(std::string(TConnectionWorkflow::ProgramTitle) + " DDE 链接关闭.");
    m_parts.Log("DDE 链接关闭.", lcLocalOnly);
    if (mnuDDEClient)
        mnuDDEClient->setChecked(false);
}
