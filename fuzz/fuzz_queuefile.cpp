// Queue files of any bytes, in both forms: reading never fails, and what the
// entries read write back reads back to the same entries.
#include "transfer/QueueFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    {
        std::vector<TQueueFileSkip> skipped, written, again;
        const std::vector<TQueueEntry> entries = ParsePlainQueue(text, skipped);
        const std::string once = FormatPlainQueue(entries, written);
        const std::vector<TQueueEntry> reread = ParsePlainQueue(once, again);
        if (!again.empty() || reread.size() + written.size() != entries.size() ||
            FormatPlainQueue(reread, again) != once)
            __builtin_trap();
    }
    {
        // The password is scrambled with a fresh salt each time: the rest is
        // compared field by field.
        std::vector<TQueueFileSkip> skipped, written, again;
        const TSiteQueue q = ParseSiteQueue(text, skipped);
        const TSiteQueue reread = ParseSiteQueue(FormatSiteQueue(q, written), again);
        auto oneLine = [](std::string v) {
            std::erase_if(v, [](char c) { return c == '\r' || c == '\n'; });
            return v;
        };
        const bool portWritten = q.Port && !q.Port->empty() && *q.Port != "21";
        if (!again.empty() || reread.Host != oneLine(q.Host) ||
            reread.Port != (portWritten ? std::optional(oneLine(*q.Port)) : std::nullopt) ||
            reread.User != (q.User ? std::optional(oneLine(*q.User)) : std::nullopt) ||
            reread.Password.has_value() != q.User.has_value() || reread.Dial != oneLine(q.Dial) ||
            reread.HangUp != q.HangUp || reread.Quit != q.Quit ||
            reread.Entries.size() + written.size() != q.Entries.size())
            __builtin_trap();
        for (const TQueueEntry& e : reread.Entries)
            if (std::find(q.Entries.begin(), q.Entries.end(), e) == q.Entries.end())
                __builtin_trap();
    }
    return 0;
}
