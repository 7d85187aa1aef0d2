// SFTP sessions against a real OpenSSH server started by the tests: host
// keys unknown, trusted and changed; password and key logins; listings,
// transfers both ways with resume, file commands; a dropped connection.
#include "RealServers.h"
#include "TestSupport.h"
#include "ftp/Ftp.h"
#include "ftp/Parser.h"
#include "sftp/Sftp.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
// One operation, waited for (its questions are answered meanwhile).
TSftpResult await(TSftpSession& s, const std::function<void()>& start, int ms = 60000)
{
    TSftpResult out;
    out.Error = "no answer";
    QEventLoop loop;
    const auto c = QObject::connect(&s, &TSftpSession::Done, &loop, [&](const TSftpResult& r) {
        out = r;
        loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    start();
    loop.exec();
    QObject::disconnect(c);
    return out;
}

void chownToServerUser(const QString& path)
{
    QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("ftptest"), path});
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A client with its own ~/.ssh, trusting the server's key when asked.
struct Client {
    QTemporaryDir home;
    QString sshDir = home.path() + QStringLiteral("/.ssh");
    TSftpSession s;
    int keyQuestions = 0;
    bool trust = true;
    std::vector<std::string> secretPrompts;
    std::optional<std::string> secret;
    Client()
    {
        QDir().mkpath(sshDir);
        s.AskHostKey = [this](const THostKey& k) {
            ++keyQuestions;
            lastKey = k;
            return trust;
        };
        s.AskSecret = [this](const std::string& prompt, bool) {
            secretPrompts.push_back(prompt);
            return secret;
        };
    }
    TSftpLogin login(const RealServers::OwnSshd& server, const std::string& password = "ftppass") const
    {
        TSftpLogin l;
        l.Host = "127.0.0.1";
        l.Port = server.port;
        l.User = "ftptest";
        l.Password = password;
        l.SshDir = sshDir.toStdString();
        l.UseAgent = false;
        return l;
    }
    TSftpResult connect(const RealServers::OwnSshd& server, const std::string& password = "ftppass")
    {
        const TSftpLogin l = login(server, password);
        return await(s, [&] { s.Connect(l); });
    }
    THostKey lastKey;
};
}  // namespace

// An unknown key is shown with its SHA-256 fingerprint; refused, nothing is
// written and there is no session; trusted, it goes into known_hosts in
// OpenSSH's form (ssh-keygen finds it) and is not asked about again; a
// changed key is refused without a question, loudly.
TEST(SftpHostKeys, UnknownIsAskedTrustedIsKeptAndChangedIsRefused)
{
    RealServers::OwnSshd server;
    Client c;
    c.trust = false;
    TSftpResult r = c.connect(server);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(c.keyQuestions, 1);
    EXPECT_EQ(c.lastKey.State, THostKeyState::Unknown);
    EXPECT_EQ(c.lastKey.Type, "ssh-ed25519");
    EXPECT_TRUE(c.lastKey.Sha256.starts_with("SHA256:")) << c.lastKey.Sha256;
    EXPECT_FALSE(c.s.LoggedIn());
    EXPECT_EQ(readAll(c.sshDir + "/known_hosts").trimmed(), QByteArray("<missing>"));

    // The fingerprint is the one ssh-keygen prints for the server's key.
    QProcess fp;
    fp.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-l"), QStringLiteral("-f"),
                                            server.dir.path() + QStringLiteral("/host_key.pub")});
    ASSERT_TRUE(fp.waitForFinished(10000));
    EXPECT_TRUE(fp.readAllStandardOutput().contains(QByteArray::fromStdString(c.lastKey.Sha256)));

    c.trust = true;
    r = c.connect(server);
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(c.keyQuestions, 2);
    QProcess find;
    find.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-F"), QStringLiteral("[127.0.0.1]:%1").arg(server.port),
                                              QStringLiteral("-f"), c.sshDir + QStringLiteral("/known_hosts")});
    ASSERT_TRUE(find.waitForFinished(10000));
    EXPECT_EQ(find.exitCode(), 0) << readAll(c.sshDir + "/known_hosts").toStdString();

    r = c.connect(server);
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(c.keyQuestions, 2);  // known now

    server.restart(true);
    r = c.connect(server);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(c.keyQuestions, 2);  // never asked
    EXPECT_NE(r.Error.find("主机密钥已改变"), std::string::npos) << r.Error;
    EXPECT_FALSE(c.s.LoggedIn());
}

