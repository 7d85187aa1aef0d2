#pragma once
#include <string>

// Error codes reported by TCustomCorvSocket: the socket error numbers of the
// classic asynchronous socket API, plus the program's own code for a refused
// SOCKS request. POSIX errno values are mapped onto them so that users and
// stored logs see the same numbers and texts everywhere.
namespace SocketCode {
constexpr int NoError = 0;
constexpr int SocksRefused = 1027;
constexpr int TlsFailed = 1028;  // the TLS layer failed (handshake, a record, a protocol fault)
constexpr int WouldBlock = 10035;
constexpr int NotSocket = 10038;
constexpr int MessageTooLong = 10040;
constexpr int AddressNotAvailable = 10049;
constexpr int ConnectionReset = 10054;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int HostNotFound = 11001;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
}  // namespace SocketCode

// The message text for an error code; unknown codes get the generic text.
std::string SocketErrorText(int code);

// Maps a POSIX errno value onto the socket error numbers above.
int SocketCodeFromErrno(int err);
