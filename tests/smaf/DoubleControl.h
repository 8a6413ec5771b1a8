#pragma once
// The tests' handle on the test double loaded as the synthesizer library.
#include <cstdint>
#include <string>
#include <vector>

#include "SynthDouble.h"
#include "platform/DynLib.h"
#include "smaf/MA3_Drv.h"

// The file of a double variant: "" for the full one, else e.g. "no_open".
inline std::string DoublePath(const std::string& variant)
{
    return std::string(SYNTH_DOUBLE_DIR) + "/libma3double" + (variant.empty() ? "" : "_" + variant) + ".so";
}

// Reaches the record of the library loaded by MA3_Drv.
struct DoubleControl {
    template <typename F>
    static F Get(const char* name)
    {
        return reinterpret_cast<F>(DynLib::Symbol(SynthLibrary, name));
    }
    static void Reset() { Get<PFN_Double_Reset>("Double_Reset")(); }
    static void SetLoadResult(std::int32_t id) { Get<PFN_Double_SetLoadResult>("Double_SetLoadResult")(id); }
    static std::string Calls() { return Get<PFN_Double_Calls>("Double_Calls")(); }
    static std::int32_t Fire(std::uint8_t event) { return Get<PFN_Double_FireEvent>("Double_FireEvent")(event); }
    // The bytes MaSound_Load was given (empty before any load).
    static std::vector<std::uint8_t> LoadedData()
    {
        const std::int32_t size = Get<PFN_Double_LoadedData>("Double_LoadedData")(nullptr, 0);
        if (size <= 0)
            return {};
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
        Get<PFN_Double_LoadedData>("Double_LoadedData")(data.data(), size);
        return data;
    }
};
