#pragma once
// The command language shared by script files, the command box and the
// automation link: a line is compiled into a short code text ("30 2 $ /pub"
// without the blanks: code, side, "$", argument) and later executed. This
// holds the keyword table, the compiler, the list of compiled commands with
// its loop and condition state, and the keyword command line's entries.

#include "transfer/TransferQueue.h"

#include <QDate>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TScriptCode : int {
    Connect = 1,
    Disconnect = 2,
    Abort = 3,
    Hide = 4,
    Unhide = 5,
    Status = 6,
    HangUp = 7,
    Script = 8,
    Exit = 9,
    Ascii = 10,
    Binary = 11,
    Auto = 12,
    Transfer = 20,
    Get = 21,
    Put = 22,
    Del = 23,
    Rename = 24,
    Chmod = 25,
    Queue = 26,
    Raw = 27,
    PutDel = 28,
    Cd = 30,
    Md = 31,
    Rd = 32,
    Dir = 33,
    Path = 34,
    Filter = 35,
    DdeLink = 40,
    DdeOpen = 41,
    DdeClose = 42,
    LoadQueue = 45,
    SaveQueue = 46,
    ClearQueue = 47,
    Loop = 50,
    EndLoop = 51,
    Delay = 52,
    IfExist = 53,
    EndIf = 54,
    Dial = 60,
    Run = 61,
    OnError = 62,  // "ONERROR:CONTINUE" or "ONERROR:STOP" (the default)
};

enum class TScriptSide : uint8_t { None = 0, Local = 1, Remote = 2 };

// Why a line did not compile. The first three are the language's own.
enum class TScriptError : int {
    None = -1,
    MissingSide = 0,      // "丢失 本地-远程 参数"
    MissingArgument = 1,  // "丢失命令参数."
    InvalidCommand = 3,   // "无效站点命令"
    LineTooLong = 10,     // input from outside: refused before it is looked at
    ControlCharacter = 11,
};
std::string ScriptErrorText(TScriptError error);

struct TScriptKeyword {
    const char* name;
    TScriptCode code;
    enum Argument : uint8_t {
        None,      // whatever follows is dropped
        Required,  // empty: MissingArgument
        Kept,      // appended, possibly empty
    } argument;
    enum Side : uint8_t { NoSide, NeedsSide, MaySide } side;
};
const std::array<TScriptKeyword, 41>& ScriptKeywords();

inline constexpr size_t MaxScriptLine = 32 * 1024;

struct TCompiledLine {
    std::string text;  // empty on error
    TScriptError error = TScriptError::None;
};
// line: trimmed. today: what "&date" in CD and MD becomes ("mmdd").
TCompiledLine CompileScriptLine(std::string_view line, const QDate& today);

struct TScriptCommand {
    TScriptCode code;
    TScriptSide side = TScriptSide::None;  // two-digit codes: remote
    std::string argument;
};
// A command as a script line would write it ("CD-R:/pub"), for the log.
std::string ScriptCommandText(const TScriptCommand& command);
// A compiled text taken apart; nothing for a text the compiler cannot give.
std::optional<TScriptCommand> DecodeScriptCommand(std::string_view compiled);

// The compiled commands still to run, with the loop and condition state.
class TScriptRunner {
public:
    // A deque: each command is taken from the front, and a long script must
    // not cost a move of all the rest per command.
    std::deque<std::string> ScriptCommands;
    int LoopIndex = 0;  // 0 outside a loop; inside, the next command's position
    bool ScriptRunning = false;

    struct LoadResult {
        int errorLine = 0;  // 0: loaded
        TScriptError error = TScriptError::None;
        std::string line;  // the line that failed
    };
    // Script text: lines trimmed and numbered from 1; "#" starts a comment;
    // reading stops at the first empty line, at "END", or at an error (and
    // then nothing is loaded). Running when any command came.
    LoadResult Load(std::string_view text, const QDate& today);

    enum class NextKind { Command, Finished, LoopNotClosed };
    struct Next {
        NextKind kind;
        std::string command;
    };
    // The command to run next; Finished when the list ran out, LoopNotClosed
    // when a loop's body ran out without ENDLOOP (the script ends).
    Next TakeNext();
    // LOOP's argument: its leading digits are the count (none: endless).
    // Anything but Started ends the script.
    enum class LoopStart { Started, CountTooLarge, Nested };
    LoopStart BeginLoop(std::string_view argument);
    void EndLoop();
    // IFEXIST found nothing: past the first ENDIF (or the end).
    void SkipToEndIf();
    void Stop();
};

// The script command running now, and whether it failed: the server refused
// one of its file commands (the client's refusal count grew), the run's
// failures grew, or the window said so for a local step.
class TScriptStep {
public:
    void Begin(const TScriptCommand& command, int refusals, int failures);
    void Fail() { m_failed = true; }
    bool Active() const { return !m_text.empty(); }
    // Ends the step: its failure line for the log, or nothing when it worked.
    std::optional<std::string> End(int refusals, int failures, const std::string& lastRefusal);

private:
    std::string m_text;
    int m_refusals = 0, m_failures = 0;
    bool m_watchesServer = false, m_failed = false;
};

// The keyword command line's "GET=remote[|localdir]" and
// "PUT=local[|remotedir]" as queue entries; downloadDir (the "Path"
// setting) when GET names no folder. PUT's size is read from the file.
TQueueEntry KeywordGetEntry(std::string_view value, const std::string& downloadDir);
TQueueEntry KeywordPutEntry(std::string_view value);
