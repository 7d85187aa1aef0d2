// The main window without a user: the keyword command line, script files,
// the command box, and compiled commands run one after another, each
// waiting for the operation it started; and the automation link (the
// server other programs poke lines to, the client link status lines go to).
#include "app/DataDirectory.h"
#include "app/FileType.h"
#include "app/Main.h"
#include "desktop/DdeLink.h"
#include "dialup/TTapiComponent.h"
#include "panes/PaneLogic.h"
#include "session/FileOps.h"
#include "sites/Netrc.h"
#include "transfer/QueueFile.h"
#include "widgets/QueueView.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <map>

namespace {
constexpr qint64 MaxScriptFile = 16 * 1024 * 1024;

// While a script or an unattended command line runs no dialog opens:
// a question gets the answer the command itself implies (yes), a message
// goes to the log, and anything that needs a person is declined.
class TScriptPrompt : public IPrompt {
public:
    explicit TScriptPrompt(TfrmMain& w) : m_w(w) {}
    void ShowMessage(MessageKind kind, const std::string& text) override
    {
        m_w.LogLine(text, kind == MessageKind::Information ? lcNormal : lcError);
    }
    bool Confirm(const std::string& text) override
    {
        m_w.LogLine(text + " 是", lcNormal);
        return true;
    }

private:
    TfrmMain& m_w;
};

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

// ---------------------------------------------------------------- menus

void TfrmMain::buildScriptMenu(QMenu* menu)
{
    mnuRunScript = menu->addAction(QStringLiteral("运行脚本(&S)"), this, [this] { mnuRunScriptClick(); });
    mnuRunScript->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    menu->addAction(QStringLiteral("浏览脚本(&R)"), this, [this] { mnuScriptShortcutClick(); });
    menu->addAction(QStringLiteral("脚本命令(&C)"), this, [this] { mnuScriptCommandClick(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("运行程序(&P)"), this, [this] { mnuRunProgramClick(); });
    menu->addAction(QStringLiteral("打开网址(&O)"), this, [this] { mnuRunURLClick(); });
    ScriptTimer = new QTimer(this);
    ScriptTimer->setSingleShot(true);
    connect(ScriptTimer, &QTimer::timeout, this, [this] { ScriptTimerTimer(); });
    m_scriptPrompt = std::make_unique<TScriptPrompt>(*this);
    startDdeServer();
}

void TfrmMain::mnuRunScriptClick()
{
    if (m_script.ScriptRunning) {
        ScriptTimer->stop();
        m_script.Stop();
        scriptEnded();
        return;
    }
    std::string path;
    int filter = 0;
    if (m_prompt->AskOpenFile("运行脚本", {"脚本文件 (*.txt)"}, path, filter) && !path.empty())
        RunScriptFile(QString::fromStdString(path), true);
}

void TfrmMain::mnuScriptShortcutClick()
{
    std::string path;
    int filter = 0;
    if (!m_prompt->AskOpenFile("浏览脚本", {"脚本文件 (*.txt)"}, path, filter) || path.empty())
        return;
    const QString script = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    QString made;
    std::string error;
    if (!CreateSiteLauncher(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                            QFileInfo(script).fileName(), QCoreApplication::applicationFilePath(), made, error,
                            QStringList{QLatin1Char('+') + script} + DataDirectoryArguments(m_dataDir)))
        m_prompt->ShowMessage(MessageKind::Error, error);
    else
        m_prompt->ShowMessage(MessageKind::Information, "一个快捷方式已被创建在桌面.");
}

void TfrmMain::mnuScriptCommandClick()
{
    std::string text;
    if (!m_prompt->AskText("脚本命令", "执行的命令", text) || text.empty())
        return;
    const TCompiledLine c = compileScriptLine(text, -1);
    if (c.error != TScriptError::None) {
        LogLine("无效命令: \"" + text + "\"", lcNormal);
        return;
    }
    ExecuteScriptCommand(c.text);
}

void TfrmMain::mnuRunProgramClick()
{
    std::string path;
    int filter = 0;
    if (m_prompt->AskOpenFile("运行程序", {"可执行文件 (*)"}, path, filter) && !path.empty() &&
        !launch(QString::fromStdString(path), {}))
        m_prompt->ShowMessage(MessageKind::Error, "无法启动 " + path);
}

void TfrmMain::mnuRunURLClick()
{
    std::string address = "http://";
    if (m_prompt->AskText("打开网址", "要打开网址", address) && !address.empty() && address != "http://")
        openUrl(QUrl::fromUserInput(QString::fromStdString(address)));
}

bool TfrmMain::openUrl(const QUrl& url)
{
    return OpenUrl ? OpenUrl(url) : QDesktopServices::openUrl(url);
}

// ---------------------------------------------------------------- scripts

bool TfrmMain::RunScriptFile(const QString& path, bool startNow)
{
    // A relative name: from the current folder first, then the program's.
    QString file = path;
    if (QFileInfo(path).isRelative() && !QFileInfo::exists(path))
        file = QCoreApplication::applicationDirPath() + QLatin1Char('/') + path;
    if (!QFileInfo::exists(file)) {
        LogLine("错误: 不能打开脚本文件", lcNormal);
        unattendedFailed();
        return false;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxScriptFile) {
        m_script.Stop();
        m_prompt->ShowMessage(MessageKind::Error, "打开脚本文件错误.");
        unattendedFailed();
        return false;
    }
    const QByteArray text = f.readAll();
    const TScriptRunner::LoadResult r =
        m_script.Load(std::string_view(text.constData(), text.size()), QDate::currentDate());
    if (r.errorLine > 0) {
        ReportScriptError(r.errorLine, r.error);
        unattendedFailed();
        return false;
    }
    if (!m_script.ScriptRunning)
        return false;
    scriptStarted();
    if (startNow)
        RunNextScriptCommand();
    return true;
}

TCompiledLine TfrmMain::compileScriptLine(const std::string& line, int lineNumber)
{
    const TCompiledLine c =
        CompileScriptLine(QString::fromStdString(line).trimmed().toStdString(), QDate::currentDate());
    if (c.error != TScriptError::None)
        ReportScriptError(lineNumber, c.error);
    return c;
}

void TfrmMain::ReportScriptError(int lineNumber, TScriptError kind)
{
    if (lineNumber > 0) {
        const std::string text = "错误在脚本文件 (行" + std::to_string(lineNumber) + "). " + ScriptErrorText(kind);
        m_script.Stop();
        // A script started without a person (a "+" start) cannot wait for a box.
        if (m_quitWhenDone)
            LogLine(text, lcError);
        else
            m_prompt->ShowMessage(MessageKind::Error, text);
    }
    SendDdeStatus("Corvyne: 错误在 DDE 命令");
}

void TfrmMain::scriptStarted()
{
    if (!m_scriptErrorsChained) {
        // A data connection that fails while a script runs ends the script
        // (the workflow logs the error).
        m_scriptErrorsChained = true;
        FTP.OnFtpError = [this, before = FTP.OnFtpError](TFTPclient* c, ::FtpError kind, const std::string& text) {
            if (before)
                before(c, kind, text);
            if (kind == feScriptDataConnection && m_script.ScriptRunning) {
                m_script.ScriptCommands.clear();
                m_script.LoopIndex = 0;
                unattendedFailed();
                RunNextScriptCommand();
            }
        };
    }
    mnuRunScript->setText(QStringLiteral("停止脚本(&S)"));
    m_queueRun->ScriptRunning = true;
    m_scriptGoesOn = false;
    m_scriptStep = {};
    beginUnattended();
}

void TfrmMain::scriptEnded()
{
    m_scriptWaits = false;
    mnuRunScript->setText(QStringLiteral("运行脚本(&S)"));
    m_queueRun->ScriptRunning = false;
    m_status->Show(QStringLiteral("完成脚本"));
    m_remote->View()->ClearSelection();
    if (!m_unattended)
        endUnattended();
    // A script the command line started ends the program when it ends, with
    // its status (EXIT is not needed).
    if (m_quitWhenDone)
        QTimer::singleShot(0, this, [this] { CloseWithoutQuestions(); });
}

void TfrmMain::beginUnattended()
{
    m_queueRun->NoUser = true;
    if (m_prompt == m_scriptPrompt.get())
        return;
    m_promptBeforeScript = m_prompt;
    SetPrompt(m_scriptPrompt.get());
}

void TfrmMain::endUnattended()
{
    m_queueRun->NoUser = false;
    if (m_prompt == m_scriptPrompt.get() && m_promptBeforeScript)
        SetPrompt(m_promptBeforeScript);
}

void TfrmMain::unattendedFailed()
{
    if (m_unattended || m_quitWhenDone)
        m_exitStatus = 1;
}

int TfrmMain::ExitStatus() const
{
    if (m_exitStatus != 0)
        return m_exitStatus;
    // An unattended run succeeded when nothing failed and (QUIT=YES) nothing
    // is left; a "+" script when nothing failed.
    if ((m_unattended || m_quitWhenDone) && m_queueRun->Failures > 0)
        return 1;
    return (m_unattended || m_quitWhenDone) && !m_transferQueue.Empty() ? 1 : 0;
}

bool TfrmMain::scriptStepEnded()
{
    const std::optional<std::string> failure =
        m_scriptStep.End(FTP.CommandRefusals(), m_queueRun->Failures, FTP.LastRefusal());
    if (!failure)
        return true;
    // A failed command never lets the script go on as if it had worked (the
    // next line may act on the wrong folder): the script stops there unless
    // it said ONERROR:CONTINUE, and the run's status says it failed.
    LogLine(*failure, lcError);
    unattendedFailed();
    if (m_scriptGoesOn)
        return true;
    LogLine("脚本结束.", lcError);
    m_script.Stop();
    scriptEnded();
    return false;
}

void TfrmMain::RunNextScriptCommand()
{
    m_scriptWaits = false;
    if (m_script.ScriptRunning && m_scriptStep.Active() && !scriptStepEnded())
        return;
    const TScriptRunner::Next next = m_script.TakeNext();
    if (next.kind == TScriptRunner::NextKind::LoopNotClosed) {
        LogLine("脚本错误: LOOP 没有 ENDLOOP, 脚本结束.", lcError);
        m_script.Stop();
        unattendedFailed();
    }
    if (next.kind != TScriptRunner::NextKind::Command) {
        m_script.ScriptRunning = false;
        scriptEnded();
        return;
    }
    ExecuteScriptCommand(next.command);
}

void TfrmMain::continueScriptSoon()
{
    if (m_scriptContinuing)
        return;
    m_scriptContinuing = true;
    // Through the event loop: an endless loop of commands that go on at once
    // never blocks the window, and a command is never run inside the handler
    // of the one before.
    QTimer::singleShot(0, this, [this] {
        m_scriptContinuing = false;
        if (!m_script.ScriptRunning)
            return;
        if (!settled(m_workflow->State()) && m_scriptWaitsForState) {
            m_scriptWaits = true;  // something began meanwhile (a listing after a delete)
            return;
        }
        RunNextScriptCommand();
    });
}

void TfrmMain::scriptStateChanged(SessionState previous)
{
    const SessionState now = m_workflow->State();
    // A connection that never came: an unattended run ends here.
    if (now == SessionState::Disconnected &&
        (previous == SessionState::Connecting || previous == SessionState::Connected)) {
        if (m_unattended || (m_quitWhenDone && m_script.ScriptRunning)) {
            m_exitStatus = 1;
            m_script.Stop();
            QTimer::singleShot(0, this, [this] { CloseWithoutQuestions(); });
            return;
        }
    }
    if (m_scriptWaits && settled(now))
        continueScriptSoon();
    // QUIT=YES with nothing (left) to transfer: the work is done.
    if (m_unattended && now == SessionState::Idle && m_transferQueue.Empty() && !m_script.ScriptRunning && isVisible())
        QTimer::singleShot(0, this, [this] { CloseWithoutQuestions(); });
}

void TfrmMain::ScriptTimerTimer()
{
    ScriptTimer->stop();
    if (m_script.ScriptRunning)
        RunNextScriptCommand();
}

TfrmMain::ScriptWait TfrmMain::scriptTransfer(const TScriptCommand& c)
{
    const bool download = c.code == TScriptCode::Get;
    TFilePane& part = download ? static_cast<TFilePane&>(*m_remote) : *m_local;
    TCorvListView* pane = part.View();
    SetActivePart(part);
    if (m_workflow->State() != SessionState::Idle) {
        LogLine("不能传输: 没有空闲的连接", lcError);
        unattendedFailed();
        return ScriptWait::None;
    }
    if (c.argument.find('*') != std::string::npos) {
        if (!part.SelectMatching(c.argument)) {
            LogLine("没有找到文件匹配: " + c.argument, lcNormal);
            return ScriptWait::None;
        }
        m_queueRun->StartQueue();
        m_queueRun->DeleteAfterUpload = c.code == TScriptCode::PutDel;
        AddSelectionToQueue(pane);
    } else {
        std::string name, other;
        splitPair(c.argument, name, other);
        const std::string remote = EnsureTrailingSeparator(m_queueHost->RemoteDirectory());
        const std::string local = m_local->Directory().toStdString();
        const std::string target = other.empty() ? name : other;
        TQueueEntry e;
        if (download) {
            e = {TEntryKind::DownloadFile, remote + name, -1, local + target};
        } else {
            const QFileInfo f(QString::fromStdString(local + name));
            e = {TEntryKind::UploadFile, local + name, f.exists() ? f.size() : -1, remote + target};
        }
        m_queueRun->StartQueue();
        m_queueRun->DeleteAfterUpload = c.code == TScriptCode::PutDel;
        m_transferQueue.Append(e);
    }
    Queue->FitColumns();
    m_queueRun->ProcessQueueHead();
    return ScriptWait::State;
}

TfrmMain::ScriptWait TfrmMain::localStepDone(bool ok, const std::string& failure)
{
    if (!ok) {
        LogLine(failure, lcError);
        scriptStepFailed();
    }
    m_local->List();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::started(bool began)
{
    // A remote command that could not even start (no connection, the session
    // busy) failed.
    if (!began) {
        LogLine("不能执行: 没有空闲的连接", lcError);
        scriptStepFailed();
    }
    return began ? ScriptWait::State : ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptDel(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_local) : *m_remote;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local && a.find('*') == std::string::npos) {
        LogLine("删除文件: " + a, lcNormal);
        return localStepDone(QFile::remove(m_local->Directory() + arg), "无法删除: " + a);
    }
    if (!part.SelectMatching(a)) {
        // A mask that matches nothing deletes nothing; a name that is
        // not there is a delete that failed.
        if (a.find('*') == std::string::npos) {
            LogLine("无法删除: 没有这个文件: " + a, lcError);
            scriptStepFailed();
        }
        return ScriptWait::None;
    }
    SetActivePart(part);
    popDeleteClick();
    return ScriptWait::State;
}

TfrmMain::ScriptWait TfrmMain::scriptRename(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    std::string from, to;
    splitPair(a, from, to);
    if (from.empty() || to.empty()) {
        LogLine("无法重命名: " + a, lcError);
        scriptStepFailed();
        return ScriptWait::None;
    }
    if (!local) {
        // The server would replace a file of the new name: a script
        // never does that unasked.
        if (m_remote->View()->RowNamed(QString::fromStdString(to)) >= 0) {
            LogLine("无法重命名: \"" + to + "\" 已存在", lcError);
            scriptStepFailed();
            return ScriptWait::None;
        }
        return started(m_fileOps->Rename(from, to));
    }
    const bool renamed = !QFileInfo::exists(m_local->Directory() + QString::fromStdString(to)) &&
                         QDir(m_local->Directory()).rename(QString::fromStdString(from), QString::fromStdString(to));
    return localStepDone(renamed, "无法重命名: " + from);
}

TfrmMain::ScriptWait TfrmMain::scriptQueueSelection(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_local) : *m_remote;
    if (part.SelectMatching(c.argument))
        AddSelectionToQueue(part.View());
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptCd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local) {
        const QString dir = QDir::isAbsolutePath(arg) ? arg : m_local->Directory() + arg;
        if (!QFileInfo(dir).isDir()) {
            LogLine("无法进入目录: " + a, lcError);
            scriptStepFailed();
            return ScriptWait::None;
        }
        m_local->SetDirectory(dir);
        return ScriptWait::None;
    }
    return started(m_workflow->ChangeRemoteDirectory(a));
}

TfrmMain::ScriptWait TfrmMain::scriptMd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local)
        return localStepDone(QDir(m_local->Directory()).mkpath(arg), "无法创建目录: " + a);
    return started(m_fileOps->MakeDirectory(a));
}

