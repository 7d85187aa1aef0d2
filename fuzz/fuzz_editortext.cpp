// Files of any bytes opened in the editor: sent back unchanged they are the
// same bytes, and an added line changes nothing before it.
#include "session/EditorText.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TEditorText file;
    const QString text = file.Load(bytes);
    QByteArray back;
    QString error;
    if (!file.Save(text, back, error) || back != bytes)
        __builtin_trap();
    const qsizetype firstBreak = bytes.indexOf('\n');
    QByteArray longer;
    if (firstBreak >= 0 && file.Save(QStringLiteral("added\n") + text, longer, error) &&
        !longer.endsWith(bytes.mid(firstBreak + 1)))
        __builtin_trap();
    return 0;
}
