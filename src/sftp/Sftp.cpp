#include "sftp/Sftp.h"

#include <QDateTime>
#include <QDir>
#include <QMetaObject>

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>

namespace {
// A hostile or broken server cannot make a listing grow without end.
constexpr size_t MaxEntries = 1'000'000;

std::string sshDir(const TSftpLogin& login)
{
    return login.SshDir.empty() ? (QDir::homePath() + QStringLiteral("/.ssh")).toStdString() : login.SshDir;
}

// Permission bits as the octal digits the rows keep (0640 -> 640).
int modeDigits(uint32_t permissions)
{
    return static_cast<int>(((permissions >> 6) & 7) * 100 + ((permissions >> 3) & 7) * 10 + (permissions & 7));
}

std::string errnoText(int e)
{
    return std::strerror(e);
}

// Writes all of it, or false.
bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

struct TSftpSession::Session {
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    ssh_callbacks_struct callbacks{};
    std::function<std::optional<std::string>(const std::string&, bool)> asker;  // for the passphrase callback
    std::atomic<int> fd{-1};
    uint32_t writeSize = TSftpSession::SmallWriteSize;
    // The question being asked on the window's thread, answered empty when
    // the session goes first.
    std::shared_ptr<std::promise<std::optional<std::string>>> pending;
};

TSftpSession::TSftpSession(QObject* parent) : QObject(parent), m_s(std::make_unique<Session>())
{
    qRegisterMetaType<TSftpResult>();
    m_thread = std::thread([this] { worker(); });
}

TSftpSession::~TSftpSession()
{
    bool busy = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
        m_jobs.clear();
        if (m_s->pending)
            m_s->pending->set_value(std::nullopt);
        m_s->pending.reset();
        busy = m_running;
    }
    if (busy) {
        // A call blocked on the network returns at once; an idle session
        // says goodbye to the server below instead.
        m_abort = true;
        if (const int fd = m_s->fd; fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_wake.notify_all();
    m_thread.join();
    close();
}

void TSftpSession::queue(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void TSftpSession::worker()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> g(m_lock);
            m_running = false;
            m_wake.wait(g, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_running = true;
        }
        m_abort = false;
        m_moved = 0;
        job();
    }
}

void TSftpSession::finish(TSftpResult r)
{
    // Failed because the session is gone (the server closed it, the
    // connection broke): the caller's drop to come back from.
    r.Lost = !r.Success && r.Op != TSftpOp::Connect && (!m_s->ssh || !ssh_is_connected(m_s->ssh));
    QMetaObject::invokeMethod(this, [this, r = std::move(r)] { Q_EMIT Done(r); }, Qt::QueuedConnection);
}

void TSftpSession::log(const std::string& text, bool error)
{
    QMetaObject::invokeMethod(
        this, [this, t = QString::fromStdString(text), error] { Q_EMIT LogLine(t, error); }, Qt::QueuedConnection);
}

std::optional<std::string> TSftpSession::ask(const std::string& prompt, bool echo)
{
    auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
    std::future<std::optional<std::string>> f = answer->get_future();
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stop)
            return std::nullopt;
        m_s->pending = answer;
    }
    QMetaObject::invokeMethod(
        this,
        [this, answer, prompt, echo] {
            std::optional<std::string> a = AskSecret ? AskSecret(prompt, echo) : std::nullopt;
            std::lock_guard<std::mutex> g(m_lock);
            if (m_s->pending == answer) {
                answer->set_value(std::move(a));
                m_s->pending.reset();
            }
        },
        Qt::QueuedConnection);
    return f.get();
}

bool TSftpSession::askHostKey(const THostKey& key)
{
    auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
    std::future<std::optional<std::string>> f = answer->get_future();
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stop)
            return false;
        m_s->pending = answer;
    }
    QMetaObject::invokeMethod(
        this,
        [this, answer, key] {
            const bool trusted = AskHostKey && AskHostKey(key);
            std::lock_guard<std::mutex> g(m_lock);
            if (m_s->pending == answer) {
                answer->set_value(trusted ? std::optional<std::string>("yes") : std::nullopt);
                m_s->pending.reset();
            }
        },
        Qt::QueuedConnection);
    return f.get().has_value();
}

