// The header block of a file read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/ReadBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ReadHeader h = ParseReadHeader(std::string_view(reinterpret_cast<const char*>(data), size));
    if (h.Ok && (h.Info.Size < 0 || h.Info.Size > kMaxReadSize))
        std::abort();
    if (!h.Ok && h.Error.empty())
        std::abort();
    return 0;
}
