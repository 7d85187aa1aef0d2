// INI text of any bytes: parsing never fails, and what is written back reads
// back to the same document.
#include "sites/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TIniDocument doc;
    doc.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string once = doc.Serialize();
    TIniDocument again;
    again.Parse(once);
    if (again.Serialize() != once)
        __builtin_trap();
    for (const std::string& name : doc.SectionNames())
        for (auto& [key, value] : doc.Entries(name))
            if (doc.Get(name, key) != value)
                __builtin_trap();
    return 0;
}
