#pragma once
// A RIFF/WAVE image of 16-bit PCM (little-endian samples, interleaved channels).
#include <cstdint>
#include <vector>

namespace smaf {

std::vector<std::uint8_t> WavBytes(const std::vector<std::int16_t>& pcm, int sampleRate, int channels);

} // namespace smaf
