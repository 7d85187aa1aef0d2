#include "RealServers.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

struct Running {
    ServerInfo info;
    std::unique_ptr<QProcess> process;
};

std::map<std::string, Running>& registry()
{
    static std::map<std::string, Running> servers;
    return servers;
}

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("test server: " + what);
}

// A passive-port range of 50 ports, different for each test process.
std::pair<int, int> passiveRange(int server)
{
    const int base = 42000 + static_cast<int>((::getpid() * 7 + server * 53) % 400) * 50;
    return {base, base + 49};
}

void writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        fail("cannot write " + path.toStdString());
}

bool& stateFlag()
{
    static bool created = false;
    return created;
}

bool stateCreated()
{
    return stateFlag();
}

// stopAll at the application's end, whichever main the test program has
// (it also removes the state folder, which tests of their own servers make).
void cleanUpAtExit()
{
    static const bool registered = [] {
        qAddPostRoutine(RealServers::stopAll);
        return true;
    }();
    Q_UNUSED(registered);
}

QString stateDir()
{
    static QString dir = [] {
        cleanUpAtExit();
        stateFlag() = true;
        char tmpl[] = "/tmp/corvyne-tests-XXXXXX";
        if (!::mkdtemp(tmpl))
            fail("mkdtemp");
        ::chmod(tmpl, 0755);
        return QString::fromLocal8Bit(tmpl);
    }();
    return dir;
}

void chownTree(const QString& path, const char* user)
{
    passwd* pw = ::getpwnam(user);
    if (!pw)
        fail(std::string("no system user ") + user + " (run scripts/install-test-deps.sh)");
    QProcess::execute(QStringLiteral("chown"),
                      {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(pw->pw_uid).arg(pw->pw_gid), path});
}

void makeTree()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    const QString root = QString::fromStdString(RealServers::root());
    QDir().mkpath(root + QStringLiteral("/ftptest/子目录"));
    QDir().mkpath(root + QStringLiteral("/anon/pub"));
    writeFile(root + QStringLiteral("/ftptest/hello.txt"), "hello\n");
    writeFile(root + QStringLiteral("/ftptest/中文文件.txt"), "你好\n");
    writeFile(root + QStringLiteral("/anon/pub/readme.txt"), "anon\n");
    // A link into a deeper directory: leaving it by ".." must come back here.
    QDir().mkpath(root + QStringLiteral("/ftptest/子目录/深层"));
    QFile::link(QStringLiteral("子目录/深层"), root + QStringLiteral("/ftptest/link"));
    chownTree(root + QStringLiteral("/ftptest"), RealServers::User);
}

bool answers(quint16 port, const QString& host = QStringLiteral("127.0.0.1"))
{
    QTcpSocket s;
    s.connectToHost(host, port);
    return s.waitForConnected(200);
}

const ServerInfo& start(const std::string& name, const QString& program, const QStringList& args, quint16 port)
{
    cleanUpAtExit();
    auto& reg = registry();
    auto it = reg.find(name);
    if (it != reg.end())
        return it->second.info;
    Running r;
    r.info.name = name;
    r.info.port = port;
    r.process = std::make_unique<QProcess>();
    r.process->setProcessChannelMode(QProcess::MergedChannels);
    // Not the test's current folder: the window moves that into folders a
    // test removes, and a server started there (pyftpdlib reads its current
    // folder on every CWD) fails.
    r.process->setWorkingDirectory(stateDir());
    r.process->setStandardOutputFile(stateDir() + "/" + QString::fromStdString(name) + ".out");
    r.process->start(program, args);
    if (!r.process->waitForStarted(5000))
        fail(name + ": cannot start " + program.toStdString());
    // Bounded wait until the server accepts connections (it gives no other sign).
    QDeadlineTimer deadline(10000);
    while (!answers(r.info.port)) {
        if (r.process->state() == QProcess::NotRunning || deadline.hasExpired()) {
            QFile out(stateDir() + "/" + QString::fromStdString(name) + ".out");
            out.open(QIODevice::ReadOnly);
            fail(name + " did not open port " + std::to_string(r.info.port) + ": " + out.readAll().toStdString());
        }
        QThread::msleep(20);
    }
    return reg.emplace(name, std::move(r)).first->second.info;
}

}  // namespace

