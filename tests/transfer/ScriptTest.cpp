// The command language: what compiles to what and what is refused, and how
// a loaded script runs through loops and conditions.

#include "transfer/Script.h"

#include <QTemporaryDir>

#include <deque>

#include <gtest/gtest.h>

#include <fstream>

namespace {
const QDate Dec6(2026, 12, 6);

std::string compiled(std::string_view line)
{
    return CompileScriptLine(line, Dec6).text;
}
TScriptError error(std::string_view line)
{
    return CompileScriptLine(line, Dec6).error;
}

// The commands a runner gives, with LOOP, ENDLOOP and IFEXIST acted on;
// exists: what IFEXIST finds.
std::vector<std::string> run(TScriptRunner& r, bool exists = false, int limit = 100)
{
    std::vector<std::string> out;
    while (limit-- > 0) {
        const TScriptRunner::Next n = r.TakeNext();
        if (n.kind == TScriptRunner::NextKind::LoopNotClosed)
            out.push_back("<loop not closed>");
        if (n.kind != TScriptRunner::NextKind::Command)
            break;
        const TScriptCommand c = *DecodeScriptCommand(n.command);
        if (c.code == TScriptCode::Loop)
            r.BeginLoop(c.argument);
        else if (c.code == TScriptCode::EndLoop)
            r.EndLoop();
        else if (c.code == TScriptCode::IfExist && !exists)
            r.SkipToEndIf();
        else if (c.code != TScriptCode::IfExist && c.code != TScriptCode::EndIf)
            out.push_back(n.command);
    }
    return out;
}
}  // namespace

TEST(Script, LinesCompileToCodeSideAndArgument)
{
    EXPECT_EQ(compiled("GET:readme.txt"), "21$readme.txt");
    EXPECT_EQ(compiled("get:readme.txt"), "21$readme.txt");
    EXPECT_EQ(compiled("cd-r:/x"), "302$/x");
    EXPECT_EQ(compiled("CD-L:/tmp/a:b"), "301$/tmp/a:b");  // the first ":" only
    EXPECT_EQ(compiled("DISCONNECT"), "02$");
    EXPECT_EQ(compiled("EXIT:now"), "09$");    // no argument kept
    EXPECT_EQ(compiled("CLEARQUEUE"), "47$");  // kept, though empty
    EXPECT_EQ(compiled("LOOP:3"), "50$3");
    EXPECT_EQ(compiled("DDELINK:svc:topic:cmd"), "40$svc:topic:cmd");
    EXPECT_EQ(compiled("FILTER:*.txt"), "350$*.txt");  // no side: the remote pane
    EXPECT_EQ(compiled("FILTER-L:*.txt"), "351$*.txt");
    EXPECT_EQ(compiled("DIR-R"), "332$DIR-R");  // without ":" the line is the argument
    EXPECT_EQ(compiled("RAW:SITE CHMOD 644 a"), "27$SITE CHMOD 644 a");
    EXPECT_EQ(compiled("MD-L:/backup/&date"), "311$/backup/1206");
    EXPECT_EQ(compiled("CD-R:/logs/&date/old"), "302$/logs/1206");  // to the end
    EXPECT_EQ(compiled("GET:/logs/&date"), "21$/logs/&date");       // only CD and MD

    EXPECT_EQ(error("DEL:x"), TScriptError::MissingArgument);  // its side
    EXPECT_EQ(error("DEL-Q:x"), TScriptError::MissingSide);
    EXPECT_EQ(error("FETCH:x"), TScriptError::InvalidCommand);
    EXPECT_EQ(error("GET"), TScriptError::MissingArgument);
    EXPECT_EQ(error("GET:"), TScriptError::MissingArgument);
    EXPECT_EQ(error(":GET"), TScriptError::InvalidCommand);
    EXPECT_EQ(ScriptErrorText(TScriptError::MissingSide), "丢失 本地-远程 参数");
    EXPECT_EQ(ScriptErrorText(TScriptError::InvalidCommand), "无效站点命令");

    // Input from outside: refused, not looked at.
    EXPECT_EQ(error(std::string_view("GET:a\0b", 7)), TScriptError::ControlCharacter);
    EXPECT_EQ(error("RAW:NOOP\r\nDELE x"), TScriptError::ControlCharacter);
    EXPECT_EQ(error("RAW:" + std::string(MaxScriptLine, 'x')), TScriptError::LineTooLong);
    EXPECT_EQ(compiled("RAW:\xff\xfe"), "27$\xff\xfe");  // not UTF-8: passed on as bytes

    // Whatever compiles decodes to its keyword.
    for (const TScriptKeyword& k : ScriptKeywords()) {
        const std::string line = std::string(k.name) + (k.side == TScriptKeyword::NeedsSide ? "-L" : "") + ":arg";
        const TCompiledLine c = CompileScriptLine(line, Dec6);
        ASSERT_EQ(c.error, TScriptError::None) << line;
        const std::optional<TScriptCommand> d = DecodeScriptCommand(c.text);
        ASSERT_TRUE(d) << c.text;
        EXPECT_EQ(d->code, k.code) << line;
    }
    EXPECT_FALSE(DecodeScriptCommand("99$x"));
    EXPECT_FALSE(DecodeScriptCommand("2$x"));
    EXPECT_EQ(DecodeScriptCommand("302$/x")->side, TScriptSide::Remote);
}

