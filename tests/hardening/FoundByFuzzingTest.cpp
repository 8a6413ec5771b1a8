// Inputs the fuzz targets found faults with, each kept as a regression test.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "midlet/MidletFormat.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// An index entry whose text holds bytes of 0x80 and above (any name beyond ASCII in UTF-8) was
// never recognised as present, so installing the same suite again added it a second time.
TEST(FoundByFuzzing, IndexEntryWithHighBytesIsFoundAgain)
{
    // fuzz_store_index: text 0xDC 0xB0 0x8B 0x97 0x9A 0x8E 0x07 ..., empty file.
    const std::string text = "\xdc\xb0\x8b\x97\x9a\x8e\x07\x0f#Demo%0020#Game";
    std::vector<std::uint8_t> file;
    ASSERT_EQ(AppendStoreEntryBytes(file, false, text), kStoreAppended);
    const std::vector<std::uint8_t> once = file;
    EXPECT_EQ(AppendStoreEntryBytes(file, false, text), kStorePresent);
    EXPECT_EQ(file, once);

    const std::string name = "Игра";   // a name in UTF-8
    std::vector<std::uint8_t> names = Bytes(StoreEntry("Old"));
    ASSERT_EQ(AppendStoreEntryBytes(names, false, name), kStoreAppended);
    EXPECT_EQ(AppendStoreEntryBytes(names, false, name), kStorePresent);
}

} // namespace
