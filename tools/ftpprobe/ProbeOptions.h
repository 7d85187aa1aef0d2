#pragma once
#include "ftp/FtpTypes.h"

#include <optional>
#include <string>
#include <vector>

// Command line of ftpprobe: [options] HOST PORT USER PASSWORD [COMMAND]
struct ProbeOptions {
    std::string host;
    int port = 21;
    std::string user, password;
    TFirewallType firewall = fwNone;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUser, proxyPass;
    int retry = 1;
    int retryDelay = 0;
    int timeout = 15;
    std::string directory;
    bool help = false;
    // transfer after the login
    enum class Command { None, List, Get, Put } command = Command::None;
    std::string source, target;  // get: REMOTE LOCAL; put: LOCAL REMOTE
    bool passive = true;
    bool ascii = false;
    bool resume = false;
    bool appe = false;
    bool pasvAddress = false;
    TFtpTls tls = tlsOff;
    std::string trust;  // SHA-256 fingerprint of a certificate to accept ("AB:CD:...")
};

extern const char* const ProbeUsage;

// Parses the arguments (without the program name); on failure returns nothing
// and sets error.
std::optional<ProbeOptions> ParseProbeOptions(const std::vector<std::string>& args, std::string& error);

// A firewall type from its name without the "fw" prefix, in any letter case.
std::optional<TFirewallType> FirewallTypeFromName(const std::string& name);
