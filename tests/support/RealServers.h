#pragma once
// Real FTP servers and proxies on loopback for the tests: vsftpd, pyftpdlib,
// dante (SOCKS 4) and ftp-proxy. Each is started on first use, on a free port,
// with a throw-away configuration and file tree, waited for until it answers,
// and stopped by its process id when the test program ends.
//
// The servers need what scripts/install-test-deps.sh installs (Debian
// packages and the local user "ftptest" with password "ftppass"), and root.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ServerInfo {
    std::string name;
    quint16 port = 0;
};

namespace RealServers {
constexpr const char* User = "ftptest";
constexpr const char* Password = "ftppass";

// Root of the file trees: <root>/ftptest is the local user's home,
// <root>/anon the anonymous root.
std::string root();

// Names ending in ".denied" are listed but refused (a folder cannot be
// entered, a file cannot be fetched), whoever the server runs as.
const ServerInfo& vsftpd();
// Certificates made for the tests: self-signed for "localhost" and
// 127.0.0.1, and one for another host name.
struct TlsCertificate {
    std::string certificate, key, otherHost, otherHostKey;
};
const TlsCertificate& testCertificate();
// vsftpd with TLS required for logins and data, and session reuse on data
// connections; explicit ("AUTH TLS") or implicit; with the certificate for
// "localhost", or the one for another host.
const ServerInfo& vsftpdTls(bool implicit, bool otherHost = false);
// pure-ftpd with TLS required for logins and data ("-Y 3"), explicit only
// (Debian's build has no implicit TLS), serving the user "ftptest" from
// <root>/ftptest as a virtual user (chrooted: its folder is "/").
const ServerInfo& pureFtpdTls();
// proftpd with mod_tls ("TLSRequired on", data sessions must reuse the
// control session, as mod_tls asks by default), explicit or implicit,
// serving "ftptest" from <root>/ftptest.
const ServerInfo& proftpdTls(bool implicit);
// The same two servers without TLS: both offer MLSD, MFMT, UTF8 and EPSV.
const ServerInfo& pureFtpd();
const ServerInfo& proftpd();
const ServerInfo& pyftpdlib();
// SOCKS 4/5 proxy that reaches 127.0.0.1 only: a request for any other
// address (for example 127.0.0.2) is refused with SOCKS 4 code 91.
const ServerInfo& dante();
// ftp-proxy: "USER user@host:port" picks the server.
const ServerInfo& ftpProxy();

// How an own pyftpdlib speaks: UTF-8 names; or GB18030 names (listings,
// replies, commands) while the files on disk keep UTF-8 names (gbk_ftpd.py),
// on 127.0.0.1 or on ::1 only.
enum class OwnWire { Utf8, Gbk, GbkOnIPv6 };

// A pyftpdlib of the caller's own on port, serving the user "ftptest"
// (password "ftppass") from home: the caller may kill it and start another.
// Running when returned (it answers on port). bytesPerSecond > 0 throttles
// its data connections (UTF-8 wire only); connectionsPerAddress > 0 makes it
// refuse more logins from one address ("421 Too many connections").
std::unique_ptr<QProcess> startOwnPyftpdlib(quint16 port, const QString& home, int bytesPerSecond = 0,
                                            OwnWire wire = OwnWire::Utf8, int connectionsPerAddress = 0);

// That server with its own home holding the given files (their folders made),
// on a free port; stopped (and woken first, if a test stopped it) when it goes.
struct OwnPyftpdlib {
    QTemporaryDir root;
    QString home;
    quint16 port;
    std::unique_ptr<QProcess> process;
    explicit OwnPyftpdlib(const std::vector<std::pair<QString, QByteArray>>& files = {}, int bytesPerSecond = 0,
                          OwnWire wire = OwnWire::Utf8, int connectionsPerAddress = 0);
    ~OwnPyftpdlib();
};

// An FTPS server (explicit TLS, any login, the test certificate) whose
// downloads end as mode says: "clean", "exact" (no close_notify, the size
// announced), "short", "nosize" or "plaintext" (TLS dropped mid-transfer);
// see tls_misbehaving_ftp.py. Killed when the process object goes.
struct MisbehavingFtps {
    quint16 port;
    std::unique_ptr<QProcess> process;
    explicit MisbehavingFtps(const QString& mode);
    ~MisbehavingFtps();
    static constexpr int DownloadSize = 300000;
};

// OpenSSH's server of the caller's own on a free loopback port, with its own
// configuration and host key (the type given: "ed25519", "ecdsa", "rsa"):
// the user "ftptest" logs in with the password "ftppass" or with a key listed
// in authorizedKeys(); SFTP by internal-sftp. Running when made.
struct OwnSshd {
    QTemporaryDir dir;
    quint16 port;
    std::unique_ptr<QProcess> process;
    // keyboardInteractive: passwords only through PAM's keyboard-interactive questions.
    explicit OwnSshd(const QString& hostKeyType = QStringLiteral("ed25519"), bool keyboardInteractive = false);
    ~OwnSshd();
    QString authorizedKeys() const { return dir.path() + QStringLiteral("/authorized_keys"); }
    // Listens again on the same port; with newHostKey, under a key made anew.
    void restart(bool newHostKey, const QString& hostKeyType = QStringLiteral("ed25519"));
    void stop();
    // As a crash: the server and every session it forked are killed.
    void kill();

private:
    void start();
};

// A D-Bus session bus of the test's own, on which nothing is started on
// demand, and (withKeyring) GNOME's keyring daemon on it: its keyrings in a
// throw-away folder, the login keyring made and unlocked with a password of
// the test's. This process's session bus is that one from then on
// (DBUS_SESSION_BUS_ADDRESS): make it before anything talks to the bus, and
// once in a process (Qt and GLib keep their first bus; ctest runs every test
// in a process of its own).
struct OwnKeyring {
    QTemporaryDir dir;
    QString address;
    std::unique_ptr<QProcess> bus, daemon;
    explicit OwnKeyring(bool withKeyring = true);
    ~OwnKeyring();
    // The daemon stopped and started again on the same keyrings.
    void restartDaemon();
    // The login keyring locked, as after a screen lock; nobody is on this bus
    // to answer the unlock prompt, so reads and writes fail at once.
    void lock() const;
    // What secret-tool (libsecret's own) reads for a QtKeychain item; "" when none.
    QString lookup(const QString& service, const QString& key) const;
    // For a child process: this bus.
    QProcessEnvironment environment() const;

private:
    void startDaemon();
    void stopDaemon();
    // One method call on this bus through dbus-send; false when it failed.
    bool call(const QString& destination, const QString& path, const QString& method, const QString& argument,
              QByteArray* reply = nullptr) const;
};

// A key pair folder/id_ed25519 (and .pub) under passphrase ("": none); its
// public line appended to authorizedKeys when that is given.
void makeSshKey(const QString& folder, const QString& passphrase, const QString& authorizedKeys = QString());

// Stops every server started so far (also done at exit).
void stopAll();
}  // namespace RealServers
