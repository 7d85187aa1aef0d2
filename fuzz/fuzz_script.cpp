// Script lines and whole scripts of any bytes: compiling never fails, what
// compiles decodes to the keyword it came from, and running a loaded script
// through its loops and conditions always comes to an end.
#include "transfer/Script.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const QDate day(2026, 12, 6);
    const TCompiledLine c = CompileScriptLine(text, day);
    if (c.text.empty() == (c.error == TScriptError::None))
        __builtin_trap();
    if (!c.text.empty() && !DecodeScriptCommand(c.text))
        __builtin_trap();

    TScriptRunner r;
    r.Load(text, day);
    // Loops run at most twice here: a count in the input could be endless.
    for (int steps = 0; steps < 10000; ++steps) {
        const TScriptRunner::Next n = r.TakeNext();
        if (n.kind != TScriptRunner::NextKind::Command)
            return 0;
        const std::optional<TScriptCommand> cmd = DecodeScriptCommand(n.command);
        if (!cmd)
            __builtin_trap();
        if (cmd->code == TScriptCode::Loop) {
            if (r.BeginLoop("2") != TScriptRunner::LoopStart::Started)
                return 0;  // the window ends the script here
        } else if (cmd->code == TScriptCode::EndLoop)
            r.EndLoop();
        else if (cmd->code == TScriptCode::IfExist && (steps % 2) == 0)
            r.SkipToEndIf();
    }
    __builtin_trap();  // a script of a bounded size that never ends
}
