#include "transfer/Script.h"

#include "common/Text.h"

#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace {
using K = TScriptKeyword;

std::string twoDigits(int code)
{
    return {static_cast<char>('0' + code / 10), static_cast<char>('0' + code % 10)};
}

// The leading decimal digits; nullopt when they do not fit an int.
std::optional<int> leadingNumber(std::string_view s, bool& any)
{
    int64_t v = 0;
    any = false;
    for (const char c : s) {
        if (c < '0' || c > '9')
            break;
        any = true;
        v = v * 10 + (c - '0');
        if (v > INT_MAX)
            return std::nullopt;
    }
    return static_cast<int>(v);
}
}  // namespace

std::string ScriptErrorText(TScriptError error)
{
    switch (error) {
        case TScriptError::MissingSide:
            return "丢失 本地-远程 参数";
        case TScriptError::MissingArgument:
            return "丢失命令参数.";
        case TScriptError::InvalidCommand:
            return "无效站点命令";
        case TScriptError::LineTooLong:
            return "命令行过长.";
        case TScriptError::ControlCharacter:
            return "命令含有控制字符.";
        case TScriptError::None:
            break;
    }
    return {};
}

const std::array<TScriptKeyword, 41>& ScriptKeywords()
{
    using C = TScriptCode;
    static const std::array<TScriptKeyword, 41> table = {{
        {"CONNECT", C::Connect, K::Required, K::NoSide},
        {"DISCONNECT", C::Disconnect, K::None, K::NoSide},
        {"ABORT", C::Abort, K::None, K::NoSide},
        {"HIDE", C::Hide, K::None, K::NoSide},
        {"UNHIDE", C::Unhide, K::None, K::NoSide},
        {"STATUS", C::Status, K::None, K::NoSide},
        {"HANGUP", C::HangUp, K::None, K::NoSide},
        {"SCRIPT", C::Script, K::Required, K::NoSide},
        {"EXIT", C::Exit, K::None, K::NoSide},
        {"ASCII", C::Ascii, K::None, K::NoSide},
        {"BINARY", C::Binary, K::None, K::NoSide},
        {"AUTO", C::Auto, K::None, K::NoSide},
        {"TRANSFER", C::Transfer, K::None, K::NoSide},
        {"GET", C::Get, K::Required, K::NoSide},
        {"PUT", C::Put, K::Required, K::NoSide},
        {"PUTDEL", C::PutDel, K::Required, K::NoSide},
        {"DEL", C::Del, K::Required, K::NeedsSide},
        {"RENAME", C::Rename, K::Required, K::NeedsSide},
        {"CHMOD", C::Chmod, K::Required, K::NoSide},
        {"QUEUE", C::Queue, K::Required, K::NeedsSide},
        {"RAW", C::Raw, K::Required, K::NoSide},
        {"CD", C::Cd, K::Required, K::NeedsSide},
        {"MD", C::Md, K::Required, K::NeedsSide},
        {"RD", C::Rd, K::Required, K::NeedsSide},
        {"DIR", C::Dir, K::Required, K::NeedsSide},
        {"PATH", C::Path, K::Required, K::NeedsSide},
        {"FILTER", C::Filter, K::Required, K::MaySide},
        {"DDELINK", C::DdeLink, K::Kept, K::NoSide},
        {"DDEOPEN", C::DdeOpen, K::Kept, K::NoSide},
        {"DDECLOSE", C::DdeClose, K::Kept, K::NoSide},
        {"LOADQUEUE", C::LoadQueue, K::Required, K::NoSide},
        {"SAVEQUEUE", C::SaveQueue, K::Required, K::NoSide},
        {"CLEARQUEUE", C::ClearQueue, K::Kept, K::NoSide},
        {"LOOP", C::Loop, K::Kept, K::NoSide},
        {"ENDLOOP", C::EndLoop, K::None, K::NoSide},
        {"DELAY", C::Delay, K::Required, K::NoSide},
        {"IFEXIST", C::IfExist, K::Required, K::NeedsSide},
        {"ENDIF", C::EndIf, K::None, K::NoSide},
        {"DIAL", C::Dial, K::Required, K::NoSide},
        {"RUN", C::Run, K::Required, K::NoSide},
        {"ONERROR", C::OnError, K::Required, K::NoSide},
    }};
    return table;
}