namespace RealServers {

std::string root()
{
    return (stateDir() + QStringLiteral("/root")).toStdString();
}

namespace {
// The configuration every vsftpd of the tests shares; extra lines after it.
const ServerInfo& startVsftpd(const std::string& name, int range, const QString& extra)
{
    makeTree();
    const quint16 port = ClosedLoopbackPort();
    const auto [lo, hi] = passiveRange(range);
    const QString dir = stateDir();
    const QString conf = dir + "/" + QString::fromStdString(name) + ".conf";
    QDir().mkpath(dir + "/vsftpd-empty");
    writeFile(conf, (QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                                   "background=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                                   "secure_chroot_dir=%2/vsftpd-empty\nanonymous_enable=YES\nanon_root=%3/anon\n"
                                   "no_anon_password=YES\nlocal_enable=YES\nlocal_root=%3/ftptest\nwrite_enable=YES\n"
                                   "local_umask=022\npam_service_name=vsftpd\npasv_enable=YES\npasv_min_port=%4\n"
                                   "pasv_max_port=%5\nport_enable=YES\nconnect_from_port_20=NO\nutf8_filesystem=YES\n"
                                   "xferlog_enable=YES\nvsftpd_log_file=%2/vsftpd.log\nasync_abor_enable=YES\n"
                                   // Listed but refused: a folder a test's run cannot enter.
                                   "deny_file={*.denied}\n")
                         .arg(port)
                         .arg(dir, QString::fromStdString(root()))
                         .arg(lo)
                         .arg(hi) +
                     extra)
                        .toUtf8());
    return start(name, QStringLiteral("/usr/sbin/vsftpd"), {conf}, port);
}
}  // namespace

const ServerInfo& vsftpd()
{
    return startVsftpd("vsftpd", 0, {});
}

const TlsCertificate& testCertificate()
{
    static const TlsCertificate made = [] {
        TlsCertificate c;
        const QString dir = stateDir() + "/tls";
        QDir().mkpath(dir);
        c.certificate = (dir + "/server.pem").toStdString();
        c.key = (dir + "/server.key").toStdString();
        c.otherHost = (dir + "/other.pem").toStdString();
        c.otherHostKey = (dir + "/other.key").toStdString();
        // Self-signed for "localhost" and 127.0.0.1, and one for another
        // host: made here, so no test depends on a stored key.
        auto make = [](const std::string& cert, const std::string& key, const QString& subject, const QString& alt) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(QStringLiteral("openssl"),
                    {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                     QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                     QStringLiteral("30"), QStringLiteral("-subj"), subject, QStringLiteral("-addext"), alt,
                     QStringLiteral("-keyout"), QString::fromStdString(key), QStringLiteral("-out"),
                     QString::fromStdString(cert)});
            if (!p.waitForFinished(60000) || p.exitCode() != 0)
                fail("openssl req: " + p.readAll().toStdString());
        };
        make(c.certificate, c.key, QStringLiteral("/CN=localhost/O=Corvyne tests"),
             QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"));
        make(c.otherHost, c.otherHostKey, QStringLiteral("/CN=other.example/O=Corvyne tests"),
             QStringLiteral("subjectAltName=DNS:other.example"));
        // vsftpd reads the key as root; nothing else needs it.
        return c;
    }();
    return made;
}

