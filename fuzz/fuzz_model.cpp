// The model name from an AT+CGMM reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    const std::string model = ExtractModel(s);
    if (model.size() > size && model != "Extract Err")
        std::abort();
    NameFromWire(s);
    CutToChars(s, 24);
    TrimCtl(s);
    std::int32_t i = 0;
    std::uint32_t u = 0;
    ParseInt32(s, i);
    ParseUInt32(s, u);
    return 0;
}
