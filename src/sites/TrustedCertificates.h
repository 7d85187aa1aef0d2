#pragma once
// The servers' certificates a person chose to trust always: "certificates.ini"
// in the data folder, a section per "host:port" with the SHA-256 fingerprint
// and what the certificate said. Read and written as a profile file (merged
// under a lock, replaced atomically), so two windows keep each other's.

#include "sites/IniFile.h"

#include <string>

class TTrustedCertificates {
public:
    explicit TTrustedCertificates(const std::string& dataDir);
    // The fingerprint trusted for server ("host:port"); empty when none.
    std::string Fingerprint(const std::string& server);
    bool Trust(const std::string& server, const std::string& sha256, const std::string& subject,
               const std::string& notAfter);
    const std::string& LastError() const { return m_file.LastError(); }

private:
    TIniFile m_file;
};
