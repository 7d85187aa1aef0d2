// Listing lines of any bytes through one parser: the first byte picks the
// server type, the rest is split at line feeds and fed in order.
#include "ftp/Parser.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    TListParser parser;
    parser.Now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    const auto type = static_cast<TFTPServerType>(data[0] % FtpServerTypeCount);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        TRemoteEntry e;
        parser.ParseListLine(type, text.substr(start, nl - start), e);
        start = nl + 1;
    }
    return 0;
}