std::string TSftpSession::error() const
{
    if (m_s->sftp && sftp_get_error(m_s->sftp) != SSH_FX_OK) {
        switch (sftp_get_error(m_s->sftp)) {
            case SSH_FX_NO_SUCH_FILE:
            case SSH_FX_NO_SUCH_PATH:
                return "没有这个文件或目录";
            case SSH_FX_PERMISSION_DENIED:
                return "权限不够";
            case SSH_FX_FILE_ALREADY_EXISTS:
                return "文件已存在";
            case SSH_FX_OP_UNSUPPORTED:
                return "服务器不支持这个操作";
            default:
                break;
        }
    }
    return m_s->ssh ? ssh_get_error(m_s->ssh) : "没有连接";
}

void TSftpSession::close()
{
    if (m_s->sftp)
        sftp_free(m_s->sftp);
    m_s->sftp = nullptr;
    if (m_s->ssh) {
        if (ssh_is_connected(m_s->ssh))
            ssh_disconnect(m_s->ssh);
        ssh_free(m_s->ssh);
    }
    m_s->ssh = nullptr;
    m_s->fd = -1;
    m_loggedIn = false;
}

std::string TSftpSession::Home() const
{
    std::lock_guard<std::mutex> g(m_homeLock);
    return m_home;
}

void TSftpSession::AskThrough(IPrompt& prompt)
{
    AskHostKey = [&prompt](const THostKey& k) {
        return prompt.AskHostKey({k.Host + ":" + std::to_string(k.Port), k.Type, k.Sha256});
    };
    AskSecret = [&prompt](const std::string& question, bool) -> std::optional<std::string> {
        std::string secret;
        if (!prompt.AskSecret("SFTP 登录", question, secret))
            return std::nullopt;
        return secret;
    };
}

// ---------------------------------------------------------------- operations

void TSftpSession::Connect(const TSftpLogin& login)
{
    queue([this, login] { finish(connect(login)); });
}

void TSftpSession::List(const std::string& path)
{
    queue([this, path] { finish(list(path)); });
}

void TSftpSession::Download(const std::string& remote, const std::string& local, int64_t offset, TPace pace,
                            int64_t size)
{
    queue([this, remote, local, offset, pace = std::move(pace), size] {
        finish(download(remote, local, offset, pace, size));
    });
}

void TSftpSession::Upload(const std::string& local, const std::string& remote, int64_t offset, TPace pace)
{
    queue([this, local, remote, offset, pace = std::move(pace)] { finish(upload(local, remote, offset, pace)); });
}

namespace {
// One call on a path that returns 0 on success.
// why: the error's words, asked for only when it failed.
template <typename Call, typename Why>
TSftpResult simple(TSftpOp op, const std::string& path, bool connected, Call call, Why why)
{
    TSftpResult r;
    r.Op = op;
    r.Path = path;
    r.Success = connected && call() == 0;
    if (!r.Success)
        r.Error = why();
    return r;
}
}  // namespace

void TSftpSession::MakeDir(const std::string& path)
{
    queue([this, path] {
        finish(simple(
            TSftpOp::MakeDir, path, m_s->sftp, [&] { return sftp_mkdir(m_s->sftp, path.c_str(), 0755); },
            [this] { return error(); }));
    });
}

void TSftpSession::RemoveDir(const std::string& path)
{
    queue([this, path] {
        finish(simple(
            TSftpOp::RemoveDir, path, m_s->sftp, [&] { return sftp_rmdir(m_s->sftp, path.c_str()); },
            [this] { return error(); }));
    });
}

void TSftpSession::Remove(const std::string& path)
{
    queue([this, path] {
        finish(simple(
            TSftpOp::Remove, path, m_s->sftp, [&] { return sftp_unlink(m_s->sftp, path.c_str()); },
            [this] { return error(); }));
    });
}

void TSftpSession::Rename(const std::string& from, const std::string& to)
{
    queue([this, from, to] {
        finish(simple(
            TSftpOp::Rename, from, m_s->sftp, [&] { return sftp_rename(m_s->sftp, from.c_str(), to.c_str()); },
            [this] { return error(); }));
    });
}

void TSftpSession::Chmod(const std::string& path, int mode)
{
    queue([this, path, mode] {
        // The rows' digits (640) as the bits (0640).
        const mode_t bits = static_cast<mode_t>((mode / 100 % 10) * 64 + (mode / 10 % 10) * 8 + mode % 10);
        finish(simple(
            TSftpOp::Chmod, path, m_s->sftp, [&] { return sftp_chmod(m_s->sftp, path.c_str(), bits); },
            [this] { return error(); }));
    });
}

