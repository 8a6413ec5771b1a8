#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset and final XOR 0xFFFFFFFF).
std::uint32_t CalcCRC(std::span<const std::uint8_t> bytes);
inline std::uint32_t CalcCRC(std::string_view bytes)
{
    return CalcCRC(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}
