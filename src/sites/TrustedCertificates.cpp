#include "sites/TrustedCertificates.h"

#include <QDateTime>

TTrustedCertificates::TTrustedCertificates(const std::string& dataDir)
    : m_file(dataDir + "/certificates.ini", true)
{
}

std::string TTrustedCertificates::Fingerprint(const std::string& server)
{
    m_file.Load();  // another window may have trusted one meanwhile
    return m_file.ReadString(server, "SHA256");
}

bool TTrustedCertificates::Trust(const std::string& server, const std::string& sha256, const std::string& subject,
                                 const std::string& notAfter)
{
    {
        TIniFile::Batch batch(m_file);  // one write of the file
        m_file.WriteString(server, "SHA256", sha256);
        m_file.WriteString(server, "Subject", subject);
        m_file.WriteString(server, "NotAfter", notAfter);
        m_file.WriteString(server, "Trusted", QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString());
    }
    return m_file.LastError().empty();
}
