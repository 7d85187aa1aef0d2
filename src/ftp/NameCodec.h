#pragma once
// Names on a server are bytes in the server's charset. The panes show them as
// text; every command naming a listed entry sends its bytes back unchanged
// (the rows keep them), so this codec only turns bytes into text for the
// eye and text the server never gave (a typed name, a local file's name)
// into the server's bytes.

#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

enum class TNameCharset : uint8_t { Auto, Utf8, Gb18030, Big5, ShiftJis, EucKr, Latin1 };
constexpr int NameCharsetCount = 7;

// The key written in the site database ("auto", "UTF-8", "GB18030", ...).
std::string_view NameCharsetKey(TNameCharset charset);
// From such a key, in any letter case; false when it names none.
bool NameCharsetFromKey(std::string_view key, TNameCharset& charset);

class TNameCodec {
public:
    explicit TNameCodec(TNameCharset charset = TNameCharset::Auto) : m_charset(charset) {}
    TNameCharset Charset() const { return m_charset; }

    // Bytes to text. Automatic: UTF-8 when the bytes are UTF-8, else
    // GB18030 (a superset of GBK and GB2312); from then on this session
    // writes new names in GB18030 too. A chosen charset decodes every name.
    // Safe from any thread.
    QString Decode(std::string_view bytes) const;
    // Decode, also telling whether the text's UTF-8 is not the bytes (the
    // row must then keep the bytes).
    QString Decode(std::string_view bytes, bool& bytesDiffer) const;
    // A path: each "/"-separated part decoded on its own (a UTF-8 folder may
    // hold GBK names).
    QString DecodePath(std::string_view bytes) const;

    // Text to the server's bytes, for names the server did not give.
    std::string Encode(const QString& text) const;
    std::string EncodeUtf8(const std::string& utf8) const { return Encode(QString::fromStdString(utf8)); }
    // The charset new names go out in is not UTF-8.
    bool WritesLegacy() const;
    // What another codec of the same server learnt (legacy names seen), for
    // a new connection there: a reconnect, a second connection.
    void LearnFrom(const TNameCodec& other)
    {
        if (other.m_charset == m_charset && other.m_legacySeen.load(std::memory_order_relaxed))
            m_legacySeen.store(true, std::memory_order_relaxed);
    }

private:
    TNameCharset m_charset;
    mutable std::atomic<bool> m_legacySeen{false};
};
