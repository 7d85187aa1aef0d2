#include "ftp/NameCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace {
struct CharsetName {
    TNameCharset charset;
    const char* key;    // in the site database
    const char* codec;  // ICU's name
};
constexpr CharsetName charsets[] = {
    {TNameCharset::Auto, "auto", nullptr},          {TNameCharset::Utf8, "UTF-8", "UTF-8"},
    {TNameCharset::Gb18030, "GB18030", "GB18030"},  {TNameCharset::Big5, "Big5", "Big5"},
    {TNameCharset::ShiftJis, "Shift_JIS", "Shift_JIS"}, {TNameCharset::EucKr, "EUC-KR", "EUC-KR"},
    {TNameCharset::Latin1, "ISO-8859-1", "ISO-8859-1"},
};

const char* codecName(TNameCharset c)
{
    for (const CharsetName& n : charsets)
        if (n.charset == c)
            return n.codec;
    return nullptr;
}

bool isAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

QString decodeWith(const char* codec, std::string_view bytes)
{
    // Made once per thread and charset: making an ICU converter costs more
    // than decoding a name. Stateless: no name leaves anything for the next.
    thread_local std::string cachedFor;
    thread_local QStringDecoder decoder;
    if (cachedFor != codec) {
        decoder = QStringDecoder(codec, QStringDecoder::Flag::Stateless);
        cachedFor = codec;
    }
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
}  // namespace

std::string_view NameCharsetKey(TNameCharset charset)
{
    for (const CharsetName& n : charsets)
        if (n.charset == charset)
            return n.key;
    return "auto";
}

bool NameCharsetFromKey(std::string_view key, TNameCharset& charset)
{
    for (const CharsetName& n : charsets) {
        const std::string_view k = n.key;
        if (k.size() == key.size() && std::equal(k.begin(), k.end(), key.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            })) {
            charset = n.charset;
            return true;
        }
    }
    return false;
}

QString TNameCodec::Decode(std::string_view bytes) const
{
    bool differ = false;
    return Decode(bytes, differ);
}

QString TNameCodec::Decode(std::string_view bytes, bool& bytesDiffer) const
{
    bytesDiffer = false;
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (m_charset == TNameCharset::Auto || m_charset == TNameCharset::Utf8) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        if (!utf8.hasError())
            return text;
        bytesDiffer = true;
        if (m_charset == TNameCharset::Utf8)
            return text;  // what cannot be read shows as U+FFFD
        m_legacySeen.store(true, std::memory_order_relaxed);
        return decodeWith("GB18030", bytes);
    }
    bytesDiffer = true;
    return decodeWith(codecName(m_charset), bytes);
}

QString TNameCodec::DecodePath(std::string_view bytes) const
{
    QString text;
    size_t at = 0;
    for (;;) {
        const size_t slash = std::min(bytes.find('/', at), bytes.size());
        text += Decode(bytes.substr(at, slash - at));
        if (slash == bytes.size())
            return text;
        text += QLatin1Char('/');
        at = slash + 1;
    }
}

bool TNameCodec::WritesLegacy() const
{
    if (m_charset == TNameCharset::Auto)
        return m_legacySeen.load(std::memory_order_relaxed);
    return m_charset != TNameCharset::Utf8;
}

std::string TNameCodec::Encode(const QString& text) const
{
    if (!WritesLegacy())
        return text.toStdString();
    QStringEncoder encoder(m_charset == TNameCharset::Auto ? "GB18030" : codecName(m_charset),
                           QStringEncoder::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    return bytes.toStdString();
}