TfrmMain::ScriptWait TfrmMain::scriptRd(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    const std::string& a = c.argument;
    const QString arg = QString::fromStdString(c.argument);
    if (local)
        return localStepDone(QDir(m_local->Directory()).rmdir(arg), "无法删除目录: " + a);
    return started(m_fileOps->RawCommand("RMD " + a));
}

TfrmMain::ScriptWait TfrmMain::scriptDir(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    if (local) {
        m_local->List();
        return ScriptWait::None;
    }
    if (m_workflow->State() == SessionState::Idle && m_workflow->UserRefresh())
        return ScriptWait::State;
    SendDdeStatus("Corvyne: 不能获取远程目录.");
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptPath(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    SendDdeStatus(local ? "本地路径: " + m_local->Directory().toStdString() : "远程路径: " + m_remote->Directory());
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptFilter(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_local) : *m_remote;
    part.SetFilter(QString::fromStdString(c.argument));  // from the pane's next listing
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptIfExist(const TScriptCommand& c)
{
    const bool local = c.side == TScriptSide::Local;
    TFilePane& part = local ? static_cast<TFilePane&>(*m_local) : *m_remote;
    if (!part.MatchingRows(c.argument).empty())
        part.View()->ClearSelection();
    else
        m_script.SkipToEndIf();
    return ScriptWait::None;
}

// One handler per command; each says whether the script waits for the
// session to settle, goes on at once, or goes on by itself (a delay, a dial,
// a script file) or has ended.
const TfrmMain::ScriptHandler* TfrmMain::scriptHandler(TScriptCode code)
{
    using C = TScriptCode;
    static const std::map<TScriptCode, ScriptHandler> table = {
        {C::OnError, &TfrmMain::scriptOnError},
        {C::Connect, &TfrmMain::scriptConnect},
        {C::Disconnect, &TfrmMain::scriptDisconnect},
        {C::Abort, &TfrmMain::scriptAbort},
        {C::Hide, &TfrmMain::scriptHide},
        {C::Unhide, &TfrmMain::scriptUnhide},
        {C::Status, &TfrmMain::scriptStatus},
        {C::HangUp, &TfrmMain::scriptHangUp},
        {C::Script, &TfrmMain::scriptScript},
        {C::Exit, &TfrmMain::scriptExit},
        {C::Ascii, &TfrmMain::scriptMode},
        {C::Binary, &TfrmMain::scriptMode},
        {C::Auto, &TfrmMain::scriptMode},
        {C::Transfer, &TfrmMain::scriptQueueTransfer},
        {C::Get, &TfrmMain::scriptTransfer},
        {C::Put, &TfrmMain::scriptTransfer},
        {C::PutDel, &TfrmMain::scriptTransfer},
        {C::Chmod, &TfrmMain::scriptChmod},
        {C::Raw, &TfrmMain::scriptRaw},
        {C::DdeLink, &TfrmMain::scriptDdeLink},
        {C::DdeOpen, &TfrmMain::scriptDdeOpen},
        {C::DdeClose, &TfrmMain::scriptDdeClose},
        {C::LoadQueue, &TfrmMain::scriptLoadQueue},
        {C::SaveQueue, &TfrmMain::scriptSaveQueue},
        {C::ClearQueue, &TfrmMain::scriptClearQueue},
        {C::Loop, &TfrmMain::scriptLoop},
        {C::EndLoop, &TfrmMain::scriptEndLoop},
        {C::Delay, &TfrmMain::scriptDelay},
        {C::Dial, &TfrmMain::scriptDial},
        {C::Run, &TfrmMain::scriptRun},
        {C::IfExist, &TfrmMain::scriptIfExist},
        {C::Del, &TfrmMain::scriptDel},
        {C::Rename, &TfrmMain::scriptRename},
        {C::Queue, &TfrmMain::scriptQueueSelection},
        {C::Cd, &TfrmMain::scriptCd},
        {C::Md, &TfrmMain::scriptMd},
        {C::Rd, &TfrmMain::scriptRd},
        {C::Dir, &TfrmMain::scriptDir},
        {C::Path, &TfrmMain::scriptPath},
        {C::Filter, &TfrmMain::scriptFilter},
        {C::EndIf, &TfrmMain::scriptNothing},
    };
    const auto it = table.find(code);
    return it == table.end() ? nullptr : &it->second;
}

void TfrmMain::ExecuteScriptCommand(const std::string& compiled)
{
    const std::optional<TScriptCommand> decoded = DecodeScriptCommand(compiled);
    const ScriptHandler* handler = decoded ? scriptHandler(decoded->code) : nullptr;
    if (!handler)
        return;
    if (m_script.ScriptRunning)
        m_scriptStep.Begin(*decoded, FTP.CommandRefusals(), m_queueRun->Failures);
    const ScriptWait wait = (this->*(*handler))(*decoded);
    if (wait == ScriptWait::Own)
        return;
    if (!m_script.ScriptRunning) {
        if (m_script.ScriptCommands.empty() && mnuRunScript->text() != QStringLiteral("运行脚本(&S)"))
            scriptEnded();  // a command above ended the script
        return;
    }
    // A command that began nothing to wait for (already idle, or refused)
    // goes on at once.
    m_scriptWaitsForState = wait == ScriptWait::State;
    if (wait == ScriptWait::State && !settled(m_workflow->State()))
        m_scriptWaits = true;
    else
        continueScriptSoon();
}

TfrmMain::ScriptWait TfrmMain::scriptNothing(const TScriptCommand&)
{
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptOnError(const TScriptCommand& c)
{
    const QString how = QString::fromStdString(c.argument).trimmed().toUpper();
    if (how == QStringLiteral("CONTINUE") || how == QStringLiteral("STOP"))
        m_scriptGoesOn = how == QStringLiteral("CONTINUE");
    else
        scriptStepFailed();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptConnect(const TScriptCommand& c)
{
    m_workflow->ConnectionDirty = true;
    txtFTPServer->setEditText(QString::fromStdString(c.argument));
    btnConnectClick(true);
    return ScriptWait::State;
}

TfrmMain::ScriptWait TfrmMain::scriptDisconnect(const TScriptCommand&)
{
    btnDisconnectClick();
    return ScriptWait::State;
}

TfrmMain::ScriptWait TfrmMain::scriptAbort(const TScriptCommand&)
{
    const bool stopsScript =
        m_script.ScriptRunning && static_cast<int>(m_workflow->State()) > static_cast<int>(SessionState::Connected);
    btnAbortClick(false);
    if (!stopsScript)
        return ScriptWait::None;
    m_script.Stop();
    scriptEnded();
    return ScriptWait::Own;
}

TfrmMain::ScriptWait TfrmMain::scriptHide(const TScriptCommand&)
{
    mnuHideClick();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptUnhide(const TScriptCommand&)
{
    tryRestoreClick();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptStatus(const TScriptCommand&)
{
    if (const char* text = stateText(m_workflow->State()))
        SendDdeStatus(text);
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptHangUp(const TScriptCommand&)
{
    if (m_dialer)
        m_dialer->HangUp();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptScript(const TScriptCommand& c)
{
    if (m_script.ScriptRunning)
        return ScriptWait::None;  // inside a script: nothing, and on at once
    RunScriptFile(QString::fromStdString(c.argument), true);
    return ScriptWait::Own;  // the script goes on by itself
}

TfrmMain::ScriptWait TfrmMain::scriptExit(const TScriptCommand&)
{
    m_script.Stop();
    QTimer::singleShot(0, this, [this] { close(); });
    return ScriptWait::Own;
}

TfrmMain::ScriptWait TfrmMain::scriptMode(const TScriptCommand& c)
{
    const int mode = static_cast<int>(c.code) - static_cast<int>(TScriptCode::Ascii);
    m_workflow->TransferModePanel = mode;
    m_status->ShowTransferMode(mode);
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptQueueTransfer(const TScriptCommand&)
{
    if (m_workflow->State() != SessionState::Idle || m_transferQueue.Empty())
        return ScriptWait::None;
    queTransferClick();
    return ScriptWait::State;
}

TfrmMain::ScriptWait TfrmMain::scriptChmod(const TScriptCommand& c)
{
    std::string mode, mask;
    splitPair(c.argument, mode, mask);
    std::vector<std::string> names;
    for (int r : m_remote->MatchingRows(mask))
        names.push_back(m_remote->View()->Text(r, 0).toStdString());
    return names.empty() ? ScriptWait::None : started(m_fileOps->Chmod(names, mode));
}

TfrmMain::ScriptWait TfrmMain::scriptRaw(const TScriptCommand& c)
{
    return started(m_fileOps->RawCommand(c.argument));
}

TfrmMain::ScriptWait TfrmMain::scriptDdeLink(const TScriptCommand& c)
{
    const std::string& a = c.argument;
    const size_t first = a.find(':');
    const size_t second = first == std::string::npos ? first : a.find(':', first + 1);
    DDEClient->Close();
    m_settings.DDEService = a.substr(0, first);
    m_settings.DDETopic = first == std::string::npos ? std::string() : a.substr(first + 1, second - first - 1);
    m_settings.DDECommand = second == std::string::npos ? std::string() : a.substr(second + 1);
    openDdeClient();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptDdeOpen(const TScriptCommand&)
{
    openDdeClient();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptDdeClose(const TScriptCommand&)
{
    DDEClient->Close();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptLoadQueue(const TScriptCommand& c)
{
    if (!QFileInfo(QString::fromStdString(c.argument)).isFile()) {
        LogLine("无法载入队列文件: " + c.argument, lcError);
        scriptStepFailed();
        return ScriptWait::None;
    }
    LoadQueueFile(c.argument);
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptSaveQueue(const TScriptCommand& c)
{
    std::string error;
    if (!SavePlainQueue(QueueFileSafePath(c.argument), error)) {
        LogLine(error, lcError);
        scriptStepFailed();
    }
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptClearQueue(const TScriptCommand&)
{
    m_transferQueue.Clear();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptLoop(const TScriptCommand& c)
{
    switch (m_script.BeginLoop(c.argument)) {
        case TScriptRunner::LoopStart::Started:
            return ScriptWait::None;
        case TScriptRunner::LoopStart::CountTooLarge:
            LogLine("脚本错误: 循环次数过大: " + c.argument, lcError);
            break;
        case TScriptRunner::LoopStart::Nested:
            LogLine("脚本错误: 循环不能嵌套, 脚本结束.", lcError);
            break;
    }
    m_script.Stop();
    unattendedFailed();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptEndLoop(const TScriptCommand&)
{
    m_script.EndLoop();
    return ScriptWait::None;
}

TfrmMain::ScriptWait TfrmMain::scriptDelay(const TScriptCommand& c)
{
    const std::optional<int> seconds = ParseIniInteger(c.argument);
    if (!seconds || *seconds < 0 || *seconds > 24 * 3600) {
        LogLine("脚本错误: 无效的暂停秒数: " + c.argument, lcError);
        return ScriptWait::None;
    }
    m_status->Show(QStringLiteral("脚本暂停%1秒").arg(*seconds));
    ScriptTimer->start(*seconds * 1000);
    return ScriptWait::Own;  // the timer goes on
}

TfrmMain::ScriptWait TfrmMain::scriptDial(const TScriptCommand& c)
{
    delete m_dialer;
    m_dialer = new TTapi(RasBackend(), this);
    if (!m_dialer->Available() || !m_dialer->LoadEntry(c.argument)) {
        LogLine("无法拨号 " + c.argument, lcError);
        scriptStepFailed();
        return ScriptWait::None;
    }
    m_dialer->OnConnected = [this](TTapi*) {
        if (m_script.ScriptRunning)
            continueScriptSoon();
    };
    m_dialer->OnGiveUp = [this](TTapi* t) {
        LogLine("拨号失败: " + t->EntryName, lcError);
        if (m_script.ScriptRunning) {
            scriptStepFailed();  // what follows needs the line
            continueScriptSoon();
        }
    };
    m_dialer->Dial();
    return ScriptWait::Own;
}

TfrmMain::ScriptWait TfrmMain::scriptRun(const TScriptCommand& c)
{
    QStringList parts = QProcess::splitCommand(QString::fromStdString(c.argument));
    if (parts.isEmpty() || !launch(parts.takeFirst(), parts)) {
        LogLine("无法运行: " + c.argument, lcError);
        scriptStepFailed();
    }
    return ScriptWait::None;
}

// ---------------------------------------------------------------- keyword command line

// What the keywords of a command line gathered before anything connects.
struct TfrmMain::KeywordLogin {
    QString host, siteQueue, malformed;
    std::optional<std::string> user, pass;
    std::optional<QString> port;
    bool missingQueue = false;
};

void TfrmMain::takeKeyword(const QString& key, const QString& value, KeywordLogin& login)
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
            LogLine("无法载入队列文件: " + value.toStdString(), lcError);
            login.missingQueue = true;
        } else if (ClassifyCommandLine({value}) == TCommandLineKind::SiteQueueFile) {
            login.siteQueue = value;
        } else {
            LoadQueueFile(value.toStdString());
        }
    } else if (key == QStringLiteral("SCRIPT")) {
        m_quitWhenDone = true;
        beginUnattended();
        if (!RunScriptFile(value, true))
            QTimer::singleShot(0, this, [this] { CloseWithoutQuestions(); });
    } else if (key == QStringLiteral("DDE")) {
        mnuDDEClientClick();
    } else if (key == QStringLiteral("GET")) {
        m_transferQueue.Append(KeywordGetEntry(value.toStdString(), EnsureTrailingSeparator(m_settings.Path)));
    } else if (key == QStringLiteral("PUT")) {
        m_transferQueue.Append(KeywordPutEntry(value.toStdString()));
    } else if (key == QStringLiteral("QUIT")) {
        SetCompletionAction(static_cast<int>(TCompletionAction::Quit));
        m_unattended = true;
        beginUnattended();
    } else if (key == QStringLiteral("LOCALDIR")) {
        m_local->SetDirectory(value);
    } else if (key == QStringLiteral("REMOTEDIR")) {
        FTP.InitialDirectory = EnsureTrailingSeparator(value.toStdString());
    }
}

void TfrmMain::KeywordCommandLine(const QStringList& arguments)
{
    m_workflow->AfterLogin = AfterLoginAction::CommandLineQueue;
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
            LogLine("命令行参数含有控制字符: " + key.toStdString() + "=", lcError);
            login.malformed = key;
            continue;
        }
        takeKeyword(key, value, login);
    }
    Queue->FitColumns();
    if (login.missingQueue)
        unattendedFailed();  // QUIT=YES may come after QUEUE=
    const bool noHost = login.host.isEmpty() && login.siteQueue.isEmpty();
    if (m_unattended && (!login.malformed.isEmpty() || noHost)) {
        // Nothing of a broken command line runs; without a host the run
        // cannot succeed.
        if (login.malformed.isEmpty())
            LogLine("命令行没有 HOST", lcError);
        m_exitStatus = 2;
        QTimer::singleShot(0, this, [this] { CloseWithoutQuestions(); });
        return;
    }
    if (!login.siteQueue.isEmpty()) {
        LoadSiteQueueFile(login.siteQueue.toStdString());
        return;
    }
    if (login.host.isEmpty())
        return;
    // A password on the command line is in every user's process list: it
    // may come from the environment or ~/.netrc instead.
    std::string refusal;
    CompleteLogin(login.host.toStdString(), login.user, login.pass, &refusal);
    if (!refusal.empty())
        LogLine(refusal, lcError);
    txtFTPServer->setEditText(login.host);  // empties the other fields
    if (login.user)
        txtUser->setText(QString::fromStdString(*login.user));
    if (login.pass)
        txtPass->setText(QString::fromStdString(*login.pass));
    if (login.port)
        txtPort->setText(*login.port);
    m_workflow->ConnectionDirty = true;
    QTimer::singleShot(0, this, [this] {
        // What was queued starts after the first listing.
        m_workflow->AfterLogin = m_transferQueue.Empty() ? AfterLoginAction::None : AfterLoginAction::StartQueue;
        btnConnectClick(true);
    });
}

// ---------------------------------------------------------------- the automation link

void TfrmMain::startDdeServer()
{
    DDEServer = new TDdeServer(QDBusConnection::sessionBus(), this);
    DDEClient = new TDdeClient(QDBusConnection::sessionBus(), this);
    DDEServer->OnPoke = [this](const QString& item, const QString& data) {
        if (item.compare(QStringLiteral("cmd"), Qt::CaseInsensitive) == 0)
            cmdPokeData(data.toStdString());
    };
    DDEClient->OnOpen = [this] { DDEClientOpen(); };
    // The partner hears every folder the panes list, and their rows.
    connect(m_local, &TLocalPane::Listed, this, [this](bool rowsWanted) {
        SendDdeStatus("目录: " + m_local->Directory().toStdString());
        if (rowsWanted)
            sendListingToDde(m_local->View(), "结束本地目录");
    });
    connect(m_remote, &TRemotePane::Listed, this, [this] { sendListingToDde(m_remote->View(), "结束远程目录"); });
    DDEClient->OnClose = [this] { DDEClientClose(); };
    // The service is the executable's name without its extension.
    const QString service =
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().section(QLatin1Char('.'), 0, 0);
    QString error;
    if (!DDEServer->Start(service, QStringLiteral("link"), error))
        LogLine("DDE 服务器关闭: " + error.toStdString(), lcLocalOnly);
}

void TfrmMain::endAutomation()
{
    ScriptTimer->stop();
    m_script.Stop();
    DDEClient->Close();
}

void TfrmMain::cmdPokeData(const std::string& text)
{
    // A line from outside: shown and answered at a bounded length.
    const std::string shown = text.size() > 200 ? text.substr(0, 200) + "..." : text;
    if (m_settings.DDEShow)
        LogLine("DDE> " + shown, lcLocalOnly);
    const TCompiledLine c = compileScriptLine(text, -1);
    if (c.error != TScriptError::None) {
        LogLine("DDE 命令无效: " + ScriptErrorText(c.error), lcLocalOnly);
        SendDdeStatus("Corvyne: 未知命令 \"" + shown + "\"");
        return;
    }
    ExecuteScriptCommand(c.text);
}

void TfrmMain::SendDdeStatus(const std::string& text)
{
    if (DDEClient && DDEClient->IsOpen())
        DDEClient->Poke(QString::fromStdString(m_settings.DDECommand + " " + text));
}

void TfrmMain::forwardLogLine(const std::string& text, int colour)
{
    // Not continuation lines of a reply ("230-..."), nor the program's own.
    if (colour == lcLocalOnly || (text.size() >= 4 && text[3] == '-') || (m_settings.DDEFilter && colour == lcCommand))
        return;
    SendDdeStatus(text);
}

void TfrmMain::sendListingToDde(TCorvListView* pane, const char* end)
{
    if (!DDEClient || !DDEClient->IsOpen())
        return;
    // A file as its name and size, anything else (folders, links) in brackets.
    for (int r = 0; r < pane->RowCount(); ++r) {
        const std::string name = pane->Text(r, 0).toStdString();
        SendDdeStatus(pane->Kind(r) == rkFile ? name + " (" + pane->Text(r, 1).toStdString() + ")" : "[" + name + "]");
    }
    SendDdeStatus(end);
}

bool TfrmMain::openDdeClient()
{
    DDEClient->Service = QString::fromStdString(m_settings.DDEService);
    DDEClient->Topic = QString::fromStdString(m_settings.DDETopic);
    const bool open = DDEClient->Open();
    if (mnuDDEClient)
        mnuDDEClient->setChecked(open);
    return open;
}

void TfrmMain::mnuDDEClientClick()
{
    if (DDEClient->IsOpen()) {
        DDEClient->Close();
        return;
    }
    if (!openDdeClient()) {
        LogLine("错误: DDE 链接失败.", lcNormal);
        return;
    }
    std::string command = m_settings.DDECommand;
    if (m_settings.DDEPrompt && m_prompt->AskText("DDE 命令", "输入 DDE 命令", command))
        m_settings.DDECommand = command;  // for this run only
}

void TfrmMain::DDEClientOpen()
{
    if (mnuDDEClient)
        mnuDDEClient->setChecked(true);
    SendDdeStatus(std::string(TConnectionWorkflow::ProgramTitle) + " DDE 链接打开.");
    LogLine("DDE 链接打开.", lcLocalOnly);
}

void TfrmMain::DDEClientClose()
{
    SendDdeStatus(std::string(TConnectionWorkflow::ProgramTitle) + " DDE 链接关闭.");
    LogLine("DDE 链接关闭.", lcLocalOnly);
    if (mnuDDEClient)
        mnuDDEClient->setChecked(false);
}