const ServerInfo& vsftpdTls(bool implicit, bool otherHost)
{
    const TlsCertificate& c = testCertificate();
    const std::string cert = otherHost ? c.otherHost : c.certificate;
    const std::string key = otherHost ? c.otherHostKey : c.key;
    // As sites run it: logins and data only in TLS, data connections must
    // resume the control connection's session.
    const QString extra = QStringLiteral("ssl_enable=YES\nrsa_cert_file=%1\nrsa_private_key_file=%2\n"
                                         "ssl_ciphers=HIGH\nrequire_ssl_reuse=YES\nforce_local_logins_ssl=YES\n"
                                         "force_local_data_ssl=YES\nallow_anon_ssl=YES\n%3")
                              .arg(QString::fromStdString(cert), QString::fromStdString(key),
                                   implicit ? QStringLiteral("implicit_ssl=YES\n") : QString());
    const std::string name = std::string("vsftpd-tls") + (implicit ? "-implicit" : "") + (otherHost ? "-other" : "");
    return startVsftpd(name, 10 + (implicit ? 1 : 0) + (otherHost ? 2 : 0), extra);
}

namespace {
// pure-ftpd and proftpd run from the packages scripts/install-deps.sh unpacks.
constexpr const char* UnpackedServers = "/opt/corvyne-test-servers/";
QString unpackedServer(const QString& relative)
{
    const QString path = QString::fromLatin1(UnpackedServers) + relative;
    if (!QFileInfo(path).isExecutable())
        fail(path.toStdString() + " is missing (run scripts/install-deps.sh --test)");
    return path;
}

// The start of the test user's line in the passwd format both servers read,
// up to its home folder; the password hashed by openssl as crypt(3) reads it.
QByteArray passwdLine(const QString& home)
{
    passwd* pw = ::getpwnam(RealServers::User);
    if (!pw)
        fail("no system user ftptest (run scripts/install-deps.sh --test)");
    QProcess p;
    p.start(QStringLiteral("openssl"), {QStringLiteral("passwd"), QStringLiteral("-6"), QString::fromLatin1(RealServers::Password)});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        fail("openssl passwd failed");
    const QByteArray hash = p.readAllStandardOutput().trimmed();
    return QStringLiteral("%1:%2:%3:%4::%5")
        .arg(QString::fromLatin1(RealServers::User), QString::fromLatin1(hash))
        .arg(pw->pw_uid)
        .arg(pw->pw_gid)
        .arg(home)
        .toUtf8();
}
}  // namespace