void TSftpSession::Size(const std::string& path)
{
    queue([this, path] {
        TSftpResult r;
        r.Op = TSftpOp::Size;
        r.Path = path;
        if (sftp_attributes a = m_s->sftp ? sftp_stat(m_s->sftp, path.c_str()) : nullptr) {
            r.Success = (a->flags & SSH_FILEXFER_ATTR_SIZE) != 0;
            r.Bytes = static_cast<int64_t>(a->size);
            sftp_attributes_free(a);
        }
        if (!r.Success)
            r.Error = error();
        finish(std::move(r));
    });
}

void TSftpSession::Enter(const std::string& path)
{
    queue([this, path] {
        TSftpResult r;
        r.Op = TSftpOp::Enter;
        r.Path = path;
        char* real = m_s->sftp ? sftp_canonicalize_path(m_s->sftp, path.c_str()) : nullptr;
        if (real) {
            r.Path = real;
            ssh_string_free_char(real);
            if (sftp_attributes a = sftp_stat(m_s->sftp, r.Path.c_str())) {
                r.Success = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
                sftp_attributes_free(a);
                if (!r.Success)
                    r.Error = "不是目录";
            }
        }
        if (!r.Success && r.Error.empty())
            r.Error = error();
        finish(std::move(r));
    });
}

void TSftpSession::Disconnect()
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_jobs.clear();
    }
    m_abort = true;
    queue([this] {
        close();
        log("连接已关闭");
    });
}

// ---------------------------------------------------------------- login

TSftpResult TSftpSession::connect(const TSftpLogin& login)
{
    TSftpResult r;
    r.Op = TSftpOp::Connect;
    close();
    m_s->ssh = ssh_new();
    ssh_session s = m_s->ssh;
    if (!s) {
        r.Error = "libssh 无法建立会话";
        return r;
    }
    const unsigned int port = static_cast<unsigned int>(login.Port);
    const long timeout = login.TimeoutSeconds;
    const bool no = false;
    const std::string dir = sshDir(login);
    ssh_options_set(s, SSH_OPTIONS_HOST, login.Host.c_str());
    ssh_options_set(s, SSH_OPTIONS_PORT, &port);
    if (!login.User.empty())
        ssh_options_set(s, SSH_OPTIONS_USER, login.User.c_str());
    ssh_options_set(s, SSH_OPTIONS_TIMEOUT, &timeout);
    // What the user set up for ssh(1) is not read: a site is what it says.
    ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no);
    // Each request is a small packet waiting for its answer: Nagle's
    // algorithm may hold one back until the peer acknowledges the last.
    const int yes = 1;
    ssh_options_set(s, SSH_OPTIONS_NODELAY, &yes);
    // AES-GCM first: processors with AES instructions encrypt it at half the
    // cost of ChaCha20-Poly1305, on both sides of a transfer. The rest of
    // libssh's own list follows for servers without it.
    const char* ciphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
                          "aes128-ctr,aes192-ctr,aes256-ctr";
    ssh_options_set(s, SSH_OPTIONS_CIPHERS_C_S, ciphers);
    ssh_options_set(s, SSH_OPTIONS_CIPHERS_S_C, ciphers);
    ssh_options_set(s, SSH_OPTIONS_SSH_DIR, dir.c_str());
    ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, (dir + "/known_hosts").c_str());
    log("连接到 " + login.Host + ", 端口 " + std::to_string(login.Port) + " (SFTP)");
    if (ssh_connect(s) != SSH_OK) {
        r.Error = "无法连接: " + std::string(ssh_get_error(s));
        close();
        return r;
    }
    m_s->fd = ssh_get_fd(s);
    if (!checkHostKey(login, r.Error) || !authenticate(login, r.Error)) {
        close();
        return r;
    }
    m_s->sftp = sftp_new(s);
    if (!m_s->sftp || sftp_init(m_s->sftp) != SSH_OK) {
        r.Error = "服务器不提供 SFTP: " + std::string(ssh_get_error(s));
        close();
        return r;
    }
    if (char* home = sftp_canonicalize_path(m_s->sftp, ".")) {
        std::lock_guard<std::mutex> g(m_homeLock);
        m_home = home;
        ssh_string_free_char(home);
    }
    m_s->writeSize = ssh_get_openssh_version(s) > 0 ? WriteSize : SmallWriteSize;
    m_loggedIn = true;
    log("已登录 (SFTP 版本 " + std::to_string(sftp_server_version(m_s->sftp)) + ", 加密 " +
        std::string(ssh_get_cipher_out(s) ? ssh_get_cipher_out(s) : "?") + ")");
    r.Success = true;
    r.Path = Home();
    return r;
}

