#pragma once
// A text file as the built-in editor holds it: the text to show and what it
// takes to write the bytes back as they were. The encoding is found from the
// bytes (UTF-8, else GB18030, which covers GBK, else one byte per
// character) and is kept; each line keeps its own end ("\r\n", "\n", "\r" or
// none), so a file sent back unchanged is the same file, byte for byte, and
// an edit changes only the lines it touched.

#include <QByteArray>
#include <QString>

#include <vector>

class TEditorText {
public:
    enum class Encoding { Utf8, Gb18030, Latin1 };

    // The text for the editor: the lines joined by "\n".
    QString Load(const QByteArray& bytes);
    // The edited text as the file's bytes. False (error set) when the text
    // holds a character the file's encoding cannot write: the file is never
    // turned into another encoding behind the user's back.
    bool Save(const QString& text, QByteArray& bytes, QString& error) const;

    Encoding FileEncoding() const { return m_encoding; }
    static QString EncodingName(Encoding e);

private:
    Encoding m_encoding = Encoding::Utf8;
    bool m_bom = false;                         // UTF-8 with a byte-order mark
    std::vector<QString> m_lines;               // as loaded, without their ends
    std::vector<QString> m_ends;                // each line's end; the last one may be empty
    QString m_usualEnd = QStringLiteral("\n");  // for lines the edit added
};