namespace {
const ServerInfo& pureFtpdServer(bool tls)
{
    makeTree();
    const QString dir = stateDir() + (tls ? QStringLiteral("/pure-ftpd") : QStringLiteral("/pure-ftpd-plain"));
    QDir().mkpath(dir);
    // A virtual user: pure-ftpd's own database, made from a passwd-format
    // file whose home ends in "/./" (chrooted there).
    const QString passwdFile = dir + QStringLiteral("/users.passwd");
    const QString database = dir + QStringLiteral("/users.pdb");
    writeFile(passwdFile,
              passwdLine(QString::fromStdString(root()) + QStringLiteral("/ftptest/./")) + "::::::::::::\n");
    if (QProcess::execute(unpackedServer(QStringLiteral("pure-ftpd/usr/bin/pure-pw")),
                          {QStringLiteral("mkdb"), database, QStringLiteral("-f"), passwdFile}) != 0)
        fail("pure-pw mkdb failed");
    const quint16 port = ClosedLoopbackPort();
    const auto [lo, hi] = passiveRange(tls ? 20 : 23);
    QStringList arguments{QStringLiteral("-S"),
                          QStringLiteral("127.0.0.1,%1").arg(port),
                          QStringLiteral("-p"),
                          QStringLiteral("%1:%2").arg(lo).arg(hi),
                          QStringLiteral("-l"),
                          QStringLiteral("puredb:") + database,
                          QStringLiteral("-H"),
                          QStringLiteral("-E")};
    if (tls) {
        const TlsCertificate& c = testCertificate();
        arguments << QStringLiteral("-Y") << QStringLiteral("3") << QStringLiteral("-2")
                  << QString::fromStdString(c.certificate) + QLatin1Char(',') + QString::fromStdString(c.key);
    }
    return start(tls ? "pure-ftpd-tls" : "pure-ftpd", unpackedServer(QStringLiteral("pure-ftpd/usr/sbin/pure-ftpd")),
                 arguments, port);
}

enum class ProftpdTls { Off, Explicit, Implicit };

const ServerInfo& proftpdServer(ProftpdTls mode)
{
    makeTree();
    const TlsCertificate& c = testCertificate();
    const bool implicit = mode == ProftpdTls::Implicit;
    const QString name = mode == ProftpdTls::Off ? QStringLiteral("proftpd")
                         : implicit             ? QStringLiteral("proftpd-tls-implicit")
                                                : QStringLiteral("proftpd-tls");
    const QString dir = stateDir() + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    const QString users = dir + QStringLiteral("/users.passwd");
    writeFile(users, passwdLine(QString::fromStdString(root()) + QStringLiteral("/ftptest")) + ":/bin/bash\n");
    QFile::setPermissions(users, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const quint16 port = ClosedLoopbackPort();
    const auto [lo, hi] = passiveRange(mode == ProftpdTls::Off ? 24 : implicit ? 22 : 21);
    const QString tls = mode == ProftpdTls::Off
                            ? QString()
                            : QStringLiteral("LoadModule mod_tls.c\nTLSEngine on\nTLSRequired on\n"
                                             "TLSRSACertificateFile %1\nTLSRSACertificateKeyFile %2\n"
                                             "TLSProtocol TLSv1.2 TLSv1.3\nTLSLog %3/tls.log\n%4")
                                  .arg(QString::fromStdString(c.certificate), QString::fromStdString(c.key), dir,
                                       implicit ? QStringLiteral("TLSOptions UseImplicitSSL\n") : QString());
    const QString conf = dir + QStringLiteral("/proftpd.conf");
    writeFile(conf, QStringLiteral("ServerName \"test proftpd\"\nServerType standalone\nDefaultAddress 127.0.0.1\n"
                                   "SocketBindTight on\nPort %1\nPassivePorts %2 %3\nUseIPv6 off\n"
                                   "User nobody\nGroup nogroup\nPidFile %4/proftpd.pid\n"
                                   "ScoreboardFile %4/proftpd.scoreboard\nDelayEngine off\n"
                                   "SystemLog %4/proftpd.log\nWtmpLog off\nUseReverseDNS off\nUseFtpUsers off\n"
                                   "AuthPAM off\nAuthOrder mod_auth_file.c\nAuthUserFile %5\nRequireValidShell off\n"
                                   "Umask 022\nAllowOverwrite on\nAllowRetrieveRestart on\nAllowStoreRestart on\n"
                                   "ModulePath %6\n%7")
                        .arg(port)
                        .arg(lo)
                        .arg(hi)
                        .arg(dir, users, QString::fromLatin1(UnpackedServers) + QStringLiteral("proftpd/usr/lib/proftpd"),
                             tls)
                        .toUtf8());
    return start(name.toStdString(), unpackedServer(QStringLiteral("proftpd/usr/sbin/proftpd")),
                 {QStringLiteral("-n"), QStringLiteral("-c"), conf}, port);
}
}  // namespace

const ServerInfo& pureFtpdTls()
{
    return pureFtpdServer(true);
}

const ServerInfo& pureFtpd()
{
    return pureFtpdServer(false);
}

const ServerInfo& proftpdTls(bool implicit)
{
    return proftpdServer(implicit ? ProftpdTls::Implicit : ProftpdTls::Explicit);
}

const ServerInfo& proftpd()
{
    return proftpdServer(ProftpdTls::Off);
}

QString pyftpdScript()
{
    const QString script = stateDir() + "/pyftpd.py";
    writeFile(script,
              "import sys\n"
              "from pyftpdlib.authorizers import DummyAuthorizer\n"
              "from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler\n"
              "from pyftpdlib.servers import FTPServer\n"
              "port, root, lo, hi = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])\n"
              "a = DummyAuthorizer()\n"
              "a.add_user('ftptest', 'ftppass', root + '/ftptest', perm='elradfmwMT')\n"
              "a.add_anonymous(root + '/anon')\n"
              "FTPHandler.authorizer = a\n"
              "FTPHandler.passive_ports = range(lo, hi + 1)\n"
              "if len(sys.argv) > 5:\n"
              "    ThrottledDTPHandler.read_limit = ThrottledDTPHandler.write_limit = int(sys.argv[5])\n"
              "    FTPHandler.dtp_handler = ThrottledDTPHandler\n"
              "import os\n"
              "server = FTPServer(('127.0.0.1', port), FTPHandler)\n"
              "server.max_cons_per_ip = int(os.environ.get('CORVYNE_CONNECTIONS_PER_ADDRESS', '0'))\n"
              "server.serve_forever()\n");
    return script;
}

const ServerInfo& pyftpdlib()
{
    makeTree();
    const quint16 port = ClosedLoopbackPort();
    const auto [lo, hi] = passiveRange(1);
    const QString script = pyftpdScript();
    return start(
        "pyftpdlib", QStringLiteral("/usr/bin/python3"),
        {script, QString::number(port), QString::fromStdString(root()), QString::number(lo), QString::number(hi)},
        port);
}

const ServerInfo& dante()
{
    const quint16 port = ClosedLoopbackPort();
    const QString dir = stateDir();
    const QString conf = dir + "/danted.conf";
    writeFile(conf, QStringLiteral("logoutput: %1/danted.log\n"
                                   "internal: 127.0.0.1 port = %2\n"
                                   "external: 127.0.0.1\n"
                                   "clientmethod: none\nsocksmethod: none\n"
                                   "user.privileged: root\nuser.unprivileged: nobody\n"
                                   "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                   "socks pass { from: 127.0.0.0/8 to: 127.0.0.1/32 command: connect bind bindreply }\n"
                                   "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n")
                        .arg(dir)
                        .arg(port)
                        .toUtf8());
    return start("dante", QStringLiteral("/usr/sbin/danted"),
                 {QStringLiteral("-f"), conf, QStringLiteral("-p"), dir + "/danted.pid"}, port);
}

const ServerInfo& ftpProxy()
{
    const quint16 port = ClosedLoopbackPort();
    const QString dir = stateDir();
    const QString conf = dir + "/ftp-proxy.conf";
    const QString logDir = dir + "/ftp-proxy-log";
    QDir().mkpath(logDir);
    chownTree(logDir, "nobody");
    writeFile(conf, QStringLiteral("[-Global-]\nListen 127.0.0.1\nPort %1\nDestinationAddress 127.0.0.1\n"
                                   "DestinationPort 21\nAllowMagicUser yes\nForkLimit 1000\n"
                                   "User nobody\nGroup nogroup\nLogDestination %2/ftp-proxy.log\n")
                        .arg(port)
                        .arg(logDir)
                        .toUtf8());
    return start("ftp-proxy", QStringLiteral("/usr/sbin/ftp-proxy"),
                 {QStringLiteral("-d"), QStringLiteral("-n"), QStringLiteral("-f"), conf}, port);
}

std::unique_ptr<QProcess> startOwnPyftpdlib(quint16 port, const QString& home, int bytesPerSecond, OwnWire wire,
                                            int connectionsPerAddress)
{
    // The script serves <root>/ftptest: a root whose ftptest folder is home.
    const QString root = home + QStringLiteral("/..");
    if (QFileInfo(home).fileName() != QStringLiteral("ftptest"))
        fail("startOwnPyftpdlib: the home folder must be named ftptest");
    QDir().mkpath(root + QStringLiteral("/anon"));
    const auto [lo, hi] = passiveRange(2);
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->setWorkingDirectory(stateDir());
    if (connectionsPerAddress > 0) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVYNE_CONNECTIONS_PER_ADDRESS"), QString::number(connectionsPerAddress));
        p->setProcessEnvironment(env);
    }
    QStringList args{pyftpdScript(), QString::number(port), root, QString::number(lo), QString::number(hi)};
    if (bytesPerSecond > 0)
        args << QString::number(bytesPerSecond);
    const QString host = wire == OwnWire::GbkOnIPv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
    if (wire != OwnWire::Utf8) {
        const auto [gbkLo, gbkHi] = passiveRange(3);
        args = QStringList{QFileInfo(QString::fromUtf8(__FILE__)).path() + QStringLiteral("/gbk_ftpd.py"),
                           QString::number(port), home, QString::number(gbkLo), QString::number(gbkHi), host};
    }
    p->start(QStringLiteral("/usr/bin/python3"), args);
    if (!p->waitForStarted(5000))
        fail("cannot start pyftpdlib");
    QDeadlineTimer deadline(10000);
    while (!answers(port, host)) {
        if (p->state() == QProcess::NotRunning || deadline.hasExpired())
            fail("own pyftpdlib did not open its port");
        QThread::msleep(20);
    }
    return p;
}

