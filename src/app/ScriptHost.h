#pragma once
// The window without a user: script files, the command box, the keyword
// command line, the prompt that answers while nobody is there, the exit
// status, and the automation link (the server other programs poke lines to,
// the client the status lines go to). Compiled commands run one after
// another from a keyword → handler table, each waiting for the operation it
// started.

#include "app/WindowParts.h"
#include "session/Connection.h"
#include "transfer/Script.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class QUrl;
class TCorvListView;
class TDdeClient;
class TDdeServer;
class TFilePane;

// What scripts ask of the frame: the active pane, the window's visibility
// and closing. The window answers it; the panes, the quick-connect bar, the
// queue and the file commands are reached as parts.
class IScriptWindow {
public:
    virtual ~IScriptWindow() = default;
    virtual void Activate(TFilePane& pane) = 0;
    virtual void Hide() = 0;
    virtual void Unhide() = 0;
    virtual void Close(bool questions) = 0;
};

class TScriptHost : public QObject {
    Q_OBJECT

public:
    TScriptHost(TWindowParts& parts, IScriptWindow& window, QObject* parent);
    ~TScriptHost() override;

    // The "脚本(&C)" menu's items, and the options menu's "DDE 客户端".
    void BuildMenu(QMenu* menu);
    void AddDdeClientItem(QMenu* options);

    TScriptRunner& Script() { return m_script; }
    // A relative path: from the current folder, then the program's folder.
    bool RunScriptFile(const QString& path, bool startNow);
    // "+script.txt" on the command line: no person is there, and a script
    // that cannot run ends the program at once.
    void RunStartScript(const QString& path);
    void KeywordCommandLine(const QStringList& arguments);
    void ExecuteScriptCommand(const std::string& compiled);
    void Stop();  // the running script, as the abort button does
    void End();   // at close: the script ends, the partner hears the link close

    // In a run without a user: entries whose local path is outside the local
    // folder are refused and fail the run; the lines to log are returned.
    std::vector<std::string> AdmitUnattended(std::vector<TQueueEntry>& entries);
    // What the process ends with: 0, or non-zero when an unattended run
    // (QUIT=YES, a "+" script) failed or could not connect.
    int ExitStatus() const;
    // Every log line goes to the link's partner too (not continuation lines).
    void ForwardLogLine(const std::string& text, int colour);

    void mnuRunScriptClick();
    void mnuScriptShortcutClick();
    void mnuScriptCommandClick();
    void mnuRunProgramClick();
    void mnuRunURLClick();
    void mnuDDEClientClick();
    void cmdPokeData(const std::string& text);
    TDdeServer* DdeServer() const { return DDEServer; }
    TDdeClient* DdeClient() const { return DDEClient; }
    QAction* RunScriptAction() const { return mnuRunScript; }

private:
    // On at once, when the session settles, or by the command itself (a
    // delay, a dial, a script file) or never (the script ended).
    enum class ScriptWait { None, State, Own };
    using ScriptHandler = ScriptWait (TScriptHost::*)(const TScriptCommand&);
    struct KeywordLogin;
    class TUnattendedPrompt;
    static const ScriptHandler* scriptHandler(TScriptCode code);

    void takeKeyword(const QString& key, const QString& value, KeywordLogin& login);
    void runNextCommand();
    void reportError(int lineNumber, TScriptError kind);  // lineNumber -1: the command box or a poke
    TCompiledLine compileLine(const std::string& line, int lineNumber);
    void started();
    void ended();
    void beginUnattended();
    void endUnattended();
    void unattendedFailed();
    void stepFailed() { m_step.Fail(); }
    bool stepEnded();  // after a command: false when it failed and the script stops there
    void continueSoon();
    void stateChanged(SessionState previous);
    void timerFired();
    ScriptWait started(bool began);
    // A local step: a failure logged and counted, the local pane listed again.
    ScriptWait localStepDone(bool ok, const std::string& failure);
    TFilePane& side(const TScriptCommand& c) const;

