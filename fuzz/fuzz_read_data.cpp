// A data block of a file read: where its data lie, and how long the block is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/ReadBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 2 * 65536)
        return 0;
    const auto n = static_cast<std::int32_t>(size);
    const ReadData d = ExtractReadData(std::span(data, size));
    if (d.Code == 0 && (d.Offset < 0 || d.Length < 0 || static_cast<std::int64_t>(d.Offset) + d.Length > n))
        std::abort();
    const std::int32_t extent = DataBlockExtent(std::span(data, size));
    if (extent < -1)
        std::abort();
    if (extent > 0 && extent <= n) {
        // The block as the receive handler hands it over.
        const ReadData whole = ExtractReadData(std::span(data, static_cast<std::size_t>(extent)));
        if (whole.Code == 0 && static_cast<std::int64_t>(whole.Offset) + whole.Length > extent)
            std::abort();
    }
    return 0;
}