OwnPyftpdlib::OwnPyftpdlib(const std::vector<std::pair<QString, QByteArray>>& files, int bytesPerSecond,
                           OwnWire wire, int connectionsPerAddress)
    : home(root.path() + QStringLiteral("/ftptest")), port(ClosedLoopbackPort())
{
    QDir().mkpath(home);
    for (const auto& [name, data] : files) {
        QDir().mkpath(QFileInfo(home + "/" + name).path());
        WriteTestFile(home + "/" + name, data);
    }
    process = startOwnPyftpdlib(port, home, bytesPerSecond, wire, connectionsPerAddress);
}

OwnPyftpdlib::~OwnPyftpdlib()
{
    if (!process)
        return;
    ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
    process->kill();
    process->waitForFinished();
}

MisbehavingFtps::MisbehavingFtps(const QString& mode) : port(ClosedLoopbackPort())
{
    const TlsCertificate& c = testCertificate();
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral("/usr/bin/python3"),
                   {QFileInfo(QString::fromUtf8(__FILE__)).path() + QStringLiteral("/tls_misbehaving_ftp.py"),
                    QString::number(port),
                    QString::fromStdString(c.certificate), QString::fromStdString(c.key), mode});
    if (!process->waitForStarted(5000))
        fail("cannot start tls_misbehaving_ftp.py");
    QDeadlineTimer deadline(10000);
    while (!answers(port)) {
        if (process->state() == QProcess::NotRunning || deadline.hasExpired())
            fail("tls_misbehaving_ftp.py did not open its port");
        QThread::msleep(20);
    }
}

