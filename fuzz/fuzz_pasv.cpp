// "PASV" replies of any bytes through the address parser.
#include "ftp/Ftp.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const std::string text = PassiveReplyText(reply);
    std::string host;
    uint16_t port = 0;
    if (ParsePassiveAddress(text, host, port) && host.size() > 15)
        __builtin_trap();  // an IPv4 address never needs more
    return 0;
}