// A wrong password fails; the right one logs in; a key logs in without a
// password, one under a passphrase once the passphrase is given, not when
// the question is cancelled.
TEST(SftpLogins, PasswordsAndKeysWithAndWithoutPassphrase)
{
    RealServers::OwnSshd server;
    Client c;
    TSftpResult r = c.connect(server, "wrong");
    EXPECT_FALSE(r.Success);
    EXPECT_NE(r.Error.find("登录失败"), std::string::npos) << r.Error;
    r = c.connect(server);
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_FALSE(c.s.Home().empty());

    RealServers::makeSshKey(c.sshDir, QString(), server.authorizedKeys());
    r = c.connect(server, "");
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_TRUE(c.secretPrompts.empty());

    Client locked;
    RealServers::makeSshKey(locked.sshDir, QStringLiteral("口令 secret"), server.authorizedKeys());
    locked.secret = std::nullopt;
    r = locked.connect(server, "");
    EXPECT_FALSE(r.Success);
    EXPECT_FALSE(locked.secretPrompts.empty());
    locked.secret = "口令 secret";
    r = locked.connect(server, "");
    ASSERT_TRUE(r.Success) << r.Error;
}

// The typed rows straight from the server's attributes; files down and up
// byte for byte, each resumed from the middle; the file commands as the
// disk sees them; what the server refuses, in its words.
TEST(SftpFiles, ListTransferResumeAndCommands)
{
    RealServers::OwnSshd server;
    QTemporaryDir remote;
    const QByteArray big = pattern(3 * 1024 * 1024 + 123, 1), text = pattern(1000, 2);
    QDir().mkpath(remote.path() + QStringLiteral("/子目录"));
    QFile f(remote.path() + QStringLiteral("/数据 1.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(big);
    f.close();
    QFile t(remote.path() + QStringLiteral("/子目录/b.txt"));
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write(text);
    t.close();
    QFile secret(remote.path() + QStringLiteral("/secret.txt"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("no");
    secret.close();
    chownToServerUser(remote.path());
    ::chmod(QFile::encodeName(remote.path() + QStringLiteral("/数据 1.bin")).constData(), 0640);
    ::chown(QFile::encodeName(remote.path() + QStringLiteral("/secret.txt")).constData(), 0, 0);
    ::chmod(QFile::encodeName(remote.path() + QStringLiteral("/secret.txt")).constData(), 0600);
    const std::string dir = remote.path().toStdString();

    Client c;
    std::vector<QString> logged;
    QObject::connect(&c.s, &TSftpSession::LogLine, [&](const QString& line, bool) { logged.push_back(line); });
    ASSERT_TRUE(c.connect(server).Success);
    // The cipher chosen for speed: AES-GCM, which OpenSSH offers.
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(),
                            [](const QString& l) { return l.contains(QStringLiteral("加密 aes128-gcm@openssh.com")); }));
    TSftpResult r = await(c.s, [&] { c.s.List(dir); });
    ASSERT_TRUE(r.Success) << r.Error;
    ASSERT_EQ(r.Entries.size(), 3u);
    const auto entry = [&](const std::string& name) {
        for (const TSftpEntry& e : r.Entries)
            if (e.Name == name)
                return e;
        return TSftpEntry{};
    };
    const TSftpEntry data = entry("数据 1.bin");
    EXPECT_EQ(data.Size, big.size());
    EXPECT_FALSE(data.IsDir);
    EXPECT_EQ(data.Mode, 640);
    EXPECT_EQ(data.Owner, "ftptest");
    EXPECT_EQ(data.ModifiedUtc, QFileInfo(remote.path() + QStringLiteral("/数据 1.bin")).lastModified().toSecsSinceEpoch());
    EXPECT_TRUE(entry("子目录").IsDir);

    QTemporaryDir local;
    const std::string down = local.filePath(QStringLiteral("down.bin")).toStdString();
    r = await(c.s, [&] { c.s.Download(dir + "/数据 1.bin", down); });
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(r.Bytes, big.size());
    EXPECT_EQ(readAll(QString::fromStdString(down)), big);

    // Resumed from the middle: the local file holds the first megabyte.
    QFile part(QString::fromStdString(down));
    ASSERT_TRUE(part.resize(1024 * 1024));
    r = await(c.s, [&] { c.s.Download(dir + "/数据 1.bin", down, 1024 * 1024); });
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(r.Bytes, big.size() - 1024 * 1024);
    EXPECT_EQ(readAll(QString::fromStdString(down)), big);

    // A listed size that is no longer true (the file grew, shrank, or grew
    // by less than a read since its listing): the file still arrives whole.
    for (const int64_t listed : {int64_t{1000}, int64_t{big.size() - 100}, int64_t{big.size() * 2}}) {
        r = await(c.s, [&] { c.s.Download(dir + "/数据 1.bin", down, 0, {}, listed); });
        ASSERT_TRUE(r.Success) << r.Error;
        EXPECT_EQ(readAll(QString::fromStdString(down)), big) << listed;
    }

    // Up, and an upload resumed where the server's copy ends.
    r = await(c.s, [&] { c.s.Upload(down, dir + "/子目录/上传.bin"); });
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(readAll(remote.path() + QStringLiteral("/子目录/上传.bin")), big);
    QFile serverCopy(remote.path() + QStringLiteral("/子目录/上传.bin"));
    ASSERT_TRUE(serverCopy.resize(777777));
    r = await(c.s, [&] { c.s.Upload(down, dir + "/子目录/上传.bin", 777777); });
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(r.Bytes, big.size() - 777777);
    EXPECT_EQ(readAll(remote.path() + QStringLiteral("/子目录/上传.bin")), big);

    // The file commands.
    ASSERT_TRUE(await(c.s, [&] { c.s.MakeDir(dir + "/新目录"); }).Success);
    EXPECT_TRUE(QFileInfo(remote.path() + QStringLiteral("/新目录")).isDir());
    ASSERT_TRUE(await(c.s, [&] { c.s.Rename(dir + "/子目录/b.txt", dir + "/新目录/c.txt"); }).Success);
    EXPECT_EQ(readAll(remote.path() + QStringLiteral("/新目录/c.txt")), text);
    ASSERT_TRUE(await(c.s, [&] { c.s.Chmod(dir + "/新目录/c.txt", 604); }).Success);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(remote.path() + QStringLiteral("/新目录/c.txt")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    r = await(c.s, [&] { c.s.Size(dir + "/新目录/c.txt"); });
    EXPECT_EQ(r.Bytes, text.size());
    r = await(c.s, [&] { c.s.RemoveDir(dir + "/新目录"); });
    EXPECT_FALSE(r.Success);  // not empty
    ASSERT_TRUE(await(c.s, [&] { c.s.Remove(dir + "/新目录/c.txt"); }).Success);
    ASSERT_TRUE(await(c.s, [&] { c.s.RemoveDir(dir + "/新目录"); }).Success);
    EXPECT_FALSE(QFileInfo::exists(remote.path() + QStringLiteral("/新目录")));

    // Refused by the server: a file it may not read, a folder that is not there.
    const std::string refusedTarget = local.filePath(QStringLiteral("secret.txt")).toStdString();
    r = await(c.s, [&] { c.s.Download(dir + "/secret.txt", refusedTarget); });
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Error, "权限不够");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(refusedTarget)));  // nothing made for it
    r = await(c.s, [&] { c.s.List(dir + "/没有"); });
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Error, "没有这个文件或目录");
    // A local file that cannot be written: the session goes on.
    r = await(c.s, [&] { c.s.Download(dir + "/数据 1.bin", local.path().toStdString()); });
    EXPECT_FALSE(r.Success);
    EXPECT_NE(r.Error.find("无法写入到本地文件"), std::string::npos) << r.Error;
    EXPECT_TRUE(await(c.s, [&] { c.s.List(dir); }).Success);
}

