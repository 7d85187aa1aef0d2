// Option strings of any bytes: decoding never fails, and the encoded form of
// any decoded options decodes to the same options.
#include "sites/SiteDb.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TSiteOptions o = TSiteOptions::Decode(std::string(reinterpret_cast<const char*>(data), size));
    const std::string text = o.Encode();
    if (text.size() != 15 || TSiteOptions::Decode(text).Encode() != text)
        __builtin_trap();
    return 0;
}
