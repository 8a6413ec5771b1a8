// A listing block and the directory entries in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "protocol/Listing.h"
#include "protocol/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    // A name is kept as the handset sent it; what the list shows of it is always valid UTF-8
    // and never longer than the cut.
    for (const TFileInfo& f : ParseListingBlock(std::span(data, size))) {
        const std::string listed = ListedName(f.Name);
        if (!IsValidBmpUtf8(ShowableName(f.Name)) || !IsValidBmpUtf8(listed)
            || CutToChars(listed, kMaxShownNameChars) != listed)
            std::abort();
    }
    ParseDirEntry(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string text(reinterpret_cast<const char*>(data), size);
    for (int i = 0; i < 12; ++i)
        TakeField(text);
    return 0;
}
