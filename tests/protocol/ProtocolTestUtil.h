#pragma once
// Small helpers for feeding byte strings to the protocol functions.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline std::span<const std::uint8_t> Bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

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