MisbehavingFtps::~MisbehavingFtps()
{
    process->kill();
    process->waitForFinished();
}

namespace {
void sshKeygen(const QString& file, const QString& type, const QString& passphrase)
{
    QFile::remove(file);
    QFile::remove(file + QStringLiteral(".pub"));
    QProcess p;
    p.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), type, QStringLiteral("-N"),
                                           passphrase, QStringLiteral("-f"), file, QStringLiteral("-C"),
                                           QStringLiteral("corvyne-test")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        fail("ssh-keygen failed: " + p.readAllStandardError().toStdString());
}
}  // namespace

void makeSshKey(const QString& folder, const QString& passphrase, const QString& authorizedKeys)
{
    QDir().mkpath(folder);
    QFile(folder).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString key = folder + QStringLiteral("/id_ed25519");
    sshKeygen(key, QStringLiteral("ed25519"), passphrase);
    if (!authorizedKeys.isEmpty()) {
        QFile pub(key + QStringLiteral(".pub")), out(authorizedKeys);
        if (!pub.open(QIODevice::ReadOnly) || !out.open(QIODevice::Append))
            fail("cannot list the key in " + authorizedKeys.toStdString());
        out.write(pub.readAll());
    }
}

OwnSshd::OwnSshd(const QString& hostKeyType, bool keyboardInteractive) : port(ClosedLoopbackPort())
{
    // The server's own folder for privilege separation.
    QDir().mkpath(QStringLiteral("/run/sshd"));
    sshKeygen(dir.path() + QStringLiteral("/host_key"), hostKeyType, QString());
    writeFile(authorizedKeys(), "");
    // sshd reads the keys as the user who logs in.
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(authorizedKeys()).constData(), 0644);
    writeFile(dir.path() + QStringLiteral("/sshd_config"),
              QStringLiteral("ListenAddress 127.0.0.1\n"
                             "Port %1\n"
                             "HostKey %2/host_key\n"
                             "PidFile %2/sshd.pid\n"
                             "AuthorizedKeysFile %2/authorized_keys\n"
                             "StrictModes no\n"
                             "%3"
                             "PermitRootLogin no\n"
                             "AllowUsers ftptest\n"
                             "Subsystem sftp internal-sftp\n"
                             "LogLevel ERROR\n")
                  .arg(port)
                  .arg(dir.path())
                  .arg(keyboardInteractive ? QStringLiteral("UsePAM yes\nPasswordAuthentication no\n"
                                                            "KbdInteractiveAuthentication yes\n")
                                           : QStringLiteral("UsePAM no\nPasswordAuthentication yes\n"
                                                            "KbdInteractiveAuthentication no\n"))
                  .toUtf8());
    start();
}

