#pragma once
// The user's ~/.netrc, as ftp, curl and lftp read it: "machine", "default",
// "login", "password", "account" and "macdef" (whose lines, up to a blank
// one, are skipped); a token may be a double-quoted string with backslash
// escapes.

#include <optional>
#include <string>
#include <string_view>

struct TNetrcLogin {
    std::string login;
    std::optional<std::string> password;
    std::string account;
};

// The entry for host (letters in any case), or the "default" entry; when
// user is not empty, only an entry for that login (or one naming no login).
std::optional<TNetrcLogin> FindNetrcLogin(std::string_view text, const std::string& host, const std::string& user);

// The path ($NETRC, else ~/.netrc) and the entry from it. A file that others
// than its owner may read gives no password (why: in *refusal), as ftp does.
std::optional<TNetrcLogin> ReadNetrcLogin(const std::string& host, const std::string& user, std::string* refusal);

// A command line's login without a password: the password from the
// environment variable CORVYNE_PASSWORD, else from ~/.netrc, which gives the
// login too when none was given. A password given stays. Why .netrc gave no
// password, when it was refused, in *refusal.
void CompleteLogin(const std::string& host, std::optional<std::string>& user, std::optional<std::string>& password,
                   std::string* refusal);
