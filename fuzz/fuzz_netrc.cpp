// Any bytes as a .netrc: the lookup ends without a fault, and naming a login
// only narrows what it finds.
#include "sites/Netrc.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<TNetrcLogin> any = FindNetrcLogin(text, "127.0.0.1", {});
    const std::optional<TNetrcLogin> named = FindNetrcLogin(text, "127.0.0.1", "ftptest");
    // Asking for a login can only narrow what is found.
    if (named && !any)
        __builtin_trap();
    return 0;
}