TEST(Script, LoadingStopsAtABlankLineOrEndAndAFaultyLineLoadsNothing)
{
    TScriptRunner r;
    EXPECT_EQ(r.Load("# a comment\r\nCONNECT:mysite\r\n  cd-r:/pub  \r\n\r\nGET:never\r\n", Dec6).errorLine, 0);
    EXPECT_TRUE(r.ScriptRunning);
    EXPECT_EQ(r.ScriptCommands, (std::deque<std::string>{"01$mysite", "302$/pub"}));
    r.Load("RAW:A\nEND\nRAW:B\n", Dec6);
    EXPECT_EQ(r.ScriptCommands, std::deque<std::string>{"27$A"});

    const TScriptRunner::LoadResult bad = r.Load("RAW:A\nRAW:B\nDEL-Q:x\nRAW:C\n", Dec6);
    EXPECT_EQ(bad.errorLine, 3);
    EXPECT_EQ(bad.error, TScriptError::MissingSide);
    EXPECT_TRUE(r.ScriptCommands.empty());
    EXPECT_FALSE(r.ScriptRunning);
    EXPECT_EQ(r.Load("\nRAW:A\n", Dec6).errorLine, 0);
    EXPECT_FALSE(r.ScriptRunning);  // an empty first line: nothing
}

TEST(Script, LoopsRunTheirCountAndConditionsSkipToEndIf)
{
    TScriptRunner r;
    r.Load("LOOP:2\nRAW:NOOP\nENDLOOP\nRAW:AFTER\n", Dec6);
    EXPECT_EQ(run(r), (std::vector<std::string>{"27$NOOP", "27$NOOP", "27$AFTER"}));
    r.Load("LOOP:1\nRAW:ONCE\nENDLOOP\n", Dec6);
    EXPECT_EQ(run(r), std::vector<std::string>{"27$ONCE"});
    // No count: endless, until stopped.
    r.Load("LOOP\nRAW:AGAIN\nENDLOOP\n", Dec6);
    EXPECT_EQ(run(r, false, 10).size(), 5u);
    EXPECT_TRUE(r.LoopIndex >= 1);

    r.Load("IFEXIST-R:*.log\nDEL-R:*.log\nENDIF\nRAW:NEXT\n", Dec6);
    EXPECT_EQ(run(r, false), std::vector<std::string>{"27$NEXT"});
    r.Load("IFEXIST-R:*.log\nDEL-R:*.log\nENDIF\nRAW:NEXT\n", Dec6);
    EXPECT_EQ(run(r, true), (std::vector<std::string>{"232$*.log", "27$NEXT"}));
    // Inside a loop the skipped body stays for the next pass.
    r.Load("LOOP:2\nIFEXIST-R:x\nRAW:IN\nENDIF\nRAW:BODY\nENDLOOP\nRAW:END\n", Dec6);
    EXPECT_EQ(run(r, false), (std::vector<std::string>{"27$BODY", "27$BODY", "27$END"}));
    r.Load("IFEXIST-L:x\nRAW:NEVER\n", Dec6);  // no ENDIF: the rest is skipped
    EXPECT_TRUE(run(r, false).empty());

    // A loop without its end, a nested one, a count beyond 32 bits: the script ends.
    r.Load("LOOP:2\nRAW:A\n", Dec6);
    EXPECT_EQ(run(r), (std::vector<std::string>{"27$A", "<loop not closed>"}));
    r.Load("LOOP:2\nLOOP:2\nENDLOOP\n", Dec6);
    ASSERT_EQ(r.TakeNext().command, "50$2");
    EXPECT_EQ(r.BeginLoop("2"), TScriptRunner::LoopStart::Started);
    ASSERT_EQ(r.TakeNext().command, "50$2");
    EXPECT_EQ(r.BeginLoop("2"), TScriptRunner::LoopStart::Nested);
    r.Stop();
    EXPECT_EQ(r.BeginLoop("99999999999"), TScriptRunner::LoopStart::CountTooLarge);
    r.Stop();
    EXPECT_FALSE(r.ScriptRunning || r.LoopIndex || !r.ScriptCommands.empty());
    r.EndLoop();  // without a LOOP: nothing happens
    EXPECT_TRUE(r.ScriptCommands.empty());
}

