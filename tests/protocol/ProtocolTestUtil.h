#pragma once
// Small helpers for feeding byte strings to the protocol functions.
#include <cstdint>
#include <string>
#include <string_view>

inline const std::uint8_t* Bytes(std::string_view s)
{
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

inline std::int32_t Count(std::string_view s) { return static_cast<std::int32_t>(s.size()); }

// A data block of a read: lead-in, the 19-byte data header, the data, "#OK#", the trail.
inline std::string DataBlock(std::string_view data, std::string_view leadIn = "\r\n",
                             std::string_view trail = "\r\n")
{
    std::string length = std::to_string(data.size());
    length.insert(0, 7 - length.size(), ' ');
    std::string block(leadIn);
    block += "+FSFR:" + length + ",   0,";
    block += data;
    block += "#OK#";
    block += trail;
    return block;
}
