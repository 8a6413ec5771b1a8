// The walk over an index file of the application store. The first byte chooses the text
// length; the text follows, the file's bytes after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "midlet/MidletFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 16384)
        return 0;
    const std::size_t textLen = std::min<std::size_t>(data[0], size - 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), textLen);
    const std::vector<std::uint8_t> file(data + 1 + textLen, data + size);

    std::vector<std::uint8_t> copy = file;
    const int r = AppendStoreEntryBytes(copy, false, text);
    if (r != kStoreAppended && copy != file)
        std::abort();   // nothing changes unless an entry is appended
    if (r == kStoreAppended) {
        if (copy.size() != file.size() + kStoreEntryHeaderSize + textLen)
            std::abort();
        // The entry is now present.
        std::vector<std::uint8_t> again = copy;
        if (AppendStoreEntryBytes(again, false, text) == kStoreAppended)
            std::abort();
    }
    std::vector<std::uint8_t> fresh = file;
    AppendStoreEntryBytes(fresh, true, text);
    StoreEntry(text);
    return 0;
}
