// Listing lines of any bytes through the parser: the first byte picks the
// server type and how lines are grouped, the rest is split at line feeds and
// fed in order: as one listing (the first entry fixes the layout), as a
// listing per line (every layout chosen afresh), or as MLSD lines.
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
    const int mode = (data[0] / FtpServerTypeCount) % 3;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        const std::string line = text.substr(start, nl - start);
        TRemoteEntry e;
        if (mode == 2) {
            parser.ParseMlsdLine(line, e);
        } else {
            if (mode == 1 && parser.VmsPendingLine.empty())
                parser.BeginListing();
            parser.ParseListLine(type, line, e);
        }
        start = nl + 1;
    }
    return 0;
}
