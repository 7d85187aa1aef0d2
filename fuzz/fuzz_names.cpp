// Server bytes through what reads today's protocol: FEAT answers, EPSV
// replies and names in any charset. A name read as not differing from its
// text's UTF-8 must be exactly those bytes: rows keep no bytes of their own
// then, and every command would send the text's UTF-8 instead.
#include "ftp/Features.h"
#include "ftp/Ftp.h"
#include "ftp/NameCodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<std::string> lines;
    for (size_t at = 0; at <= bytes.size();) {
        const size_t nl = std::min(bytes.find('\n', at), bytes.size());
        lines.push_back(bytes.substr(at, nl - at));
        at = nl + 1;
    }
    TFtpFeatures features;
    features.ReadFeatReply(lines);
    (void)features.Summary();

    uint16_t port = 0;
    if (ParseEpsvReply(bytes, port) && port == 0)
        __builtin_trap();

    const TNameCodec codec(static_cast<TNameCharset>(data[0] % NameCharsetCount));
    bool differ = false;
    const QString text = codec.Decode(bytes, differ);
    if (!differ && text.toStdString() != bytes)
        __builtin_trap();
    (void)codec.DecodePath(bytes);
    (void)codec.Encode(text);
    return 0;
}