bool TSftpSession::checkHostKey(const TSftpLogin& login, std::string& error)
{
    ssh_session s = m_s->ssh;
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(s, &key) != SSH_OK) {
        error = "无法读取服务器的主机密钥";
        return false;
    }
    unsigned char* hash = nullptr;
    size_t length = 0;
    THostKey k;
    k.Host = login.Host;
    k.Port = login.Port;
    k.Type = ssh_key_type_to_char(ssh_key_type(key)) ? ssh_key_type_to_char(ssh_key_type(key)) : "?";
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
        if (char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length)) {
            k.Sha256 = text;
            ssh_string_free_char(text);
        }
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);
    switch (ssh_session_is_known_server(s)) {
        case SSH_KNOWN_HOSTS_OK:
            k.State = THostKeyState::Known;
            return true;
        case SSH_KNOWN_HOSTS_CHANGED:
        case SSH_KNOWN_HOSTS_OTHER:
            // As OpenSSH does: never asked, never accepted.
            k.State = THostKeyState::Changed;
            error = "警告: 服务器的主机密钥已改变! 可能有人正在窃听 (中间人攻击), 也可能是主机密钥刚刚更换. " +
                    k.Type + " 密钥指纹为 " + k.Sha256 + ". 连接被拒绝; 如果更换是正当的, 从 " +
                    sshDir(login) + "/known_hosts 删除旧的密钥.";
            log(error, true);
            return false;
        case SSH_KNOWN_HOSTS_NOT_FOUND:
        case SSH_KNOWN_HOSTS_UNKNOWN:
            k.State = THostKeyState::Unknown;
            if (!askHostKey(k)) {
                error = "主机密钥不被信任, 连接取消 (" + k.Sha256 + ")";
                return false;
            }
            if (ssh_session_update_known_hosts(s) != SSH_OK)
                log("无法把主机密钥写入 known_hosts: " + std::string(ssh_get_error(s)), true);
            else
                log("主机密钥已加入 known_hosts: " + k.Type + " " + k.Sha256);
            return true;
        case SSH_KNOWN_HOSTS_ERROR:
        default:
            error = "无法检查主机密钥: " + std::string(ssh_get_error(s));
            return false;
    }
}

namespace {
int passphrase(const char* prompt, char* buf, size_t len, int echo, int, void* userdata)
{
    auto* ask = static_cast<std::function<std::optional<std::string>(const std::string&, bool)>*>(userdata);
    const std::optional<std::string> a = (*ask)(std::string("输入密钥的口令: ") + (prompt ? prompt : ""), echo != 0);
    if (!a || a->size() + 1 > len)
        return -1;
    std::memcpy(buf, a->c_str(), a->size() + 1);
    return 0;
}
}  // namespace

bool TSftpSession::authenticate(const TSftpLogin& login, std::string& error)
{
    ssh_session s = m_s->ssh;
    if (ssh_userauth_none(s, nullptr) == SSH_AUTH_SUCCESS)
        return true;
    const int methods = ssh_userauth_list(s, nullptr);
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        if (login.UseAgent && std::getenv("SSH_AUTH_SOCK") && ssh_userauth_agent(s, nullptr) == SSH_AUTH_SUCCESS) {
            log("已用 SSH 代理的密钥登录");
            return true;
        }
        // The keys of ~/.ssh only: libssh's automatic key login would ask
        // the agent too.
        if (!login.UseAgent)
            ssh_options_set(s, SSH_OPTIONS_IDENTITY_AGENT, "/nonexistent/corvyne-no-agent");
        m_s->asker = [this](const std::string& prompt, bool echo) { return ask(prompt, echo); };
        m_s->callbacks = {};
        m_s->callbacks.userdata = &m_s->asker;
        m_s->callbacks.auth_function = passphrase;
        ssh_callbacks_init(&m_s->callbacks);
        ssh_set_callbacks(s, &m_s->callbacks);
        if (ssh_userauth_publickey_auto(s, nullptr, nullptr) == SSH_AUTH_SUCCESS) {
            log("已用密钥登录");
            return true;
        }
    }
    if (methods & SSH_AUTH_METHOD_INTERACTIVE) {
        bool passwordGiven = false;
        int rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        while (rc == SSH_AUTH_INFO) {
            const int prompts = ssh_userauth_kbdint_getnprompts(s);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                const char* prompt = ssh_userauth_kbdint_getprompt(s, static_cast<unsigned int>(i), &echo);
                std::optional<std::string> a;
                // The site's password answers the first hidden prompt.
                if (!echo && !login.Password.empty() && !passwordGiven) {
                    a = login.Password;
                    passwordGiven = true;
                } else {
                    a = ask(prompt ? prompt : "", echo != 0);
                }
                if (!a) {
                    error = "登录取消";
                    return false;
                }
                ssh_userauth_kbdint_setanswer(s, static_cast<unsigned int>(i), a->c_str());
            }
            rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        }
        if (rc == SSH_AUTH_SUCCESS)
            return true;
    }
    if ((methods & SSH_AUTH_METHOD_PASSWORD) && !login.Password.empty() &&
        ssh_userauth_password(s, nullptr, login.Password.c_str()) == SSH_AUTH_SUCCESS)
        return true;
    error = "登录失败: 服务器不接受这个用户的口令或密钥";
    return false;
}

