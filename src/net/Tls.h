#pragma once
// TLS for the program's sockets (OpenSSL): the one client context, and what
// a handshake learnt about the peer's certificate, as text a person reads.

#include <cstdint>
#include <deque>
#include <utility>
#include <string>

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;
struct x509_st;

// A peer's certificate as the program shows it and remembers it.
struct TCertificateInfo {
    std::string Subject;    // "CN=ftp.example.org,O=Example"
    std::string Issuer;
    std::string NotBefore;  // "2026-01-01 00:00:00 UTC"
    std::string NotAfter;
    std::string Sha256;     // "AB:CD:...", 32 bytes in hex
    long VerifyResult = 0;  // X509_V_OK (0) when chain and name are good
    std::string VerifyText; // why it is not, in OpenSSL's words
    bool Trusted() const { return VerifyResult == 0; }
};

namespace Tls {
// The client context: the system's trusted certificates as OpenSSL finds them
// (SSL_CERT_FILE and SSL_CERT_DIR honoured), TLS 1.2 or later. Made once.
ssl_ctx_st* ClientContext();
// The TLS sessions of one connection and of those that resume it (an FTP
// control connection and its data connections), not yet used, newest last.
// A TLS 1.3 ticket may serve only once (vsftpd and proftpd hold to that),
// and a server may send a data connection's ticket only as it closes it:
// every connection of the family hands in each session it is given, and
// holds the family while it may still be given one.
class TSessionFamily {
public:
    TSessionFamily() = default;
    TSessionFamily(const TSessionFamily&) = delete;
    TSessionFamily& operator=(const TSessionFamily&) = delete;
    ~TSessionFamily();
    // The newest unused session, now the caller's reference; null when none.
    ssl_session_st* TakeNewest();
    void Keep(ssl_session_st* session, const ssl_st* from);  // takes the reference
    // A connection broken off: a server drops the sessions it gave there.
    void Forget(const ssl_st* from);

private:
    std::deque<std::pair<ssl_session_st*, const ssl_st*>> m_sessions;
};
// The family that keeps the sessions ssl is given (none: they are dropped).
void SetSessionFamily(ssl_st* ssl, TSessionFamily* family);
// A certificate in DER form read as the program shows it; false when the
// bytes are no certificate. The verification fields stay as they are.
bool DescribeDer(const unsigned char* der, size_t length, TCertificateInfo& info);
void Describe(x509_st* cert, TCertificateInfo& info);
// OpenSSL's last error on this thread as text (and the queue emptied).
std::string LastErrorText();
}  // namespace Tls
