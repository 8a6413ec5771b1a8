// A listing block and the directory entries in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/Listing.h"
#include "protocol/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    for (const TFileInfo& f : ParseListingBlock(data, static_cast<std::int32_t>(size))) {
        if (!f.Name.empty() && !IsValidBmpUtf8(f.Name))
            std::abort();
    }
    ParseDirEntry(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string text(reinterpret_cast<const char*>(data), size);
    for (int i = 0; i < 12; ++i)
        TakeField(text);
    return 0;
}