TCompiledLine CompileScriptLine(std::string_view line, const QDate& today)
{
    TCompiledLine out;
    auto fail = [&](TScriptError e) {
        out.error = e;
        return out;
    };
    if (line.size() > MaxScriptLine)
        return fail(TScriptError::LineTooLong);
    for (const char c : line)
        if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127)
            return fail(TScriptError::ControlCharacter);

    std::string keyword, argument;
    TScriptSide side = TScriptSide::None;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos || line.find('-') != std::string_view::npos) {
        keyword = AsciiUpper(colon != std::string_view::npos ? line.substr(0, colon) : line);
        if (keyword.empty())
            keyword = AsciiUpper(line);
        argument = std::string(colon != std::string_view::npos ? line.substr(colon + 1) : line);
        const size_t dash = keyword.find('-');
        if (dash != std::string::npos) {
            const std::string s = keyword.substr(dash + 1);
            if (s == "L")
                side = TScriptSide::Local;
            else if (s == "R")
                side = TScriptSide::Remote;
            else
                return fail(TScriptError::MissingSide);
            keyword = keyword.substr(0, keyword.size() - 2);
        }
    } else {
        keyword = AsciiUpper(line);
    }
    keyword = std::string(TrimLine(keyword));
    const auto& table = ScriptKeywords();
    const auto k = std::find_if(table.begin(), table.end(), [&](const TScriptKeyword& e) { return keyword == e.name; });
    if (k == table.end())
        return fail(TScriptError::InvalidCommand);
    if (k->argument == K::Required && argument.empty())
        return fail(TScriptError::MissingArgument);
    if (k->side == K::NeedsSide && side == TScriptSide::None)
        return fail(TScriptError::MissingArgument);
    if (k->code == TScriptCode::Cd || k->code == TScriptCode::Md) {
        const size_t d = argument.find("&date");
        if (d != std::string::npos)
            argument = argument.substr(0, d) + today.toString(QStringLiteral("MMdd")).toStdString();
    }
    out.text = twoDigits(static_cast<int>(k->code));
    if (k->side != K::NoSide)
        out.text += static_cast<char>('0' + static_cast<int>(side));
    out.text += '$';
    if (k->argument != K::None)
        out.text += argument;
    return out;
}

std::string ScriptCommandText(const TScriptCommand& command)
{
    const auto& table = ScriptKeywords();
    const auto k =
        std::find_if(table.begin(), table.end(), [&](const TScriptKeyword& e) { return e.code == command.code; });
    std::string text = k == table.end() ? std::string("?") : k->name;
    if (command.side == TScriptSide::Local)
        text += "-L";
    else if (command.side == TScriptSide::Remote && k != table.end() && k->side == TScriptKeyword::NeedsSide)
        text += "-R";
    if (!command.argument.empty())
        text += ":" + command.argument;
    return text;
}

std::optional<TScriptCommand> DecodeScriptCommand(std::string_view compiled)
{
    const size_t dollar = compiled.find('$');
    if (dollar != 2 && dollar != 3)
        return std::nullopt;
    for (size_t i = 0; i < dollar; ++i)
        if (compiled[i] < '0' || compiled[i] > '9')
            return std::nullopt;
    TScriptCommand c{};
    const int code = (compiled[0] - '0') * 10 + (compiled[1] - '0');
    const auto& table = ScriptKeywords();
    if (std::none_of(table.begin(), table.end(),
                     [&](const TScriptKeyword& k) { return static_cast<int>(k.code) == code; }))
        return std::nullopt;
    c.code = static_cast<TScriptCode>(code);
    c.side = dollar == 3 ? (compiled[2] == '1'   ? TScriptSide::Local
                            : compiled[2] == '2' ? TScriptSide::Remote
                                                 : TScriptSide::None)
                         : TScriptSide::None;
    c.argument = std::string(compiled.substr(dollar + 1));
    return c;
}

// ---------------------------------------------------------------- runner

TScriptRunner::LoadResult TScriptRunner::Load(std::string_view text, const QDate& today)
{
    Stop();
    LoadResult result;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::string_view line = TrimLine(raw);
        if (line.empty() || line == "END")
            break;
        if (line.front() == '#')
            continue;
        const TCompiledLine c = CompileScriptLine(line, today);
        if (c.error != TScriptError::None) {
            ScriptCommands.clear();  // nothing of a faulty script runs
            result.errorLine = number;
            result.error = c.error;
            result.line = std::string(line.substr(0, 200));
            return result;
        }
        ScriptCommands.push_back(c.text);
    }
    ScriptRunning = !ScriptCommands.empty();
    return result;
}

TScriptRunner::Next TScriptRunner::TakeNext()
{
    if (ScriptCommands.empty())
        return {NextKind::Finished, {}};
    if (LoopIndex < 1) {
        std::string c = std::move(ScriptCommands.front());
        ScriptCommands.erase(ScriptCommands.begin());
        return {NextKind::Command, std::move(c)};
    }
    if (static_cast<size_t>(LoopIndex) >= ScriptCommands.size())
        return {NextKind::LoopNotClosed, {}};
    return {NextKind::Command, ScriptCommands[static_cast<size_t>(LoopIndex++)]};
}

