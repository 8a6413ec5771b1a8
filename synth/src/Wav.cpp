#include "Wav.h"

namespace smaf {

namespace {

// Writes `bytes` little-endian bytes of v at `at`.
void Le(std::vector<std::uint8_t>& to, std::size_t at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        to[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

void Tag(std::vector<std::uint8_t>& to, std::size_t at, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        to[at + std::size_t(i)] = std::uint8_t(tag[i]);
}

} // namespace

// Layout: "RIFF" size "WAVE" "fmt " 16 {format 1, channels, rate, bytes/s, block, 16 bits}
//         "data" size samples...
std::vector<std::uint8_t> WavBytes(const std::vector<std::int16_t>& pcm, int sampleRate, int channels)
{
    const std::uint32_t dataBytes = std::uint32_t(pcm.size() * 2);
    std::vector<std::uint8_t> out(44 + std::size_t(dataBytes));
    Tag(out, 0, "RIFF");
    Le(out, 4, 36 + dataBytes, 4);
    Tag(out, 8, "WAVE");
    Tag(out, 12, "fmt ");
    Le(out, 16, 16, 4);
    Le(out, 20, 1, 2);
    Le(out, 22, std::uint32_t(channels), 2);
    Le(out, 24, std::uint32_t(sampleRate), 4);
    Le(out, 28, std::uint32_t(sampleRate * channels * 2), 4);
    Le(out, 32, std::uint32_t(channels * 2), 2);
    Le(out, 34, 16, 2);
    Tag(out, 36, "data");
    Le(out, 40, dataBytes, 4);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        Le(out, 44 + 2 * i, std::uint16_t(pcm[i]), 2);
    return out;
}

} // namespace smaf