TEST(Script, KeywordGetAndPutBecomeQueueEntries)
{
    EXPECT_EQ(KeywordGetEntry("/pub/a.zip", "/home/u/dl/"),
              (TQueueEntry{TEntryKind::DownloadFile, "/pub/a.zip", -1, "/home/u/dl/a.zip"}));
    EXPECT_EQ(KeywordGetEntry("/pub/a.zip|/tmp/in", "/home/u/dl/"),
              (TQueueEntry{TEntryKind::DownloadFile, "/pub/a.zip", -1, "/tmp/in/a.zip"}));
    QTemporaryDir dir;
    const std::string file = dir.filePath("x.txt").toStdString();
    std::ofstream(file) << "12345";
    EXPECT_EQ(KeywordPutEntry(file), (TQueueEntry{TEntryKind::UploadFile, file, 5, "~/x.txt"}));
    EXPECT_EQ(KeywordPutEntry(file + "|/incoming"), (TQueueEntry{TEntryKind::UploadFile, file, 5, "/incoming/x.txt"}));
}

// A script of 200,000 lines loads and runs to its end, every command once and
// in order (taking each from the front once moved all the rest).
TEST(Script, ALongScriptLoadsAndRunsEveryLineInOrder)
{
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "RAW:NOOP " + std::to_string(i) + "\n";
    TScriptRunner r;
    ASSERT_EQ(r.Load(text, QDate(2026, 12, 8)).errorLine, 0);
    int n = 0;
    for (TScriptRunner::Next next = r.TakeNext(); next.kind == TScriptRunner::NextKind::Command; next = r.TakeNext())
        ASSERT_EQ(next.command, "27$NOOP " + std::to_string(n++));
    EXPECT_EQ(n, 200000);
}

// A step fails when the server refused one of its file commands, when the
// run's failures grew, or when it was told so; refusals during a local step
// or a transfer do not count as the step's own.
TEST(Script, AStepFailsOnARefusalOfItsOwnAFailureOrWhenTold)
{
    const auto cmd = [](const char* line) { return *DecodeScriptCommand(CompileScriptLine(line, QDate()).text); };
    TScriptStep s;
    s.Begin(cmd("CD-R:/x"), 3, 0);
    EXPECT_EQ(s.End(4, 0, "550 No such file"), "脚本命令失败: CD-R:/x (550 No such file)");
    EXPECT_FALSE(s.Active());
    s.Begin(cmd("CD-R:/x"), 3, 0);
    EXPECT_EQ(s.End(3, 0, "550 old"), std::nullopt);
    s.Begin(cmd("GET:a.zip"), 3, 0);
    EXPECT_EQ(s.End(5, 0, "550"), std::nullopt);  // a transfer's refusals count through its failures
    s.Begin(cmd("GET:a.zip"), 3, 0);
    EXPECT_EQ(s.End(3, 1, ""), "脚本命令失败: GET:a.zip");
    s.Begin(cmd("DEL-L:x"), 0, 0);
    s.Fail();
    EXPECT_EQ(s.End(0, 0, ""), "脚本命令失败: DEL-L:x");
}
