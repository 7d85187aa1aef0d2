#include "net/Tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>

namespace {
int sessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// OpenSSL hands over a reference: kept when a listener takes it.
int newSession(SSL* ssl, SSL_SESSION* session)
{
    auto* family = static_cast<Tls::TSessionFamily*>(SSL_get_ex_data(ssl, sessionIndex()));
    if (!family)
        return 0;
    family->Keep(session, ssl);
    return 1;
}

std::string nameText(X509_NAME* name)
{
    if (!name)
        return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    // RFC 2253 order and escaping, UTF-8 kept as is: what a person compares.
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

std::string timeText(const ASN1_TIME* t)
{
    struct tm when {};
    if (!t || ASN1_TIME_to_tm(t, &when) != 1)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &when);
    return text;
}
}  // namespace

namespace Tls {

ssl_ctx_st* ClientContext()
{
    static SSL_CTX* context = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(c);
        // The chain and the name are checked, the handshake goes on either
        // way: the program decides with the person (or the run ends).
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Several records a read from the kernel: fewer system calls a file.
        SSL_CTX_set_read_ahead(c, 1);
        SSL_CTX_set_default_read_buffer_len(c, 64 * 1024);
        SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(c, newSession);
        return c;
    }();
    return context;
}

TSessionFamily::~TSessionFamily()
{
    for (const auto& [session, from] : m_sessions)
        SSL_SESSION_free(session);
}

SSL_SESSION* TSessionFamily::TakeNewest()
{
    if (m_sessions.empty())
        return nullptr;
    SSL_SESSION* session = m_sessions.back().first;
    m_sessions.pop_back();
    return session;
}

void TSessionFamily::Keep(SSL_SESSION* session, const SSL* from)
{
    // A few suffice: a data connection at a time uses one and brings one.
    constexpr size_t MaxSessions = 8;
    m_sessions.emplace_back(session, from);
    if (m_sessions.size() > MaxSessions) {
        SSL_SESSION_free(m_sessions.front().first);
        m_sessions.pop_front();
    }
}

void TSessionFamily::Forget(const SSL* from)
{
    std::erase_if(m_sessions, [from](const auto& kept) {
        if (kept.second != from)
            return false;
        SSL_SESSION_free(kept.first);
        return true;
    });
}

void SetSessionFamily(ssl_st* ssl, TSessionFamily* family)
{
    SSL_set_ex_data(ssl, sessionIndex(), family);
}

void Describe(x509_st* cert, TCertificateInfo& info)
{
    info.Subject = nameText(X509_get_subject_name(cert));
    info.Issuer = nameText(X509_get_issuer_name(cert));
    info.NotBefore = timeText(X509_get0_notBefore(cert));
    info.NotAfter = timeText(X509_get0_notAfter(cert));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    info.Sha256.clear();
    if (X509_digest(cert, EVP_sha256(), digest, &length) == 1) {
        static constexpr char Hex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i) {
            if (i)
                info.Sha256 += ':';
            info.Sha256 += Hex[digest[i] >> 4];
            info.Sha256 += Hex[digest[i] & 15];
        }
    }
}

bool DescribeDer(const unsigned char* der, size_t length, TCertificateInfo& info)
{
    const unsigned char* p = der;
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(length)), X509_free);
    if (!cert)
        return false;
    Describe(cert.get(), info);
    return true;
}

std::string LastErrorText()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty())
            text += "; ";
        text += buffer;
    }
    return text;
}

}  // namespace Tls
