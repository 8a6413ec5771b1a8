// The settings file: reading, the integer rule, writing back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/Unit_Init.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    IniText ini = ParseIni(s);
    IniReadString(ini, "COMMON", "PORT");
    IniReadString(ini, "", "");
    IniParseInt(s, 7);
    LoadSettingsFrom(ini);
    SaveSettingsTo(ini);
    // What was written is read back as it was written.
    IniWriteString(ini, "COMMON", "HOMEDIR", "/home/user/phone");
    const IniText again = ParseIni(FormatIni(ini));
    const auto home = IniReadString(again, "COMMON", "HOMEDIR");
    if (!home || *home != "/home/user/phone")
        std::abort();
    return 0;
}