// The connection destroyed in the middle of a download: the file fails
// (never reported whole); a new session resumes it from what arrived and
// the file is whole.
TEST(SftpFiles, ADownloadCutByADroppedConnectionFailsAndResumesWhole)
{
    RealServers::OwnSshd server;
    QTemporaryDir remote;
    const QByteArray big = pattern(200 * 1024 * 1024, 3);
    QFile f(remote.path() + QStringLiteral("/big.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(big);
    f.close();
    chownToServerUser(remote.path());
    Client c;
    ASSERT_TRUE(c.connect(server).Success);
    QTemporaryDir local;
    const QString target = local.filePath(QStringLiteral("big.bin"));
    TSftpResult cut;
    bool ended = false;
    QObject::connect(&c.s, &TSftpSession::Done, [&](const TSftpResult& r) {
        cut = r;
        ended = true;
    });
    c.s.Download(remote.path().toStdString() + "/big.bin", target.toStdString());
    ASSERT_TRUE(WaitFor([&] { return c.s.Moved() > 1024 * 1024 || ended; }, 20000));
    ASSERT_FALSE(ended) << "the file came whole before the cut";
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-K"), QStringLiteral("dst"), QStringLiteral("127.0.0.1"),
                                    QStringLiteral("dport"), QStringLiteral("="), QStringLiteral(":%1").arg(server.port)});
    ASSERT_TRUE(ss.waitForFinished(10000));
    ASSERT_TRUE(WaitFor([&] { return ended; }, 30000));
    EXPECT_FALSE(cut.Success);
    const qint64 had = QFileInfo(target).size();
    EXPECT_LT(had, big.size());
    QObject::disconnect(&c.s, &TSftpSession::Done, nullptr, nullptr);

    ASSERT_TRUE(c.connect(server).Success);
    const TSftpResult r = await(c.s, [&] { c.s.Download(remote.path().toStdString() + "/big.bin", target.toStdString(), had); });
    ASSERT_TRUE(r.Success) << r.Error;
    EXPECT_EQ(r.Bytes, big.size() - had);
    EXPECT_EQ(readAll(target), big);
}