    ScriptWait scriptNothing(const TScriptCommand&);
    ScriptWait scriptOnError(const TScriptCommand& c);
    ScriptWait scriptConnect(const TScriptCommand& c);
    ScriptWait scriptDisconnect(const TScriptCommand&);
    ScriptWait scriptAbort(const TScriptCommand&);
    ScriptWait scriptHide(const TScriptCommand&);
    ScriptWait scriptUnhide(const TScriptCommand&);
    ScriptWait scriptStatus(const TScriptCommand&);
    ScriptWait scriptHangUp(const TScriptCommand&);
    ScriptWait scriptScript(const TScriptCommand& c);
    ScriptWait scriptExit(const TScriptCommand&);
    ScriptWait scriptMode(const TScriptCommand& c);
    ScriptWait scriptQueueTransfer(const TScriptCommand&);
    ScriptWait scriptChmod(const TScriptCommand& c);
    ScriptWait scriptRaw(const TScriptCommand& c);
    ScriptWait scriptDdeLink(const TScriptCommand& c);
    ScriptWait scriptDdeOpen(const TScriptCommand&);
    ScriptWait scriptDdeClose(const TScriptCommand&);
    ScriptWait scriptLoadQueue(const TScriptCommand& c);
    ScriptWait scriptSaveQueue(const TScriptCommand& c);
    ScriptWait scriptClearQueue(const TScriptCommand&);
    ScriptWait scriptLoop(const TScriptCommand& c);
    ScriptWait scriptEndLoop(const TScriptCommand&);
    ScriptWait scriptDelay(const TScriptCommand& c);
    ScriptWait scriptDial(const TScriptCommand& c);
    ScriptWait scriptRun(const TScriptCommand& c);
    ScriptWait scriptTransfer(const TScriptCommand& c);
    ScriptWait scriptDel(const TScriptCommand& c);
    ScriptWait scriptRename(const TScriptCommand& c);
    ScriptWait scriptQueueSelection(const TScriptCommand& c);
    ScriptWait scriptCd(const TScriptCommand& c);
    ScriptWait scriptMd(const TScriptCommand& c);
    ScriptWait scriptRd(const TScriptCommand& c);
    ScriptWait scriptDir(const TScriptCommand& c);
    ScriptWait scriptPath(const TScriptCommand& c);
    ScriptWait scriptFilter(const TScriptCommand& c);
    ScriptWait scriptIfExist(const TScriptCommand& c);

    void startDdeServer();
    bool openDdeClient();
    void ddeClientOpened();
    void ddeClientClosed();
    void sendDdeStatus(const std::string& text);
    void sendListingToDde(TCorvListView* pane, const char* end);

    TWindowParts& m_parts;
    IScriptWindow& m_window;
    TScriptRunner m_script;
    QTimer* ScriptTimer = nullptr;  // DELAY
    QAction* mnuRunScript = nullptr;  // "运行脚本(&S)", or "停止脚本(&S)" while one runs
    QAction* mnuDDEClient = nullptr;
    TDdeServer* DDEServer = nullptr;
    TDdeClient* DDEClient = nullptr;
    std::unique_ptr<IPrompt> m_unattendedPrompt;  // answers while no person is there
    IPrompt* m_promptBefore = nullptr;
    bool m_quitWhenDone = false;  // a "+" script or SCRIPT=: a connection that fails ends the program
    bool m_unattended = false;    // QUIT=YES: no person, and an exit status that tells
    int m_exitStatus = 0;
    bool m_waits = false;           // for the session to settle
    bool m_waitsForState = false;   // the last command waits for it
    bool m_continuing = false;      // the next command is on its way
    bool m_errorsChained = false;
    TScriptStep m_step;
    bool m_goesOn = false;  // ONERROR:CONTINUE
    SessionState m_lastState = SessionState::Starting;
};
