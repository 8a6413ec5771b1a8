#include "protocol/CRC.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = MakeTable();

} // namespace

std::uint32_t CalcCRC(std::span<const std::uint8_t> bytes)
{
    std::uint32_t reg = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes)
        reg = (reg >> 8) ^ kTable[(reg ^ b) & 0xFF];
    return reg ^ 0xFFFFFFFFu;
}
