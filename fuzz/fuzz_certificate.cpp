// Any bytes as a server's certificate (DER): read as the program shows it to
// a person, or refused, never a crash or an overread.
#include "net/Tls.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TCertificateInfo info;
    if (Tls::DescribeDer(data, size, info) && info.Sha256.size() != 95)
        __builtin_trap();  // a certificate read always has its fingerprint
    return 0;
}
