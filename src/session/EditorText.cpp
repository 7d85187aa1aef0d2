#include "session/EditorText.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <map>

namespace {
// The bytes as text, only when the text gives exactly these bytes back.
bool decodeExactly(const QByteArray& bytes, const char* codec, QString& text)
{
    QStringDecoder decoder(codec, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    if (!decoder.isValid())
        return false;
    text = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    QStringEncoder encoder(codec, QStringEncoder::Flag::Stateless);
    const QByteArray back = encoder.encode(text);
    return !encoder.hasError() && back == bytes;
}

const char* codecOf(TEditorText::Encoding e)
{
    switch (e) {
        case TEditorText::Encoding::Utf8:
            return "UTF-8";
        case TEditorText::Encoding::Gb18030:
            return "GB18030";
        case TEditorText::Encoding::Latin1:
            return "ISO-8859-1";
    }
    return "UTF-8";
}
}  // namespace

QString TEditorText::EncodingName(Encoding e)
{
    return QString::fromLatin1(codecOf(e));
}

QString TEditorText::Load(const QByteArray& bytes)
{
    QString text;
    m_bom = bytes.startsWith("\xEF\xBB\xBF");
    if (decodeExactly(bytes, "UTF-8", text)) {
        m_encoding = Encoding::Utf8;
    } else if (decodeExactly(bytes, "GB18030", text)) {
        m_encoding = Encoding::Gb18030;
    } else {
        m_encoding = Encoding::Latin1;  // every byte is a character and comes back
        text = QString::fromLatin1(bytes);
    }
    if (m_bom && m_encoding == Encoding::Utf8 && text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    // Lines and their own ends.
    m_lines.clear();
    m_ends.clear();
    std::map<QString, int> counts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        const qsizetype endLength =
            c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n') ? 2 : 1;
        m_lines.push_back(text.mid(start, i - start));
        m_ends.push_back(text.mid(i, endLength));
        ++counts[m_ends.back()];
        i += endLength - 1;
        start = i + 1;
    }
    if (start < text.size() || m_lines.empty()) {
        m_lines.push_back(text.mid(start));
        m_ends.push_back(QString());
    }
    const auto usual = std::max_element(counts.begin(), counts.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; });
    m_usualEnd = usual == counts.end() ? QStringLiteral("\n") : usual->first;
    QStringList shown;
    for (const QString& l : m_lines)
        shown << l;
    return shown.join(QLatin1Char('\n'));
}

bool TEditorText::Save(const QString& text, QByteArray& bytes, QString& error) const
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    const size_t n = static_cast<size_t>(lines.size()), old = m_lines.size();
    // Lines the edit left alone at the start and at the end keep their ends.
    size_t prefix = 0;
    while (prefix < n && prefix < old && lines[static_cast<qsizetype>(prefix)] == m_lines[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < n - prefix && suffix < old - prefix &&
           lines[static_cast<qsizetype>(n - 1 - suffix)] == m_lines[old - 1 - suffix])
        ++suffix;
    QString out;
    for (size_t i = 0; i < n; ++i) {
        out += lines[static_cast<qsizetype>(i)];
        if (i < prefix)
            out += m_ends[i];
        else if (i >= n - suffix)
            out += m_ends[old - (n - i)];
        else if (i + 1 == n)
            out += m_ends.back();  // the file's last line keeps its break (or none)
        else if (i < old - suffix)
            out += m_ends[i];  // an edited line keeps the end the line in its place had
        else
            out += m_usualEnd;  // a line the edit added
    }
    if (m_bom && m_encoding == Encoding::Utf8)
        out.prepend(QChar(0xFEFF));
    if (m_encoding == Encoding::Latin1) {
        for (QChar c : out) {
            if (c.unicode() > 0xff) {
                error = QStringLiteral("文件的编码 (") + EncodingName(m_encoding) +
                        QStringLiteral(") 不能保存字符 \"") + c + QStringLiteral("\". 文件没有保存.");
                return false;
            }
        }
        bytes = out.toLatin1();
        return true;
    }
    QStringEncoder encoder(codecOf(m_encoding), QStringEncoder::Flag::Stateless);
    bytes = encoder.encode(out);
    if (encoder.hasError()) {
        error = QStringLiteral("文件的编码 (") + EncodingName(m_encoding) + QStringLiteral(") 不能保存这些文字.");
        return false;
    }
    return true;
}