TScriptRunner::LoopStart TScriptRunner::BeginLoop(std::string_view argument)
{
    if (LoopIndex >= 1)
        return LoopStart::Nested;  // one counter at position 0: loops do not nest
    bool any = false;
    const std::optional<int> count = leadingNumber(argument, any);
    if (!count)
        return LoopStart::CountTooLarge;
    // The counter sits at position 0, the body follows; no count is endless (-1).
    LoopIndex = 1;
    ScriptCommands.insert(ScriptCommands.begin(), std::to_string((any ? *count : 0) - 1));
    return LoopStart::Started;
}

void TScriptRunner::EndLoop()
{
    if (ScriptCommands.empty() || LoopIndex < 1)
        return;  // an ENDLOOP without its LOOP: nothing to end
    const std::string& counter = ScriptCommands.front();
    const bool negative = !counter.empty() && counter.front() == '-';
    bool any = false;
    const std::optional<int> n = leadingNumber(std::string_view(counter).substr(negative ? 1 : 0), any);
    const int r = n ? (negative ? -*n : *n) : 0;
    if (r >= 1) {
        ScriptCommands.front() = std::to_string(r - 1);
        LoopIndex = 1;
    } else if (r == -1) {
        LoopIndex = 1;
    } else {
        const size_t done = std::min(static_cast<size_t>(LoopIndex), ScriptCommands.size());
        ScriptCommands.erase(ScriptCommands.begin(), ScriptCommands.begin() + static_cast<ptrdiff_t>(done));
        LoopIndex = 0;
    }
}

void TScriptRunner::SkipToEndIf()
{
    auto isEndIf = [](const std::string& c) { return c.rfind("54$", 0) == 0; };
    if (LoopIndex < 1) {
        while (!ScriptCommands.empty()) {
            const bool end = isEndIf(ScriptCommands.front());
            ScriptCommands.erase(ScriptCommands.begin());
            if (end)
                break;
        }
        return;
    }
    // In a loop the body stays: the index moves onto the ENDIF, which runs as nothing.
    while (static_cast<size_t>(LoopIndex) < ScriptCommands.size() &&
           !isEndIf(ScriptCommands[static_cast<size_t>(LoopIndex)]))
        ++LoopIndex;
}

void TScriptRunner::Stop()
{
    ScriptCommands.clear();
    LoopIndex = 0;
    ScriptRunning = false;
}

// ---------------------------------------------------------------- keyword command line

TQueueEntry KeywordGetEntry(std::string_view value, const std::string& downloadDir)
{
    const size_t bar = value.find('|');
    const std::string source(value.substr(0, bar));
    const std::string dir = bar == std::string_view::npos ? downloadDir : std::string(value.substr(bar + 1));
    return {TEntryKind::DownloadFile, source, -1, EnsureTrailingSeparator(dir) + LastPathSegment(source)};
}

TQueueEntry KeywordPutEntry(std::string_view value)
{
    const size_t bar = value.find('|');
    // A relative name is the shell's: resolved now, against the folder the
    // program was started in.
    const QFileInfo file(QString::fromStdString(std::string(value.substr(0, bar))));
    const std::string source = file.absoluteFilePath().toStdString();
    const std::string name = file.fileName().toStdString();
    const std::string target = bar == std::string_view::npos
                                   ? "~/" + name
                                   : EnsureTrailingSeparator(std::string(value.substr(bar + 1))) + name;
    return {TEntryKind::UploadFile, source, file.exists() ? file.size() : -1, target};
}

void TScriptStep::Begin(const TScriptCommand& c, int refusals, int failures)
{
    using C = TScriptCode;
    const bool fileCommand = c.code == C::Cd || c.code == C::Md || c.code == C::Rd || c.code == C::Del ||
                             c.code == C::Rename || c.code == C::Raw || c.code == C::Chmod;
    m_text = ScriptCommandText(c);
    m_refusals = refusals;
    m_failures = failures;
    m_watchesServer = fileCommand && c.side != TScriptSide::Local;
    m_failed = false;
}

std::optional<std::string> TScriptStep::End(int refusals, int failures, const std::string& lastRefusal)
{
    const bool refused = m_watchesServer && refusals > m_refusals;
    const bool failed = m_failed || refused || failures > m_failures;
    const std::string text = std::exchange(m_text, {});
    if (!failed)
        return std::nullopt;
    return "脚本命令失败: " + text + (refused ? " (" + lastRefusal + ")" : std::string());
}
