#include "ProbeOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>

const char* const ProbeUsage =
    "Usage: ftpprobe [options] HOST PORT USER PASSWORD [ls | get REMOTE LOCAL | put LOCAL REMOTE]\n"
    "Connects to an FTP server, logs in and prints every information and error\n"
    "event as its kind number, a tab and its text; then runs the command, if any,\n"
    "and prints its byte count, seconds and MB/s. Exit status 0 when the login and\n"
    "the command succeeded, 1 otherwise.\n"
    "\n"
    "Options:\n"
    "  --firewall TYPE      none, socks, site, userhost, userlogin, siteuserhost, userhost2\n"
    "  --proxy HOST:PORT    the firewall, FTP proxy or SOCKS 4 server\n"
    "  --proxy-user USER    proxy login (site, siteuserhost)\n"
    "  --proxy-pass PASS    proxy password (site, siteuserhost)\n"
    "  --retry N            connection attempts in all (default 1)\n"
    "  --retry-delay SECS   seconds between attempts (default 0)\n"
    "  --timeout SECS       connect and greeting time-out (default 15)\n"
    "  --dir DIRECTORY      directory to enter after login\n"
    "  --passive, --active  data connection mode (default passive)\n"
    "  --ascii              ASCII transfer (default binary)\n"
    "  --resume             get: resume from the local file's length;\n"
    "                       put: restart at the remote file's size\n"
    "  --appe               put --resume: resume with APPE instead of REST + STOR\n"
    "  --pasv-address       connect passive data connections to the address the\n"
    "                       server names (default: the server's own address)\n"
    "  --tls MODE           off, offered, explicit (AUTH TLS) or implicit\n"
    "  --trust SHA256       accept a certificate the system does not trust only\n"
    "                       with this fingerprint (AB:CD:...); otherwise refused\n"
    "  --help               this text\n";

namespace {
std::optional<int> parseInt(const std::string& text, int low, int high)
{
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}
}  // namespace

std::optional<TFirewallType> FirewallTypeFromName(const std::string& name)
{
    static const char* const names[] = {"none", "socks", "site", "userhost", "userlogin", "siteuserhost", "userhost2"};
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (int i = 0; i < FirewallTypeCount; ++i)
        if (lower == names[i])
            return static_cast<TFirewallType>(i);
    return std::nullopt;
}

std::optional<ProbeOptions> ParseProbeOptions(const std::vector<std::string>& args, std::string& error)
{
    ProbeOptions o;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
            positional.push_back(a);
            continue;
        }
        if (a == "--passive" || a == "--active") {
            o.passive = a == "--passive";
            continue;
        }
        if (a == "--pasv-address") {
            o.pasvAddress = true;
            continue;
        }
        if (a == "--ascii" || a == "--resume" || a == "--appe") {
            (a == "--ascii" ? o.ascii : a == "--resume" ? o.resume : o.appe) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "option " + a + " needs a value";
            return std::nullopt;
        }
        const std::string& v = args[++i];
        std::optional<int> n;
        if (a == "--firewall") {
            auto fw = FirewallTypeFromName(v);
            if (!fw) {
                error = "unknown firewall type: " + v;
                return std::nullopt;
            }
            o.firewall = *fw;
        } else if (a == "--proxy") {
            const size_t colon = v.rfind(':');
            if (colon == std::string::npos || colon == 0 || !(n = parseInt(v.substr(colon + 1), 1, 65535))) {
                error = "--proxy wants HOST:PORT, got " + v;
                return std::nullopt;
            }
            o.proxyHost = v.substr(0, colon);
            o.proxyPort = *n;
        } else if (a == "--tls") {
            if (v == "off" || v == "offered" || v == "explicit" || v == "implicit") {
                o.tls = v == "off" ? tlsOff : v == "offered" ? tlsIfOffered : v == "explicit" ? tlsExplicit : tlsImplicit;
            } else {
                error = "--tls wants off, offered, explicit or implicit, got " + v;
                return std::nullopt;
            }
        } else if (a == "--trust") {
            o.trust = v;
        } else if (a == "--proxy-user") {
            o.proxyUser = v;
        } else if (a == "--proxy-pass") {
            o.proxyPass = v;
        } else if (a == "--retry" || a == "--retry-delay" || a == "--timeout") {
            if (!(n = parseInt(v, 0, 1000000))) {
                error = a + " wants a number, got " + v;
                return std::nullopt;
            }
            (a == "--retry" ? o.retry : a == "--retry-delay" ? o.retryDelay : o.timeout) = *n;
        } else if (a == "--dir") {
            o.directory = v;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }
    if (positional.size() < 4) {
        error = "expected HOST PORT USER PASSWORD";
        return std::nullopt;
    }
    const std::vector<std::string> command(positional.begin() + 4, positional.end());
    if (!command.empty()) {
        const std::string& verb = command[0];
        if (verb == "ls" && command.size() == 1) {
            o.command = ProbeOptions::Command::List;
        } else if ((verb == "get" || verb == "put") && command.size() == 3) {
            o.command = verb == "get" ? ProbeOptions::Command::Get : ProbeOptions::Command::Put;
            o.source = command[1];
            o.target = command[2];
        } else {
            error = "expected ls, get REMOTE LOCAL or put LOCAL REMOTE after the password";
            return std::nullopt;
        }
    }
    auto port = parseInt(positional[1], 1, 65535);
    if (!port) {
        error = "bad port: " + positional[1];
        return std::nullopt;
    }
    o.host = positional[0];
    o.port = *port;
    o.user = positional[2];
    o.password = positional[3];
    if (o.firewall != fwNone && o.proxyHost.empty()) {
        error = "--firewall needs --proxy HOST:PORT";
        return std::nullopt;
    }
    return o;
}