// ---------------------------------------------------------------- folders and files

TSftpResult TSftpSession::list(const std::string& path)
{
    TSftpResult r;
    r.Op = TSftpOp::List;
    r.Path = path;
    sftp_dir dir = m_s->sftp ? sftp_opendir(m_s->sftp, path.c_str()) : nullptr;
    if (!dir) {
        r.Error = error();
        return r;
    }
    while (sftp_attributes a = sftp_readdir(m_s->sftp, dir)) {
        const std::string name = a->name ? a->name : "";
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
            r.Entries.size() >= MaxEntries) {
            sftp_attributes_free(a);
            continue;
        }
        TSftpEntry e;
        e.Name = name;
        e.IsDir = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
        e.IsLink = a->type == SSH_FILEXFER_TYPE_SYMLINK;
        if (!e.IsDir && (a->flags & SSH_FILEXFER_ATTR_SIZE))
            e.Size = static_cast<int64_t>(a->size);
        if (a->flags & SSH_FILEXFER_ATTR_ACMODTIME)
            e.ModifiedUtc = static_cast<int64_t>(a->mtime);
        if (a->flags & SSH_FILEXFER_ATTR_PERMISSIONS)
            e.Mode = modeDigits(a->permissions);
        e.Owner = a->owner ? a->owner : std::to_string(a->uid);
        e.Group = a->group ? a->group : std::to_string(a->gid);
        r.Entries.push_back(std::move(e));
        sftp_attributes_free(a);
    }
    r.Success = sftp_dir_eof(dir) == 1;
    if (!r.Success)
        r.Error = error();
    sftp_closedir(dir);
    return r;
}

