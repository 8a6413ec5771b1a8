// A trace file, as tarvel-handset --replay reads it: whatever it holds, the reader takes only
// records, and every record written again reads back the same.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/WireTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    for (const WireTrace::Record& r : WireTrace::ParseTrace(s)) {
        WireTrace::Record again;
        if (!WireTrace::ParseLine(WireTrace::FormatLine(std::chrono::system_clock::time_point{}, r.from, r.bytes), again)
            || again.bytes != r.bytes || again.from != r.from)
            std::abort();
    }
    std::string bytes;
    if (!WireTrace::Unescape(WireTrace::Escape(s), bytes) || bytes != s)
        std::abort();
    return 0;
}
