// A JAD descriptor: its keys, the checks of their values, the suite's manifest and prefix.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "midlet/MidletFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    const TJadValues v = ParseJad(s);
    JadValuesError(v);
    const std::string prefix = EncodeSuitePrefix(v.Name);
    StoreTextLengthError(v.Name, prefix);
    if (SuiteManifest(s).size() > size + SplitJadLines(s).size())
        std::abort();
    return 0;
}