bool TSftpSession::paced(const TPace& pace, int64_t bytes)
{
    if (!pace)
        return true;
    for (;;) {
        bytes -= pace(bytes);
        if (bytes <= 0)
            return true;
        if (m_abort)
            return false;
        // The budget comes back in steps of an eightieth of a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TSftpResult TSftpSession::download(const std::string& remote, const std::string& local, int64_t offset,
                                   const TPace& pace, int64_t size)
{
    TSftpResult r;
    r.Op = TSftpOp::Download;
    r.Path = remote;
    sftp_file f = m_s->sftp ? sftp_open(m_s->sftp, remote.c_str(), O_RDONLY, 0) : nullptr;
    if (!f) {
        r.Error = error();
        return r;
    }
    const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (offset > 0 ? 0 : O_TRUNC), 0644);
    if (fd < 0 || (offset > 0 && ::lseek(fd, offset, SEEK_SET) != offset)) {
        r.Error = "无法写入到本地文件 (" + local + "): " + errnoText(errno);
        if (fd >= 0)
            ::close(fd);
        sftp_close(f);
        return r;
    }
    if (offset > 0)
        sftp_seek64(f, static_cast<uint64_t>(offset));
    // The size (as listed, or as the server tells it now): no read is asked
    // for past it, so a small file takes one read (not ReadsInFlight
    // answered "end of file"). A file that changed since its listing still
    // arrives whole: the reads go on, one at a time, to the end.
    if (size <= 0)
        size = -1;
    if (sftp_attributes a = size < 0 ? sftp_fstat(f) : nullptr) {
        if (a->flags & SSH_FILEXFER_ATTR_SIZE)
            size = static_cast<int64_t>(a->size);
        sftp_attributes_free(a);
    }
    // Reads are asked for ahead, ReadsInFlight at once; each answer is
    // written in order. A short answer before the end (a server may give
    // less) drops the answers already asked for and asks again from there;
    // one that reaches the size is the end.
    std::deque<std::pair<int, uint64_t>> asked;  // request id, its offset
    uint64_t next = static_cast<uint64_t>(offset), written = next;
    bool atEnd = false, failed = false;
    const auto wanted = [&] {
        // Past the size only to find the end when nothing else is asked for
        // (a file that grew, a server that told no size).
        return size < 0 || next < static_cast<uint64_t>(size) || asked.empty();
    };
    std::vector<char> buf(ReadSize);
    const auto drain = [&] {
        for (const auto& [id, at] : asked)
            sftp_async_read(f, buf.data(), ReadSize, static_cast<uint32_t>(id));
        asked.clear();
    };
    while (!failed) {
        while (!atEnd && asked.size() < static_cast<size_t>(ReadsInFlight) && wanted()) {
            const int id = sftp_async_read_begin(f, ReadSize);
            if (id < 0) {
                failed = true;
                break;
            }
            asked.emplace_back(id, next);
            next += ReadSize;
        }
        if (asked.empty() || failed)
            break;
        if (m_abort) {
            r.Error = "传输被中断";
            drain();
            failed = true;
            break;
        }
        const auto [id, at] = asked.front();
        asked.pop_front();
        const int n = sftp_async_read(f, buf.data(), ReadSize, static_cast<uint32_t>(id));
        if (n < 0) {
            failed = true;
            break;
        }
        if (n > 0 && !paced(pace, n)) {
            r.Error = "传输被中断";
            drain();
            failed = true;
            break;
        }
        if (n > 0 && !writeAll(fd, buf.data(), static_cast<size_t>(n))) {
            r.Error = "无法写入到本地文件 (" + local + "): " + errnoText(errno);
            drain();
            failed = true;
            break;
        }
        written += static_cast<uint64_t>(n);
        m_moved += n;
        if (n == 0 || (size >= 0 && written == static_cast<uint64_t>(size) && static_cast<uint32_t>(n) < ReadSize)) {
            atEnd = true;  // the answers still asked for say the same
        } else if (static_cast<uint32_t>(n) < ReadSize) {
            drain();
            sftp_seek64(f, written);
            next = written;
        }
    }
    drain();
    if (failed && r.Error.empty())
        r.Error = error();
    if (::close(fd) != 0 && !failed) {
        failed = true;
        r.Error = "无法写入到本地文件 (" + local + "): " + errnoText(errno);
    }
    sftp_close(f);
    r.Success = !failed;
    r.Bytes = static_cast<int64_t>(written) - offset;
    return r;
}

TSftpResult TSftpSession::upload(const std::string& local, const std::string& remote, int64_t offset, const TPace& pace)
{
    TSftpResult r;
    r.Op = TSftpOp::Upload;
    r.Path = remote;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || (offset > 0 && ::lseek(fd, offset, SEEK_SET) != offset)) {
        r.Error = "无法打开本地文件来读取 (" + local + "): " + errnoText(errno);
        if (fd >= 0)
            ::close(fd);
        return r;
    }
    sftp_file f = m_s->sftp ? sftp_open(m_s->sftp, remote.c_str(), O_WRONLY | O_CREAT | (offset > 0 ? 0 : O_TRUNC), 0644)
                            : nullptr;
    if (!f) {
        r.Error = error();
        ::close(fd);
        return r;
    }
    if (offset > 0)
        sftp_seek64(f, static_cast<uint64_t>(offset));
    std::vector<char> buf(m_s->writeSize);
    bool failed = false;
    for (;;) {
        if (m_abort) {
            r.Error = "传输被中断";
            failed = true;
            break;
        }
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.Error = "无法读取本地文件 (" + local + "): " + errnoText(errno);
            failed = true;
            break;
        }
        if (n == 0)
            break;
        if (!paced(pace, n)) {
            r.Error = "传输被中断";
            failed = true;
            break;
        }
        if (sftp_write(f, buf.data(), static_cast<size_t>(n)) != n) {
            failed = true;
            break;
        }
        m_moved += n;
        r.Bytes += n;
    }
    if (failed && r.Error.empty())
        r.Error = error();
    ::close(fd);
    if (sftp_close(f) != SSH_NO_ERROR && !failed) {
        failed = true;
        r.Error = error();
    }
    r.Success = !failed;
    return r;
}
