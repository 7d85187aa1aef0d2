#include "sites/Netrc.h"

#include "common/Text.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <vector>

namespace {

struct TTokens {
    std::string_view text;
    size_t at = 0;

    bool blank(char c) const { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

    std::optional<std::string> next()
    {
        while (at < text.size()) {
            if (blank(text[at])) {
                ++at;
            } else if (text[at] == '#' && (at == 0 || text[at - 1] == '\n')) {
                while (at < text.size() && text[at] != '\n')
                    ++at;
            } else {
                break;
            }
        }
        if (at >= text.size())
            return std::nullopt;
        std::string token;
        if (text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) {
                    const char c = text[++at];
                    token += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                } else {
                    token += text[at];
                }
            }
            if (at < text.size())
                ++at;  // the closing quote
            return token;
        }
        while (at < text.size() && !blank(text[at]))
            token += text[at++];
        return token;
    }

    // A macro's body: every line up to the first empty one.
    void skipMacro()
    {
        const size_t end = text.find("\n\n", at);
        at = end == std::string_view::npos ? text.size() : end + 2;
    }
};

struct TEntry {
    bool isDefault = false;
    std::string machine;
    TNetrcLogin login;
};

std::vector<TEntry> entries(std::string_view text)
{
    std::vector<TEntry> out;
    TTokens t{text};
    while (std::optional<std::string> word = t.next()) {
        if (*word == "machine") {
            out.push_back({false, t.next().value_or(std::string()), {}});
        } else if (*word == "default") {
            out.push_back({true, {}, {}});
        } else if (*word == "macdef") {
            t.next();
            t.skipMacro();
        } else if (out.empty()) {
            continue;  // a value before any machine
        } else if (*word == "login") {
            out.back().login.login = t.next().value_or(std::string());
        } else if (*word == "password") {
            out.back().login.password = t.next().value_or(std::string());
        } else if (*word == "account") {
            out.back().login.account = t.next().value_or(std::string());
        }
    }
    return out;
}

}  // namespace

std::optional<TNetrcLogin> FindNetrcLogin(std::string_view text, const std::string& host, const std::string& user)
{
    const auto fits = [&](const TEntry& e) { return user.empty() || e.login.login.empty() || e.login.login == user; };
    const std::vector<TEntry> all = entries(text);
    for (const TEntry& e : all)
        if (!e.isDefault && AsciiLower(e.machine) == AsciiLower(host) && fits(e))
            return e.login;
    for (const TEntry& e : all)
        if (e.isDefault && fits(e))
            return e.login;
    return std::nullopt;
}

std::optional<TNetrcLogin> ReadNetrcLogin(const std::string& host, const std::string& user, std::string* refusal)
{
    const QByteArray fromEnvironment = qgetenv("NETRC");
    const QString path =
        fromEnvironment.isEmpty() ? QDir::homePath() + QStringLiteral("/.netrc") : QFile::decodeName(fromEnvironment);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = f.read(1024 * 1024);
    std::optional<TNetrcLogin> found = FindNetrcLogin(std::string_view(text.constData(), text.size()), host, user);
    struct stat st {};
    if (found && found->password && ::fstat(f.handle(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        found->password.reset();
        if (refusal)
            *refusal = path.toStdString() + " 可被其他用户读取: 不使用其中的密码 (chmod 600)";
    }
    return found;
}

void CompleteLogin(const std::string& host, std::optional<std::string>& user, std::optional<std::string>& password,
                   std::string* refusal)
{
    if (!password && qEnvironmentVariableIsSet("CORVYNE_PASSWORD"))
        password = qEnvironmentVariable("CORVYNE_PASSWORD").toStdString();
    if (password)
        return;
    if (const auto netrc = ReadNetrcLogin(host, user.value_or(std::string()), refusal)) {
        if (!user && !netrc->login.empty())
            user = netrc->login;
        password = netrc->password;
    }
}