namespace {
// A prompt that answers host-key and passphrase questions as told and keeps them.
struct RecordingPrompt : IPrompt {
    void ShowMessage(MessageKind, const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
    bool AskHostKey(const HostKeyRequest& request) override
    {
        keys.push_back(request);
        return trust;
    }
    bool AskSecret(const std::string&, const std::string& prompt, std::string& answer) override
    {
        prompts.push_back(prompt);
        if (!secret)
            return false;
        answer = *secret;
        return true;
    }
    bool trust = false;
    std::optional<std::string> secret;
    std::vector<HostKeyRequest> keys;
    std::vector<std::string> prompts;
};
}  // namespace

// The questions go through the prompt interface: the server and the key's
// fingerprint shown; a prompt that answers nothing (an unattended run)
// trusts nothing; the passphrase is asked there too.
TEST(SftpHostKeys, QuestionsGoThroughThePromptAndNoAnswerTrustsNothing)
{
    RealServers::OwnSshd server;
    Client c;
    struct : IPrompt {
        void ShowMessage(MessageKind, const std::string&) override {}
        bool Confirm(const std::string&) override { return false; }
    } nobody;  // answers no question: the interface's own refusals
    c.s.AskThrough(nobody);
    TSftpResult r = c.connect(server);
    EXPECT_FALSE(r.Success);
    EXPECT_FALSE(QFileInfo::exists(c.sshDir + QStringLiteral("/known_hosts")));

    RecordingPrompt prompt;
    c.s.AskThrough(prompt);
    r = c.connect(server);
    EXPECT_FALSE(r.Success);
    ASSERT_EQ(prompt.keys.size(), 1u);
    EXPECT_EQ(prompt.keys[0].server, "127.0.0.1:" + std::to_string(server.port));
    EXPECT_EQ(prompt.keys[0].keyType, "ssh-ed25519");
    EXPECT_TRUE(prompt.keys[0].sha256.starts_with("SHA256:"));
    prompt.trust = true;
    ASSERT_TRUE(c.connect(server).Success);

    RealServers::makeSshKey(c.sshDir, QStringLiteral("短语"), server.authorizedKeys());
    prompt.secret = "短语";
    r = c.connect(server, "");
    ASSERT_TRUE(r.Success) << r.Error;
    ASSERT_FALSE(prompt.prompts.empty());
    EXPECT_EQ(prompt.keys.size(), 2u);  // known since the trust
}

// The FTP client's own operations over SFTP: the same calls and events the
// panes, the queue and the file commands use, against OpenSSH's server; the
// listing arrives as MLSD lines the listing parser reads.
TEST(SftpClient, TheFtpClientsOperationsAndEventsOverSftp)
{
    RealServers::OwnSshd server;
    QTemporaryDir remote, local;
    const QByteArray data = pattern(1024 * 1024 + 5, 7);
    QDir().mkpath(remote.path() + QStringLiteral("/目录"));
    QFile f(remote.path() + QStringLiteral("/目录/文件 1.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    chownToServerUser(remote.path());

    TFTPclient c;
    c.Sftp = true;
    c.FtpServer = "127.0.0.1";
    c.Port = server.port;
    c.UserName = "ftptest";
    c.UserPassword = "ftppass";
    QTemporaryDir home;
    c.SshDir = home.path().toStdString();
    int keyQuestions = 0;
    c.OnHostKey = [&](const IPrompt::HostKeyRequest& k) {
        ++keyQuestions;
        EXPECT_EQ(k.server, "127.0.0.1:" + std::to_string(server.port));
        return true;
    };
    std::string ended;
    const auto mark = [&](const char* what) { return [&ended, what](TFTPclient*) { ended = what; }; };
    c.OnLoggedIn = mark("login");
    c.OnDirectoryChanged = mark("cwd");
    c.OnListingDone = mark("list");
    c.OnFileReceived = mark("get");
    c.OnFileStored = mark("put");
    c.OnDirectoryCreated = mark("mkd");
    c.OnFileRenamed = mark("rename");
    c.OnFileDeleted = mark("dele");
    const auto await = [&](const char* what, const std::function<void()>& start) {
        ended.clear();
        start();
        return WaitFor([&] { return ended == what; }, 30000);
    };

    // Before any login: an operation fails at once, nothing is touched.
    ASSERT_TRUE(await("cwd", [&] { c.ChangeDir("/"); }));
    EXPECT_FALSE(c.Success());
    c.LocalFile = local.filePath(QStringLiteral("never.bin")).toStdString();
    c.RemoteFile = "文件 1.bin";
    ASSERT_TRUE(await("get", [&] { c.Download(false, false, 0); }));
    EXPECT_FALSE(c.Success());
    EXPECT_FALSE(QFileInfo::exists(local.filePath(QStringLiteral("never.bin"))));

    ASSERT_TRUE(await("login", [&] { c.Connect(); }));
    ASSERT_TRUE(c.Success()) << c.LastRefusal();
    EXPECT_TRUE(c.LoggedIn());
    EXPECT_EQ(keyQuestions, 1);
    EXPECT_EQ(c.ReplyState(), rsIdle);

    ASSERT_TRUE(await("cwd", [&] { c.ChangeDir(remote.path().toStdString() + "/目录"); }));
    ASSERT_TRUE(c.Success());
    EXPECT_EQ(c.InitialDirectory, remote.path().toStdString() + "/目录/");
    ASSERT_TRUE(await("list", [&] { c.List(); }));
    ASSERT_TRUE(c.Success());
    EXPECT_TRUE(c.ListingLines.Mlsd);
    TListParser parser;
    std::vector<TRemoteEntry> entries;
    for (const std::string_view line : c.ListingLines) {
        TRemoteEntry e;
        if (parser.ParseMlsdLine(std::string(line), e))
            entries.push_back(e);
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "文件 1.bin");
    EXPECT_EQ(entries[0].Size, data.size());
    EXPECT_EQ(entries[0].Owner, "ftptest");
    const QDateTime m = QFileInfo(remote.path() + QStringLiteral("/目录/文件 1.bin")).lastModified();
    EXPECT_EQ(entries[0].Date, TListingDate::Of(m.date(), QTime(m.time().hour(), m.time().minute(), m.time().second())));

    // A file down by its name in the folder, over an older local file of that name.
    const QString target = local.filePath(QStringLiteral("文件 1.bin"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("older");
    old.close();
    c.RemoteFile = "文件 1.bin";
    c.LocalFile = target.toStdString();
    ASSERT_TRUE(await("get", [&] { c.Download(false, false, data.size()); }));
    ASSERT_TRUE(c.Success()) << c.LastRefusal();
    EXPECT_EQ(readAll(target), data);
    EXPECT_EQ(c.TransferBytes, data.size());

    c.LocalFile = target.toStdString();
    c.RemoteFile = "上传.bin";
    c.ResumePos = 0;
    ASSERT_TRUE(await("put", [&] { c.Upload(false); }));
    ASSERT_TRUE(c.Success()) << c.LastRefusal();
    EXPECT_EQ(readAll(remote.path() + QStringLiteral("/目录/上传.bin")), data);

    ASSERT_TRUE(await("mkd", [&] { c.MakeDir("新"); }));
    EXPECT_TRUE(QFileInfo(remote.path() + QStringLiteral("/目录/新")).isDir());
    ASSERT_TRUE(await("rename", [&] { c.Rename("上传.bin", "新/改名.bin"); }));
    EXPECT_EQ(readAll(remote.path() + QStringLiteral("/目录/新/改名.bin")), data);
    ASSERT_TRUE(await("dele", [&] { c.DeleteRemoteFile("新/改名.bin"); }));
    EXPECT_FALSE(QFileInfo::exists(remote.path() + QStringLiteral("/目录/新/改名.bin")));

    // Refused: a folder that is not there; the session goes on.
    ASSERT_TRUE(await("cwd", [&] { c.ChangeDir("没有"); }));
    EXPECT_FALSE(c.Success());
    EXPECT_EQ(c.LastRefusal(), "没有这个文件或目录");
    EXPECT_EQ(c.InitialDirectory, remote.path().toStdString() + "/目录/");
    // A refused download leaves the user's file as it was.
    c.RemoteFile = "没有.bin";
    c.LocalFile = target.toStdString();
    ASSERT_TRUE(await("get", [&] { c.Download(false, false, 0); }));
    EXPECT_FALSE(c.Success());
    EXPECT_EQ(readAll(target), data);
    ASSERT_TRUE(await("cwd", [&] { c.ChangeDirUp(); }));
    EXPECT_EQ(c.InitialDirectory, remote.path().toStdString() + "/");
}

// The other two ways in: keys held by an SSH agent (SSH_AUTH_SOCK; no key
// file, no password), and a server that takes passwords only as PAM's
// keyboard-interactive questions (the site's password answers the first).
TEST(SftpLogins, TheAgentAndKeyboardInteractive)
{
    RealServers::OwnSshd server;
    QTemporaryDir agentKeys;
    RealServers::makeSshKey(agentKeys.path(), QString(), server.authorizedKeys());
    const QString socket = agentKeys.path() + QStringLiteral("/agent.sock");
    QProcess agent;
    agent.start(QStringLiteral("ssh-agent"), {QStringLiteral("-D"), QStringLiteral("-a"), socket});
    ASSERT_TRUE(agent.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(socket); }, 5000));
    QProcess add;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SSH_AUTH_SOCK"), socket);
    add.setProcessEnvironment(env);
    add.start(QStringLiteral("ssh-add"), {agentKeys.path() + QStringLiteral("/id_ed25519")});
    ASSERT_TRUE(add.waitForFinished(10000));
    ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();

    const QByteArray before = qgetenv("SSH_AUTH_SOCK");
    qputenv("SSH_AUTH_SOCK", QFile::encodeName(socket));
    Client viaAgent;  // its own ~/.ssh holds no key
    TSftpLogin l = viaAgent.login(server, "");
    l.UseAgent = true;
    TSftpResult r = await(viaAgent.s, [&] { viaAgent.s.Connect(l); });
    EXPECT_TRUE(r.Success) << r.Error;
    // Without the agent the same login fails: it was the agent's key.
    Client noAgent;
    l = noAgent.login(server, "");
    l.UseAgent = false;
    r = await(noAgent.s, [&] { noAgent.s.Connect(l); });
    EXPECT_FALSE(r.Success);
    if (before.isNull())
        qunsetenv("SSH_AUTH_SOCK");
    else
        qputenv("SSH_AUTH_SOCK", before);
    agent.kill();
    agent.waitForFinished();

    RealServers::OwnSshd pam(QStringLiteral("ed25519"), true);
    Client kbd;
    r = kbd.connect(pam, "wrong");
    EXPECT_FALSE(r.Success);
    r = kbd.connect(pam);
    EXPECT_TRUE(r.Success) << r.Error;
}
