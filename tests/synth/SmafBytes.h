#pragma once
// Hand assembly of SMAF files for the tests: chunks are spelled out byte by byte here, so the
// reader is checked against bytes we wrote down, not against our own writer.
#include <cstdint>
#include <string>
#include <vector>

#include "SmafReader.h"

namespace smaftest {

using ByteVec = std::vector<std::uint8_t>;

inline void Put32(ByteVec& to, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        to.push_back(std::uint8_t(v >> s));
}

inline ByteVec Chunk(const std::string& id, const ByteVec& body)
{
    ByteVec out(id.begin(), id.end());
    Put32(out, std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline ByteVec Cat(std::initializer_list<ByteVec> parts)
{
    ByteVec out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// MMMD around `chunks`, with the CRC-16 behind them when `withCrc`.
inline ByteVec File(const ByteVec& chunks, bool withCrc = true)
{
    ByteVec out{'M', 'M', 'M', 'D'};
    Put32(out, std::uint32_t(chunks.size() + (withCrc ? 2 : 0)));
    out.insert(out.end(), chunks.begin(), chunks.end());
    if (withCrc) {
        const std::uint16_t crc = smaf::Crc16(out);
        out.push_back(std::uint8_t(crc >> 8));
        out.push_back(std::uint8_t(crc));
    }
    return out;
}

// A score track: format, sequence type 0, both time bases, channel status, then "Mtsq".
inline ByteVec ScoreTrack(std::uint8_t number, std::uint8_t format, std::uint8_t timeBase, const ByteVec& status,
                          const ByteVec& sequence)
{
    ByteVec body{format, 0x00, timeBase, timeBase};
    body.insert(body.end(), status.begin(), status.end());
    const ByteVec seq = Chunk("Mtsq", sequence);
    body.insert(body.end(), seq.begin(), seq.end());
    return Chunk(std::string("MTR") + char(number), body);
}

inline const ByteVec kCnti = Chunk("CNTI", {0x00, 0x00, 0x01, 0x00, 0x00});

} // namespace smaftest