void OwnSshd::start()
{
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral("/usr/sbin/sshd"),
                   {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), dir.path() + QStringLiteral("/sshd_config")});
    if (!process->waitForStarted(5000))
        fail("cannot start sshd");
    QDeadlineTimer deadline(10000);
    while (!answers(port)) {
        if (process->state() == QProcess::NotRunning || deadline.hasExpired())
            fail("sshd did not open its port");
        QThread::msleep(20);
    }
}

void OwnSshd::stop()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
}

void OwnSshd::kill()
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    // Its sessions are its children (and theirs): found by their parent ids.
    std::multimap<qint64, qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.emplace(fields[1].toLongLong(), pid);
    }
    std::vector<qint64> tree{process->processId()};
    for (size_t i = 0; i < tree.size(); ++i)
        for (auto [it, end] = children.equal_range(tree[i]); it != end; ++it)
            tree.push_back(it->second);
    for (size_t i = 1; i < tree.size(); ++i)
        ::kill(static_cast<pid_t>(tree[i]), SIGKILL);
    process->kill();
    process->waitForFinished();
}

void OwnSshd::restart(bool newHostKey, const QString& hostKeyType)
{
    stop();
    if (newHostKey)
        sshKeygen(dir.path() + QStringLiteral("/host_key"), hostKeyType, QString());
    start();
}

OwnSshd::~OwnSshd()
{
    stop();
}

void stopAll()
{
    for (auto& [name, r] : registry()) {
        if (r.process && r.process->state() != QProcess::NotRunning) {
            r.process->terminate();
            if (!r.process->waitForFinished(3000)) {
                r.process->kill();
                r.process->waitForFinished(3000);
            }
        }
    }
    registry().clear();
    if (!std::getenv("CORVYNE_KEEP_TEST_STATE") && stateCreated())
        QDir(stateDir()).removeRecursively();
}

}  // namespace RealServers

