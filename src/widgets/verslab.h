#pragma once
// TVersionLabel: a label showing one field of an executable's version data,
// optionally behind a prefix.

#include <QLabel>
#include <QString>

enum TVersionResources {
    vrCompanyName,
    vrFileDescription,
    vrFileVersion,
    vrInternalName,
    vrLegalCopyright,
    vrOriginalFilename,
    vrProductName,
    vrProductVersion,
    vrComments,
    vrFlags,
};

class TVersionLabel : public QLabel {
    Q_OBJECT

public:
    explicit TVersionLabel(QWidget* parent = nullptr);

    TVersionResources VersionResource() const { return m_resource; }
    void SetVersionResource(TVersionResources r);
    QString VersionResourceKey() const { return m_key; }
    void SetVersionResourceKey(const QString& key);
    QString InfoPrefix() const { return m_prefix; }
    void SetInfoPrefix(const QString& prefix);
    bool ShowInfoPrefix() const { return m_showPrefix; }
    void SetShowInfoPrefix(bool on);
    QString LangCharset() const { return m_langCharset; }
    void SetLangCharset(const QString& lang);
    QString Filename() const { return m_filename; }
    void SetFilename(const QString& file);
    QString InfoString() const { return m_info; }

    static QString KeyOf(TVersionResources r);
    static QString DefaultPrefixOf(TVersionResources r);

private:
    void Rebuild();
    QString ReadValue();

    TVersionResources m_resource = vrFileVersion;
    QString m_key;
    QString m_prefix;
    bool m_showPrefix = true;
    QString m_langCharset = QStringLiteral("-1");
    QString m_filename;
    QString m_info;
};