namespace RealServers {

OwnKeyring::OwnKeyring(bool withKeyring)
{
    for (const char* sub : {"/bus", "/run", "/data", "/home"})
        QDir().mkpath(dir.path() + QString::fromLatin1(sub));
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/run")).constData(), 0700);
    // No <servicedir>: a name nobody owns stays unowned.
    writeFile(dir.path() + QStringLiteral("/bus.conf"),
              QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir=%1/bus</listen><auth>EXTERNAL</auth>\n"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                  .arg(dir.path())
                  .toUtf8());
    bus = std::make_unique<QProcess>();
    bus->setProcessChannelMode(QProcess::SeparateChannels);
    bus->setStandardErrorFile(QProcess::nullDevice());
    bus->start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + dir.path() + QStringLiteral("/bus.conf"),
                                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus->waitForStarted(5000))
        fail("cannot start dbus-daemon");
    QDeadlineTimer deadline(10000);
    while (!bus->canReadLine()) {
        if (deadline.hasExpired() || !bus->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            fail("dbus-daemon gave no address");
    }
    address = QString::fromUtf8(bus->readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    if (withKeyring)
        startDaemon();
}

OwnKeyring::~OwnKeyring()
{
    stopDaemon();
    if (bus) {
        bus->kill();
        bus->waitForFinished(5000);
    }
}

QProcessEnvironment OwnKeyring::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    return env;
}

void OwnKeyring::startDaemon()
{
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("HOME"), dir.path() + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path() + QStringLiteral("/run"));
    daemon = std::make_unique<QProcess>();
    daemon->setProcessEnvironment(env);
    daemon->setStandardOutputFile(QProcess::nullDevice());
    daemon->setStandardErrorFile(QProcess::nullDevice());  // its warnings about the missing unlock prompt
    // --unlock reads the login keyring's password (making the keyring the
    // first time) from the standard input.
    daemon->start(QStringLiteral("gnome-keyring-daemon"),
                  {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!daemon->waitForStarted(5000))
        fail("cannot start gnome-keyring-daemon");
    daemon->write("keyring password of the test");
    daemon->waitForBytesWritten(5000);  // no event loop runs here to do it later
    daemon->closeWriteChannel();
    // Ready once it owns the Secret Service's name on the bus.
    QDeadlineTimer deadline(15000);
    for (;;) {
        QByteArray reply;
        if (call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.NameHasOwner"), QStringLiteral("string:org.freedesktop.secrets"),
                 &reply) &&
            reply.contains("boolean true"))
            return;
        if (daemon->state() == QProcess::NotRunning || deadline.hasExpired())
            fail("gnome-keyring-daemon did not take its name on the bus");
        QThread::msleep(20);
    }
}

void OwnKeyring::stopDaemon()
{
    if (daemon && daemon->state() != QProcess::NotRunning) {
        daemon->terminate();
        if (!daemon->waitForFinished(5000)) {
            daemon->kill();
            daemon->waitForFinished(5000);
        }
    }
    daemon.reset();
}

void OwnKeyring::restartDaemon()
{
    stopDaemon();
    startDaemon();
}

bool OwnKeyring::call(const QString& destination, const QString& path, const QString& method, const QString& argument,
                      QByteArray* reply) const
{
    QProcess send;
    send.setProcessEnvironment(environment());
    send.start(QStringLiteral("dbus-send"), {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                             QStringLiteral("--dest=") + destination, path, method, argument});
    if (!send.waitForFinished(10000) || send.exitCode() != 0)
        return false;
    if (reply)
        *reply = send.readAllStandardOutput();
    return true;
}

void OwnKeyring::lock() const
{
    if (!call(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
              QStringLiteral("org.freedesktop.Secret.Service.Lock"),
              QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")))
        fail("cannot lock the keyring");
}

QString OwnKeyring::lookup(const QString& service, const QString& key) const
{
    // QtKeychain's items carry the attributes "server" (the service) and "user" (the key).
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"), service, QStringLiteral("user"), key});
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput());
}

}  // namespace RealServers
